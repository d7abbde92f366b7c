#include "base/time_util.h"
#include "platform/linux/pulse_sound_player.h"
#include "support/pulse_server.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace vak {
namespace {

TEST(PulseSounds, EveryNamedSoundPlaysOutWithoutTheCallerWaiting) {
    test::PulseServer server;
    if (!server.running()) GTEST_SKIP() << server.why();
    PulseSoundPlayer player;
    const auto start = SteadyClock::now();
    for (const std::string_view name : SOUND_NAMES)
        player.play(name);
    player.play("NoSuchSound");
    EXPECT_LT(secondsSince(start), 0.1);
    // The six together last about two seconds if played one after another; they overlap.
    EXPECT_TRUE(player.waitIdle(10));
}

TEST(PulseSounds, NoSoundServerMeansSilenceNotAHang) {
    setenv("PULSE_SERVER", "unix:/nonexistent/vak-no-server", 1);
    PulseSoundPlayer player;
    const auto start = SteadyClock::now();
    player.play("Glass");
    player.play("Basso");
    EXPECT_LT(secondsSince(start), 0.1);
    EXPECT_TRUE(player.waitIdle(10));
}

} // namespace
} // namespace vak

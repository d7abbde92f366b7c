#include "app/daemon_startup.h"
#include "foundation/config.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

// What the start-up line says of a feature follows its setting and whether its tool was found.
TEST(Banner, EachFeatureFollowsItsSettingAndItsTool) {
    const std::pair<void (*)(Config&, BannerFacts&), const char*> cases[] = {
        {[](Config&, BannerFacts&) {}, " · live captions=on · VAD=on@0.3 · preprocess=on · "},
        {[](Config&, BannerFacts& f) { f.engines = {}; },
         " · live captions=off · VAD=off · preprocess=off · "},
        {[](Config& c, BannerFacts&) { c.chunkSeconds = 19; }, " · chunk=off · "},
        {[](Config&, BannerFacts& f) { f.micPlan.push_back("Built-in Mic"); },
         " · mic=builtin [USB Mic → Built-in Mic] · "},
    };
    for (const auto& [change, piece] : cases) {
        Config config = Config::defaults("/home/ann");
        BannerFacts facts;
        facts.engines.vadModelFound = true;
        facts.engines.ffmpegFound = true;
        facts.engines.captionModelFound = true;
        facts.micPlan = {"USB Mic"};
        change(config, facts);
        EXPECT_NE(bannerLine(config, facts).find(piece), std::string::npos) << piece;
    }
}

} // namespace
} // namespace vak

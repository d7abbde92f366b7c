#include "app/daemon_startup.h"
#include "base/files.h"
#include "foundation/config.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <set>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

namespace vak {
namespace {

using test::TempDir;
using test::writeFixture;

TEST(Banner, ReportsEveryFeatureInItsFixedOrder) {
    Config config = Config::defaults("/home/ann");
    BannerFacts facts;
    facts.engines.vadModelFound = true;
    facts.engines.ffmpegFound = true;
    facts.engines.captionModelFound = true;
    facts.learnedCount = 12;
    facts.snippetCount = 3;
    facts.micPlan = {"Built-in Audio Analog Stereo"};
    EXPECT_EQ(bannerLine(config, facts),
              "Brindle v8.28 (rolling chunks · speculative tail · local writing modes · "
              "encrypted history · no-click = summarize) up. · "
              "cloud=brindle@speech.vak-dictate.app(race) · Right Super "
              "toggles · Alt+Right Super edits selection · tray 🎙/🔴 shows state · spec=on "
              "· "
              "polish=default-summarize@claude-sonnet-5[terminal,iterm,claude,code,cursor,warp] · "
              "pro-apps=[mobilesms,messages,mail,outlook,whatsapp,telegram,slack,discord] · "
              "lang=en · learned=12 · snippets=3 · server=on@8977 · chunk=30s · live "
              "captions=on · VAD=on@0.3 · preprocess=on · call-mode=off · whisper-mode=off · "
              "mic=builtin [Built-in Audio Analog Stereo] · max 2700s");

    config.cloud = false;
    config.polish = false;
    config.chunkSeconds = 19;
    config.callMode = true;
    config.speculative = false;
    config.useServer = false;
    facts.engines = {};
    facts.micPlan = {"USB Mic", "Built-in Mic"};
    const std::string off = bannerLine(config, facts);
    for (const char* piece :
         {" · cloud=off(local) ·", "spec=off", " · polish=off ·", " · server=off ·",
          " · chunk=off ·", " · live captions=off ·", " · VAD=off ·", " · preprocess=off ·",
          " · call-mode=ON · whisper-mode=off", "[USB Mic → Built-in Mic]"}) {
        EXPECT_NE(off.find(piece), std::string::npos) << piece;
    }
    facts.micPlan.clear();
    EXPECT_NE(bannerLine(config, facts).find("mic=builtin [system default]"), std::string::npos);
    config.cloud = true;
    config.transcribeKey = "gsk_never_shown";
    config.transcribeUrl = "https://api.groq.com/openai/v1/audio/transcriptions";
    EXPECT_NE(bannerLine(config, facts).find(" · cloud=openai:whisper-1@api.groq.com(race) · "),
              std::string::npos);
    facts.engines.vadModelFound = true;
    EXPECT_NE(bannerLine(config, facts).find(" · VAD=on@0.2 ·"), std::string::npos);
}

} // namespace
} // namespace vak

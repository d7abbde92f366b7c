#include "base/regex.h"
#include "session/delivery_routing.h"
#include "session/mode_memory.h"
#include "support/log_capture.h"
#include "support/manual_main_queue.h"
#include "support/temp_dir.h"
#include "text/local_modes.h"

#include <map>

#include <gtest/gtest.h>

namespace vak {
namespace {

// Runs background work at once, so a route finishes before routeTranscript returns.
class InlineExecutor final : public Executor {
  public:
    void async(Task task) override { task(); }
    TimerHandle after(double, Task task) override {
        task();
        return {};
    }
};

using Delivery = std::pair<std::string, std::string>;

const std::string kTwentyWords = "so um i think we should move the launch to friday because the "
                                 "payment provider still has not signed off on it";

class Routing : public testing::Test {
  protected:
    RouteServices services() {
        RouteServices s;
        s.finish = [this](std::string text, std::string label) {
            finished.emplace_back(std::move(text), std::move(label));
        };
        s.presentChoice = [this](const std::string& transcript, auto, auto, auto keep) {
            choices.push_back(transcript);
            keep();
        };
        s.learnedMode = [this](std::string_view app) -> std::optional<DeliverMode> {
            auto it = learned.find(std::string(app));
            if (it == learned.end()) return std::nullopt;
            return it->second;
        };
        s.commandEdit = [this](std::string_view selection,
                               std::string_view instruction) -> std::optional<std::string> {
            edits.emplace_back(selection, instruction);
            return editResult;
        };
        s.logTranscript = [this](std::string_view text, std::string_view tag) {
            recorded.emplace_back(text, tag);
        };
        s.background = &background;
        s.main = &main;
        return s;
    }

    Delivery delivered(RouteRequest request) {
        finished.clear();
        routeTranscript(std::move(request), settings, services());
        main.advance(0);
        EXPECT_EQ(finished.size(), 1u);
        return finished.empty() ? Delivery{} : finished.back();
    }
    bool logged(const std::string& line) { return log.text().find(line) != std::string::npos; }

    RouteSettings settings = RouteSettings::fromConfig(Config{});
    InlineExecutor background;
    test::ManualMainQueue main;
    test::LogCapture log;
    std::vector<Delivery> finished;
    std::vector<Delivery> recorded; // text, tag
    std::vector<Delivery> edits;    // selection, instruction
    std::vector<std::string> choices;
    std::map<std::string, DeliverMode> learned = {{"com.apple.mail", DeliverMode::professional}};
    std::optional<std::string> editResult;
};

TEST_F(Routing, TheModeFollowsThePickTheAppTheLengthAndTheDefault) {
    using enum DeliverMode;
    struct Case {
        const char* traits; // of the request, or "no polish"
        DeliverMode picked, fallback;
        std::optional<DeliverMode> rewrite; // none: pasted as spoken
    };
    const Case cases[] = {
        {"", professional, ask, professional},
        {"", summarize, ask, summarize},
        {"", agent, ask, agent},
        {"", expand, ask, expand},
        {"", raw, summarize, std::nullopt},
        {"short messaging", ask, summarize, std::nullopt},
        {"short code", ask, summarize, std::nullopt},
        {"messaging", ask, ask, professional},
        {"", ask, summarize, summarize},
        {"", ask, agent, agent},
        {"", ask, expand, expand},
        {"", ask, raw, std::nullopt},
        {"no polish", ask, summarize, std::nullopt},
        {"", ask, ask, std::nullopt},     // not a code tool: as spoken
        {"code", ask, ask, std::nullopt}, // the panel, and Keep
        {"code instant", ask, ask, summarize},
        {"mail", summarize, ask, professional}, // the usual mode here
        {"mail picked", summarize, ask, summarize},
    };
    for (const Case& c : cases) {
        const std::string traits = c.traits;
        SCOPED_TRACE(traits + " " + std::string(configValue(c.picked)) + " " +
                     std::string(configValue(c.fallback)));
        const auto has = [&](const char* trait) { return traits.find(trait) != std::string::npos; };
        RouteRequest request;
        request.text = has("short") ? "see you at five then" : kTwentyWords;
        request.bundle = has("mail") ? "com.apple.mail" : "gedit";
        request.isProApp = has("messaging");
        request.isPolishApp = has("code");
        request.wasInstant = has("instant");
        request.modePicked = has("picked");
        request.selectedMode = c.picked;
        settings.defaultMode = c.fallback;
        settings.polish = !has("no polish");
        const auto [text, label] = delivered(request);
        if (!c.rewrite) {
            EXPECT_EQ(label, "");
            EXPECT_EQ(text, request.text);
            continue;
        }
        EXPECT_EQ(text, localModeTransform(kTwentyWords, *c.rewrite));
        EXPECT_TRUE(
            regexFullMatch(label, " ⌁\\d+\\.\\d\\ds " + std::string(configValue(*c.rewrite))))
            << label;
        EXPECT_EQ(recorded.back(), (Delivery{kTwentyWords, " raw"}));
    }
    EXPECT_EQ(choices, std::vector<std::string>{kTwentyWords});
    EXPECT_TRUE(logged("? transcript ready (session 0) — Summarize / Professional / Keep?"));
    EXPECT_TRUE(logged("· learned mode for com.apple.mail: Professional (your usual pick here)"));

    recorded.clear();
    RouteRequest verbatim;
    verbatim.text = "Verbatim, ship it as is";
    verbatim.selectedMode = professional;
    EXPECT_EQ(delivered(verbatim), (Delivery{"ship it as is", ""}));
    EXPECT_TRUE(recorded.empty());
}

TEST_F(Routing, CommandSessionsEditTheSelection) {
    RouteRequest request;
    request.text = "make it all caps";
    request.commandSelection = "hello world";
    editResult = "HELLO WORLD";
    const auto [text, label] = delivered(request);
    EXPECT_EQ(edits, (std::vector<Delivery>{{"hello world", "make it all caps"}}));
    EXPECT_EQ(text, "HELLO WORLD");
    EXPECT_TRUE(regexFullMatch(label, " 🎯\\d+\\.\\ds edit")) << label;
    EXPECT_EQ(recorded[0], (Delivery{"make it all caps", " cmd"}));

    editResult.reset();
    EXPECT_EQ(delivered(request).first, "");
    EXPECT_TRUE(logged("⚠️ command edit failed — nothing pasted, selection left untouched"));
    request.text = "";
    EXPECT_EQ(delivered(request).first, "");
    EXPECT_TRUE(logged("✕ command mode: empty instruction — selection left untouched"));
    EXPECT_EQ(edits.size(), 2u);
}

// The file behind learnedMode: three picks of which 60 % agree, and no app name that would add or
// forge a line.
TEST(ModeMemory, ThreePicksOfWhichSixtyPercentAgreeAndNoNameBreaksTheFile) {
    using enum DeliverMode;
    test::TempDir dir;
    const std::string path = dir.file("mode-usage");
    struct Case {
        const char* app;
        std::vector<DeliverMode> picks;
        std::optional<DeliverMode> learned;
    };
    const Case cases[] = {
        {"two", {professional, professional}, std::nullopt},
        {"two of three", {professional, summarize, professional}, professional},
        {"three of five", {raw, agent, raw, summarize, raw}, raw},
        {"two of five", {raw, agent, raw, summarize, agent}, std::nullopt},
    };
    for (const Case& c : cases) {
        for (const DeliverMode mode : c.picks)
            recordModePick(path, c.app, mode);
        EXPECT_EQ(learnedModeFor(path, c.app), c.learned) << c.app;
    }
    const std::string before = test::readFixture(path);
    for (const char* forged : {"two\tagent", "x\ntwo", "two\r"})
        recordModePick(path, forged, agent);
    EXPECT_EQ(test::readFixture(path), before);
}

} // namespace
} // namespace vak

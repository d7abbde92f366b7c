#include "base/regex.h"
#include "session/delivery_routing.h"
#include "support/log_capture.h"
#include "support/manual_main_queue.h"
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
        s.presentChoice = [this](const std::string& transcript, std::function<void()> summarize,
                                 std::function<void()> professional, std::function<void()> keep) {
            choices.push_back(transcript);
            onSummarize = std::move(summarize);
            onProfessional = std::move(professional);
            onKeep = std::move(keep);
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

    void route(RouteRequest request) {
        routeTranscript(std::move(request), settings, services());
        main.advance(0);
    }
    // Routes `request` and returns the one delivery it made: text and label.
    Delivery delivered(RouteRequest request) {
        finished.clear();
        route(std::move(request));
        EXPECT_EQ(finished.size(), 1u);
        return finished.empty() ? Delivery{} : finished.back();
    }
    std::string label(RouteRequest request) { return delivered(std::move(request)).second; }
    bool logged(const std::string& line) { return log.text().find(line) != std::string::npos; }

    static RouteRequest askIn(std::string bundle, std::string text = kTwentyWords) {
        RouteRequest r;
        r.session = 4;
        r.text = std::move(text);
        r.bundle = std::move(bundle);
        return r;
    }

    RouteSettings settings = RouteSettings::fromConfig(Config{});
    InlineExecutor background;
    test::ManualMainQueue main;
    test::LogCapture log;
    std::vector<Delivery> finished;
    std::vector<Delivery> recorded; // text, tag
    std::vector<Delivery> edits;    // selection, instruction
    std::vector<std::string> choices;
    std::function<void()> onSummarize, onProfessional, onKeep;
    std::map<std::string, DeliverMode> learned;
    std::optional<std::string> editResult;
};

TEST_F(Routing, ChosenModesRewriteLocallyAndLabelTheResultUnlessVerbatim) {
    for (auto mode : {DeliverMode::professional, DeliverMode::summarize, DeliverMode::agent,
                      DeliverMode::expand}) {
        auto request = askIn("org.gnome.terminal");
        request.selectedMode = mode;
        const auto [text, label] = delivered(request);
        EXPECT_EQ(text, localModeTransform(kTwentyWords, mode));
        EXPECT_TRUE(regexFullMatch(label, " ⌁\\d+\\.\\d\\ds " + std::string(configValue(mode))))
            << label;
    }
    EXPECT_EQ(recorded.back(), (Delivery{kTwentyWords, " raw"}));
    auto raw = askIn("org.gnome.terminal");
    raw.selectedMode = DeliverMode::raw;
    EXPECT_EQ(delivered(raw), (Delivery{kTwentyWords, ""}));

    recorded.clear();
    auto verbatim = askIn("com.apple.mail", "Verbatim, ship it as is");
    verbatim.selectedMode = DeliverMode::professional;
    EXPECT_EQ(delivered(verbatim), (Delivery{"ship it as is", ""}));
    EXPECT_TRUE(recorded.empty());
}

TEST_F(Routing, AskModeFollowsLengthAppListsAndDefaultMode) {
    // Short transcripts are pasted as spoken everywhere.
    for (const std::string app : {"com.whatsapp", "org.gnome.terminal", "gedit"}) {
        auto request = askIn(app, "see you at five then");
        request.isProApp = app == "com.whatsapp";
        request.isPolishApp = app == "org.gnome.terminal";
        EXPECT_EQ(label(request), "") << app;
    }
    // A messaging application gets the professional mode by itself.
    auto pro = askIn("com.whatsapp");
    pro.isProApp = true;
    EXPECT_TRUE(label(pro).ends_with("s professional"));
    EXPECT_TRUE(logged("· auto-professional (com.whatsapp)"));

    struct Case {
        DeliverMode defaultMode;
        std::string logLine, labelEnd;
    };
    for (const Case& c :
         {Case{DeliverMode::summarize, "· default mode: summarize", "s summarize"},
          Case{DeliverMode::professional, "· default mode: professional", "s professional"},
          Case{DeliverMode::agent, "· default mode: agent brief", "s agent"},
          Case{DeliverMode::expand, "· default mode: extend", "s expand"},
          Case{DeliverMode::raw, "", ""}}) {
        settings.defaultMode = c.defaultMode;
        const std::string got = label(askIn("gedit"));
        if (c.labelEnd.empty()) {
            EXPECT_EQ(got, "");
        } else {
            EXPECT_TRUE(got.ends_with(c.labelEnd)) << c.logLine;
            EXPECT_TRUE(logged(c.logLine)) << c.logLine;
        }
    }
    // With POLISH off nothing is rewritten in the ask mode.
    settings.polish = false;
    settings.defaultMode = DeliverMode::summarize;
    EXPECT_EQ(label(askIn("gedit")), "");
}

TEST_F(Routing, AskDefaultOpensThePanelInCodeToolsOnlyAndNotAfterDone) {
    settings.defaultMode = DeliverMode::ask;
    auto terminal = askIn("org.gnome.terminal");
    terminal.isPolishApp = true;
    route(terminal);
    EXPECT_TRUE(finished.empty());
    ASSERT_EQ(choices, std::vector<std::string>{kTwentyWords});
    EXPECT_TRUE(logged("? transcript ready (session 4) — Summarize / Professional / Keep?"));
    onProfessional();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_TRUE(finished[0].second.ends_with("s professional"));

    terminal.wasInstant = true;
    EXPECT_TRUE(label(terminal).ends_with("s summarize"));
    EXPECT_EQ(label(askIn("gedit")), ""); // not a code tool: as spoken
    EXPECT_EQ(choices.size(), 1u);
}

TEST_F(Routing, TheUsualModeHereAppliesOnlyWhenNothingWasPicked) {
    learned["com.apple.mail"] = DeliverMode::professional;
    auto request = askIn("com.apple.mail");
    request.selectedMode = DeliverMode::summarize;
    EXPECT_TRUE(label(request).ends_with("s professional"));
    EXPECT_TRUE(logged("· learned mode for com.apple.mail: Professional (your usual pick here)"));
    request.modePicked = true;
    EXPECT_TRUE(label(request).ends_with("s summarize"));
}

TEST_F(Routing, CommandSessionsEditTheSelection) {
    auto request = askIn("gedit", "make it all caps");
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

TEST(BundleLists, FragmentsAreTrimmedLowerCasedAndNeverEmpty) {
    EXPECT_TRUE(bundleMatchesList("org.gnome.terminal", "iterm, Terminal ,code"));
    EXPECT_FALSE(bundleMatchesList("org.gnome.gedit", "iterm,,code, "));
    EXPECT_FALSE(bundleMatchesList("", "terminal"));
}

} // namespace
} // namespace vak

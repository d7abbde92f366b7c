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
        s.learnedMode = [this](std::string_view app) -> std::optional<std::string> {
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

    static RouteRequest askIn(std::string bundle, std::string text = kTwentyWords) {
        RouteRequest r;
        r.session = 4;
        r.text = std::move(text);
        r.bundle = std::move(bundle);
        return r;
    }

    RouteSettings settings;
    InlineExecutor background;
    test::ManualMainQueue main;
    test::LogCapture log;
    std::vector<std::pair<std::string, std::string>> finished;
    std::vector<std::pair<std::string, std::string>> recorded;
    std::vector<std::pair<std::string, std::string>> edits;
    std::vector<std::string> choices;
    std::function<void()> onSummarize, onProfessional, onKeep;
    std::map<std::string, std::string> learned;
    std::optional<std::string> editResult;
};

TEST_F(Routing, VerbatimSkipsEveryRewriteAndIsRemoved) {
    auto request = askIn("com.apple.mail", "Verbatim, ship it as is");
    request.selectedMode = DeliverMode::professional;
    route(request);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0], (std::pair<std::string, std::string>{"ship it as is", ""}));
    EXPECT_TRUE(recorded.empty());
}

TEST_F(Routing, ChosenModesRewriteLocallyAndLabelTheResult) {
    for (auto mode : {DeliverMode::professional, DeliverMode::summarize, DeliverMode::agent,
                      DeliverMode::expand}) {
        finished.clear();
        auto request = askIn("org.gnome.terminal");
        request.selectedMode = mode;
        route(request);
        ASSERT_EQ(finished.size(), 1u) << configValue(mode);
        EXPECT_EQ(finished[0].first, localModeTransform(kTwentyWords, configValue(mode)));
        EXPECT_TRUE(regexFullMatch(finished[0].second,
                                   " ⌁\\d+\\.\\d\\ds " + std::string(configValue(mode))));
    }
    EXPECT_EQ(recorded.back(), (std::pair<std::string, std::string>{kTwentyWords, " raw"}));

    finished.clear();
    auto raw = askIn("org.gnome.terminal");
    raw.selectedMode = DeliverMode::raw;
    route(raw);
    EXPECT_EQ(finished[0], (std::pair<std::string, std::string>{kTwentyWords, ""}));
}

TEST_F(Routing, AskModeFollowsLengthAppListsAndDefaultMode) {
    // Short transcripts are pasted as spoken everywhere.
    for (const auto& app : {"com.whatsapp", "org.gnome.terminal", "gedit"}) {
        finished.clear();
        auto request = askIn(app, "see you at five then");
        request.isProApp = std::string(app) == "com.whatsapp";
        request.isPolishApp = std::string(app) == "org.gnome.terminal";
        route(request);
        ASSERT_EQ(finished.size(), 1u);
        EXPECT_EQ(finished[0].second, "") << app;
    }

    // A messaging application gets the professional mode by itself.
    finished.clear();
    auto pro = askIn("com.whatsapp");
    pro.isProApp = true;
    route(pro);
    EXPECT_NE(log.text().find("· auto-professional (com.whatsapp)"), std::string::npos);
    EXPECT_TRUE(finished[0].second.ends_with("s professional"));

    struct Case {
        std::string defaultMode;
        std::string logLine;
        std::string labelEnd;
    };
    for (const Case& c :
         {Case{"summarize", "· default mode: summarize", "s summarize"},
          Case{"professional", "· default mode: professional", "s professional"},
          Case{"agent", "· default mode: agent brief", "s agent"},
          Case{"expand", "· default mode: extend", "s expand"}, Case{"normal", "", ""}}) {
        finished.clear();
        settings.defaultMode = c.defaultMode;
        route(askIn("gedit"));
        ASSERT_EQ(finished.size(), 1u);
        if (c.labelEnd.empty()) {
            EXPECT_EQ(finished[0].second, "");
        } else {
            EXPECT_TRUE(finished[0].second.ends_with(c.labelEnd)) << c.defaultMode;
            EXPECT_NE(log.text().find(c.logLine), std::string::npos) << c.defaultMode;
        }
    }

    // With POLISH off nothing is rewritten in the ask mode.
    finished.clear();
    settings.polish = false;
    settings.defaultMode = "summarize";
    route(askIn("gedit"));
    EXPECT_EQ(finished[0].second, "");
}

TEST_F(Routing, AskDefaultOpensThePanelInCodeToolsOnlyAndNotAfterDone) {
    settings.defaultMode = "ask";
    auto terminal = askIn("org.gnome.terminal");
    terminal.isPolishApp = true;
    route(terminal);
    EXPECT_TRUE(finished.empty());
    ASSERT_EQ(choices, std::vector<std::string>{kTwentyWords});
    EXPECT_NE(log.text().find("? transcript ready (session 4) — Summarize / Professional / Keep?"),
              std::string::npos);
    onProfessional();
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_TRUE(finished[0].second.ends_with("s professional"));

    finished.clear();
    auto instant = terminal;
    instant.wasInstant = true;
    route(instant);
    EXPECT_EQ(choices.size(), 1u);
    EXPECT_TRUE(finished[0].second.ends_with("s summarize"));

    finished.clear();
    route(askIn("gedit")); // not a code tool: as spoken
    EXPECT_EQ(finished[0].second, "");
    EXPECT_EQ(choices.size(), 1u);
}

TEST_F(Routing, TheUsualModeHereAppliesOnlyWhenNothingWasPicked) {
    learned["com.apple.mail"] = "professional";
    auto request = askIn("com.apple.mail");
    request.selectedMode = DeliverMode::summarize;
    route(request);
    EXPECT_TRUE(finished[0].second.ends_with("s professional"));
    EXPECT_NE(log.text().find("· learned mode for com.apple.mail: Professional (your usual pick "
                              "here)"),
              std::string::npos);

    finished.clear();
    request.modePicked = true;
    route(request);
    EXPECT_TRUE(finished[0].second.ends_with("s summarize"));

    finished.clear();
    learned["com.apple.mail"] = "fancy"; // a hand-edited file: not a mode
    request.modePicked = false;
    route(request);
    EXPECT_TRUE(finished[0].second.ends_with("s summarize"));
}

TEST_F(Routing, CommandSessionsEditTheSelection) {
    auto request = askIn("gedit", "make it all caps");
    request.commandSelection = "hello world";
    editResult = "HELLO WORLD";
    route(request);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits[0], (std::pair<std::string, std::string>{"hello world", "make it all caps"}));
    EXPECT_EQ(finished[0].first, "HELLO WORLD");
    EXPECT_TRUE(regexFullMatch(finished[0].second, " 🎯\\d+\\.\\ds edit"));
    EXPECT_EQ(recorded[0], (std::pair<std::string, std::string>{"make it all caps", " cmd"}));

    finished.clear();
    editResult.reset();
    route(request);
    EXPECT_EQ(finished[0].first, "");
    EXPECT_NE(
        log.text().find("⚠️ command edit failed — nothing pasted, selection left untouched"),
        std::string::npos);

    finished.clear();
    request.text = "";
    route(request);
    EXPECT_EQ(finished[0].first, "");
    EXPECT_NE(log.text().find("✕ command mode: empty instruction — selection left untouched"),
              std::string::npos);
    EXPECT_EQ(edits.size(), 2u);
}

TEST(BundleLists, FragmentsAreTrimmedLowerCasedAndNeverEmpty) {
    EXPECT_TRUE(bundleMatchesList("org.gnome.terminal", "iterm, Terminal ,code"));
    EXPECT_FALSE(bundleMatchesList("org.gnome.gedit", "iterm,,code, "));
    EXPECT_FALSE(bundleMatchesList("", "terminal"));
}

} // namespace
} // namespace vak

#include "foundation/trigger_keys.h"
#include "platform/fake/fake_key_monitor.h"
#include "session/key_recognizer.h"
#include "support/log_capture.h"
#include "support/manual_main_queue.h"
#include "support/recording_key_actions.h"

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;

using RecordingActions = test::RecordingKeyActions;

// Events as the monitor reports them: the flags are those after the change.
InputEvent flags(std::uint16_t code, std::uint64_t after) {
    return {InputEventKind::FlagsChanged, code, after};
}
InputEvent key(std::uint16_t code) {
    return {InputEventKind::KeyDown, code, 0};
}

constexpr std::uint64_t kRightCmd = 0x10 | COMMAND_MASK;
constexpr std::uint64_t kLeftCmd = 0x08 | COMMAND_MASK;
constexpr std::uint64_t kLeftOption = 0x20 | OPTION_MASK;

struct Recogniser : ::testing::Test {
    void SetUp() override {
        recogniser = std::make_unique<KeyRecognizer>(
            actions, TriggerSettings{54, 55}, [this] { return now; }, nullptr, monitor);
    }
    void feed(std::initializer_list<InputEvent> events) {
        for (const InputEvent& event : events)
            recogniser->handle(event);
    }
    void tapTrigger() { feed({flags(54, kRightCmd), flags(54, 0)}); }
    void tapProducer() { feed({flags(55, kLeftCmd), flags(55, 0)}); }

    std::shared_ptr<FakeKeyMonitor> monitor = std::make_shared<FakeKeyMonitor>();
    RecordingActions actions;
    std::unique_ptr<KeyRecognizer> recogniser;
    double now = 1'000'000;
};

TEST(TriggerKeys, LookUpByCodeFallsBackToTheFirstKey) {
    EXPECT_EQ(triggerKey(61).name, "Right Option");
    EXPECT_EQ(triggerKey(0), TRIGGER_KEYS.front());
    // Every row's bit is its own: a flag set by one key can never look like another.
    for (const TriggerKey& a : TRIGGER_KEYS) {
        EXPECT_EQ(std::count_if(TRIGGER_KEYS.begin(), TRIGGER_KEYS.end(),
                                [&](const TriggerKey& b) { return (a.bit & b.bit) != 0; }),
                  1)
            << a.name;
    }
}

TEST_F(Recogniser, SoloTapsToggleRecordingAndActivityDuringThePressVetoesThem) {
    const std::vector<std::pair<const char*, InputEvent>> vetoes = {
        {"letter", key(UNKNOWN_KEY_CODE)},
        {"mouse press", {InputEventKind::MouseDown, UNKNOWN_KEY_CODE, kRightCmd}},
        {"scroll", {InputEventKind::Scroll, UNKNOWN_KEY_CODE, kRightCmd}},
        {"Escape while idle", key(ESCAPE_KEY_CODE)},
        {"another modifier", flags(60, kRightCmd | 0x04 | SHIFT_MASK)},
    };
    for (const auto& [what, event] : vetoes) {
        actions.calls.clear();
        feed({flags(54, kRightCmd), event, flags(54, 0)});
        EXPECT_TRUE(actions.calls.empty()) << what;
        EXPECT_FALSE(recogniser->triggerDown()) << what;
    }
    // Activity before or after the press does not count against it.
    feed({key(UNKNOWN_KEY_CODE), flags(54, kRightCmd), flags(54, 0), key(UNKNOWN_KEY_CODE)});
    tapTrigger();
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"start", "stop"}));
}

// Beyond what every key shares (below): the other Command key, and Option with a recording or with
// Shift.
TEST_F(Recogniser, ModifiersHeldAtThePressDecideWhatItIs) {
    struct Case {
        const char* what;
        std::uint16_t hotkey;
        std::uint64_t downFlags;
        bool recording;
        const char* expected; // "" for nothing
    };
    const std::vector<Case> cases = {
        {"Left Command held", 54, kRightCmd | kLeftCmd, false, ""},
        {"Left Command trigger with Right Command held", 55, kLeftCmd | kRightCmd, false, "start"},
        {"Option held while recording", 54, kRightCmd | kLeftOption, true, ""},
        {"Option and Shift held", 54, kRightCmd | kLeftOption | SHIFT_MASK, false, ""},
    };
    for (const Case& c : cases) {
        RecordingActions local;
        local.recording = c.recording;
        KeyRecognizer r(local, TriggerSettings{c.hotkey, 0});
        const std::uint64_t own = triggerKey(c.hotkey).bit;
        r.handle(flags(c.hotkey, c.downFlags));
        r.handle(flags(c.hotkey, c.downFlags & ~own));
        const std::vector<std::string> expected =
            *c.expected ? std::vector<std::string>{c.expected} : std::vector<std::string>{};
        EXPECT_EQ(local.calls, expected) << c.what;
    }
}

// The held flags of `key` pressed alone.
std::uint64_t alone(const TriggerKey& key) {
    return key.bit | key.mask;
}
// A key of the modifier family `mask` that is not `trigger`.
const TriggerKey& otherOf(std::uint64_t mask, const TriggerKey& trigger) {
    return *std::find_if(TRIGGER_KEYS.begin(), TRIGGER_KEYS.end(), [&](const TriggerKey& k) {
        return k.mask == mask && k.code != trigger.code;
    });
}

TEST_F(Recogniser, EveryTriggerKeyTapsChordsAndVetoesAlike) {
    for (const TriggerKey& trigger : TRIGGER_KEYS) {
        const auto run = [&](std::uint64_t held, bool withLetter = false) {
            RecordingActions local;
            KeyRecognizer r(local, TriggerSettings{trigger.code, 0});
            r.handle(flags(trigger.code, held | alone(trigger)));
            if (withLetter) r.handle(key(UNKNOWN_KEY_CODE));
            r.handle(flags(trigger.code, held));
            return local.calls;
        };
        using Calls = std::vector<std::string>;
        EXPECT_EQ(run(0), Calls{"start"}) << trigger.name;
        EXPECT_EQ(run(0, true), Calls{}) << trigger.name;
        EXPECT_EQ(run(alone(otherOf(OPTION_MASK, trigger))), Calls{"command"}) << trigger.name;
        EXPECT_EQ(run(alone(otherOf(SHIFT_MASK, trigger))), Calls{}) << trigger.name;
        EXPECT_EQ(run(alone(otherOf(CONTROL_MASK, trigger))), Calls{}) << trigger.name;
    }
    // The same for the producer key: its own modifier does not spoil its tap.
    for (const TriggerKey& producer : TRIGGER_KEYS) {
        if (producer.code == 54) continue;
        RecordingActions local;
        KeyRecognizer r(local, TriggerSettings{54, producer.code});
        r.handle(flags(producer.code, alone(producer)));
        r.handle(flags(producer.code, 0));
        EXPECT_EQ(local.calls, std::vector<std::string>{"producer on"}) << producer.name;
    }
}

TEST_F(Recogniser, SecureInputIsLoggedAndTheTapStillToggles) {
    LogCapture logs;
    monitor->setSecureInput(true);
    tapTrigger();
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"start"}));
    EXPECT_EQ(logs.messages(),
              (std::vector<std::string>{"· secure input active — keyboard-chord veto degraded, "
                                        "toggling anyway"}));
}

TEST_F(Recogniser, ProducerKeyTogglesItsSessionOnSoloTapsWithADebounce) {
    LogCapture logs;
    tapProducer();
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"producer on"}));
    now += 1.2;
    tapProducer();
    EXPECT_EQ(actions.calls.size(), 1u);
    EXPECT_EQ(logs.messages(), (std::vector<std::string>{"· session toggle debounced"}));
    // The debounce counts from the last toggle, not from the ignored tap.
    now += 0.4;
    tapProducer();
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"producer on", "producer off"}));
    // With a modifier held it is no tap at all.
    now += 5;
    feed({flags(55, kLeftCmd | 0x04 | SHIFT_MASK), flags(55, 0x04 | SHIFT_MASK)});
    feed({flags(55, kLeftCmd | kLeftOption), flags(55, kLeftOption)});
    EXPECT_EQ(actions.calls.size(), 2u);
}

TEST_F(Recogniser, HoldingBothKeysVetoesBoth) {
    // Trigger first, then the producer key.
    feed({flags(54, kRightCmd), flags(55, kRightCmd | kLeftCmd), flags(55, kRightCmd),
          flags(54, 0)});
    // Producer key first, then the trigger.
    feed({flags(55, kLeftCmd), flags(54, kLeftCmd | kRightCmd), flags(54, kLeftCmd), flags(55, 0)});
    EXPECT_TRUE(actions.calls.empty());
    EXPECT_FALSE(recogniser->producerTriggerDown());
}

TEST_F(Recogniser, APressHeldPastTheThresholdRecordsUntilTheRelease) {
    using Step = std::variant<InputEvent, double>; // an event, or seconds passing
    const InputEvent down = flags(54, kRightCmd), up = flags(54, 0);
    const InputEvent letter = key(UNKNOWN_KEY_CODE), escape = key(ESCAPE_KEY_CODE);
    struct Case {
        const char* what;
        TalkMode mode;
        bool recording;
        std::vector<Step> steps;
        std::vector<std::string> calls;
    };
    using enum TalkMode;
    const InputEvent option = flags(54, kRightCmd | kLeftOption), optionUp = flags(54, kLeftOption);
    const std::vector<Case> cases = {
        {"short press toggles", Auto, false, {down, 0.34, up}, {"start"}},
        {"held press records while held", Auto, false, {down, 0.35, up}, {"start", "stop"}},
        {"chord in the hold drops it",
         Auto,
         false,
         {down, 0.5, letter, 1.0, up},
         {"start", "cancel"}},
        {"chord before the threshold", Auto, false, {down, 0.1, letter, 1.0, up}, {}},
        {"Escape during the hold", Auto, false, {down, 0.5, escape, up}, {"start", "cancel"}},
        {"held while recording stops", Auto, true, {down, 1.0, up}, {"stop"}},
        {"Escape cancels a recording", Auto, true, {escape}, {"cancel"}},
        // Held through Escape: the recording is cancelled and no new one starts.
        {"tap through Escape", Auto, true, {down, escape, up}, {"cancel"}},
        {"command chord is no hold", Auto, false, {option, 1.0, optionUp}, {"command"}},
        {"tap mode never holds", Tap, false, {down, 1.0, up}, {"start"}},
        {"hold mode ignores taps", Hold, false, {down, 0.2, up}, {}},
        {"hold mode holds", Hold, false, {down, 0.4, up}, {"start", "stop"}},
    };
    for (const Case& c : cases) {
        test::ManualMainQueue main;
        RecordingActions local;
        local.recording = c.recording;
        KeyRecognizer r(local, TriggerSettings{54, 55, c.mode, 0.35}, {}, &main);
        for (const Step& step : c.steps) {
            if (const auto* event = std::get_if<InputEvent>(&step)) {
                r.handle(*event);
            } else {
                main.advance(std::get<double>(step));
            }
        }
        main.advance(5);
        EXPECT_EQ(local.calls, c.calls) << c.what;
    }
}

TEST_F(Recogniser, AProducerKeyOfZeroOrEqualToTheTriggerIsNotWatched) {
    for (const std::uint16_t producer : {std::uint16_t{0}, std::uint16_t{54}}) {
        RecordingActions local;
        KeyRecognizer r(local, TriggerSettings{54, producer});
        EXPECT_FALSE(r.settings().watchesProducerKey());
        // Left Command then counts as just another modifier, vetoing a held trigger.
        r.handle(flags(54, kRightCmd));
        r.handle(flags(55, kRightCmd | kLeftCmd));
        r.handle(flags(55, kRightCmd));
        r.handle(flags(54, 0));
        r.handle(flags(55, kLeftCmd));
        r.handle(flags(55, 0));
        EXPECT_TRUE(local.calls.empty()) << producer;
    }
    // With producer = trigger, taps of that key are dictation taps.
    RecordingActions local;
    KeyRecognizer r(local, TriggerSettings{54, 54});
    r.handle(flags(54, kRightCmd));
    r.handle(flags(54, 0));
    EXPECT_EQ(local.calls, (std::vector<std::string>{"start"}));
}

} // namespace
} // namespace vak

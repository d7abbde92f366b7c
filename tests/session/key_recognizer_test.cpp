#include "foundation/trigger_keys.h"
#include "platform/fake/fake_key_monitor.h"
#include "session/key_recognizer.h"
#include "support/manual_main_queue.h"
#include "support/recording_key_actions.h"

#include <algorithm>
#include <string>
#include <variant>
#include <vector>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Calls = std::vector<std::string>;
using Step = std::variant<InputEvent, double>; // an event, or seconds passing

InputEvent flags(std::uint16_t code, std::uint64_t after) {
    return {InputEventKind::FlagsChanged, code, after};
}
InputEvent key(std::uint16_t code) {
    return {InputEventKind::KeyDown, code, 0};
}

constexpr std::uint64_t kRightCmd = 0x10 | COMMAND_MASK;
constexpr std::uint64_t kLeftCmd = 0x08 | COMMAND_MASK;
constexpr std::uint64_t kLeftOption = 0x20 | OPTION_MASK;
constexpr std::uint64_t kLeftShift = 0x04 | SHIFT_MASK;

struct Recogniser : ::testing::Test {
    // The calls a recogniser makes for `steps` (Right Command, 54, the trigger key by default).
    Calls run(const std::vector<Step>& steps, bool recording = false,
              TalkMode mode = TalkMode::Auto, std::uint16_t hotkey = 54,
              std::uint16_t producer = 55) {
        test::ManualMainQueue main;
        test::RecordingKeyActions actions;
        actions.recording = recording;
        KeyRecognizer recogniser(
            actions, TriggerSettings{hotkey, producer, mode, 0.35},
            [&] { return 1000 + main.now(); }, &main, monitor);
        for (const Step& step : steps) {
            if (const auto* event = std::get_if<InputEvent>(&step)) {
                recogniser.handle(*event);
            } else {
                main.advance(std::get<double>(step));
            }
        }
        main.advance(5);
        return actions.calls;
    }

    std::shared_ptr<FakeKeyMonitor> monitor = std::make_shared<FakeKeyMonitor>();
};

TEST_F(Recogniser, TapsHoldsChordsAndVetoes) {
    const InputEvent down = flags(54, kRightCmd), up = flags(54, 0);
    const InputEvent producerDown = flags(55, kLeftCmd), producerUp = flags(55, 0);
    const InputEvent letter = key(UNKNOWN_KEY_CODE), escape = key(ESCAPE_KEY_CODE);
    const InputEvent option = flags(54, kRightCmd | kLeftOption), optionUp = flags(54, kLeftOption);
    const InputEvent mouse{InputEventKind::MouseDown, UNKNOWN_KEY_CODE, kRightCmd};
    // Left Command pressed and released while Right Command is down.
    const InputEvent leftIn = flags(55, kRightCmd | kLeftCmd), leftOut = flags(55, kRightCmd);
    const std::vector<Step> both = {down, leftIn, leftOut, up, producerDown, producerUp};
    const std::vector<Step> leftTap = {flags(55, kLeftCmd | kRightCmd), flags(55, kRightCmd)};
    struct Case {
        const char* what;
        std::vector<Step> steps;
        Calls calls;
        bool recording = false;
        TalkMode mode = TalkMode::Auto;
        std::uint16_t hotkey = 54, producer = 55;
    };
    using enum TalkMode;
    const Case cases[] = {
        {"activity around taps", {letter, down, up, letter, down, up}, {"start", "stop"}},
        {"a letter in the press", {down, letter, up}, {}},
        {"a mouse press", {down, mouse, up}, {}},
        {"Escape while idle", {down, escape, up}, {}},
        {"another modifier", {down, flags(60, kRightCmd | kLeftShift), up}, {}},
        {"Left Command held", {flags(54, kRightCmd | kLeftCmd), flags(54, kLeftCmd)}, {}},
        {"Left Command trigger, Right Command held", leftTap, {"start"}, false, Auto, 55, 0},
        {"Option held while recording", {option, optionUp}, {}, true},
        {"Option and Shift held",
         {flags(54, kRightCmd | kLeftOption | kLeftShift), flags(54, kLeftOption | kLeftShift)},
         {}},
        {"Option chord is no hold", {option, 1.0, optionUp}, {"command"}},
        {"short press toggles", {down, 0.34, up}, {"start"}},
        {"held press records while held", {down, 0.35, up}, {"start", "stop"}},
        {"chord in the hold drops it", {down, 0.5, letter, 1.0, up}, {"start", "cancel"}},
        {"Escape during the hold", {down, 0.5, escape, up}, {"start", "cancel"}},
        {"held while recording stops", {down, 1.0, up}, {"stop"}, true},
        {"Escape cancels a recording", {escape}, {"cancel"}, true},
        // Held through Escape: the recording is cancelled and no new one starts.
        {"tap through Escape", {down, escape, up}, {"cancel"}, true},
        {"tap mode never holds", {down, 1.0, up}, {"start"}, false, Tap},
        {"hold mode ignores taps", {down, 0.2, up}, {}, false, Hold},
        {"hold mode holds", {down, 0.4, up}, {"start", "stop"}, false, Hold},
        // The debounce counts from the last toggle, not from an ignored tap.
        {"producer taps 1.5 s apart",
         {producerDown, producerUp, 1.2, producerDown, producerUp, 0.4, producerDown, producerUp,
          1.4, producerDown, producerUp},
         {"producer on", "producer off"}},
        {"producer with a modifier held",
         {flags(55, kLeftCmd | kLeftShift), flags(55, kLeftShift),
          flags(55, kLeftCmd | kLeftOption), flags(55, kLeftOption)},
         {}},
        {"both keys, trigger first", {down, leftIn, leftOut, up}, {}},
        {"both keys, producer first",
         {producerDown, flags(54, kLeftCmd | kRightCmd), flags(54, kLeftCmd), producerUp},
         {}},
        // An unwatched producer key is just another modifier.
        {"no producer key", both, {}, false, Auto, 54, 0},
        {"producer key = trigger", both, {}, false, Auto, 54, 54},
        {"producer key = trigger taps dictate", {down, up}, {"start"}, false, Auto, 54, 54},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(c.steps, c.recording, c.mode, c.hotkey, c.producer), c.calls) << c.what;
}

std::uint64_t alone(const TriggerKey& key) {
    return key.bit | key.mask;
}
const TriggerKey& otherOf(std::uint64_t mask, const TriggerKey& trigger) {
    return *std::find_if(TRIGGER_KEYS.begin(), TRIGGER_KEYS.end(), [&](const TriggerKey& k) {
        return k.mask == mask && k.code != trigger.code;
    });
}

// A key's own modifier does not count as another one held, for the trigger and the producer key.
TEST_F(Recogniser, EveryTriggerKeyTapsChordsAndVetoesAlike) {
    for (const TriggerKey& trigger : TRIGGER_KEYS) {
        SCOPED_TRACE(trigger.name);
        const auto tap = [&](std::uint64_t held, bool withLetter = false) {
            std::vector<Step> steps = {flags(trigger.code, held | alone(trigger))};
            if (withLetter) steps.push_back(key(UNKNOWN_KEY_CODE));
            steps.push_back(flags(trigger.code, held));
            return run(steps, false, TalkMode::Tap, trigger.code, 0);
        };
        EXPECT_EQ(tap(0), Calls{"start"});
        EXPECT_EQ(tap(0, true), Calls{});
        EXPECT_EQ(tap(alone(otherOf(OPTION_MASK, trigger))), Calls{"command"});
        EXPECT_EQ(tap(alone(otherOf(SHIFT_MASK, trigger))), Calls{});
        EXPECT_EQ(tap(alone(otherOf(CONTROL_MASK, trigger))), Calls{});
        if (trigger.code == 54) continue;
        const std::vector<Step> producerTap = {flags(trigger.code, alone(trigger)),
                                               flags(trigger.code, 0)};
        EXPECT_EQ(run(producerTap, false, TalkMode::Auto, 54, trigger.code), Calls{"producer on"});
    }
}

} // namespace
} // namespace vak

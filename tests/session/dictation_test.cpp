#include "base/files.h"
#include "base/global_queues.h"
#include "base/main_queue.h"
#include "base/serial_queue.h"
#include "platform/fake/fake_audio_backend.h"
#include "platform/fake/fake_desktop.h"
#include "platform/fake/fake_pasteboard.h"
#include "session/dictation.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "text/formatting.h"
#include "transcribe/caption_engine.h"
#include "transcribe/chunk_engine.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>
#include <utime.h>

namespace vak {
namespace {

using test::settle;
using test::TempDir;
using test::waitUntil;

class FakeUi final : public SessionUi {
  public:
    void recordingStarted() override { events.push_back("started"); }
    void recordingStopped() override { events.push_back("stopped"); }
    void setCaption(const std::string& text) override { captions.push_back(text); }
    void setLevel(float) override {}
    void setBusy(int delta) override { busy += delta; }
    DeliverMode selectedMode() const override { return mode; }
    bool modePickedThisRecording() const override { return false; }
    void presentChoice(const std::string&, std::function<void()>, std::function<void()>,
                       std::function<void()> onKeep) override {
        onKeep();
    }
    void explainAfterFirstDictation(TranscribedOn where, bool startedWithKey) override {
        ++explained;
        transcribedOn = where;
        explainedAfterKey = startedWithKey;
    }
    void showNotice(const std::string& message) override { notices.push_back(message); }
    void showProducerPanel() override { events.push_back("panel shown"); }
    void hideProducerPanel() override { events.push_back("panel hidden"); }

    std::vector<std::string> events;
    std::vector<std::string> captions;
    std::vector<std::string> notices;
    int busy = 0;
    int explained = 0;
    std::optional<bool> explainedAfterKey;
    std::optional<TranscribedOn> transcribedOn;
    DeliverMode mode = DeliverMode::ask;
};

class DictationTest : public testing::Test {
  protected:
    void SetUp() override {
        installAudioBackend(audio);
        FakeAudioBackend::Device mic(AudioDeviceInfo{1, "mic", "Fake Mic", true, 1});
        mic.feed = [this](std::size_t n) {
            return sineBuffer(SampleFormat::Int16, 16000, 1, 320, 440, amplitude.load(), n * 320);
        };
        audio->setDevices({mic});
        settings.maxRecordSeconds = 60;
        // Waits drive the main queue, which the capture path reports on too.
        test::eventPump() = [this] { loop.runFor(0.02); };
    }
    void TearDown() override {
        test::eventPump() = nullptr;
        installAudioBackend(nullptr);
    }

    std::shared_ptr<Dictation> make() {
        DictationServices services;
        services.main = &loop;
        services.background = &globalQueue(QoS::UserInitiated);
        services.capturer = AudioCapturer::create(loop, audio);
        Config config;
        config.liveCaptions = false;
        config.chunkSeconds = 0; // every stop decodes the whole recording
        services.captions = CaptionEngine::create(CaptionSettings::from(config, "", scratch()));
        services.chunks = ChunkEngine::create(ChunkSettings::from(config, scratch()));
        services.sounds = sounds;
        services.producer = {[this] { producerCalls.push_back("started"); },
                             [this] { producerCalls.push_back("ended"); }};
        services.desktop.pasteboard = pasteboard;
        services.desktop.keys = keys;
        services.desktop.frontmost = frontmost;
        // Shared, not captured through `this`: the access check may still run after the test.
        services.microphoneAvailable = [available = micAvailable] { return available->load(); };
        services.decode = [this](const DecodeRequest& request) {
            double delay = 0;
            std::optional<std::string> result;
            {
                std::lock_guard lock(mutex);
                decoded.emplace_back(request.wav, request.textBase);
                if (decodedByCloud && request.trail) request.trail->cloud = true;
                if (!decodeDelays.empty()) {
                    delay = decodeDelays.front();
                    decodeDelays.erase(decodeDelays.begin());
                }
                result = transcript;
            }
            std::this_thread::sleep_for(std::chrono::duration<double>(delay));
            return result;
        };
        services.format = [](std::string_view raw) {
            return formatAndLearn(raw, TranscriptSources::from(processValues()));
        };
        services.commandEdit = [this](std::string_view selection,
                                      std::string_view instruction) -> std::optional<std::string> {
            edits.emplace_back(selection, instruction);
            return std::string("EDITED");
        };
        services.learnedMode = [](std::string_view) { return std::nullopt; };
        services.logTranscript = [this](std::string_view text, std::string_view tag,
                                        std::string_view caveat) {
            std::lock_guard lock(mutex);
            recorded.emplace_back(text, tag);
            caveats.emplace_back(caveat);
            recordedOnMainThread = recordedOnMainThread || std::this_thread::get_id() == mainThread;
        };
        services.history = history;
        return Dictation::create(ui, settings, std::move(services));
    }

    bool contains(const std::string& line) { return log.text().find(line) != std::string::npos; }

    ScratchFiles scratch() const { return ScratchFiles(dir.path()); }

    TempDir dir;
    test::LogCapture log;
    RunLoopMainQueue loop;
    FakeUi ui;
    DictationSettings settings = DictationSettings::from(Config{}, scratch());
    std::shared_ptr<FakeAudioBackend> audio = std::make_shared<FakeAudioBackend>();
    std::shared_ptr<FakeSoundPlayer> sounds = std::make_shared<FakeSoundPlayer>();
    std::shared_ptr<FakePasteboard> pasteboard = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakeKeySynth> keys = std::make_shared<FakeKeySynth>();
    std::shared_ptr<FakeFrontmostApp> frontmost = std::make_shared<FakeFrontmostApp>();
    std::shared_ptr<std::atomic<bool>> micAvailable = std::make_shared<std::atomic<bool>>(true);
    std::atomic<double> amplitude{0.3};
    std::mutex mutex;
    std::optional<std::string> transcript = "so um hello world";
    bool decodedByCloud = false;
    std::vector<double> decodeDelays;
    std::vector<std::pair<std::string, std::string>> decoded; // wav, base name
    std::vector<std::pair<std::string, std::string>> recorded;
    std::vector<std::string> caveats;
    const std::thread::id mainThread = std::this_thread::get_id();
    bool recordedOnMainThread = false;
    std::shared_ptr<SerialQueue> history = std::make_shared<SerialQueue>("test.history");
    std::vector<std::pair<std::string, std::string>> edits;
    std::vector<std::string> producerCalls;
};

TEST_F(DictationTest, ATapToTapDictationPastesFormattedTextAndCleansUp) {
    auto dictation = make();
    dictation->toggle();
    ASSERT_TRUE(dictation->isRecording());
    const std::string wav = dictation->currentWav();
    EXPECT_EQ(wav, dir.file("vak_rec_1.wav"));
    settle(0.3);
    dictation->toggle();
    EXPECT_FALSE(dictation->isRecording());
    ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && !recorded.empty(); }));

    ASSERT_EQ(decoded.size(), 1u);
    EXPECT_EQ(decoded[0].second, dir.file("vak_rec_1"));
    EXPECT_EQ(pasteboard->text(), "So hello world"); // three words get no closing period
    EXPECT_EQ(keys->sent, (std::vector<KeyChord>{{true, false, false, ChordKey::V}}));
    EXPECT_EQ(recorded, (std::vector<std::pair<std::string, std::string>>{{"So hello world", ""}}));
    // The record (which may wait for the secret store) is written off the main thread.
    EXPECT_FALSE(recordedOnMainThread);
    EXPECT_EQ(sounds->played(), (std::vector<Sound>{Sound::Start, Sound::Stop, Sound::Pasted}));
    EXPECT_EQ(ui.events, (std::vector<std::string>{"started", "stopped"}));
    EXPECT_EQ(ui.explained, 1);
    EXPECT_EQ(ui.transcribedOn, TranscribedOn::ThisComputer);
    EXPECT_EQ(ui.explainedAfterKey, false); // toggled, as the signal and --toggle do
    EXPECT_FALSE(pathExists(wav));

    // Words the cloud engine decoded are said to be.
    {
        std::lock_guard lock(mutex);
        decodedByCloud = true;
    }
    dictation->startRecording(); // the trigger key's way
    settle(0.3);
    dictation->toggle();
    ASSERT_TRUE(waitUntil([&] { return ui.explained == 2; }));
    EXPECT_EQ(ui.transcribedOn, TranscribedOn::CloudEngine);
    EXPECT_EQ(ui.explainedAfterKey, true);
}

TEST_F(DictationTest, SilenceStillDecodesAndEndsEmptyWhileAFailedDecodeKeepsTheRecording) {
    audio->setDevices({FakeAudioBackend::Device(AudioDeviceInfo{1, "mic", "Fake Mic", true, 1})});
    transcript = "";
    auto dictation = make();
    dictation->startRecording();
    dictation->stopAndTranscribe();
    ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && contains("… empty transcription"); }));
    EXPECT_TRUE(contains("⚠️ session 1 captured 0 audio frames — mic/permission problem, not "
                         "your speech"));
    EXPECT_EQ(decoded.size(), 1u);
    EXPECT_EQ(sounds->played().back(), Sound::Failure);
    EXPECT_FALSE(pathExists(dir.file("vak_rec_1.wav")));
    EXPECT_FALSE(pathExists(dir.file("vak_failed_1.wav")));

    // Every engine failed: the words are still in the audio, so it stays for a retry, beside
    // (never over) the one an earlier run kept for its own session 2.
    test::writeFixture(dir.file("vak_failed_2.wav"), "an earlier run's words");
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    const utimbuf earlier{hourAgo, hourAgo};
    ::utime(dir.file("vak_failed_2.wav").c_str(), &earlier);
    transcript.reset();
    dictation->startRecording();
    dictation->stopAndTranscribe();
    ASSERT_TRUE(waitUntil([&] { return contains("… empty transcription (session 2)"); }));
    settle(0.05);
    const std::string kept = dir.file("vak_failed_2-2.wav");
    EXPECT_TRUE(pathExists(kept));
    EXPECT_EQ(filePermissions(kept), 0600u);
    EXPECT_EQ(test::readFixture(dir.file("vak_failed_2.wav")), "an earlier run's words");
    const auto listed = ScratchFiles(dir.path()).failedRecordings();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].path, kept); // newest first
    EXPECT_EQ(listed[1].modified, hourAgo);
}

TEST_F(DictationTest, RecordingsStopThemselvesAtTheLimitUnlessStoppedFirst) {
    settings.maxRecordSeconds = 1;
    auto dictation = make();
    dictation->startRecording();
    ASSERT_TRUE(waitUntil([&] { return !dictation->isRecording(); }, 3));
    EXPECT_TRUE(contains("⏱ auto-stop after 1s — mic was left on"));
    EXPECT_EQ(sounds->played()[1], Sound::AutoStop);
    ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && !recorded.empty(); }));

    dictation->startRecording();
    settle(0.2);
    dictation->stopAndTranscribe();
    settle(1.5);
    EXPECT_EQ(log.text().find("⏱ auto-stop"), log.text().rfind("⏱ auto-stop"));
}

TEST_F(DictationTest, TheLastClipIsTheNewestSessionsWhateverOrderTheyFinishIn) {
    settings.keepLastClip = true;
    decodeDelays = {0.6, 0.0}; // session 1 finishes after session 2
    auto dictation = make();
    dictation->startRecording();
    settle(0.25);
    dictation->stopAndTranscribe();
    amplitude = 0.05; // the second recording is quieter, so the two files differ
    dictation->startRecording();
    settle(0.25);
    dictation->stopAndTranscribe();
    ASSERT_TRUE(waitUntil([&] { return recorded.size() == 2 && ui.busy == 0; }));
    settle(0.05);
    const std::string last = dir.file("vak_last.wav");
    ASSERT_TRUE(pathExists(last));
    EXPECT_EQ(filePermissions(last), 0600u);
    const auto bytes = readFileBytes(last);
    std::int16_t peak = 0;
    for (std::size_t i = 44; i + 1 < bytes->size(); i += 2) {
        std::int16_t s = 0;
        std::memcpy(&s, bytes->data() + i, 2);
        peak = std::max<std::int16_t>(peak, static_cast<std::int16_t>(std::abs(s)));
    }
    EXPECT_LT(peak, 0.1 * 32767); // session 2's quiet audio
    EXPECT_FALSE(pathExists(dir.file("vak_rec_1.wav")));
    EXPECT_FALSE(pathExists(dir.file("vak_rec_2.wav")));
}

// A dictation the paste key cannot carry into a window (nothing focused, or a native window
// while only XTest through XWayland types) stays on the clipboard, saying what to press.
TEST_F(DictationTest, TextThatCannotBePastedStaysOnTheClipboardAndSaysSo) {
    struct Case {
        bool nothingFocused, x11WindowsOnly;
        const char *app, *caveat;
    };
    auto dictation = make();
    frontmost->protocol = WindowProtocol::Wayland;
    for (const Case& c :
         {Case{true, false, "", "Nothing had the focus — your text is on the clipboard"},
          Case{false, true, "foot",
               "The paste cannot reach this window — your text is on the clipboard: press "
               "Ctrl+Shift+V"}}) {
        SCOPED_TRACE(c.caveat);
        frontmost->nothingFocused = c.nothingFocused;
        frontmost->id = c.app;
        keys->x11WindowsOnly = c.x11WindowsOnly;
        recorded.clear();
        caveats.clear();
        ui.notices.clear();
        dictation->toggle();
        settle(0.2);
        dictation->toggle();
        ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && !recorded.empty(); }));
        EXPECT_TRUE(keys->sent.empty());
        EXPECT_EQ(caveats, std::vector<std::string>{c.caveat});
        EXPECT_EQ(ui.notices, std::vector<std::string>{c.caveat});
        EXPECT_EQ(ui.explained, 0);
        settle(TextInserter::kRestoreDelaySeconds + 0.2);
        EXPECT_EQ(pasteboard->text(), "So hello world");
    }
    EXPECT_EQ(sounds->played(), (std::vector<Sound>{Sound::Start, Sound::Stop, Sound::Failure,
                                                    Sound::Start, Sound::Stop, Sound::Failure}));
}

// No recording without a microphone, and none left behind by a cancel; producer sessions show
// and hide their panel.
TEST_F(DictationTest, NoMicrophoneOrACancelLeavesNothingToTranscribe) {
    *micAvailable = false;
    auto dictation = make();
    dictation->startRecording();
    EXPECT_FALSE(dictation->isRecording());
    EXPECT_EQ(dictation->sessionN(), 0);
    *micAvailable = true;
    FakeAudioBackend::Device broken(AudioDeviceInfo{1, "mic", "Fake Mic", true, 1});
    broken.failsToOpen = true;
    audio->setDevices({broken});
    dictation->startRecording();
    EXPECT_FALSE(dictation->isRecording());
    EXPECT_EQ(ui.captions.back(), "⚠️ couldn't start mic — check Sound ▸ Input");
    EXPECT_EQ(sounds->played(), (std::vector<Sound>{Sound::Failure, Sound::Failure}));

    audio->setDevices({FakeAudioBackend::Device(AudioDeviceInfo{1, "mic", "Fake Mic", true, 1})});
    dictation->startRecording();
    settle(0.1);
    const std::string wav = dictation->currentWav();
    dictation->cancelRecording();
    EXPECT_FALSE(pathExists(wav));
    settle(0.2);
    EXPECT_TRUE(decoded.empty());
    EXPECT_EQ(sounds->played().back(), Sound::Cancel);
    dictation->cancelRecording(); // idle: nothing

    dictation->startProducerSession();
    EXPECT_TRUE(dictation->producerSessionOn());
    dictation->endProducerSession();
    EXPECT_FALSE(dictation->producerSessionOn());
    EXPECT_EQ(ui.events,
              (std::vector<std::string>{"started", "stopped", "panel shown", "panel hidden"}));
    EXPECT_EQ(producerCalls, (std::vector<std::string>{"started", "ended"}));
}

TEST_F(DictationTest, CommandModeEditsTheSelectionItCopied) {
    keys->onSend = [this](const KeyChord& chord) {
        if (chord.key == ChordKey::C) {
            pasteboard->copyFromOtherApp({plainTextItem("hello world")});
        }
    };
    transcript = "make it all caps";
    auto dictation = make();
    dictation->startCommandMode();
    ASSERT_TRUE(waitUntil([&] { return dictation->isRecording(); }));
    EXPECT_EQ(ui.captions.back(), "🎯 Speak the edit for the selected text…");
    settle(0.1);
    dictation->stopAndTranscribe();
    ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && !edits.empty(); }));
    ASSERT_TRUE(
        waitUntil([&] { return pasteboard->text() == std::optional<std::string>("EDITED"); }));
    EXPECT_EQ(edits[0], (std::pair<std::string, std::string>{"hello world", "Make it all caps."}));

    keys->onSend = nullptr; // nothing selected: the copy changes nothing
    dictation->startCommandMode();
    ASSERT_TRUE(waitUntil([&] { return contains("✕ command mode: no text selected"); }));
    EXPECT_FALSE(dictation->isRecording());
}

} // namespace
} // namespace vak

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

#include <mutex>
#include <thread>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::settle;
using test::waitUntil;
using Sounds = std::vector<Sound>;

class FakeUi final : public SessionUi {
  public:
    void recordingStarted() override {}
    void recordingStopped() override {}
    void setCaption(const std::string& text) override { caption = text; }
    void setLevel(float) override {}
    void setBusy(int delta) override { busy += delta; }
    DeliverMode selectedMode() const override { return DeliverMode::ask; }
    bool modePickedThisRecording() const override { return false; }
    void presentChoice(const std::string&, std::function<void()>, std::function<void()>,
                       std::function<void()> onKeep) override {
        onKeep();
    }
    void explainAfterFirstDictation(TranscribedOn, bool) override { ++explained; }
    void showNotice(const std::string& message) override { notices.push_back(message); }
    void showProducerPanel() override {}
    void hideProducerPanel() override {}

    std::string caption;
    std::vector<std::string> notices;
    int busy = 0;
    int explained = 0;
};

class DictationTest : public testing::Test {
  protected:
    void SetUp() override {
        installAudioBackend(audio);
        useMicrophone();
        // Waits drive the main queue, which the capture path reports on too.
        test::eventPump() = [this] { loop.runFor(0.02); };
    }
    void TearDown() override {
        test::eventPump() = nullptr;
        installAudioBackend(nullptr);
    }
    void useMicrophone(bool feeds = true, bool opens = true) {
        FakeAudioBackend::Device mic(AudioDeviceInfo{1, "mic", "Fake Mic", true, 1});
        mic.failsToOpen = !opens;
        if (feeds) {
            mic.feed = [](std::size_t n) {
                return sineBuffer(SampleFormat::Int16, 16000, 1, 320, 440, 0.3, n * 320);
            };
        }
        audio->setDevices({mic});
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
        services.producer = {[] {}, [] {}};
        services.desktop = {pasteboard, keys, frontmost, nullptr};
        services.microphoneAvailable = [allowed = micAllowed] { return allowed; };
        services.decode = [this](const DecodeRequest& request) {
            std::lock_guard lock(mutex);
            decoded.push_back(request.textBase);
            return transcript;
        };
        services.format = [](std::string_view raw) {
            return formatAndLearn(raw, TranscriptSources::from(processValues()));
        };
        services.commandEdit = [](std::string_view, std::string_view) { return std::nullopt; };
        services.learnedMode = [](std::string_view) { return std::nullopt; };
        services.logTranscript = [this](std::string_view text, std::string_view,
                                        std::string_view caveat) {
            std::lock_guard lock(mutex);
            recorded.emplace_back(text);
            caveats.emplace_back(caveat);
            recordedOnMainThread = recordedOnMainThread || std::this_thread::get_id() == mainThread;
        };
        services.history = std::make_shared<SerialQueue>("test.history");
        return Dictation::create(ui, settings, std::move(services));
    }
    void dictate(Dictation& dictation) {
        recorded.clear();
        dictation.toggle();
        settle(0.2);
        dictation.toggle();
        ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && !recorded.empty(); }));
    }

    bool contains(const std::string& line) { return log.text().find(line) != std::string::npos; }
    ScratchFiles scratch() const { return ScratchFiles(dir.path()); }

    test::TempDir dir;
    test::LogCapture log;
    RunLoopMainQueue loop;
    FakeUi ui;
    DictationSettings settings = DictationSettings::from(Config{}, scratch());
    std::shared_ptr<FakeAudioBackend> audio = std::make_shared<FakeAudioBackend>();
    std::shared_ptr<FakeSoundPlayer> sounds = std::make_shared<FakeSoundPlayer>();
    std::shared_ptr<FakePasteboard> pasteboard = std::make_shared<FakePasteboard>();
    std::shared_ptr<FakeKeySynth> keys = std::make_shared<FakeKeySynth>();
    std::shared_ptr<FakeFrontmostApp> frontmost = std::make_shared<FakeFrontmostApp>();
    bool micAllowed = true;
    std::mutex mutex;
    std::optional<std::string> transcript = "so um hello world";
    std::vector<std::string> decoded; // base names
    std::vector<std::string> recorded;
    std::vector<std::string> caveats;
    const std::thread::id mainThread = std::this_thread::get_id();
    bool recordedOnMainThread = false;
};

TEST_F(DictationTest, ATapToTapDictationPastesFormattedTextAndCleansUp) {
    auto dictation = make();
    dictate(*dictation);
    EXPECT_EQ(decoded, std::vector<std::string>{dir.file("vak_rec_1")});
    EXPECT_EQ(pasteboard->text(), "So hello world"); // three words get no closing period
    EXPECT_EQ(keys->sent, (std::vector<KeyChord>{{true, false, false, ChordKey::V}}));
    EXPECT_EQ(recorded, std::vector<std::string>{"So hello world"});
    // The record (which may wait for the secret store) is written off the main thread.
    EXPECT_FALSE(recordedOnMainThread);
    EXPECT_EQ(sounds->played(), (Sounds{Sound::Start, Sound::Stop, Sound::Pasted}));
    EXPECT_FALSE(pathExists(dir.file("vak_rec_1.wav")));
    EXPECT_EQ(ui.explained, 1);
}

// Silence is still decoded and ends empty; when every engine failed the words are still in the
// audio, so it stays for a retry.
TEST_F(DictationTest, SilenceEndsEmptyWhileAFailedDecodeKeepsTheRecording) {
    useMicrophone(false);
    transcript = "";
    auto dictation = make();
    for (const int session : {1, 2}) {
        SCOPED_TRACE(session);
        dictation->startRecording();
        dictation->stopAndTranscribe();
        const std::string ended = "… empty transcription (session " + std::to_string(session);
        ASSERT_TRUE(waitUntil([&] { return ui.busy == 0 && contains(ended); }));
        settle(0.05);
        EXPECT_EQ(decoded.size(), static_cast<std::size_t>(session));
        EXPECT_EQ(sounds->played().back(), Sound::Failure);
        EXPECT_FALSE(pathExists(dir.file("vak_rec_" + std::to_string(session) + ".wav")));
        transcript.reset();
    }
    EXPECT_TRUE(contains("⚠️ session 1 captured 0 audio frames — mic/permission problem"));
    EXPECT_FALSE(pathExists(dir.file("vak_failed_1.wav")));
    EXPECT_EQ(filePermissions(dir.file("vak_failed_2.wav")), 0600u);
    EXPECT_EQ(scratch().failedRecordings().size(), 1u);
}

// Where only XTest through XWayland types, a native window is out of reach: the text stays on
// the clipboard, and the log and the notice say which keys paste it.
TEST_F(DictationTest, TextThatCannotBePastedStaysOnTheClipboardAndSaysSo) {
    frontmost->protocol = WindowProtocol::Wayland;
    frontmost->id = "foot";
    keys->x11WindowsOnly = true;
    auto dictation = make();
    dictate(*dictation);
    const std::string said =
        "The paste cannot reach this window — your text is on the clipboard: press Ctrl+Shift+V";
    EXPECT_EQ(caveats, std::vector<std::string>{said});
    EXPECT_EQ(ui.notices, std::vector<std::string>{said});
    EXPECT_TRUE(keys->sent.empty());
    EXPECT_EQ(ui.explained, 0);
    settle(TextInserter::kRestoreDelaySeconds + 0.2);
    EXPECT_EQ(pasteboard->text(), "So hello world");
    EXPECT_EQ(sounds->played(), (Sounds{Sound::Start, Sound::Stop, Sound::Failure}));
}

// A missing or failing microphone is told and records nothing; a recording left on stops itself
// at the limit, and one stopped first is not stopped again by a stale timer.
TEST_F(DictationTest, NoMicrophoneRecordsNothingAndTheLimitStopsARecordingLeftOn) {
    struct Case {
        bool allowed, opens;
        double stopAfter; // < 0: left on
        const char* told;
        Sounds sounds;
    };
    const Case cases[] = {
        {false, true, -1, "mic not authorized", {Sound::Failure}},
        {true, false, -1, "couldn't start on any input", {Sound::Failure}},
        {true,
         true,
         -1,
         "⏱ auto-stop after 1s — mic was left on",
         {Sound::Start, Sound::AutoStop, Sound::Stop, Sound::Pasted}},
        {true, true, 0.2, "", {Sound::Start, Sound::Stop, Sound::Pasted}},
    };
    settings.maxRecordSeconds = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.told);
        micAllowed = c.allowed;
        useMicrophone(true, c.opens);
        sounds = std::make_shared<FakeSoundPlayer>();
        recorded.clear();
        const bool records = c.allowed && c.opens;
        auto dictation = make();
        dictation->startRecording();
        EXPECT_EQ(dictation->isRecording(), records);
        if (c.stopAfter >= 0) {
            settle(c.stopAfter);
            dictation->stopAndTranscribe();
        }
        ASSERT_TRUE(waitUntil([&] { return !dictation->isRecording() && ui.busy == 0; }, 3));
        settle(1.2); // past the limit
        EXPECT_EQ(recorded.size(), records ? 1u : 0u);
        EXPECT_TRUE(contains(c.told));
        EXPECT_EQ(sounds->played(), c.sounds);
    }
    EXPECT_EQ(ui.caption, "⚠️ couldn't start mic — check Sound ▸ Input");
}

} // namespace
} // namespace vak

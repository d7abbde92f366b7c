// The program against the real whisper.cpp tools and Parakeet server ./scripts/test builds, with
// whisper.cpp's test models (no trained weights: they decode to empty text or nonsense): every
// path runs without falling back, and the log says why when one cannot. Words come from the fakes.
#include "audio/wav.h"
#include "base/files.h"
#include "base/subprocess.h"
#include "binary_fixture.h"
#include "support/expect_contains.h"
#include "support/log_capture.h"
#include "support/wait.h"
#include "transcribe/caption_engine.h"
#include "transcribe/engine_threads.h"
#include "transcribe/model_speed.h"
#include "transcribe/server_keeper.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::readFixture;
using test::runVak;
using test::writeFixture;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int freePort() {
    const std::string url = test::deadUrl("");
    return std::atoi(url.c_str() + url.rfind(':') + 1);
}

class RealEngine : public test::BinaryTest {
  protected:
    void SetUp() override {
        if (!isExecutableFile(bin + "/whisper-cli"))
            GTEST_SKIP() << "no real whisper.cpp build (./scripts/test builds one) "
                         << environment("VAK_REAL_ENGINE_SKIP");
        std::filesystem::create_directories(models);
        copy("models/for-tests-ggml-tiny.en.bin", "ggml-large-v3-turbo-q5_0.bin");
        copy("models/for-tests-ggml-base.en.bin", "ggml-base.en-q5_1.bin");
        copy("models/for-tests-silero-v6.2.0-ggml.bin", "ggml-silero-v5.1.2.bin");
        // Three seconds: a model without weights decodes every window to its token limit.
        const std::string sample = readFixture(data + "/samples/jfk.wav");
        const auto offset = findWavDataOffset(data + "/samples/jfk.wav").value_or(44);
        writeFixture(jfk, wavHeader(3 * 32000) + sample.substr(offset, 3 * 32000));
    }
    void copy(const std::string& from, const std::string& to) const {
        std::filesystem::copy_file(data + "/" + from, models + "/" + to,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    test::BinaryOptions options() const {
        auto o = BinaryTest::options();
        o.env["VAK_TOOL_PATH"] = bin;
        o.env["VAK_WHISPER_SERVER_URL"] = serverUrl;
        o.env["VAK_CAPTION_SERVER_URL"] = test::deadUrl("/inference");
        o.timeoutSeconds = 280;
        return o;
    }
    test::BinaryRun transcribe(const std::string& config, const std::string& clip = "") const {
        userFile("config", "CLOUD=0\n" + config);
        return runVak({"--transcribe-file", clip.empty() ? jfk : clip}, options());
    }
    // Kept as the daemon keeps one, on a free port; all cores: the request is checked, not speed.
    std::unique_ptr<ServerKeeper> keep(const std::string& name, const std::string& model) {
        kept = {.name = name,
                .tool = bin + "/" + (name == "whisper-server" ? name : "vak-parakeet-server"),
                .model = model,
                .vadModel = {},
                .port = freePort(),
                .threads = engineThreads(false).decode,
                .firstPauseSeconds = 0.2};
        serverUrl = "http://127.0.0.1:" + std::to_string(kept.port) + "/inference";
        return ServerKeeper::start(kept);
    }
    bool answers() const { return serverAnswers("/usr/bin/curl", kept.port); }
    bool cameBack(const ServerKeeper& keeper, int old) const {
        return test::waitUntil(
            [&] { return keeper.pid() != 0 && keeper.pid() != old && answers(); }, 60);
    }

    std::string bin = environment("VAK_REAL_WHISPER_BIN");
    std::string data = environment("VAK_REAL_WHISPER_DATA");
    std::string models = home.file(".whisper-models");
    std::string jfk = home.file("jfk3.wav");
    std::string serverUrl = test::deadUrl("/inference");
    ServerKeeperSettings kept;
};

// No fall-back and no error; `warned` allows the warning that the server's VAD model is missing.
void expectDecodes(const test::BinaryRun& run, bool warned = false) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "\n");
    EXPECT_EQ(run.err.find("falling back"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("!!"), std::string::npos) << run.err;
    EXPECT_TRUE(warned || run.err.find(" has no ") == std::string::npos) << run.err;
}

// The whole of jfk.wav with the voice gate while a busy process takes every core: a build without
// OpenMP's passive wait spins at its barriers and meets the watchdog (82 s for 11 s). Then each
// configuration without the VAD model (its pass can take minutes here under load).
TEST_F(RealEngine, WhisperCliDecodesBesideACpuHogAndInEveryConfigurationOrSaysWhyNot) {
    const std::string whole = home.file("jfk.wav");
    std::filesystem::copy_file(data + "/samples/jfk.wav", whole);
    std::vector<std::shared_ptr<Subprocess>> hogs; // killed and reaped when released
    for (long i = 0; i < std::max(::sysconf(_SC_NPROCESSORS_ONLN), 1L); ++i)
        hogs.push_back(Subprocess::spawn({.argv = {"/usr/bin/yes"}, .environment = {}}));
    const auto start = SteadyClock::now();
    const auto gated = transcribe("SERVER=0\nPREPROCESS=0\n", whole);
    EXPECT_EQ(gated.exitCode, 0) << gated.err;
    EXPECT_EQ(gated.err.find("watchdog"), std::string::npos) << gated.err;
    EXPECT_LT(secondsSince(start), 41) << gated.err;
    hogs.clear();

    removeFile(models + "/ggml-silero-v5.1.2.bin");
    const std::pair<const char*, std::string> cases[] = {
        {"", ""},
        {"WHISPER_MODE=1\nPREPROCESS=0\n", ""},
        {"CALL_MODE=1\nPREPROCESS=0\n", ""},
        {"PREPROCESS=0\nLANGUAGE=en-us\n",
         "!! whisper-cli exit 0, no output: error: unknown language 'en-us'\n"},
        {"PREPROCESS=0\n",
         "!! whisper-cli exit 3, no output: whisper_model_load: invalid model data (bad magic)"},
    };
    for (const auto& [config, logged] : cases) {
        SCOPED_TRACE(config);
        const std::string model = models + "/ggml-large-v3-turbo-q5_0.bin";
        if (logged.find("bad magic") != std::string::npos)
            writeFixture(model, "JUNK" + readFixture(model).substr(4));
        const auto run = transcribe(std::string("SERVER=0\n") + config);
        if (logged.empty()) {
            expectDecodes(run);
        } else {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_CONTAINS(run.err, logged);
        }
    }
}

// Without a VAD model, as a user may start it, the server is asked with the gate, then without.
// Another keeper leaves it alone; it comes back after a kill, restarts at once with another model,
// takes a caption pass's fields, and ends with its keeper.
TEST_F(RealEngine, TheKeptServerDecodesComesBackSwitchesModelsServesCaptionsAndEndsWithIt) {
    auto keeper = keep("whisper-server", models + "/ggml-large-v3-turbo-q5_0.bin");
    ASSERT_TRUE(keeper);
    ASSERT_TRUE(cameBack(*keeper, 0));
    const auto run = transcribe("SERVER=1\nLANGUAGE=de\n");
    expectDecodes(run, true);
    EXPECT_CONTAINS(run.err, "⚠️ whisper-server has no VAD model (with VAD on it answered HTTP "
                             "500 \"failed to process audio\")");
    EXPECT_FALSE(ServerKeeper::start(kept));
    const int first = keeper->pid();
    ::kill(first, SIGKILL);
    ASSERT_TRUE(cameBack(*keeper, first));
    const int second = keeper->pid();
    const std::string other = models + "/ggml-base.en-q5_1.bin";
    keeper->useModel(other);
    ASSERT_TRUE(cameBack(*keeper, second));
    const int third = keeper->pid();
    EXPECT_CONTAINS(readFixture("/proc/" + std::to_string(third) + "/cmdline"), other);
    EXPECT_NE(::kill(second, 0), 0);
    // Slowed down: the test model decodes noise up to its token limit. Only the server can answer.
    const auto engine = CaptionEngine::create({.liveCaptions = true,
                                               .intervalSeconds = 2,
                                               .windowSeconds = 10,
                                               .model = other,
                                               .serverUrl = serverUrl,
                                               .whisperCli = home.file("no-whisper-cli"),
                                               .scratchBase = home.file("caption"),
                                               .timeScale = 3});
    engine->simStart(jfk);
    {
        const test::LogCapture log;
        engine->simPass();
        EXPECT_EQ(log.text().find("caption pass"), std::string::npos) << log.text();
        EXPECT_EQ(log.text().find("caption server "), std::string::npos) << log.text();
    }
    keeper.reset();
    EXPECT_FALSE(answers());
    EXPECT_NE(::kill(third, 0), 0); // gone, not orphaned
}

// With whisper.cpp's Parakeet test model as DECODE_MODEL=parakeet-tdt-0.6b-v3.
class RealParakeet : public RealEngine {
  protected:
    void SetUp() override {
        RealEngine::SetUp();
        if (IsSkipped() || !isExecutableFile(bin + "/vak-parakeet-server"))
            GTEST_SKIP() << "no vak-parakeet-server in " << bin;
        copy("models/for-tests-ggml-parakeet-tdt.bin", "ggml-parakeet-tdt-0.6b-v3.bin");
    }
    test::BinaryRun decode(const std::string& config) const {
        return transcribe("DECODE_MODEL=parakeet-tdt-0.6b-v3\n" + config);
    }

    std::string model = models + "/ggml-parakeet-tdt-0.6b-v3.bin";
};

// Parakeet has only its server, in every mode, and detects the language itself; it races the
// cloud engine, whose text wins only when the local nonsense is not first; the server comes back
// after a kill and ends with its keeper, after which a decode says why it had none.
TEST_F(RealParakeet, DecodesThroughEveryRouteRacesTheCloudAndComesBackAfterAKill) {
    auto keeper = keep("Parakeet server", model);
    ASSERT_TRUE(keeper);
    ASSERT_TRUE(cameBack(*keeper, 0));
    const test::FakeSpeechServer cloud;
    const std::string words = "Ask not what your country can do.";
    const std::string toCloud = "CLOUD=1\nTRANSCRIBE_URL=" + cloud.url("/transcribe") + "\n";
    struct Case {
        std::string config;
        const char* event = ""; // "kill" or "stop" the server first
        double cloudDelay = 0;
        int cloudStatus = 200;
        const char* race = nullptr; // the race's log line
    };
    const Case cases[] = {
        {"WHISPER_MODE=1\n"},
        {"CALL_MODE=1\nLANGUAGE=ja\n"},
        {"SERVER=0\nPREPROCESS=0\n"},
        {toCloud, "", 4, 200, "decode race: local won (cloud dnf · local "},
        {toCloud, "kill", 0, 500, "decode race: local won (cloud "},
        {toCloud, "stop", 0, 200, "decode race: cloud won (cloud "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config + c.event);
        const int pid = keeper ? keeper->pid() : 0;
        if (c.event == std::string_view("kill")) {
            ::kill(pid, SIGKILL);
            ASSERT_TRUE(cameBack(*keeper, pid));
        } else if (*c.event) {
            keeper.reset();
            EXPECT_FALSE(answers());
            EXPECT_NE(::kill(pid, 0), 0); // gone, not orphaned
        }
        cloud.answer("transcribe",
                     c.cloudStatus == 200 ? R"({"text":")" + words + R"("})"
                                          : R"({"error":"overloaded"})",
                     c.cloudDelay, c.cloudStatus);
        const auto run = decode(c.config);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out == words + "\n", keeper == nullptr) << run.out;
        if (keeper) {
            EXPECT_EQ(run.err.find("!!"), std::string::npos) << run.err;
        } else {
            EXPECT_CONTAINS(run.err, "!! Parakeet server not answering");
        }
        if (c.race) {
            EXPECT_CONTAINS(run.err, c.race);
        } else {
            EXPECT_EQ(run.err.find("whisper"), std::string::npos) << run.err;
        }
    }
}

// A daemon that dies without stopping its server leaves none behind: `timeout` stands in for it.
TEST_F(RealParakeet, EndsWithTheProcessThatStartedIt) {
    kept.port = freePort();
    auto starter = Subprocess::spawn(
        {.argv = {"/usr/bin/timeout", "300", bin + "/vak-parakeet-server", "-m", model, "--host",
                  "127.0.0.1", "--port", std::to_string(kept.port)},
         .environment = {}});
    ASSERT_TRUE(starter);
    ASSERT_TRUE(test::waitUntil([&] { return answers(); }, 60));
    const std::string pid = std::to_string(starter->pid());
    const int orphan =
        std::atoi(readFixture("/proc/" + pid + "/task/" + pid + "/children").c_str());
    ASSERT_GT(orphan, 0);
    starter.reset();
    const auto ended = [orphan] {
        const std::string stat = readFixture("/proc/" + std::to_string(orphan) + "/stat");
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    EXPECT_TRUE(test::waitUntil(ended, 10));
    if (!ended()) ::kill(orphan, SIGKILL);
}

// No GPU here: Parakeet is chosen, fetched under its host's name, written into the configuration
// and one decode timed on its server; the next set-up reads the speed instead.
TEST_F(RealParakeet, AFirstSetUpChoosesParakeetAndTimesADecodeOnce) {
    removeFile(models + "/ggml-large-v3-turbo-q5_0.bin");
    removeFile(model);
    const test::ModelHost host;
    std::filesystem::copy_file(data + "/models/for-tests-ggml-parakeet-tdt.bin",
                               host.dir() + "/ggml-parakeet-tdt-0.6b-v3-f16.bin");
    userFile("config", "LANGUAGE=en\n");
    auto o = options();
    o.env["VAK_MODEL_BASE_URL"] = host.url();
    for (const bool first : {true, false}) {
        const auto run = runVak({"--setup-engine"}, o);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        for (const char* once : {"· DECODE_MODEL=parakeet-tdt-0.6b-v3 chosen for this machine: ",
                                 "· timing one decode of a short clip with parakeet-tdt-0.6b-v3"})
            EXPECT_EQ(run.out.find(once) != std::string::npos, first) << run.out;
        EXPECT_CONTAINS(run.out, "✓ parakeet-tdt-0.6b-v3 (Parakeet) decodes 6 s of audio in ");
    }
    const std::string speeds = home.file(".dictation/model-speeds");
    EXPECT_EQ(loadModelSpeeds(speeds).size(), 1u);
    EXPECT_EQ(filePermissions(speeds), 0600);
    EXPECT_CONTAINS(readFixture(home.file(".dictation/config")),
                    "\nDECODE_MODEL=parakeet-tdt-0.6b-v3");
}

} // namespace
} // namespace vak

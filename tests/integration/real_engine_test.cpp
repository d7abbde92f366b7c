// The program against the real whisper.cpp: whisper-cli, whisper-server and the Parakeet server
// built from the pinned source by ./scripts/test, with whisper.cpp's own test models (the real file
// format, no trained weights: they decode to empty text or nonsense), its real VAD model and its
// jfk.wav. What is checked is that every path runs without falling back and what the log says;
// words come from the fakes.
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
        bin = environment("VAK_REAL_WHISPER_BIN");
        data = environment("VAK_REAL_WHISPER_DATA");
        if (bin.empty() || !isExecutableFile(bin + "/whisper-cli")) {
            const std::string why = environment("VAK_REAL_ENGINE_SKIP");
            GTEST_SKIP() << "no real whisper.cpp build: "
                         << (why.empty() ? "run ./scripts/test, which builds it from the pinned "
                                           "source into the build folder"
                                         : why);
        }
        models = home.file(".whisper-models");
        std::filesystem::create_directories(models);
        copy("models/for-tests-ggml-tiny.en.bin", "ggml-large-v3-turbo-q5_0.bin");
        copy("models/for-tests-ggml-base.en.bin", "ggml-base.en-q5_1.bin");
        copy("models/for-tests-silero-v6.2.0-ggml.bin", "ggml-silero-v5.1.2.bin");
        // The first three seconds of jfk.wav: with beam search, a model without weights decodes
        // every window to its token limit, which takes a while on a small machine.
        const std::string sample = test::readFixture(data + "/samples/jfk.wav");
        const auto offset = findWavDataOffset(data + "/samples/jfk.wav").value_or(44);
        writeFixture(jfk, wavHeader(3 * 32000) + sample.substr(offset, 3 * 32000));
    }
    void TearDown() override {
        if (server) {
            server->terminate();
            server->wait();
        }
    }
    void copy(const std::string& from, const std::string& to) const {
        std::filesystem::copy_file(data + "/" + from, models + "/" + to,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    test::BinaryOptions options(const std::string& tools = "") const {
        auto o = BinaryTest::options();
        o.env["VAK_TOOL_PATH"] = tools.empty() ? bin : tools;
        o.env["VAK_WHISPER_SERVER_URL"] = serverUrl;
        o.env["VAK_CAPTION_SERVER_URL"] = test::deadUrl("/inference");
        o.timeoutSeconds = 280;
        return o;
    }
    test::BinaryRun transcribe(const std::string& config, const std::string& tools = "",
                               const std::string& clip = "") const {
        userFile("config", "CLOUD=0\n" + config);
        return runVak({"--transcribe-file", clip.empty() ? jfk : clip}, options(tools));
    }
    // A whisper-server started by hand without a VAD model, as a user would.
    void startServer() {
        const int port = freePort();
        SpawnOptions spawn;
        spawn.argv = {bin + "/whisper-server",
                      "-m",
                      models + "/ggml-large-v3-turbo-q5_0.bin",
                      "--host",
                      "127.0.0.1",
                      "--port",
                      std::to_string(port),
                      "-t",
                      "2"};
        server = Subprocess::spawn(spawn);
        ASSERT_TRUE(server);
        ASSERT_TRUE(test::waitUntil([&] { return serverAnswers("/usr/bin/curl", port); }, 60));
        serverUrl = "http://127.0.0.1:" + std::to_string(port) + "/inference";
    }

    std::string bin;
    std::string data;
    std::string models;
    std::string jfk = home.file("jfk3.wav");
    std::string serverUrl = test::deadUrl("/inference");
    std::shared_ptr<Subprocess> server;
};

// `warned` allows the warning that an option or the server's VAD model is missing.
void expectDecodes(const test::BinaryRun& run, bool warned = false) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "\n");
    EXPECT_EQ(run.err.find("falling back"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("!!"), std::string::npos) << run.err;
    if (!warned) {
        EXPECT_EQ(run.err.find(" has no "), std::string::npos) << run.err;
    }
}

// whisper-cli, once per configuration: the test model hears nothing, so an empty transcript but a
// transcript, with nothing falling back and no option missing; or a failure logged with its cause.
// Without the VAD model: on this machine whisper.cpp's VAD pass did not finish within minutes under
// load (even on silence), and a model without weights decodes speech to its token limit, so the
// clip is short. The older tool also stands for call mode, to spare a run.
TEST_F(RealEngine, WhisperCliDecodesEveryConfigurationOrSaysWhyNot) {
    removeFile(models + "/ggml-silero-v5.1.2.bin");
    // As a release without --carry-initial-prompt behaves: its help lacks it, and it refuses it the
    // way whisper-cli refuses any unknown option.
    const test::TempDir older;
    const std::string wrapper = older.file("whisper-cli");
    writeFixture(wrapper, "#!/bin/sh\nif [ \"$1\" = --help ]; then\n  \"" + bin +
                              "/whisper-cli\" --help 2>&1 | grep -v -- --carry-initial-prompt >&2\n"
                              "  exit 0\nfi\nfor a in \"$@\"; do\n  [ \"$a\" = "
                              "--carry-initial-prompt ] && { echo \"error: unknown argument: $a\" "
                              ">&2; exit 0; }\ndone\nexec \"" +
                              bin + "/whisper-cli\" \"$@\"\n");
    setPermissions(wrapper, 0755);
    struct Case {
        const char* config;
        bool older;
        bool damage;        // the model's magic overwritten first
        std::string logged; // "" for a clean decode
    };
    const Case cases[] = {
        {"", false, false, ""},
        {"WHISPER_MODE=1\nPREPROCESS=0\n", false, false, ""},
        {"CALL_MODE=1\nPREPROCESS=0\n", true, false,
         "⚠️ " + wrapper +
             " has no --carry-initial-prompt — running it without that option "
             "(whisper.cpp v1.9.3 has them"},
        {"PREPROCESS=0\nLANGUAGE=en-us\n", false, false,
         "!! whisper-cli exit 0, no output: error: unknown language 'en-us'\n"},
        {"PREPROCESS=0\n", false, true,
         "!! whisper-cli exit 3, no output: whisper_model_load: invalid model "
         "data (bad magic)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        if (c.damage) {
            const std::string model = models + "/ggml-large-v3-turbo-q5_0.bin";
            writeFixture(model, "JUNK" + test::readFixture(model).substr(4));
        }
        const auto run =
            transcribe(std::string("SERVER=0\n") + c.config, c.older ? older.path() : "");
        const bool fails = c.logged.starts_with("!!");
        EXPECT_EQ(run.exitCode, fails ? 1 : 0) << run.err;
        if (!fails) expectDecodes(run, c.older);
        if (!c.logged.empty()) {
            EXPECT_CONTAINS(run.err, c.logged);
        }
    }
}

// Asked with the gate first, then without it, and with whisper-cli's settings.
TEST_F(RealEngine, AServerStartedWithoutAVadModelDecodesWithWhisperClisSettings) {
    startServer();
    for (const char* config : {"", "LANGUAGE=de\nPREPROCESS=0\n"}) {
        SCOPED_TRACE(config);
        const auto run = transcribe(std::string("SERVER=1\n") + config);
        expectDecodes(run, true);
        EXPECT_CONTAINS(run.err,
                        "⚠️ whisper-server has no VAD model (with VAD on it answered HTTP "
                        "500 \"failed to process audio\")");
    }
}

// The kept server comes back after a kill, switches models, and then serves a caption pass, which
// the real server takes with the caption decode's fields (its answer is empty: the test model knows
// no words); it ends with its keeper.
TEST_F(RealEngine, TheKeptServerComesBackSwitchesModelsServesCaptionsAndStopsWithItsKeeper) {
    ServerKeeperSettings settings;
    settings.tool = bin + "/whisper-server";
    settings.model = models + "/ggml-large-v3-turbo-q5_0.bin";
    settings.vadModel = models + "/ggml-silero-v5.1.2.bin";
    settings.port = freePort();
    settings.firstPauseSeconds = 0.2;
    // All cores, not the daemon's share (one of two here): the caption pass runs alone, and what is
    // checked is the request, not whether this machine encodes a window in time.
    settings.threads = engineThreads(false).decode;
    const int port = settings.port;
    auto keeper = ServerKeeper::start(settings);
    ASSERT_TRUE(keeper);
    const auto cameBack = [&](int old) {
        return test::waitUntil(
            [&] {
                return keeper->pid() != 0 && keeper->pid() != old &&
                       serverAnswers("/usr/bin/curl", port);
            },
            60);
    };
    ASSERT_TRUE(cameBack(0));
    const int first = keeper->pid();
    // Another keeper finds it answering and leaves it alone.
    EXPECT_FALSE(ServerKeeper::start(settings));
    ::kill(first, SIGKILL);
    EXPECT_TRUE(cameBack(first));
    const int second = keeper->pid();

    // Another model picked: the server is started again at once, with it.
    const std::string other = models + "/ggml-base.en-q5_1.bin";
    keeper->useModel(other);
    ASSERT_TRUE(cameBack(second));
    const int third = keeper->pid();
    EXPECT_NE(test::readFixture("/proc/" + std::to_string(third) + "/cmdline").find(other),
              std::string::npos);
    EXPECT_NE(::kill(second, 0), 0);

    CaptionSettings captions;
    captions.liveCaptions = true;
    captions.intervalSeconds = 2;
    captions.windowSeconds = 10;
    captions.model = other;
    captions.serverUrl = "http://127.0.0.1:" + std::to_string(port) + "/inference";
    captions.whisperCli = home.file("no-whisper-cli"); // standing in could only fail, and say so
    captions.scratchBase = home.file("caption");
    // The test model's words are noise, so the server decodes tokens up to its limit: beside the
    // other suites that can outlast a pass's 10 s, and the request is what is checked here.
    captions.timeScale = 3;
    const auto engine = CaptionEngine::create(captions);
    engine->simStart(jfk);
    {
        const test::LogCapture log;
        engine->simPass();
        for (const std::string& line : log.messages()) {
            EXPECT_EQ(line.find("caption pass"), std::string::npos) << line;
            EXPECT_EQ(line.find("caption server "), std::string::npos) << line;
        }
    }

    keeper.reset();
    EXPECT_FALSE(serverAnswers("/usr/bin/curl", port));
    EXPECT_NE(::kill(third, 0), 0); // gone, not orphaned
}

// A busy process on every core, as a build or a browser would be; stopped with the object.
class CpuHog {
  public:
    CpuHog() {
        const long cores = std::max(::sysconf(_SC_NPROCESSORS_ONLN), 1L);
        for (long i = 0; i < cores; ++i) {
            SpawnOptions spawn;
            spawn.argv = {"/usr/bin/yes"}; // its output goes to /dev/null
            hogs_.push_back(Subprocess::spawn(spawn));
        }
    }
    ~CpuHog() {
        for (const auto& hog : hogs_) {
            if (!hog) continue;
            hog->kill();
            hog->wait();
        }
    }
    CpuHog(const CpuHog&) = delete;
    CpuHog& operator=(const CpuHog&) = delete;

  private:
    std::vector<std::shared_ptr<Subprocess>> hogs_;
};

TEST_F(RealEngine, TheVadPathFinishesBesideACpuHog) {
    // The whole of jfk.wav through whisper-cli with the voice gate, as a dictation without the
    // server decodes, while every core is taken: a build without OpenMP's passive wait (or with
    // more threads than cores) spins at its barriers and meets the watchdog.
    const std::string whole = home.file("jfk.wav");
    std::filesystem::copy_file(data + "/samples/jfk.wav", whole);
    const CpuHog hog;
    const auto start = SteadyClock::now();
    const auto run = transcribe("SERVER=0\nPREPROCESS=0\n", "", whole);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("watchdog"), std::string::npos) << run.err;
    // The watchdog's limit for 11 s is 82 s; a stall comes close to it.
    EXPECT_LT(secondsSince(start), 41) << run.err;
}

// The Parakeet server built from the pinned source, with whisper.cpp's Parakeet test model as
// DECODE_MODEL=parakeet-tdt-0.6b-v3, kept by a ServerKeeper as the daemon keeps it.
class RealParakeet : public RealEngine {
  protected:
    void SetUp() override {
        RealEngine::SetUp();
        if (IsSkipped()) return;
        if (!isExecutableFile(bin + "/vak-parakeet-server"))
            GTEST_SKIP() << "no vak-parakeet-server in " << bin;
        copy("models/for-tests-ggml-parakeet-tdt.bin", "ggml-parakeet-tdt-0.6b-v3.bin");
        model = models + "/ggml-parakeet-tdt-0.6b-v3.bin";
    }
    std::unique_ptr<ServerKeeper> keep(const std::string& modelFile) {
        ServerKeeperSettings settings;
        settings.name = "Parakeet server";
        settings.tool = bin + "/vak-parakeet-server";
        settings.model = modelFile;
        settings.port = freePort();
        settings.threads = engineThreads(false).decode;
        settings.firstPauseSeconds = 0.2;
        serverUrl = "http://127.0.0.1:" + std::to_string(settings.port) + "/inference";
        port = settings.port;
        return ServerKeeper::start(settings);
    }
    bool answers() const { return serverAnswers("/usr/bin/curl", port); }
    test::BinaryRun decode(const std::string& config) const {
        return transcribe("DECODE_MODEL=parakeet-tdt-0.6b-v3\n" + config);
    }

    std::string model;
    int port = 0;
};

// One kept server through every route: whisper's quiet-voice and call modes decode with
// whisper-cli, but Parakeet has only its server, in every mode, and a language it does not know is
// no error (it detects its own); it races the cloud engine, whose text wins only when the test
// model's nonsense is not first; it comes back after a kill, and ends with its keeper.
TEST_F(RealParakeet, DecodesThroughEveryRouteRacesTheCloudAndComesBackAfterAKill) {
    auto keeper = keep(model);
    ASSERT_TRUE(keeper);
    ASSERT_TRUE(test::waitUntil([&] { return answers(); }, 60));
    const test::FakeSpeechServer cloud;
    const std::string words = "Ask not what your country can do.";
    const std::string toCloud = "CLOUD=1\nTRANSCRIBE_URL=" + cloud.url("/transcribe") + "\n";
    struct Case {
        std::string config;
        const char* event = nullptr; // "kill" or "stop" the server first
        double cloudDelay = 0;
        int cloudStatus = 200;
        const char* race = nullptr; // the race's log line
    };
    const Case cases[] = {
        {"WHISPER_MODE=1\n"},
        {"CALL_MODE=1\nLANGUAGE=ja\n"},
        {"SERVER=0\nPREPROCESS=0\n"},
        {toCloud, nullptr, 4, 200, "decode race: local won (cloud dnf · local "},
        {toCloud, "kill", 0, 500, "decode race: local won (cloud "},
        {toCloud, "stop", 0, 200, "decode race: cloud won (cloud "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config + (c.event ? c.event : ""));
        const int pid = keeper ? keeper->pid() : 0;
        if (c.event && std::string_view(c.event) == "kill") {
            ::kill(pid, SIGKILL);
            ASSERT_TRUE(test::waitUntil(
                [&] { return keeper->pid() != 0 && keeper->pid() != pid && answers(); }, 60));
        } else if (c.event) {
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
        EXPECT_EQ(run.out == words + "\n", keeper == nullptr) << run.out;
    }
}

// A daemon that dies without stopping its server (a crash, KILL, its display gone) leaves no server
// behind: `timeout` stands in for it as the server's parent.
TEST_F(RealParakeet, EndsWithTheProcessThatStartedIt) {
    port = freePort();
    SpawnOptions options;
    options.argv = {
        "/usr/bin/timeout", "300",    bin + "/vak-parakeet-server", "-m", model, "--host",
        "127.0.0.1",        "--port", std::to_string(port)};
    auto starter = Subprocess::spawn(options);
    ASSERT_TRUE(starter);
    ASSERT_TRUE(test::waitUntil([&] { return answers(); }, 60));
    const std::string children =
        test::readFixture("/proc/" + std::to_string(starter->pid()) + "/task/" +
                          std::to_string(starter->pid()) + "/children");
    const int orphan = std::atoi(children.c_str());
    ASSERT_GT(orphan, 0) << children;
    starter->kill();
    starter->wait();
    // Gone, or a zombie nobody here reaps.
    const auto ended = [orphan] {
        const std::string stat = test::readFixture("/proc/" + std::to_string(orphan) + "/stat");
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    EXPECT_TRUE(test::waitUntil(ended, 10));
    if (!ended()) ::kill(orphan, SIGKILL);
}

TEST_F(RealParakeet, ADamagedModelIsLoggedWithItsCause) {
    std::string bytes = test::readFixture(model);
    bytes.replace(0, 4, "JUNK");
    writeFixture(model, bytes);
    const test::LogCapture log;
    auto keeper = keep(model);
    ASSERT_TRUE(keeper);
    EXPECT_TRUE(test::waitUntil(
        [&] { return log.text().find("Parakeet server ended") != std::string::npos; }, 60));
    EXPECT_CONTAINS(log.text(), "⚠️ Parakeet server ended (exit 3: error: cannot load the "
                                "Parakeet model " +
                                    model +
                                    ": parakeet_model_load: invalid model data (bad magic))");
    // A decode meanwhile says that the local engine is not there and why it gave up.
    const auto run = decode("");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_CONTAINS(run.err, "!! Parakeet server not answering (clip 3s) — no local decode");
}

// A first set-up on this machine (no GPU whisper.cpp can use): Parakeet chosen and fetched from the
// download site's stand-in, one decode timed on its real server and kept; the next set-up reads the
// speed instead of timing again, and a model the user named is timed as it is.
TEST_F(RealParakeet, AFirstSetUpChoosesParakeetAndTimesADecodeOnce) {
    removeFile(models + "/ggml-large-v3-turbo-q5_0.bin");
    removeFile(model);
    const test::ModelHost host;
    std::filesystem::copy_file(data + "/models/for-tests-ggml-parakeet-tdt.bin",
                               host.dir() + "/ggml-parakeet-tdt-0.6b-v3-f16.bin");
    const std::string speeds = home.file(".dictation/model-speeds");
    struct Case {
        const char* config;
        const char* said;  // on standard output
        const char* timed; // the model whose speed is said
    };
    const Case cases[] = {
        {"", "· DECODE_MODEL=parakeet-tdt-0.6b-v3 chosen for this machine: ",
         "· timing one decode of a short clip with parakeet-tdt-0.6b-v3 on this "
         "machine"},
        {"", "✓ parakeet-tdt-0.6b-v3 (Parakeet) decodes 6 s of audio in ", nullptr},
        {"DECODE_MODEL=large-v3-turbo-q5_0\n",
         "✓ large-v3-turbo-q5_0 (whisper) decodes 6 s of audio",
         "· timing one decode of a short clip with large-v3-turbo-q5_0"},
    };
    userFile("config", "LANGUAGE=en\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        if (*c.config) {
            userFile("config", c.config);
            copy("models/for-tests-ggml-tiny.en.bin", "ggml-large-v3-turbo-q5_0.bin");
        }
        auto o = options();
        o.env["VAK_MODEL_BASE_URL"] = host.url();
        const auto run = runVak({"--setup-engine"}, o);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_CONTAINS(run.out, c.said);
        EXPECT_EQ(run.out.find("· timing one decode") != std::string::npos, c.timed != nullptr)
            << run.out;
        if (c.timed) {
            EXPECT_CONTAINS(run.out, c.timed);
        }
        EXPECT_CONTAINS(run.out, "here: after the stop a typical dictation waits about ");
    }
    EXPECT_EQ(loadModelSpeeds(speeds).size(), 2u);
    EXPECT_EQ(filePermissions(speeds), 0600);
    EXPECT_CONTAINS(test::readFixture(home.file(".dictation/config")),
                    "DECODE_MODEL=large-v3-turbo-q5_0");
}

} // namespace
} // namespace vak

#include "support/temp_dir.h"
#include "transcribe/speech_tools.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::TempDir;
using test::writeFixture;

DecodeSettings toolSettings(const TempDir& dir) {
    DecodeSettings s;
    s.whisperCli = "/tools/whisper-cli";
    s.ffmpeg = "/tools/ffmpeg";
    s.model = "/models/decode.bin";
    s.vadModel = dir.file("vad.bin");
    s.serverUrl = "http://127.0.0.1:8977/inference";
    s.prompt = "Names: Kubernetes.";
    s.config = Config::defaults("/home/u");
    s.config.transcribeUrl = "https://speech.example/transcribe";
    return s;
}

TEST(SpeechTools, VoiceGateIsLoweredOnlyInQuietVoiceAndCallModes) {
    struct Case {
        double threshold;
        bool whisperMode;
        bool callMode;
        const char* text;
    };
    const Case cases[] = {
        {0.5, false, false, "0.5"}, {0.5, true, false, "0.15"}, {0.5, false, true, "0.2"},
        {0.5, true, true, "0.15"},  {0.1, false, false, "0.1"}, {0.1, true, false, "0.1"},
        {0.1, false, true, "0.1"},  {1.0, false, false, "1.0"},
    };
    for (const auto& c : cases) {
        Config config;
        config.vadThreshold = c.threshold;
        config.whisperMode = c.whisperMode;
        config.callMode = c.callMode;
        EXPECT_EQ(vadThresholdText(config), c.text) << c.threshold << c.whisperMode << c.callMode;
    }
}

TEST(SpeechTools, FilterChainFollowsTheMode) {
    Config config;
    EXPECT_EQ(preprocessFilterChain(config),
              "highpass=f=70,afftdn=nf=-25:tn=1,dynaudnorm=f=200:g=15:p=0.9:m=10");
    config.callMode = true;
    EXPECT_EQ(preprocessFilterChain(config),
              "highpass=f=80,afftdn=nf=-20:tn=1,dynaudnorm=f=150:g=21:p=0.95:m=20");
    config.whisperMode = true; // quiet voice wins over call mode
    EXPECT_EQ(preprocessFilterChain(config),
              "highpass=f=80,afftdn=nf=-20:tn=1,speechnorm=e=25:r=0.0002:l=1");
}

TEST(SpeechTools, CurlLimitsAreWholeSecondsAndNeverUnlimited) {
    EXPECT_EQ(curlMaxTime(29.9), "29");
    EXPECT_EQ(curlMaxTime(80), "80");
    EXPECT_EQ(curlMaxTime(0.4), "1"); // "0" would switch curl's limit off
    EXPECT_EQ(curlMaxTime(-3), "1");
}

TEST(SpeechTools, FilePathsThatCurlWouldSplitAreQuoted) {
    EXPECT_EQ(curlFileField("file", "/tmp/vak_rec_3.wav"), "file=@/tmp/vak_rec_3.wav");
    EXPECT_EQ(curlFileField("file", "/d/a;type=text/x.wav"), "file=@\"/d/a;type=text/x.wav\"");
    EXPECT_EQ(curlFileField("file", "/d/a,b\"c\\.wav"), "file=@\"/d/a,b\\\"c\\\\.wav\"");
}

TEST(SpeechTools, RequestArgumentListsInOrder) {
    TempDir dir;
    DecodeSettings s = toolSettings(dir);
    const std::vector<std::string> cloud = {"/usr/bin/curl",
                                            "-s",
                                            "--max-time",
                                            "29",
                                            "--url",
                                            "https://speech.example/transcribe",
                                            "--form-string",
                                            "platform=linux",
                                            "-F",
                                            "file=@/tmp/a.wav",
                                            "--form-string",
                                            "language=en",
                                            "--form-string",
                                            "prompt=Names: Kubernetes."};
    EXPECT_EQ(cloudRequestArguments(s, "/tmp/a.wav", 29.9), cloud);

    std::vector<std::string> server = {"/usr/bin/curl",
                                       "-s",
                                       "--max-time",
                                       "60",
                                       "--url",
                                       "http://127.0.0.1:8977/inference",
                                       "-F",
                                       "file=@/tmp/a.wav",
                                       "--form-string",
                                       "response_format=json",
                                       "--form-string",
                                       "language=en",
                                       "--form-string",
                                       "prompt=Names: Kubernetes."};
    EXPECT_EQ(serverRequestArguments(s, "/tmp/a.wav", 60), server);
    writeFixture(s.vadModel, "vad");
    server.insert(server.end(), {"--form-string", "vad=true"});
    EXPECT_EQ(serverRequestArguments(s, "/tmp/a.wav", 60), server);

    s.config.callMode = true;
    const std::vector<std::string> ffmpeg = {
        "/tools/ffmpeg",
        "-hide_banner",
        "-loglevel",
        "error",
        "-y",
        "-i",
        "file:/tmp/a.wav",
        "-af",
        "highpass=f=80,afftdn=nf=-20:tn=1,dynaudnorm=f=150:g=21:p=0.95:m=20",
        "-ar",
        "16000",
        "-ac",
        "1",
        "-c:a",
        "pcm_s16le",
        "file:/tmp/a.wav.pp.wav"};
    EXPECT_EQ(ffmpegArguments(s, "/tmp/a.wav", "/tmp/a.wav.pp.wav"), ffmpeg);
}

} // namespace
} // namespace vak

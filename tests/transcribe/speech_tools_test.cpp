#include "support/speech_fakes.h"
#include "transcribe/engine_threads.h"
#include "transcribe/speech_tools.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::commandLine;

// The engines that run at once never take more threads than there are cores (each has one at
// least), and decoding, which the user waits for, never has fewer than the captions.
TEST(EngineThreads, TheEnginesTogetherFitTheCores) {
    for (const long cores : {-1L, 0L, 1L, 2L, 3L, 4L, 6L, 8L, 12L, 16L, 64L}) {
        for (const auto& [captions, shared] : {std::pair{false, false}, std::pair{true, false},
                                               std::pair{false, true}, std::pair{true, true}}) {
            SCOPED_TRACE(std::to_string(cores) + (captions ? " cores, captions" : " cores") +
                         (shared ? " from the decode server" : ""));
            // A shared server runs a decode and a caption pass at once, each with its count.
            const EngineThreads t = engineThreads(cores, captions, shared);
            EXPECT_GE(t.decode, 1);
            EXPECT_EQ(t.captions >= 1, captions);
            EXPECT_LE(t.decode + t.captions, std::max(cores, captions ? 2L : 1L));
            EXPECT_GE(t.decode, t.captions);
            EXPECT_TRUE(cores < 2 || cores > 8 || captions || t.decode == cores); // all of them
        }
    }
}

// "0" would switch curl's limit off. Text goes in --form-string fields, which curl never reads
// as "@file" or "<file"; only the clip is a file, quoted where curl would split its path.
TEST(SpeechTools, CurlGetsWholeSecondsAndOnlyTheClipAsAFile) {
    EXPECT_EQ(curlMaxTime(29.9), "29");
    EXPECT_EQ(curlMaxTime(0.4), "1");
    EXPECT_EQ(curlFileField("file", "/d/a;type=text/x.wav"), "file=@\"/d/a;type=text/x.wav\"");
    EXPECT_EQ(curlFileField("file", "/d/a,b\"c\\.wav"), "file=@\"/d/a,b\\\"c\\\\.wav\"");
    DecodeSettings s;
    s.prompt = "@names.txt";
    s.config = Config::defaults("/home/u");
    for (const auto& args : {cloudRequestArguments(s, "/tmp/a.wav", 29.9),
                             serverRequestArguments(s, "/tmp/a.wav", 60, true)}) {
        for (std::size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == "-F") {
                EXPECT_EQ(args[i + 1], "file=@/tmp/a.wav") << commandLine(args);
            }
        }
        EXPECT_NE(std::find(args.begin(), args.end(), "prompt=@names.txt"), args.end());
    }
}

} // namespace
} // namespace vak

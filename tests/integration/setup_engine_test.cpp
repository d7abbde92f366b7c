#include "base/file_digest.h"
#include "base/files.h"
#include "binary_fixture.h"
#include "support/expect_contains.h"

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::runVak;

// Against the download site's stand-in, which breaks the first transfer off after 100 kB. What a
// download checks and which model a machine gets are the transcribe suite's business.
class SetupEngine : public test::BinaryTest {
  protected:
    SetupEngine() {
        userFile("config", "DECODE_MODEL=tiny.en\nLIVE_CAPTIONS=0\n");
        std::string model = "lmgg";
        for (std::size_t i = 0; model.size() < 300000; ++i)
            model += static_cast<char>((i * 31 + i / 97) & 0xff);
        test::writeFixture(host.dir() + "/ggml-tiny.en.bin", model);
        test::writeFixture(host.dir() + "/ggml-silero-v5.1.2.bin", "lmgg silero");
        const auto sha1 = fileDigestHex(host.dir() + "/ggml-tiny.en.bin", Digest::Sha1);
        test::writeFixture(home.file("sums"), sha1.value_or("") + "  ggml-tiny.en.bin\n");
    }
    test::BinaryRun setup(const std::string& base = "") const {
        auto o = options();
        o.env["VAK_MODEL_BASE_URL"] = base.empty() ? host.url() : base;
        o.env["VAK_MODEL_SHA1SUMS"] = home.file("sums");
        return runVak({"--setup-engine", "models"}, o);
    }
    std::string model(const std::string& name) const {
        return home.file(".whisper-models/ggml-" + name + ".bin");
    }

    test::ModelHost host{100000};
};

// Only the missing bytes are asked for the second time, and nothing once all is there.
TEST_F(SetupEngine, ABrokenDownloadIsResumedByTheNextRun) {
    const auto first = setup();
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_CONTAINS(first.err, "✕ the download of tiny.en broke off (");
    EXPECT_CONTAINS(first.err, "the part received is kept: run the set-up again to resume it\n");
    EXPECT_TRUE(isRegularFile(model("silero-v5.1.2")));
    const auto second = setup();
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_CONTAINS(second.out, "✓ " + model("tiny.en") + " (resumed)\n");
    EXPECT_EQ(host.requests().back(), "GET /ggml-tiny.en.bin bytes=100000-");
    const auto requests = host.requests().size();
    EXPECT_EQ(setup().exitCode, 0);
    EXPECT_EQ(host.requests().size(), requests);
}

TEST_F(SetupEngine, OfflineItSaysWhatToDo) {
    const auto offline = setup(test::deadUrl(""));
    EXPECT_EQ(offline.exitCode, 1);
    EXPECT_CONTAINS(offline.err, "✕ cannot reach " + test::deadUrl("").substr(0, 17));
    EXPECT_CONTAINS(offline.err, "— offline? Put ggml-tiny.en.bin into " +
                                     home.file(".whisper-models") +
                                     "/ by hand, or set VAK_MODEL_BASE_URL to a mirror");
}

} // namespace
} // namespace vak

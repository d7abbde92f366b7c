#include "base/file_digest.h"
#include "base/files.h"
#include "binary_fixture.h"
#include "support/expect_contains.h"

#include <filesystem>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::runVak;
using test::writeFixture;

// `--setup-engine models` against the download site's stand-in, which breaks the first transfer
// off after 100 kB.
class SetupEngine : public test::BinaryTest {
  protected:
    SetupEngine() {
        userFile("config", "DECODE_MODEL=tiny.en\nLIVE_CAPTIONS=0\n");
        std::string model = "lmgg";
        for (std::size_t i = 0; model.size() < 300000; ++i)
            model += static_cast<char>((i * 31 + i / 97) & 0xff);
        writeFixture(host.dir() + "/ggml-tiny.en.bin", model);
        writeFixture(host.dir() + "/ggml-silero-v5.1.2.bin", "lmgg silero");
        sums(fileDigestHex(host.dir() + "/ggml-tiny.en.bin", Digest::Sha1).value_or(""));
    }
    void sums(const std::string& sha1) const {
        writeFixture(home.file("sums"), sha1 + "  ggml-tiny.en.bin\n");
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

TEST_F(SetupEngine, ABrokenDownloadIsResumedByTheNextRunAndAWrongOneRemoved) {
    const auto first = setup();
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_CONTAINS(first.err, "✕ the download of tiny.en broke off (");
    EXPECT_CONTAINS(first.err, "the part received is kept: run the set-up again to resume it\n");
    EXPECT_TRUE(isRegularFile(model("silero-v5.1.2")));
    EXPECT_CONTAINS(first.out, "(no checksum is published for it: its size and file format are "
                               "checked)\n");

    const auto second = setup();
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_CONTAINS(second.out, "✓ " + model("tiny.en") + " (resumed)\n");
    // Only the missing bytes were asked for the second time.
    EXPECT_EQ(host.requests().back(), "GET /ggml-tiny.en.bin bytes=100000-");
    EXPECT_CONTAINS(second.out, "✓ " + model("silero-v5.1.2") + "\n");
    // Nothing left to do: nothing is asked of the host.
    const auto requests = host.requests().size();
    EXPECT_EQ(setup().exitCode, 0);
    EXPECT_EQ(host.requests().size(), requests);

    removeFile(model("tiny.en"));
    sums(std::string(40, '0'));
    const auto wrong = setup();
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_CONTAINS(wrong.err, "✕ the download of tiny.en is not the published file (SHA-1 ");
    EXPECT_FALSE(pathExists(model("tiny.en")));
    EXPECT_FALSE(pathExists(model("tiny.en") + ".part"));
}

TEST_F(SetupEngine, OfflineOrAModelItCannotFetchItSaysWhatToDo) {
    const auto offline = setup(test::deadUrl(""));
    EXPECT_EQ(offline.exitCode, 1);
    EXPECT_CONTAINS(offline.err, "✕ cannot reach " + test::deadUrl("").substr(0, 17));
    EXPECT_CONTAINS(offline.err, "— offline? Put ggml-tiny.en.bin into " +
                                     home.file(".whisper-models") +
                                     "/ by hand, or set VAK_MODEL_BASE_URL to a mirror");
    userFile("config", "DECODE_MODEL=my-own\nLIVE_CAPTIONS=0\n");
    const auto unknown = setup();
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_CONTAINS(unknown.err, model("my-own") + " is missing, and it is not a model the set-up "
                                                   "can download");
}

// A first set-up (the configuration still names the default model, which is not there) picks
// the model for this machine (no GPU back-end here), fetches it (a Parakeet model under the host's
// name, kept under whisper.cpp's) and writes it into the configuration; a default model already
// installed stays.
TEST_F(SetupEngine, AFirstSetUpPicksTheModelForTheMachineAndSaysWhy) {
    const std::string parakeet = "lmgg" + std::string(50000, 'p');
    const std::string base = "lmgg" + std::string(60000, 'b');
    writeFixture(host.dir() + "/ggml-parakeet-tdt-0.6b-v3-f16.bin", parakeet);
    writeFixture(host.dir() + "/ggml-base.bin", base);
    writeFixture(home.file("sums"),
                 fileDigestHex(host.dir() + "/ggml-base.bin", Digest::Sha1).value_or("") +
                     "  ggml-base.bin\n");
    struct Case {
        const char* language;
        bool turboInstalled;
        const char* model; // DECODE_MODEL afterwards
        const char* said;
    };
    const Case cases[] = {
        {"en", false, "parakeet-tdt-0.6b-v3", "on a CPU Parakeet's cost follows the clip"},
        {"ja", false, "base", "Parakeet does not know LANGUAGE=ja"},
        {"en", true, "large-v3-turbo-q5_0", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language);
        std::filesystem::remove_all(home.file(".whisper-models"));
        if (c.turboInstalled) {
            std::filesystem::create_directories(home.file(".whisper-models"));
            writeFixture(model("large-v3-turbo-q5_0"), "lmgg");
        }
        userFile("config", std::string("LANGUAGE=") + c.language + "\nLIVE_CAPTIONS=0\n");
        auto o = options();
        o.env["VAK_MODEL_BASE_URL"] = host.url();
        o.env["VAK_MODEL_SHA1SUMS"] = home.file("sums");
        const auto run = runVak({"--setup-engine", "models"}, o);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_TRUE(isRegularFile(model(c.model))) << run.out;
        const std::string config = test::readFixture(home.file(".dictation/config"));
        if (c.said && c.model == std::string_view("parakeet-tdt-0.6b-v3")) {
            EXPECT_CONTAINS(run.out,
                            "· downloading parakeet-tdt-0.6b-v3 from " + host.url() +
                                "/ggml-parakeet-tdt-0.6b-v3-f16.bin\n  (no checksum is "
                                "published for it: its size and file format are checked)\n");
            EXPECT_EQ(test::readFixture(model(c.model)), parakeet);
        }
        if (c.said) {
            EXPECT_CONTAINS(run.out, std::string("· DECODE_MODEL=") + c.model +
                                         " chosen for this machine: ");
            EXPECT_CONTAINS(run.out, c.said);
            EXPECT_TRUE(config.ends_with(std::string("\nDECODE_MODEL=") + c.model)) << config;
        } else {
            EXPECT_EQ(run.out.find("chosen for this machine"), std::string::npos) << run.out;
            EXPECT_EQ(config.find("DECODE_MODEL"), std::string::npos);
        }
    }
}

} // namespace
} // namespace vak

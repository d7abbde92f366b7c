#pragma once

#include "support/run_binary.h"
#include "support/speech_fakes.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace vak::test {

// The built binary with a private HOME and scratch folder and a fixed locale.
class BinaryTest : public testing::Test {
  protected:
    BinaryOptions options(const std::string& input = "") const {
        BinaryOptions o;
        o.env["HOME"] = home.path();
        o.env["VAK_TMPDIR"] = scratch.path();
        o.env["LC_ALL"] = "en_US.UTF-8";
        o.input = input;
        return o;
    }
    // Writes `name` under ~/.dictation.
    void userFile(const std::string& name, const std::string& text) const {
        std::filesystem::create_directories(home.file(".dictation"));
        writeFixture(home.file(".dictation/" + name), text);
    }
    bool scratchIsEmpty() const { return std::filesystem::is_empty(scratch.path()); }

    TempDir home;
    TempDir scratch;
};

// With the fake whisper-cli as the only tool, no whisper-server, and both models in place.
class SpeechBinaryTest : public BinaryTest {
  protected:
    SpeechBinaryTest() {
        std::filesystem::create_directories(home.file(".whisper-models"));
        writeFixture(home.file(".whisper-models/ggml-large-v3-turbo-q5_0.bin"), "model");
        writeFixture(home.file(".whisper-models/ggml-base.en-q5_1.bin"), "model");
    }
    BinaryOptions options() const {
        BinaryOptions o = BinaryTest::options();
        o.env["VAK_TOOL_PATH"] = whisper.dir();
        o.env["VAK_WHISPER_SERVER_URL"] = deadUrl("/inference");
        o.env["VAK_CAPTION_SERVER_URL"] = deadUrl("/inference");
        o.timeoutSeconds = 120;
        return o;
    }

    FakeWhisper whisper;
};

} // namespace vak::test

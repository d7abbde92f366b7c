#pragma once

#include "support/speech_fakes.h"
#include "support/temp_dir.h"
#include "transcribe/decode_router.h"
#include "transcribe/decode_settings.h"

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace vak::test {

// Settings pointing at the fakes: whisper-cli, a model file, both speech servers on one fake
// server; conditioning off and no VAD model unless a test says otherwise.
class DecodeTest : public testing::Test {
  protected:
    DecodeTest() {
        writeFixture(work.file("model.bin"), "model");
        settings.whisperCli = whisper.path();
        settings.ffmpeg = work.file("no-ffmpeg");
        settings.model = work.file("model.bin");
        settings.vadModel = work.file("vad.bin");
        settings.serverUrl = server.url("/inference");
        settings.prompt = "Names: Kubernetes, PostgreSQL, Next.js.";
        settings.config = Config::defaults(work.path());
        settings.config.transcribeUrl = server.url("/transcribe");
        settings.config.preprocess = false;
        settings.scratch = ScratchFiles(work.path());
    }
    ~DecodeTest() override { waitForDecodeEngines(30); }

    std::string clip(const std::string& name, double seconds) const {
        writeFixture(work.file(name), toneWav(seconds));
        return work.file(name);
    }
    // Conditioned copies left in the scratch folder.
    std::size_t conditionedCopiesLeft() const {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(work.path()))
            count += entry.path().filename().string().starts_with("vak_pp_") ? 1 : 0;
        return count;
    }
    std::size_t requestsTo(const std::string& path) const {
        std::size_t count = 0;
        for (const auto& request : server.requests())
            count += request["path"] == path ? 1 : 0;
        return count;
    }

    TempDir work;
    FakeWhisper whisper;
    FakeSpeechServer server;
    DecodeSettings settings;
};

} // namespace vak::test

#include "base/files.h"
#include "foundation/config.h"
#include "support/temp_dir.h"

#include <functional>
#include <set>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vak {
namespace {

using test::readFixture;
using test::TempDir;
using test::writeFixture;

const std::string kHome = "/home/tester";

Config loadText(const std::string& text) {
    TempDir dir;
    writeFixture(dir.file("config"), text);
    return Config::load(dir.file("config"), kHome);
}

using C = const Config&;
struct ParseCase {
    std::string line;
    std::function<bool(C)> holds;
    std::string what;
};

TEST(ConfigParse, ValueRulesAndClamps) {
    const std::vector<ParseCase> cases = {
        {"VAD_THRESHOLD=1.7", [](C c) { return c.vadThreshold == 1.0; }, "clamped to 1"},
        {"VAD_THRESHOLD=-1", [](C c) { return c.vadThreshold == 0.0; }, "clamped to 0"},
        {"VAD_THRESHOLD=abc", [](C c) { return c.vadThreshold == 0.3; }, "kept"},
        {"VAD_THRESHOLD=nan", [](C c) { return c.vadThreshold == 0.3; }, "NaN kept out"},
        {"VAD_THRESHOLD=+0.25", [](C c) { return c.vadThreshold == 0.25; }, "plus sign"},
        {"VAD_THRESHOLD=0.4 # comment", [](C c) { return c.vadThreshold == 0.3; }, "no comments"},
        {"CAPTION_WINDOW=1", [](C c) { return c.captionWindow == 2; }, "window ≥ 2"},
        {"CAPTION_WINDOW=45", [](C c) { return c.captionWindow == 30; }, "window ≤ 30"},
        {"CAPTION_INTERVAL=0.1", [](C c) { return c.captionInterval == 0.5; }, "interval ≥ 0.5"},
        {"MAX_RECORD_SECONDS=3", [](C c) { return c.maxRecordSeconds == 10; }, "≥ 10 s"},
        {"MAX_RECORD_SECONDS=inf", [](C c) { return c.maxRecordSeconds == 2700; }, "not endless"},
        {"MAX_RECORD_SECONDS=1e4", [](C c) { return c.maxRecordSeconds == 10000; }, "exponent"},
        {"CHUNK_SECONDS=900", [](C c) { return c.chunkSeconds == 600; }, "chunk ≤ 600"},
        {"POLISH_ASK_TIMEOUT=1", [](C c) { return c.polishAskTimeout == 5; }, "timeout ≥ 5"},
        {"POLISH_MIN_WORDS=0", [](C c) { return c.polishMinWords == 1; }, "min words ≥ 1"},
        {"POLISH_MIN_WORDS=7.9", [](C c) { return c.polishMinWords == 7; }, "truncated"},
        {"POLISH_MIN_WORDS=1e30", [](C c) { return c.polishMinWords == 12; }, "too big"},
        {"HISTORY_DAYS=1000", [](C c) { return c.historyDays == 365; }, "days ≤ 365"},
        {"HISTORY_DAYS=-3", [](C c) { return c.historyDays == 0; }, "days ≥ 0"},
        {"HISTORY_DAYS=-0.5", [](C c) { return c.historyDays == 0; }, "truncated toward zero"},
        {"LIVE_CAPTIONS=TRUE", [](C c) { return c.liveCaptions; }, "TRUE"},
        {"LIVE_CAPTIONS=yes", [](C c) { return !c.liveCaptions; }, "yes is false"},
        {"LIVE_CAPTIONS=", [](C c) { return !c.liveCaptions; }, "empty is false"},
        {"CALL_MODE=1", [](C c) { return c.callMode; }, "1"},
        {"DEFAULT_MODE=RAW", [](C c) { return c.defaultMode == "normal"; }, "raw → normal"},
        {"DEFAULT_MODE=fancy", [](C c) { return c.defaultMode == "summarize"; }, "unknown kept"},
        {"SELECTED_MODE=Agent", [](C c) { return c.selectedMode == "agent"; }, "lower-cased"},
        {"HOTKEY=57", [](C c) { return c.hotkey == 54; }, "caps lock refused"},
        {"HOTKEY=100", [](C c) { return c.hotkey == 54; }, "not a modifier"},
        {"HOTKEY=61", [](C c) { return c.hotkey == 61; }, "right option"},
        {"HOTKEY=+62", [](C c) { return c.hotkey == 62; }, "plus sign"},
        {"HOTKEY=61.0", [](C c) { return c.hotkey == 54; }, "not an integer"},
        {"HOTKEY=65597", [](C c) { return c.hotkey == 54; }, "beyond 16 bits"},
        {"PRODUCER_KEY=56", [](C c) { return c.producerKey == 56; }, "left shift"},
        {"INPUT_DEVICE=", [](C c) { return c.inputDevice == "builtin"; }, "empty kept"},
        {"PRO_APPS=", [](C c) { return c.proApps.empty(); }, "empty allowed"},
        {"STYLE=", [](C c) { return c.style.empty(); }, "empty note"},
        {"STYLE=a=b # c", [](C c) { return c.style == "a=b # c"; }, "rest of line is the value"},
        {"  LANGUAGE = DE  ", [](C c) { return c.language == "de"; }, "trimmed, lower-cased"},
        {"LANGUAGE=", [](C c) { return c.language == "en"; }, "empty kept"},
        {"CAPTION_MODEL=~/m/b", [](C c) { return c.captionModel == kHome + "/m/b"; }, "tilde"},
        {"CAPTION_MODEL=/abs/~x", [](C c) { return c.captionModel == "/abs/~x"; }, "inner tilde"},
        {"POLISH_KEY=gsk_abc", [](C c) { return c.polishKey == "gsk_abc"; }, "key"},
        {"TRANSCRIBE_URL=", [](C c) { return c.transcribeUrl == DEFAULT_TRANSCRIBE_URL; }, "kept"},
        {"#VAD_THRESHOLD=0.1", [](C c) { return c.vadThreshold == 0.3; }, "comment"},
        {"VAD_THRESHOLD 0.1", [](C c) { return c.vadThreshold == 0.3; }, "no ="},
        {"vad_threshold=0.1", [](C c) { return c.vadThreshold == 0.3; }, "keys are case-sensitive"},
        {"VAD_THRESHOLD=0.5\r", [](C c) { return c.vadThreshold == 0.5; }, "CRLF line"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(c.holds(loadText(c.line + "\n"))) << c.line << " (" << c.what << ")";
    }
}

TEST(ConfigParse, LaterLinesOverrideAndDamagedValuesKeepEarlierOnes) {
    const Config c = loadText("CHUNK_SECONDS=45\nCHUNK_SECONDS=60\nVAD_THRESHOLD=0.5\n"
                              "VAD_THRESHOLD=oops\nUNKNOWN_KEY=1\n\n\nSERVER=0");
    EXPECT_EQ(c.chunkSeconds, 60);
    EXPECT_EQ(c.vadThreshold, 0.5);
    EXPECT_FALSE(c.useServer);
}

TEST(ConfigParse, EffectiveVadThresholdLowersTheGateForQuietAndCallModes) {
    EXPECT_DOUBLE_EQ(loadText("VAD_THRESHOLD=0.5").effectiveVadThreshold(), 0.5);
    EXPECT_DOUBLE_EQ(loadText("VAD_THRESHOLD=0.5\nCALL_MODE=1").effectiveVadThreshold(), 0.2);
    EXPECT_DOUBLE_EQ(
        loadText("VAD_THRESHOLD=0.5\nCALL_MODE=1\nWHISPER_MODE=1").effectiveVadThreshold(), 0.15);
    EXPECT_DOUBLE_EQ(loadText("VAD_THRESHOLD=0.1\nWHISPER_MODE=1").effectiveVadThreshold(), 0.1);
}

TEST(ConfigLoad, MissingFileGetsTheDefaultTextByteForByte) {
    TempDir dir;
    const std::string path = dir.file("config");
    const Config c = Config::load(path, "/Users/ann");
    EXPECT_EQ(c, Config::defaults("/Users/ann"));
    const std::string expected =
        "# vak-dictate runtime config — edit then run `vak restart` (no rebuild needed)\n"
        "VAD_THRESHOLD=0.3\n"
        "MAX_RECORD_SECONDS=2700\n"
        "LIVE_CAPTIONS=1\n"
        "CAPTION_INTERVAL=2.0\n"
        "CAPTION_WINDOW=10\n"
        "CAPTION_MODEL=/Users/ann/.whisper-models/ggml-base.en-q5_1.bin\n"
        "# builtin | default | <substring of a device name>\n"
        "INPUT_DEVICE=builtin\n"
        "# Pre-decode denoise + dynamic-normalize via ffmpeg (recovers quiet words)\n"
        "PREPROCESS=1\n"
        "# Phone/VoIP dictation: aggressive denoise + lower VAD gate. Toggle: `vak call`\n"
        "CALL_MODE=0\n"
        "# Rolling transcription: pre-transcribe finished audio every ~N seconds while\n"
        "# still recording, so long dictations paste in seconds. <20 disables.\n"
        "CHUNK_SECONDS=30\n"
        "# Speculative tail: decode during the pause before the stop tap. 0 disables.\n"
        "SPECULATIVE=1\n"
        "# Resident whisper-server for near-instant pastes (auto-fallback to CLI). 0 disables.\n"
        "SERVER=1\n"
        "# AI prompt-polish: restructure dictation into a precise prompt when the\n"
        "# frontmost app matches POLISH_APPS. Say \"verbatim\" first to skip once.\n"
        "POLISH=1\n"
        "POLISH_APPS=terminal,iterm,claude,code,cursor,warp\n"
        "POLISH_MIN_WORDS=12\n"
        "# Optional sk-ant key for the fast direct-API polish path (else `claude` CLI)\n"
        "POLISH_KEY=\n"
        "# Ask before polishing: Summarize / Keep-the-Same popup after each qualifying\n"
        "# dictation. Unanswered panels paste the raw transcript after the timeout.\n"
        "POLISH_ASK=1\n"
        "POLISH_ASK_TIMEOUT=30\n"
        "# Claude model for the Summarize rewrite (claude-haiku-4-5 = faster/lighter)\n"
        "POLISH_MODEL=claude-sonnet-5\n"
        "# Privacy mode: your words are never written to disk. 0 keeps an\n"
        "# encrypted history instead, unlocked by a key held in your Keychain.\n"
        "PRIVACY_MODE=1\n"
        "# Anything retained is deleted after this many days. 0 keeps nothing.\n"
        "HISTORY_DAYS=7\n"
        "# Keep the audio of the last dictation on disk. Off by default.\n"
        "KEEP_LAST_CLIP=0\n"
        "# Decode language: en, es, ... or auto (captions stay English)\n"
        "LANGUAGE=en\n"
        "# Whisper mode: quiet-voice dictation (strong gain + low VAD gate). Toggle: vak whisper\n"
        "WHISPER_MODE=0\n"
        "# Auto-Professional apps (bundle-id substrings). Empty disables.\n"
        "PRO_APPS=mobilesms,messages,mail,outlook,whatsapp,telegram,slack,discord\n"
        "# What a stop with NO chip clicked delivers: summarize | professional |\n"
        "# normal | ask (ask restores the old popup flow)\n"
        "DEFAULT_MODE=summarize\n"
        "# Remembered mode: whichever mode you last picked on the recording pill.\n"
        "# Written automatically when you click one; survives restarts.\n"
        "SELECTED_MODE=ask";
    EXPECT_EQ(readFixture(path), expected);
    EXPECT_EQ(filePermissions(path), 0600u);
    // Reading the written default file gives the defaults again.
    EXPECT_EQ(Config::load(path, "/Users/ann"), Config::defaults("/Users/ann"));
}

TEST(ConfigLoad, EmptyFileMeansDefaultsAndStaysEmpty) {
    TempDir dir;
    writeFixture(dir.file("config"), "");
    EXPECT_EQ(Config::load(dir.file("config"), kHome), Config::defaults(kHome));
    EXPECT_EQ(readFixture(dir.file("config")), "");
}

TEST(ConfigLoad, DamagedFileIsKeptAsideNotOverwritten) {
    TempDir dir;
    const std::string path = dir.file("config");
    const std::string damaged = "STYLE=caf\xe9\nCHUNK_SECONDS=45\n";
    writeFixture(path, damaged);
    EXPECT_EQ(Config::load(path, kHome), Config::defaults(kHome));
    EXPECT_EQ(readFixture(path + ".damaged"), damaged);
    EXPECT_EQ(readFixture(path), defaultConfigText(kHome));
}

TEST(ConfigKeys, EveryKeyIsKnownOnceAndSetsItsField) {
    const auto keys = configKeys();
    ASSERT_EQ(keys.size(), 33u);
    std::set<std::string_view> unique(keys.begin(), keys.end());
    EXPECT_EQ(unique.size(), 33u);
    // A plausible non-default value for every key must change the record.
    for (const auto key : keys) {
        Config changed = Config::defaults(kHome);
        const std::string k(key);
        std::string value = "9";
        if (k == "DEFAULT_MODE" || k == "SELECTED_MODE") value = "expand";
        if (k == "HOTKEY" || k == "PRODUCER_KEY") value = "60";
        if (k == "LIVE_CAPTIONS" || k == "PREPROCESS" || k == "SPECULATIVE" || k == "SERVER" ||
            k == "POLISH" || k == "POLISH_ASK" || k == "CLOUD" || k == "PRIVACY_MODE") {
            value = "0";
        }
        if (k == "CALL_MODE" || k == "WHISPER_MODE" || k == "KEEP_LAST_CLIP") value = "1";
        if (k == "VAD_THRESHOLD") value = "0.7";
        changed.apply(key, value, kHome);
        EXPECT_NE(changed, Config::defaults(kHome)) << k;
    }
}

class WriteConfigValue : public testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("config");
};

TEST_F(WriteConfigValue, ReplacesExactlyTheKeysLines) {
    writeFixture(path, "# comment SELECTED_MODE=x\nSELECTED_MODE=ask\n\nSELECTED_MODES=keep\n"
                       " SELECTED_MODE=indented\nSELECTED_MODE=again\n");
    EXPECT_TRUE(writeConfigValue(path, "SELECTED_MODE", "professional"));
    EXPECT_EQ(readFixture(path),
              "# comment SELECTED_MODE=x\nSELECTED_MODE=professional\n\nSELECTED_MODES=keep\n"
              " SELECTED_MODE=indented\nSELECTED_MODE=professional\n");
    EXPECT_EQ(filePermissions(path), 0600u);
}

TEST_F(WriteConfigValue, AppendsWhenAbsentAndCreatesAMissingFile) {
    writeFixture(path, "CLOUD=1");
    EXPECT_TRUE(writeConfigValue(path, "STYLE", "short"));
    EXPECT_EQ(readFixture(path), "CLOUD=1\nSTYLE=short");

    writeFixture(path, "CLOUD=1\n");
    EXPECT_TRUE(writeConfigValue(path, "STYLE", "short"));
    EXPECT_EQ(readFixture(path), "CLOUD=1\n\nSTYLE=short");
    EXPECT_EQ(Config::load(path, kHome).style, "short");

    const std::string fresh = dir.file("fresh");
    EXPECT_TRUE(writeConfigValue(fresh, "HOTKEY", "61"));
    EXPECT_EQ(readFixture(fresh), "\nHOTKEY=61");
    EXPECT_EQ(filePermissions(fresh), 0600u);
}

TEST_F(WriteConfigValue, LineBreaksInAValueCannotAddOrChangeKeys) {
    writeFixture(path, "POLISH_KEY=secret\nSTYLE=old\n");
    EXPECT_TRUE(writeConfigValue(path, "STYLE", "be brief\nPOLISH_KEY=stolen\r\nCLOUD=0\rX"));
    const Config c = Config::load(path, kHome);
    EXPECT_EQ(c.polishKey, "secret");
    EXPECT_TRUE(c.cloud);
    EXPECT_EQ(c.style, "be brief POLISH_KEY=stolen CLOUD=0 X");

    EXPECT_FALSE(writeConfigValue(path, "STYLE\nCLOUD", "0"));
    EXPECT_FALSE(writeConfigValue(path, "A=B", "0"));
    EXPECT_FALSE(writeConfigValue(path, "", "0"));
    EXPECT_TRUE(Config::load(path, kHome).cloud);
}

TEST_F(WriteConfigValue, RefusesToWipeAFileItCannotRead) {
    const std::string damaged = "STYLE=caf\xe9\nCLOUD=0\n";
    writeFixture(path, damaged);
    EXPECT_FALSE(writeConfigValue(path, "SELECTED_MODE", "agent"));
    EXPECT_EQ(readFixture(path), damaged);
}

TEST(FormatDecimal, KeepsAFractionalPart) {
    const std::pair<double, std::string> cases[] = {{0.3, "0.3"}, {2.0, "2.0"}, {0.15, "0.15"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(formatDecimal(value), text);
}

} // namespace
} // namespace vak

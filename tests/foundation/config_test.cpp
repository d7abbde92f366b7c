#include "base/environment.h"
#include "base/files.h"
#include "foundation/config.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
        {"VAD_THRESHOLD=abc", [](C c) { return c.vadThreshold == 0.3; }, "kept"},
        {"VAD_THRESHOLD=nan", [](C c) { return c.vadThreshold == 0.3; }, "NaN kept out"},
        {"VAD_THRESHOLD=+0.25", [](C c) { return c.vadThreshold == 0.25; }, "plus sign"},
        {"VAD_THRESHOLD=0.4 # comment", [](C c) { return c.vadThreshold == 0.3; }, "no comments"},
        {"MAX_RECORD_SECONDS=inf", [](C c) { return c.maxRecordSeconds == 2700; }, "not endless"},
        {"MAX_RECORD_SECONDS=1e4", [](C c) { return c.maxRecordSeconds == 10000; }, "exponent"},
        {"POLISH_MIN_WORDS=7.9", [](C c) { return c.polishMinWords == 7; }, "truncated"},
        {"POLISH_MIN_WORDS=1e30", [](C c) { return c.polishMinWords == 12; }, "too big"},
        {"HISTORY_DAYS=-0.5", [](C c) { return c.historyDays == 0; }, "truncated toward zero"},
        {"LIVE_CAPTIONS=TRUE", [](C c) { return c.liveCaptions; }, "TRUE"},
        {"LIVE_CAPTIONS=yes", [](C c) { return !c.liveCaptions; }, "yes is false"},
        {"DEFAULT_MODE=RAW", [](C c) { return c.defaultMode == DeliverMode::raw; }, "raw"},
        {"DEFAULT_MODE=fancy", [](C c) { return c.defaultMode == DeliverMode::summarize; }, "kept"},
        {"SELECTED_MODE=Agent", [](C c) { return c.selectedMode == DeliverMode::agent; },
         "any case"},
        {"TALK_MODE=HOLD", [](C c) { return c.talkMode == TalkMode::Hold; }, "any case"},
        {"TALK_MODE=push", [](C c) { return c.talkMode == TalkMode::Auto; }, "unknown kept"},
        {"HOTKEY=57", [](C c) { return c.hotkey == 54; }, "caps lock refused"},
        {"HOTKEY=61", [](C c) { return c.hotkey == 61; }, "right option"},
        {"HOTKEY=61.0", [](C c) { return c.hotkey == 54; }, "not an integer"},
        {"HOTKEY=65597", [](C c) { return c.hotkey == 54; }, "beyond 16 bits"},
        {"INPUT_DEVICE=", [](C c) { return c.inputDevice == "builtin"; }, "empty kept"},
        {"STYLE=a=b # c", [](C c) { return c.style == "a=b # c"; }, "rest of line is the value"},
        {"  LANGUAGE = DE  ", [](C c) { return c.language == "de"; }, "trimmed, lower-cased"},
        {"CAPTION_MODEL=~/m/b", [](C c) { return c.captionModel == kHome + "/m/b"; }, "tilde"},
        {"CAPTION_MODEL=/abs/~x", [](C c) { return c.captionModel == "/abs/~x"; }, "inner tilde"},
        {"DECODE_MODEL=Base.EN", [](C c) { return c.decodeModel == "base.en"; }, "a model name"},
        {"DECODE_MODEL=../../x", [](C c) { return c.decodeModel == "large-v3-turbo-q5_0"; },
         "never a path"},
        {"VAD_THRESHOLD 0.1", [](C c) { return c.vadThreshold == 0.3; }, "no ="},
        {"vad_threshold=0.1", [](C c) { return c.vadThreshold == 0.3; }, "keys are case-sensitive"},
        {"VAD_THRESHOLD=0.5\r", [](C c) { return c.vadThreshold == 0.5; }, "CRLF line"},
        {"\xEF\xBB\xBF"
         "CHUNK_SECONDS=45",
         [](C c) { return c.chunkSeconds == 45; }, "byte-order mark"},
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

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(ConfigLoad, AMissingFileGetsTheCommentedDefaultsOfEveryFileKeyInTableOrder) {
    TempDir dir;
    const std::string path = dir.file("config");
    EXPECT_EQ(Config::load(path, "/Users/ann"), Config::defaults("/Users/ann"));
    const std::string text = readFixture(path);
    EXPECT_EQ(filePermissions(path), 0600u);
    EXPECT_NE(text.back(), '\n'); // nothing after the last key
    const auto lines = linesOf(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(),
              "# vak-dictate runtime config — edit then run `vak restart` (no rebuild needed)");

    // Comment lines, then each key of the file in table order, its comment right above it.
    std::vector<std::string> expected = {lines.front()};
    for (const ConfigKey& key : configKeys()) {
        if (key.placement != SettingPlacement::InDefaultFile) continue;
        for (const auto& comment : linesOf(std::string(key.fileComment)))
            expected.push_back("# " + comment);
        expected.push_back(std::string(key.key) + "=" + std::string(key.defaultText));
    }
    const std::string expandedModel =
        "CAPTION_MODEL=/Users/ann/.whisper-models/ggml-base.en-q5_1.bin";
    for (auto& line : expected) {
        if (line.starts_with("CAPTION_MODEL=")) line = expandedModel;
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(text.find("HOTKEY="), std::string::npos); // keys set by hand stay out
    // Reading the written default file gives the defaults again.
    EXPECT_EQ(Config::load(path, "/Users/ann"), Config::defaults("/Users/ann"));
}

TEST(ConfigLoad, AnEmptyFileStaysEmptyAndEachDamagedOneIsKeptUnderANameOfItsOwn) {
    TempDir dir;
    const std::string path = dir.file("config");
    writeFixture(path, "");
    EXPECT_EQ(Config::load(path, kHome), Config::defaults(kHome));
    EXPECT_EQ(readFixture(path), "");
    const std::string damaged[] = {"STYLE=caf\xe9\n", "CHUNK_SECONDS=45\n\xff"};
    for (const auto& text : damaged) {
        writeFixture(path, text);
        EXPECT_EQ(Config::load(path, kHome), Config::defaults(kHome));
        EXPECT_EQ(readFixture(path), defaultConfigText(kHome));
    }
    EXPECT_EQ(readFixture(path + ".damaged"), damaged[0]);
    EXPECT_EQ(readFixture(path + ".damaged-2"), damaged[1]);
}

TEST(ConfigLoad, AFileThatCannotBeOpenedIsLeftAsItIs) {
    TempDir dir;
    const std::string folder = dir.file("folder"), fifo = dir.file("fifo");
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [path, kind] : {std::pair{folder, "is a folder"}, {fifo, "is a FIFO"}}) {
        test::LogCapture log;
        EXPECT_EQ(Config::load(path, kHome), Config::defaults(kHome));
        EXPECT_TRUE(log.has(LogLevel::warning, kind)) << path;
        EXPECT_FALSE(pathExists(path + ".damaged"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST(ConfigKeys, EveryKeyIsKnownOnceAndSetsItsField) {
    std::set<std::string_view> unique;
    for (const ConfigKey& row : configKeys()) {
        const std::string k(row.key);
        EXPECT_TRUE(unique.insert(row.key).second) << k;
        // A plausible non-default value for every key must change the record.
        Config changed = Config::defaults(kHome);
        std::string value = "9";
        if (row.defaultText == "1" || row.defaultText == "0")
            value = row.defaultText == "1" ? "0" : "1";
        if (k == "DEFAULT_MODE" || k == "SELECTED_MODE") value = "expand";
        if (k == "HOTKEY" || k == "PRODUCER_KEY") value = "60";
        if (k == "VAD_THRESHOLD" || k == "HOLD_SECONDS") value = "0.7";
        if (k == "TALK_MODE") value = "hold";
        changed.apply(row.key, value, kHome);
        EXPECT_NE(changed, Config::defaults(kHome)) << k;
    }
}

// The README's tables of settings and of environment variables are the user's reference: a row
// missing, left over or stale (default or meaning) fails here.
using ReadmeRows = std::map<std::string, std::vector<std::string>>;

// The rows under `header`, by the name in their first cell; a row's other cells, the last one
// taking whatever is left, so that a meaning may hold a "|".
ReadmeRows readmeRows(const std::string& readme, const std::string& header, std::size_t cells) {
    ReadmeRows rows;
    const auto start = readme.find(header);
    if (start == std::string::npos) return rows;
    std::istringstream table(readme.substr(start));
    std::string line;
    std::getline(table, line); // header
    std::getline(table, line); // rule
    while (std::getline(table, line) && line.starts_with("| `") && line.ends_with(" |")) {
        std::vector<std::string> row;
        std::string rest = line.substr(2, line.size() - 4);
        for (std::size_t i = 0; i < cells; ++i) {
            const auto bar = rest.find(" | ");
            if (bar == std::string::npos) break;
            row.push_back(rest.substr(0, bar));
            rest.erase(0, bar + 3);
        }
        row.push_back(rest);
        std::string name = row.front();
        std::erase(name, '`');
        row.erase(row.begin());
        rows[name] = row;
    }
    return rows;
}

TEST(ReadmeTables, MatchTheTablesOfSettingsAndEnvironmentVariables) {
    ReadmeRows settings;
    for (const ConfigKey& key : configKeys()) {
        const std::string shown =
            key.defaultText.empty() ? "(empty)" : std::string(key.defaultText);
        settings[std::string(key.key)] = {shown, std::string(key.meaning)};
    }
    ReadmeRows environment;
    for (const EnvVariable& variable : environmentVariables()) {
        if (variable.kind == EnvKind::Option)
            environment[std::string(variable.name)] = {std::string(variable.meaning)};
    }
    const std::string readme = readFixture(std::string(VAK_SOURCE_DIR) + "/README.md");
    const struct {
        std::string header;
        const ReadmeRows& expected;
    } tables[] = {{"| key | default | meaning |", settings},
                  {"| variable | effect |", environment}};
    for (const auto& [header, expected] : tables) {
        SCOPED_TRACE(header);
        ReadmeRows rows = readmeRows(readme, header, expected.begin()->second.size());
        ASSERT_FALSE(rows.empty()) << "README has no table " << header;
        for (auto& [name, row] : rows) {
            if (row.size() > 1) std::erase(row.front(), '`'); // the default's code marks
        }
        for (const auto& [name, cells] : expected) {
            const auto row = rows.find(name);
            if (row == rows.end()) {
                ADD_FAILURE() << "README has no row for " << name;
                continue;
            }
            EXPECT_EQ(row->second, cells) << name;
            rows.erase(row);
        }
        for (const auto& [name, _] : rows)
            ADD_FAILURE() << "README lists " << name << ", which the program does not know";
    }
}

class WriteConfigValue : public testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("config");
};

TEST_F(WriteConfigValue, ChangesEveryLineLoadingReadsAsTheKeyOrAppendsOne) {
    writeFixture(path,
                 "\xEF\xBB\xBFVAD_THRESHOLD=0.3\r\n# VAD_THRESHOLD=x\r\nVAD_THRESHOLDS=keep\r\n"
                 "  VAD_THRESHOLD = 0.5\r\n");
    EXPECT_TRUE(writeConfigValue(path, "VAD_THRESHOLD", "0.9"));
    EXPECT_EQ(readFixture(path), "\xEF\xBB\xBFVAD_THRESHOLD=0.9\r\n# VAD_THRESHOLD=x\r\n"
                                 "VAD_THRESHOLDS=keep\r\nVAD_THRESHOLD=0.9\r\n");
    EXPECT_DOUBLE_EQ(Config::load(path, kHome).vadThreshold, 0.9);
    EXPECT_EQ(filePermissions(path), 0600u);
    for (const std::string text : {"CLOUD=1", "CLOUD=1\n"}) {
        writeFixture(path, text);
        EXPECT_TRUE(writeConfigValue(path, "STYLE", "short"));
        EXPECT_EQ(readFixture(path), "CLOUD=1\nSTYLE=short");
    }
    const std::string fresh = dir.file("fresh");
    EXPECT_TRUE(writeConfigValue(fresh, "HOTKEY", "61"));
    EXPECT_EQ(readFixture(fresh), "HOTKEY=61");
    EXPECT_EQ(filePermissions(fresh), 0600u);
}

TEST_F(WriteConfigValue, ADotfileLinkStaysALinkAndOtherLinksAreNeverWritten) {
    const std::string target = dir.file("dotfiles-config");
    writeFixture(target, "CLOUD=1\n");
    std::filesystem::create_symlink(target, path);
    EXPECT_TRUE(writeConfigValue(path, "CLOUD", "0"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFixture(target), "CLOUD=0\n");

    // A link to another user's file is read, never written.
    const std::string shared = dir.file("shared-config"), toShared = dir.file("to-shared");
    writeFixture(shared, "CLOUD=1\n");
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    std::filesystem::create_symlink(shared, toShared);
    EXPECT_TRUE(Config::load(toShared, kHome).cloud);
    test::LogCapture log;
    EXPECT_FALSE(writeConfigValue(toShared, "CLOUD", "0"));
    EXPECT_TRUE(log.has(LogLevel::warning, "not updated"));
    EXPECT_EQ(readFixture(shared), "CLOUD=1\n");
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

    // A file it cannot read is never wiped.
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

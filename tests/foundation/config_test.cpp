#include "base/environment.h"
#include "base/files.h"
#include "foundation/config.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {
namespace {

using test::readFixture;
using test::writeFixture;

const std::string kHome = "/home/tester";

class ConfigFile : public testing::Test {
  protected:
    Config load(const std::string& text) const {
        writeFixture(path, text);
        return Config::load(path, kHome);
    }

    test::TempDir dir;
    std::string path = dir.file("config");
};

using ConfigParse = ConfigFile;
using ConfigLoad = ConfigFile;
using WriteConfigValue = ConfigFile;

TEST_F(ConfigParse, ValueRulesClampsAndTheGateOfQuietAndCallModes) {
    using C = const Config&;
    const std::pair<std::string, std::function<bool(C)>> cases[] = {
        {"VAD_THRESHOLD=1.7", [](C c) { return c.vadThreshold == 1.0; }},
        {"POLISH_MIN_WORDS=7.9", [](C c) { return c.polishMinWords == 7; }},
        {"DEFAULT_MODE=RAW", [](C c) { return c.defaultMode == DeliverMode::raw; }},
        {"DEFAULT_MODE=fancy", [](C c) { return c.defaultMode == DeliverMode::summarize; }},
        {"HOTKEY=57", [](C c) { return c.hotkey == 54; }}, // caps lock is refused
        {"HOTKEY=61", [](C c) { return c.hotkey == 61; }},
        {"HOTKEY=65597", [](C c) { return c.hotkey == 54; }},
        {"STYLE=a=b # c", [](C c) { return c.style == "a=b # c"; }},
        {"  LANGUAGE = DE  ", [](C c) { return c.language == "de"; }},
        {"CAPTION_MODEL=~/m/b", [](C c) { return c.captionModel == kHome + "/m/b"; }},
        {"DECODE_MODEL=../../x", [](C c) { return c.decodeModel == "large-v3-turbo-q5_0"; }},
        {"\xEF\xBB\xBFVAD_THRESHOLD=0.5\r", [](C c) { return c.vadThreshold == 0.5; }},
        {"CHUNK_SECONDS=45\nCHUNK_SECONDS=60\nVAD_THRESHOLD=0.5\nVAD_THRESHOLD=x\n\nSERVER=0",
         [](C c) { return c.chunkSeconds == 60 && c.vadThreshold == 0.5 && !c.useServer; }},
        {"VAD_THRESHOLD=0.5\nCALL_MODE=1", [](C c) { return c.effectiveVadThreshold() == 0.2; }},
        {"VAD_THRESHOLD=0.5\nCALL_MODE=1\nWHISPER_MODE=1",
         [](C c) { return c.effectiveVadThreshold() == 0.15; }},
        {"VAD_THRESHOLD=0.1\nWHISPER_MODE=1", [](C c) { return c.effectiveVadThreshold() == 0.1; }},
    };
    for (const auto& [text, holds] : cases)
        EXPECT_TRUE(holds(load(text + "\n"))) << text;
}

// A missing file gets the private default file, which reads back as the defaults. An empty file
// stays empty; each damaged one is kept under a name of its own.
TEST_F(ConfigLoad, AMissingFileGetsTheDefaultsAnEmptyOneStaysAndEachDamagedOneIsKeptAside) {
    EXPECT_EQ(Config::load(path, kHome), Config::defaults(kHome));
    const std::string text = readFixture(path);
    EXPECT_EQ(text, defaultConfigText(kHome));
    EXPECT_EQ(filePermissions(path), 0600u);
    EXPECT_EQ(load(text), Config::defaults(kHome));
    EXPECT_EQ(load(""), Config::defaults(kHome));
    EXPECT_EQ(readFixture(path), "");
    const std::string damaged[] = {"STYLE=caf\xe9\n", "CHUNK_SECONDS=45\n\xff"};
    for (const auto& bytes : damaged) {
        EXPECT_EQ(load(bytes), Config::defaults(kHome));
        EXPECT_EQ(readFixture(path), text);
    }
    EXPECT_EQ(readFixture(path + ".damaged"), damaged[0]);
    EXPECT_EQ(readFixture(path + ".damaged-2"), damaged[1]);
}

TEST_F(ConfigLoad, AFileThatCannotBeOpenedIsLeftAsItIs) {
    const std::string folder = dir.file("folder"), fifo = dir.file("fifo");
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [at, kind] : {std::pair{folder, "is a folder"}, {fifo, "is a FIFO"}}) {
        test::LogCapture log;
        EXPECT_EQ(Config::load(at, kHome), Config::defaults(kHome));
        EXPECT_TRUE(log.has(LogLevel::warning, kind)) << at;
        EXPECT_FALSE(pathExists(at + ".damaged"));
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

// The README's tables of settings and of environment variables, the user's reference, hold
// exactly the rows the program's tables give (code marks aside): none missing, left over or stale.
std::set<std::string> tableRows(const std::string& readme, const std::string& header) {
    std::set<std::string> rows;
    std::istringstream table(readme.substr(std::min(readme.find(header), readme.size())));
    std::string line;
    std::getline(table, line); // header
    std::getline(table, line); // rule
    while (std::getline(table, line) && line.starts_with("| `")) {
        std::erase(line, '`');
        rows.insert(line);
    }
    return rows;
}

TEST(ReadmeTables, MatchTheTablesOfSettingsEnvironmentVariablesAndFiles) {
    std::set<std::string> settings;
    std::set<std::string> options;
    const auto row = [](std::set<std::string>& rows, std::string text) {
        std::erase(text, '`');
        rows.insert("| " + text + " |");
    };
    for (const ConfigKey& key : configKeys()) {
        const std::string shown =
            key.defaultText.empty() ? "(empty)" : std::string(key.defaultText);
        row(settings, std::string(key.key) + " | " + shown + " | " + std::string(key.meaning));
    }
    for (const EnvVariable& variable : environmentVariables()) {
        if (variable.kind == EnvKind::Option)
            row(options, std::string(variable.name) + " | " + std::string(variable.meaning));
    }
    std::set<std::string> files;
#define USER_FILE(id, name, what) row(files, std::string(name) + " | " + what);
#include "foundation/user_files.def"
#undef USER_FILE
    const std::string readme = readFixture(std::string(VAK_SOURCE_DIR) + "/README.md");
    EXPECT_EQ(tableRows(readme, "| key | default | meaning |"), settings);
    EXPECT_EQ(tableRows(readme, "| variable | effect |"), options);
    EXPECT_EQ(tableRows(readme, "| file | what it holds |"), files);
}

// Line breaks in a value cannot add or change keys; a file it cannot read is never wiped.
TEST_F(WriteConfigValue, ChangesEveryLineLoadingReadsAsTheKeyOrAppendsOne) {
    writeFixture(path,
                 "\xEF\xBB\xBFVAD_THRESHOLD=0.3\r\n# VAD_THRESHOLD=x\r\nVAD_THRESHOLDS=keep\r\n"
                 "  VAD_THRESHOLD = 0.5\r\nPOLISH_KEY=secret\r\n");
    EXPECT_TRUE(writeConfigValue(path, "VAD_THRESHOLD", "0.9"));
    EXPECT_EQ(readFixture(path),
              "\xEF\xBB\xBFVAD_THRESHOLD=0.9\r\n# VAD_THRESHOLD=x\r\n"
              "VAD_THRESHOLDS=keep\r\nVAD_THRESHOLD=0.9\r\nPOLISH_KEY=secret\r\n");
    EXPECT_TRUE(writeConfigValue(path, "STYLE", "be brief\nPOLISH_KEY=stolen\r\nCLOUD=0\rX"));
    const Config c = Config::load(path, kHome);
    EXPECT_DOUBLE_EQ(c.vadThreshold, 0.9);
    EXPECT_EQ(c.polishKey, "secret");
    EXPECT_TRUE(c.cloud);
    EXPECT_EQ(c.style, "be brief POLISH_KEY=stolen CLOUD=0 X");
    for (const char* key : {"STYLE\nCLOUD", "A=B", ""})
        EXPECT_FALSE(writeConfigValue(path, key, "0")) << key;
    for (const std::string text : {"CLOUD=1", "CLOUD=1\n"}) {
        writeFixture(path, text);
        EXPECT_TRUE(writeConfigValue(path, "STYLE", "short"));
        EXPECT_EQ(readFixture(path), "CLOUD=1\nSTYLE=short");
    }
    const std::string damaged = "STYLE=caf\xe9\nCLOUD=0\n";
    writeFixture(path, damaged);
    EXPECT_FALSE(writeConfigValue(path, "SELECTED_MODE", "agent"));
    EXPECT_EQ(readFixture(path), damaged);
    EXPECT_TRUE(writeConfigValue(dir.file("fresh"), "HOTKEY", "61"));
    EXPECT_EQ(readFixture(dir.file("fresh")), "HOTKEY=61");
    EXPECT_EQ(filePermissions(dir.file("fresh")), 0600u);
}

// A dotfile manager's link stays a link; a link to another user's file is read, never written.
TEST_F(WriteConfigValue, ADotfileLinkStaysALinkAndOtherLinksAreNeverWritten) {
    const std::string own = dir.file("dotfiles-config"), shared = dir.file("shared-config");
    const std::string toShared = dir.file("to-shared");
    for (const auto& file : {own, shared})
        writeFixture(file, "CLOUD=1\n");
    ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    std::filesystem::create_symlink(own, path);
    std::filesystem::create_symlink(shared, toShared);
    EXPECT_TRUE(writeConfigValue(path, "CLOUD", "0"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readFixture(own), "CLOUD=0\n");
    EXPECT_TRUE(Config::load(toShared, kHome).cloud);
    test::LogCapture log;
    EXPECT_FALSE(writeConfigValue(toShared, "CLOUD", "0"));
    EXPECT_TRUE(log.has(LogLevel::warning, "not updated"));
    EXPECT_EQ(readFixture(shared), "CLOUD=1\n");
}

TEST(FormatDecimal, KeepsAFractionalPart) {
    EXPECT_EQ(formatDecimal(2.0), "2.0");
}

} // namespace
} // namespace vak

#include "base/files.h"
#include "base/regex.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "history/history.h"
#include "platform/fake/fake_secret_store.h"
#include "support/log_capture.h"
#include "support/sealed_box.h"
#include "support/temp_dir.h"
#include "text/words.h"

#include <chrono>
#include <ctime>
#include <memory>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;
using test::readFixture;
using test::TempDir;
using test::writeFixture;

constexpr std::string_view kWarning = "⚠️ could not store the history key in the login keyring "
                                      "(Secret Service), so no history is being kept";
constexpr std::string_view kSaved = " · saved to encrypted history";

TEST(ShortHash, FirstSixHexDigitsOfSha256) {
    EXPECT_EQ(shortHash("abc"), "ba7816");
    EXPECT_EQ(shortHash(""), "e3b0c4");
}

TEST(WordCount, PiecesBetweenSpacesOnly) {
    const std::pair<std::string_view, std::size_t> cases[] = {
        {"", 0},        {"   ", 0},     {"abc", 1},      {"one two three", 3},
        {"  a  b ", 2}, {"a\nb\tc", 1}, {"ünï cödé", 2},
    };
    for (const auto& [text, words] : cases)
        EXPECT_EQ(countWords(text), words) << text;
}

class HistoryTest : public testing::Test {
  protected:
    std::string storedKey() const {
        return store.get(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT).value_or("");
    }
    HistorySettings privacyOff() { return {false, historyPath, &store}; }

    LogCapture logged;
    TempDir dir;
    std::string historyPath = dir.file("history.enc");
    FakeSecretStore store;
};

TEST_F(HistoryTest, PrivacyModeLogsOnlyCountAndHashAndNeverTouchesStoreOrDisk) {
    logTranscript("abc", " raw", {true, historyPath, &store});
    logTranscript("my secret plan", " Professional", {true, historyPath, &store});
    // A text left on the clipboard says so instead of "✓".
    logTranscript("abc", "", {true, historyPath, &store}, "Nothing had the focus");
    EXPECT_EQ(logged.messages(),
              (std::vector<std::string>{"✓ raw 1 words · ba7816",
                                        "✓ Professional 3 words · " + shortHash("my secret plan"),
                                        "⚠️ Nothing had the focus · 1 words · ba7816"}));
    EXPECT_FALSE(pathExists(historyPath));
    EXPECT_EQ(store.counts().reads + store.counts().writes, 0);
}

TEST_F(HistoryTest, FirstRecordCreatesKeyAndPrivateFileThatOpensToTagTabText) {
    const auto before = std::time(nullptr);
    logTranscript("meet me at the dock", " raw", privacyOff());

    const std::string key = storedKey();
    ASSERT_EQ(key.size(), 32u);
    EXPECT_EQ(filePermissions(historyPath), 0600);
    const std::string file = readFixture(historyPath);
    ASSERT_TRUE(regexFullMatch(file, "\\d+\\t[A-Za-z0-9+/]+={0,2}\\n")) << file;
    const long long stamp = std::stoll(file.substr(0, file.find('\t')));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, std::time(nullptr));

    const std::string plaintext = " raw\tmeet me at the dock";
    const auto box =
        test::base64Decode(file.substr(file.find('\t') + 1, file.size() - file.find('\t') - 2));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->size(), 12 + plaintext.size() + 16);
    EXPECT_EQ(test::openHistoryLine(key, file), plaintext);
    // A bit changed in the nonce, in the ciphertext or in the tag fails authentication.
    for (const std::size_t at : {std::size_t{3}, std::size_t{12 + 4}, box->size() - 1}) {
        std::string damaged = *box;
        damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
        EXPECT_FALSE(test::openSealedBox(key, damaged)) << "flipped byte " << at;
    }
    EXPECT_EQ(logged.messages(),
              std::vector<std::string>{"✓ raw 5 words · " + shortHash("meet me at the dock") +
                                       std::string(kSaved)});
    EXPECT_EQ(readFixture(logged.path()).find("dock"), std::string::npos);

    // The same text again: a second record under the same key, sealed differently.
    logTranscript("meet me at the dock", " raw", privacyOff());
    EXPECT_EQ(storedKey(), key);
    EXPECT_EQ(store.counts().writes, 1);
    const std::string second = readFixture(historyPath).substr(file.size());
    EXPECT_NE(second.substr(second.find('\t')), file.substr(file.find('\t')));
    EXPECT_EQ(test::openHistoryLine(key, second), plaintext);
}

TEST_F(HistoryTest, ItemOfWrongLengthIsReplacedByFreshKey) {
    for (const std::size_t length : {std::size_t{16}, std::size_t{0}, std::size_t{33}}) {
        store.put(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, std::string(length, 'k'));
        const auto key = historyKey(&store);
        ASSERT_TRUE(key) << length;
        const std::string stored = storedKey();
        ASSERT_EQ(stored.size(), 32u);
        EXPECT_EQ(stored, std::string(reinterpret_cast<const char*>(key->bytes.data()), 32));
    }
}

TEST_F(HistoryTest, RefusingStoreWarnsOncePerRecordAndWritesNothing) {
    store.setFailWrites(true);
    logTranscript("first", " raw", privacyOff());
    logTranscript("second", " raw", privacyOff());
    EXPECT_EQ(logged.messages(),
              (std::vector<std::string>{
                  std::string(kWarning), "✓ raw 1 words · " + shortHash("first"),
                  std::string(kWarning), "✓ raw 1 words · " + shortHash("second")}));
    EXPECT_FALSE(pathExists(historyPath));
    // The next dictation tries again, and succeeds once the store accepts.
    store.setFailWrites(false);
    logTranscript("third", " raw", privacyOff());
    EXPECT_EQ(logged.messages().back(),
              "✓ raw 1 words · " + shortHash("third") + std::string(kSaved));
}

TEST_F(HistoryTest, UnreadableStoreKeepsItsKeyAndKeepsNoHistory) {
    const std::string existing(32, 'K');
    store.put(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, existing);
    store.setFailReads(true);
    logTranscript("words", " raw", privacyOff());
    EXPECT_EQ(storedKey(), existing);
    EXPECT_EQ(store.counts().writes + store.counts().removes, 0);
    EXPECT_FALSE(pathExists(historyPath));
    EXPECT_EQ(logged.messages(),
              (std::vector<std::string>{"⚠️ could not read the history key from the login "
                                        "keyring (Secret Service), so no history is being kept",
                                        "✓ raw 1 words · " + shortHash("words")}));
}

TEST_F(HistoryTest, RecordAfterACutShortLastLineStartsOnItsOwnLine) {
    writeFixture(historyPath, "1700000000\tQUJD");
    ASSERT_TRUE(appendHistory(historyPath, &store, "after the crash", " raw", 1700000100));
    const std::string file = readFixture(historyPath);
    ASSERT_EQ(file.substr(0, 16), "1700000000\tQUJD\n");
    EXPECT_EQ(test::openHistoryLine(storedKey(), file.substr(16)), " raw\tafter the crash");
}

TEST_F(HistoryTest, UnwritableFileIsNotReportedAsSaved) {
    logTranscript("lost", " raw", {false, dir.file("missing-folder/history.enc"), &store});
    EXPECT_EQ(logged.messages(),
              (std::vector<std::string>{"✓ raw 1 words · " + shortHash("lost")}));
}

TEST_F(HistoryTest, ReadingBackOpensTheLastRecordsAndSkipsDamagedOnesWithoutWriting) {
    // Nothing stored yet: no key is made just to read, and nothing opens.
    writeFixture(historyPath, "1700000000\tQUJD\n");
    const auto keyless = readHistory(historyPath, &store, 10);
    EXPECT_TRUE(keyless.keyMissing);
    EXPECT_EQ(keyless.skipped, 1u);
    EXPECT_EQ(store.counts().writes, 0);

    removeFile(historyPath);
    ASSERT_TRUE(appendHistory(historyPath, &store, "first words", " raw", 1700000001));
    const std::string first = readFixture(historyPath);
    std::string flipped = first; // one Base64 digit changed: still Base64, no longer authentic
    flipped[first.find('\t') + 5] = flipped[first.find('\t') + 5] == 'A' ? 'B' : 'A';
    const std::string otherKey =
        *sealHistoryRecord(*randomAesKey(), "sealed elsewhere", " raw", 1700000002);
    ASSERT_TRUE(appendHistory(historyPath, &store, "second\nline", " Professional", 1700000003));
    const std::string second = readFixture(historyPath).substr(first.size());
    writeFixture(historyPath, first + flipped + "not a record\n" + otherKey + "17000\t!!!!\n" +
                                  second + "1700000004\tQUJD");
    const std::string before = readFixture(historyPath);

    const auto all = readHistory(historyPath, &store, 100);
    ASSERT_EQ(all.records.size(), 2u);
    EXPECT_EQ(all.records[0].unixSeconds, 1700000001);
    EXPECT_EQ(all.records[0].tag, " raw");
    EXPECT_EQ(all.records[0].text, "first words");
    EXPECT_EQ(all.records[1].tag, " Professional");
    EXPECT_EQ(all.records[1].text, "second\nline");
    EXPECT_EQ(all.skipped, 5u);
    EXPECT_FALSE(all.keyMissing);
    // Only the last N lines are read.
    const auto last = readHistory(historyPath, &store, 2);
    ASSERT_EQ(last.records.size(), 1u);
    EXPECT_EQ(last.records[0].text, "second\nline");
    EXPECT_EQ(last.skipped, 1u);
    EXPECT_EQ(readFixture(historyPath), before);
    EXPECT_EQ(store.counts().writes, 1);
    EXPECT_TRUE(readHistory(dir.file("none.enc"), &store, 10).records.empty());
}

} // namespace
} // namespace vak

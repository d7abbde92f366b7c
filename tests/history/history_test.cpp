#include "base/files.h"
#include "base/regex.h"
#include "foundation/constants.h"
#include "history/history.h"
#include "platform/fake/fake_secret_store.h"
#include "support/log_capture.h"
#include "support/sealed_box.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include <gtest/gtest.h>

namespace vak {
namespace {

using Lines = std::vector<std::string>;
using test::readFixture;
using test::writeFixture;

constexpr std::string_view kWarning = "⚠️ could not store the history key in the login keyring "
                                      "(Secret Service), so no history is being kept";
constexpr std::string_view kSaved = " · saved to encrypted history";

std::string fromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return bytes;
}

// A known answer from the published AES-GCM test vectors (256-bit key, 96-bit nonce, no
// associated data): the box is nonce, then ciphertext, then tag, carried in standard Base64.
TEST(AesGcmSeal, MatchesAPublishedVector) {
    AesKey key;
    std::array<unsigned char, kGcmNonceBytes> nonce{};
    std::ranges::copy(fromHex("feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308"),
                      key.bytes.begin());
    std::ranges::copy(fromHex("cafebabefacedbaddecaf888"), nonce.begin());
    const std::string plain =
        fromHex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255");
    const std::string box =
        fromHex("cafebabefacedbaddecaf888"
                "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa"
                "8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662898015ad"
                "b094dac5d93471bdec1a502270e3cc6c");
    EXPECT_EQ(aesGcmSeal(key, nonce, plain), box);
    EXPECT_EQ(aesGcmOpen(key, box), plain);
    EXPECT_EQ(aesGcmOpen(key, box.substr(0, 27)), std::nullopt); // shorter than nonce + tag
    EXPECT_EQ(base64Encode(std::string("\xfb\xff\xbf", 3) + "fo"), "+/+/Zm8=");
}

class HistoryTest : public testing::Test {
  protected:
    std::string storedKey() const {
        return store->get(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT).value_or("");
    }
    HistorySettings settings(bool privacy = false) { return {privacy, historyPath, store.get()}; }

    test::LogCapture logged;
    test::TempDir dir;
    std::string historyPath = dir.file("history.enc");
    std::unique_ptr<FakeSecretStore> store = std::make_unique<FakeSecretStore>();
};

TEST_F(HistoryTest, PrivacyModeLogsOnlyCountAndHashAndNeverTouchesStoreOrDisk) {
    logTranscript("abc", " raw", settings(true));
    logTranscript("  a  b ", " Professional", settings(true));
    logTranscript("a\nb\tc", "", settings(true), "Nothing had the focus");
    EXPECT_EQ(logged.messages(),
              (Lines{"✓ raw 1 words · ba7816", "✓ Professional 2 words · " + shortHash("  a  b "),
                     "⚠️ Nothing had the focus · 1 words · " + shortHash("a\nb\tc")}));
    EXPECT_FALSE(pathExists(historyPath));
    EXPECT_EQ(store->counts().reads + store->counts().writes, 0);
}

TEST_F(HistoryTest, FirstRecordCreatesKeyAndPrivateFileThatOpensToTagTabText) {
    const auto before = std::time(nullptr);
    logTranscript("meet me at the dock", " raw", settings());
    const std::string key = storedKey();
    ASSERT_EQ(key.size(), 32u);
    EXPECT_EQ(filePermissions(historyPath), 0600);
    const std::string file = readFixture(historyPath);
    ASSERT_TRUE(regexFullMatch(file, "\\d+\\t[A-Za-z0-9+/]+={0,2}\\n")) << file;
    const long long stamp = std::stoll(file.substr(0, file.find('\t')));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, std::time(nullptr));
    EXPECT_EQ(test::openHistoryLine(key, file), " raw\tmeet me at the dock");
    EXPECT_EQ(logged.messages(),
              Lines{"✓ raw 5 words · " + shortHash("meet me at the dock") + std::string(kSaved)});
    EXPECT_EQ(readFixture(logged.path()).find("dock"), std::string::npos);

    // The same text again: a second record under the same key, sealed differently.
    logTranscript("meet me at the dock", " raw", settings());
    EXPECT_EQ(storedKey(), key);
    EXPECT_EQ(store->counts().writes, 1);
    const std::string second = readFixture(historyPath).substr(file.size());
    EXPECT_NE(second.substr(second.find('\t')), file.substr(file.find('\t')));
    EXPECT_EQ(test::openHistoryLine(key, second), " raw\tmeet me at the dock");
}

// A stored item of the wrong length is replaced by a fresh key; a store that cannot be read keeps
// its key; a refusal is said with every record, and the next record asks the store afresh.
TEST_F(HistoryTest, EachRecordTakesTheStoresKeyOrSaysWhyItKeepsNone) {
    const std::string readWarning = "⚠️ could not read the history key from the login keyring "
                                    "(Secret Service), so no history is being kept";
    struct Case {
        std::optional<std::string> item; // in the store beforehand
        bool failReads, failWrites, missingFolder;
        std::string warning;
    };
    const Case cases[] = {
        {std::string(16, 'k'), false, false, false, ""},
        {std::string(), false, false, false, ""},
        {std::string(33, 'k'), false, false, false, ""},
        {std::nullopt, false, true, false, std::string(kWarning)},
        {std::string(32, 'K'), true, false, false, readWarning},
        {std::nullopt, false, false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        store = std::make_unique<FakeSecretStore>();
        if (c.item) store->put(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, *c.item);
        store->setFailReads(c.failReads);
        store->setFailWrites(c.failWrites);
        historyPath = dir.file(c.missingFolder ? "missing/history.enc" : "history.enc");
        removeFile(historyPath);
        test::LogCapture local;
        logTranscript("words", " raw", settings());
        const bool saved = c.warning.empty() && !c.missingFolder;
        Lines expected = {"✓ raw 1 words · " + shortHash("words") +
                          std::string(saved ? kSaved : "")};
        if (!c.warning.empty()) expected.insert(expected.begin(), c.warning);
        EXPECT_EQ(local.messages(), expected);
        EXPECT_EQ(pathExists(historyPath), saved);
        if (c.failReads) {
            EXPECT_EQ(storedKey(), *c.item);
            EXPECT_EQ(store->counts().writes + store->counts().removes, 0);
        } else if (saved) {
            ASSERT_EQ(storedKey().size(), 32u);
            EXPECT_EQ(test::openHistoryLine(storedKey(), readFixture(historyPath)), " raw\twords");
        }
        store->setFailReads(false);
        store->setFailWrites(false);
        logTranscript("again", " raw", settings());
        EXPECT_EQ(local.messages().back().ends_with(kSaved), !c.missingFolder);
    }
}

TEST_F(HistoryTest, ReadingBackOpensTheLastRecordsAndSkipsDamagedOnesWithoutWriting) {
    // Nothing stored yet: no key is made just to read.
    writeFixture(historyPath, "1700000000\tQUJD\n");
    EXPECT_TRUE(readHistory(historyPath, store.get(), 10).keyMissing);
    EXPECT_EQ(store->counts().writes, 0);
    removeFile(historyPath);
    ASSERT_TRUE(appendHistory(historyPath, store.get(), "first words", " raw", 1700000001));
    const std::string first = readFixture(historyPath);
    std::string flipped = first; // one Base64 digit changed: still Base64, no longer authentic
    flipped[first.find('\t') + 5] = flipped[first.find('\t') + 5] == 'A' ? 'B' : 'A';
    const std::string otherKey =
        *sealHistoryRecord(*randomAesKey(), "sealed elsewhere", " raw", 1700000002);
    ASSERT_TRUE(appendHistory(historyPath, store.get(), "second\nline", " Pro", 1700000003));
    const std::string second = readFixture(historyPath).substr(first.size());
    writeFixture(historyPath, first + flipped + "not a record\n" + otherKey + "17000\t!!!!\n" +
                                  second + "1700000004\tQUJD");
    const std::string before = readFixture(historyPath);

    const auto all = readHistory(historyPath, store.get(), 100);
    ASSERT_EQ(all.records.size(), 2u);
    EXPECT_EQ(all.records[0].unixSeconds, 1700000001);
    EXPECT_EQ(all.records[0].tag, " raw");
    EXPECT_EQ(all.records[0].text, "first words");
    EXPECT_EQ(all.records[1].tag, " Pro");
    EXPECT_EQ(all.records[1].text, "second\nline");
    EXPECT_EQ(all.skipped, 5u);
    EXPECT_FALSE(all.keyMissing);
    EXPECT_EQ(readFixture(historyPath), before);
    EXPECT_EQ(store->counts().writes, 1);
    // After the cut-short last line a new record starts on a line of its own.
    ASSERT_TRUE(appendHistory(historyPath, store.get(), "after the crash", " raw", 1700000100));
    const auto after = readHistory(historyPath, store.get(), 100).records;
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after.back().text, "after the crash");
}

} // namespace
} // namespace vak

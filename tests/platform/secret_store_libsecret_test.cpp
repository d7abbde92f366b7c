// The key store against a real Secret Service: a private D-Bus session with an unlocked
// gnome-keyring, started here, so the user's own keyring is never involved.
#include "base/files.h"
#include "foundation/config.h"
#include "foundation/constants.h"
#include "history/history.h"
#include "history/retention.h"
#include "platform/linux/secret_store_libsecret.h"
#include "platform/private_secret_service.h"
#include "support/log_capture.h"
#include "support/sealed_box.h"
#include "support/temp_dir.h"

#include <chrono>
#include <csignal>

#include <gtest/gtest.h>

namespace vak {
namespace {

using test::LogCapture;
using test::PrivateSecretService;
using test::readFixture;
using test::TempDir;
using test::writeFixture;

constexpr double kDay = 86400;

class LibsecretStoreTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        started = new PrivateSecretService::Outcome(PrivateSecretService::start());
    }
    static void TearDownTestSuite() {
        delete started;
        started = nullptr;
    }
    void SetUp() override {
        if (!started->canRun) GTEST_SKIP() << started->problem;
        ASSERT_NE(started->service, nullptr) << started->problem;
    }
    static PrivateSecretService& service() { return *started->service; }

    // What any Secret Service client finds under this service and account.
    static std::vector<std::string> itemsWith(std::string_view service, std::string_view account) {
        auto secrets = started->service->secretsWith(
            {{"service", std::string(service)}, {"account", std::string(account)}});
        EXPECT_TRUE(secrets) << "the keyring did not answer a search";
        return secrets.value_or(std::vector<std::string>{});
    }

    static inline PrivateSecretService::Outcome* started = nullptr;
    std::shared_ptr<SecretStore> store = makeLibsecretStore(10);
};

TEST_F(LibsecretStoreTest, ReadWriteReplaceRemoveRawBytes) {
    const std::string service = "com.halden.vak-dictate.test";
    EXPECT_EQ(store->read(service, "round-trip").status, SecretStatus::NotFound);

    std::string bytes(32, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 37 + 1); // includes NUL and bytes above 0x7f
    bytes[7] = '\0';
    ASSERT_TRUE(store->write(service, "round-trip", bytes));
    SecretRead read = store->read(service, "round-trip");
    EXPECT_EQ(read.status, SecretStatus::Found);
    EXPECT_EQ(read.data, bytes);
    // Another account under the same service is another item.
    EXPECT_EQ(store->read(service, "other").status, SecretStatus::NotFound);

    ASSERT_TRUE(store->write(service, "round-trip", "second"));
    EXPECT_EQ(store->read(service, "round-trip").data, "second");
    EXPECT_EQ(itemsWith(service, "round-trip"), std::vector<std::string>{"second"});

    EXPECT_TRUE(store->remove(service, "round-trip"));
    EXPECT_EQ(store->read(service, "round-trip").status, SecretStatus::NotFound);
    EXPECT_TRUE(store->remove(service, "round-trip")); // already gone is fine
}

TEST_F(LibsecretStoreTest, ShortKeyItemIsReplacedByOne32ByteKey) {
    ASSERT_TRUE(store->write(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, std::string(16, 'x')));
    const auto key = historyKey(store.get());
    ASSERT_TRUE(key);
    const std::string expected(reinterpret_cast<const char*>(key->bytes.data()), 32);
    EXPECT_EQ(itemsWith(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT), std::vector<std::string>{expected});
    // The next record finds and keeps that key.
    const auto again = historyKey(store.get());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->bytes, key->bytes);
}

TEST_F(LibsecretStoreTest, HistoryWithPrivacyOffSealsUnderTheKeyringKeyAndRetentionPrunesIt) {
    TempDir home;
    const std::string dictation = home.file(".dictation");
    makeDirectories(dictation);
    writeFixture(dictation + "/config", "PRIVACY_MODE=0\nHISTORY_DAYS=7\n");
    const Config config = Config::load(dictation + "/config", home.path());
    ASSERT_FALSE(config.privacyMode);
    const std::string historyPath = dictation + "/history.enc";
    LogCapture logged;
    store->remove(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT);

    logTranscript("ship the release on friday", " raw",
                  {config.privacyMode, historyPath, store.get()});

    const SecretRead key = store->read(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT);
    ASSERT_EQ(key.status, SecretStatus::Found);
    ASSERT_EQ(key.data.size(), 32u);
    EXPECT_EQ(itemsWith(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT), std::vector<std::string>{key.data});
    const std::string todays = readFixture(historyPath);
    ASSERT_EQ(std::count(todays.begin(), todays.end(), '\n'), 1);
    EXPECT_EQ(test::openHistoryLine(key.data, todays), " raw\tship the release on friday");
    EXPECT_EQ(logged.messages().back(), "✓ raw 5 words · " +
                                            shortHash("ship the release on friday") +
                                            " · saved to encrypted history");

    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const auto at = [&](double daysAgo) { return static_cast<std::int64_t>(now - daysAgo * kDay); };
    ASSERT_TRUE(appendHistory(historyPath, store.get(), "ten days old", " raw", at(10)));
    ASSERT_TRUE(appendHistory(historyPath, store.get(), "three days old", " raw", at(3)));
    retentionSweep({historyPath, logged.path()}, config.historyDays, now);

    const std::string kept = readFixture(historyPath);
    const auto split = kept.find('\n') + 1;
    EXPECT_EQ(kept.substr(0, split), todays);
    EXPECT_EQ(test::openHistoryLine(key.data, kept.substr(split)), " raw\tthree days old");
    EXPECT_EQ(logged.messages().back(), "· retention: removed 1 history entries past 7 days");
}

TEST_F(LibsecretStoreTest, HungKeyringCostsTheTimeLimitNotTheDictation) {
    auto quick = makeLibsecretStore(1.0);
    ASSERT_TRUE(quick->write(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, std::string(32, 'k')));
    ASSERT_EQ(::kill(service().keyringPid(), SIGSTOP), 0);
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{service().keyringPid()};

    LogCapture logged;
    TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    logTranscript("words", " raw", {false, dir.file("history.enc"), quick.get()});
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(waited, 3.0);
    // The key could not be read, so it was left alone rather than replaced.
    EXPECT_EQ(logged.messages(),
              (std::vector<std::string>{"⚠️ could not read the history key from the login "
                                        "keyring (Secret Service), so no history is being kept",
                                        "✓ raw 1 words · " + shortHash("words")}));

    ::kill(service().keyringPid(), SIGCONT);
    const SecretRead after = quick->read(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT);
    EXPECT_EQ(after.status, SecretStatus::Found);
    EXPECT_EQ(after.data, std::string(32, 'k'));
}

} // namespace
} // namespace vak

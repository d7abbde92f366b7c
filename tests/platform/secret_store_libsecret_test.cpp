// The key store against a real Secret Service: a private D-Bus session bus with a
// gnome-keyring-daemon whose login keyring is created and unlocked with a test password, all
// under a temporary folder. This process's session bus and XDG folders point there, so the user's
// own keyring is never involved; both daemons die with the test process, even when it crashes.
#include "base/files.h"
#include "base/subprocess.h"
#include "foundation/constants.h"
#include "foundation/process_values.h"
#include "history/history.h"
#include "platform/linux/secret_store_libsecret.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/wait.h"

#include <chrono>
#include <csignal>
#include <cstdlib>

#include <gtest/gtest.h>

namespace vak {
namespace {

class LibsecretStoreTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        for (const char* program : {"dbus-daemon", "gnome-keyring-daemon", "gdbus"})
            if (!isExecutableFile(_which(program))) missing = program;
        if (missing.empty()) problem = start();
    }
    static void TearDownTestSuite() {
        for (const auto& child : {keyring, bus}) {
            if (child) child->kill();
            if (child) child->wait();
        }
        for (TimerHandle& watchdog : watchdogs)
            watchdog.cancel();
        delete root;
    }
    void SetUp() override {
        if (!missing.empty()) GTEST_SKIP() << missing << " is not installed";
        ASSERT_EQ(problem, "");
    }

    // A reason when the bus or the keyring did not come up.
    static std::string start() {
        root = new test::TempDir();
        const std::string address = "unix:path=" + root->file("bus");
        // No service folders: nothing is started on demand, so only our keyring can answer.
        test::writeFixture(root->file("bus.conf"),
                           "<busconfig><type>session</type><listen>" + address +
                               "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                               "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                               "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                               "</busconfig>\n");
        // Everything that could lead to the user's own session or keyring goes.
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        for (const char* name :
             {"XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
            makeDirectories(root->file(name), 0700);
            setenv(name, root->file(name).c_str(), 1);
        }
        for (const char* name : {"GNOME_KEYRING_CONTROL", "DISPLAY", "WAYLAND_DISPLAY",
                                 "SSH_AUTH_SOCK", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE"})
            unsetenv(name);

        SpawnOptions options;
        options.argv = {VAK_TETHERED, _which("dbus-daemon"),
                        "--config-file=" + root->file("bus.conf"), "--nofork", "--nosyslog"};
        bus = Subprocess::spawn(options);
        watchdogs[0] = armWatchdog(bus, 600, 1);
        if (!bus || !test::waitUntil([] { return pathExists(root->file("bus")); }, 15))
            return "the private D-Bus session did not come up";
        options.argv = {VAK_TETHERED, _which("gnome-keyring-daemon"), "--foreground", "--unlock",
                        "--components=secrets"};
        options.pipeStdin = true;
        keyring = Subprocess::spawn(options);
        if (!keyring) return "could not start gnome-keyring-daemon";
        watchdogs[1] = armWatchdog(keyring, 600, 1);
        // The password creates and unlocks the login keyring; the daemon reads to end of input.
        keyring->writeStdin("vak-test-keyring-password");
        keyring->closeStdin();
        // Ready once the keyring answers with its default collection in place.
        const bool ready = test::waitUntil(
            [] {
                const std::string alias = call("ReadAlias", "default");
                return !alias.empty() && alias.find("'/'") == std::string::npos;
            },
            15);
        return ready ? "" : "gnome-keyring-daemon offered no unlocked keyring on the private bus";
    }

    // A method of the Secret Service called over the private bus, as any other client would; its
    // output, empty when it failed.
    static std::string call(const std::string& method, const std::string& argument) {
        RunOptions options;
        options.timeoutSeconds = 5;
        const auto run =
            runProcess({_which("gdbus"), "call", "--session", "--timeout", "2", "--dest",
                        "org.freedesktop.secrets", "--object-path", "/org/freedesktop/secrets",
                        "--method", "org.freedesktop.Secret.Service." + method, argument},
                       options);
        return run && run->status.success() ? run->output : "";
    }

    static inline test::TempDir* root = nullptr;
    static inline std::shared_ptr<Subprocess> bus;
    static inline std::shared_ptr<Subprocess> keyring;
    static inline TimerHandle watchdogs[2];
    static inline std::string missing;
    static inline std::string problem;
    std::shared_ptr<SecretStore> store = makeLibsecretStore(10);
    test::TempDir dir;
};

TEST_F(LibsecretStoreTest, ReadWriteReplaceRemoveRawBytes) {
    const std::string service = "com.halden.vak-dictate.test";
    EXPECT_EQ(store->read(service, "round-trip").status, SecretStatus::NotFound);
    std::string bytes(32, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 37 + 1); // bytes above 0x7f
    bytes[7] = '\0';
    ASSERT_TRUE(store->write(service, "round-trip", bytes));
    SecretRead read = store->read(service, "round-trip");
    EXPECT_EQ(read.status, SecretStatus::Found);
    EXPECT_EQ(read.data, bytes);
    // Another account under the same service is another item.
    EXPECT_EQ(store->read(service, "other").status, SecretStatus::NotFound);

    // A write replaces the item rather than adding a second, as any other client finds.
    ASSERT_TRUE(store->write(service, "round-trip", "second"));
    EXPECT_EQ(store->read(service, "round-trip").data, "second");
    const std::string found =
        call("SearchItems", "{'service': '" + service + "', 'account': 'round-trip'}");
    const auto first = found.find("/collection/");
    EXPECT_NE(first, std::string::npos) << found;
    EXPECT_EQ(found.find("/collection/", first + 1), std::string::npos) << found;

    EXPECT_TRUE(store->remove(service, "round-trip"));
    EXPECT_EQ(store->read(service, "round-trip").status, SecretStatus::NotFound);
    EXPECT_TRUE(store->remove(service, "round-trip")); // already gone is fine
}

TEST_F(LibsecretStoreTest, HungKeyringCostsTheTimeLimitNotTheDictation) {
    auto quick = makeLibsecretStore(1.0);
    ASSERT_TRUE(quick->write(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, std::string(32, 'k')));
    ASSERT_EQ(::kill(keyring->pid(), SIGSTOP), 0);
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{keyring->pid()};

    test::LogCapture logged;
    const auto start = std::chrono::steady_clock::now();
    logTranscript("words", " raw", {false, dir.file("history.enc"), quick.get()});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    // The key could not be read, so it was left alone rather than replaced.
    EXPECT_EQ(logged.messages(),
              (std::vector<std::string>{"⚠️ could not read the history key from the login "
                                        "keyring (Secret Service), so no history is being kept",
                                        "✓ raw 1 words · " + shortHash("words")}));

    ::kill(keyring->pid(), SIGCONT);
    const SecretRead after = quick->read(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT);
    EXPECT_EQ(after.status, SecretStatus::Found);
    EXPECT_EQ(after.data, std::string(32, 'k'));
}

} // namespace
} // namespace vak

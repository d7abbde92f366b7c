#include "platform/linux/secret_store_libsecret.h"

#include "base/serial_queue.h"
#include "base/time_util.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>

#include <libsecret/secret.h>

namespace vak {

namespace {

// Items are matched by their attributes alone, so one stored by another tool with the same
// service and account (secret-tool, a backup) is found too.
const SecretSchema kSchema = {
    "com.halden.vak-dictate.GenericSecret",
    SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

constexpr const char* kBinaryContentType = "application/octet-stream";

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

struct SecretValueDeleter {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using SecretValuePtr = std::unique_ptr<SecretValue, SecretValueDeleter>;

// One call handed to the store's thread. The caller waits until the deadline; after that it
// gives up, cancels the call and never looks at it again. A call given up before its turn
// never starts, so a late write can never land after the caller reported failure.
template <class Result>
struct PendingCall {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<Result> result;
    bool abandoned = false;
    GCancellable* cancellable = g_cancellable_new();

    PendingCall() = default;
    PendingCall(const PendingCall&) = delete;
    PendingCall& operator=(const PendingCall&) = delete;
    ~PendingCall() { g_object_unref(cancellable); }
};

class LibsecretStore final : public SecretStore {
  public:
    explicit LibsecretStore(double timeoutSeconds)
        : timeoutSeconds_(timeoutSeconds), queue_(std::make_shared<SerialQueue>("vak.secrets")) {}

    SecretRead read(std::string_view service, std::string_view account) override {
        const std::string s(service);
        const std::string a(account);
        auto result = bounded<SecretRead>([s, a](GCancellable* cancellable) {
            GError* raw = nullptr;
            SecretValuePtr value(secret_password_lookup_binary_sync(
                &kSchema, cancellable, &raw, "service", s.c_str(), "account", a.c_str(), nullptr));
            ErrorPtr error(raw);
            if (error) return SecretRead{SecretStatus::Failed, {}};
            if (!value) return SecretRead{SecretStatus::NotFound, {}};
            gsize length = 0;
            const gchar* bytes = secret_value_get(value.get(), &length);
            return SecretRead{SecretStatus::Found, std::string(bytes, length)};
        });
        return result ? std::move(*result) : SecretRead{SecretStatus::Failed, {}};
    }

    bool write(std::string_view service, std::string_view account, std::string_view data) override {
        const std::string s(service);
        const std::string a(account);
        const std::string bytes(data);
        const std::string label = s + " (" + a + ")";
        auto result = bounded<bool>([s, a, bytes, label](GCancellable* cancellable) {
            SecretValuePtr value(secret_value_new(bytes.data(), static_cast<gssize>(bytes.size()),
                                                  kBinaryContentType));
            GError* raw = nullptr;
            const gboolean stored = secret_password_store_binary_sync(
                &kSchema, SECRET_COLLECTION_DEFAULT, label.c_str(), value.get(), cancellable, &raw,
                "service", s.c_str(), "account", a.c_str(), nullptr);
            ErrorPtr error(raw);
            return stored != FALSE && !error;
        });
        return result.value_or(false);
    }

    bool remove(std::string_view service, std::string_view account) override {
        const std::string s(service);
        const std::string a(account);
        auto result = bounded<bool>([s, a](GCancellable* cancellable) {
            GError* raw = nullptr;
            // FALSE without an error means there was nothing to delete, which is success here.
            secret_password_clear_sync(&kSchema, cancellable, &raw, "service", s.c_str(), "account",
                                       a.c_str(), nullptr);
            ErrorPtr error(raw);
            return !error;
        });
        return result.value_or(false);
    }

  private:
    template <class Result, class Operation>
    std::optional<Result> bounded(Operation operation) {
        auto call = std::make_shared<PendingCall<Result>>();
        queue_->async([call, operation] {
            {
                std::lock_guard lock(call->mutex);
                if (call->abandoned) return;
            }
            Result result = operation(call->cancellable);
            std::lock_guard lock(call->mutex);
            call->result = std::move(result);
            call->done.notify_all();
        });
        std::unique_lock lock(call->mutex);
        if (call->done.wait_until(lock, deadlineAfter(timeoutSeconds_),
                                  [&] { return call->result.has_value(); })) {
            return std::move(call->result);
        }
        call->abandoned = true;
        lock.unlock();
        // Frees the store's thread for the next call; a D-Bus call in flight ends at once.
        g_cancellable_cancel(call->cancellable);
        return std::nullopt;
    }

    double timeoutSeconds_;
    std::shared_ptr<SerialQueue> queue_;
};

} // namespace

std::shared_ptr<SecretStore> makeLibsecretStore(double timeoutSeconds) {
    return std::make_shared<LibsecretStore>(timeoutSeconds);
}

} // namespace vak

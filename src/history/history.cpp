#include "history/history.h"

#include "base/files.h"
#include "base/log.h"
#include "foundation/constants.h"
#include "platform/host.h"
#include "platform/secret_store.h"
#include "text/words.h"

#include <charconv>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

std::string storeRefused() {
    return "could not store the history key in " + std::string(host().keyStore) +
           ", so no history is being kept";
}

std::string storeUnreadable() {
    return "could not read the history key from " + std::string(host().keyStore) +
           ", so no history is being kept";
}

std::int64_t currentUnixSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// True when the file at `fd` is empty or ends with a line break. When that cannot be told, a
// record is better started on a fresh line: an empty line costs nothing, a glued one a record.
bool endsAtLineStart(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (st.st_size == 0) return true;
    char last = 0;
    return ::pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n';
}

} // namespace

std::string shortHash(std::string_view text) {
    return sha256Hex(text).substr(0, 6);
}

namespace {

// The stored key when the item holds exactly 32 bytes; the read's status either way.
std::optional<AesKey> storedKey(SecretStore& store, SecretStatus& status) {
    SecretRead stored = store.read(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT);
    status = stored.status;
    std::optional<AesKey> key;
    if (stored.status == SecretStatus::Found && stored.data.size() == kAesKeyBytes) {
        key.emplace();
        std::memcpy(key->bytes.data(), stored.data.data(), kAesKeyBytes);
    }
    if (!stored.data.empty()) OPENSSL_cleanse(stored.data.data(), stored.data.size());
    return key;
}

// "TIME\tBASE64" opened under `key`: the time, the tag and the text.
std::optional<HistoryRecord> openRecord(const AesKey& key, std::string_view line) {
    const auto tab = line.find('\t');
    if (tab == std::string_view::npos) return std::nullopt;
    HistoryRecord record;
    const auto time = line.substr(0, tab);
    const auto [end, error] =
        std::from_chars(time.data(), time.data() + time.size(), record.unixSeconds);
    if (error != std::errc() || end != time.data() + time.size()) return std::nullopt;
    const auto box = base64Decode(line.substr(tab + 1));
    if (!box) return std::nullopt;
    auto plain = aesGcmOpen(key, *box);
    if (!plain) return std::nullopt;
    const auto split = plain->find('\t');
    if (split != std::string::npos) {
        record.tag = plain->substr(0, split);
        record.text = plain->substr(split + 1);
    }
    OPENSSL_cleanse(plain->data(), plain->size());
    if (split == std::string::npos) return std::nullopt;
    return record;
}

} // namespace

HistoryReading readHistory(const std::string& historyPath, SecretStore* store, std::size_t count) {
    HistoryReading reading;
    const auto bytes = readFileBytes(historyPath);
    if (!bytes) return reading;
    std::vector<std::string_view> lines;
    for (std::string_view rest = *bytes; !rest.empty();) {
        const auto newline = rest.find('\n');
        const auto line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        if (!line.empty()) lines.push_back(line);
    }
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<long>(count));
    SecretStatus status = SecretStatus::Failed;
    const auto key = store != nullptr ? storedKey(*store, status) : std::nullopt;
    if (!key) {
        reading.keyMissing = true;
        reading.skipped = lines.size();
        return reading;
    }
    for (const auto line : lines) {
        if (auto record = openRecord(*key, line)) {
            reading.records.push_back(std::move(*record));
        } else {
            ++reading.skipped;
        }
    }
    return reading;
}

std::optional<AesKey> historyKey(SecretStore* store) {
    if (store == nullptr) {
        log(LogLevel::warning, storeRefused());
        return std::nullopt;
    }
    SecretStatus status = SecretStatus::Failed;
    if (auto key = storedKey(*store, status)) return key;
    if (status == SecretStatus::Failed) {
        // Replacing a key we merely could not read would orphan every record sealed under it.
        log(LogLevel::warning, storeUnreadable());
        return std::nullopt;
    }

    auto key = randomAesKey();
    if (!key) {
        log(LogLevel::warning, storeRefused());
        return std::nullopt;
    }
    store->remove(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT);
    const std::string_view bytes(reinterpret_cast<const char*>(key->bytes.data()),
                                 key->bytes.size());
    if (!store->write(KEYCHAIN_SERVICE, KEYCHAIN_ACCOUNT, bytes)) {
        log(LogLevel::warning, storeRefused());
        return std::nullopt;
    }
    return key;
}

std::optional<std::string> sealHistoryRecord(const AesKey& key, std::string_view text,
                                             std::string_view tag, std::int64_t unixSeconds) {
    std::string plaintext;
    plaintext.reserve(tag.size() + 1 + text.size());
    plaintext += tag;
    plaintext += '\t';
    plaintext += text;
    const auto box = aesGcmSeal(key, plaintext);
    OPENSSL_cleanse(plaintext.data(), plaintext.size());
    if (!box) return std::nullopt;
    return std::to_string(unixSeconds) + "\t" + base64Encode(*box) + "\n";
}

bool appendHistory(const std::string& historyPath, SecretStore* store, std::string_view text,
                   std::string_view tag, std::int64_t unixSeconds) {
    const auto key = historyKey(store);
    if (!key) return false;
    auto line = sealHistoryRecord(*key, text, tag, unixSeconds);
    if (!line) return false;

    // File errors write no line of their own: the caller's log line goes out either way, just
    // without claiming a saved record.
    UniqueFd fd(::open(historyPath.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) return false;
    if (!endsAtLineStart(fd.get())) line->insert(0, "\n");
    const bool written = writeAll(fd.get(), *line);
    ::fchmod(fd.get(), 0600);
    return written;
}

void logTranscript(std::string_view text, std::string_view tag, const HistorySettings& settings,
                   std::string_view caveat) {
    std::string line = caveat.empty() ? std::string() : std::string(caveat) + " · ";
    // A tag starts with its own blank (" raw", " 🎯1.2s edit").
    if (!tag.empty()) line += std::string(tag.substr(1)) + " ";
    line += std::to_string(countWords(text)) + " words · " + shortHash(text);
    if (!settings.privacyMode &&
        appendHistory(settings.historyPath, settings.store, text, tag, currentUnixSeconds())) {
        line += " · saved to encrypted history";
    }
    log(caveat.empty() ? LogLevel::ok : LogLevel::warning, line);
}

} // namespace vak

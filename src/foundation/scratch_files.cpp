#include "foundation/scratch_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr std::string_view kRecording = "vak_rec_";
constexpr std::string_view kFailed = "vak_failed_";
constexpr std::string_view kChunk = "vak_chunk_";
constexpr std::string_view kCaption = "vak_caption_";
constexpr std::string_view kConditioned = "vak_pp_";
constexpr std::string_view kRetry = "vak_retry_";

// What a crashed run may have left: everything of a recording session (the replay modes'
// clips, "vak_captionsim.wav" and "vak_chunksim.wav", share the prefixes) and of a retry.
constexpr std::string_view kSwept[] = {kRecording, "vak_chunk", "vak_caption", kConditioned,
                                       kRetry};

std::string processTag() {
    return std::to_string(::getpid());
}

std::string uniqueTag() {
    static std::atomic<unsigned long> sequence{0};
    return processTag() + "_" + std::to_string(++sequence);
}

// One folder's part of the sweep.
int sweepFolder(const std::string& dir, int historyDays, std::time_t now) {
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) return 0;
    int removed = 0;
    const double maxAge = std::max(historyDays, 0) * 86400.0;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        const std::string file = dir + "/" + std::string(name);
        bool remove =
            std::any_of(std::begin(kSwept), std::end(kSwept),
                        [name](std::string_view prefix) { return name.starts_with(prefix); });
        if (!remove && name.starts_with(kFailed)) {
            struct stat st {};
            remove = ::lstat(file.c_str(), &st) == 0 && std::difftime(now, st.st_mtime) >= maxAge;
        }
        if (remove && ::unlink(file.c_str()) == 0) ++removed;
    }
    ::closedir(folder);
    return removed;
}

} // namespace

ScratchFiles::ScratchFiles(std::string dir, std::string overflowDir)
    : dir_(std::move(dir)), overflow_(std::move(overflowDir)) {
    for (std::string* folder : {&dir_, &overflow_}) {
        while (folder->size() > 1 && folder->back() == '/')
            folder->pop_back();
    }
    if (dir_.empty()) dir_ = "/tmp";
    if (overflow_ == dir_) overflow_.clear();
}

std::vector<std::string> ScratchFiles::folders() const {
    if (overflow_.empty()) return {dir_};
    return {dir_, overflow_};
}

std::string ScratchFiles::overflowRecording(int session) const {
    if (overflow_.empty()) return {};
    return overflow_ + "/" + std::string(kRecording) + std::to_string(session) + ".wav";
}

std::string ScratchFiles::path(std::string_view name) const {
    return dir_ + "/" + std::string(name);
}

std::string ScratchFiles::recording(int session) const {
    return recordingTextBase(session) + ".wav";
}

std::string ScratchFiles::recordingTextBase(int session) const {
    return path(std::string(kRecording) + std::to_string(session));
}

std::string ScratchFiles::failedRecording(int session, int copy) const {
    return path(std::string(kFailed) + std::to_string(session) +
                (copy > 1 ? "-" + std::to_string(copy) : "") + ".wav");
}

std::optional<std::string> ScratchFiles::keepFailedRecording(const std::string& wav,
                                                             int session) const {
    // Kept in its own folder: a link never crosses file systems.
    const bool overflowed =
        !overflow_.empty() && wav.size() > overflow_.size() && wav.starts_with(overflow_ + "/");
    const ScratchFiles keeper(overflowed ? overflow_ : dir_);
    // link() refuses a name that is taken, where rename() would silently replace it.
    for (int copy = 1; copy <= 1000; ++copy) {
        const std::string kept = keeper.failedRecording(session, copy);
        if (::link(wav.c_str(), kept.c_str()) == 0) {
            ::unlink(wav.c_str());
            ::chmod(kept.c_str(), 0600);
            return kept;
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::nullopt;
}

std::vector<KeptRecording> ScratchFiles::failedRecordings() const {
    std::vector<KeptRecording> kept;
    for (const std::string& dir : folders()) {
        DIR* folder = ::opendir(dir.c_str());
        if (folder == nullptr) continue;
        while (const dirent* entry = ::readdir(folder)) {
            const std::string_view name = entry->d_name;
            if (!name.starts_with(kFailed) || !name.ends_with(".wav")) continue;
            struct stat st {};
            const std::string file = dir + "/" + std::string(name);
            if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            kept.push_back({file, st.st_mtime,
                            static_cast<double>(std::max<off_t>(st.st_size - 44, 0)) / 32000.0});
        }
        ::closedir(folder);
    }
    std::sort(kept.begin(), kept.end(), [](const KeptRecording& a, const KeptRecording& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.path > b.path;
    });
    return kept;
}

std::vector<ScratchFiles::StaleRecording> ScratchFiles::staleRecordings() const {
    std::vector<StaleRecording> stale;
    for (const std::string& dir : folders()) {
        DIR* folder = ::opendir(dir.c_str());
        if (folder == nullptr) continue;
        while (const dirent* entry = ::readdir(folder)) {
            std::string_view name = entry->d_name;
            if (!name.starts_with(kRecording) || !name.ends_with(".wav")) continue;
            const std::string file = dir + "/" + std::string(name);
            name.remove_prefix(kRecording.size());
            name.remove_suffix(4);
            int session = 0;
            const auto [end, error] =
                std::from_chars(name.data(), name.data() + name.size(), session);
            if (error != std::errc() || end != name.data() + name.size() || session < 0) continue;
            struct stat st {};
            if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
                continue;
            stale.push_back({file, session});
        }
        ::closedir(folder);
    }
    std::sort(stale.begin(), stale.end(),
              [](const StaleRecording& a, const StaleRecording& b) { return a.path < b.path; });
    return stale;
}

std::string ScratchFiles::retryTextBase() const {
    return path(std::string(kRetry) + uniqueTag());
}

std::string ScratchFiles::lastClip() const {
    return path("vak_last.wav");
}

std::string ScratchFiles::chunkBase(int session, std::string_view piece) const {
    return path(std::string(kChunk) + std::to_string(session) + "_" + std::string(piece));
}

std::string ScratchFiles::captionBase() const {
    return path(std::string(kCaption) + processTag());
}

std::string ScratchFiles::conditionedCopy() const {
    return path(std::string(kConditioned) + uniqueTag() + ".wav");
}

std::string ScratchFiles::requestBody(std::string_view provider) const {
    return path("vak_" + std::string(provider) + "_" + uniqueTag() + ".json");
}

std::string ScratchFiles::commandLineBase(std::string_view mode, bool perProcess) const {
    return path("vak_" + std::string(mode) + (perProcess ? "_" + processTag() : ""));
}

int ScratchFiles::sweep(int historyDays, std::time_t now) const {
    int removed = 0;
    for (const std::string& dir : folders())
        removed += sweepFolder(dir, historyDays, now);
    return removed;
}

} // namespace vak

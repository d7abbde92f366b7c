#include "transcribe/model_download.h"

#include "base/file_digest.h"
#include "base/files.h"
#include "base/numbers.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "base/unicode.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace vak {

namespace {

constexpr const char* kCurl = "/usr/bin/curl";
// A transfer slower than this for the stall time ends (and resumes on the next try).
constexpr const char* kStallBytesPerSecond = "1024";
constexpr const char* kStallSeconds = "60";
constexpr double kHeadSeconds = 30;
constexpr double kTransferSeconds = 6 * 3600;

// curl's exit codes for "no answer": host not found, no connection, timeout, TLS, no reply.
bool unreachable(int curlExit) {
    for (const int code : {5, 6, 7, 28, 35, 52, 56, 60})
        if (curlExit == code) return true;
    return false;
}

std::string lastLine(const std::string& text) {
    std::string trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == '\n' || trimmed.back() == '\r'))
        trimmed.pop_back();
    const auto newline = trimmed.rfind('\n');
    return newline == std::string::npos ? trimmed : trimmed.substr(newline + 1);
}

struct Head {
    int curlExit = 0;
    std::string error;
    std::string status; // of the last response, after redirects
    std::optional<std::int64_t> length;
};

Head askHead(const std::string& url, const std::atomic<bool>* cancel) {
    RunOptions run;
    run.timeoutSeconds = kHeadSeconds + 5;
    run.errorTailBytes = 4096;
    run.cancel = cancel;
    Head head;
    const auto result =
        runProcess({kCurl, "-sS", "-L", "-I", "--max-time", "30", "--url", url}, run, &head.error);
    if (!result) {
        head.curlExit = -1;
        return head;
    }
    head.curlExit = result->status.exited() ? result->status.code : -1;
    head.error = lastLine(result->errorTail);
    // Each response of a redirect chain starts with its status line; the last one counts.
    std::size_t start = 0;
    const std::string& text = result->output;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string lower = toLower(line);
        if (lower.starts_with("http/")) {
            const auto blank = line.find(' ');
            head.status = blank == std::string::npos ? "" : line.substr(blank + 1, 3);
            head.length.reset();
        } else if (lower.starts_with("content-length:")) {
            head.length = std::atoll(line.c_str() + 15);
        }
        start = end + 1;
    }
    return head;
}

bool hasModelMagic(const std::string& path) {
    const auto size = fileSize(path).value_or(0);
    if (size < 4) return false;
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char magic[4] = {};
    return fd.valid() && ::read(fd.get(), magic, 4) == 4 && std::string_view(magic, 4) == "lmgg";
}

DownloadResult result(DownloadResult::Outcome outcome, std::string detail, bool resumed = false) {
    return {outcome, std::move(detail), resumed};
}

std::string mebibytes(std::int64_t bytes) {
    return fixedDecimals(static_cast<double>(bytes) / (1 << 20), 1);
}

// What the answer to the first request says against going on; nothing when it is a 200.
std::optional<DownloadResult> headProblem(const Head& head) {
    using Outcome = DownloadResult::Outcome;
    if (head.curlExit != 0 || head.status.empty()) {
        if (head.curlExit > 0 && unreachable(head.curlExit))
            return result(Outcome::Unreachable, head.error);
        return result(Outcome::Failed, head.error.empty() ? "curl did not run" : head.error);
    }
    if (head.status != "200") return result(Outcome::Refused, "HTTP " + head.status);
    return std::nullopt;
}

// The bytes of `part` to resume from. A partial file longer than the whole one belongs to
// another version: it is removed and the download starts again.
std::int64_t resumableBytes(const std::string& part, const Head& head) {
    const std::int64_t have = fileSize(part).value_or(0);
    if (head.length && have > *head.length) {
        removeFile(part);
        return 0;
    }
    return have;
}

std::vector<std::string> transferArguments(const std::string& url, const std::string& part,
                                           bool resume) {
    std::vector<std::string> args = {kCurl,          "-sS",           "-f",
                                     "-L",           "--speed-limit", kStallBytesPerSecond,
                                     "--speed-time", kStallSeconds};
    if (resume) args.insert(args.end(), {"-C", "-"});
    args.insert(args.end(), {"-o", part, "--url", url});
    return args;
}

// Tells `progress` every quarter second how far `part` has grown, until `running` is cleared.
std::thread watchProgress(const std::string& part, std::optional<std::int64_t> total,
                          std::int64_t had, const ProgressSink& progress,
                          const std::atomic<bool>& running) {
    return std::thread([&part, total, had, &progress, &running] {
        const auto start = SteadyClock::now();
        while (running.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            if (!progress) continue;
            DownloadProgress p;
            p.bytes = fileSize(part).value_or(0);
            p.total = total;
            const double seconds = std::max(secondsSince(start), 0.001);
            p.bytesPerSecond = static_cast<double>(p.bytes - had) / seconds;
            if (p.total && p.bytesPerSecond > 0)
                p.secondsLeft = static_cast<double>(*p.total - p.bytes) / p.bytesPerSecond;
            progress(p);
        }
    });
}

// What a transfer that ended says against going on; nothing when curl succeeded.
std::optional<DownloadResult> transferProblem(const std::optional<ProcessResult>& run,
                                              const std::string& error, const std::string& part,
                                              bool resumed) {
    using Outcome = DownloadResult::Outcome;
    if (!run) return result(Outcome::Failed, error, resumed);
    if (run->cancelled) {
        return result(Outcome::Cancelled,
                      mebibytes(fileSize(part).value_or(0)) + " MiB kept for the next try",
                      resumed);
    }
    const int code = run->status.exited() ? run->status.code : -1;
    if (code == 0) return std::nullopt;
    const std::string why = lastLine(run->errorTail);
    if (code > 0 && unreachable(code)) return result(Outcome::Unreachable, why, resumed);
    if (code == 22) return result(Outcome::Refused, why, resumed);
    return result(Outcome::Interrupted, why.empty() ? "curl exit " + std::to_string(code) : why,
                  resumed);
}

// Fetches the rest of the file into `part`, from byte `have` on; nothing when that went well.
std::optional<DownloadResult> transfer(const std::string& url, const std::string& part,
                                       const Head& head, std::int64_t have,
                                       const ProgressSink& progress,
                                       const std::atomic<bool>* cancel) {
    RunOptions run;
    run.timeoutSeconds = kTransferSeconds;
    run.captureOutput = false;
    run.errorTailBytes = 4096;
    run.cancel = cancel;
    std::atomic<bool> running{true};
    std::thread watcher = watchProgress(part, head.length, have, progress, running);
    std::string error;
    const auto ran = runProcess(transferArguments(url, part, have > 0), run, &error);
    running.store(false);
    watcher.join();
    return transferProblem(ran, error, part, have > 0);
}

// Whether the whole of `part` is the file expected: its length, a model file's header, the
// published checksums. A wrong file is removed (a partial one is kept to resume).
std::optional<DownloadResult> checkProblem(const std::string& part, const Head& head,
                                           const ExpectedFile& expected, bool resumed) {
    using Outcome = DownloadResult::Outcome;
    const std::int64_t got = fileSize(part).value_or(0);
    if (head.length && got != *head.length) {
        return result(Outcome::Interrupted,
                      "got " + mebibytes(got) + " of " + mebibytes(*head.length) + " MiB", resumed);
    }
    const auto reject = [&](std::string why) {
        removeFile(part);
        return result(Outcome::Mismatch, std::move(why), resumed);
    };
    if (!hasModelMagic(part)) return reject("not a model file (no ggml header)");
    for (const auto& [digest, want, label] :
         {std::tuple{Digest::Sha1, expected.sha1, "SHA-1"},
          std::tuple{Digest::Sha256, expected.sha256, "SHA-256"}}) {
        if (want.empty()) continue;
        const auto actual = fileDigestHex(part, digest).value_or("unreadable");
        if (actual != want)
            return reject(std::string(label) + " " + actual + " where " + want + " is published");
    }
    return std::nullopt;
}

} // namespace

DownloadResult downloadFile(const std::string& url, const std::string& path,
                            const ExpectedFile& expected, const ProgressSink& progress,
                            const std::atomic<bool>* cancel) {
    using Outcome = DownloadResult::Outcome;
    const Head head = askHead(url, cancel);
    if (cancel != nullptr && cancel->load())
        return result(Outcome::Cancelled, "stopped before it began");
    if (auto problem = headProblem(head)) return *problem;

    const std::string part = path + ".part";
    const std::int64_t have = resumableBytes(part, head);
    const bool resumed = have > 0;
    if (!head.length || have < *head.length) {
        if (auto problem = transfer(url, part, head, have, progress, cancel)) return *problem;
    }
    if (auto problem = checkProblem(part, head, expected, resumed)) return *problem;
    // Only a checked, whole file ever stands at `path`: the rename replaces it at once.
    if (std::rename(part.c_str(), path.c_str()) != 0)
        return result(Outcome::Failed, "cannot rename " + part, resumed);
    return result(Outcome::Done, "", resumed);
}

std::string progressText(const DownloadProgress& progress) {
    std::string text = mebibytes(progress.bytes);
    if (progress.total) text += " / " + mebibytes(*progress.total);
    text += " MiB  " + mebibytes(static_cast<std::int64_t>(progress.bytesPerSecond)) + " MiB/s";
    if (progress.secondsLeft) {
        const auto left = static_cast<long long>(std::ceil(*progress.secondsLeft));
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "  %lld:%02lld left", left / 60, left % 60);
        text += buffer;
    }
    return text;
}

std::string progressBarText(const DownloadProgress& progress, int width) {
    std::string text = "[";
    const double share =
        progress.total && *progress.total > 0
            ? std::clamp(static_cast<double>(progress.bytes) / static_cast<double>(*progress.total),
                         0.0, 1.0)
            : 0.0;
    const int filled = static_cast<int>(std::lround(share * width));
    text += std::string(static_cast<std::size_t>(filled), '#');
    text += std::string(static_cast<std::size_t>(width - filled), '-');
    return text + "]  " + progressText(progress);
}

} // namespace vak

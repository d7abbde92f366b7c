#pragma once

#include "transcribe/model_catalog.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vak {

// Fetching a model file through curl: into PATH.part, resumed when a partial file is there,
// checked (size, model file format, checksum) and only then renamed onto PATH, so PATH is never
// a partial or wrong file.

struct DownloadProgress {
    std::int64_t bytes = 0; // in the partial file, resumed bytes included
    std::optional<std::int64_t> total;
    double bytesPerSecond = 0; // over this run
    std::optional<double> secondsLeft;
};
using ProgressSink = std::function<void(const DownloadProgress& progress)>;

struct DownloadResult {
    enum class Outcome {
        Done,
        Unreachable, // no answer from the host: offline, or a name or address that is wrong
        Refused,     // the host answered with an error (no such file, …)
        Interrupted, // the transfer broke off; the partial file is kept for the next try
        Mismatch,    // the file is not what it should be; it was removed
        Failed,      // curl could not run, or the file could not be put in place
        Cancelled,   // stopped on request; the partial file is kept for the next try
    };
    Outcome outcome = Outcome::Failed;
    std::string detail; // what went wrong, in a few words
    bool resumed = false;

    bool ok() const { return outcome == Outcome::Done; }
};

// Downloads `url` to `path`. `progress` is told every quarter second while bytes arrive (from
// another thread). Blocks until done; every curl run is bounded in time and by a stall limit.
// Setting `cancel` (from another thread) stops it within a moment.
DownloadResult downloadFile(const std::string& url, const std::string& path,
                            const ExpectedFile& expected, const ProgressSink& progress,
                            const std::atomic<bool>* cancel = nullptr);

// "312.4 / 547.0 MiB  12.3 MiB/s  0:19 left"
std::string progressText(const DownloadProgress& progress);
// The same behind a bar of `width` cells: "[#########---------]  312.4 / 547.0 MiB  …".
std::string progressBarText(const DownloadProgress& progress, int width = 24);

} // namespace vak

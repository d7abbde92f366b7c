#pragma once

// What the fuzz targets share: a private folder for the files a stage reads and writes, and the
// checks whose failure is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include <stdlib.h>

extern "C" void __sanitizer_report_error_summary(const char* summary);

namespace vak::fuzz {

// One folder per process, made on first use and left for the system to clean.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/vak_fuzz_XXXXXX";
        const char* made = mkdtemp(pattern);
        if (made == nullptr) std::abort();
        return std::string(made);
    }();
    return folder;
}

inline std::string scratchFile(const std::string& name) {
    return scratchFolder() + "/" + name;
}

inline void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut in two at its first NUL byte (all of it first when there is none).
inline std::pair<std::string_view, std::string_view> twoParts(std::string_view input) {
    const std::size_t cut = input.find('\0');
    if (cut == std::string_view::npos) return {input, {}};
    return {input.substr(0, cut), input.substr(cut + 1)};
}

// A broken promise of the stage: reported where the fuzzer reports (its standard error is closed
// to the stages' log lines), then the run stops as on a crash and the input is kept.
inline void require(bool ok, const char* promise) {
    if (ok) return;
    __sanitizer_report_error_summary((std::string("broken promise: ") + promise).c_str());
    std::abort();
}

} // namespace vak::fuzz

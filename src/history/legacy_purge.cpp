#include "history/legacy_purge.h"

#include "base/files.h"
#include "base/log.h"
#include "base/unicode.h"
#include "foundation/process_values.h"

#include <array>
#include <optional>
#include <string_view>

namespace vak {

namespace {

constexpr std::array<std::string_view, 3> kPlaintextMarks = {"] ✓ ",
                                                             "· raw: ", "· cmd instruction: "};

bool holdsPlaintext(std::string_view line) {
    for (const auto mark : kPlaintextMarks) {
        if (line.find(mark) != std::string_view::npos) return true;
    }
    return false;
}

} // namespace

LegacyPurgeFiles LegacyPurgeFiles::from(const ProcessValues& values) {
    return {values.LOG, values.file(UserFile::PrivacyMigrated), values.scratch.lastClip()};
}

void purgeLegacyPlaintext(const LegacyPurgeFiles& files) {
    if (pathExists(files.markerPath)) return;

    std::size_t removed = 0;
    bool logReadable = false;
    editLogFile(files.logPath,
                [&](const std::optional<std::string>& bytes) -> std::optional<std::string> {
                    if (!bytes || !isValidUtf8(*bytes)) return std::nullopt;
                    logReadable = true;
                    // Split at every line break keeping empty pieces, so the text between the
                    // removed lines comes back byte for byte.
                    std::string kept;
                    kept.reserve(bytes->size());
                    std::string_view rest = *bytes;
                    bool first = true;
                    for (;;) {
                        const auto newline = rest.find('\n');
                        const std::string_view line = rest.substr(0, newline);
                        if (holdsPlaintext(line)) {
                            ++removed;
                        } else {
                            if (!first) kept += '\n';
                            kept += line;
                            first = false;
                        }
                        if (newline == std::string_view::npos) break;
                        rest.remove_prefix(newline + 1);
                    }
                    if (removed == 0) return std::nullopt;
                    return kept;
                });
    if (logReadable) setPermissions(files.logPath, 0600);

    if (pathExists(files.retainedClipPath) && removeFile(files.retainedClipPath)) ++removed;

    writeFileAtomic(files.markerPath, "", 0600);
    log(LogLevel::privacy, "privacy migration: removed " + std::to_string(removed) +
                               " plaintext transcripts and retained clips from earlier versions");
}

} // namespace vak

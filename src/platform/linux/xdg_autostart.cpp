#include "platform/linux/xdg_autostart.h"

#include "base/environment.h"
#include "base/files.h"
#include "base/unicode.h"
#include "platform/linux/launcher_entry.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vak {

namespace {

// One program path as an Exec argument: quoted when it holds a character the desktop-entry
// rules reserve, "%" doubled (field codes), and every backslash escaped once more because the
// value is a string too. Nothing for control characters, which no entry line can carry.
std::optional<std::string> execArgument(std::string_view program) {
    constexpr std::string_view kReserved = " \"'\\><~|&;$*?#()`";
    const bool quoted = program.find_first_of(kReserved) != std::string_view::npos;
    std::string argument;
    for (const char c : program) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) argument += '\\';
        if (c == '%') argument += '%';
        argument += c;
    }
    if (quoted) argument = '"' + argument + '"';
    std::string value;
    for (const char c : argument) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value;
}

// The value of `key` in the entry's lines, trimmed; nothing when no line sets it.
std::optional<std::string> entryValue(std::string_view entry, std::string_view key) {
    std::optional<std::string> found;
    for (std::string_view rest = entry; !rest.empty();) {
        const auto newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        const auto equals = line.find('=');
        if (equals == std::string_view::npos || trim(line.substr(0, equals)) != key) continue;
        found = trim(line.substr(equals + 1));
    }
    return found;
}

} // namespace

std::string autostartEntryPath(std::string_view home, const char* xdgConfigHome) {
    const std::string config = xdgConfigHome != nullptr && xdgConfigHome[0] == '/'
                                   ? std::string(xdgConfigHome)
                                   : std::string(home) + "/.config";
    return config + "/autostart/" + std::string(DESKTOP_ENTRY_NAME);
}

std::optional<std::string> autostartEntryText(std::string_view program) {
    const auto exec = execArgument(program);
    if (!exec) return std::nullopt;
    std::string entry;
    for (std::string_view rest = LAUNCHER_ENTRY; !rest.empty();) {
        const auto newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
        entry += line.starts_with("Exec=") ? "Exec=" + *exec : std::string(line);
        entry += '\n';
    }
    return entry;
}

bool autostartEnabled(const std::string& path) {
    const auto entry = readTextFile(path);
    if (!entry) return false;
    return entryValue(*entry, "Hidden") != "true" &&
           entryValue(*entry, "X-GNOME-Autostart-enabled") != "false";
}

bool setAutostart(const std::string& path, bool on, std::string_view program,
                  std::string* problem) {
    std::string why;
    bool done = false;
    if (on) {
        const auto entry = autostartEntryText(program);
        const std::string folder = std::filesystem::path(path).parent_path().string();
        if (!entry) {
            why = "the program's path has a control character";
        } else if (!makeDirectories(folder)) {
            why = "cannot make " + folder + ": " + std::strerror(errno);
        } else {
            done = replaceUserFile(path, *entry, &why);
            if (!done && why.empty()) why = "cannot be written";
        }
    } else {
        done = removeFile(path) || errno == ENOENT;
        if (!done) why = std::string("cannot be removed: ") + std::strerror(errno);
    }
    if (problem != nullptr) *problem = why;
    return done;
}

std::shared_ptr<LoginItem> makeLoginItem(std::string_view home, std::string_view program) {
    const auto configHome = envValue(Env::ConfigHome);
    return std::make_shared<XdgAutostart>(
        autostartEntryPath(home, configHome ? configHome->c_str() : nullptr), std::string(program));
}

} // namespace vak

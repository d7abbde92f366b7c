#include "platform/linux/gnome_shortcuts.h"

#include "base/files.h"
#include "base/subprocess.h"
#include "base/unicode.h"
#include "foundation/process_values.h"
#include "platform/linux/session_bus.h"

#include <array>
#include <cctype>
#include <cstdlib>
#include <sstream>

namespace vak {

namespace {

constexpr std::string_view kListSchema = "org.gnome.settings-daemon.plugins.media-keys";
constexpr std::string_view kListKey = "custom-keybindings";
constexpr std::string_view kEntrySchema =
    "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr std::string_view kEntryFolder =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";
// What binds keys on GNOME besides the custom keybindings: a chord any of them holds never
// reaches the media-keys daemon.
constexpr std::array<std::string_view, 5> kBindingSchemas = {
    "org.gnome.desktop.wm.keybindings", "org.gnome.shell.keybindings",
    "org.gnome.mutter.keybindings", "org.gnome.mutter.wayland.keybindings",
    "org.gnome.settings-daemon.plugins.media-keys"};
// gsettings answers from a local database and one D-Bus write; a session that takes longer is
// not waited for.
constexpr double kToolSeconds = 5;

bool sameChord(const ShortcutChord& a, const ShortcutChord& b) {
    return a.super == b.super && a.control == b.control && a.alt == b.alt && a.shift == b.shift &&
           toLower(a.keysym) == toLower(b.keysym);
}

std::optional<std::string> runTool(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return std::nullopt;
    RunOptions options;
    options.timeoutSeconds = kToolSeconds;
    options.maxOutputBytes = 1 << 20;
    const auto result = runProcess(argv, options);
    if (!result || result->timedOut || !result->status.success()) return std::nullopt;
    return result->output;
}

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

} // namespace

namespace gnome_keys {

std::string quoted(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

std::string quotedList(const std::vector<std::string>& items) {
    if (items.empty()) return "@as []";
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i == 0 ? "" : ", ") + quoted(items[i]);
    return out + "]";
}

std::optional<std::vector<std::string>> parseStrings(std::string_view text) {
    const auto skipSpace = [&] {
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
            text.remove_prefix(1);
    };
    skipSpace();
    for (const std::string_view prefix : {"@as ", "@s "}) {
        if (text.starts_with(prefix)) text.remove_prefix(prefix.size());
    }
    skipSpace();
    const bool list = !text.empty() && text.front() == '[';
    if (list) text.remove_prefix(1);
    std::vector<std::string> items;
    for (;;) {
        skipSpace();
        if (list && !text.empty() && text.front() == ']') {
            text.remove_prefix(1);
            break;
        }
        if (text.empty() || (text.front() != '\'' && text.front() != '"')) return std::nullopt;
        const char quote = text.front();
        text.remove_prefix(1);
        std::string item;
        while (!text.empty() && text.front() != quote) {
            if (text.front() == '\\' && text.size() > 1) text.remove_prefix(1);
            item += text.front();
            text.remove_prefix(1);
        }
        if (text.empty()) return std::nullopt;
        text.remove_prefix(1);
        items.push_back(std::move(item));
        if (!list) break;
        skipSpace();
        if (!text.empty() && text.front() == ',') text.remove_prefix(1);
    }
    skipSpace();
    if (!text.empty()) return std::nullopt;
    return items;
}

std::string accelerator(const ShortcutChord& chord) {
    std::string out;
    if (chord.super) out += "<Super>";
    if (chord.control) out += "<Control>";
    if (chord.alt) out += "<Alt>";
    if (chord.shift) out += "<Shift>";
    return out + chord.keysym;
}

std::optional<ShortcutChord> parseAccelerator(std::string_view text) {
    ShortcutChord chord;
    while (!text.empty() && text.front() == '<') {
        const auto end = text.find('>');
        if (end == std::string_view::npos) return std::nullopt;
        const std::string name = toLower(text.substr(1, end - 1));
        text.remove_prefix(end + 1);
        if (name == "super" || name == "meta" || name == "mod4") {
            chord.super = true;
        } else if (name == "control" || name == "primary" || name == "ctrl" || name == "ctl") {
            chord.control = true;
        } else if (name == "alt" || name == "mod1") {
            chord.alt = true;
        } else if (name == "shift") {
            chord.shift = true;
        } else {
            return std::nullopt;
        }
    }
    if (text.empty()) return std::nullopt;
    chord.keysym = text.size() == 1 ? toLower(text) : std::string(text);
    return chord;
}

std::string commandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& arg : argv) {
        if (!line.empty()) line += ' ';
        const bool plain =
            !arg.empty() &&
            arg.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789_/.,:=@%+-") == std::string::npos;
        if (plain) {
            line += arg;
            continue;
        }
        line += '\'';
        for (const char c : arg) {
            if (c == '\'') {
                line += "'\\''";
            } else {
                line += c;
            }
        }
        line += '\'';
    }
    return line;
}

} // namespace gnome_keys

GnomeShortcuts::GnomeShortcuts() : run_(runTool) {}

std::string GnomeShortcuts::desktop() {
    if (!haveSessionBus()) return {};
    // The daemon that acts on custom keybindings: without it a binding would be written and
    // never run.
    const auto owner =
        run_({_which("gdbus"), "call", "--session", "--timeout", "3", "--dest",
              "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus", "--method",
              "org.freedesktop.DBus.NameHasOwner", "org.gnome.SettingsDaemon.MediaKeys"});
    if (!owner || owner->find("true") == std::string::npos) return {};
    const auto writable =
        run_({_which("gsettings"), "writable", std::string(kListSchema), std::string(kListKey)});
    return writable && trimmed(*writable) == "true" ? "GNOME" : "";
}

ShortcutResult GnomeShortcuts::add(const DesktopShortcut& shortcut) {
    const std::string gsettings = _which("gsettings");
    const std::string list(kListSchema);
    const std::string path = std::string(kEntryFolder) + shortcut.id + "/";
    const std::string entry = std::string(kEntrySchema) + ":" + path;
    const auto get = [&](const std::string& schema, const std::string& key) {
        const auto out = run_({gsettings, "get", schema, key});
        return out ? gnome_keys::parseStrings(*out) : std::nullopt;
    };
    const auto entries = get(list, std::string(kListKey));
    if (!entries) {
        return {ShortcutOutcome::Failed,
                "GNOME's custom keybindings could not be read (gsettings " + list + ")"};
    }

    // Whatever else holds the chord.
    for (const std::string_view schema : kBindingSchemas) {
        const auto keys = run_({gsettings, "list-recursively", std::string(schema)});
        if (!keys) continue; // a schema this GNOME does not have
        std::istringstream lines(*keys);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string schemaName;
            std::string key;
            fields >> schemaName >> key;
            std::string value;
            std::getline(fields, value);
            const auto accelerators = gnome_keys::parseStrings(value);
            if (!accelerators) continue;
            for (const std::string& accel : *accelerators) {
                const auto held = gnome_keys::parseAccelerator(accel);
                if (held && sameChord(*held, shortcut.chord))
                    return {ShortcutOutcome::Taken, "GNOME's " + key + " (" + schemaName + ")"};
            }
        }
    }
    bool listed = false;
    for (const std::string& other : *entries) {
        if (other == path) {
            listed = true;
            continue;
        }
        const std::string otherEntry = std::string(kEntrySchema) + ":" + other;
        const auto binding = get(otherEntry, "binding");
        if (!binding || binding->empty()) continue;
        const auto held = gnome_keys::parseAccelerator(binding->front());
        if (!held || !sameChord(*held, shortcut.chord)) continue;
        const auto name = get(otherEntry, "name");
        return {ShortcutOutcome::Taken,
                "the custom shortcut \"" + (name && !name->empty() ? name->front() : other) + "\""};
    }

    const std::vector<std::pair<std::string, std::string>> values = {
        {"name", shortcut.name},
        {"command", gnome_keys::commandLine(shortcut.command)},
        {"binding", gnome_keys::accelerator(shortcut.chord)}};
    const auto holds = [&] {
        for (const auto& [key, value] : values) {
            const auto now = get(entry, key);
            if (!now || *now != std::vector<std::string>{value}) return false;
        }
        return true;
    };
    if (listed && holds()) return {ShortcutOutcome::AlreadyThere, {}};
    for (const auto& [key, value] : values) {
        if (!run_({gsettings, "set", entry, key, gnome_keys::quoted(value)}))
            return {ShortcutOutcome::Failed, "gsettings could not set " + key + " of " + path};
    }
    if (!listed) {
        std::vector<std::string> updated = *entries;
        updated.push_back(path);
        if (!run_({gsettings, "set", list, std::string(kListKey), gnome_keys::quotedList(updated)}))
            return {ShortcutOutcome::Failed, "gsettings could not add " + path + " to the list"};
    }
    // Read back: a GSettings without its dconf back end keeps writes in memory only.
    const auto after = get(list, std::string(kListKey));
    bool kept = false;
    for (const std::string& item : after.value_or(std::vector<std::string>{}))
        kept = kept || item == path;
    if (!kept || !holds())
        return {ShortcutOutcome::Failed, "GNOME's settings did not keep the shortcut (no dconf?)"};
    return {ShortcutOutcome::Added, {}};
}

} // namespace vak

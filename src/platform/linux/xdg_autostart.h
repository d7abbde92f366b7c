#pragma once

#include "platform/login_item.h"

#include <optional>
#include <string>
#include <string_view>

namespace vak {

// "Start at login": the desktop's autostart folders hold a vak-dictate entry installed switched
// off for everyone (Hidden=true); an entry of the same name in the user's own autostart folder
// takes its place, and ours is the launcher's entry without those lines, so it starts the
// program at login. Removing it leaves the installed one, switched off, in charge again.

// $XDG_CONFIG_HOME/autostart/vak-dictate.desktop, where $XDG_CONFIG_HOME is ~/.config when unset
// or not an absolute path (which the XDG rules say to ignore).
std::string autostartEntryPath(std::string_view home, const char* xdgConfigHome);

// The launcher's entry (packaging/vak-dictate.desktop.in) with its Exec line starting
// `program`, quoted as the desktop-entry rules want. Nothing for a path that has a line break.
std::optional<std::string> autostartEntryText(std::string_view program);

// Whether the entry at `path` starts the program at login: it is there and neither hides itself
// (Hidden=true) nor is switched off for GNOME (X-GNOME-Autostart-enabled=false).
bool autostartEnabled(const std::string& path);

// Writes the entry (atomically, its folder made when missing) or removes it. False, with
// `problem` saying why, when that could not be done; the file is then as it was.
bool setAutostart(const std::string& path, bool on, std::string_view program,
                  std::string* problem = nullptr);

// The login item as the user's autostart entry at `path`, starting `program`.
class XdgAutostart final : public LoginItem {
  public:
    XdgAutostart(std::string path, std::string program)
        : path_(std::move(path)), program_(std::move(program)) {}
    bool enabled() const override { return autostartEnabled(path_); }
    bool set(bool on, std::string* problem) override {
        return setAutostart(path_, on, program_, problem);
    }
    std::string where() const override { return path_; }

  private:
    std::string path_;
    std::string program_;
};

} // namespace vak

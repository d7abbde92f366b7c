#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vak {

// "Start at login": whether the session starts the program when the user logs in, and the
// switch. Implementations: the desktop's autostart entry on Linux; a launch agent on macOS.
class LoginItem {
  public:
    LoginItem() = default;
    virtual ~LoginItem() = default;
    LoginItem(const LoginItem&) = delete;
    LoginItem& operator=(const LoginItem&) = delete;

    virtual bool enabled() const = 0;
    // Switches it. False, with `problem` saying why, when that could not be done; it is then as
    // it was.
    virtual bool set(bool on, std::string* problem) = 0;
    // What the switch writes, for the log (a file's path).
    virtual std::string where() const = 0;
};

// What the session (or a desktop shortcut) starts to run the program invoked as `argv0`: a path
// named with a folder becomes absolute (it is started from another folder); a bare name stays
// bare, found on PATH as it was.
std::string startableProgram(std::string_view argv0);

// The operating system's login item for `program` (see startableProgram) of the user whose home
// folder is `home`.
std::shared_ptr<LoginItem> makeLoginItem(std::string_view home, std::string_view program);

} // namespace vak

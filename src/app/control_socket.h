#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vak {

class MainQueue;

// What the running daemon can be told from outside (a desktop's keyboard shortcut, a script):
// start or stop a dictation, throw the recording away, open the settings, quit.
enum class ControlCommand { Toggle, Cancel, Settings, Quit };

// The word a command travels as ("toggle", …), and back.
std::string_view controlWord(ControlCommand command);
std::optional<ControlCommand> controlCommandFor(std::string_view word);

// The daemon's end: a Unix socket at `path`, created private to the user (0600, in a folder that
// is theirs), that takes one command line per connection and answers "ok" or why not. A
// connection from another user is refused. Commands run on `main`, in the order they came;
// the answer is sent once the command is queued. Reads on its own thread.
class ControlSocket {
  public:
    using Handler = std::function<void(ControlCommand command)>;

    // Nothing (with the reason in `error`) when the socket cannot be made, or another daemon
    // already answers there (its socket is left alone). A dead one's socket is replaced.
    static std::unique_ptr<ControlSocket> listen(const std::string& path, MainQueue& main,
                                                 Handler handler, std::string* error);
    ~ControlSocket(); // stops the thread and removes the socket
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    struct State;

  private:
    explicit ControlSocket(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// The command line's end: sends `command` to the daemon at `path` and waits up to 3 s for its
// answer. Returns the exit status: 0 when it was taken, 1 (with the reason on `err`) when no
// daemon answers or it refused.
int sendControlCommand(const std::string& path, ControlCommand command, std::ostream& err);

} // namespace vak

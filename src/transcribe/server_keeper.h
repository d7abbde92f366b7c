#pragma once

#include "base/subprocess.h"
#include "base/time_util.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vak {

// Keeps a resident decoder of the daemon's own running (whisper-server, or the Parakeet server,
// which takes the same arguments and requests): started (argument list, loopback only)
// when nothing answers on its port, watched, restarted with a growing pause when it dies, and
// stopped with the keeper. A server that someone else started is used as it is and left alone.

struct ServerKeeperSettings {
    std::string name = "whisper-server"; // in the log
    std::string tool;                    // the server executable
    std::string model;
    std::string vadModel; // empty: none
    int port = 8977;
    int threads = 1; // its share of engineThreads()
    std::string curl = "/usr/bin/curl";
    double readySeconds = 180; // a model of gigabytes takes a while to load
    double firstPauseSeconds = 1;
    double longestPauseSeconds = 60;
};

// The argument list that starts the server.
std::vector<std::string> serverArguments(const ServerKeeperSettings& settings);

// Whether something answers GET /health on the loopback port with 200.
bool serverAnswers(const std::string& curl, int port);

class ServerKeeper {
  public:
    // Nothing when a server already answers on the port (it is used as it is) or the tool or
    // model is missing; both are logged. Otherwise the server starts in the background.
    static std::unique_ptr<ServerKeeper> start(ServerKeeperSettings settings);
    ~ServerKeeper(); // stops the server: SIGTERM, then SIGKILL after 5 s
    ServerKeeper(const ServerKeeper&) = delete;
    ServerKeeper& operator=(const ServerKeeper&) = delete;

    // The server process now running (0 when none), for tests.
    int pid() const;

    // Restarts the server with another model: the running one finishes the request in flight
    // and ends, and the next starts at once with `model` (decodes meanwhile find it not
    // answering and fall back). Nothing happens when it has that model already.
    void useModel(const std::string& model);
    std::string model() const;

  private:
    enum class Next { Stop, StartNow, Restart };

    explicit ServerKeeper(ServerKeeperSettings settings);
    void run(); // the keeper's thread: start, watch, restart, until stopped
    // Spawns the server with the model now chosen (into `model`); nothing when stopping or
    // when it cannot start (logged).
    std::shared_ptr<Subprocess> launch(std::string& model);
    // Whether it answers its health check before the ready time runs out.
    bool awaitHealthy(Subprocess& child, SteadyClock::time_point started);
    // Its standard error's end once it has ended; stops one not `ready` by the ready time.
    std::string stderrUntilEnd(Subprocess& child, SteadyClock::time_point started, bool ready);
    // Forgets the ended server and says what comes next.
    Next release();
    // Logs the end and waits the growing pause; Stop when the keeper ends meanwhile or another
    // server took the port.
    Next waitToRestart(const ExitStatus& status, const std::string& tail, double& pauseSeconds);
    bool pause(double seconds); // false when stopping or switching models

    ServerKeeperSettings settings_; // its model under mutex_; the rest never changes
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool switching_ = false; // the server ends for a new model, not by accident
    int pid_ = 0;
    std::shared_ptr<Subprocess> child_;
    std::thread thread_;
};

} // namespace vak

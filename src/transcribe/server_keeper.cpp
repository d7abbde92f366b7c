#include "transcribe/server_keeper.h"

#include "base/files.h"
#include "base/log.h"
#include "base/numbers.h"
#include "base/subprocess.h"
#include "base/time_util.h"
#include "transcribe/engine_threads.h"
#include "transcribe/tool_report.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace vak {

namespace {

// How long a server must have run for its next death to count as a new one (the pause starts
// short again).
constexpr double kSteadySeconds = 60;
constexpr double kStopGraceSeconds = 5;

} // namespace

std::vector<std::string> serverArguments(const ServerKeeperSettings& settings) {
    std::vector<std::string> args = {settings.tool,
                                     "-m",
                                     settings.model,
                                     "--host",
                                     "127.0.0.1",
                                     "--port",
                                     std::to_string(settings.port),
                                     "-t",
                                     std::to_string(settings.threads)};
    if (!settings.vadModel.empty()) {
        const auto options = toolOptions(settings.tool);
        if (!options || options->contains("-vm"))
            args.insert(args.end(), {"-vm", settings.vadModel});
    }
    return args;
}

bool serverAnswers(const std::string& curl, int port) {
    RunOptions run;
    run.timeoutSeconds = 4;
    const auto result =
        runProcess({curl, "-s", "-o", "/dev/null", "--write-out", "%{http_code}", "--max-time", "2",
                    "--url", "http://127.0.0.1:" + std::to_string(port) + "/health"},
                   run);
    return result && result->status.success() && result->output == "200";
}

std::unique_ptr<ServerKeeper> ServerKeeper::start(ServerKeeperSettings settings) {
    const std::string where = "127.0.0.1:" + std::to_string(settings.port);
    if (serverAnswers(settings.curl, settings.port)) {
        log(LogLevel::info,
            settings.name + " already answering on " + where + " — using it as it is");
        return nullptr;
    }
    if (!isExecutableFile(settings.tool) || !isRegularFile(settings.model)) {
        log(LogLevel::warning,
            settings.name + " not started: " +
                (isExecutableFile(settings.tool) ? "no model at " + settings.model
                                                 : "no " + settings.tool + " found"));
        return nullptr;
    }
    std::unique_ptr<ServerKeeper> keeper(new ServerKeeper(std::move(settings)));
    keeper->thread_ = std::thread([raw = keeper.get()] { raw->run(); });
    return keeper;
}

ServerKeeper::ServerKeeper(ServerKeeperSettings settings) : settings_(std::move(settings)) {}

ServerKeeper::~ServerKeeper() {
    std::shared_ptr<Subprocess> child;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        child = child_;
    }
    wake_.notify_all();
    // A request in flight is finished first; one that takes too long is not waited for.
    if (child) {
        child->terminate();
        const auto deadline = deadlineAfter(kStopGraceSeconds);
        while (!child->hasExited() && SteadyClock::now() < deadline)
            ::usleep(20000);
        child->kill();
    }
    if (thread_.joinable()) thread_.join();
}

int ServerKeeper::pid() const {
    std::lock_guard lock(mutex_);
    return pid_;
}

std::string ServerKeeper::model() const {
    std::lock_guard lock(mutex_);
    return settings_.model;
}

void ServerKeeper::useModel(const std::string& model) {
    std::shared_ptr<Subprocess> child;
    {
        std::lock_guard lock(mutex_);
        if (settings_.model == model || stopping_) return;
        settings_.model = model;
        switching_ = true;
        child = child_;
    }
    log(LogLevel::info, settings_.name + " restarting with " + model);
    // SIGTERM: a request in flight is answered first.
    if (child) child->terminate();
    wake_.notify_all();
}

bool ServerKeeper::pause(double seconds) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::duration<double>(seconds),
                   [this] { return stopping_ || switching_; });
    return !stopping_ && !switching_;
}

std::shared_ptr<Subprocess> ServerKeeper::launch(std::string& model) {
    SpawnOptions options;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return nullptr;
        switching_ = false;
        model = settings_.model;
        options.argv = serverArguments(settings_);
    }
    options.environment = engineEnvironment(settings_.threads);
    options.pipeStderr = true;
    std::string error;
    auto child = Subprocess::spawn(options, &error);
    if (!child) {
        log(LogLevel::toolError, settings_.name + " could not start: " + error);
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    child_ = child;
    pid_ = child->pid();
    // Stopped or switched while it was being spawned.
    if (stopping_ || switching_) child->terminate();
    return child;
}

bool ServerKeeper::awaitHealthy(Subprocess& child, SteadyClock::time_point started) {
    // The model loads before the port opens: connections are refused until then.
    while (!child.hasExited() && secondsSince(started) < settings_.readySeconds) {
        if (serverAnswers(settings_.curl, settings_.port)) return true;
        if (!pause(0.1)) return false;
    }
    return false;
}

std::string ServerKeeper::stderrUntilEnd(Subprocess& child, SteadyClock::time_point started,
                                         bool ready) {
    std::string tail;
    const int fd = child.stderrFd();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    char buffer[4096];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        ::poll(&pfd, 1, 500);
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            tail.append(buffer, static_cast<std::size_t>(n));
            if (tail.size() > 2 * kToolErrorTailBytes)
                tail.erase(0, tail.size() - kToolErrorTailBytes);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return tail;
        }
        if (!ready && secondsSince(started) >= settings_.readySeconds) {
            log(LogLevel::toolError, settings_.name + " did not answer within " +
                                         fixedDecimals(settings_.readySeconds, 1) +
                                         " s — stopping it");
            child.terminate();
            ready = true; // said once
        }
    }
}

ServerKeeper::Next ServerKeeper::release() {
    std::lock_guard lock(mutex_);
    child_.reset();
    pid_ = 0;
    if (stopping_) return Next::Stop;
    return switching_ ? Next::StartNow : Next::Restart;
}

ServerKeeper::Next ServerKeeper::waitToRestart(const ExitStatus& status, const std::string& tail,
                                               double& pauseSeconds) {
    const std::string where = "127.0.0.1:" + std::to_string(settings_.port);
    log(LogLevel::warning, settings_.name + " ended (" + (status.signaled() ? "signal " : "exit ") +
                               std::to_string(status.code) + ": " + failureCause(tail) +
                               ") — starting it again in " + fixedDecimals(pauseSeconds, 1) + " s");
    if (!pause(pauseSeconds)) {
        std::lock_guard lock(mutex_);
        return stopping_ ? Next::Stop : Next::StartNow; // a new model came in during the pause
    }
    pauseSeconds = std::min(pauseSeconds * 2, settings_.longestPauseSeconds);
    // Someone may have started one meanwhile (it would share the port with ours).
    if (serverAnswers(settings_.curl, settings_.port)) {
        log(LogLevel::info, settings_.name + " answering on " + where +
                                " again, started elsewhere — using it as it is");
        return Next::Stop;
    }
    return Next::Restart;
}

void ServerKeeper::run() {
    double pauseSeconds = settings_.firstPauseSeconds;
    for (;;) {
        std::string model;
        const auto child = launch(model);
        if (!child) return;
        const auto started = SteadyClock::now();
        const bool ready = awaitHealthy(*child, started);
        if (ready) {
            log(LogLevel::ok, settings_.name + " started (pid " + std::to_string(child->pid()) +
                                  ", " + model +
                                  (settings_.vadModel.empty() ? ", no VAD" : ", VAD") + ", " +
                                  std::to_string(settings_.threads) +
                                  " threads) on 127.0.0.1:" + std::to_string(settings_.port) +
                                  " in " + fixedDecimals(secondsSince(started), 1) + " s");
        }
        // Its standard error until it ends: the last lines tell why it did.
        const std::string tail = stderrUntilEnd(*child, started, ready);
        const ExitStatus status = child->wait();
        Next next = release();
        if (next == Next::Restart) {
            if (secondsSince(started) > kSteadySeconds) pauseSeconds = settings_.firstPauseSeconds;
            next = waitToRestart(status, tail, pauseSeconds);
        }
        if (next == Next::Stop) return;
    }
}

} // namespace vak

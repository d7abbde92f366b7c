#include "ui/desktop_app.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "ui/qt_main_queue.h"

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace vak {

namespace {

// The test signals and the ending ones arrive on whatever thread; their handler only writes the
// signal's number to a pipe that the main loop watches, which is all a handler may safely do.
int signalPipe[2] = {-1, -1};

void onTestSignal(int signo) {
    const int saved = errno;
    const char byte = static_cast<char>(signo);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installTestSignals() {
    if (signalPipe[0] < 0 && ::pipe(signalPipe) != 0) return false;
    for (int fd : signalPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = onTestSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signo : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(signo, &action, nullptr) != 0) return false;
    }
    return true;
}

bool endsTheProgram(int signo) {
    return signo == SIGTERM || signo == SIGINT || signo == SIGHUP;
}

// Qt's arguments must outlive the application object.
struct QtArguments {
    explicit QtArguments(const std::vector<std::string>& args) : storage(args) {
        if (storage.empty()) storage.emplace_back("vak-dictate");
        for (auto& arg : storage)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
        count = static_cast<int>(storage.size());
    }
    std::vector<std::string> storage;
    std::vector<char*> pointers;
    int count = 0;
};

} // namespace

struct DesktopApp::State {
    explicit State(const std::vector<std::string>& args)
        : arguments(args), app(arguments.count, arguments.pointers.data()) {}

    QtArguments arguments;
    QApplication app;
    QtMainQueue main;
    std::unique_ptr<QSocketNotifier> signalWatcher;
};

DesktopApp::DesktopApp(const std::vector<std::string>& args)
    : state_(std::make_unique<State>(args)) {
    QApplication::setApplicationName("vak-dictate");
    QApplication::setQuitOnLastWindowClosed(false);
    installMainQueue(&state_->main);
}

DesktopApp::~DesktopApp() {
    installMainQueue(nullptr);
}

MainQueue& DesktopApp::mainQueue() {
    return state_->main;
}

bool DesktopApp::watchTestSignals(std::function<void(int signo)> onSignal) {
    if (!installTestSignals()) return false;
    state_->signalWatcher = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(
        state_->signalWatcher.get(), &QSocketNotifier::activated, [onSignal = std::move(onSignal)] {
            char byte = 0;
            while (::read(signalPipe[0], &byte, 1) == 1) {
                if (!endsTheProgram(byte)) {
                    onSignal(byte);
                    continue;
                }
                // As Quit does: what the daemon started (its servers) stops with it.
                log(LogLevel::info,
                    "signal " + std::to_string(static_cast<int>(byte)) + " — quitting");
                QCoreApplication::exit(0);
            }
        });
    return true;
}

int DesktopApp::run() {
    return QApplication::exec();
}

} // namespace vak

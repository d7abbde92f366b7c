#include "platform/fake/fake_key_monitor.h"

namespace vak {

bool FakeKeyMonitor::isTrusted(bool prompt) {
    std::lock_guard lock(mutex_);
    ++trustQueries_;
    if (prompt) ++promptedQueries_;
    return trusted_;
}

bool FakeKeyMonitor::secureInputActive() {
    std::lock_guard lock(mutex_);
    return secureInput_;
}

bool FakeKeyMonitor::start(InputEventHandler handler) {
    std::lock_guard lock(mutex_);
    ++starts_;
    if (startFails_) return false;
    handler_ = std::move(handler);
    return true;
}

void FakeKeyMonitor::setAccessHelp(std::string help) {
    std::lock_guard lock(mutex_);
    accessHelp_ = std::move(help);
}

std::string FakeKeyMonitor::accessHelp() {
    std::lock_guard lock(mutex_);
    return accessHelp_;
}

void FakeKeyMonitor::setTrusted(bool trusted) {
    std::lock_guard lock(mutex_);
    trusted_ = trusted;
}

void FakeKeyMonitor::setSecureInput(bool active) {
    std::lock_guard lock(mutex_);
    secureInput_ = active;
}

void FakeKeyMonitor::setStartFails(bool fails) {
    std::lock_guard lock(mutex_);
    startFails_ = fails;
}

bool FakeKeyMonitor::deliver(const InputEvent& event) {
    InputEventHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = handler_;
    }
    if (!handler) return false;
    handler(event);
    return true;
}

int FakeKeyMonitor::trustQueries() const {
    std::lock_guard lock(mutex_);
    return trustQueries_;
}

int FakeKeyMonitor::promptedQueries() const {
    std::lock_guard lock(mutex_);
    return promptedQueries_;
}

int FakeKeyMonitor::starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

} // namespace vak

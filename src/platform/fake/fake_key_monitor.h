#pragma once

#include "platform/key_monitor.h"

#include <mutex>

namespace vak {

// A monitor driven by the test: deliver() hands an event to the started handler at once, on the
// calling thread (the test plays the main thread).
class FakeKeyMonitor final : public KeyMonitor {
  public:
    bool isTrusted(bool prompt) override;
    bool secureInputActive() override;
    bool start(InputEventHandler handler) override;

    void setTrusted(bool trusted);
    void setSecureInput(bool active);
    void setStartFails(bool fails);
    void setAccessHelp(std::string help);
    std::string accessHelp() override;
    std::string accessName() override { return accessName_; }
    std::string accessName_ = "Accessibility";
    // False when no handler has been started.
    bool deliver(const InputEvent& event);

    int trustQueries() const;
    int promptedQueries() const;
    int starts() const;

  private:
    mutable std::mutex mutex_;
    InputEventHandler handler_;
    bool trusted_ = true;
    bool secureInput_ = false;
    bool startFails_ = false;
    std::string accessHelp_;
    int trustQueries_ = 0;
    int promptedQueries_ = 0;
    int starts_ = 0;
};

} // namespace vak

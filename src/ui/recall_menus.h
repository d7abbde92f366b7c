#pragma once

#include "foundation/scratch_files.h"
#include "history/history.h"
#include "ui/lifetime.h"

#include <QMenu>
#include <functional>
#include <set>
#include <string>

namespace vak {

struct Config;
class MainQueue;
struct UiServices;

// The status menu's "Recent dictations" and "Failed recordings", filled afresh each time the
// menu opens. The history is opened off the main thread (the keyring may take seconds to answer)
// and only with privacy mode off; a retry decodes off the main thread too. A dictation chosen
// again, or a retried recording's text, goes on the clipboard marked for clipboard managers to
// leave out. Main thread; what the background finds comes back on `main`.
class RecallMenus {
  public:
    struct Feedback {
        std::function<void(int delta)> busy; // a retry runs (+1) or has ended (-1)
        std::function<void(const std::string& message)> notify; // how a retry went
    };

    RecallMenus(const Config& config, MainQueue& main, const UiServices& services,
                Feedback feedback);
    RecallMenus(const RecallMenus&) = delete;
    RecallMenus& operator=(const RecallMenus&) = delete;

    QMenu* recent() { return &recent_; }
    QMenu* failed() { return &failed_; }

    // The kept recordings at once; the history once it is open, the menu saying it is opening it
    // until then (an answer to an earlier refresh is dropped).
    void refresh();
    // Decodes a kept recording again; its text goes on the clipboard, a notice says how it went.
    // The recording stays either way.
    void retry(const KeptRecording& recording);
    void remove(const KeptRecording& recording);

  private:
    void showHistory(const HistoryReading& reading);
    void fillFailed();

    const Config& config_;
    MainQueue& main_;
    const UiServices& services_;
    Feedback feedback_;
    QMenu recent_;
    QMenu failed_;
    unsigned latestReading_ = 0;
    std::set<std::string> retrying_; // paths
    Lifetime lifetime_;
};

} // namespace vak

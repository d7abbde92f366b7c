#pragma once

#include "ui/lifetime.h"

#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

class QLabel;

namespace vak {

class FloatingPanel;
class PanelPlacement;
class MainQueue;

// The live producer session's floating panel: the newest lines of the conversation files
// (inbox and outbox) since the session began, refreshed every 0.8 s while shown.
class DuradAvePanel {
  public:
    // The conversation files: the producer folder's inbox and outbox. The title says
    // that a tap of `producerKey` ends the session; `placement` keeps it above the others.
    DuradAvePanel(MainQueue& main, std::uint16_t producerKey, std::string inboxPath,
                  std::string outboxPath, std::shared_ptr<PanelPlacement> placement);
    ~DuradAvePanel();
    DuradAvePanel(const DuradAvePanel&) = delete;
    DuradAvePanel& operator=(const DuradAvePanel&) = delete;

    // Both take effect on the main queue, whichever thread calls them.
    void show();
    void hide();
    // Reads the files again.
    void refresh();

    bool isVisible() const;
    std::string bodyText() const;
    FloatingPanel* panel() const { return panel_.get(); }

  private:
    void build();
    void showNow();
    void hideNow();

    MainQueue& main_;
    std::uint16_t producerKey_;
    std::string inboxPath_;
    std::string outboxPath_;
    std::shared_ptr<PanelPlacement> placement_;
    std::unique_ptr<FloatingPanel> panel_;
    QLabel* body_ = nullptr;
    std::string bodyText_;
    QTimer timer_;
    double sessionStartTs_ = 0;
    Lifetime lifetime_;
};

} // namespace vak

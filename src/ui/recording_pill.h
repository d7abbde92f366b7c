#pragma once

#include "foundation/deliver_mode.h"
#include "ui/lifetime.h"

#include <QRect>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QScrollArea;

namespace vak {

class ClickThroughButton;
class MainQueue;
class PanelPlacement;
class PillPanel;
class ResizeEdgeView;
class WaveformView;

// The pill that floats above every window while recording: the elapsed time, the level bars,
// the captions, the writing-mode button and the Done, cancel and settings buttons. It lays
// itself out for its size, reopens where the user last moved or sized it (for the life of the
// process), and counts the elapsed time without the pauses. Main thread; the window system's
// late reports of our own placement are told apart on `main`.
class RecordingPill {
  public:
    struct Actions {
        std::function<void()> finish;
        std::function<void()> cancel;
        std::function<void()> pickMode;
        std::function<void()> settings;
        // Every half second while the clock runs, with the time shown.
        std::function<void(std::string_view elapsed)> elapsed;
    };

    // `hotkey` is named in the hint and the Done button's tooltip; `placement` keeps the pill
    // where it is shown.
    RecordingPill(MainQueue& main, std::function<double()> now, Actions actions,
                  std::uint16_t hotkey, std::shared_ptr<PanelPlacement> placement);
    ~RecordingPill();
    RecordingPill(const RecordingPill&) = delete;
    RecordingPill& operator=(const RecordingPill&) = delete;

    // Shows the pill with `caption`, its clock at 0:00, where the user left it or else at the
    // bottom of the screen under the pointer.
    void show(std::string_view caption);
    void hide();
    // The newest part of the captions, wrapped and scrolled to its end.
    void setCaption(const std::string& text);
    void setLevel(float level);
    void showMode(DeliverMode mode);
    void layout();
    // The elapsed time on the pill, and to `elapsed` while not paused.
    void tick();
    // Stops the clock and the bars and shows the reason; a second pause keeps the first one's
    // start. Resuming starts both again with the pause left out of the time.
    void pause(std::string_view reason);
    void resume();
    // The line under the captions: how to finish; `text` in its place while not empty.
    void setHint(std::string_view text);

    // What is on screen, for tests, demos and screenshots.
    PillPanel* panel() const { return panel_.get(); }
    WaveformView* waveform() const { return waveform_; }
    ClickThroughButton* finishButton() const { return finishButton_; }
    ClickThroughButton* cancelButton() const { return cancelButton_; }
    ClickThroughButton* modeButton() const { return modeButton_; }
    std::string captionText() const;
    std::string elapsedText() const;
    std::string hintText() const;
    // The frame the user last gave the pill.
    std::optional<QRect> customFrame() const { return customFrame_; }

  private:
    void build();
    void rememberFrame();
    // Asks the window system to put the shown pill at `frame`'s corner, again and again for a
    // moment while it does not know the window yet.
    void keepPlaced(QRect frame, int attempts);

    MainQueue& main_;
    std::function<double()> now_;
    Actions actions_;
    std::uint16_t hotkey_;
    std::shared_ptr<PanelPlacement> placement_;

    std::unique_ptr<PillPanel> panel_;
    QScrollArea* captionScroll_ = nullptr;
    QLabel* captionField_ = nullptr;
    QLabel* elapsedField_ = nullptr;
    QLabel* hintField_ = nullptr;
    WaveformView* waveform_ = nullptr;
    ClickThroughButton* modeButton_ = nullptr;
    ClickThroughButton* finishButton_ = nullptr;
    ClickThroughButton* cancelButton_ = nullptr;
    ClickThroughButton* settingsButton_ = nullptr;
    std::array<ResizeEdgeView*, 8> resizeEdges_{};

    std::optional<QRect> customFrame_;
    bool suppressFrameTracking_ = false;
    QTimer clock_;
    std::optional<double> recordStart_;
    std::optional<double> pausedAt_;
    Lifetime lifetime_;
};

} // namespace vak

#pragma once

#include "base/timer_handle.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;

namespace vak {

class FloatingPanel;
class PanelPlacement;
class MainQueue;

// After an ask-mode stop: a floating panel offering Summarize, Professional or Keep the Same for
// the transcript. Exactly one of its actions runs: the one clicked, or Keep when nobody answers
// in time or a newer transcript takes the panel's place. At most one panel is current.
class ChoicePanel final : public std::enable_shared_from_this<ChoicePanel> {
  public:
    using Action = std::function<void()>;

    // Resolves the current panel, if any, as Keep ("superseded by a newer transcript"), then
    // presents a new one that keeps the transcript as spoken after `timeoutSeconds` on `main`,
    // kept above the other windows by `placement`.
    static std::shared_ptr<ChoicePanel> show(MainQueue& main, const std::string& transcript,
                                             Action onSummarize, Action onProfessional,
                                             Action onKeep, double timeoutSeconds,
                                             std::shared_ptr<PanelPlacement> placement);
    // The panel waiting for an answer, if any.
    static std::shared_ptr<ChoicePanel> current();

    ~ChoicePanel();
    ChoicePanel(const ChoicePanel&) = delete;
    ChoicePanel& operator=(const ChoicePanel&) = delete;

    // "summarize", "professional" or anything else for Keep; `automatic` is the reason when no
    // one clicked. A resolved panel ignores every later call.
    void resolve(const std::string& choice, const std::optional<std::string>& automatic = {});
    void summarizeClicked() { resolve("summarize"); }
    void professionalClicked() { resolve("professional"); }
    void keepClicked() { resolve("keep"); }

    bool isResolved() const { return resolved_; }
    FloatingPanel* panel() const { return panel_; }
    std::string headerText() const;
    std::string noteText() const;
    std::string previewText() const;

  private:
    ChoicePanel(Action onSummarize, Action onProfessional, Action onKeep);
    void build(MainQueue& main, const std::string& transcript, double timeoutSeconds,
               std::shared_ptr<PanelPlacement> placement);

    FloatingPanel* panel_ = nullptr; // deleted later than the click that may resolve it
    QLabel* header_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* preview_ = nullptr;
    std::string previewSource_;
    Action onSummarize_;
    Action onProfessional_;
    Action onKeep_;
    TimerHandle timeoutWork_;
    bool resolved_ = false;
};

} // namespace vak

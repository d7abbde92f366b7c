#include "ui/choice_panel.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "base/unicode.h"
#include "text/words.h"
#include "ui/click_through_button.h"
#include "ui/floating_panel.h"
#include "ui/pill_layout.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QLabel>
#include <cmath>
#include <vector>

namespace vak {

namespace {

constexpr int kWidth = 560;
constexpr int kHeight = 118;
constexpr int kBottomMargin = 40;
constexpr std::size_t kPreviewCharacters = 180;

std::shared_ptr<ChoicePanel>& currentPanel() {
    static std::shared_ptr<ChoicePanel> panel;
    return panel;
}

QRect at(double x, double y, double w, double h) {
    return ui::whole(pill::fromBottomLeft(QRectF(x, y, w, h), kHeight));
}

std::string firstCharacters(const std::string& text, std::size_t count) {
    if (text.size() <= count) return text;
    std::vector<std::size_t> bounds;
    graphemeBoundaries(text, bounds);
    if (bounds.size() <= count + 1) return text;
    return text.substr(0, bounds[count]);
}

} // namespace

std::shared_ptr<ChoicePanel> ChoicePanel::show(MainQueue& main, const std::string& transcript,
                                               Action onSummarize, Action onProfessional,
                                               Action onKeep, double timeoutSeconds,
                                               std::shared_ptr<PanelPlacement> placement) {
    if (auto earlier = currentPanel()) {
        earlier->resolve("keep", std::string("superseded by a newer transcript"));
    }
    std::shared_ptr<ChoicePanel> panel(
        new ChoicePanel(std::move(onSummarize), std::move(onProfessional), std::move(onKeep)));
    currentPanel() = panel;
    panel->build(main, transcript, timeoutSeconds, std::move(placement));
    return panel;
}

std::shared_ptr<ChoicePanel> ChoicePanel::current() {
    return currentPanel();
}

ChoicePanel::ChoicePanel(Action onSummarize, Action onProfessional, Action onKeep)
    : onSummarize_(std::move(onSummarize)), onProfessional_(std::move(onProfessional)),
      onKeep_(std::move(onKeep)) {}

ChoicePanel::~ChoicePanel() {
    timeoutWork_.cancel();
    if (panel_ != nullptr) panel_->deleteLater();
}

void ChoicePanel::build(MainQueue& main, const std::string& transcript, double timeoutSeconds,
                        std::shared_ptr<PanelPlacement> placement) {
    const long seconds = static_cast<long>(timeoutSeconds);
    panel_ = new FloatingPanel(QSize(kWidth, kHeight),
                               FloatingPanel::Look{ui::grey(0.07, 0.92), 16, {}, 0},
                               std::move(placement));
    header_ = ui::label(
        panel_, ui::qstr("Transcript ready · " + std::to_string(countWords(transcript)) + " words"),
        ui::font(13, QFont::DemiBold), ui::grey(0.85), at(18, 88, 340, 18));
    note_ = ui::label(panel_, ui::qstr("keeps as spoken in " + std::to_string(seconds) + "s"),
                      ui::font(11), ui::grey(1.0, 0.5), at(350, 89, 192, 16));
    note_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    previewSource_ = firstCharacters(transcript, kPreviewCharacters);
    const QFont previewFont = ui::font(12);
    const QRect previewFrame = at(18, 46, 524, 34);
    preview_ = ui::label(
        panel_, ui::elideToLines(ui::qstr(previewSource_), previewFont, previewFrame.width(), 2),
        previewFont, ui::grey(1.0, 0.65), previewFrame);
    preview_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    const std::weak_ptr<ChoicePanel> weak = weak_from_this();
    const auto button = [&](std::string_view title, QRect frame, void (ChoicePanel::*click)()) {
        auto* view = new ClickThroughButton(ui::qstr(title), panel_);
        view->setLook(ui::grey(1.0, 0.16), 8, 13);
        view->setGeometry(frame);
        QObject::connect(view, &QPushButton::clicked, panel_, [weak, click] {
            if (auto self = weak.lock()) ((*self).*click)();
        });
    };
    button(ui_text::SUMMARIZE_BUTTON, at(430, 10, 112, 30), &ChoicePanel::summarizeClicked);
    button(ui_text::PROFESSIONAL_BUTTON, at(306, 10, 116, 30), &ChoicePanel::professionalClicked);
    button(ui_text::KEEP_BUTTON, at(174, 10, 124, 30), &ChoicePanel::keepClicked);

    panel_->placeAtBottomCentre(kBottomMargin);
    panel_->orderFront();
    timeoutWork_ = main.after(timeoutSeconds, [weak, seconds] {
        if (auto self = weak.lock()) {
            self->resolve("keep", "no answer in " + std::to_string(seconds) + "s");
        }
    });
}

void ChoicePanel::resolve(const std::string& choice, const std::optional<std::string>& automatic) {
    if (resolved_) return;
    resolved_ = true;
    const auto self = shared_from_this(); // survives dropping the current reference below
    timeoutWork_.cancel();
    timeoutWork_ = TimerHandle();
    if (panel_ != nullptr) panel_->orderOut();
    if (currentPanel().get() == this) currentPanel().reset();
    log(LogLevel::info,
        automatic ? "choice popup auto-kept raw — " + *automatic : "choice: " + choice);
    Action picked = choice == "summarize"      ? std::move(onSummarize_)
                    : choice == "professional" ? std::move(onProfessional_)
                                               : std::move(onKeep_);
    onSummarize_ = nullptr;
    onProfessional_ = nullptr;
    onKeep_ = nullptr;
    if (picked) picked();
}

std::string ChoicePanel::headerText() const {
    return header_ ? ui::str(header_->text()) : std::string();
}

std::string ChoicePanel::noteText() const {
    return note_ ? ui::str(note_->text()) : std::string();
}

std::string ChoicePanel::previewText() const {
    return previewSource_;
}

} // namespace vak

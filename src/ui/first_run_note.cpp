#include "ui/first_run_note.h"

#include "base/files.h"
#include "base/main_queue.h"
#include "platform/panel_placement.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QMessageBox>

namespace vak {

namespace {

constexpr double kDelaySeconds = 1.2;

} // namespace

void explainAfterFirstDictation(MainQueue& main, const std::string& marker, std::string text,
                                std::shared_ptr<PanelPlacement> placement) {
    if (pathExists(marker)) return;
    writeFileAtomic(marker, "", 0600);
    main.after(kDelaySeconds, [text = std::move(text), placement = std::move(placement)] {
        showFirstRunAlert(text, *placement);
    });
}

QMessageBox* showFirstRunAlert(const std::string& text, PanelPlacement& placement) {
    auto* alert = new QMessageBox(QMessageBox::Information, ui::qstr(ui_text::NOTE_WINDOW_TITLE),
                                  ui::qstr(ui_text::FIRST_RUN_MESSAGE));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setInformativeText(ui::qstr(text));
    alert->setTextFormat(Qt::PlainText);
    alert->addButton(ui::qstr(ui_text::FIRST_RUN_BUTTON), QMessageBox::AcceptRole);
    alert->setModal(false);
    // It comes forward but leaves the keyboard where the user is typing: the next dictation
    // must land in their window, not in this note. Its button still takes a click.
    alert->setAttribute(Qt::WA_ShowWithoutActivating);
    alert->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    placement.leaveFocusAlone(ui_text::NOTE_WINDOW_TITLE);
    alert->show();
    alert->raise();
    return alert;
}

} // namespace vak

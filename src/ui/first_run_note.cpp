#include "ui/first_run_note.h"

#include "base/files.h"
#include "base/main_queue.h"
#include "foundation/process_values.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QMessageBox>

namespace vak {

namespace {

constexpr double kDelaySeconds = 1.2;

} // namespace

void explainAfterFirstDictation(MainQueue& main, std::string text) {
    const std::string& marker = processValues().FIRST_RUN_MARKER;
    if (pathExists(marker)) return;
    writeFileAtomic(marker, "", 0600);
    main.after(kDelaySeconds, [text = std::move(text)] { showFirstRunAlert(text); });
}

QMessageBox* showFirstRunAlert(const std::string& text) {
    auto* alert = new QMessageBox(QMessageBox::Information, QStringLiteral("vak-dictate"),
                                  ui::qstr(ui_text::FIRST_RUN_MESSAGE));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setInformativeText(ui::qstr(text));
    alert->setTextFormat(Qt::PlainText);
    alert->addButton(ui::qstr(ui_text::FIRST_RUN_BUTTON), QMessageBox::AcceptRole);
    alert->setModal(false);
    // The one window of ours that comes forward on purpose.
    alert->show();
    alert->raise();
    alert->activateWindow();
    return alert;
}

} // namespace vak

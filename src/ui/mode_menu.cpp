#include "ui/mode_menu.h"

#include "base/log.h"
#include "base/main_queue.h"
#include "ui/mode_info_panel.h"
#include "ui/session_link.h"
#include "ui/ui_services.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QMenu>

namespace vak {

ModeMenu::ModeMenu(MainQueue& main, const UiServices& services, SessionLink& session,
                   ModeInfoPanel& explainer, std::function<void(DeliverMode)> onChange)
    : main_(main), services_(services), session_(session), explainer_(explainer),
      onChange_(std::move(onChange)) {}

ModeMenu::~ModeMenu() = default;

void ModeMenu::restore(DeliverMode mode) {
    select(mode);
    if (mode != DeliverMode::ask) {
        log(LogLevel::info, "mode restored: " + std::string(label(mode)));
    }
}

void ModeMenu::select(DeliverMode mode) {
    selected_ = mode;
    if (onChange_) onChange_(mode);
}

void ModeMenu::open(QWidget& anchor) {
    // A menu closed by this very click may still be finishing its own events.
    if (menu_) menu_.release()->deleteLater();
    menu_ = std::make_unique<QMenu>();
    QMenu* menu = menu_.get();
    menu->setToolTipsVisible(true);
    const auto addMode = [&](const QString& title, DeliverMode mode) {
        QAction* item = menu->addAction(title);
        item->setToolTip(ui::qstr(example(mode)));
        item->setCheckable(true);
        item->setChecked(mode == selected_);
        item->setData(ui::qstr(label(mode))); // what the choice is known by
        QObject::connect(item, &QAction::triggered, menu,
                         [this, name = std::string(label(mode))] { choose(name); });
    };
    for (DeliverMode mode : deliver_mode::pickable())
        addMode(ui::qstr(label(mode)), mode);
    menu->addSeparator();
    addMode(ui::qstr(ui_text::ASK_ITEM), DeliverMode::ask);
    menu->addSeparator();
    QObject::connect(menu->addAction(ui::qstr(ui_text::MODE_INFO_ITEM)), &QAction::triggered, menu,
                     [this] { explain(); });

    if (session_.pause(ui_text::PAUSED_FOR_MODE_MENU)) {
        pauseActive_ = true;
        log(LogLevel::info, "recording paused while the mode menu is open");
    }
    QObject::connect(menu, &QMenu::aboutToHide, menu, [this] {
        // After the chosen item has run: picking the explainer keeps the pause going.
        main_.post(lifetime_.guard([this] {
            const bool stillOpen = explainer_.isVisible() || (menu_ && menu_->isVisible());
            if (pauseActive_ && !stillOpen) resumeAfterPause();
        }));
    });
    // Opens upwards from the button's top-left corner, 6 points clear of it.
    const QSize menuSize = menu->sizeHint();
    menu->popup(anchor.mapToGlobal(QPoint(0, -6 - menuSize.height())));
}

void ModeMenu::choose(const std::string& title) {
    const auto mode = deliver_mode::fromLabel(title);
    if (!mode) return;
    select(*mode);
    pickedThisRecording_ = true;
    rememberModePick(services_, *mode);
    log(LogLevel::info, "HUD mode: " + std::string(label(*mode)) + " (remembered)");
}

void ModeMenu::explain() {
    if (session_.pause(ui_text::PAUSED_FOR_EXPLAINER)) pauseActive_ = true;
    log(LogLevel::info, "mode explainer opened");
    explainer_.show(lifetime_.guard([this] { endPause(); }));
}

void ModeMenu::endPause() {
    if (pauseActive_) resumeAfterPause();
}

void ModeMenu::resumeAfterPause() {
    pauseActive_ = false;
    if (session_.resume()) log(LogLevel::info, "recording resumed");
}

} // namespace vak

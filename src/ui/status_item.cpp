#include "ui/status_item.h"

#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>

namespace vak {

namespace {

enum IconKind { Idle, Busy, Recording, Paused };

IconKind kindOf(std::string_view title) {
    if (title.starts_with(ui_text::RECORDING_STATUS)) return Recording;
    if (title == ui_text::BUSY_STATUS) return Busy;
    if (title == ui_text::PAUSED_STATUS) return Paused;
    return Idle;
}

// Tray icons are pictures, so each state gets a drawn sign in place of its emoji title.
QIcon iconFor(IconKind kind) {
    constexpr int kSize = 64;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink(235, 235, 235);
    switch (kind) {
    case Idle: { // a microphone
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(22, 6, 20, 32), 10, 10);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 4, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(14, 16, 36, 32), 180 * 16, 180 * 16);
        p.drawLine(QPointF(32, 48), QPointF(32, 57));
        p.drawLine(QPointF(22, 58), QPointF(42, 58));
        break;
    }
    case Busy: { // an hourglass
        QPainterPath glass;
        glass.moveTo(16, 8);
        glass.lineTo(48, 8);
        glass.lineTo(34, 32);
        glass.lineTo(48, 56);
        glass.lineTo(16, 56);
        glass.lineTo(30, 32);
        glass.closeSubpath();
        p.setPen(QPen(ink, 3));
        p.setBrush(QColor(240, 180, 60));
        p.drawPath(glass);
        break;
    }
    case Recording:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(224, 40, 40));
        p.drawEllipse(QRectF(10, 10, 44, 44));
        break;
    case Paused:
        p.setPen(Qt::NoPen);
        p.setBrush(ink);
        p.drawRoundedRect(QRectF(16, 10, 11, 44), 3, 3);
        p.drawRoundedRect(QRectF(37, 10, 11, 44), 3, 3);
        break;
    }
    return QIcon(pixmap);
}

QAction* item(QMenu& menu, std::string_view title, std::function<void()> action) {
    QAction* entry = menu.addAction(ui::qstr(title));
    QObject::connect(entry, &QAction::triggered, &menu, [action = std::move(action)] {
        if (action) action();
    });
    return entry;
}

} // namespace

StatusItem::StatusItem(Actions actions, std::uint16_t hotkey) : hotkey_(hotkey) {
    // A left click on the icon starts or stops a dictation; the menu is on the right button.
    QObject::connect(&tray_, &QSystemTrayIcon::activated, &menu_,
                     [toggle = actions.toggle](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && toggle) toggle();
                     });
    toggle_ = item(menu_, ui_text::startTitle(hotkey_), std::move(actions.toggle));
    item(menu_, ui_text::CANCEL_TITLE, std::move(actions.cancel));
    settingsSeparator_ = menu_.addSeparator();
    item(menu_, ui_text::SETTINGS_TITLE, std::move(actions.settings))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    item(menu_, ui_text::LOG_TITLE, std::move(actions.openLog));
    item(menu_, ui_text::QUIT_TITLE, std::move(actions.quit));
    tray_.setContextMenu(&menu_);
    setTitle(ui_text::IDLE_STATUS);
}

bool StatusItem::show() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return false;
    tray_.show();
    return true;
}

void StatusItem::setTitle(std::string_view title) {
    if (title == title_) return;
    title_ = std::string(title);
    tray_.setToolTip(ui::qstr(title));
    const IconKind kind = kindOf(title);
    if (kind != iconKind_) {
        iconKind_ = kind;
        tray_.setIcon(iconFor(kind));
    }
}

void StatusItem::recordingStarted() {
    recording_ = true;
    showElapsed("0:00");
    toggle_->setText(ui::qstr(ui_text::stopTitle(hotkey_)));
}

void StatusItem::showElapsed(std::string_view elapsed) {
    setTitle(std::string(ui_text::RECORDING_STATUS) + std::string(elapsed));
}

void StatusItem::showPaused() {
    setTitle(ui_text::PAUSED_STATUS);
}

void StatusItem::recordingStopped() {
    recording_ = false;
    toggle_->setText(ui::qstr(ui_text::startTitle(hotkey_)));
    showIdleOrBusy();
}

void StatusItem::setBusy(int delta) {
    busyCount_ = std::max(busyCount_ + delta, 0);
    if (!recording_) showIdleOrBusy();
}

void StatusItem::addSection(const std::vector<QMenu*>& submenus, std::function<void()> onOpen) {
    menu_.insertSeparator(settingsSeparator_);
    for (QMenu* submenu : submenus)
        menu_.insertMenu(settingsSeparator_, submenu);
    QObject::connect(&menu_, &QMenu::aboutToShow, &menu_, [onOpen = std::move(onOpen)] {
        if (onOpen) onOpen();
    });
}

void StatusItem::showIdleOrBusy() {
    setTitle(busyCount_ >= 1 ? ui_text::BUSY_STATUS : ui_text::IDLE_STATUS);
}

std::string StatusItem::toggleTitle() const {
    return ui::str(toggle_->text());
}

} // namespace vak

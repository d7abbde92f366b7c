#include "ui/own_keys.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <algorithm>

namespace vak {

OwnKeys::OwnKeys() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->installEventFilter(this);
}

OwnKeys::~OwnKeys() {
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::instance()->removeEventFilter(this);
}

bool OwnKeys::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto time = static_cast<std::uint32_t>(static_cast<QKeyEvent*>(event)->timestamp());
        // One press is offered to several objects in turn; it is noted once.
        if (time != 0 && std::find(seen_.begin(), seen_.end(), time) == seen_.end()) {
            seen_[next_] = time;
            next_ = (next_ + 1) % seen_.size();
        }
    }
    return QObject::eventFilter(watched, event);
}

bool OwnKeys::ours(const InputEvent& event) const {
    // A menu of ours holds the keyboard, or a window of ours has the focus.
    if (QApplication::activePopupWidget() != nullptr || QGuiApplication::focusWindow() != nullptr)
        return true;
    return event.time != 0 && std::find(seen_.begin(), seen_.end(), event.time) != seen_.end();
}

} // namespace vak

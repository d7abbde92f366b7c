#include "platform/linux/qt_pasteboard.h"

#include "base/time_util.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QThread>

namespace vak {

namespace {

// Qt's clipboard, when this thread may use it.
QClipboard* usableClipboard() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread()) return nullptr;
    return QGuiApplication::clipboard();
}

// Real MIME types and Qt's own hints; X11 targets (TARGETS, UTF8_STRING, …) start in upper
// case, and Qt's image conversion is not data the owner offered.
bool keepFormat(const QString& format) {
    return !format.isEmpty() && format.at(0).isLower() &&
           format != QLatin1String("application/x-qt-image");
}

} // namespace

struct QtPasteboard::State {
    QClipboard::Mode mode = QClipboard::Clipboard;
    Limits limits;
    long changes = 0;
    // Connected on first use, when the application exists.
    QPointer<QClipboard> watched;
    QMetaObject::Connection connection;

    QClipboard* clipboard() {
        QClipboard* board = usableClipboard();
        if (board != nullptr && watched != board) {
            QObject::disconnect(connection);
            connection =
                QObject::connect(board, &QClipboard::changed, [this](QClipboard::Mode changed) {
                    if (changed == mode) ++changes;
                });
            watched = board;
        }
        return board;
    }
};

QtPasteboard::QtPasteboard(Selection selection) : QtPasteboard(selection, Limits{}) {}

QtPasteboard::QtPasteboard(Selection selection, Limits limits) : state_(std::make_unique<State>()) {
    state_->mode = selection == Selection::Primary ? QClipboard::Selection : QClipboard::Clipboard;
    state_->limits = limits;
}

QtPasteboard::~QtPasteboard() {
    QObject::disconnect(state_->connection);
}

long QtPasteboard::changeCount() {
    state_->clipboard();
    return state_->changes;
}

PasteboardSnapshot QtPasteboard::snapshot() {
    QClipboard* board = state_->clipboard();
    if (board == nullptr) return {};
    const QMimeData* data = board->mimeData(state_->mode);
    if (data == nullptr) return {};
    const auto start = SteadyClock::now();
    PasteboardItem item;
    std::size_t total = 0;
    for (const QString& format : data->formats()) {
        if (!keepFormat(format)) continue;
        if (secondsSince(start) > state_->limits.maxReadSeconds) break;
        const QByteArray bytes = data->data(format);
        const auto size = static_cast<std::size_t>(bytes.size());
        if (total + size > state_->limits.maxBytes) continue;
        total += size;
        item.types.emplace_back(format.toStdString(), std::string(bytes.constData(), size));
    }
    if (item.types.empty()) return {};
    return {std::move(item)};
}

std::optional<std::string> QtPasteboard::text() {
    QClipboard* board = state_->clipboard();
    if (board == nullptr) return std::nullopt;
    const QMimeData* data = board->mimeData(state_->mode);
    if (data == nullptr || !data->hasText()) return std::nullopt;
    return data->text().toStdString();
}

void QtPasteboard::clear() {
    if (QClipboard* board = state_->clipboard()) board->clear(state_->mode);
}

void QtPasteboard::setText(std::string_view text) {
    QClipboard* board = state_->clipboard();
    if (board == nullptr) return;
    auto* data = new QMimeData();
    data->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    for (const ClipboardMarker& marker : TRANSIENT_MARKERS) {
        data->setData(
            QString::fromLatin1(marker.type.data(), static_cast<qsizetype>(marker.type.size())),
            QByteArray(marker.value.data(), static_cast<qsizetype>(marker.value.size())));
    }
    board->setMimeData(data, state_->mode);
}

void QtPasteboard::write(const PasteboardSnapshot& snapshot) {
    QClipboard* board = state_->clipboard();
    if (board == nullptr) return;
    // The X11 clipboard holds one item; a snapshot from here has at most one. Types that appear
    // in several items keep their first data.
    auto* data = new QMimeData();
    for (const PasteboardItem& item : snapshot) {
        for (const auto& [type, bytes] : item.types) {
            const QString format = QString::fromStdString(type);
            if (data->hasFormat(format)) continue;
            data->setData(format, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
        }
    }
    board->setMimeData(data, state_->mode);
}

} // namespace vak

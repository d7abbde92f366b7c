#include "platform/linux/qt_pasteboard.h"

#include "base/time_util.h"
#include "platform/linux/xcb_connection.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

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

// Counts the requests for our selection's data on Qt's xcb connection (before Qt answers them).
class SelectionReads final : public QAbstractNativeEventFilter {
  public:
    SelectionReads(xcb_connection_t* connection, QClipboard::Mode mode)
        : connection_(connection), clientMask_(~xcb_get_setup(connection)->resource_id_mask) {
        selection_ = mode == QClipboard::Selection ? xcb_atom_t{XCB_ATOM_PRIMARY}
                                                   : internAtom(connection, "CLIPBOARD");
        activeWindow_ = internAtom(connection, "_NET_ACTIVE_WINDOW");
        // The protocol's own targets, and the markers a clipboard manager asks for.
        const char* housekeeping[] = {"TARGETS",
                                      "TIMESTAMP",
                                      "MULTIPLE",
                                      "SAVE_TARGETS",
                                      "x-kde-passwordManagerHint",
                                      "application/x-copyq-hidden"};
        for (const char* name : housekeeping)
            housekeeping_.push_back(internAtom(connection, name));
    }

    // From our next write on: reads of the client whose window is active now.
    void restart() {
        reads_ = 0;
        reader_ = 0;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        if (screen == nullptr || activeWindow_ == XCB_ATOM_NONE) return;
        const auto cookie =
            xcb_get_property(connection_, 0, screen->root, activeWindow_, XCB_ATOM_WINDOW, 0, 1);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
        if (reply == nullptr) return;
        if (xcb_get_property_value_length(reply) >= 4) {
            const auto window = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
            reader_ = window & clientMask_;
        }
        std::free(reply);
    }
    long reads() const { return reads_; }
    bool knowsReader() const { return reader_ != 0; }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST) return false;
        const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
        if (request->selection != selection_) return false;
        for (const xcb_atom_t atom : housekeeping_) {
            if (request->target == atom) return false;
        }
        if (reader_ == 0 || (request->requestor & clientMask_) == reader_) ++reads_;
        return false; // Qt answers it
    }

  private:
    xcb_connection_t* connection_;
    std::uint32_t clientMask_;
    xcb_atom_t selection_ = XCB_ATOM_NONE;
    xcb_atom_t activeWindow_ = XCB_ATOM_NONE;
    std::vector<xcb_atom_t> housekeeping_;
    std::uint32_t reader_ = 0; // the client bits of the reader we wait for; 0: anyone
    long reads_ = 0;
};

// Qt's xcb connection, when the application runs on X11.
xcb_connection_t* qtXcbConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

} // namespace

struct QtPasteboard::State {
    QClipboard::Mode mode = QClipboard::Clipboard;
    Limits limits;
    long changes = 0;
    // Connected on first use, when the application exists.
    QPointer<QClipboard> watched;
    QMetaObject::Connection connection;
    std::unique_ptr<SelectionReads> reads; // on X11

    ~State() {
        if (reads && QCoreApplication::instance() != nullptr)
            QCoreApplication::instance()->removeNativeEventFilter(reads.get());
    }

    QClipboard* clipboard() {
        QClipboard* board = usableClipboard();
        if (board != nullptr && watched != board) {
            if (xcb_connection_t* x = qtXcbConnection(); x != nullptr && !reads) {
                reads = std::make_unique<SelectionReads>(x, mode);
                QCoreApplication::instance()->installNativeEventFilter(reads.get());
            }
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
    if (state_->reads) state_->reads->restart();
    board->setMimeData(data, state_->mode);
}

bool QtPasteboard::readsOfFocusedAppOnly() {
    return state_->reads && state_->reads->knowsReader();
}

std::optional<long> QtPasteboard::readCount() {
    state_->clipboard();
    if (!state_->reads) return std::nullopt;
    return state_->reads->reads();
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

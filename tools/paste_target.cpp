// A window that records what it receives, for the desktop tests.
//
//   vak-paste-target --record FILE [--ready FILE] [--select TEXT] [--clipboard TYPE VALUE]...
//                    [--primary TEXT]
//       Shows a text field with the keyboard focus. Whenever its text changes (a paste, typed
//       keys) the whole text is written to FILE. --select starts with TEXT in the field, all of
//       it selected (for a synthetic copy). --clipboard takes the clipboard with the given
//       formats, --primary the PRIMARY selection with TEXT. Once the window is up, has the focus
//       and owns the clipboard, its X window id is written to the --ready FILE. With
//       --paste-delay SECONDS it reads the clipboard that long after Ctrl+V, as a busy
//       application does.
//   vak-paste-target --hidden --ready FILE [--clipboard TYPE VALUE]... [--primary TEXT]
//       Owns the selections without a window (a user's copy in another program); "0" is
//       written to the --ready FILE.
//   vak-paste-target --dump-clipboard FILE | --dump-primary FILE
//       Writes every format of the current clipboard (or PRIMARY selection) to FILE, one
//       "TYPE<TAB>HEX" line each, and exits.
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

bool writeAll(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(bytes);
    return file.commit();
}

int dumpClipboard(const QString& path, QClipboard::Mode mode) {
    QByteArray out;
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData(mode)) {
        for (const QString& format : data->formats()) {
            out += format.toUtf8() + '\t' + data->data(format).toHex() + '\n';
        }
    }
    return writeAll(path, out) ? 0 : 1;
}

int usage() {
    std::fputs("usage: vak-paste-target --record FILE [--ready FILE] [--select TEXT] "
               "[--clipboard TYPE VALUE]... [--primary TEXT] | --hidden --ready FILE ... | "
               "--dump-clipboard FILE | --dump-primary FILE\n",
               stderr);
    return 2;
}

// Takes Ctrl+V from the editor and pastes `delay` seconds later.
class LatePaste final : public QObject {
  public:
    LatePaste(QPlainTextEdit& editor, double delay) : editor_(editor), delay_(delay) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->matches(QKeySequence::Paste)) return QObject::eventFilter(watched, event);
        QTimer::singleShot(static_cast<int>(delay_ * 1000), &editor_, [this] { editor_.paste(); });
        return true;
    }

  private:
    QPlainTextEdit& editor_;
    double delay_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("paste-target");
    const QStringList args = QApplication::arguments();
    QString record;
    QString ready;
    QString selected;
    bool select = false;
    bool hidden = false;
    double pasteDelay = 0;
    std::optional<QString> primary;
    std::vector<std::pair<QString, QByteArray>> clipboard;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--dump-clipboard" && hasValue)
            return dumpClipboard(args[i + 1], QClipboard::Clipboard);
        if (arg == "--dump-primary" && hasValue)
            return dumpClipboard(args[i + 1], QClipboard::Selection);
        if (arg == "--hidden") {
            hidden = true;
        } else if (arg == "--primary" && hasValue) {
            primary = args[++i];
        } else if (arg == "--record" && hasValue) {
            record = args[++i];
        } else if (arg == "--ready" && hasValue) {
            ready = args[++i];
        } else if (arg == "--select" && hasValue) {
            selected = args[++i];
            select = true;
        } else if (arg == "--paste-delay" && hasValue) {
            pasteDelay = args[++i].toDouble();
        } else if (arg == "--clipboard" && i + 2 < args.size()) {
            clipboard.emplace_back(args[i + 1], args[i + 2].toUtf8());
            i += 2;
        } else {
            return usage();
        }
    }
    if (record.isEmpty() && !(hidden && !ready.isEmpty())) return usage();

    if (!clipboard.empty()) {
        auto* data = new QMimeData();
        for (const auto& [type, value] : clipboard)
            data->setData(type, value);
        QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    }
    if (primary) QGuiApplication::clipboard()->setText(*primary, QClipboard::Selection);
    if (hidden) {
        writeAll(ready, "0\n");
        return QApplication::exec();
    }

    QPlainTextEdit editor;
    editor.setWindowTitle("paste target");
    editor.resize(480, 240);
    if (select) {
        editor.setPlainText(selected);
        editor.selectAll();
    }
    QObject::connect(&editor, &QPlainTextEdit::textChanged,
                     [&] { writeAll(record, editor.toPlainText().toUtf8()); });
    LatePaste latePaste(editor, pasteDelay);
    if (pasteDelay > 0) editor.installEventFilter(&latePaste);
    editor.show();
    editor.activateWindow();
    editor.setFocus();

    // Ready once the window has the keyboard focus; without a window manager, ask again until
    // the server has mapped the window and given it the focus.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QGuiApplication::focusWindow() == editor.windowHandle()) {
            poll.stop();
            if (!ready.isEmpty()) writeAll(ready, QByteArray::number(editor.winId()) + "\n");
            return;
        }
        editor.activateWindow();
    });
    poll.start(20);
    return QApplication::exec();
}

#include "ui/recall_menus.h"

#include "base/executor.h"
#include "base/files.h"
#include "base/log.h"
#include "base/main_queue.h"
#include "base/time_util.h"
#include "base/unicode.h"
#include "foundation/config.h"
#include "platform/pasteboard.h"
#include "session/recall.h"
#include "ui/ui_services.h"
#include "ui/ui_style.h"
#include "ui/ui_texts.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

namespace vak {

namespace {

void note(QMenu& menu, std::string_view text) {
    menu.addAction(ui::qstr(text))->setEnabled(false);
}

// Menu titles take "&" for the start of a shortcut; the user's words keep theirs.
QString literalTitle(std::string_view text) {
    return ui::qstr(text).replace(QLatin1Char('&'), QLatin1String("&&"));
}

} // namespace

RecallMenus::RecallMenus(const Config& config, MainQueue& main, const UiServices& services,
                         Feedback feedback)
    : config_(config), main_(main), services_(services), feedback_(std::move(feedback)) {
    recent_.setTitle(ui::qstr(ui_text::RECENT_MENU));
    failed_.setTitle(ui::qstr(ui_text::FAILED_MENU));
}

void RecallMenus::refresh() {
    fillFailed();
    recent_.clear();
    if (config_.privacyMode) {
        // The words --history prints, a sentence a line.
        std::string_view rest = HISTORY_OFF_TEXT;
        while (!rest.empty()) {
            const auto end = rest.find(". ");
            note(recent_, rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 2);
        }
        return;
    }
    note(recent_, ui_text::OPENING_HISTORY);
    const unsigned reading = ++latestReading_;
    auto done = lifetime_.guard([this, reading](const HistoryReading& found) {
        if (reading == latestReading_) showHistory(found);
    });
    services_.background->async([read = services_.readHistory, main = &main_, done] {
        main->post([done, found = read(RECENT_DICTATIONS)] { done(found); });
    });
}

void RecallMenus::showHistory(const HistoryReading& reading) {
    recent_.clear();
    if (reading.keyMissing && reading.skipped > 0) {
        note(recent_, upperFirst(historyKeyMissingText(reading.skipped)));
        return;
    }
    if (reading.records.empty() && reading.skipped == 0)
        note(recent_, upperFirst(NO_DICTATIONS_TEXT));
    for (auto record = reading.records.rbegin(); record != reading.records.rend(); ++record) {
        QAction* entry = recent_.addAction(literalTitle(recentDictationTitle(*record)));
        QObject::connect(entry, &QAction::triggered, &recent_, [this, text = record->text] {
            services_.pasteboard->setText(text);
            log(LogLevel::info, "a dictation from the history is on the clipboard again");
        });
    }
    if (reading.skipped > 0) {
        recent_.addSeparator();
        note(recent_, upperFirst(unopenedRecordsText(reading.skipped)));
    }
}

void RecallMenus::fillFailed() {
    // Each recording's submenu is the list's child; a chosen item's own menu goes once its
    // signal is done.
    for (QMenu* old : failed_.findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    failed_.clear();
    const auto kept = services_.scratch.failedRecordings();
    if (kept.empty()) note(failed_, ui_text::NO_FAILED_RECORDINGS);
    for (const KeptRecording& recording : kept) {
        const bool running = retrying_.count(recording.path) > 0;
        QMenu* entry = failed_.addMenu(ui::qstr(
            keptRecordingTitle(recording) + std::string(running ? ui_text::RETRYING_SUFFIX : "")));
        QAction* again = entry->addAction(ui::qstr(ui_text::RETRY_ITEM));
        QAction* drop = entry->addAction(ui::qstr(ui_text::DELETE_ITEM));
        again->setEnabled(!running);
        drop->setEnabled(!running);
        QObject::connect(again, &QAction::triggered, entry,
                         [this, recording] { retry(recording); });
        QObject::connect(drop, &QAction::triggered, entry,
                         [this, recording] { remove(recording); });
    }
}

void RecallMenus::retry(const KeptRecording& recording) {
    if (!retrying_.insert(recording.path).second) return;
    fillFailed();
    if (feedback_.busy) feedback_.busy(+1);
    auto done = lifetime_.guard([this, recording](const std::optional<std::string>& text) {
        retrying_.erase(recording.path);
        if (feedback_.busy) feedback_.busy(-1);
        const std::string when = localMinuteText(recording.modified);
        if (text) {
            services_.pasteboard->setText(*text);
            if (feedback_.notify) feedback_.notify(ui_text::retriedMessage(when));
        } else if (feedback_.notify) {
            feedback_.notify(ui_text::retryFailedMessage(when));
        }
        fillFailed();
    });
    services_.background->async([decode = services_.retryRecording, main = &main_,
                                 wav = recording.path,
                                 done] { main->post([done, text = decode(wav)] { done(text); }); });
}

void RecallMenus::remove(const KeptRecording& recording) {
    if (retrying_.count(recording.path) > 0) return;
    if (removeFile(recording.path)) {
        log(LogLevel::info, "deleted the failed recording " + recording.path);
    } else if (errno != ENOENT) {
        log(LogLevel::warning,
            "could not delete " + recording.path + ": " + std::string(std::strerror(errno)));
    }
    fillFailed();
}

} // namespace vak

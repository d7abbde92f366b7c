#include "ui/panels.h"

#include "foundation/config.h"
#include "ui/choice_panel.h"
#include "ui/first_run_note.h"
#include "ui/ui_services.h"
#include "ui/ui_texts.h"

namespace vak {

Panels::Panels(const Config& config, MainQueue& main, const UiServices& services,
               SessionLink& session)
    : config_(config), main_(main), firstRunMarker_(services.paths.firstRunMarker),
      placement_(services.placement), settings_(config, main, services, session),
      modeInfo_(services.placement), producer_(main, config.producerKey, services.producerInbox,
                                               services.producerOutbox, services.placement),
      notice_(main, services.placement) {}

void Panels::presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                           std::function<void()> onProfessional, std::function<void()> onKeep) {
    ChoicePanel::show(main_, transcript, std::move(onSummarize), std::move(onProfessional),
                      std::move(onKeep), config_.polishAskTimeout, placement_);
}

void Panels::explainAfterFirstDictation(TranscribedOn where, bool startedWithKey) {
    vak::explainAfterFirstDictation(
        main_, firstRunMarker_,
        ui_text::firstRunText(startedWithKey ? config_.hotkey : std::uint16_t{0}, where,
                              !config_.privacyMode),
        placement_);
}

void Panels::showNotice(const std::string& message) {
    notice_.show(message, ui_text::NOTICE_SECONDS);
}

} // namespace vak

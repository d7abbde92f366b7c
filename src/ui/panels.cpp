#include "ui/panels.h"

#include "foundation/config.h"
#include "ui/choice_panel.h"
#include "ui/first_run_note.h"

namespace vak {

Panels::Panels(const Config& config, MainQueue& main, const UiServices& services,
               SessionLink& session)
    : config_(config), main_(main), settings_(config, main, services, session), producer_(main) {}

void Panels::presentChoice(const std::string& transcript, std::function<void()> onSummarize,
                           std::function<void()> onProfessional, std::function<void()> onKeep) {
    ChoicePanel::show(main_, transcript, std::move(onSummarize), std::move(onProfessional),
                      std::move(onKeep), config_.polishAskTimeout);
}

void Panels::explainAfterFirstDictation() {
    vak::explainAfterFirstDictation(main_);
}

} // namespace vak

#include "ui/ui_services.h"

#include "base/environment.h"
#include "base/global_queues.h"
#include "base/unicode.h"
#include "foundation/config.h"
#include "foundation/process_values.h"
#include "platform/frontmost_app.h"
#include "platform/key_monitor.h"
#include "platform/login_item.h"
#include "platform/platform_services.h"
#include "session/mode_memory.h"
#include "session/recall.h"

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>

namespace vak {

UiServices UiServices::from(const ProcessValues& values, const PlatformServices& platform,
                            const DecodeMemory& decodes) {
    UiServices services;
    services.writeConfig = [&values](ConfigKeyName key, std::string_view value) {
        return writeConfigValue(values.CONFIG_PATH, key.text, value);
    };
    services.recordModePick = [path = values.file(UserFile::ModeUsage)](std::string_view app,
                                                                        DeliverMode mode) {
        vak::recordModePick(path, app, mode);
    };
    services.frontmost = platform.frontmost;
    services.files = platform.files;
    services.service = platform.service;
    services.exit = [](int status) { QCoreApplication::exit(status); };
    services.now = [] {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    };
    services.pasteboard = platform.pasteboard;
    services.placement = platform.placement;
    services.audio = platform.audio;
    services.background = &globalQueue(QoS::UserInitiated);
    services.readHistory = [&values, store = platform.secrets](std::size_t count) {
        return vak::readHistory(values.HISTORY_PATH, store.get(), count);
    };
    services.retryRecording = [&values, decodes](const std::string& wav) {
        return retryKeptRecording(wav, values.scratch.retryTextBase(),
                                  DecodeSettings::from(values, decodes),
                                  TranscriptSources::from(values));
    };
    services.producerInbox = values.file(UserFile::ProducerInbox);
    services.producerOutbox = values.file(UserFile::ProducerOutbox);
    services.program = startableProgram(values.cliArgs.empty() ? "vak-dictate" : values.cliArgs[0]);
    services.login = makeLoginItem(values.HOME, services.program);
    services.triggerCodeForKey = [monitor = platform.keyMonitor](std::uint32_t nativeKey) {
        return monitor->triggerCodeForKey(nativeKey);
    };
    services.addToggleShortcut = [program = services.program, chord = values.cfg.shortcutChord] {
        return offerToggleShortcut(program, chord);
    };
    services.paths = {values.HOME,         values.CONFIG_PATH,
                      values.LEARNED_PATH, values.MODEL_SPEEDS_PATH,
                      values.LOG,          values.FIRST_RUN_MARKER};
    services.scratch = values.scratch;
    return services;
}

void rememberModePick(const UiServices& services, DeliverMode mode) {
    services.writeConfig(config_key::selectedMode, configValue(mode));
    if (mode != DeliverMode::ask) {
        services.recordModePick(toLower(services.frontmost->identifier()), mode);
    }
}

} // namespace vak

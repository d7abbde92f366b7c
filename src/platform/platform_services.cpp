#include "platform/platform_services.h"

#include "platform/audio_backend.h"
#include "platform/file_opener.h"
#include "platform/frontmost_app.h"
#include "platform/key_monitor.h"
#include "platform/key_synth.h"
#include "platform/panel_placement.h"
#include "platform/pasteboard.h"
#include "platform/secret_store.h"
#include "platform/service_control.h"
#include "platform/sound_player.h"

namespace vak {

PlatformServices PlatformServices::installed() {
    PlatformServices services;
    services.audio = vak::audioBackend();
    services.sounds = vak::soundPlayer();
    services.keyMonitor = vak::keyMonitor();
    services.keys = vak::keySynth();
    services.pasteboard = vak::pasteboard();
    services.primarySelection = vak::primarySelection();
    services.frontmost = vak::frontmostApp();
    services.placement = vak::panelPlacement();
    services.files = vak::fileOpener();
    services.service = vak::serviceControl();
    services.secrets = vak::secretStore();
    return services;
}

} // namespace vak

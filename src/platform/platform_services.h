#pragma once

#include <memory>

namespace vak {

class AudioBackend;
class FileOpener;
class FrontmostApp;
class KeyMonitor;
class KeySynth;
class PanelPlacement;
class Pasteboard;
class SecretStore;
class ServiceControl;
class SoundPlayer;

// The platform services a running program works with, handed down by the entry to the
// controllers and stages that use them (their *Services structs), so that none of them reaches
// for a process-wide slot itself.
struct PlatformServices {
    std::shared_ptr<AudioBackend> audio;
    std::shared_ptr<SoundPlayer> sounds;
    std::shared_ptr<KeyMonitor> keyMonitor;
    std::shared_ptr<KeySynth> keys;
    std::shared_ptr<Pasteboard> pasteboard;
    std::shared_ptr<Pasteboard> primarySelection;
    std::shared_ptr<FrontmostApp> frontmost;
    std::shared_ptr<PanelPlacement> placement;
    std::shared_ptr<FileOpener> files;
    std::shared_ptr<ServiceControl> service;
    // None until one is installed: everything that needs a secret then treats it as refusing.
    std::shared_ptr<SecretStore> secrets;

    // What is installed now (platform.h installs the back ends; the desktop's once
    // startDesktopBackends has run). For the entry and the tests' own entry points.
    static PlatformServices installed();
};

} // namespace vak

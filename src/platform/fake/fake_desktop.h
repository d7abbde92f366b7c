#pragma once

// Recording stand-ins for the small desktop services: synthetic keys, the frontmost
// application, sounds, the service control and the file opener.

#include "platform/file_opener.h"
#include "platform/frontmost_app.h"
#include "platform/key_synth.h"
#include "platform/service_control.h"
#include "platform/sound_player.h"

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vak {

class FakeKeySynth final : public KeySynth {
  public:
    bool send(const KeyChord& chord) override {
        sent.push_back(chord);
        if (onSend) onSend(chord);
        return !fails;
    }
    // As XTest in a Wayland session: only an X11 window is known to get the keys.
    bool reaches(const FocusedApp& focus) override {
        return !x11WindowsOnly || focus.protocol == WindowProtocol::X11;
    }
    double leadSeconds() override { return lead; }

    std::vector<KeyChord> sent;
    // Plays the receiving application (for instance, copying its selection on the copy key).
    std::function<void(const KeyChord&)> onSend;
    bool fails = false;
    bool x11WindowsOnly = false;
    double lead = 0; // as mutter's keyboard: the key follows the clipboard write by this much
};

class FakeFrontmostApp final : public FrontmostApp {
  public:
    FocusedApp focused() override {
        if (nothingFocused) return {false, {}};
        return {true, id, protocol};
    }
    std::string id;
    bool nothingFocused = false; // every window minimised
    WindowProtocol protocol = WindowProtocol::Unknown;
};

class FakeSoundPlayer final : public SoundPlayer {
  public:
    void play(Sound sound) override {
        std::lock_guard lock(mutex_);
        played_.push_back(sound);
    }
    std::vector<Sound> played() const {
        std::lock_guard lock(mutex_);
        return played_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<Sound> played_;
};

class FakeServiceControl final : public ServiceControl {
  public:
    bool stopService() override {
        ++stops;
        return succeeds;
    }
    bool restartService() override {
        ++restarts;
        return succeeds;
    }
    int stops = 0;
    int restarts = 0;
    bool succeeds = true;
};

class FakeFileOpener final : public FileOpener {
  public:
    bool open(const std::string& path) override {
        std::lock_guard lock(mutex_);
        opened_.push_back(path);
        return true;
    }
    std::vector<std::string> opened() const {
        std::lock_guard lock(mutex_);
        return opened_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> opened_;
};

} // namespace vak

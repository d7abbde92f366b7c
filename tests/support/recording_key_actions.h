#pragma once

#include "session/key_recognizer.h"

#include <string>
#include <vector>

namespace vak::test {

// The session's side of the recogniser: each call noted by name, and the two states they change.
class RecordingKeyActions final : public KeyActions {
  public:
    bool isRecording() const override { return recording; }
    void startRecording() override {
        calls.push_back("start");
        recording = true;
    }
    void stopAndTranscribe() override {
        calls.push_back("stop");
        recording = false;
    }
    void cancelRecording() override {
        calls.push_back("cancel");
        recording = false;
    }
    void startCommandMode() override { calls.push_back("command"); }
    bool producerSessionOn() const override { return producerOn; }
    void startProducerSession() override {
        calls.push_back("producer on");
        producerOn = true;
    }
    void endProducerSession() override {
        calls.push_back("producer off");
        producerOn = false;
    }

    bool recording = false;
    bool producerOn = false;
    std::vector<std::string> calls;
};

} // namespace vak::test

#include "ui/session_link.h"

#include "session/session_ui.h"

namespace vak {

bool SessionLink::isRecording() const {
    return session_ != nullptr && session_->isRecording();
}

bool SessionLink::pause(std::string_view reason) {
    if (!isRecording() || session_->isCapturePaused()) return false;
    session_->pauseCapture();
    showPaused_(true, reason);
    return true;
}

bool SessionLink::resume() {
    if (session_ == nullptr || !session_->isCapturePaused()) return false;
    session_->resumeCapture();
    showPaused_(false, {});
    return true;
}

} // namespace vak

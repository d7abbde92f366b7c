#include "platform/fake/fake_pasteboard.h"

namespace vak {

namespace {
constexpr std::string_view kPlainText = "text/plain";
}

PasteboardItem plainTextItem(std::string_view text) {
    return PasteboardItem{{{std::string(kPlainText), std::string(text)}}};
}

std::optional<std::string> FakePasteboard::text() {
    for (const PasteboardItem& item : contents_) {
        for (const auto& [type, data] : item.types) {
            if (type == kPlainText) return data;
        }
    }
    return std::nullopt;
}

void FakePasteboard::clear() {
    contents_.clear();
    transient_ = false;
    ++changeCount_;
}

void FakePasteboard::setText(std::string_view text) {
    contents_ = {plainTextItem(text)};
    transient_ = true;
    reads_ = 0;
    ++changeCount_;
}

void FakePasteboard::write(const PasteboardSnapshot& snapshot) {
    contents_ = snapshot;
    transient_ = false;
    ++changeCount_;
}

void FakePasteboard::copyFromOtherApp(PasteboardSnapshot contents) {
    write(contents);
}

} // namespace vak

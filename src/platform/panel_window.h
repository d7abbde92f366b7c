#pragma once

#include <cstdint>

namespace vak {

// What the window system needs to treat a frameless tool window as a floating panel: shown on
// every workspace, above other windows, left out of the task bar and the pager. `nativeWindow`
// is the window's native id (QWidget::winId(), which creates it). Call before every show: a
// window manager drops the state of a window while it is hidden. Does nothing where the window
// system needs nothing more than the toolkit's own flags.
void markFloatingPanel(std::uintptr_t nativeWindow);

// Whether windows are composited. Without it a translucent window shows its transparent corners
// as black, so rounded panels clip themselves instead.
bool compositingActive();

} // namespace vak

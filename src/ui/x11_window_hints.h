#pragma once

class QWidget;

namespace vak {

// What the X11 window manager needs to treat a frameless tool window as a floating panel: shown
// on every workspace, above other windows, left out of the task bar and the pager. (Qt's own
// flags already say "never give it the focus" and "do not activate it when shown".) Call before
// every show: a window manager drops the state of a window while it is hidden. Does nothing off
// X11.
void markFloatingPanel(QWidget* window);

// Whether a compositing manager runs on the display. Without one a translucent window shows its
// transparent corners as black, so rounded panels clip themselves instead.
bool compositingActive();

} // namespace vak

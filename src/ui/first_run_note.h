#pragma once

#include <memory>
#include <string>

class QMessageBox;

namespace vak {

class MainQueue;
class PanelPlacement;

// After a dictation has been pasted: the first time ever (no ~/.dictation/.explained yet), marks
// it and shows a short note with `text` (ui_text::firstRunText) 1.2 s later on `main`;
// afterwards nothing.
void explainAfterFirstDictation(MainQueue& main, const std::string& marker, std::string text,
                                std::shared_ptr<PanelPlacement> placement);

// The note itself, shown at once without blocking and without taking the keyboard focus (asked
// of `placement` too, for window managers that ignore the window's hint); it deletes itself when
// dismissed.
QMessageBox* showFirstRunAlert(const std::string& text, PanelPlacement& placement);

} // namespace vak

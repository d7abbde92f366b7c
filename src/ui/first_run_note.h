#pragma once

#include <string>

class QMessageBox;

namespace vak {

class MainQueue;

// After a dictation has been pasted: the first time ever (no ~/.dictation/.explained yet), marks
// it and shows a short note with `text` (ui_text::firstRunText) 1.2 s later on `main`;
// afterwards nothing.
void explainAfterFirstDictation(MainQueue& main, const std::string& marker, std::string text);

// The note itself, shown at once without blocking and without taking the keyboard focus; it
// deletes itself when dismissed.
QMessageBox* showFirstRunAlert(const std::string& text);

} // namespace vak

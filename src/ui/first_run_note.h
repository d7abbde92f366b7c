#pragma once

class QMessageBox;

namespace vak {

class MainQueue;

// After a dictation has been pasted: the first time ever (no ~/.dictation/.explained yet), marks
// it and shows a short note 1.2 s later on `main`; afterwards nothing.
void explainAfterFirstDictation(MainQueue& main);

// The note itself, shown at once without blocking; it deletes itself when dismissed.
QMessageBox* showFirstRunAlert();

} // namespace vak

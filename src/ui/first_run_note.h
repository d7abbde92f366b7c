#pragma once

class QMessageBox;

namespace vak {

// After a dictation has been pasted: the first time ever (no ~/.dictation/.explained yet), marks
// it and shows a short note 1.2 s later; afterwards nothing.
void explainAfterFirstDictation();

// The note itself, shown at once without blocking; it deletes itself when dismissed.
QMessageBox* showFirstRunAlert();

} // namespace vak

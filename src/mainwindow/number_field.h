#pragma once

class QLineEdit;
class QWidget;

// The whole-number fields of the program's small dialogs.

// A right-aligned edit showing `value`, wide enough for `digits` digits and a little room.
QLineEdit* NumberEdit(int value, int digits, QWidget* parent);

// Reads `edit` as a whole number from `low` to `high` into `value`. Otherwise says so in a
// message box ("Please enter an integer between ..."), puts the focus on the field, selects
// its text and returns false, leaving `value` as it was.
bool TakeNumberField(QLineEdit* edit, int low, int high, int& value);

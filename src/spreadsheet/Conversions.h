#pragma once

#include "spreadsheet/CellValue.h"
#include "spreadsheet/Regional.h"

#include <QDate>

namespace spreadsheet {

// Cell value to text, as a spreadsheet shows it: "" for empty, the shortest decimal text for a
// number ("0" for zero), the regional short date for a date, "VERDADERO"/"FALSO" for a boolean.
// An error cell is a Failure naming the cell address.
QString CellText(const CellValue& value, const Regional& regional, const QString& address);

// Text to date under the regional settings; a time of day is accepted and dropped. Text that
// is no date, or an impossible date, is a Failure quoting the text.
QDate TextToDate(const QString& text, const Regional& regional);

// Removes leading and trailing blanks (spaces and tabs); inner blanks stay.
QString TrimBlanks(const QString& text);

} // namespace spreadsheet

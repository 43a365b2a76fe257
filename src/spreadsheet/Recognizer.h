#pragma once

#include "spreadsheet/CellValue.h"
#include "spreadsheet/Regional.h"

#include <QDateTime>
#include <QStringView>
#include <optional>

namespace spreadsheet {

// What a spreadsheet makes of a text read from a CSV file: empty, boolean, number, date or the
// text exactly as written.
CellValue recognise(QStringView text, const Regional& regional);

// "1,234.50", "$-3", "(12)", "1e3", "15%" with the regional marks; blanks around allowed.
std::optional<double> parseNumber(QStringView text, const Regional& regional);

// "07/12/2026", "7/12/26", "2026-12-07", each optionally followed by "09:05" or "09:05:30";
// blanks around allowed. Impossible dates give nullopt.
std::optional<QDateTime> parseDateTime(QStringView text, const Regional& regional);

// Leading and trailing spaces only.
QStringView trimSpaces(QStringView text);

} // namespace spreadsheet

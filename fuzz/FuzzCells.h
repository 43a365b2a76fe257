#pragma once

#include "spreadsheet/Application.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/Failure.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// The regional settings a fuzzer input's first byte picks: day or month first, "." or ",".
inline spreadsheet::Regional regionalFrom(std::uint8_t byte)
{
    spreadsheet::Regional regional;
    regional.dayFirst = (byte & 1) != 0;
    if ((byte & 2) != 0) {
        regional.decimalPoint = u',';
        regional.groupSeparator = u'.';
    }
    return regional;
}

// Reads the top-left cells the way the sheet scan does, checking what must always hold.
inline void readCells(const spreadsheet::Worksheet& sheet, const spreadsheet::Regional& regional)
{
    const int rows = std::min(sheet.lastRow(), 64) + 1;
    for (int row = 1; row <= rows; ++row) {
        for (int column = 1; column <= 10; ++column) {
            const spreadsheet::CellValue value = sheet.value(row, column);
            try {
                const QString text = spreadsheet::CellText(value, regional, "A1");
                spreadsheet::TrimBlanks(text);
                // A date's text is read back as the same date.
                if (value.kind == spreadsheet::CellValue::Kind::Date &&
                    value.date.date().year() >= 1900 && value.date.date().year() <= 9999 &&
                    spreadsheet::TextToDate(text, regional) != value.date.date())
                    std::abort();
            } catch (const spreadsheet::Failure&) {
                if (value.kind != spreadsheet::CellValue::Kind::Error)
                    std::abort();
            }
        }
    }
}

#pragma once

#include <QString>

namespace bench {

// Writes a sales workbook of the given number of rows below its title row, the same rows for
// CSV (.csv) and XLSX (.xlsx): about 5% "0" markers, 3% amounts of zero or below, 1% empty rows
// (never 50 in a row), accented descriptions, some longer than 60 characters, others with
// blanks around them. Each row depends only on its number, so a smaller workbook is the first
// rows of a larger one. CSV dates are day/month/year with "." as decimal point.
void WriteWorkbook(const QString& path, int rows);

} // namespace bench

#pragma once

#include "spreadsheet/Application.h"
#include "spreadsheet/Regional.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace spreadsheet {

// The largest CSV file held: cell offsets are 32-bit.
inline constexpr qint64 kMaxCsvBytes = qint64(2) << 30;

// Splits a whole CSV or TXT file held in memory into its worksheet. The cells keep the file's
// bytes and are recognised (number, date, ...) when read. `path` names the file in failures.
std::unique_ptr<Worksheet> readCsv(QByteArray bytes, const QString& path, const Regional& regional);

// The separator a spreadsheet would pick for these bytes: ',', ';' or '\t'.
char detectSeparator(const char* data, qsizetype size);

} // namespace spreadsheet

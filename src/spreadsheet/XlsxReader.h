#pragma once

#include "spreadsheet/Application.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringView>
#include <memory>
#include <optional>

namespace spreadsheet {

// The largest .xlsx file read (packed).
inline constexpr qint64 kMaxXlsxBytes = qint64(1) << 30;

// Bounds on what a workbook may unpack to, so that a zip bomb fails instead of filling memory.
struct XlsxLimits {
    qint64 totalBytes = qint64(1) << 30;      // all parts read
    qint64 partBytes = qint64(1) << 30;       // the worksheet or the shared strings
    qint64 smallPartBytes = qint64(64) << 20; // workbook, relationships, styles
    qint64 ratioAfter = qint64(32) << 20;     // the packing ratio is checked beyond this size
    qint64 maxRatio = 400;                    // real worksheets pack well below this
};

// Reads the first worksheet (in workbook order) of a whole .xlsx/.xlsm file held in memory.
// `path` names the file in failures.
std::unique_ptr<Worksheet> readXlsx(const QByteArray& bytes, const QString& path,
                                    const XlsxLimits& limits = {});

// Whether a number format shows a date or time: built-in ids, or a custom code with d, m or y
// outside quotes and brackets (elapsed-time formats such as [h]:mm stay numbers).
bool isBuiltInDateFormat(int id);
bool isDateFormatCode(QStringView code);

// A date serial as a date and time; 1900 system with its 29 February 1900, or 1904 system.
// nullopt for a negative serial or one past 9999.
std::optional<QDateTime> serialToDateTime(double serial, bool date1904);

} // namespace spreadsheet

#pragma once

#include <QChar>
#include <QString>

namespace spreadsheet {

// The regional settings that shape how numbers and dates are read and shown.
struct Regional {
    bool dayFirst = true; // 07/12/2026 is 7 December
    QChar decimalPoint = u'.';
    QChar groupSeparator = u',';

    // Day-first unless the system locale orders dates month-first; the locale's decimal point.
    static Regional fromSystem();
    // The short date pattern in QDate::toString form ("dd/MM/yyyy" or "MM/dd/yyyy").
    QString shortDateFormat() const;
};

} // namespace spreadsheet

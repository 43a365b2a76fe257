#include "spreadsheet/Regional.h"

#include <QLocale>

namespace spreadsheet {

Regional Regional::fromSystem()
{
    const QLocale locale = QLocale::system();
    Regional regional;
    const QString pattern = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype day = pattern.indexOf(u'd');
    const qsizetype month = pattern.indexOf(u'M');
    regional.dayFirst = !(month >= 0 && day >= 0 && month < day);

    const QString point = locale.decimalPoint();
    if (point.size() == 1)
        regional.decimalPoint = point.front();
    const QString group = locale.groupSeparator();
    if (group.size() == 1)
        regional.groupSeparator = group.front();
    // A locale whose two marks coincide would make every number ambiguous.
    if (regional.groupSeparator == regional.decimalPoint)
        regional.groupSeparator = regional.decimalPoint == u',' ? u'.' : u',';
    return regional;
}

QString Regional::shortDateFormat() const
{
    return dayFirst ? QStringLiteral("dd/MM/yyyy") : QStringLiteral("MM/dd/yyyy");
}

} // namespace spreadsheet

#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <ostream>

// Readable GoogleTest failure messages for the Qt values the window tests compare.
inline void PrintTo(const QString& value, std::ostream* out)
{
    *out << '"' << value.toStdString() << '"';
}
inline void PrintTo(const QRect& r, std::ostream* out)
{
    *out << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}
inline void PrintTo(const QSize& s, std::ostream* out)
{
    *out << "QSize(" << s.width() << ", " << s.height() << ")";
}
inline void PrintTo(const QPoint& p, std::ostream* out)
{
    *out << "QPoint(" << p.x() << ", " << p.y() << ")";
}
inline void PrintTo(const QColor& c, std::ostream* out)
{
    *out << "RGB(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}

#include "spreadsheet/Conversions.h"

#include "spreadsheet/Failure.h"
#include "spreadsheet/Recognizer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace spreadsheet {

namespace {

// Beyond these magnitudes a spreadsheet shows an exponent ("1.5E+20").
constexpr int kLargestFixedExponent = 14;
constexpr int kSmallestFixedExponent = -9;

// Fifteen significant digits, as a spreadsheet keeps and shows them, so 0.1 + 0.2 shows "0.3".
QString numberText(double value, QChar point)
{
    if (value == 0 || !std::isfinite(value))
        return QStringLiteral("0");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                      std::chars_format::scientific, 14);
    const std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    const size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.')
            digits.push_back(c);
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());

    QString out;
    if (value < 0)
        out.append(u'-');
    if (exponent > kLargestFixedExponent || exponent < kSmallestFixedExponent) {
        out.append(QLatin1Char(digits[0]));
        if (digits.size() > 1) {
            out.append(point);
            out.append(QLatin1String(digits.data() + 1, static_cast<qsizetype>(digits.size() - 1)));
        }
        out.append(exponent < 0 ? QStringLiteral("E-") : QStringLiteral("E+"));
        out.append(QStringLiteral("%1").arg(std::abs(exponent), 2, 10, QLatin1Char('0')));
        return out;
    }
    const auto count = static_cast<int>(digits.size());
    if (exponent < 0) {
        out.append(u'0');
        out.append(point);
        out.append(QString(-exponent - 1, u'0'));
        out.append(QLatin1String(digits.data(), count));
    } else if (exponent + 1 >= count) {
        out.append(QLatin1String(digits.data(), count));
        out.append(QString(exponent + 1 - count, u'0'));
    } else {
        out.append(QLatin1String(digits.data(), exponent + 1));
        out.append(point);
        out.append(QLatin1String(digits.data() + exponent + 1, count - exponent - 1));
    }
    return out;
}

// The regional short date ("dd/MM/yyyy" or "MM/dd/yyyy"), without parsing the pattern per cell.
QString dateText(const QDate& date, const Regional& regional)
{
    if (!date.isValid())
        return {};
    const int first = regional.dayFirst ? date.day() : date.month();
    const int second = regional.dayFirst ? date.month() : date.day();
    char buffer[16];
    const int length = std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d", first, second,
                                     std::clamp(date.year(), 0, 9999));
    return QString::fromLatin1(buffer, length);
}

} // namespace

QString CellText(const CellValue& value, const Regional& regional, const QString& address)
{
    switch (value.kind) {
    case CellValue::Kind::Empty:
        return {};
    case CellValue::Kind::Text:
        return value.text;
    case CellValue::Kind::Number:
        return numberText(value.number, regional.decimalPoint);
    case CellValue::Kind::Date:
        return dateText(value.date.date(), regional);
    case CellValue::Kind::Boolean:
        return value.boolean ? QStringLiteral("VERDADERO") : QStringLiteral("FALSO");
    case CellValue::Kind::Error:
        break;
    }
    throw Failure(QStringLiteral("La celda %1 contiene un error (%2).").arg(address, value.text));
}

QDate TextToDate(const QString& text, const Regional& regional)
{
    if (const std::optional<QDateTime> date = parseDateTime(TrimBlanks(text), regional))
        return date->date();
    throw Failure(QStringLiteral("\"%1\" no es una fecha válida.").arg(text));
}

QString TrimBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace spreadsheet

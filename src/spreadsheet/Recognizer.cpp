#include "spreadsheet/Recognizer.h"

#include <charconv>
#include <cmath>
#include <string>

namespace spreadsheet {

namespace {

constexpr int kFirstYear = 1900; // a spreadsheet holds no earlier date
constexpr int kLastYear = 9999;

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

bool isCurrency(QChar c)
{
    return c == u'$' || c == u'€' || c == u'£';
}

bool equalsIgnoringCase(QStringView text, QStringView word)
{
    return text.compare(word, Qt::CaseInsensitive) == 0;
}

// Text of the form ="00123", which spreadsheet exports use to keep a text a text.
std::optional<QString> quotedFormulaText(QStringView text)
{
    if (text.size() < 3 || !text.startsWith(u"=\"") || !text.endsWith(u'"'))
        return std::nullopt;
    const QStringView inner = text.mid(2, text.size() - 3);
    QString result;
    result.reserve(inner.size());
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner[i] == u'"') {
            if (i + 1 >= inner.size() || inner[i + 1] != u'"')
                return std::nullopt;
            ++i;
        }
        result.append(inner[i]);
    }
    return result;
}

struct Cursor {
    QStringView text;
    qsizetype i = 0;

    bool atEnd() const { return i >= text.size(); }
    QChar peek() const { return atEnd() ? QChar() : text[i]; }
    bool take(QChar c)
    {
        if (atEnd() || text[i] != c)
            return false;
        ++i;
        return true;
    }
    void skipSpaces()
    {
        while (!atEnd() && text[i] == u' ')
            ++i;
    }
    // Up to maxDigits digits; the count read (more digits than allowed: -1).
    int number(int maxDigits, int& value)
    {
        value = 0;
        int digits = 0;
        while (!atEnd() && isDigit(text[i])) {
            if (++digits > maxDigits)
                return -1;
            value = value * 10 + (text[i].unicode() - u'0');
            ++i;
        }
        return digits;
    }
};

int fullYear(int year, int digits)
{
    if (digits == 2)
        return year < 30 ? 2000 + year : 1900 + year;
    return year;
}

std::optional<QTime> parseTime(Cursor& in)
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    int msec = 0;
    const int hourDigits = in.number(2, hour);
    if (hourDigits < 1 || !in.take(u':') || in.number(2, minute) != 2)
        return std::nullopt;
    if (in.take(u':')) {
        if (in.number(2, second) != 2)
            return std::nullopt;
        if (in.take(in.peek() == u',' ? u',' : u'.')) {
            int scale = 100;
            int digits = 0;
            while (!in.atEnd() && isDigit(in.peek())) {
                msec += (in.peek().unicode() - u'0') * scale;
                scale /= 10;
                ++in.i;
                ++digits;
            }
            if (digits == 0)
                return std::nullopt;
        }
    }
    in.skipSpaces();
    if (!in.atEnd()) {
        // "PM", "p.m.", "p. m."
        QString marker;
        for (; !in.atEnd(); ++in.i) {
            const QChar c = in.peek();
            if (c != u'.' && c != u' ')
                marker.append(c.toLower());
        }
        const bool pm = marker == u"pm";
        if (!pm && marker != u"am")
            return std::nullopt;
        if (hour < 1 || hour > 12)
            return std::nullopt;
        hour = hour % 12 + (pm ? 12 : 0);
    }
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return QTime(hour, minute, second, msec);
}

} // namespace

QStringView trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

std::optional<double> parseNumber(QStringView text, const Regional& regional)
{
    Cursor in{trimSpaces(text)};
    bool negative = false;
    bool currency = false;
    const bool parenthesised = in.take(u'(');
    auto takeCurrency = [&] {
        if (!currency && !in.atEnd() && isCurrency(in.peek())) {
            currency = true;
            ++in.i;
            in.skipSpaces();
        }
    };
    takeCurrency();
    if (in.peek() == u'-' || in.peek() == u'+') {
        negative = in.peek() == u'-';
        if (negative && parenthesised)
            return std::nullopt;
        ++in.i;
    }
    takeCurrency();

    // Ordinary numbers fit the small-string buffer, so no allocation per cell.
    std::string digits;
    int integerDigits = 0;
    int groupLength = -1; // digits since the last group separator; -1 before the first
    while (!in.atEnd()) {
        const QChar c = in.peek();
        if (isDigit(c)) {
            digits.push_back(static_cast<char>(c.unicode()));
            ++integerDigits;
            if (groupLength >= 0)
                ++groupLength;
        } else if (c == regional.groupSeparator && integerDigits > 0) {
            if ((groupLength < 0 && integerDigits > 3) || (groupLength >= 0 && groupLength != 3))
                return std::nullopt;
            groupLength = 0;
        } else {
            break;
        }
        ++in.i;
    }
    if (groupLength >= 0 && groupLength != 3)
        return std::nullopt;
    int fractionDigits = 0;
    if (in.take(regional.decimalPoint)) {
        digits.push_back('.');
        while (!in.atEnd() && isDigit(in.peek())) {
            digits.push_back(static_cast<char>(in.peek().unicode()));
            ++fractionDigits;
            ++in.i;
        }
    }
    if (integerDigits + fractionDigits == 0)
        return std::nullopt;
    if (in.peek() == u'e' || in.peek() == u'E') {
        ++in.i;
        digits.push_back('e');
        if (in.peek() == u'-' || in.peek() == u'+')
            digits.push_back(static_cast<char>(in.text[in.i++].unicode()));
        int exponentDigits = 0;
        while (!in.atEnd() && isDigit(in.peek())) {
            digits.push_back(static_cast<char>(in.peek().unicode()));
            ++exponentDigits;
            ++in.i;
        }
        if (exponentDigits == 0)
            return std::nullopt;
    }
    const bool percent = in.take(u'%');
    if (!percent && !currency) {
        in.skipSpaces();
        takeCurrency();
    }
    if (parenthesised && !in.take(u')'))
        return std::nullopt;
    if (!in.atEnd())
        return std::nullopt;

    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (percent)
        value /= 100;
    if (negative || parenthesised)
        value = -value;
    if (!std::isfinite(value))
        return std::nullopt;
    return value == 0 ? 0.0 : value;
}

std::optional<QDateTime> parseDateTime(QStringView text, const Regional& regional)
{
    Cursor in{trimSpaces(text)};
    int first = 0;
    int second = 0;
    int third = 0;
    const int firstDigits = in.number(4, first);
    if (firstDigits < 1 || in.atEnd())
        return std::nullopt;
    const QChar separator = in.peek();
    // Dotted dates only where the dot is not the decimal point, as in "7.12.2026".
    if (separator != u'/' && separator != u'-' &&
        !(separator == u'.' && regional.decimalPoint != u'.'))
        return std::nullopt;
    ++in.i;
    const int secondDigits = in.number(2, second);
    if (secondDigits < 1 || !in.take(separator))
        return std::nullopt;
    const int thirdDigits = in.number(4, third);

    const bool yearFirst = firstDigits == 4;
    int year = 0;
    int month = 0;
    int day = 0;
    if (yearFirst) {
        if (thirdDigits < 1 || thirdDigits > 2)
            return std::nullopt;
        year = first;
        month = second;
        day = third;
    } else {
        if (firstDigits > 2 || (thirdDigits != 2 && thirdDigits != 4))
            return std::nullopt;
        year = fullYear(third, thirdDigits);
        day = regional.dayFirst ? first : second;
        month = regional.dayFirst ? second : first;
    }
    if (year < kFirstYear || year > kLastYear || !QDate::isValid(year, month, day))
        return std::nullopt;

    QTime time(0, 0);
    if (!in.atEnd()) {
        if (!(yearFirst && in.take(u'T'))) {
            if (in.peek() != u' ')
                return std::nullopt;
            in.skipSpaces();
        }
        const std::optional<QTime> parsed = parseTime(in);
        if (!parsed)
            return std::nullopt;
        time = *parsed;
    }
    return QDateTime(QDate(year, month, day), time, Qt::UTC);
}

CellValue recognise(QStringView text, const Regional& regional)
{
    if (text.isEmpty())
        return CellValue::empty();
    const QStringView trimmed = trimSpaces(text);
    if (trimmed.isEmpty())
        return CellValue::fromText(text.toString());
    if (std::optional<QString> literal = quotedFormulaText(text))
        return CellValue::fromText(*literal);
    if (equalsIgnoringCase(trimmed, u"TRUE") || equalsIgnoringCase(trimmed, u"VERDADERO"))
        return CellValue::fromBoolean(true);
    if (equalsIgnoringCase(trimmed, u"FALSE") || equalsIgnoringCase(trimmed, u"FALSO"))
        return CellValue::fromBoolean(false);
    if (const std::optional<double> number = parseNumber(trimmed, regional))
        return CellValue::fromNumber(*number);
    if (const std::optional<QDateTime> date = parseDateTime(trimmed, regional))
        return CellValue::fromDate(*date);
    return CellValue::fromText(text.toString());
}

} // namespace spreadsheet

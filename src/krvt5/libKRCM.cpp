#include "krvt5/libKRCM.h"

#include "krvt5/IniFile.h"

#include <QDateTime>
#include <charconv>
#include <climits>
#include <limits>
#include <string_view>

namespace krvt5 {
namespace {

// Blanks that a number in text may hold anywhere, as the spreadsheet's Val skips them.
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// The text's non-blank characters from `from` on, one at a time.
class Scanner {
public:
    Scanner(QStringView text, qsizetype from) : text_(text), pos_(from) { skip(); }
    QChar peek() const { return pos_ < text_.size() ? text_[pos_] : QChar(); }
    void next()
    {
        ++pos_;
        skip();
    }
    qsizetype position() const { return pos_; }
    void rewind(qsizetype position) { pos_ = position; }

private:
    void skip()
    {
        while (pos_ < text_.size() && isBlank(text_[pos_]))
            ++pos_;
    }
    QStringView text_;
    qsizetype pos_;
};

int digitValue(QChar c)
{
    const char16_t u = c.toUpper().unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'A' && u <= u'Z')
        return u - u'A' + 10;
    return 36;
}

double radixNumber(Scanner& in, int radix)
{
    double value = 0;
    for (int digit = digitValue(in.peek()); digit < radix; digit = digitValue(in.peek())) {
        value = value * radix + digit;
        in.next();
    }
    return value;
}

// True when the decimal digits (with optional "." and exponent) stand for a number beyond the
// double range rather than below it.
bool isHuge(std::string_view number)
{
    const std::size_t e = number.find('e');
    const std::string_view mantissa = number.substr(0, e);
    long long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view text = number.substr(e + 1);
        const bool negative = text.starts_with('-');
        if (negative || text.starts_with('+'))
            text.remove_prefix(1);
        if (std::from_chars(text.data(), text.data() + text.size(), exponent).ec != std::errc())
            exponent = LLONG_MAX / 4; // beyond any digit count: only its sign matters
        if (negative)
            exponent = -exponent;
    }
    long long digits = 0;
    long long firstSignificant = -1;
    long long integerDigits = -1;
    for (const char c : mantissa) {
        if (c == '.') {
            integerDigits = digits;
            continue;
        }
        if (c != '0' && firstSignificant < 0)
            firstSignificant = digits;
        ++digits;
    }
    if (integerDigits < 0)
        integerDigits = digits;
    return integerDigits - firstSignificant - 1 + exponent > 0;
}

// Overflow gives an infinity and underflow 0: the caller decides what to make of either.
double toDouble(const QByteArray& number)
{
    std::string_view digits(number.constData(), number.size());
    const bool negative = digits.starts_with('-');
    if (negative || digits.starts_with('+'))
        digits.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        value = isHuge(digits) ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -value : value;
}

// The number at the start of the text, "." as the decimal point whatever the locale.
double numberAtStart(QStringView text)
{
    Scanner in(text, 0);
    // "&H"/"&O": the digits' plain unsigned value, without the 16-bit wrap of old Basic.
    if (in.peek() == u'&') {
        in.next();
        const QChar prefix = in.peek().toUpper();
        if (prefix != u'H' && prefix != u'O')
            return 0;
        in.next();
        return radixNumber(in, prefix == u'H' ? 16 : 8);
    }

    QByteArray number;
    if (in.peek() == u'+' || in.peek() == u'-') {
        number += in.peek().toLatin1();
        in.next();
    }
    const auto digits = [&] {
        qsizetype count = 0;
        for (; digitValue(in.peek()) < 10; in.next(), ++count)
            number += in.peek().toLatin1();
        return count;
    };
    qsizetype mantissaDigits = digits();
    if (in.peek() == u'.') {
        number += '.';
        in.next();
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return 0;
    if (in.peek() == u'e' || in.peek() == u'E') {
        // The exponent counts only when digits follow; a dangling "e" ends the number.
        const qsizetype mark = in.position();
        const qsizetype length = number.size();
        number += 'e';
        in.next();
        if (in.peek() == u'+' || in.peek() == u'-') {
            number += in.peek().toLatin1();
            in.next();
        }
        if (digits() == 0) {
            number.truncate(length);
            in.rewind(mark);
        }
    }
    return toDouble(number);
}

// Days since 1899-12-30 with the time of day as the fraction; before that day the fraction
// still counts forward within the day, as the spreadsheet's negative dates do.
double serialDay(const QDate& date, const QTime& time)
{
    const double days = static_cast<double>(QDate(1899, 12, 30).daysTo(date));
    const double fraction = time.isValid() ? time.msecsSinceStartOfDay() / 86'400'000.0 : 0.0;
    return days < 0 ? days - fraction : days + fraction;
}

} // namespace

QString libKRCM::LeeIni(const QString& section, const QString& key, const QString& path)
{
    return ini::read(path, section, key);
}

void libKRCM::EscribeIni(const QString& section, const QString& key, const QString& value,
                         const QString& path)
{
    ini::write(path, section, key, value);
}

double libKRCM::krVal(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        return 0;
    case QMetaType::Bool:
        return value.toBool() ? -1 : 0;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    case QMetaType::QDate:
        return serialDay(value.toDate(), QTime());
    case QMetaType::QDateTime: {
        const QDateTime dateTime = value.toDateTime();
        return serialDay(dateTime.date(), dateTime.time());
    }
    case QMetaType::QTime:
        return serialDay(QDate(1899, 12, 30), value.toTime());
    default:
        return numberAtStart(value.toString());
    }
}

} // namespace krvt5

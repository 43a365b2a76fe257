#include "generation/TicketColumns.h"

#include "support/Failure.h"

#include <QSqlDriver>
#include <QSqlField>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace generation {

namespace {

void appendLatin1(QString& text, const char* data, qsizetype length)
{
    text += QLatin1StringView(data, length);
}

void appendLatin1(QByteArray& bytes, const char* data, qsizetype length)
{
    bytes.append(data, length);
}

template <typename Text> void appendNumber(Text& text, qlonglong value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    appendLatin1(text, buffer, result.ptr - buffer);
}

// yyyy-MM-dd, quoted or not.
template <typename Text> void appendDate(Text& text, const QDate& date, bool quoted)
{
    int year = 0;
    int month = 0;
    int day = 0;
    date.getDate(&year, &month, &day);
    char buffer[24];
    if (year < 0 || year > 9999) {
        const int length =
            std::snprintf(buffer, sizeof buffer, quoted ? "'%04d-%02d-%02d'" : "%04d-%02d-%02d",
                          year, month, day);
        appendLatin1(text, buffer, length);
        return;
    }
    // Once per ticket and table: formatted by hand, without the cost of a format string.
    char* out = buffer;
    if (quoted)
        *out++ = '\'';
    const auto digits = [&out](int value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            out[i] = char('0' + value % 10);
            value /= 10;
        }
        out += count;
    };
    digits(year, 4);
    *out++ = '-';
    digits(month, 2);
    *out++ = '-';
    digits(day, 2);
    if (quoted)
        *out++ = '\'';
    appendLatin1(text, buffer, out - buffer);
}

// ASCII text (times, amounts) without a conversion of its own.
void appendAscii(QByteArray& out, const QString& text)
{
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* to = out.data() + at;
    for (const QChar c : text)
        *to++ = char(c.unicode());
}

bool needsEscape(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == '\\' || c == '\0';
}

void appendEscaped(QByteArray& out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    // Most descriptions have nothing to escape: one copy.
    if (std::none_of(utf8.begin(), utf8.end(), needsEscape)) {
        out += utf8;
        return;
    }
    for (const char c : utf8) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
}

// QtSql writes a null text as NULL; an empty description is a value.
QString descripOf(const Ticket& ticket)
{
    return ticket.descrip.isNull() ? QStringLiteral("") : ticket.descrip;
}

const QDate& dateOf(Source source, const Ticket& ticket)
{
    return source == Source::HeaderDate ? ticket.fechaEncabezado : ticket.fechaDetalle;
}

} // namespace

QString DecimalText(double value)
{
    if (!std::isfinite(value))
        throw support::Failure(QStringLiteral("El importe no es un número finito."));
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

bool IsConstant(Source source)
{
    return source == Source::One || source == Source::Product;
}

QString ConstantLiteral(Source source)
{
    return source == Source::One ? QStringLiteral("1") : QStringLiteral("'V'");
}

QVariant BoundValue(Source source, const RowValues& row)
{
    switch (source) {
    case Source::Venta:
        return row.ticket.venta;
    case Source::HeaderDate:
    case Source::LineDate:
        return dateOf(source, row.ticket);
    case Source::Time:
        return row.hora;
    case Source::Amount:
        return row.amount;
    case Source::One:
        return QVariant::fromValue<qint16>(1);
    case Source::Product:
        return QStringLiteral("V");
    case Source::Descrip:
        return descripOf(row.ticket);
    case Source::HeaderKey:
        return row.headerKey;
    }
    return {};
}

void AppendLiteral(QString& statement, Source source, const RowValues& row, QSqlDriver& driver,
                   QSqlField& scratch)
{
    switch (source) {
    case Source::Venta:
        appendNumber(statement, row.ticket.venta);
        break;
    case Source::HeaderDate:
    case Source::LineDate:
        appendDate(statement, dateOf(source, row.ticket), true);
        break;
    case Source::Time:
        statement += u'\'' + row.hora + u'\'';
        break;
    case Source::Amount:
        statement += row.amount;
        break;
    case Source::One:
    case Source::Product:
        statement += ConstantLiteral(source);
        break;
    case Source::Descrip:
        // The driver knows the connection's character set and quoting mode.
        scratch.setValue(descripOf(row.ticket));
        statement += driver.formatValue(scratch);
        break;
    case Source::HeaderKey:
        appendNumber(statement, row.headerKey);
        break;
    }
}

void AppendLoadField(QByteArray& line, Source source, const RowValues& row)
{
    switch (source) {
    case Source::Venta:
        appendNumber(line, row.ticket.venta);
        break;
    case Source::HeaderDate:
    case Source::LineDate:
        appendDate(line, dateOf(source, row.ticket), false);
        break;
    case Source::Time:
        appendAscii(line, row.hora);
        break;
    case Source::Amount:
        appendAscii(line, row.amount);
        break;
    case Source::One:
        line += '1';
        break;
    case Source::Product:
        line += 'V';
        break;
    case Source::Descrip:
        appendEscaped(line, row.ticket.descrip);
        break;
    case Source::HeaderKey:
        appendNumber(line, row.headerKey);
        break;
    }
}

} // namespace generation

namespace generation {

void FormatLoadText(LoadText& text, Ticket& ticket, const QString& hora, const QString& amount)
{
    const RowValues values{ticket, hora, amount};
    QByteArray& header = text.headers;
    ticket.headerAt = std::uint32_t(header.size());
    bool first = true;
    for (const Column& column : kTickets.columns) {
        if (!first)
            header += '\t';
        first = false;
        AppendLoadField(header, column.source, values);
    }
    header += '\n';
    ticket.headerEnd = std::uint32_t(header.size());

    QByteArray& line = text.lines;
    ticket.lineAt = std::uint32_t(line.size());
    for (const Column& column : kTicketsDetalle.columns) {
        if (column.source == Source::HeaderKey)
            break;
        AppendLoadField(line, column.source, values);
        line += '\t';
    }
    ticket.ordinalAt = std::uint32_t(line.size());
    appendNumber(line, ticket.ordinal);
    line += '\n';
    ticket.lineEnd = std::uint32_t(line.size());
}

} // namespace generation

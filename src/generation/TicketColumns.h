#pragma once

#include "generation/TicketSink.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QVariant>
#include <array>
#include <span>

class QSqlDriver;
class QSqlField;

namespace generation {

// Where a column's value comes from.
enum class Source { Venta, HeaderDate, LineDate, Time, Amount, One, Product, Descrip, HeaderKey };

struct Column {
    QLatin1StringView name;
    Source source;
};

// A POS table as the program fills it: every writer builds its statements, loader lines,
// literals, placeholders and bound values from these columns, in this order.
struct PosTable {
    QLatin1StringView name;
    std::span<const Column> columns;
};

// The ticket's number, in both tables: the run finds taken numbers and its own rows by it.
inline constexpr QLatin1StringView kVentaColumn("Venta");

inline constexpr std::array<Column, 5> kHeaderColumns{{
    {kVentaColumn, Source::Venta},
    {QLatin1StringView("Fecha"), Source::HeaderDate},
    {QLatin1StringView("Hora"), Source::Time},
    {QLatin1StringView("Efectivo"), Source::Amount},
    {QLatin1StringView("Total"), Source::Amount},
}};

inline constexpr std::array<Column, 9> kLineColumns{{
    {kVentaColumn, Source::Venta},
    {QLatin1StringView("Partida"), Source::One},
    {QLatin1StringView("Fecha"), Source::LineDate},
    {QLatin1StringView("Hora"), Source::Time},
    {QLatin1StringView("Producto"), Source::Product},
    {QLatin1StringView("Descrip"), Source::Descrip},
    {QLatin1StringView("Cantidad"), Source::One},
    {QLatin1StringView("Precio"), Source::Amount},
    {QLatin1StringView("IdTicket"), Source::HeaderKey},
}};

inline constexpr PosTable kTickets{QLatin1StringView("tickets"), kHeaderColumns};
inline constexpr PosTable kTicketsDetalle{QLatin1StringView("ticketsdetalle"), kLineColumns};
// The header's key, filled by the database; the line refers to it.
inline constexpr QLatin1StringView kKeyColumn("Id");

// The values one ticket gives its rows.
struct RowValues {
    const Ticket& ticket;
    const QString& hora;   // the client's time of day, "HH:mm"
    const QString& amount; // decimal text
    qlonglong headerKey = 0;
};

// The shortest text that reads back as the same number, without exponent: a DECIMAL column
// receives exactly the digits the amount shows.
QString DecimalText(double value);

// Values that are the same on every row: written into the statement, not bound.
bool IsConstant(Source source);
QString ConstantLiteral(Source source);

// The value to bind.
QVariant BoundValue(Source source, const RowValues& row);
// The value as an SQL literal; texts escaped by the driver (`scratch` is a text field).
void AppendLiteral(QString& statement, Source source, const RowValues& row, QSqlDriver& driver,
                   QSqlField& scratch);
// The value as a field of the loader's tab-separated file, backslash escapes.
void AppendLoadField(QByteArray& line, Source source, const RowValues& row);
// Appends the loader's rows of a ticket that has its ordinal to `text`, and tells the ticket
// where they are.
void FormatLoadText(LoadText& text, Ticket& ticket, const QString& hora, const QString& amount);

static_assert(kLineColumns.back().source == Source::HeaderKey,
              "the detail line's key comes last: the ordinal formatted ahead stands in its place");

} // namespace generation

#pragma once

#include "krvt5/Connection.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace generation {

// What the POS's columns can hold, where the engine says (SQLite keeps any value whole).
struct ColumnLimits {
    struct Text {
        int length = 0;  // characters; bytes where there is no character set
        QString charset; // "latin1", "utf8mb3", "utf8mb4", ...; empty for VARBINARY
    };
    // An amount column of exact numbers: DECIMAL, or an integer type (scale 0).
    struct Decimal {
        QString column; // "Efectivo", for messages
        int precision = 0;
        int scale = 0;
        QString type;                 // "decimal(6,2)", "smallint(6)": for messages
        std::optional<double> most{}; // an integer type's largest value
    };
    // A column of the POS's own, NOT NULL without a default, that the program leaves out: a
    // strict session refuses a row without it, so the program gives it the value the server
    // gives it outside strict mode.
    struct Fill {
        QString column;
        QString literal; // SQL
    };
    std::optional<Text> descrip;
    std::vector<Decimal> amounts; // Efectivo, Total, Precio
    // Amount columns of 32-bit floats ("Efectivo"), which hold about seven digits: the server
    // stores the nearest float without a word.
    QStringList floatAmounts;
    std::vector<Fill> headerFills;
    std::vector<Fill> lineFills;
    // A key the database gives from a counter, of a type small enough to run out (SMALLINT, say;
    // not INT or BIGINT).
    struct SmallKey {
        qlonglong most = 0;
        QString type; // "smallint(6)", for messages
    };
    std::optional<SmallKey> headerKey;
    std::optional<SmallKey> lineKey;
    // ticketsdetalle.IdTicket, of such a type: the headers' keys it can hold.
    std::optional<SmallKey> headerKeyInLines;
    // The smaller of the two Venta columns, where its type ends below INT's range.
    struct Bound {
        QString column; // "ticketsdetalle.Venta (smallint(6))", for messages
        qlonglong most = 0;
    };
    std::optional<Bound> ventaMost;
    // Columns NOT NULL without a default that the program leaves out and can give no value
    // ("tickets.Zona"): the database refuses every ticket.
    QStringList unfillable;
    // The tables' CHECK constraints, which the dry run cannot weigh: "tickets: `Total` > 0 (c)".
    QStringList checks;

    // Why the description cannot be stored whole, or nothing.
    std::optional<QString> descripProblem(const QString& descrip) const;
    // Why the amount cannot be stored, or nothing.
    std::optional<QString> amountProblem(double amount) const;
    // Why the ticket number cannot be stored, or nothing.
    std::optional<QString> ventaProblem(std::int32_t venta) const;
    // The scale an amount is written with: the smallest of the amount columns', so that the
    // header's total and the line's price hold the same value. Nothing when none is known.
    std::optional<int> writtenScale() const;
};

ColumnLimits ReadColumnLimits(krvt5::Connection& connection);

// The value a MySQL server gives a NOT NULL column without a default that a row leaves out,
// outside strict mode, as an SQL literal, by the column's DATA_TYPE; nothing for a type
// without one.
std::optional<QString> ImplicitDefault(const QString& dataType);

// An amount as the writers send it: rounded to `scale` (writtenScale()) as the server would round
// it, so that the loader stores it without a note and every column holds the same value.
QString AmountText(double amount, std::optional<int> scale);

// The largest key of a table, 0 when it is empty: found in its index, without reading rows.
qlonglong LastKey(krvt5::Connection& connection, const QString& table);

// How many more rows `table` has keys for, from its largest key (`last`, or read) and its
// counter, which rows rolled back or removed have moved on.
qlonglong KeysLeft(krvt5::Connection& connection, const QString& table,
                   const ColumnLimits::SmallKey& key, std::optional<qlonglong> last = std::nullopt);

// The reason a ticket finds no key in `table`.
QString NoKeysLeftText(const QString& table, const ColumnLimits::SmallKey& key);

// Why an amount as written (AmountText()) would not come back the same from a column of 32-bit
// floats, or nothing.
std::optional<QString> FloatAmountProblem(const QString& written, const QStringList& columns);

// The decimal text rounded to `scale` digits, halves away from zero, as the server rounds a
// decimal value it stores.
QString RoundDecimalText(const QString& text, int scale);

} // namespace generation

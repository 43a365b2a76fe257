#include "generation/ExistingTickets.h"

#include "generation/TicketColumns.h"
#include "krvt5/Engine.h"
#include "support/Failure.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <cmath>
#include <limits>

namespace generation {

namespace {

// Venta as the range is compared with. SQLite compares a column declared as text (or with no
// type) with a number as text, where " 106", "0106" and "1.06e2" fall outside "100" to "200":
// there it is compared by its value, without its index. Other columns compare as numbers.
QString comparedVenta(krvt5::Connection& connection, const QString& venta)
{
    if (connection.engine().isServer())
        return venta;
    QSqlQuery columns(connection.database());
    if (!columns.exec(QStringLiteral("PRAGMA table_info(%1)").arg(kTickets.name)))
        return venta;
    while (columns.next()) {
        if (columns.value(1).toString().compare(kVentaColumn, Qt::CaseInsensitive) != 0)
            continue;
        const QString type = columns.value(2).toString().toUpper();
        const bool text =
            !type.contains(QLatin1String("INT")) &&
            (type.isEmpty() || type.contains(QLatin1String("CHAR")) ||
             type.contains(QLatin1String("CLOB")) || type.contains(QLatin1String("TEXT")) ||
             type.contains(QLatin1String("BLOB")));
        return text ? QStringLiteral("CAST(%1 AS NUMERIC)").arg(venta) : venta;
    }
    return venta;
}

} // namespace

std::unordered_set<std::int32_t> ExistingTickets(krvt5::Connection& connection, std::int32_t first,
                                                 std::int32_t last)
{
    QSqlDatabase& db = connection.database();
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString venta = db.driver()->escapeIdentifier(kVentaColumn, QSqlDriver::FieldName);
    const QString tickets = db.driver()->escapeIdentifier(kTickets.name, QSqlDriver::TableName);
    // The numbers are the program's own integers: in the text, the read is one round trip,
    // where a prepared one takes a prepare and an execute.
    if (!query.exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 BETWEEN %4 AND %5")
                        .arg(venta, tickets, comparedVenta(connection, venta))
                        .arg(first)
                        .arg(last))) {
        throw support::Failure(QStringLiteral("No se pueden leer los tickets existentes (%1): %2")
                                   .arg(connection.describe(), query.lastError().text()));
    }
    std::unordered_set<std::int32_t> numbers;
    while (query.next()) {
        // A number kept as text is found by its value ("105.0", "1.05e2"): the same number.
        bool ok = false;
        const double number = query.value(0).toDouble(&ok);
        if (ok && number >= first && number <= last && number == std::floor(number))
            numbers.insert(static_cast<std::int32_t>(number));
    }
    return numbers;
}

std::int32_t LastPossibleTicket(std::int32_t first, std::int32_t lastRow)
{
    const std::int64_t last = std::int64_t{first} + std::max<std::int64_t>(lastRow, 0);
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(last, std::numeric_limits<std::int32_t>::max()));
}

} // namespace generation

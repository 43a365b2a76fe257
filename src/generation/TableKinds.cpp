#include "generation/TableKinds.h"

#include "generation/TicketColumns.h"
#include "krvt5/Connection.h"
#include "krvt5/SqlError.h"
#include "krvt5/SqlLiteral.h"
#include "support/Failure.h"

#include <QSqlError>
#include <QSqlQuery>

namespace generation {

namespace {

// Engines that store rows and delete them again, without transactions: a failed batch is
// removed by its keys.
bool removesByKeys(const QString& engine)
{
    for (const char* known : {"MyISAM", "Aria", "MEMORY"}) {
        if (engine.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Engines that keep their rows in the server and roll them back. Others that say they roll
// back keep no rows (BLACKHOLE, SEQUENCE) or keep them elsewhere, where a rollback may not
// reach them (FEDERATED, CONNECT, SPIDER).
bool rollsBackHere(const QString& engine)
{
    for (const char* known : {"InnoDB", "RocksDB", "TokuDB"}) {
        if (engine.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace

TableKinds TableKinds::read(krvt5::Connection& connection)
{
    TableKinds kinds;
    const QString query = connection.engine().tableKinds();
    if (query.isEmpty())
        return kinds;
    QSqlDatabase& db = connection.database();
    QStringList names;
    for (const PosTable* table : {&kTickets, &kTicketsDetalle})
        names.append(krvt5::TextLiteral(db, QString(table->name)));
    QSqlQuery found(db);
    if (!found.exec(query.arg(names.join(QStringLiteral(", ")))))
        throw support::Failure(
            QStringLiteral("No se pudo saber qué tipo de tablas tiene la base "
                           "de datos (%1): %2")
                .arg(connection.describe(), krvt5::SqlErrorText(found.lastError())));
    while (found.next()) {
        const QString name = found.value(0).toString();
        const QString type = found.value(1).toString();
        const QString engine = found.value(2).toString();
        // A view does not say what its rows go to, nor whether they roll back.
        if (type != QLatin1String("BASE TABLE") && type != QLatin1String("SYSTEM VERSIONED")) {
            kinds.refusals.append(
                QStringLiteral("La tabla \"%1\" es %2: el programa sólo escribe en tablas, de las "
                               "que sabe si deshacen un lote que falla.")
                    .arg(name, type == QLatin1String("VIEW") ? QStringLiteral("una vista")
                                                             : QStringLiteral("de tipo ") + type));
            continue;
        }
        if (found.value(3).toString() == QLatin1String("YES") && rollsBackHere(engine))
            continue;
        if (removesByKeys(engine)) {
            kinds.nonTransactional.append(QStringLiteral("%1 (%2)").arg(name, engine));
            continue;
        }
        kinds.refusals.append(
            QStringLiteral(
                "La tabla \"%1\" usa el motor %2, que no guarda las filas en el servidor o no deja "
                "quitar las de un lote que falla: el programa escribe en tablas "
                "InnoDB, MyISAM, Aria o MEMORY.")
                .arg(name, engine.isEmpty() ? QStringLiteral("desconocido") : engine));
    }
    return kinds;
}

QString NoRemovalText(const QStringList& nonTransactional, const QString& table,
                      const QString& reason)
{
    return QStringLiteral("las tablas %1 no pueden deshacer cambios, y no se puede borrar en la "
                          "tabla \"%2\" (%3): un lote que fallara quedaría a medias")
        .arg(nonTransactional.join(QStringLiteral(", ")), table, reason);
}

std::optional<QString> InsertRefused(QSqlDatabase& db, const QString& quotedTable,
                                     const QString& quotedColumn)
{
    QSqlQuery probe(db);
    if (probe.exec(QStringLiteral("INSERT INTO %1 (%2) SELECT 0 FROM DUAL WHERE 1 = 0")
                       .arg(quotedTable, quotedColumn)))
        return std::nullopt;
    // Only a permission refused: the columns left out may have no default, which the run gives.
    const QString code = probe.lastError().nativeErrorCode();
    if (code != QLatin1String("1142") && code != QLatin1String("1143")) // table, column access
        return std::nullopt;
    return krvt5::SqlErrorText(probe.lastError());
}

std::optional<QString> DeleteRefused(QSqlDatabase& db, const QString& quotedTable)
{
    QSqlQuery probe(db);
    if (probe.exec(QStringLiteral("DELETE FROM %1 WHERE 1 = 0").arg(quotedTable)))
        return std::nullopt;
    return krvt5::SqlErrorText(probe.lastError());
}

} // namespace generation

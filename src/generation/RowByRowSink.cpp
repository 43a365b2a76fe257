#include "generation/RowByRowSink.h"

#include "generation/TicketColumns.h"
#include "support/Failure.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QTime>
#include <limits>
#include <optional>

namespace generation {

namespace {

std::int32_t keyOf(const QVariant& id)
{
    bool ok = false;
    const qlonglong value = id.toLongLong(&ok);
    if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        throw support::Failure(
            QStringLiteral("La clave \"%1\" del ticket recién guardado no es un número de 32 bits.")
                .arg(id.toString()));
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

bool RowByRowSink::isTaken(std::int32_t venta)
{
    return bases_.AbrirTabla(rsTabla_, state_.cnBase,
                             QStringLiteral("tickets WHERE Venta=") + QString::number(venta) +
                                 QStringLiteral(" LIMIT 1"));
}

void RowByRowSink::fill(const PosTable& table, const RowValues& values)
{
    rsTabla_->AddNew();
    for (const Column& column : table.columns)
        rsTabla_->setCollect(column.name, BoundValue(column.source, values));
    rsTabla_->Update();
}

void RowByRowSink::write(const Ticket& ticket)
{
    const QString hora = QTime::currentTime().toString(QStringLiteral("HH:mm"));
    const QString amount = DecimalText(ticket.importe);
    if (oneTransaction_)
        state_.cnBase->BeginTrans();
    std::optional<std::int32_t> stored;
    try {
        // The recordset of the existence query, on tickets, takes the header.
        fill(kTickets, {ticket, hora, amount});
        const std::int32_t key = keyOf(bases_.LastId(state_.cnBase, kTickets.name, kKeyColumn));
        stored = key;
        bases_.AbrirTabla(rsTabla_, state_.cnBase,
                          kTicketsDetalle.name + QStringLiteral(" WHERE Venta=-9"));
        fill(kTicketsDetalle, {ticket, hora, amount, key});
        if (oneTransaction_)
            state_.cnBase->CommitTrans();
    } catch (...) {
        // Tables that cannot roll back keep the header: it goes by its key.
        if (stored)
            removeHeader(*stored);
        if (oneTransaction_) {
            try {
                state_.cnBase->RollbackTrans();
            } catch (...) {
                // The first failure is the one to report; a lost connection rolls back anyway.
            }
        }
        throw;
    }
    if (onStored)
        onStored(ticket);
}

void RowByRowSink::removeHeader(std::int32_t key) noexcept
{
    try {
        QSqlDatabase& db = state_.cnBase->database();
        QSqlQuery remove(db);
        if (remove.prepare(
                QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                    .arg(db.driver()->escapeIdentifier(kTickets.name, QSqlDriver::TableName),
                         db.driver()->escapeIdentifier(kKeyColumn, QSqlDriver::FieldName)))) {
            remove.addBindValue(key);
            remove.exec();
        }
    } catch (...) {
        // The failure that led here is the one to report.
    }
}

void RowByRowSink::finish()
{
    bases_.CierraTabla(rsTabla_);
}

} // namespace generation

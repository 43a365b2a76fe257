#include "generation/TicketSink.h"
#include "support/Failure.h"
#include "support/modComun.h"

#include <QTime>
#include <limits>

namespace generation {

namespace {

QString clockTime()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm"));
}

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

bool RowByRowSink::exists(std::int32_t venta)
{
    return support::oBases->AbrirTabla(rsTabla_, state_.cnBase,
                                       QStringLiteral("tickets WHERE Venta=") +
                                           QString::number(venta) + QStringLiteral(" LIMIT 1"));
}

void RowByRowSink::write(const Ticket& ticket)
{
    krvt5::BasesDD& bases = *support::oBases;
    state_.cnBase->BeginTrans();
    try {
        // The recordset of the existence query, on tickets, takes the header.
        rsTabla_->AddNew();
        rsTabla_->setCollect(QStringLiteral("Venta"), ticket.venta);
        rsTabla_->setCollect(QStringLiteral("Fecha"), ticket.fechaEncabezado);
        rsTabla_->setCollect(QStringLiteral("Hora"), clockTime());
        rsTabla_->setCollect(QStringLiteral("Efectivo"), ticket.importe);
        rsTabla_->setCollect(QStringLiteral("Total"), ticket.importe);
        rsTabla_->Update();

        const std::int32_t nIdTicket =
            keyOf(bases.LastId(state_.cnBase, QStringLiteral("tickets"), QStringLiteral("Id")));

        bases.AbrirTabla(rsTabla_, state_.cnBase, QStringLiteral("ticketsdetalle WHERE Venta=-9"));
        rsTabla_->AddNew();
        rsTabla_->setCollect(QStringLiteral("Venta"), ticket.venta);
        rsTabla_->setCollect(QStringLiteral("Partida"), QVariant::fromValue<qint16>(1));
        rsTabla_->setCollect(QStringLiteral("Fecha"), ticket.fechaDetalle);
        rsTabla_->setCollect(QStringLiteral("Hora"), clockTime());
        rsTabla_->setCollect(QStringLiteral("Producto"), QStringLiteral("V"));
        rsTabla_->setCollect(QStringLiteral("Descrip"), ticket.descrip);
        rsTabla_->setCollect(QStringLiteral("Cantidad"), QVariant::fromValue<qint16>(1));
        rsTabla_->setCollect(QStringLiteral("Precio"), ticket.importe);
        rsTabla_->setCollect(QStringLiteral("IdTicket"), nIdTicket);
        rsTabla_->Update();

        state_.cnBase->CommitTrans();
    } catch (...) {
        try {
            state_.cnBase->RollbackTrans();
        } catch (...) {
            // The first failure is the one to report; a lost connection rolls back anyway.
        }
        throw;
    }
    if (onStored)
        onStored(ticket);
}

void RowByRowSink::finish()
{
    support::oBases->CierraTabla(rsTabla_);
}

} // namespace generation

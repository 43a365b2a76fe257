#pragma once

#include "support/Failure.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

namespace krvt5 {
class Connection;
}

namespace generation {

// Asked on the writing connection right before every commit; throws when nothing more may be
// committed (the run lost its lock, say).
using CommitCheck = std::function<void(krvt5::Connection& writer)>;

// The loader's rows of tickets formatted ahead by the walk, a batch's at a time, so that the
// writer sends them in blocks. A detail row ends with its ticket's ordinal where its header's
// key goes: the database gives the key, and the keys of a batch follow its ordinals.
struct LoadText {
    QByteArray headers;
    QByteArray lines;
};

// One ticket as the walk hands it over: header and line are built from it.
struct Ticket {
    std::int32_t venta = 0;
    QDate fechaEncabezado;
    QDate fechaDetalle;
    double importe = 0;
    QString descrip; // already cut and upper-cased
    std::int32_t row = 0;
    // Where its rows are in `loadText` when formatted ahead (null otherwise): its header row,
    // its detail row, and in that the ordinal that ends it.
    std::shared_ptr<const LoadText> loadText;
    std::uint32_t headerAt = 0;
    std::uint32_t headerEnd = 0;
    std::uint32_t lineAt = 0;
    std::uint32_t ordinalAt = 0;
    std::uint32_t lineEnd = 0;
    std::uint32_t ordinal = 0; // its place among the run's tickets, from 1
};

// A ticket that could not be stored, with its row and number, so that the walk stops where the
// row-by-row walk would have stopped.
class StoreFailure : public support::Failure {
public:
    StoreFailure(const Ticket& ticket, const QString& reason)
        : support::Failure(QStringLiteral("No se pudo guardar el ticket %1 del renglón %2: %3")
                               .arg(ticket.venta)
                               .arg(ticket.row)
                               .arg(reason)),
          row(ticket.row), venta(ticket.venta)
    {}
    std::int32_t row;
    std::int32_t venta;
};

// Where the walk's tickets go. A ticket is stored whole (header and line) or not at all.
class TicketSink {
public:
    virtual ~TicketSink() = default;

    // Once the database is open and the run holds it, while the workbook is still being read:
    // `beforeCommit` (when set) is asked before every commit. A failure to get ready is met
    // again at begin(), where it names the first sale's row.
    virtual void prepare(const CommitCheck& /*beforeCommit*/) {}
    // Before the first number is asked for: the run's first number and the sheet's last row
    // (no sale row can use a number past first + lastRow).
    virtual void begin(std::int32_t /*first*/, std::int32_t /*lastRow*/) {}
    // After begin(): what the user should know of the tables it writes.
    virtual QStringList notices() const { return {}; }
    // True when a ticket with this number is stored already.
    virtual bool isTaken(std::int32_t venta) = 0;
    // Stores the ticket (or queues it: then it is stored by a later call or by finish()).
    virtual void write(const Ticket& ticket) = 0;
    // Once for every sale row: hands over what waited long enough and tells onStored what was
    // committed meanwhile; throws the StoreFailure of a ticket queued before.
    virtual void poll() {}
    // Stores whatever is queued and closes the sink's recordset.
    virtual void finish() = 0;
    // Called after a failure: stores the queued tickets that are whole, drops the rest.
    virtual void abandon() {}

    // Told once for every ticket when it is really stored (committed).
    std::function<void(const Ticket&)> onStored;
    // Told once for every ticket passed over at its commit because another writer took its
    // number after the run read its range.
    std::function<void(const Ticket&)> onTaken;
};

} // namespace generation

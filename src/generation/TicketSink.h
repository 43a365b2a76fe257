#pragma once

#include "generation/WindowState.h"

#include <QDate>
#include <QString>
#include <cstdint>
#include <functional>

namespace generation {

// One ticket as the scan hands it over: header and line are built from it.
struct Ticket {
    std::int32_t venta = 0;
    QDate fechaEncabezado;
    QDate fechaDetalle;
    double importe = 0;
    QString descrip; // already cut and upper-cased
    std::int32_t row = 0;
};

// Where the scan's tickets go. A ticket is stored whole (header and line) or not at all.
class TicketSink {
public:
    virtual ~TicketSink() = default;

    // True when a ticket with this number is stored already.
    virtual bool exists(std::int32_t venta) = 0;
    // Stores the ticket (or queues it: then it is stored by a later call or by finish()).
    virtual void write(const Ticket& ticket) = 0;
    // Stores whatever is queued and closes the sink's recordset.
    virtual void finish() = 0;
    // Called after a failure: stores the queued tickets that are whole, drops the rest.
    virtual void abandon() {}

    // Told once for every ticket when it is really stored (committed).
    std::function<void(const Ticket&)> onStored;
};

// The plain way: one existence query per ticket through the component, and header, key and
// line in one transaction per ticket.
class RowByRowSink : public TicketSink {
public:
    explicit RowByRowSink(WindowState& state) : state_(state) {}
    bool exists(std::int32_t venta) override;
    void write(const Ticket& ticket) override;
    void finish() override;

private:
    WindowState& state_;
    krvt5::RecordsetRef rsTabla_;
};

} // namespace generation

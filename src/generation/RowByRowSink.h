#pragma once

#include "generation/TicketSink.h"
#include "generation/WindowState.h"
#include "krvt5/BasesDD.h"

namespace generation {

struct PosTable;
struct RowValues;

// The plain way: one existence query per ticket through the component, and header, key and
// line in one transaction per ticket (or, as the row-by-row baseline of the benchmark, each
// record in a transaction of its own).
class RowByRowSink : public TicketSink {
public:
    enum class Commit { PerTicket, PerRecord };

    RowByRowSink(WindowState& state, krvt5::BasesDD& bases, Commit commit = Commit::PerTicket)
        : state_(state), bases_(bases), oneTransaction_(commit == Commit::PerTicket)
    {}
    bool isTaken(std::int32_t venta) override;
    void write(const Ticket& ticket) override;
    void finish() override;

private:
    void fill(const PosTable& table, const RowValues& values);
    void removeHeader(std::int32_t key) noexcept;

    WindowState& state_;
    krvt5::BasesDD& bases_;
    bool oneTransaction_;
    krvt5::RecordsetRef rsTabla_;
};

} // namespace generation

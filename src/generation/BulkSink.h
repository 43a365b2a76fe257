#pragma once

#include "generation/TicketSink.h"
#include "generation/WindowState.h"

#include <QElapsedTimer>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

namespace generation {

class BatchWriter;

// How much the bulk path may queue before it commits.
struct BatchLimits {
    int tickets = 1000;    // the first batch is committed when it holds this many tickets,
    int maxDelayMs = 500;  // or when its first ticket has waited this long;
    int maxTickets = 8000; // each batch may hold twice the one before, up to this many.
    // MySQL: the server's own loader (LOAD DATA LOCAL INFILE) where the server takes it.
    bool serverLoader = true;
};

// Writes the scan's tickets in batches, each in one transaction, through a TicketStore. The
// numbers taken in the run's range are read once, at the first exists(). Batches are written on
// threads of their own, each with its own connection to the same database (two on MySQL, one
// on SQLite), while the walk reads on; on cnBase itself when no such connection can be had.
// The result is the one the row-by-row path gives: batches commit in order, after a failure
// every ticket before the failing row is stored and none after it, and nRenglon, nTicket and
// nVacios are left as the row-by-row walk leaves them at the failing row. onStored is told on
// the caller's thread once a ticket is committed.
class BulkSink : public TicketSink {
public:
    explicit BulkSink(WindowState& state) : BulkSink(state, BatchLimits{}) {}
    BulkSink(WindowState& state, BatchLimits limits);
    ~BulkSink() override;
    BulkSink(const BulkSink&) = delete;
    BulkSink& operator=(const BulkSink&) = delete;

    bool exists(std::int32_t venta) override;
    void write(const Ticket& ticket) override;
    void finish() override;
    void abandon() override;

    // After finish(): the longest time one transaction was open, in milliseconds.
    qint64 longestTransactionMs() const { return longestTransactionMs_; }

private:
    void start(std::int32_t first);
    void handOver();
    void checkConnection();
    // Tells onStored what was committed meanwhile; throws the writer's failure.
    void collect();
    [[noreturn]] void fail(const Ticket& ticket, const QString& reason);

    WindowState& state_;
    BatchLimits limits_;
    std::unique_ptr<BatchWriter> writer_;
    std::int32_t first_ = 0;
    std::int32_t last_ = -1;
    std::unordered_set<std::int32_t> taken_;
    int batchTickets_ = 0;
    std::vector<Ticket> queue_;
    QElapsedTimer queuedSince_;
    qint64 longestTransactionMs_ = 0;
};

} // namespace generation

#pragma once

#include "generation/CommitPipeline.h"
#include "generation/TakenNumbers.h"
#include "generation/TicketSink.h"
#include "generation/TicketStore.h"
#include "generation/WindowState.h"

#include <QElapsedTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace krvt5 {
class BasesDD;
}

namespace generation {

// How much the bulk path may queue before it commits.
struct BatchLimits {
    int tickets = 1000;    // the first batch is committed when it holds this many tickets,
    int maxDelayMs = 500;  // or when its first ticket has waited this long;
    int maxTickets = 8000; // each batch may hold twice the one before, up to this many.
    // MySQL: the server's own loader (LOAD DATA LOCAL INFILE) where the server takes it.
    bool serverLoader = true;
    // About how long one transaction may keep the tables (the POS's sales wait behind it);
    // 0: the engine's own bound.
    int maxHoldMs = 0;
    // How long a batch waits for the tables while another client holds them (a sale left open,
    // say) before the run stops at its first ticket.
    int busyMs = 60000;
};

// Connections with the settings of `bases`, each through a component object of its own.
ConnectionSource ConnectionsLike(const krvt5::BasesDD& bases);

// Fails when a server connection does not answer.
void CheckAnswers(krvt5::Connection& connection);

// Writes the walk's tickets in batches through a commit pipeline: threaded on connections from
// `source` (to the walk's own database only) while the walk reads on (two on a server, one on a
// file engine), or on cnBase itself when no such connection can be had. The numbers taken in the
// run's range are read once, at begin(). Before a batch is handed over, `checkLock` is asked on the
// walk's connection (by default: that it still answers, since a server lock lives on it). onStored
// is told on the walk's thread once a ticket is committed.
class BulkSink : public TicketSink {
public:
    using LockCheck = std::function<void(krvt5::Connection& walk)>;

    BulkSink(WindowState& state, ConnectionSource source, BatchLimits limits = {},
             LockCheck checkLock = CheckAnswers, CommitCheck beforeCommit = {});
    ~BulkSink() override;
    BulkSink(const BulkSink&) = delete;
    BulkSink& operator=(const BulkSink&) = delete;

    // Makes what begin() needs but the run's numbers (the tables' facts, the writer's
    // connection); `beforeCommit` is asked after the constructor's.
    void prepare(const CommitCheck& beforeCommit) override;
    void begin(std::int32_t first, std::int32_t lastRow) override;
    QStringList notices() const override { return notices_; }
    bool isTaken(std::int32_t venta) override;
    void write(const Ticket& ticket) override;
    void poll() override;
    void finish() override;
    void abandon() override;

    // Where batches on tables that cannot roll back keep their journal (the temporary folder
    // unless told); the next run on the database reads it there. Before prepare() and begin().
    void keepJournalIn(const QString& folder) { journalFolder_ = folder; }

    // After finish(): how long the transactions kept the tables.
    TransactionTimes transactionTimes() const { return transactionTimes_; }

private:
    krvt5::Connection& walk() const;
    void start(krvt5::Connection& connection);
    // How many queued tickets make a batch: the writer's own measure once it has one.
    std::size_t handOverAt() const;
    void handOver();
    // Tells onStored what was committed meanwhile; throws the pipeline's failure.
    void collect();

    WindowState& state_;
    ConnectionSource source_;
    BatchLimits limits_;
    LockCheck checkLock_;
    CommitCheck beforeCommit_;
    QString journalFolder_;
    QStringList notices_;
    bool prepared_ = false;
    // The loader's text is formatted on the walk's thread, while the writer is busy.
    bool formatAhead_ = false;
    std::optional<int> scale_;
    QStringList floatAmounts_;
    Clock clock_;
    std::unique_ptr<CommitPipeline> pipeline_;
    TakenNumbers taken_;
    int batchTickets_ = 0;
    std::vector<Ticket> queue_;
    std::shared_ptr<LoadText> queuedText_; // of the queued tickets, when formatted ahead
    std::uint32_t ordinals_ = 0;
    QElapsedTimer queuedSince_;
    TransactionTimes transactionTimes_;
};

} // namespace generation

#pragma once

#include "generation/TicketSink.h"
#include "generation/TicketStore.h"
#include "krvt5/Connection.h"

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace generation {

// How a writer gets connections of its own to the walk's database.
struct ConnectionSource {
    std::function<krvt5::ConnectionRef()> open; // throws when none can be had
    std::function<void(krvt5::ConnectionRef&)> close;
};

// What the store of a batch may do.
struct StoreLimits {
    int statementRows = 1000;
    bool serverLoader = true;
    int maxTickets = 8000; // the most tickets in one transaction,
    int maxHoldMs = 0;     // and about how long one may keep the tables (0: the engine's bound)
    QString journalFolder; // where batches on tables that cannot roll back keep their journal
    TableFacts facts;      // of the tables written, read once by the caller
    int busyMs = 60000;    // how long a batch waits for tables that another client holds
};

// How long the batches' transactions kept the tables, waits for them left out.
struct TransactionTimes {
    qint64 longestMs = 0;
    qint64 totalMs = 0;
    int count = 0;
};

// Stores batches of tickets in transactions that keep other writers out for about the time
// budget each, passing over the numbers taken since the run read its range, and commits them in
// the order they were handed over; after a batch fails, no later one commits. The tickets of a
// failed batch before its failing one are stored. Committed tickets and the failure are collected
// by the walk's thread.
class CommitPipeline {
public:
    virtual ~CommitPipeline() = default;

    // Hands a batch over; may wait while the database is behind.
    virtual void submit(std::vector<Ticket> batch) = 0;
    // Waits until one more batch handed over is committed or, after a failure, dropped; true
    // once none is left.
    virtual bool awaitProgress() = 0;
    // The tickets committed since the last call, in order, those passed over because their
    // numbers were taken meanwhile, and the failure once there is one.
    virtual std::vector<Ticket> takeCommitted(std::vector<Ticket>& taken,
                                              std::optional<StoreFailure>& failure) = 0;
    // How long the batches' transactions kept the tables.
    virtual TransactionTimes transactionTimes() = 0;
    // About how many tickets the next transaction takes; 0 while unknown. Batches handed over
    // at that size go whole, without being cut or joined.
    virtual std::size_t wantedTickets() const { return 0; }

    // On the given connection, at once, on the caller's thread.
    static std::unique_ptr<CommitPipeline> inline_(krvt5::Connection& connection,
                                                   const StoreLimits& limits, CommitCheck check);
    // On a thread with a connection of its own, while the walk reads on. Nothing when no
    // connection could be opened.
    static std::unique_ptr<CommitPipeline> threaded(const ConnectionSource& source,
                                                    const StoreLimits& limits, CommitCheck check);
};

} // namespace generation

#include "generation/CommitPipeline.h"

#include "generation/TicketStore.h"
#include "support/Failure.h"

#include <QElapsedTimer>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>

namespace generation {

namespace {

void rollBack(krvt5::Connection& connection)
{
    if (!connection.inTransaction())
        return;
    try {
        connection.RollbackTrans();
    } catch (...) {
        // The failure that led here is the one to report; a lost connection rolls back anyway.
    }
}

// A commit that must not happen: retrying a part of the batch cannot change that.
class CommitRefused : public support::Failure {
public:
    using support::Failure::Failure;
};

// What became of a batch: its tickets in `committed` are stored, those in `taken` were passed
// over because their numbers were taken meanwhile; a failure names its ticket. A dropped batch
// stored nothing, since a batch before it failed.
struct BatchOutcome {
    std::vector<Ticket> committed;
    std::vector<Ticket> taken;
    bool failed = false;
    Ticket failing;
    QString reason;
    bool dropped = false;
};

// Asked before every commit: false when the batch must be dropped.
using CommitTurn = std::function<bool()>;

void undoAndRollBack(krvt5::Connection& connection, TicketStore& store)
{
    try {
        store.undo();
    } catch (...) {
        // The connection is gone: the next run removes what the journal proves is ours.
    }
    rollBack(connection);
}

// One transaction for the batch, keeping other writers out from the re-reading of its numbers
// to its commit. The statements of a failed batch do not say which ticket failed: its halves
// are tried in order, down to the one ticket, written as the row-by-row path writes it. So the
// tickets before the failing one are stored, its failure is its own, and no transaction is
// held longer than the batch's.
BatchOutcome storeBatch(krvt5::Connection& connection, TicketStore& store,
                        std::span<const Ticket> batch, const CommitTurn& turn,
                        const CommitCheck& check)
{
    BatchOutcome outcome;
    if (batch.empty())
        return outcome;
    QString reason;
    try {
        store.begin();
        std::vector<Ticket> fresh;
        store.passOver(batch, fresh, outcome.taken);
        store.mark(fresh);
        if (fresh.size() == 1)
            store.insertOne(fresh.front());
        else
            store.insertBatch(fresh);
        if (!turn()) {
            undoAndRollBack(connection, store);
            return {{}, {}, false, {}, {}, true};
        }
        if (check) {
            try {
                check(connection);
            } catch (const std::exception& refused) {
                throw CommitRefused(support::failureText(refused));
            }
        }
        store.settle();
        connection.CommitTrans();
        outcome.committed = std::move(fresh);
        return outcome;
    } catch (const CommitRefused& refused) {
        undoAndRollBack(connection, store);
        return {{}, {}, true, batch.front(), refused.message()};
    } catch (const std::exception& failure) {
        reason = support::failureText(failure);
    }
    undoAndRollBack(connection, store);
    if (batch.size() == 1)
        return {{}, {}, true, batch.front(), reason};

    const std::size_t half = batch.size() / 2;
    BatchOutcome first = storeBatch(connection, store, batch.first(half), turn, check);
    if (first.failed || first.dropped)
        return first;
    BatchOutcome second = storeBatch(connection, store, batch.subspan(half), turn, check);
    if (second.dropped)
        return first;
    std::move(second.committed.begin(), second.committed.end(),
              std::back_inserter(first.committed));
    std::move(second.taken.begin(), second.taken.end(), std::back_inserter(first.taken));
    first.failed = second.failed;
    first.failing = second.failing;
    first.reason = second.reason;
    return first;
}

// What both pipelines keep for the walk's thread, under one mutex.
class Results {
public:
    std::vector<Ticket> take(std::vector<Ticket>& taken, std::optional<StoreFailure>& failure)
    {
        const std::lock_guard lock(mutex_);
        std::vector<Ticket> committed;
        committed.swap(committed_);
        taken.clear();
        taken.swap(taken_);
        if (failure_ && !failureTaken_) {
            failure = failure_;
            failureTaken_ = true;
        }
        return committed;
    }

    qint64 longestMs()
    {
        const std::lock_guard lock(mutex_);
        return longestMs_;
    }

    qint64 lastMs()
    {
        const std::lock_guard lock(mutex_);
        return lastMs_;
    }

protected:
    // With the mutex held, in the batches' order.
    void record(BatchOutcome& outcome, qint64 heldMs)
    {
        longestMs_ = std::max(longestMs_, heldMs);
        lastMs_ = heldMs;
        if (failure_ || outcome.dropped)
            return;
        std::move(outcome.committed.begin(), outcome.committed.end(),
                  std::back_inserter(committed_));
        std::move(outcome.taken.begin(), outcome.taken.end(), std::back_inserter(taken_));
        if (outcome.failed)
            failure_.emplace(outcome.failing, outcome.reason);
    }

    std::mutex mutex_;
    std::optional<StoreFailure> failure_;

private:
    std::vector<Ticket> committed_;
    std::vector<Ticket> taken_;
    bool failureTaken_ = false;
    qint64 longestMs_ = 0;
    qint64 lastMs_ = 0;
};

class InlinePipeline : public CommitPipeline, private Results {
public:
    InlinePipeline(krvt5::Connection& connection, const StoreLimits& limits, CommitCheck check)
        : connection_(connection), store_(connection, limits.statementRows, limits.serverLoader),
          check_(std::move(check))
    {}

    void submit(std::vector<Ticket> batch) override
    {
        QElapsedTimer held;
        held.start();
        BatchOutcome outcome = storeBatch(
            connection_, store_, batch, [] { return true; }, check_);
        const std::lock_guard lock(mutex_);
        record(outcome, held.elapsed());
    }
    void drain() override {}
    void setMaxTickets(int) override {}
    std::vector<Ticket> takeCommitted(std::vector<Ticket>& taken,
                                      std::optional<StoreFailure>& failure) override
    {
        return take(taken, failure);
    }
    qint64 longestTransactionMs() override { return longestMs(); }
    qint64 lastTransactionMs() override { return lastMs(); }

private:
    krvt5::Connection& connection_;
    TicketStore store_;
    CommitCheck check_;
};

// Each worker opens its connection itself: a QtSql connection serves only the thread that
// opened it.
class ThreadedPipeline : public CommitPipeline, private Results {
public:
    ThreadedPipeline(const ConnectionSource& source, const StoreLimits& limits, CommitCheck check,
                     int workers)
        : limits_(limits), source_(source), check_(std::move(check))
    {
        int launched = 0;
        for (; launched < workers; ++launched) {
            try {
                threads_.emplace_back([this] { start(); });
            } catch (const std::system_error&) {
                break; // fewer workers, or none: the caller writes on its own connection
            }
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return started_ == launched; });
    }

    ~ThreadedPipeline() override
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            waiting_.clear();
        }
        changed_.notify_all();
        threads_.clear(); // joins
    }

    bool ready()
    {
        const std::lock_guard lock(mutex_);
        return opened_ > 0;
    }

    void submit(std::vector<Ticket> batch) override
    {
        std::unique_lock lock(mutex_);
        // A few batches wait at most: the walk keeps close to the database.
        changed_.wait(lock, [this] {
            return submitted_ - finished_ < std::uint64_t(opened_ + kWaiting) ||
                   failure_.has_value();
        });
        waiting_.emplace_back(submitted_++, std::move(batch));
        changed_.notify_all();
    }

    void drain() override
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_ == submitted_; });
    }

    void setMaxTickets(int tickets) override
    {
        const std::lock_guard lock(mutex_);
        maxTickets_ = tickets;
    }

    std::vector<Ticket> takeCommitted(std::vector<Ticket>& taken,
                                      std::optional<StoreFailure>& failure) override
    {
        return take(taken, failure);
    }
    qint64 longestTransactionMs() override { return longestMs(); }
    qint64 lastTransactionMs() override { return lastMs(); }

private:
    void start()
    {
        krvt5::ConnectionRef connection;
        std::unique_ptr<TicketStore> store;
        try {
            connection = source_.open();
            store = std::make_unique<TicketStore>(*connection, limits_.statementRows,
                                                  limits_.serverLoader, limits_.journalFolder);
        } catch (...) {
            store.reset();
            close(connection);
        }
        {
            const std::lock_guard lock(mutex_);
            ++started_;
            if (connection)
                ++opened_;
        }
        changed_.notify_all();
        if (!connection)
            return;
        work(*connection, *store);
        // The statements and the connection belong to this thread.
        store.reset();
        close(connection);
    }

    void close(krvt5::ConnectionRef& connection) noexcept
    {
        if (!connection)
            return;
        try {
            source_.close(connection);
        } catch (...) {
            // Closing is best effort; the server drops a connection that goes away.
        }
        connection.reset();
    }

    void work(krvt5::Connection& connection, TicketStore& store)
    {
        for (;;) {
            std::uint64_t sequence = 0;
            std::uint64_t count = 0;
            std::vector<Ticket> batch;
            bool skip = false;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
                if (stop_)
                    return;
                // When the database falls behind, the batches that wait go in one
                // transaction, up to the largest batch.
                sequence = waiting_.front().first;
                batch = std::move(waiting_.front().second);
                waiting_.pop_front();
                for (count = 1;
                     !waiting_.empty() &&
                     batch.size() + waiting_.front().second.size() <= std::size_t(maxTickets_);
                     ++count) {
                    std::move(waiting_.front().second.begin(), waiting_.front().second.end(),
                              std::back_inserter(batch));
                    waiting_.pop_front();
                }
                skip = failure_.has_value();
            }
            BatchOutcome outcome;
            outcome.dropped = true;
            QElapsedTimer held;
            held.start();
            if (!skip) {
                try {
                    outcome = storeBatch(
                        connection, store, batch, [this, sequence] { return turnOf(sequence); },
                        check_);
                } catch (...) {
                    // Nothing may end the program from here: the batch fails as a whole.
                    undoAndRollBack(connection, store);
                    outcome = {{},
                               {},
                               true,
                               batch.front(),
                               QStringLiteral("error inesperado al guardar el lote")};
                }
            }
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_ || finished_ == sequence; });
            if (stop_)
                return;
            record(outcome, held.elapsed());
            finished_ += count;
            changed_.notify_all();
        }
    }

    // Waits until every batch before this one is done; false when one of them failed.
    bool turnOf(std::uint64_t sequence)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || finished_ == sequence; });
        return !stop_ && !failure_;
    }

    // The most batches that wait for a worker.
    static constexpr std::uint64_t kWaiting = 4;

    const StoreLimits limits_;
    int maxTickets_ = limits_.maxTickets;
    ConnectionSource source_;
    CommitCheck check_;
    std::condition_variable changed_;
    int started_ = 0;
    int opened_ = 0;
    std::deque<std::pair<std::uint64_t, std::vector<Ticket>>> waiting_;
    std::uint64_t submitted_ = 0;
    std::uint64_t finished_ = 0;
    bool stop_ = false;
    // Last: joined first, while everything the workers use is still there.
    std::vector<std::jthread> threads_;
};

} // namespace

std::unique_ptr<CommitPipeline>
CommitPipeline::inline_(krvt5::Connection& connection, const StoreLimits& limits, CommitCheck check)
{
    return std::make_unique<InlinePipeline>(connection, limits, std::move(check));
}

std::unique_ptr<CommitPipeline> CommitPipeline::threaded(const ConnectionSource& source,
                                                         const StoreLimits& limits,
                                                         CommitCheck check, int workers)
{
    auto pipeline = std::make_unique<ThreadedPipeline>(source, limits, std::move(check), workers);
    if (!pipeline->ready())
        return nullptr;
    return pipeline;
}

} // namespace generation

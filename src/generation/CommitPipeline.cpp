#include "generation/CommitPipeline.h"

#include "generation/TicketStore.h"
#include "krvt5/Engine.h"
#include "support/Failure.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

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

// What became of a batch: its tickets in `committed` are stored, those in `taken` were passed
// over because their numbers were taken meanwhile; a failure names its ticket. A dropped batch
// stored nothing, since a batch before it failed. `whole`: every ticket of the batch is stored,
// and the batch keeps them, for its owner to hand over without moving them one by one.
struct BatchOutcome {
    std::vector<Ticket> committed;
    std::vector<Ticket> taken;
    bool failed = false;
    Ticket failing;
    QString reason;
    bool dropped = false;
    bool whole = false;
};

// Asked before every commit: false when the batch must be dropped.
using CommitTurn = std::function<bool()>;

// Removes what the batch wrote where a rollback cannot, then rolls back. The reason when that
// removal failed: the rows stay for the next run, whose journal names them, and no part of
// the batch may be tried again.
std::optional<QString> undoAndRollBack(krvt5::Connection& connection, TicketStore& store)
{
    std::optional<QString> failure;
    try {
        store.undo();
    } catch (const std::exception& undone) {
        failure = support::failureText(undone);
    }
    rollBack(connection);
    return failure;
}

bool answers(krvt5::Connection& connection)
{
    return !connection.engine().isServer() ||
           QSqlQuery(connection.database()).exec(QStringLiteral("SELECT 1"));
}

// A batch's failure, with the removal's when that failed too.
QString withUndo(const QString& reason, const std::optional<QString>& undo)
{
    if (!undo)
        return reason;
    return reason + (reason.endsWith(u'.') ? QStringLiteral(" ") : QStringLiteral(". ")) + *undo;
}

// The tickets of a part stored whole, moved into its outcome: the part is not all of a vector
// that could be handed over as it is.
void keepStored(BatchOutcome& outcome, std::span<Ticket> part)
{
    if (!std::exchange(outcome.whole, false))
        return;
    outcome.committed.reserve(part.size());
    std::move(part.begin(), part.end(), std::back_inserter(outcome.committed));
}

// One transaction for the batch, keeping other writers out from the re-reading of its numbers
// to its commit. The statements of a failed batch do not say which ticket failed: its halves
// are tried in order, down to the one ticket, written as the row-by-row path writes it. So the
// tickets before the failing one are stored, its failure is its own, and no transaction is
// held longer than the batch's.
BatchOutcome storeBatch(krvt5::Connection& connection, TicketStore& store, std::span<Ticket> batch,
                        const CommitTurn& turn, const CommitCheck& check,
                        std::chrono::milliseconds patience)
{
    BatchOutcome outcome;
    if (batch.empty())
        return outcome;
    QString reason;
    std::vector<Ticket> copies; // of the fresh tickets, only when some are taken
    bool stored = false;
    try {
        store.begin({patience, turn});
        const std::span<const Ticket> fresh = store.passOver(batch, copies, outcome.taken);
        store.mark(fresh);
        if (fresh.size() == 1)
            store.insertOne(fresh.front());
        else
            store.insertBatch(fresh);
        if (!turn()) {
            // The run stops already: rows that could not be removed stay, named by the journal.
            undoAndRollBack(connection, store);
            return {{}, {}, false, {}, {}, true};
        }
        if (check) {
            try {
                check(connection);
            } catch (const std::exception& refused) {
                throw BatchRefused(support::failureText(refused));
            }
        }
        try {
            connection.CommitTrans();
        } catch (const std::exception& failure) {
            // Stored or not, the server knows: the journal stays for the next run to prove
            // what is the batch's, and this run goes no further. Removing rows now could
            // reach the POS's, with the tables no longer reserved.
            store.keepJournal();
            return {{}, {}, true, batch.front(), support::failureText(failure)};
        }
        // Only once the commit is in: until then, on tables of which only some roll back,
        // the journal is what proves the rows that stayed.
        store.settle();
        stored = true;
    } catch (const BatchRefused& refused) {
        const std::optional<QString> undo = undoAndRollBack(connection, store);
        return {{}, {}, true, batch.front(), withUndo(refused.message(), undo)};
    } catch (const krvt5::TablesBusy& busy) {
        // Nothing was written, and a part of the batch would wait as long again.
        if (!turn())
            return {{}, {}, false, {}, {}, true};
        return {{}, {}, true, batch.front(), busy.message()};
    } catch (const std::exception& failure) {
        reason = support::failureText(failure);
    }
    if (stored) {
        // Out of the transaction, where nothing may send the batch to be stored again: neither
        // way can fail.
        if (outcome.taken.empty())
            outcome.whole = true;
        else
            outcome.committed = std::move(copies);
        return outcome;
    }
    if (const std::optional<QString> undo = undoAndRollBack(connection, store))
        return {{}, {}, true, batch.front(), withUndo(reason, undo)};
    // A connection lost midway would fail every half for a reason of its own: the batch's is
    // the one to tell.
    if (batch.size() == 1 || !answers(connection))
        return {{}, {}, true, batch.front(), reason};

    const std::size_t half = batch.size() / 2;
    BatchOutcome first = storeBatch(connection, store, batch.first(half), turn, check, patience);
    keepStored(first, batch.first(half));
    if (first.failed || first.dropped)
        return first;
    BatchOutcome second = storeBatch(connection, store, batch.subspan(half), turn, check, patience);
    keepStored(second, batch.subspan(half));
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
        std::vector<std::vector<Ticket>> committed;
        std::vector<std::vector<Ticket>> passed;
        {
            const std::lock_guard lock(mutex_);
            committed.swap(committed_);
            passed.swap(taken_);
            if (failure_ && !failureTaken_) {
                failure = failure_;
                failureTaken_ = true;
            }
        }
        // Joined here, on the walk's thread, while the writer goes on with the next batch.
        taken = joined(passed);
        return joined(committed);
    }

    TransactionTimes times()
    {
        const std::lock_guard lock(mutex_);
        return times_;
    }

protected:
    // With the mutex held, in the batches' order.
    void record(BatchOutcome& outcome, qint64 heldMs)
    {
        times_.longestMs = std::max(times_.longestMs, heldMs);
        times_.totalMs += heldMs;
        ++times_.count;
        if (failure_ || outcome.dropped)
            return;
        if (!outcome.committed.empty())
            committed_.push_back(std::move(outcome.committed));
        if (!outcome.taken.empty())
            taken_.push_back(std::move(outcome.taken));
        if (outcome.failed)
            failure_.emplace(outcome.failing, outcome.reason);
    }

    std::mutex mutex_;
    std::optional<StoreFailure> failure_;

private:
    static std::vector<Ticket> joined(std::vector<std::vector<Ticket>>& batches)
    {
        if (batches.size() == 1)
            return std::move(batches.front());
        std::size_t size = 0;
        for (const std::vector<Ticket>& batch : batches)
            size += batch.size();
        std::vector<Ticket> all;
        all.reserve(size);
        for (std::vector<Ticket>& batch : batches)
            std::move(batch.begin(), batch.end(), std::back_inserter(all));
        return all;
    }

    // Batch by batch: the writer only hands its vectors over.
    std::vector<std::vector<Ticket>> committed_;
    std::vector<std::vector<Ticket>> taken_;
    bool failureTaken_ = false;
    TransactionTimes times_;
};

// How many tickets one transaction may hold so that it keeps the tables no longer than the
// budget, learned from the transactions so far, and the pause after a commit that lets a sale
// that waited for the tables in before the next batch takes them again.
class Pacer {
public:
    Pacer(const StoreLimits& limits, const krvt5::Engine& engine)
        : first_(std::max(1, limits.statementRows)),
          most_(std::max(1, std::min(limits.maxTickets, engine.mostBatchTickets()))),
          budgetMs_(limits.maxHoldMs > 0 ? limits.maxHoldMs : engine.batchHoldMs()), engine_(engine)
    {}

    std::size_t tickets() const
    {
        if (msPerTicket_ <= 0)
            return std::size_t(std::min(first_, most_));
        const double fits = double(budgetMs_) / msPerTicket_;
        return std::size_t(std::clamp(fits, double(kFewest), double(most_)));
    }

    void record(std::size_t tickets, qint64 heldMs)
    {
        if (tickets == 0)
            return;
        const double perTicket = double(std::max<qint64>(heldMs, 1)) / double(tickets);
        // Quick to follow a slower database, slow to trust a faster one.
        msPerTicket_ = msPerTicket_ <= 0 || perTicket > msPerTicket_
                           ? perTicket
                           : 0.7 * msPerTicket_ + 0.3 * perTicket;
    }

    void pause(qint64 heldMs) const
    {
        if (const int ms = engine_.pauseAfterBatchMs(int(heldMs)); ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

private:
    static constexpr int kFewest = 50;
    const int first_;
    const int most_;
    const int budgetMs_;
    const krvt5::Engine& engine_;
    double msPerTicket_ = 0;
};

class InlinePipeline : public CommitPipeline, private Results {
public:
    InlinePipeline(krvt5::Connection& connection, const StoreLimits& limits, CommitCheck check)
        : connection_(connection), store_(connection, limits.statementRows, limits.serverLoader,
                                          limits.facts, limits.journalFolder),
          check_(std::move(check)), pacer_(limits, connection.engine()), patience_(limits.busyMs)
    {}

    void submit(std::vector<Ticket> batch) override
    {
        std::span<Ticket> rest(batch);
        while (!rest.empty()) {
            const std::size_t size = std::min(rest.size(), pacer_.tickets());
            QElapsedTimer held;
            held.start();
            BatchOutcome outcome = storeBatch(
                connection_, store_, rest.first(size), [] { return true; }, check_, patience_);
            keepStored(outcome, rest.first(size));
            const qint64 heldMs = held.elapsed() - store_.takeWaitedMs();
            pacer_.record(size, heldMs);
            const bool stop = outcome.failed || outcome.dropped;
            {
                const std::lock_guard lock(mutex_);
                record(outcome, heldMs);
            }
            if (stop)
                return;
            rest = rest.subspan(size);
            pacer_.pause(heldMs);
        }
    }
    bool awaitProgress() override { return true; }
    std::vector<Ticket> takeCommitted(std::vector<Ticket>& taken,
                                      std::optional<StoreFailure>& failure) override
    {
        return take(taken, failure);
    }
    TransactionTimes transactionTimes() override { return times(); }

private:
    krvt5::Connection& connection_;
    TicketStore store_;
    CommitCheck check_;
    Pacer pacer_;
    std::chrono::milliseconds patience_;
};

// One writer: a batch holds the tables from its first write to its commit, so a second one
// would only wait for them. It opens its connection itself: a QtSql connection serves only the
// thread that opened it.
class ThreadedPipeline : public CommitPipeline, private Results {
public:
    ThreadedPipeline(const ConnectionSource& source, const StoreLimits& limits, CommitCheck check)
        : limits_(limits), source_(source), check_(std::move(check))
    {
        try {
            thread_ = std::jthread([this] { start(); });
        } catch (const std::system_error&) {
            return; // no writer: the caller writes on its own connection
        }
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return started_; });
    }

    ~ThreadedPipeline() override
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            waiting_.clear();
        }
        changed_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    bool ready()
    {
        const std::lock_guard lock(mutex_);
        return opened_;
    }

    void submit(std::vector<Ticket> batch) override
    {
        std::unique_lock lock(mutex_);
        // A few batches wait at most: the walk keeps close to the database.
        changed_.wait(lock, [this] {
            return submitted_ - finished_ < std::uint64_t(1 + kWaiting) || failure_.has_value();
        });
        waiting_.push_back(std::move(batch));
        ++submitted_;
        changed_.notify_all();
    }

    bool awaitProgress() override
    {
        std::unique_lock lock(mutex_);
        const std::uint64_t before = finished_;
        changed_.wait(lock, [&] { return finished_ != before || finished_ == submitted_; });
        return finished_ == submitted_;
    }

    std::vector<Ticket> takeCommitted(std::vector<Ticket>& taken,
                                      std::optional<StoreFailure>& failure) override
    {
        return take(taken, failure);
    }
    TransactionTimes transactionTimes() override { return times(); }
    std::size_t wantedTickets() const override { return wanted_; }

private:
    void start()
    {
        krvt5::ConnectionRef connection;
        std::unique_ptr<TicketStore> store;
        try {
            connection = source_.open();
            store = std::make_unique<TicketStore>(*connection, limits_.statementRows,
                                                  limits_.serverLoader, limits_.facts,
                                                  limits_.journalFolder);
        } catch (...) {
            store.reset();
            close(connection);
        }
        {
            const std::lock_guard lock(mutex_);
            started_ = true;
            opened_ = connection != nullptr;
        }
        changed_.notify_all();
        if (!connection)
            return;
        Pacer pacer(limits_, connection->engine());
        work(*connection, *store, pacer);
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

    void work(krvt5::Connection& connection, TicketStore& store, Pacer& pacer)
    {
        // Kept from one transaction to the next: tickets moved in find their room made.
        std::vector<Ticket> batch;
        for (;;) {
            std::uint64_t count = 0; // batches this transaction ends
            batch.clear();
            bool skip = false;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
                if (stop_)
                    return;
                // As many tickets as fit the time budget: batches that wait go together, a
                // batch too large for it goes in parts, in order.
                const std::size_t limit = pacer.tickets();
                while (!waiting_.empty() && batch.size() < limit) {
                    std::vector<Ticket>& front = waiting_.front();
                    if (batch.empty() && frontTaken_ == 0 && front.size() <= limit) {
                        batch.swap(front);
                        waiting_.pop_front();
                        ++count;
                        continue;
                    }
                    const std::size_t take =
                        std::min(limit - batch.size(), front.size() - frontTaken_);
                    // Growing by doubling would move every ticket again, into pages new to the
                    // process, while the tables wait.
                    if (batch.capacity() < limit)
                        batch.reserve(limit);
                    const auto from = front.begin() + std::ptrdiff_t(frontTaken_);
                    std::move(from, from + std::ptrdiff_t(take), std::back_inserter(batch));
                    frontTaken_ += take;
                    if (frontTaken_ < front.size())
                        break;
                    waiting_.pop_front();
                    frontTaken_ = 0;
                    ++count;
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
                        connection, store, batch, [this] { return !stopped(); }, check_,
                        std::chrono::milliseconds(limits_.busyMs));
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
            const qint64 heldMs = held.elapsed() - store.takeWaitedMs();
            pacer.record(batch.size(), heldMs);
            wanted_ = pacer.tickets();
            // The stored tickets go over in their vector, not one by one.
            if (std::exchange(outcome.whole, false))
                outcome.committed.swap(batch);
            {
                const std::lock_guard lock(mutex_);
                if (stop_)
                    return;
                record(outcome, heldMs);
                finished_ += count;
            }
            changed_.notify_all();
            if (!skip && !outcome.failed)
                pacer.pause(heldMs);
        }
    }

    bool stopped()
    {
        const std::lock_guard lock(mutex_);
        return stop_;
    }

    // The most batches that wait for the writer.
    static constexpr std::uint64_t kWaiting = 4;

    const StoreLimits limits_;
    ConnectionSource source_;
    CommitCheck check_;
    std::condition_variable changed_;
    bool started_ = false;
    bool opened_ = false;
    std::deque<std::vector<Ticket>> waiting_;
    std::size_t frontTaken_ = 0; // tickets of the first waiting batch already taken
    std::atomic<std::size_t> wanted_ = 0;
    std::uint64_t submitted_ = 0;
    std::uint64_t finished_ = 0;
    bool stop_ = false;
    // Last: joined first, while everything the writer uses is still there.
    std::jthread thread_;
};

} // namespace

std::unique_ptr<CommitPipeline>
CommitPipeline::inline_(krvt5::Connection& connection, const StoreLimits& limits, CommitCheck check)
{
    return std::make_unique<InlinePipeline>(connection, limits, std::move(check));
}

std::unique_ptr<CommitPipeline> CommitPipeline::threaded(const ConnectionSource& source,
                                                         const StoreLimits& limits,
                                                         CommitCheck check)
{
    auto pipeline = std::make_unique<ThreadedPipeline>(source, limits, std::move(check));
    if (!pipeline->ready())
        return nullptr;
    return pipeline;
}

} // namespace generation

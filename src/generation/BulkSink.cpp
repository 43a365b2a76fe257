#include "generation/BulkSink.h"

#include "generation/ExistingTickets.h"
#include "generation/TicketStore.h"
#include "krvt5/SqlError.h"
#include "support/Failure.h"
#include "support/modComun.h"

#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
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

// What became of a batch: its first `stored` tickets are committed; a failure names the ticket
// at `stored`. A dropped batch stored nothing, since a batch before it failed.
struct BatchOutcome {
    std::size_t stored = 0;
    bool failed = false;
    QString reason;
    bool dropped = false;
};

// Asked before every commit; false when the batch must not be stored.
using CommitGate = std::function<bool()>;

// One transaction for the batch. The statements of a failed batch do not say which ticket
// failed: its halves are tried in order, down to the one ticket, written as the row-by-row path
// writes it. So the tickets before the failing one are stored, its failure is its own, and no
// transaction is held longer than the batch's.
BatchOutcome storeBatch(krvt5::Connection& connection, TicketStore& store,
                        std::span<const Ticket> batch, const CommitGate& mayCommit)
{
    if (batch.empty())
        return {};
    QString reason;
    try {
        connection.BeginTrans();
        if (batch.size() == 1)
            store.insertOne(batch.front());
        else
            store.insertBatch(batch);
        if (!mayCommit()) {
            rollBack(connection);
            return {0, false, {}, true};
        }
        connection.CommitTrans();
        return {batch.size(), false, {}};
    } catch (const std::exception& failure) {
        reason = support::failureText(failure);
    }
    rollBack(connection);
    if (batch.size() == 1)
        return {0, true, reason};

    const std::size_t half = batch.size() / 2;
    const BatchOutcome first = storeBatch(connection, store, batch.first(half), mayCommit);
    if (first.failed || first.dropped)
        return first;
    BatchOutcome second = storeBatch(connection, store, batch.subspan(half), mayCommit);
    if (second.dropped)
        return first;
    second.stored += half;
    return second;
}

} // namespace

// Stores the batches handed over and keeps what was committed, in order, and the first
// failure, for the walk's thread to collect. Threaded, each worker has a connection of its own
// that it opens itself (a QtSql connection serves only the thread that opened it). With two
// workers, one inserts the next batch while the other's commit is on its way; a batch commits
// only after every batch before it has, and not at all after one of them failed. Without
// workers it stores on the given connection, at once.
class BatchWriter {
public:
    using Opener = std::function<krvt5::ConnectionRef()>;
    using Closer = std::function<void(krvt5::ConnectionRef&)>;

    BatchWriter(krvt5::Connection& connection, const BatchLimits& limits)
        : limits_(limits), connection_(&connection),
          store_(std::make_unique<TicketStore>(connection, limits.tickets, limits.serverLoader))
    {}

    BatchWriter(const Opener& open, Closer close, const BatchLimits& limits, int workers)
        : limits_(limits), close_(std::move(close))
    {
        for (int w = 0; w < workers; ++w)
            threads_.emplace_back([this, open] { start(open); });
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return started_ == workers; });
    }

    ~BatchWriter()
    {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
            waiting_.clear();
        }
        changed_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    BatchWriter(const BatchWriter&) = delete;
    BatchWriter& operator=(const BatchWriter&) = delete;

    bool ready() const { return connection_ || opened_ > 0; }

    void submit(std::vector<Ticket> batch)
    {
        if (connection_) {
            QElapsedTimer held;
            held.start();
            const BatchOutcome outcome =
                storeBatch(*connection_, *store_, batch, [] { return true; });
            const std::lock_guard lock(mutex_);
            longestMs_ = std::max(longestMs_, held.elapsed());
            record(batch, outcome);
            return;
        }
        std::unique_lock lock(mutex_);
        // A few batches wait at most: the walk keeps close to the database.
        changed_.wait(lock, [this] {
            return submitted_ - finished_ < std::uint64_t(opened_ + kWaiting) || failure_;
        });
        waiting_.emplace_back(submitted_++, std::move(batch));
        changed_.notify_all();
    }

    // Waits until every batch handed over is stored or, after a failure, dropped.
    void drain()
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return finished_ == submitted_; });
    }

    // The longest time a batch's transaction was open (its turn to commit included).
    qint64 longestTransactionMs()
    {
        const std::lock_guard lock(mutex_);
        return longestMs_;
    }

    // The tickets committed since the last call, in order, and the failure once there is one.
    std::vector<Ticket> takeCommitted(std::optional<std::pair<Ticket, QString>>& failure)
    {
        const std::lock_guard lock(mutex_);
        std::vector<Ticket> committed;
        committed.swap(committed_);
        if (failure_ && !failureTaken_) {
            failure = failure_;
            failureTaken_ = true;
        }
        return committed;
    }

private:
    void start(const Opener& open)
    {
        krvt5::ConnectionRef connection;
        std::unique_ptr<TicketStore> store;
        try {
            connection = open();
            store =
                std::make_unique<TicketStore>(*connection, limits_.tickets, limits_.serverLoader);
        } catch (...) {
            store.reset();
            if (connection)
                close_(connection);
            connection.reset();
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
        close_(connection);
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
                // transaction, up to the largest batch: fewer commits, each still far from
                // holding the POS a second.
                sequence = waiting_.front().first;
                batch = std::move(waiting_.front().second);
                waiting_.pop_front();
                for (count = 1;
                     !waiting_.empty() && batch.size() + waiting_.front().second.size() <=
                                              std::size_t(limits_.maxTickets);
                     ++count) {
                    std::move(waiting_.front().second.begin(), waiting_.front().second.end(),
                              std::back_inserter(batch));
                    waiting_.pop_front();
                }
                skip = failure_.has_value();
            }
            BatchOutcome outcome{0, false, {}, true};
            QElapsedTimer held;
            held.start();
            if (!skip)
                outcome = storeBatch(connection, store, batch,
                                     [this, sequence] { return turnOf(sequence); });
            std::unique_lock lock(mutex_);
            longestMs_ = std::max(longestMs_, held.elapsed());
            changed_.wait(lock, [&] { return stop_ || finished_ == sequence; });
            if (stop_)
                return;
            record(batch, outcome);
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

    // With the mutex held, in the batches' order.
    void record(std::vector<Ticket>& batch, const BatchOutcome& outcome)
    {
        if (failure_ || outcome.dropped)
            return;
        std::move(batch.begin(), batch.begin() + std::ptrdiff_t(outcome.stored),
                  std::back_inserter(committed_));
        if (outcome.failed)
            failure_.emplace(batch[outcome.stored], outcome.reason);
    }

    // The most batches that share one transaction.
    // The most batches that wait for a worker.
    static constexpr std::uint64_t kWaiting = 4;

    const BatchLimits limits_;

    krvt5::Connection* connection_ = nullptr;
    std::unique_ptr<TicketStore> store_;
    Closer close_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int started_ = 0;
    int opened_ = 0;
    std::deque<std::pair<std::uint64_t, std::vector<Ticket>>> waiting_;
    std::uint64_t submitted_ = 0;
    std::uint64_t finished_ = 0;
    std::vector<Ticket> committed_;
    std::optional<std::pair<Ticket, QString>> failure_;
    bool failureTaken_ = false;
    qint64 longestMs_ = 0;
    bool stop_ = false;
};

BulkSink::BulkSink(WindowState& state, BatchLimits limits) : state_(state), limits_(limits)
{
    limits_.tickets = std::max(1, limits_.tickets);
    limits_.maxTickets = std::max(limits_.tickets, limits_.maxTickets);
    batchTickets_ = limits_.tickets;
    queue_.reserve(std::size_t(batchTickets_));
}

BulkSink::~BulkSink() = default;

void BulkSink::start(std::int32_t first)
{
    if (!state_.cnBase)
        throw support::Failure(QStringLiteral("No hay conexión abierta con la base de datos."));
    krvt5::Connection& connection = *state_.cnBase;
    // No sale row can use a number past the sheet's last row.
    const std::int32_t lastRow = state_.oLibro ? state_.oLibro->Worksheets(1).lastRow() : 0;
    first_ = first;
    last_ = LastPossibleTicket(first, lastRow);
    taken_ = ExistingTickets(connection, first_, last_);

    // Connections like cnBase, each through a component object of its own.
    if (support::oBases) {
        const krvt5::BasesDD& shared = *support::oBases;
        auto open = [cRuta = shared.cRuta, cPuerto = shared.cPuerto, cUsuario = shared.cUsuario,
                     cPassword = shared.cPassword, database = shared.cMiBase,
                     where = connection.describe()] {
            krvt5::BasesDD bases;
            bases.cRuta = cRuta;
            bases.cPuerto = cPuerto;
            bases.cUsuario = cUsuario;
            bases.cPassword = cPassword;
            krvt5::ConnectionRef second;
            if (!bases.AbrirBdD(second, database))
                throw support::Failure(bases.UltimoError());
            if (second->describe() != where) {
                bases.CierraBdD(second);
                throw support::Failure(QStringLiteral("otra base de datos"));
            }
            return second;
        };
        auto close = [](krvt5::ConnectionRef& second) { krvt5::BasesDD().CierraBdD(second); };
        // MySQL serves two connections at once; SQLite lets one write at a time.
        const int workers = connection.driverName() == QLatin1String("QMYSQL") ? 2 : 1;
        writer_ = std::make_unique<BatchWriter>(open, close, limits_, workers);
    }
    // Without a second connection (a server that takes no more, say) the batches go on cnBase.
    if (!writer_ || !writer_->ready())
        writer_ = std::make_unique<BatchWriter>(connection, limits_);
}

bool BulkSink::exists(std::int32_t venta)
{
    if (!writer_)
        start(venta);
    collect();
    if (!queue_.empty() && queuedSince_.elapsed() >= limits_.maxDelayMs) {
        checkConnection();
        handOver();
    }
    if (venta >= first_ && venta <= last_)
        return taken_.contains(venta);
    return !ExistingTickets(*state_.cnBase, venta, venta).empty();
}

void BulkSink::write(const Ticket& ticket)
{
    if (!writer_)
        start(ticket.venta);
    const bool due = queue_.size() + 1 >= std::size_t(batchTickets_) ||
                     (queue_.empty() ? 0 : queuedSince_.elapsed()) >= limits_.maxDelayMs;
    // Before the ticket joins the queue: a failure here is this row's, and it stores nothing.
    if (due)
        checkConnection();
    if (queue_.empty())
        queuedSince_.start();
    queue_.push_back(ticket);
    if (due)
        handOver();
    collect();
}

void BulkSink::checkConnection()
{
    // The run's lock lives on cnBase (a MySQL named lock): without that connection no other
    // run is kept off, so nothing more is handed over.
    krvt5::Connection& connection = *state_.cnBase;
    if (connection.driverName() != QLatin1String("QMYSQL"))
        return;
    QSqlQuery ping(connection.database());
    if (!ping.exec(QStringLiteral("SELECT 1")))
        throw support::Failure(
            QStringLiteral("Se perdió la conexión con la base de datos (%1): %2")
                .arg(connection.describe(), krvt5::SqlErrorText(ping.lastError())));
}

void BulkSink::finish()
{
    handOver();
    if (writer_) {
        writer_->drain();
        longestTransactionMs_ = writer_->longestTransactionMs();
    }
    collect();
    writer_.reset();
    // The walk's one recordset reference is closed at its end, as on the row-by-row path.
    if (support::oBases) {
        krvt5::RecordsetRef none;
        support::oBases->CierraTabla(none);
    }
}

void BulkSink::abandon()
{
    // Every queued ticket is whole and comes from a row before the failure.
    handOver();
    if (writer_)
        writer_->drain();
    collect();
}

void BulkSink::handOver()
{
    if (queue_.empty() || !writer_)
        return;
    std::vector<Ticket> batch;
    // The first batches are small, so that the first commits come soon; later ones are larger,
    // so that fewer statements and commits are paid for.
    batchTickets_ = std::min(batchTickets_ * 2, limits_.maxTickets);
    batch.reserve(std::size_t(batchTickets_));
    batch.swap(queue_);
    writer_->submit(std::move(batch));
}

void BulkSink::collect()
{
    if (!writer_)
        return;
    std::optional<std::pair<Ticket, QString>> failure;
    const std::vector<Ticket> committed = writer_->takeCommitted(failure);
    if (onStored) {
        for (const Ticket& ticket : committed)
            onStored(ticket);
    }
    if (failure) {
        // What the walk queued after the failing ticket is never stored.
        queue_.clear();
        fail(failure->first, failure->second);
    }
}

void BulkSink::fail(const Ticket& ticket, const QString& reason)
{
    // Where the row-by-row walk would have stopped: at a sale row, whose marker is not empty.
    state_.nRenglon = ticket.row;
    state_.nVacios = 0;
    state_.nTicket = ticket.venta;
    throw support::Failure(QStringLiteral("No se pudo guardar el ticket %1 del renglón %2: %3")
                               .arg(ticket.venta)
                               .arg(ticket.row)
                               .arg(reason));
}

} // namespace generation

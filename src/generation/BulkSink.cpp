#include "generation/BulkSink.h"

#include "generation/BatchJournal.h"
#include "generation/ColumnLimits.h"
#include "generation/ExistingTickets.h"
#include "generation/TicketColumns.h"
#include "generation/TicketStore.h"
#include "krvt5/BasesDD.h"
#include "krvt5/SqlError.h"
#include "support/Failure.h"

#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>

namespace generation {

ConnectionSource ConnectionsLike(const krvt5::BasesDD& bases)
{
    ConnectionSource source;
    source.open = [cRuta = bases.cRuta, cPuerto = bases.cPuerto, cUsuario = bases.cUsuario,
                   cPassword = bases.cPassword, cCarpetaBase = bases.cCarpetaBase,
                   database = bases.cMiBase] {
        krvt5::BasesDD bases;
        bases.cRuta = cRuta;
        bases.cPuerto = cPuerto;
        bases.cUsuario = cUsuario;
        bases.cPassword = cPassword;
        bases.cCarpetaBase = cCarpetaBase;
        krvt5::ConnectionRef second;
        if (!bases.AbrirBdD(second, database))
            throw support::Failure(bases.UltimoError());
        return second;
    };
    source.close = [](krvt5::ConnectionRef& second) { krvt5::BasesDD().CierraBdD(second); };
    return source;
}

void CheckAnswers(krvt5::Connection& connection)
{
    if (!connection.engine().isServer())
        return;
    QSqlQuery ping(connection.database());
    if (!ping.exec(QStringLiteral("SELECT 1")))
        throw support::Failure(
            QStringLiteral("Se perdió la conexión con la base de datos (%1): %2")
                .arg(connection.describe(), krvt5::SqlErrorText(ping.lastError())));
}

BulkSink::BulkSink(WindowState& state, ConnectionSource source, BatchLimits limits,
                   LockCheck checkLock, CommitCheck beforeCommit)
    : state_(state), source_(std::move(source)), limits_(limits), checkLock_(std::move(checkLock)),
      beforeCommit_(std::move(beforeCommit))
{
    limits_.tickets = std::max(1, limits_.tickets);
    limits_.maxTickets = std::max(limits_.tickets, limits_.maxTickets);
    batchTickets_ = limits_.tickets;
    queue_.reserve(std::size_t(batchTickets_));
}

BulkSink::~BulkSink() = default;

krvt5::Connection& BulkSink::walk() const
{
    if (!state_.cnBase)
        throw support::Failure(QStringLiteral("No hay conexión abierta con la base de datos."));
    return *state_.cnBase;
}

void BulkSink::prepare(const CommitCheck& beforeCommit)
{
    if (prepared_)
        return;
    prepared_ = true;
    if (beforeCommit && beforeCommit_) {
        beforeCommit_ = [own = beforeCommit_, run = beforeCommit](krvt5::Connection& writer) {
            own(writer);
            run(writer);
        };
    } else if (beforeCommit) {
        beforeCommit_ = beforeCommit;
    }
    try {
        start(walk());
    } catch (...) {
        // begin() tries again, where a failure names the first sale's row.
        pipeline_.reset();
        notices_.clear();
    }
}

void BulkSink::begin(std::int32_t first, std::int32_t lastRow)
{
    krvt5::Connection& connection = walk();
    // Before the taken numbers are read: what a killed run left half-written is not taken.
    RecoverInterruptedBatch(connection, journalFolder_);
    taken_ = TakenNumbers(connection, first, LastPossibleTicket(first, lastRow));
    if (!pipeline_)
        start(connection);
}

void BulkSink::start(krvt5::Connection& connection)
{
    formatAhead_ = limits_.serverLoader && connection.engine().hasServerLoader();
    // The time budget bounds a transaction: batches that wait for the writer may go together.
    const StoreLimits store{limits_.tickets,   limits_.serverLoader, limits_.maxTickets * 4,
                            limits_.maxHoldMs, journalFolder_,       TableFacts::read(connection),
                            limits_.busyMs};
    scale_ = store.facts.amountScale;
    floatAmounts_ = store.facts.floatAmounts;
    if (!store.facts.nonTransactional.isEmpty())
        notices_.append(QStringLiteral("las tablas %1 no pueden deshacer cambios: cada lote las "
                                       "reserva mientras se escribe y un lote fallido se borra "
                                       "por sus claves")
                            .arg(store.facts.nonTransactional.join(QStringLiteral(", "))));
    if (source_.open) {
        // Only connections to the walk's own database write.
        ConnectionSource same = source_;
        same.open = [source = source_, where = connection.describe()] {
            krvt5::ConnectionRef second = source.open();
            if (second && second->describe() != where) {
                source.close(second);
                throw support::Failure(QStringLiteral("otra base de datos"));
            }
            return second;
        };
        pipeline_ = CommitPipeline::threaded(same, store, beforeCommit_);
    }
    // Without a second connection (a server that takes no more, say) the batches go on cnBase.
    if (!pipeline_)
        pipeline_ = CommitPipeline::inline_(connection, store, beforeCommit_);
}

bool BulkSink::isTaken(std::int32_t venta)
{
    return taken_.contains(venta);
}

void BulkSink::poll()
{
    collect();
    if (!queue_.empty() && queuedSince_.elapsed() >= limits_.maxDelayMs) {
        if (checkLock_)
            checkLock_(walk());
        handOver();
    }
}

void BulkSink::write(const Ticket& ticket)
{
    const bool due = queue_.size() + 1 >= handOverAt() ||
                     (queue_.empty() ? 0 : queuedSince_.elapsed()) >= limits_.maxDelayMs;
    // Before the ticket joins the queue: a failure here is this row's, and it stores nothing.
    if (due && checkLock_)
        checkLock_(walk());
    // The amount as the tables will hold it: what is counted and reported is what is written.
    const QString amount = scale_ || formatAhead_ || !floatAmounts_.isEmpty()
                               ? AmountText(ticket.importe, scale_)
                               : QString();
    // A column of floats would change it without a word from the server.
    if (const std::optional<QString> problem = FloatAmountProblem(amount, floatAmounts_))
        throw StoreFailure(ticket, *problem);
    if (queue_.empty())
        queuedSince_.start();
    queue_.push_back(ticket);
    Ticket& queued = queue_.back();
    queued.ordinal = ++ordinals_;
    if (scale_)
        queued.importe = amount.toDouble();
    if (formatAhead_) {
        if (!queuedText_) {
            // Room for usual rows, so that the text is not copied as it grows.
            queuedText_ = std::make_shared<LoadText>();
            queuedText_->headers.reserve(qsizetype(queue_.capacity()) * 48);
            queuedText_->lines.reserve(qsizetype(queue_.capacity()) * 96);
        }
        FormatLoadText(*queuedText_, queued, clock_.now(), amount);
        queued.loadText = queuedText_;
    }
    if (due)
        handOver();
    collect();
}

void BulkSink::finish()
{
    handOver();
    if (pipeline_) {
        // Told on batch by batch while the last ones are written.
        while (!pipeline_->awaitProgress())
            collect();
        transactionTimes_ = pipeline_->transactionTimes();
    }
    collect();
    pipeline_.reset();
}

void BulkSink::abandon()
{
    // Every queued ticket is whole and comes from a row before the failure.
    handOver();
    while (pipeline_ && !pipeline_->awaitProgress())
        continue;
    collect();
}

std::size_t BulkSink::handOverAt() const
{
    const std::size_t wanted = pipeline_ ? pipeline_->wantedTickets() : 0;
    return wanted > 0 ? std::min(std::size_t(batchTickets_), wanted) : std::size_t(batchTickets_);
}

void BulkSink::handOver()
{
    if (queue_.empty() || !pipeline_)
        return;
    std::vector<Ticket> batch;
    // The first batches are small, so that the first commits come soon; later ones are larger,
    // so that the walk hands over less often. The pipeline cuts them to its time budget.
    batchTickets_ = std::min(batchTickets_ * 2, limits_.maxTickets);
    batch.reserve(std::size_t(batchTickets_));
    batch.swap(queue_);
    // The writer reads the text once the batch is handed over; the walk writes a new one.
    queuedText_.reset();
    pipeline_->submit(std::move(batch));
}

void BulkSink::collect()
{
    if (!pipeline_)
        return;
    std::optional<StoreFailure> failure;
    std::vector<Ticket> taken;
    const std::vector<Ticket> committed = pipeline_->takeCommitted(taken, failure);
    if (onStored) {
        for (const Ticket& ticket : committed)
            onStored(ticket);
    }
    if (onTaken) {
        for (const Ticket& ticket : taken)
            onTaken(ticket);
    }
    if (failure) {
        // What the walk queued after the failing ticket is never stored.
        queue_.clear();
        queuedText_.reset();
        throw *failure;
    }
}

} // namespace generation

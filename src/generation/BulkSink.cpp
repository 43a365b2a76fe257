#include "generation/BulkSink.h"

#include "generation/ExistingTickets.h"
#include "krvt5/SqlError.h"
#include "support/Failure.h"
#include "support/modComun.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTime>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_map>

namespace generation {

namespace {

// MySQL takes at most 65,535 markers in one statement, and a line binds six values.
constexpr int kMaxRowsPerStatement = 7000;

// The shortest text that reads back as the same number, without exponent: a DECIMAL column
// receives exactly the digits the amount shows, as on the row-by-row path.
QString decimalText(double value)
{
    if (!std::isfinite(value))
        throw support::Failure(QStringLiteral("El importe no es un número finito."));
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

// The client's time of day as "HH:mm", read for every record. The local time costs a time
// zone check (a stat call) per reading, so it is worked out once a minute from the epoch clock.
class Clock {
public:
    const QString& now()
    {
        const qint64 epochMs = QDateTime::currentMSecsSinceEpoch();
        if (epochMs < from_ || epochMs >= until_) {
            const QTime time = QDateTime::fromMSecsSinceEpoch(epochMs).time();
            text_ = time.toString(QStringLiteral("HH:mm"));
            // Time zone offsets and their changes fall on whole minutes.
            from_ = epochMs - (time.second() * 1000 + time.msec());
            until_ = from_ + 60000;
        }
        return text_;
    }

private:
    qint64 from_ = 0;
    qint64 until_ = 0;
    QString text_;
};

// A failure that belongs to one ticket of a batch, by its place there.
struct TicketFailure {
    std::size_t index;
    QString reason;
};

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

} // namespace

// The statements that store tickets, prepared once per table and row count.
class TicketStore {
public:
    TicketStore(krvt5::Connection& connection, int batchRows);
    virtual ~TicketStore() = default;
    TicketStore(const TicketStore&) = delete;
    TicketStore& operator=(const TicketStore&) = delete;

    // Stores the batch inside the open transaction. A failure known to belong to one ticket is
    // a TicketFailure.
    virtual void insertBatch(std::span<const Ticket> batch) = 0;
    // Stores one ticket, header and then line with its header's key, inside the open
    // transaction.
    void insertOne(const Ticket& ticket);

protected:
    enum class Table { Header, Line };
    static constexpr int kHeaderFields = 5;
    static constexpr int kLineFields = 6; // bound values of a line

    QSqlQuery& insert(Table table, int rows);
    void bindHeader(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount);
    void bindLine(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount,
                  const QVariant& idTicket);
    void run(QSqlQuery& query, Table table);
    QVariant keyOf(QSqlQuery& query, const Ticket& ticket) const;
    QString quoted(const QString& name, QSqlDriver::IdentifierType type) const;
    QString tableName(Table table) const;
    // Each statement row count a batch of this size is split into: full statements, then the
    // powers of two of the rest, so that few statements are ever prepared.
    std::vector<std::pair<std::size_t, int>> chunks(std::size_t size) const;

    krvt5::Connection& connection_;
    QSqlDatabase& db_;
    int batchRows_;
    QString tickets_;
    QString ticketsdetalle_;
    QStringList headerColumns_;
    QStringList lineColumns_;
    Clock clock_;

private:
    QStringList columnsOf(const QString& table, const QStringList& fields);

    std::map<int, std::unique_ptr<QSqlQuery>> headerInserts_;
    std::map<int, std::unique_ptr<QSqlQuery>> lineInserts_;
};

TicketStore::TicketStore(krvt5::Connection& connection, int batchRows)
    : connection_(connection), db_(connection.database()),
      batchRows_(std::clamp(batchRows, 1, kMaxRowsPerStatement)),
      tickets_(QStringLiteral("tickets")), ticketsdetalle_(QStringLiteral("ticketsdetalle"))
{
    headerColumns_ = columnsOf(tickets_, {QStringLiteral("Venta"), QStringLiteral("Fecha"),
                                          QStringLiteral("Hora"), QStringLiteral("Efectivo"),
                                          QStringLiteral("Total")});
    lineColumns_ = columnsOf(
        ticketsdetalle_,
        {QStringLiteral("Venta"), QStringLiteral("Partida"), QStringLiteral("Fecha"),
         QStringLiteral("Hora"), QStringLiteral("Producto"), QStringLiteral("Descrip"),
         QStringLiteral("Cantidad"), QStringLiteral("Precio"), QStringLiteral("IdTicket")});
    // The key is read back on both engines; a table without it cannot link its lines.
    columnsOf(tickets_, {QStringLiteral("Id")});
}

QString TicketStore::quoted(const QString& name, QSqlDriver::IdentifierType type) const
{
    return db_.driver()->escapeIdentifier(name, type);
}

QString TicketStore::tableName(Table table) const
{
    return table == Table::Header ? tickets_ : ticketsdetalle_;
}

// The table's columns for the fields, spelled as the database spells them (matched ignoring
// case, as the engines do). The program never creates tables: a missing one is a failure.
QStringList TicketStore::columnsOf(const QString& table, const QStringList& fields)
{
    QSqlQuery probe(db_);
    if (!probe.exec(QStringLiteral("SELECT * FROM %1 WHERE 1=0")
                        .arg(quoted(table, QSqlDriver::TableName)))) {
        const QString reason = krvt5::SqlErrorText(probe.lastError());
        if (!db_.tables().contains(table))
            throw support::Failure(QStringLiteral("No existe la tabla \"%1\" en la base de datos "
                                                  "(%2).")
                                       .arg(table, connection_.describe()));
        throw support::Failure(QStringLiteral("No se pudo leer la tabla \"%1\" de la base de "
                                              "datos (%2): %3")
                                   .arg(table, connection_.describe(), reason));
    }
    const QSqlRecord record = probe.record();
    QStringList columns;
    for (const QString& field : fields) {
        QString found;
        for (int i = 0; i < record.count() && found.isEmpty(); ++i) {
            if (record.fieldName(i).compare(field, Qt::CaseInsensitive) == 0)
                found = record.fieldName(i);
        }
        if (found.isEmpty())
            throw support::Failure(QStringLiteral("No existe la columna \"%1\" en la tabla \"%2\" "
                                                  "de la base de datos (%3).")
                                       .arg(field, table, connection_.describe()));
        columns.append(found);
    }
    return columns;
}

QSqlQuery& TicketStore::insert(Table table, int rows)
{
    auto& cache = table == Table::Header ? headerInserts_ : lineInserts_;
    const auto cached = cache.find(rows);
    if (cached != cache.end())
        return *cached->second;

    const QStringList& columns = table == Table::Header ? headerColumns_ : lineColumns_;
    QStringList names;
    for (const QString& column : columns)
        names.append(quoted(column, QSqlDriver::FieldName));
    // Partida, Producto and Cantidad are the same on every line: written as constants, they
    // cost no bound value.
    const QString row = table == Table::Header ? QStringLiteral("(?, ?, ?, ?, ?)")
                                               : QStringLiteral("(?, 1, ?, ?, 'V', ?, 1, ?, ?)");
    QString statement =
        QStringLiteral("INSERT INTO %1 (%2) VALUES ")
            .arg(quoted(tableName(table), QSqlDriver::TableName), names.join(QStringLiteral(", ")));
    statement.reserve(statement.size() + rows * (row.size() + 2));
    for (int i = 0; i < rows; ++i) {
        if (i > 0)
            statement += QStringLiteral(", ");
        statement += row;
    }
    auto query = std::make_unique<QSqlQuery>(db_);
    query->setForwardOnly(true);
    if (!query->prepare(statement))
        throw support::Failure(QStringLiteral("No se pudo preparar la escritura en la tabla "
                                              "\"%1\" de la base de datos (%2): %3")
                                   .arg(tableName(table), connection_.describe(),
                                        krvt5::SqlErrorText(query->lastError())));
    return *cache.emplace(rows, std::move(query)).first->second;
}

void TicketStore::bindHeader(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount)
{
    const int at = row * kHeaderFields;
    query.bindValue(at, ticket.venta);
    query.bindValue(at + 1, ticket.fechaEncabezado);
    query.bindValue(at + 2, clock_.now());
    query.bindValue(at + 3, amount);
    query.bindValue(at + 4, amount);
}

void TicketStore::bindLine(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount,
                           const QVariant& idTicket)
{
    const int at = row * kLineFields;
    query.bindValue(at, ticket.venta);
    query.bindValue(at + 1, ticket.fechaDetalle);
    query.bindValue(at + 2, clock_.now());
    // QtSql binds a null text as NULL; an empty description is a value.
    query.bindValue(at + 3, ticket.descrip.isNull() ? QStringLiteral("") : ticket.descrip);
    query.bindValue(at + 4, amount);
    query.bindValue(at + 5, idTicket);
}

void TicketStore::run(QSqlQuery& query, Table table)
{
    if (!query.exec())
        throw support::Failure(QStringLiteral("No se pudo guardar el registro en la tabla \"%1\" "
                                              "de la base de datos (%2): %3")
                                   .arg(tableName(table), connection_.describe(),
                                        krvt5::SqlErrorText(query.lastError())));
}

QVariant TicketStore::keyOf(QSqlQuery& query, const Ticket& ticket) const
{
    const QVariant id = query.lastInsertId();
    bool ok = false;
    const qlonglong value = id.toLongLong(&ok);
    if (!ok || value <= 0)
        throw support::Failure(QStringLiteral("La base de datos (%1) no dio la clave del "
                                              "encabezado del ticket %2 en la tabla \"%3\".")
                                   .arg(connection_.describe())
                                   .arg(ticket.venta)
                                   .arg(tickets_));
    return value;
}

void TicketStore::insertOne(const Ticket& ticket)
{
    const QString amount = decimalText(ticket.importe);
    QSqlQuery& header = insert(Table::Header, 1);
    bindHeader(header, 0, ticket, amount);
    run(header, Table::Header);
    const QVariant idTicket = keyOf(header, ticket);
    QSqlQuery& line = insert(Table::Line, 1);
    bindLine(line, 0, ticket, amount, idTicket);
    run(line, Table::Line);
}

std::vector<std::pair<std::size_t, int>> TicketStore::chunks(std::size_t size) const
{
    std::vector<std::pair<std::size_t, int>> result;
    std::size_t at = 0;
    for (; size - at >= std::size_t(batchRows_); at += std::size_t(batchRows_))
        result.emplace_back(at, batchRows_);
    for (int rows = 1 << 12; rows > 0; rows >>= 1) {
        while (size - at >= std::size_t(rows)) {
            result.emplace_back(at, rows);
            at += std::size_t(rows);
        }
    }
    return result;
}

namespace {

// SQLite: prepared single-row inserts; the key comes from each insert.
class SingleRowStore : public TicketStore {
public:
    using TicketStore::TicketStore;

    void insertBatch(std::span<const Ticket> batch) override
    {
        for (std::size_t i = 0; i < batch.size(); ++i) {
            try {
                insertOne(batch[i]);
            } catch (const std::exception& failure) {
                throw TicketFailure{i, support::failureText(failure)};
            }
        }
    }
};

// MySQL: every prepared execute costs two round trips, so the headers go in multi-row INSERTs,
// their keys are read back through Venta in the same transaction, and the lines follow in
// multi-row INSERTs. Statements are never joined by ";": an error in the second would be lost.
class MultiRowStore : public TicketStore {
public:
    MultiRowStore(krvt5::Connection& connection, int batchRows)
        : TicketStore(connection, batchRows), readBack_(db_)
    {
        readBack_.setForwardOnly(true);
        const QString id = quoted(QStringLiteral("Id"), QSqlDriver::FieldName);
        const QString venta = quoted(headerColumns_[0], QSqlDriver::FieldName);
        if (!readBack_.prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 BETWEEN ? AND ? "
                                              "AND %1 >= ?")
                                   .arg(id, venta, quoted(tickets_, QSqlDriver::TableName))))
            throw support::Failure(QStringLiteral("No se pudo preparar la lectura de las claves "
                                                  "de la tabla \"%1\" (%2): %3")
                                       .arg(tickets_, connection_.describe(),
                                            krvt5::SqlErrorText(readBack_.lastError())));
    }

    void insertBatch(std::span<const Ticket> batch) override
    {
        if (batch.empty())
            return;
        std::vector<QString> amounts;
        amounts.reserve(batch.size());
        std::unordered_map<std::int32_t, std::size_t> place;
        place.reserve(batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i) {
            amounts.push_back(decimalText(batch[i].importe));
            place.emplace(batch[i].venta, i);
        }
        const auto parts = chunks(batch.size());

        QVariant firstId;
        for (const auto& [at, rows] : parts) {
            QSqlQuery& query = insert(Table::Header, rows);
            for (int r = 0; r < rows; ++r)
                bindHeader(query, r, batch[at + std::size_t(r)], amounts[at + std::size_t(r)]);
            run(query, Table::Header);
            // The key of a multi-row INSERT's first row; the others are not below it.
            if (!firstId.isValid())
                firstId = keyOf(query, batch[at]);
        }

        const auto [low, high] =
            std::minmax_element(batch.begin(), batch.end(),
                                [](const Ticket& a, const Ticket& b) { return a.venta < b.venta; });
        std::vector<QVariant> ids(batch.size());
        readBack_.bindValue(0, low->venta);
        readBack_.bindValue(1, high->venta);
        readBack_.bindValue(2, firstId);
        if (!readBack_.exec())
            throw support::Failure(QStringLiteral("No se pudieron leer las claves de los "
                                                  "tickets recién guardados en la tabla \"%1\" "
                                                  "(%2): %3")
                                       .arg(tickets_, connection_.describe(),
                                            krvt5::SqlErrorText(readBack_.lastError())));
        std::size_t found = 0;
        while (readBack_.next()) {
            const auto it = place.find(readBack_.value(1).toInt());
            if (it == place.end())
                continue;
            if (ids[it->second].isValid()) {
                readBack_.finish();
                throw support::Failure(QStringLiteral("El ticket %1 aparece más de una vez en la "
                                                      "tabla \"%2\" (%3).")
                                           .arg(batch[it->second].venta)
                                           .arg(tickets_, connection_.describe()));
            }
            ids[it->second] = readBack_.value(0);
            ++found;
        }
        readBack_.finish();
        if (found != batch.size())
            throw support::Failure(QStringLiteral("No se encontraron en la tabla \"%1\" las "
                                                  "claves de todos los tickets recién guardados "
                                                  "(%2).")
                                       .arg(tickets_, connection_.describe()));

        for (const auto& [at, rows] : parts) {
            QSqlQuery& query = insert(Table::Line, rows);
            for (int r = 0; r < rows; ++r) {
                const std::size_t i = at + std::size_t(r);
                bindLine(query, r, batch[i], amounts[i], ids[i]);
            }
            run(query, Table::Line);
        }
    }

private:
    QSqlQuery readBack_;
};

} // namespace

namespace {

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

// One transaction for the batch. When it fails, the tickets before the failing one are stored
// in a transaction of their own.
BatchOutcome storeBatch(krvt5::Connection& connection, TicketStore& store,
                        std::span<const Ticket> batch, const CommitGate& mayCommit)
{
    if (batch.empty())
        return {};
    const BatchOutcome dropped{0, false, {}, true};
    std::optional<std::size_t> failing;
    QString reason;
    try {
        connection.BeginTrans();
        store.insertBatch(batch);
        if (!mayCommit()) {
            rollBack(connection);
            return dropped;
        }
        connection.CommitTrans();
        return {batch.size(), false, {}};
    } catch (const TicketFailure& failure) {
        failing = failure.index;
        reason = failure.reason;
    } catch (const std::exception& failure) {
        reason = support::failureText(failure);
    }
    rollBack(connection);

    if (!failing) {
        // The batch statement does not say which ticket failed: find it one by one.
        std::size_t i = 0;
        try {
            connection.BeginTrans();
            for (; i < batch.size(); ++i)
                store.insertOne(batch[i]);
            if (!mayCommit()) {
                rollBack(connection);
                return dropped;
            }
            connection.CommitTrans();
            return {batch.size(), false, {}};
        } catch (const std::exception& failure) {
            reason = support::failureText(failure);
        }
        rollBack(connection);
        // A failure outside any ticket (the commit, the connection) keeps none of the batch.
        failing = i < batch.size() ? i : 0;
    }
    const BatchOutcome before = storeBatch(connection, store, batch.first(*failing), mayCommit);
    if (before.failed || before.dropped)
        return before;
    return {*failing, true, reason};
}

std::unique_ptr<TicketStore> makeStore(krvt5::Connection& connection, int batchRows)
{
    if (connection.driverName() == QLatin1String("QMYSQL"))
        return std::make_unique<MultiRowStore>(connection, batchRows);
    return std::make_unique<SingleRowStore>(connection, batchRows);
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

    BatchWriter(krvt5::Connection& connection, int batchRows)
        : connection_(&connection), store_(makeStore(connection, batchRows))
    {}

    BatchWriter(const Opener& open, Closer close, int batchRows, int workers)
        : close_(std::move(close))
    {
        for (int w = 0; w < workers; ++w)
            threads_.emplace_back([this, open, batchRows] { start(open, batchRows); });
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
            const BatchOutcome outcome =
                storeBatch(*connection_, *store_, batch, [] { return true; });
            const std::lock_guard lock(mutex_);
            record(batch, outcome);
            return;
        }
        std::unique_lock lock(mutex_);
        // A few batches wait at most: the walk keeps close to the database.
        changed_.wait(lock, [this] {
            return submitted_ - finished_ < std::uint64_t(opened_ + kGroup) || failure_;
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
    void start(const Opener& open, int batchRows)
    {
        krvt5::ConnectionRef connection;
        std::unique_ptr<TicketStore> store;
        try {
            connection = open();
            store = makeStore(*connection, batchRows);
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
                // transaction: fewer commits, each still far from holding the POS a second.
                sequence = waiting_.front().first;
                batch = std::move(waiting_.front().second);
                waiting_.pop_front();
                for (count = 1; count < kGroup && !waiting_.empty(); ++count) {
                    std::move(waiting_.front().second.begin(), waiting_.front().second.end(),
                              std::back_inserter(batch));
                    waiting_.pop_front();
                }
                skip = failure_.has_value();
            }
            BatchOutcome outcome{0, false, {}, true};
            if (!skip)
                outcome = storeBatch(connection, store, batch,
                                     [this, sequence] { return turnOf(sequence); });
            std::unique_lock lock(mutex_);
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
    static constexpr std::uint64_t kGroup = 4;

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
    bool stop_ = false;
};

BulkSink::BulkSink(WindowState& state, BatchLimits limits) : state_(state), limits_(limits)
{
    limits_.tickets = std::max(1, limits_.tickets);
    queue_.reserve(std::size_t(limits_.tickets));
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
        writer_ = std::make_unique<BatchWriter>(open, close, limits_.tickets, workers);
    }
    // Without a second connection (a server that takes no more, say) the batches go on cnBase.
    if (!writer_ || !writer_->ready())
        writer_ = std::make_unique<BatchWriter>(connection, limits_.tickets);
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
    const bool due = queue_.size() + 1 >= std::size_t(limits_.tickets) ||
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
    if (writer_)
        writer_->drain();
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
    batch.reserve(std::size_t(limits_.tickets));
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

#include "krvt5/Engine.h"

#include <QSqlError>
#include <algorithm>

namespace krvt5 {

namespace {

class MySqlEngine : public Engine {
public:
    QString driver() const override { return QStringLiteral("QMYSQL"); }
    bool isServer() const override { return true; }
    // A sale that waits behind it stays well under a tenth of a second, with room for a batch
    // that runs slower than the ones before it.
    int batchHoldMs() const override { return 50; }
    // A waiting sale gets the tables at UNLOCK: it waits as long as the batch, no longer.
    int mostBatchTickets() const override { return 8000; }
    // The server queues lock requests and grants them at UNLOCK, before the next batch asks.
    int pauseAfterBatchMs(int) const override { return 0; }
    // At most 65,535 markers in one statement, and text statements near 100 KB.
    int maxStatementRows() const override { return 1000; }
    // A prepared execute costs a reset and the execute: two round trips.
    bool prefersLiteralInserts() const override { return true; }
    bool hasServerLoader() const override { return true; }
    QString loadStatement(const QString& quotedFile, const QString& quotedTable,
                          const QStringList& quotedColumns,
                          const QStringList& assignments) const override
    {
        QString statement =
            QStringLiteral("LOAD DATA LOCAL INFILE %1 INTO TABLE %2 CHARACTER SET utf8mb4 "
                           "FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' LINES TERMINATED BY "
                           "'\\n' (%3)")
                .arg(quotedFile, quotedTable, quotedColumns.join(QStringLiteral(", ")));
        if (!assignments.isEmpty())
            statement += QStringLiteral(" SET ") + assignments.join(QStringLiteral(", "));
        return statement;
    }
    bool isMissingTable(const QSqlError& error) const override
    {
        return error.nativeErrorCode() == QLatin1String("1146"); // ER_NO_SUCH_TABLE
    }
    // Strict whatever the server's default: a value a column cannot hold is an error, never
    // cut or replaced with a warning; quoting as the program writes it (no ANSI_QUOTES, no
    // NO_BACKSLASH_ESCAPES). The zero date stays allowed: it is what a non-strict server gives
    // a date column of the POS's own that has no default.
    // Autocommit whatever the server's default: without it, a read would leave a transaction
    // open that keeps the tables from every LOCK TABLES, the run's own included.
    QStringList sessionSetup() const override
    {
        return {QStringLiteral("SET SESSION sql_mode = 'STRICT_ALL_TABLES,NO_ZERO_IN_DATE,"
                               "ERROR_FOR_DIVISION_BY_ZERO,NO_ENGINE_SUBSTITUTION', "
                               "autocommit = 1")};
    }
    // A table lock makes a POS that reads with a lock before it inserts wait, where the gap
    // locks of a locking read would deadlock with it. LOCK TABLES ends an open transaction, and
    // START TRANSACTION would release the locks: autocommit off is the transaction.
    // A LOCK TABLES that waits stands in the queue ahead of every later request for the
    // tables, readers included: behind a sale left open, the whole POS would wait for it. NOWAIT
    // (MariaDB) never queues; a server without it waits a second at most.
    QStringList beginExclusive(const QStringList& quotedTables, bool queue) const override
    {
        const QString lock = QStringLiteral("LOCK TABLES ") +
                             quotedTables.join(QStringLiteral(" WRITE, ")) +
                             QStringLiteral(" WRITE");
        if (queue)
            return {QStringLiteral("SET SESSION lock_wait_timeout = 1"),
                    QStringLiteral("SET autocommit = 0"), lock};
        return {QStringLiteral("SET autocommit = 0"), lock + QStringLiteral(" NOWAIT")};
    }
    // ER_LOCK_WAIT_TIMEOUT, which is also NOWAIT's answer.
    bool isBusy(const QSqlError& error) const override
    {
        return error.nativeErrorCode() == QLatin1String("1205");
    }
    // ER_DBACCESS_DENIED_ERROR, ER_TABLEACCESS_DENIED_ERROR, ER_SPECIFIC_ACCESS_DENIED_ERROR.
    bool isDenied(const QSqlError& error) const override
    {
        const QString code = error.nativeErrorCode();
        return code == QLatin1String("1044") || code == QLatin1String("1142") ||
               code == QLatin1String("1227");
    }
    // ER_PARSE_ERROR.
    bool refusesStatement(const QSqlError& error) const override
    {
        return error.nativeErrorCode() == QLatin1String("1064");
    }
    QStringList endExclusive(bool commit) const override
    {
        return {commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"),
                QStringLiteral("UNLOCK TABLES"), QStringLiteral("SET autocommit = 1")};
    }
    // Without the PROCESS permission a user sees only its own sessions: then none.
    QString openTransactions() const override
    {
        return QStringLiteral("SELECT p.USER, p.HOST, p.ID, TIMESTAMPDIFF(SECOND, t.trx_started, "
                              "NOW()) FROM information_schema.INNODB_TRX t JOIN "
                              "information_schema.PROCESSLIST p ON p.ID = t.trx_mysql_thread_id "
                              "WHERE p.ID <> CONNECTION_ID() ORDER BY t.trx_started LIMIT 3");
    }
    QString tableKinds() const override
    {
        // On a server that tells "TICKETS" from "tickets", information_schema matches either.
        return QStringLiteral("SELECT t.TABLE_NAME, t.TABLE_TYPE, t.ENGINE, e.TRANSACTIONS "
                              "FROM information_schema.TABLES t LEFT JOIN "
                              "information_schema.ENGINES e ON e.ENGINE = t.ENGINE "
                              "WHERE t.TABLE_SCHEMA = DATABASE() AND t.TABLE_NAME IN (%1) AND "
                              "(@@lower_case_table_names <> 0 OR BINARY t.TABLE_NAME IN (%1))");
    }
};

class SqliteEngine : public Engine {
public:
    QString driver() const override { return QStringLiteral("QSQLITE"); }
    bool isServer() const override { return false; }
    // A client waiting for the file polls it at growing intervals (25 ms apart until it has
    // waited about 130 ms): a batch of 80 ms and a gap of 26 let it in within about 110 ms.
    int batchHoldMs() const override { return 80; }
    // A waiting client tries again at its own pace: its wait is that pace's more than the
    // batch's, and the pauses below cost the run more than larger batches.
    int mostBatchTickets() const override { return 32000; }
    // A client that began to wait when the batch took the file has waited `heldMs`; the gap
    // lasts longer than the sleep it is in by then, so that its next try falls inside. Its
    // sleeps are those of SQLite's own busy handler, which QtSql and most programs use.
    int pauseAfterBatchMs(int heldMs) const override
    {
        static constexpr int kSleeps[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50};
        int waited = 0;
        for (const int sleep : kSleeps) {
            waited += sleep;
            if (waited > heldMs)
                return std::max(sleep, 5) + 1;
        }
        return 100 + 1; // every sleep after those
    }
    // Small multi-row statements compile and run fastest.
    int maxStatementRows() const override { return 64; }
    bool prefersLiteralInserts() const override { return false; }
    bool hasServerLoader() const override { return false; }
    QString loadStatement(const QString&, const QString&, const QStringList&,
                          const QStringList&) const override
    {
        return {};
    }
    bool isMissingTable(const QSqlError& error) const override
    {
        return error.databaseText().contains(QLatin1String("no such table"), Qt::CaseInsensitive);
    }
    QStringList sessionSetup() const override { return {}; }
    // The file to itself from the start, readers kept out too: what the batch reads stays true
    // until its commit, and a client that reads first and writes later (a deferred
    // transaction, as QtSql's transaction() begins) waits for the batch before its read
    // instead of failing at its write, which SQLite refuses without waiting while another
    // client holds the write lock.
    // Asked without waiting: a try that waited would hold the write lock meanwhile, failing
    // such a client that is between its read and its write. A failed try lets go at once.
    QStringList beginExclusive(const QStringList&, bool) const override
    {
        return {QStringLiteral("PRAGMA busy_timeout = 0"), QStringLiteral("BEGIN EXCLUSIVE")};
    }
    // SQLITE_BUSY.
    bool isBusy(const QSqlError& error) const override
    {
        return error.nativeErrorCode() == QLatin1String("5");
    }
    bool isDenied(const QSqlError&) const override { return false; }
    bool refusesStatement(const QSqlError&) const override { return false; }
    QStringList endExclusive(bool commit) const override
    {
        return {commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"),
                QStringLiteral("PRAGMA busy_timeout = %1").arg(sqliteBusyMs)};
    }
    QString tableKinds() const override { return {}; }
    QString openTransactions() const override { return {}; }
};

} // namespace

QString Engine::columnProbe(const QString& quotedTable) const
{
    return QStringLiteral("SELECT * FROM %1 WHERE 1=0").arg(quotedTable);
}

const Engine& Engine::mysql()
{
    static const MySqlEngine engine;
    return engine;
}

const Engine& Engine::sqlite()
{
    static const SqliteEngine engine;
    return engine;
}

} // namespace krvt5

#pragma once

#include <QString>
#include <QStringList>

class QSqlError;

namespace krvt5 {

// What differs between the database engines, in one place: code that writes asks the
// connection's engine instead of comparing driver names.
class Engine {
public:
    virtual ~Engine() = default;

    // The QtSql driver, "QMYSQL" or "QSQLITE".
    virtual QString driver() const = 0;
    // A server shared by other clients: a run keeps others off with a lock on the server and
    // checks that its connection still answers; a file engine locks a file beside the database.
    virtual bool isServer() const = 0;
    // About how long one batch may keep the tables from other clients, who wait meanwhile.
    virtual int batchHoldMs() const = 0;
    // The most tickets one batch may hold whatever its pace promises: what a misjudged pace may
    // cost the clients that wait.
    virtual int mostBatchTickets() const = 0;
    // How long a writer leaves the tables free after a batch that held them `heldMs`, so that
    // a sale that waited for them gets in before the next batch.
    virtual int pauseAfterBatchMs(int heldMs) const = 0;
    // The most rows one INSERT may carry.
    virtual int maxStatementRows() const = 0;
    // Multi-row INSERTs with the values in their text: cheaper than prepared ones where a
    // prepared execute costs extra round trips.
    virtual bool prefersLiteralInserts() const = 0;
    // The server's own bulk loader of a client file (loadStatement() gives its statement, with
    // `assignments` such as "`Caja` = 0" for columns that the file does not hold).
    virtual bool hasServerLoader() const = 0;
    virtual QString loadStatement(const QString& quotedFile, const QString& quotedTable,
                                  const QStringList& quotedColumns,
                                  const QStringList& assignments = {}) const = 0;
    // Whether an error says that the table is not there.
    virtual bool isMissingTable(const QSqlError& error) const = 0;
    // The session settings every connection starts with; empty when there are none.
    virtual QStringList sessionSetup() const = 0;
    // The statements that start a transaction keeping every other writer of the tables out
    // until it ends, and those that end it (committing or not), in order. Without `queue`,
    // the statements fail at once (isBusy) while another client holds the tables, so that no
    // request waits in the server's queue; with it, they wait a moment at most. A server that
    // refuses the first form (refusesStatement) gets the second.
    virtual QStringList beginExclusive(const QStringList& quotedTables, bool queue) const = 0;
    // Whether an error says that another client holds what a statement asked for.
    virtual bool isBusy(const QSqlError& error) const = 0;
    // Whether an error says that the user may not do what a statement asked.
    virtual bool isDenied(const QSqlError& error) const = 0;
    // Whether an error says that the server does not know a statement's syntax.
    virtual bool refusesStatement(const QSqlError& error) const = 0;
    virtual QStringList endExclusive(bool commit) const = 0;
    // A query giving one row per table of `tables` (names as values, exactly as the server
    // tells tables apart): name, type ("BASE TABLE", "VIEW"...), storage engine, and whether
    // that engine rolls back ("YES"); empty where every table can roll back.
    virtual QString tableKinds() const = 0;
    // A query giving the other sessions with a transaction open (user, host, id, seconds), the
    // oldest first, as far as the user may see them; empty where the engine has none.
    virtual QString openTransactions() const = 0;
    // A statement that gives a table's columns and no row.
    QString columnProbe(const QString& quotedTable) const;

    // How long an SQLite statement waits for a file that another client holds.
    static constexpr int sqliteBusyMs = 5000;

    static const Engine& mysql();
    static const Engine& sqlite();
};

} // namespace krvt5

#include "generation/BatchJournal.h"
#include "generation/BulkSink.h"
#include "generation/ColumnLimits.h"
#include "generation/RowByRowSink.h"
#include "generation/ScanFixture.h"
#include "generation/Simulacion.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace testsupport;
using generation::BatchLimits;

namespace {

// The header of a sale of the POS's own (amount 7, so that checks can tell it apart).
void sellHeader(TestDatabase& db, int venta)
{
    db.exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                           "VALUES (%1, '2020-01-01', '10:00', 7, 7)")
                .arg(venta));
}

// Sells numbers the way a POS does while the run goes: told about a row, it stores the given
// numbers on a connection of its own.
class PosAtRow : public generation::ScanObserver {
public:
    PosAtRow(TestDatabase& db, int row, std::vector<int> numbers)
        : db_(db), row_(row), numbers_(std::move(numbers))
    {}
    void onRow(const generation::RowEvent& e) override
    {
        if (e.row != row_ || done_)
            return;
        done_ = true;
        for (int venta : numbers_)
            sellHeader(db_, venta);
    }

private:
    TestDatabase& db_;
    int row_;
    std::vector<int> numbers_;
    bool done_ = false;
};

// A POS terminal on a thread and a connection of its own (a QtSql connection serves the thread
// that opened it). `work` gets the open connection.
class Terminal {
public:
    Terminal(TestDatabase& db, std::function<void(QSqlDatabase&)> work)
        : thread_(
              [&db, work = std::move(work), name = QStringLiteral("terminal-%1").arg(++count_)] {
                  {
                      const bool server = db.engine() == Engine::MariaDB;
                      QSqlDatabase connection = QSqlDatabase::addDatabase(
                          server ? QStringLiteral("QMYSQL") : QStringLiteral("QSQLITE"), name);
                      if (server) {
                          connection.setHostName(db.server());
                          connection.setPort(db.port().toInt());
                          connection.setDatabaseName(db.name());
                      } else {
                          connection.setDatabaseName(db.server().mid(7) + u'/' + db.name() +
                                                     QStringLiteral(".db"));
                      }
                      if (connection.open(db.user(), db.password()))
                          work(connection);
                      else
                          ADD_FAILURE() << connection.lastError().text().toStdString();
                      connection.close();
                  }
                  QSqlDatabase::removeDatabase(name);
              })
    {}

private:
    static inline std::atomic<int> count_{0};
    std::jthread thread_;
};

// Until the flag is set, or 20 s.
void waitFor(const std::atomic<bool>& flag)
{
    QElapsedTimer waited;
    waited.start();
    while (!flag && waited.elapsed() < 20000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(flag);
}

// A terminal's work: a sale opened with a locking read of number 90 and left open until `until`
// says (or 20 s pass); `open` and `ended` tell where it stands.
std::function<void(QSqlDatabase&)> saleLeftOpen(std::atomic<bool>& open, std::atomic<bool>& ended,
                                                std::function<bool()> until)
{
    return [&open, &ended, until = std::move(until)](QSqlDatabase& connection) {
        QSqlQuery query(connection);
        ASSERT_TRUE(connection.transaction());
        ASSERT_TRUE(
            query.exec(QStringLiteral("SELECT Id FROM tickets WHERE Venta = 90 FOR UPDATE")));
        open = true;
        QElapsedTimer waited;
        waited.start();
        while (!until() && waited.elapsed() < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ended = true;
        connection.commit();
    };
}

class PosDatabaseTest : public ScanFixture {
protected:
    std::vector<QStringList> sales(int count)
    {
        std::vector<QStringList> rows{{}};
        for (int i = 0; i < count; ++i)
            rows.push_back(sale(QStringLiteral("1"), QString::number(i + 1),
                                QStringLiteral("Artículo %1").arg(i)));
        return rows;
    }

    generation::Figures runBulk(const std::vector<QStringList>& rows,
                                generation::ScanObserver* observer = nullptr,
                                BatchLimits limits = BatchLimits{4, 500})
    {
        writeFile(state.cArchivo, csv(rows));
        state.nTicket = 100;
        generation::BulkSink sink(state, generation::ConnectionsLike(*support::oBases), limits);
        const generation::Figures figures =
            generation::RecorrerHoja(state, surface, &sink, observer);
        state.oLibro.reset();
        return figures;
    }

    struct PosTally {
        int sold = 0;
        int soldDuringTheRun = 0; // sales begun while the run went
        int failed = 0;
        QString firstFailure;
        generation::Figures run;
    };

    // A run of 3,000 tickets in batches of 200 (a few milliseconds each) while a POS terminal
    // sells numbers past the run's, one sale a millisecond after the last: in one transaction
    // it reads whether the number is taken (with a lock, or as QtSql's transaction() begins),
    // then stores the header and its line. The run starts once the POS has sold.
    PosTally sellThroughARun(bool locking)
    {
        const bool server = db->engine() == Engine::MariaDB;
        std::atomic<bool> selling{false};
        std::atomic<bool> runStarted{false};
        std::atomic<bool> runEnded{false};
        PosTally tally;
        {
            Terminal pos(*db, [&](QSqlDatabase& connection) {
                for (int venta = 5000; !runEnded; ++venta) {
                    const bool during = runStarted;
                    QSqlQuery query(connection);
                    const bool began = locking && !server
                                           ? query.exec(QStringLiteral("BEGIN IMMEDIATE"))
                                           : connection.transaction();
                    const bool ok =
                        began &&
                        query.exec(QStringLiteral("SELECT Id FROM tickets WHERE Venta = %1%2")
                                       .arg(venta)
                                       .arg(locking && server ? QStringLiteral(" FOR UPDATE")
                                                              : QString())) &&
                        !query.next() &&
                        query.exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, "
                                                  "Efectivo, Total) VALUES (%1, '2020-01-01', "
                                                  "'10:00', 7, 7)")
                                       .arg(venta)) &&
                        query.exec(QStringLiteral("INSERT INTO ticketsdetalle (Venta, Partida, "
                                                  "Fecha, Hora, Producto, Descrip, Cantidad, "
                                                  "Precio, IdTicket) VALUES (%1, 1, "
                                                  "'2020-01-01', '10:00', 'V', 'POS', 1, 7, %2)")
                                       .arg(venta)
                                       .arg(query.lastInsertId().toLongLong())) &&
                        query.exec(QStringLiteral("COMMIT"));
                    if (ok) {
                        ++tally.sold;
                        tally.soldDuringTheRun += during ? 1 : 0;
                        selling = true;
                    } else {
                        if (tally.failed++ == 0)
                            tally.firstFailure = query.lastError().text();
                        QSqlQuery(connection).exec(QStringLiteral("ROLLBACK"));
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
            waitFor(selling);
            runStarted = true;
            tally.run = runBulk(sales(3000), nullptr, BatchLimits{200, 500, 200});
            runEnded = true;
        }
        return tally;
    }

    // The same run while the stand-in POS of the reliability trials, in a process of its own,
    // sells numbers past the run's for two seconds, every other sale read with a lock, each
    // written 2 ms after its read. On
    // SQLite the run tells another process's read lock from /proc/locks: one taken inside this
    // process does not show there, so a terminal of this process reading first without a lock
    // would fail or not by timing alone.
    PosTally sellFromAnotherProcessThroughARun()
    {
        const auto sold = [this] {
            return db->rows(QStringLiteral("SELECT COUNT(*) FROM tickets WHERE Venta >= 5000"))
                .front()
                .front()
                .toInt();
        };
        const QString file = db->server().mid(7) + u'/' + db->name() + QStringLiteral(".db");
        QProcess pos;
        pos.start(QStringLiteral(GT_RELIABILITY_TOOL),
                  {QStringLiteral("pos"), QStringLiteral("sqlite"), file, QStringLiteral("5000"),
                   QStringLiteral("9000"), QStringLiteral("2000"), QStringLiteral("2")});
        PosTally tally;
        QElapsedTimer waited;
        waited.start();
        while (sold() == 0 && waited.elapsed() < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int before = sold();
        // Batches of 20: many a transaction begins while a sale is between its read and write.
        tally.run = runBulk(sales(3000), nullptr, BatchLimits{20, 500, 20});
        tally.soldDuringTheRun = sold() - before;
        EXPECT_TRUE(pos.waitForFinished(30000));
        const QString out = QString::fromUtf8(pos.readAllStandardOutput());
        tally.sold = out.section(u' ', 0, 0).toInt();
        tally.failed = pos.exitStatus() == QProcess::NormalExit && pos.exitCode() == 0 ? 0 : 1;
        tally.firstFailure = out + QString::fromUtf8(pos.readAllStandardError());
        return tally;
    }

    // No sale failed, and the POS sold while the run went.
    static void expectSoldThroughout(const PosTally& tally)
    {
        EXPECT_EQ(tally.failed, 0) << tally.firstFailure.toStdString();
        EXPECT_GT(tally.soldDuringTheRun, 0);
    }

    // The dry run over `rows`; afterwards the connection and the spreadsheet application it
    // closed are open again for a run.
    generation::Simulacion dryRun(const std::vector<QStringList>& rows)
    {
        writeFile(state.cArchivo, csv(rows));
        state.nTicket = 100;
        generation::Simulacion check = generation::Simular(state, surface);
        EXPECT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
        state.oExcel = std::make_unique<spreadsheet::Application>(spreadsheet::Regional{});
        return check;
    }

    // The run's connection again, as a new user of the server with only `grants` on the test's
    // database; the user goes with the guard given back.
    auto connectAs(const char* name, const char* grants)
    {
        const QString user = QLatin1String(name) + u'_' + db->name().section(u'_', 1);
        const QString account = QStringLiteral("'%1'@'%2'").arg(user, db->server());
        db->exec(QStringLiteral("CREATE USER %1 IDENTIFIED BY 'clave-1'").arg(account));
        db->exec(QStringLiteral("GRANT %1 ON `%2`.* TO %3")
                     .arg(QLatin1String(grants), db->name(), account));
        support::oBases->CierraBdD(state.cnBase);
        support::oBases->cUsuario = user;
        support::oBases->cPassword = QStringLiteral("clave-1");
        EXPECT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()))
            << support::oBases->UltimoError().toStdString();
        return qScopeGuard(
            [this, account] { db->exec(QStringLiteral("DROP USER %1").arg(account)); });
    }

    // A whole sale of the POS's own.
    void sellWhole(int venta)
    {
        sellHeader(*db, venta);
        db->exec(QStringLiteral("INSERT INTO ticketsdetalle (Venta, Partida, Fecha, Hora, "
                                "Producto, Descrip, Cantidad, Precio, IdTicket) VALUES (%1, 1, "
                                "'2020-01-01', '10:00', 'V', 'POS', 1, 7, LAST_INSERT_ID())")
                     .arg(venta));
    }

    // The journal a batch of these numbers writes before it begins.
    generation::BatchJournal journalOf(std::vector<std::int32_t> ventas)
    {
        const auto last = [&](const char* table) {
            return db
                ->rows(
                    QStringLiteral("SELECT COALESCE(MAX(Id), 0) FROM %1").arg(QLatin1String(table)))
                .front()
                .front()
                .toLongLong();
        };
        // As killedBatch() writes them.
        const QStringList dates(qsizetype(ventas.size()), QStringLiteral("2026-12-07"));
        const QStringList amounts(qsizetype(ventas.size()), QStringLiteral("1"));
        return {state.cnBase->place(), last("tickets"), last("ticketsdetalle"),
                std::move(ventas),     dates,           amounts};
    }

    // What a batch killed midway left: these headers, and lines for the first of them.
    void killedBatch(const std::vector<int>& headers, const std::vector<int>& lines)
    {
        for (int venta : headers)
            db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                    "VALUES (%1, '2026-12-07', '10:00', 1, 1)")
                         .arg(venta));
        for (int venta : lines)
            db->exec(QStringLiteral("INSERT INTO ticketsdetalle (Venta, Partida, Fecha, Hora, "
                                    "Producto, Descrip, Cantidad, Precio, IdTicket) SELECT Venta, "
                                    "1, Fecha, Hora, 'V', 'X', 1, 1, Id FROM tickets WHERE Venta "
                                    "= %1")
                         .arg(venta));
    }

    // A run of six sales from number 100 that finds `journal` in its data folder.
    generation::Figures runAfter(const generation::BatchJournal& journal)
    {
        journal.write(generation::BatchJournal::pathFor(dataFolder(), state.cnBase->place()));
        return runKeepingJournals(sales(6));
    }

    QString dataFolder()
    {
        const QString folder = dir.filePath(QStringLiteral("datos"));
        QDir().mkpath(folder);
        return folder;
    }

    // A run that keeps its batches' journals in dataFolder(), as the program does; `check` is
    // asked before each commit.
    generation::Figures runKeepingJournals(const std::vector<QStringList>& rows,
                                           BatchLimits limits = BatchLimits{4, 500},
                                           generation::CommitCheck check = {})
    {
        writeFile(state.cArchivo, csv(rows));
        state.nTicket = 100;
        generation::Figures figures;
        {
            generation::BulkSink sink(state, generation::ConnectionsLike(*support::oBases), limits,
                                      generation::CheckAnswers, std::move(check));
            sink.keepJournalIn(dataFolder());
            const auto closed = qScopeGuard([&] { state.oLibro.reset(); });
            figures = generation::RecorrerHoja(state, surface, &sink);
        }
        EXPECT_TRUE(QDir(dataFolder()).isEmpty())
            << "the journal stays after the batches it covered";
        return figures;
    }

    // Numbers stored more than once, headers without exactly one line, lines without their
    // header.
    void expectEveryNumberOnceAndWhole()
    {
        EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets GROUP BY Venta "
                                            "HAVING COUNT(*) > 1"))
                        .empty())
            << "a number stored twice";
        EXPECT_TRUE(
            db->rows(QStringLiteral("SELECT t.Venta FROM tickets t LEFT JOIN ticketsdetalle d "
                                    "ON d.IdTicket = t.Id WHERE t.Efectivo <> 7 GROUP BY t.Id, "
                                    "t.Venta HAVING COUNT(d.Id) <> 1"))
                .empty())
            << "a header without exactly one line";
        EXPECT_TRUE(db->rows(QStringLiteral("SELECT d.Venta FROM ticketsdetalle d LEFT JOIN "
                                            "tickets t ON t.Id = d.IdTicket WHERE t.Id IS NULL"))
                        .empty())
            << "a line without its header";
    }

    // A run over `rows` that must fail at `row`.
    void expectRunStopsAt(const std::vector<QStringList>& rows, int row)
    {
        try {
            runBulk(rows);
            ADD_FAILURE() << "the run should fail";
        } catch (const generation::WalkFailure& failure) {
            EXPECT_EQ(failure.row, row) << failure.what();
        }
    }

    // No rows, on tables of the given engines (SQLite keeps its own).
    void emptyTables(const char* engine, const char* lineEngine = nullptr)
    {
        db->exec(QStringLiteral("DELETE FROM ticketsdetalle"));
        db->exec(QStringLiteral("DELETE FROM tickets"));
        oldTables(QString::fromLatin1(engine),
                  QString::fromLatin1(lineEngine ? lineEngine : engine));
    }

    void oldTables(const QString& engine, QString lineEngine = {})
    {
        if (db->engine() != Engine::MariaDB)
            return;
        db->exec(QStringLiteral("ALTER TABLE tickets ENGINE=%1").arg(engine));
        db->exec(QStringLiteral("ALTER TABLE ticketsdetalle ENGINE=%1")
                     .arg(lineEngine.isEmpty() ? engine : lineEngine));
    }
};

// A number the POS takes after the run read its range is passed over at its batch's commit and
// counted as one that existed.
TEST_P(PosDatabaseTest, ANumberTakenDuringTheRunIsPassedOverAtItsCommit)
{
    for (const char* engine : {"InnoDB", "MyISAM"}) {
        if (db->engine() == Engine::SQLite && QLatin1String(engine) != QLatin1String("InnoDB"))
            continue;
        SCOPED_TRACE(engine);
        emptyTables(engine);
        if (db->engine() == Engine::SQLite)
            db->exec(QStringLiteral("PRAGMA busy_timeout = 10000"));
        // Row 3 is told at once; the run's numbers 115, 116 and 125 are far ahead of it.
        std::vector<QStringList> rows = sales(30);
        rows[2][1] = QStringLiteral("0");
        PosAtRow pos(*db, 3, {115, 116, 125});
        const generation::Figures figures = runBulk(rows, &pos);
        EXPECT_EQ(figures.existed, 3);
        EXPECT_EQ(figures.written, 26);
        EXPECT_EQ(figures.numbersUsed, 29);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(db->rows(QStringLiteral("SELECT Efectivo FROM tickets WHERE Venta = 116"))
                      .front()
                      .front()
                      .toDouble(),
                  7.0);
    }
}

// A POS whose sales read before they write in a plain transaction (QtSql's transaction(), a
// deferred one on SQLite, without a locking read on MariaDB) sells all through a run: it waits
// for a batch, and none of its sales fails. So does one that reads with a lock.
TEST_P(PosDatabaseTest, APosThatReadsBeforeItWritesSellsThroughARunWithoutAFailure)
{
    for (const bool locking : {false, true}) {
        SCOPED_TRACE(locking ? "locking read" : "plain read");
        emptyTables("InnoDB");
        const PosTally tally = locking || db->engine() == Engine::MariaDB
                                   ? sellThroughARun(locking)
                                   : sellFromAnotherProcessThroughARun();
        expectSoldThroughout(tally);
        EXPECT_EQ(tally.run.existed, 0);
        expectEveryNumberOnceAndWhole();
    }
}

// The same on an SQLite file in WAL mode, where readers never wait: a POS that reads with a
// lock sells all through a run. (One that reads first without a lock fails there whenever
// another client writes meanwhile, whatever that client does.)
TEST_P(PosDatabaseTest, OnAnSqliteFileInWalModeALockingPosSellsThroughARun)
{
    if (db->engine() != Engine::SQLite)
        GTEST_SKIP() << "a journal mode is SQLite's";
    QSqlQuery mode(db->sql());
    ASSERT_TRUE(mode.exec(QStringLiteral("PRAGMA journal_mode = WAL")) && mode.next());
    ASSERT_EQ(mode.value(0).toString(), QStringLiteral("wal"));
    mode.finish();
    const PosTally tally = sellThroughARun(true);
    expectSoldThroughout(tally);
    EXPECT_EQ(tally.run.written, 3000);
    expectEveryNumberOnceAndWhole();
}

// A terminal keeps a sale open (a locking read of its number, then nothing) while the run
// wants the tables. The run waits for that sale, but no request of it stands in the server's
// queue: another terminal's sales go through meanwhile, instead of waiting behind the run for
// the sale left open. Once that sale ends, the run writes everything.
TEST_P(PosDatabaseTest, ASaleLeftOpenHoldsBackTheRunButNotTheOtherTerminals)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite writers wait for each other at their own pace";
    // Earlier sales around the numbers each terminal asks for, so that the open sale's gap
    // lock (50 to 95) is not the one the other terminal inserts into (past 200).
    for (int venta : {50, 95, 200})
        sellHeader(*db, venta);
    std::atomic<bool> open{false};
    std::atomic<bool> ended{false};
    std::atomic<int> soldWhileOpen{0};
    std::atomic<int> sold{0};
    generation::Figures figures;
    {
        Terminal left(*db, saleLeftOpen(open, ended, [&] { return sold >= 2; }));
        waitFor(open);
        Terminal other(*db, [&](QSqlDatabase& connection) {
            // By then the run has long been asking for the tables.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            for (int venta : {300, 301}) {
                QSqlQuery query(connection);
                ASSERT_TRUE(connection.transaction());
                ASSERT_TRUE(
                    query.exec(QStringLiteral("SELECT Id FROM tickets WHERE Venta = %1 FOR UPDATE")
                                   .arg(venta)));
                ASSERT_TRUE(query.exec(
                    QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                   "VALUES (%1, '2020-01-01', '10:00', 7, 7)")
                        .arg(venta)));
                ASSERT_TRUE(connection.commit());
                if (!ended)
                    ++soldWhileOpen;
                ++sold;
            }
        });
        figures = runBulk(sales(20));
    }
    EXPECT_EQ(soldWhileOpen, 2) << "the other terminal waited behind the run";
    EXPECT_EQ(sold, 2);
    EXPECT_EQ(figures.written, 20);
    expectEveryNumberOnceAndWhole();
}

// Tables held past the run's patience stop it at the first ticket of the batch that waited,
// with nothing of that batch written and a message that says why and names the session with a
// transaction open; a re-run completes the set.
TEST_P(PosDatabaseTest, TablesHeldPastThePatienceStopTheRunAtARowAndSaySo)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite's busy wait is the library's own";
    std::atomic<bool> open{false};
    std::atomic<bool> ended{false};
    std::atomic<bool> done{false};
    int failedAt = 0;
    QString message;
    {
        Terminal left(*db, saleLeftOpen(open, ended, [&] { return done.load(); }));
        waitFor(open);
        writeFile(state.cArchivo, csv(sales(12)));
        state.nTicket = 100;
        BatchLimits patient{4, 500};
        patient.busyMs = 300;
        {
            generation::BulkSink sink(state, generation::ConnectionsLike(*support::oBases),
                                      patient);
            try {
                generation::RecorrerHoja(state, surface, &sink);
            } catch (const generation::WalkFailure& e) {
                failedAt = e.row;
                message = e.message();
            }
        }
        state.oLibro.reset();
        done = true;
    }
    EXPECT_EQ(failedAt, 2);
    EXPECT_TRUE(message.contains(QStringLiteral("ocupadas"))) << message.toStdString();
    // The terminal whose sale holds them, for the shop to find it.
    EXPECT_TRUE(
        message.contains(QStringLiteral("Tienen una transacción abierta: %1@").arg(db->user())))
        << message.toStdString();
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets")).empty());
    EXPECT_EQ(runBulk(sales(12)).written, 12);
    expectEveryNumberOnceAndWhole();
}

// On tables that cannot roll back, a failure inside a batch leaves whole tickets only, and a
// re-run completes them as a clean run would; so too when only one of the two tables can.
TEST_P(PosDatabaseTest, AFailureInsideABatchOnTablesThatCannotRollBackLeavesWholeTickets)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    for (const auto& [engine, lineEngine] :
         {std::pair{"MyISAM", "MyISAM"}, std::pair{"Aria", "Aria"}, std::pair{"InnoDB", "MyISAM"},
          std::pair{"MyISAM", "InnoDB"}}) {
        SCOPED_TRACE(std::string(engine) + " / " + lineEngine);
        emptyTables(engine, lineEngine);
        db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Descrip VARCHAR(40) NOT NULL"));
        std::vector<QStringList> rows = sales(12);
        rows[7][7] = QString(45, u'x'); // row 8, ticket 106: too long for its column
        expectRunStopsAt(rows, 8);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(tickets().size(), 6); // rows 2 to 7

        rows[7][7] = QStringLiteral("corto");
        const generation::Figures rerun = runBulk(rows);
        EXPECT_EQ(rerun.existed, 6);
        EXPECT_EQ(rerun.written, 6);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(tickets().size(), 12);
        EXPECT_EQ(lines().size(), 12);
    }
}

// A failed batch on tables that cannot roll back that the database will not let go (a trigger
// of the POS's own refuses every delete): the run stops there and says so, never reading the
// rows left as numbers taken, and the first run the database lets remove them does, from the
// journal, before it writes.
TEST_P(PosDatabaseTest, ABatchThatCannotBeRemovedStopsTheRunAndTheNextRunRemovesIt)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    emptyTables("MyISAM");
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Descrip VARCHAR(40) NOT NULL"));
    db->exec(QStringLiteral("CREATE TRIGGER keep BEFORE DELETE ON tickets FOR EACH ROW "
                            "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'no se borran ventas'"));
    std::vector<QStringList> rows = sales(12);
    rows[7][7] = QString(45, u'x'); // row 8, in the second batch
    QString message;
    try {
        runKeepingJournals(rows);
        ADD_FAILURE() << "the run should fail";
    } catch (const generation::WalkFailure& failure) {
        message = failure.message();
    }
    EXPECT_TRUE(message.contains(QStringLiteral("no se borran ventas"))) << message.toStdString();
    const int left = int(tickets().size());
    EXPECT_GT(left, 4) << "the second batch's headers, which the trigger kept";
    EXPECT_FALSE(QDir(dataFolder()).isEmpty()) << "the journal that names them";

    db->exec(QStringLiteral("DROP TRIGGER keep"));
    rows[7][7] = QStringLiteral("corto");
    const generation::Figures rerun = runKeepingJournals(rows);
    EXPECT_EQ(rerun.existed, 4);
    EXPECT_EQ(rerun.written, 8);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(tickets().size(), 12);
}

// Where a failed batch could only be removed by a delete the user may not make, nothing is
// written: the dry run and the run say why.
TEST_P(PosDatabaseTest, TablesThatCannotRollBackAreNotWrittenByAUserWhoMayNotDelete)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "only a server has permissions";
    emptyTables("MyISAM", "InnoDB");
    const auto dropped = connectAs("gtalta", "SELECT, INSERT, UPDATE, LOCK TABLES");
    const generation::Simulacion check = dryRun(sales(5));
    EXPECT_FALSE(check.runWouldSucceed());
    ASSERT_FALSE(check.problems.empty());
    EXPECT_TRUE(check.problems.front().text.contains(QStringLiteral("no se puede borrar")))
        << check.problems.front().text.toStdString();
    expectRunStopsAt(sales(5), 2);
    EXPECT_TRUE(tickets().isEmpty());
    EXPECT_TRUE(lines().isEmpty());
    support::oBases->CierraBdD(state.cnBase);
}

// A user who may reserve the tables but not add to them: the dry run names both tables.
TEST_P(PosDatabaseTest, AUserWhoMayNotInsertIsNamedByTheDryRun)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "only a server has permissions";
    const auto dropped = connectAs("gtlee", "SELECT, UPDATE, DELETE, LOCK TABLES");
    const generation::Simulacion check = dryRun(sales(3));
    EXPECT_FALSE(check.runWouldSucceed());
    int named = 0;
    for (const auto& problem : check.problems)
        named += problem.text.startsWith(QStringLiteral("No se pueden agregar registros")) ? 1 : 0;
    EXPECT_EQ(named, 2);
    expectRunStopsAt(sales(3), 2);
    support::oBases->CierraBdD(state.cnBase);
}

// Views, and engines that keep no rows or cannot delete those of a failed batch, are named by
// the dry run and refused by the run before anything is written; a table of another name that
// differs only in its letters is not taken for the POS's.
TEST_P(PosDatabaseTest, OnlyTablesThatKeepAndRemoveRowsAreWritten)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite has neither engines nor names that differ only in case";
    const auto expectRefused = [&](const QString& why) {
        const generation::Simulacion check = dryRun(sales(3));
        EXPECT_FALSE(check.runWouldSucceed());
        const bool named = std::any_of(check.problems.begin(), check.problems.end(),
                                       [&](const auto& p) { return p.text.contains(why); });
        EXPECT_TRUE(named) << why.toStdString();
        expectRunStopsAt(sales(3), 2);
    };
    db->exec(QStringLiteral("RENAME TABLE tickets TO ventas_reales"));
    db->exec(QStringLiteral("CREATE VIEW tickets AS SELECT * FROM ventas_reales"));
    expectRefused(QStringLiteral("\"tickets\" es una vista"));
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Id FROM ventas_reales")).empty());

    db->exec(QStringLiteral("DROP VIEW tickets"));
    db->exec(QStringLiteral("ALTER TABLE ventas_reales ENGINE=MyISAM"));
    db->exec(QStringLiteral("CREATE TABLE tickets LIKE ventas_reales"));
    db->exec(QStringLiteral("ALTER TABLE tickets ENGINE=MRG_MyISAM UNION=(ventas_reales) "
                            "INSERT_METHOD=LAST"));
    expectRefused(QStringLiteral("motor MRG_MyISAM"));
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Id FROM ventas_reales")).empty());
    EXPECT_TRUE(lines().isEmpty());

    if (db->rows(QStringLiteral("SELECT @@lower_case_table_names")).front().front() !=
        QLatin1String("0"))
        return;
    db->exec(QStringLiteral("DROP TABLE tickets"));
    db->exec(QStringLiteral("ALTER TABLE ventas_reales ENGINE=InnoDB"));
    db->exec(QStringLiteral("RENAME TABLE ventas_reales TO tickets"));
    db->exec(QStringLiteral("CREATE TABLE TICKETS (Id INT NOT NULL AUTO_INCREMENT PRIMARY KEY, "
                            "Extra INT NOT NULL, Zona POINT NOT NULL)"));
    EXPECT_TRUE(dryRun(sales(3)).problems.empty());
    EXPECT_EQ(runBulk(sales(3)).written, 3);
    expectEveryNumberOnceAndWhole();
}

// A run killed inside a batch on tables that cannot roll back leaves rows that its journal
// proves are its own: the next run removes the halves of tickets among them, and nothing of the
// POS, before it writes; the whole ones stay, as tickets whose numbers are taken. A journal left
// after its batch was stored whole (the run killed right after its commit) removes nothing.
TEST_P(PosDatabaseTest, TheNextRunRemovesWhatAKilledBatchLeftOnTablesThatCannotRollBack)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    oldTables(QStringLiteral("MyISAM"));
    sellWhole(90);
    const generation::BatchJournal journal = journalOf({100, 101, 102, 103});
    // Killed after four headers and two lines; then the POS sold number 90's neighbour.
    killedBatch({100, 101, 102, 103}, {100, 101});
    sellWhole(91);
    const generation::Figures figures = runAfter(journal);
    EXPECT_EQ(figures.existed, 2);
    EXPECT_EQ(figures.written, 4);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM tickets WHERE Venta IN (90, 91)"))
                  .front()
                  .front(),
              QStringLiteral("2"));
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM ticketsdetalle")).front().front(),
              QStringLiteral("8"));

    emptyTables("MyISAM");
    const generation::BatchJournal committed = journalOf({100, 101, 102, 103});
    killedBatch({100, 101, 102, 103}, {100, 101, 102, 103});
    const generation::Figures after = runAfter(committed);
    EXPECT_EQ(after.existed, 4);
    EXPECT_EQ(after.written, 2);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(tickets().size(), 6);
}

// What is left of a killed batch after part of it was removed by hand, read by a run of another
// user: the journal proves the rest by number, date and amount, wherever it is, and a sale the
// POS made since with one of the batch's numbers stays.
TEST_P(PosDatabaseTest, AJournalRemovesWhatIsLeftOfItsBatchAndNothingOfThePos)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    oldTables(QStringLiteral("MyISAM"));
    const generation::BatchJournal journal = journalOf({100, 101, 102, 103});
    killedBatch({100, 101, 102, 103}, {100, 101});
    db->exec(QStringLiteral("DELETE FROM ticketsdetalle WHERE Venta = 100"));
    db->exec(QStringLiteral("DELETE FROM tickets WHERE Venta IN (100, 101)"));
    sellWhole(100);
    const auto dropped = connectAs("gtotro", "SELECT, INSERT, UPDATE, DELETE, LOCK TABLES");
    const generation::Figures figures = runAfter(journal);
    EXPECT_EQ(figures.existed, 1);
    EXPECT_EQ(figures.written, 5);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM tickets WHERE Venta = 100 AND "
                                      "Efectivo = 7"))
                  .front()
                  .front(),
              QStringLiteral("1"));
    EXPECT_EQ(lines().size(), 6);
}

// The same server reached by another name (its socket, as "localhost", where the batch went by
// 127.0.0.1) is the same place: the journal is found, and what its batch left half is removed.
TEST_P(PosDatabaseTest, AJournalIsFoundWhateverNameTheServerIsReachedBy)
{
    if (db->engine() != Engine::MariaDB || qgetenv("MYSQL_UNIX_PORT").isEmpty())
        GTEST_SKIP() << "a server reached by its socket";
    oldTables(QStringLiteral("MyISAM"));
    const generation::BatchJournal journal = journalOf({100, 101, 102, 103});
    journal.write(generation::BatchJournal::pathFor(dataFolder(), journal.database));
    killedBatch({100, 101, 102, 103}, {});
    support::oBases->CierraBdD(state.cnBase);
    support::oBases->cRuta = QStringLiteral("localhost");
    ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()))
        << support::oBases->UltimoError().toStdString();
    const generation::Figures figures = runKeepingJournals(sales(6));
    EXPECT_EQ(figures.existed, 0);
    EXPECT_EQ(figures.written, 6);
    expectEveryNumberOnceAndWhole();
}

// A journal damaged after it was written whole cannot tell what its batch left: the run stops
// before it writes, and says so. One still being written when its run was killed is passed by.
TEST_P(PosDatabaseTest, ADamagedJournalStopsTheRunBeforeItWrites)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    oldTables(QStringLiteral("MyISAM"));
    const QString path = generation::BatchJournal::pathFor(dataFolder(), state.cnBase->place());
    writeFile(path, "generar-tickets lote 2\nbasura\n");
    killedBatch({100, 101, 102, 103}, {});
    QString message;
    try {
        runKeepingJournals(sales(6));
    } catch (const generation::WalkFailure& failure) {
        message = failure.message();
    }
    EXPECT_TRUE(message.contains(QStringLiteral("está dañado"))) << message.toStdString();
    EXPECT_EQ(tickets().size(), 4);
    EXPECT_TRUE(QFile::exists(path));

    QFile::remove(path);
    writeFile(path + QStringLiteral(".nuevo"), "generar-tickets lote 2\n");
    db->exec(QStringLiteral("DELETE FROM tickets"));
    EXPECT_EQ(runKeepingJournals(sales(6)).written, 6);
}

// A journal an earlier version left, named after the connection with its user and holding the
// numbers alone, is still read, and its batch removed.
TEST_P(PosDatabaseTest, AJournalOfAnEarlierVersionIsStillRead)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    oldTables(QStringLiteral("MyISAM"));
    const generation::BatchJournal marks = journalOf({});
    killedBatch({100, 101, 102, 103}, {100, 101});
    const QString describe = state.cnBase->describe();
    writeFile(generation::BatchJournal::pathFor(dataFolder(), describe),
              QStringLiteral("generar-tickets lote 1\n%1\n%2 %3\n100 101 102 103\nfin\n")
                  .arg(describe)
                  .arg(marks.lastHeader)
                  .arg(marks.lastLine)
                  .toUtf8());
    const generation::Figures figures = runKeepingJournals(sales(6));
    EXPECT_EQ(figures.existed, 0);
    EXPECT_EQ(figures.written, 6);
    expectEveryNumberOnceAndWhole();
}

// Headers that rolled back with the killed process, lines that could not: the journal proves
// the lines the batch's own by their numbers and their headers' missing keys, and the next run
// removes them. A line of the POS's that follows them, for one of the batch's numbers, stays.
TEST_P(PosDatabaseTest, TheNextRunRemovesTheLinesOfAKilledBatchWhoseHeadersRolledBack)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    oldTables(QStringLiteral("InnoDB"), QStringLiteral("MyISAM"));
    sellWhole(90);
    const generation::BatchJournal journal = journalOf({100, 101, 102, 103});
    killedBatch({100, 101, 102, 103}, {100, 101});
    db->exec(QStringLiteral("DELETE FROM tickets WHERE Venta BETWEEN 100 AND 103"));
    // Number 102 was free again: the POS sold it.
    sellWhole(102);
    sellWhole(91);
    const generation::Figures figures = runAfter(journal);
    EXPECT_EQ(figures.existed, 1);
    EXPECT_EQ(figures.written, 5);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM ticketsdetalle")).front().front(),
              QStringLiteral("8"));
}

// A commit that fails, on InnoDB headers beside MyISAM lines: the headers roll back, the lines
// stay. The run stops at the batch, its journal stays, and the next run removes those lines
// before it writes.
TEST_P(PosDatabaseTest, ACommitThatFailsLeavesItsJournalForTheNextRun)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    oldTables(QStringLiteral("InnoDB"), QStringLiteral("MyISAM"));
    int commits = 0;
    // The writer's connection is lost right before the second batch's commit.
    const auto lose = [&](krvt5::Connection& writer) {
        if (++commits == 2)
            QSqlQuery(writer.database()).exec(QStringLiteral("KILL CONNECTION_ID()"));
    };
    try {
        runKeepingJournals(sales(12), BatchLimits{4, 500, 4}, lose);
        ADD_FAILURE() << "the run should fail";
    } catch (const generation::WalkFailure&) {
    }
    EXPECT_EQ(commits, 2);
    const QStringList journals = QDir(dataFolder()).entryList(QDir::Files);
    ASSERT_EQ(journals.size(), 1);
    const std::size_t stored = tickets().size();
    const generation::Figures rerun = runKeepingJournals(sales(12));
    EXPECT_EQ(std::size_t(rerun.existed), stored);
    EXPECT_EQ(rerun.written + rerun.existed, 12);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM ticketsdetalle")).front().front(),
              QStringLiteral("12"));
}

// Whatever the server's own mode, a value its column cannot hold is a failure at its row,
// never cut or replaced.
TEST_P(PosDatabaseTest, AValueItsColumnCannotHoldStopsTheRunAtItsRow)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite keeps any text whole";
    struct Case {
        const char* name;
        const char* alter;
        QString descrip;
    };
    const std::vector<Case> cases{
        {"latin1 column, a character it cannot hold",
         "ALTER TABLE ticketsdetalle MODIFY Descrip VARCHAR(60) CHARACTER SET latin1 NOT NULL",
         QStringLiteral("Té verde 緑茶")},
        {"a description of 40 characters",
         "ALTER TABLE ticketsdetalle MODIFY Descrip VARCHAR(40) NOT NULL", QString(50, u'y')},
    };
    for (const char* engine : {"InnoDB", "MyISAM"}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(engine) + ": " + c.name);
            emptyTables(engine);
            db->exec(QString::fromUtf8(c.alter));
            std::vector<QStringList> rows = sales(10);
            rows[5][7] = c.descrip;                    // row 6
            rows[2][7] = QStringLiteral("Ñandú café"); // latin1 holds these
            expectRunStopsAt(rows, 6);
            expectEveryNumberOnceAndWhole();
            EXPECT_EQ(tickets().size(), 4);
            EXPECT_TRUE(lines().join(u' ').contains(QStringLiteral("ÑANDÚ CAFÉ")));
        }
    }
}

// Old databases may have no index on Venta: the same tickets, only slower to find.
TEST_P(PosDatabaseTest, TablesWithoutAnIndexOnVentaGetTheSameTickets)
{
    db->exec(db->engine() == Engine::MariaDB
                 ? QStringLiteral("ALTER TABLE tickets DROP INDEX idx_tickets_venta")
                 : QStringLiteral("DROP INDEX idx_tickets_venta"));
    std::vector<QStringList> rows = sales(20);
    rows[2][1] = QStringLiteral("0"); // row 3 is told at once
    PosAtRow pos(*db, 3, {105});
    const generation::Figures figures = runBulk(rows, &pos);
    EXPECT_EQ(figures.written, 18);
    EXPECT_EQ(figures.existed, 1);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(tickets().size(), 19);
}

// Numbers a POS keeps as text, in forms of its own (" 106", "0109", "1.1e2"), are the same
// numbers on both engines; SQLite compares a text column with a number as text.
TEST_P(PosDatabaseTest, NumbersKeptAsTextInAnyFormAreTakenByTheirValue)
{
    if (db->engine() == Engine::SQLite) {
        db->exec(QStringLiteral("DROP TABLE tickets"));
        db->exec(QStringLiteral("CREATE TABLE tickets (Id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                "Venta TEXT NOT NULL, Fecha DATE NOT NULL, Hora VARCHAR(8) NOT "
                                "NULL, Efectivo DECIMAL(12,2) NOT NULL, Total DECIMAL(12,2) NOT "
                                "NULL)"));
    } else {
        db->exec(QStringLiteral("ALTER TABLE tickets MODIFY Venta VARCHAR(12) NOT NULL"));
    }
    for (const char* venta : {" 106", "0109", "1.1e2", "112 ", "12x"})
        db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                "VALUES ('%1', '2020-01-01', '10:00', 7, 7)")
                     .arg(QLatin1String(venta)));
    const generation::Figures figures = runBulk(sales(20));
    EXPECT_EQ(figures.existed, 4);
    EXPECT_EQ(figures.written, 16);
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta + 0 FROM tickets GROUP BY Venta + 0 "
                                        "HAVING COUNT(*) > 1"))
                    .empty())
        << "a number stored twice";
}

// An SQLite trigger of the POS's own that adds a row of its own to tickets after some headers:
// every line still goes to its own header.
TEST_P(PosDatabaseTest, ATriggerThatAddsTicketsOfItsOwnLeavesEveryLineOnItsHeader)
{
    if (db->engine() != Engine::SQLite)
        GTEST_SKIP() << "a MySQL trigger may not write the table it is on";
    db->exec(QStringLiteral("CREATE TRIGGER copia AFTER INSERT ON tickets WHEN NEW.Venta % 5 = 0 "
                            "BEGIN INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                            "VALUES (-NEW.Venta, NEW.Fecha, NEW.Hora, 7, 7); END"));
    EXPECT_EQ(runBulk(sales(20)).written, 20);
    expectEveryNumberOnceAndWhole();
    const auto linesOnOtherHeaders = [&] {
        return db
            ->rows(QStringLiteral("SELECT COUNT(*) FROM ticketsdetalle d JOIN tickets t ON "
                                  "t.Id = d.IdTicket WHERE t.Venta <> d.Venta"))
            .front()
            .front();
    };
    EXPECT_EQ(linesOnOtherHeaders(), QStringLiteral("0"));

    // One that keeps a header out, or gives it another number: the run stops at its row.
    for (const char* trigger :
         {"CREATE TRIGGER fuera BEFORE INSERT ON tickets WHEN NEW.Venta = 105 BEGIN "
          "SELECT RAISE(IGNORE); END",
          "CREATE TRIGGER otro AFTER INSERT ON tickets WHEN NEW.Venta = 105 BEGIN "
          "UPDATE tickets SET Venta = 9105 WHERE Id = NEW.Id; END"}) {
        SCOPED_TRACE(trigger);
        db->exec(QStringLiteral("DROP TRIGGER IF EXISTS copia"));
        db->exec(QStringLiteral("DROP TRIGGER IF EXISTS fuera"));
        db->exec(QStringLiteral("DELETE FROM ticketsdetalle"));
        db->exec(QStringLiteral("DELETE FROM tickets"));
        db->exec(QString::fromLatin1(trigger));
        expectRunStopsAt(sales(20), 7);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(linesOnOtherHeaders(), QStringLiteral("0"));
        EXPECT_EQ(lines().size(), 5);
    }
}

// Columns as older POS versions made them: the number as text, the date with its time, the time
// as TIME, unsigned keys, a unique index on the number, lines bound to their header by a foreign
// key. The same tickets, whole, with a number the POS takes during the run passed over.
TEST_P(PosDatabaseTest, OlderColumnTypesGetTheSameTickets)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "column types of MySQL";
    for (const char* change :
         {"ALTER TABLE tickets MODIFY Venta VARCHAR(12) NOT NULL, MODIFY Fecha DATETIME NOT NULL, "
          "MODIFY Hora TIME NOT NULL, MODIFY Id INT UNSIGNED NOT NULL AUTO_INCREMENT, "
          "ADD UNIQUE KEY uq_venta (Venta)",
          "ALTER TABLE ticketsdetalle MODIFY Venta VARCHAR(12) NOT NULL, MODIFY Fecha DATETIME "
          "NOT NULL, MODIFY Hora TIME NOT NULL, MODIFY IdTicket INT UNSIGNED NOT NULL, ADD "
          "CONSTRAINT fk_detalle_ticket FOREIGN KEY (IdTicket) REFERENCES tickets (Id)"})
        db->exec(QString::fromLatin1(change));
    // Numbers the POS wrote as text of another form: the same numbers.
    for (const char* venta : {"105.0", "1.07e2"})
        db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                "VALUES ('%1', '2020-01-01', '10:00', 7, 7)")
                     .arg(QLatin1String(venta)));
    std::vector<QStringList> rows = sales(30);
    rows[2][1] = QStringLiteral("0"); // row 3 is told at once, before 110 is written
    PosAtRow pos(*db, 3, {110});
    const generation::Figures figures = runBulk(rows, &pos);
    EXPECT_EQ(figures.written, 26);
    EXPECT_EQ(figures.existed, 3);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM tickets WHERE Fecha <> DATE(Fecha)"))
                  .front()
                  .front(),
              QStringLiteral("0"));
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets WHERE Venta IN (105, 107) AND "
                                        "Efectivo <> 7"))
                    .empty());
    const QStringList lines = this->lines();
    ASSERT_EQ(lines.size(), 26);
    EXPECT_TRUE(lines.front().endsWith(QStringLiteral("|linked"))) << lines.front().toStdString();
}

// The dry run reads what the columns can hold and names every row that would stop the run.
TEST_P(PosDatabaseTest, TheDryRunNamesEveryRowItsColumnsCannotHold)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite keeps any value whole";
    db->exec(QStringLiteral(
        "ALTER TABLE ticketsdetalle MODIFY Descrip VARCHAR(40) CHARACTER SET latin1 NOT NULL"));
    db->exec(QStringLiteral("ALTER TABLE tickets MODIFY Efectivo DECIMAL(6,2) NOT NULL"));
    std::vector<QStringList> rows = sales(8);
    rows[2][7] = QString(45, u'y');          // row 3: too long
    rows[4][7] = QStringLiteral("Té 緑茶");  // row 5: not latin1
    rows[6][4] = QStringLiteral("10000.00"); // row 7: above DECIMAL(6,2)
    rows[7][4] = QStringLiteral("9999.994"); // row 8: rounds to 9999.99, fits
    writeFile(state.cArchivo, csv(rows));
    state.nTicket = 100;
    const generation::Simulacion result = generation::Simular(state, surface);
    QStringList blocked;
    for (const auto& problem : result.problems) {
        if (problem.blocksRun)
            blocked << QStringLiteral("%1: %2").arg(problem.row).arg(problem.text);
    }
    ASSERT_EQ(blocked.size(), 3) << blocked.join(u'\n').toStdString();
    EXPECT_TRUE(blocked[0].startsWith(QStringLiteral("3: la descripción tiene 45 caracteres")));
    EXPECT_TRUE(blocked[1].startsWith(QStringLiteral("5: la descripción tiene un carácter")));
    EXPECT_TRUE(blocked[2].startsWith(QStringLiteral("7: el importe 10000 no cabe")));
    EXPECT_TRUE(tickets().isEmpty());

    // A column of bytes holds fewer accented letters than its length.
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Descrip VARBINARY(40) NOT NULL"));
    support::oBases->AbrirBdD(state.cnBase, db->name());
    state.oExcel = std::make_unique<spreadsheet::Application>(spreadsheet::Regional{});
    rows = sales(3);
    rows[2][7] = QString(25, u'ñ'); // row 3: 25 characters, 50 bytes
    const generation::Simulacion bytes = dryRun(rows);
    ASSERT_EQ(bytes.problems.size(), 1u);
    EXPECT_EQ(bytes.problems.front().row, 3);
    EXPECT_TRUE(
        bytes.problems.front().text.startsWith(QStringLiteral("la descripción tiene 50 bytes")))
        << bytes.problems.front().text.toStdString();
    expectRunStopsAt(rows, 3);
}

// Number columns of the lines narrower than the headers': a ticket number past the line's Venta,
// or a header key past its IdTicket, is named by the dry run at its row, where the run stops.
TEST_P(PosDatabaseTest, TheDryRunNamesTheFirstNumberOrKeyALineCannotHold)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite keeps any value whole";
    // The run stops at that row, or before it where the server's loader reserved keys it
    // did not use.
    const auto expectNamedAndStopped = [&](int count, int row, const QString& text) {
        const generation::Simulacion check = dryRun(sales(count));
        ASSERT_EQ(check.problems.size(), 1u);
        EXPECT_EQ(check.problems.front().row, row);
        EXPECT_TRUE(check.problems.front().text.startsWith(text))
            << check.problems.front().text.toStdString();
        try {
            runBulk(sales(count));
            ADD_FAILURE() << "the run should fail";
        } catch (const generation::WalkFailure& failure) {
            EXPECT_LE(failure.row, row);
            EXPECT_EQ(int(tickets().size()), failure.row - 2);
        }
        expectEveryNumberOnceAndWhole();
    };
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Venta TINYINT NOT NULL"));
    // Tickets 100 to 127 fit; 128 is row 30's.
    expectNamedAndStopped(29, 30,
                          QStringLiteral("el número de ticket 128 no cabe en la columna "
                                         "ticketsdetalle.Venta (tinyint(4))"));

    emptyTables("InnoDB");
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Venta INT NOT NULL, "
                            "MODIFY IdTicket TINYINT NOT NULL"));
    db->exec(QStringLiteral("ALTER TABLE tickets AUTO_INCREMENT = 120"));
    // Keys 120 to 127 fit: eight tickets, the ninth is row 10's.
    expectNamedAndStopped(12, 10,
                          QStringLiteral("la columna IdTicket de la tabla \"ticketsdetalle\" "
                                         "(tinyint(4)) no admite claves de encabezado mayores "
                                         "que 127"));
}

// Columns the POS added for itself, NOT NULL without a default: the program leaves them out, and
// a server outside strict mode gives them its own value (0, '', the first of an ENUM, the zero
// date). Strict sessions refuse to; the program gives the same values itself, on the loader
// and on INSERTs alike.
TEST_P(PosDatabaseTest, ColumnsOfThePosOwnWithoutADefaultGetWhatTheServerWouldGiveThem)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "an SQLite column without a default has no value of its own";
    db->exec(QStringLiteral("ALTER TABLE tickets ADD COLUMN Caja INT NOT NULL, ADD COLUMN Estado "
                            "ENUM('abierto', 'cerrado') NOT NULL, ADD COLUMN Cerrado DATETIME "
                            "NOT NULL, ADD COLUMN Cliente VARCHAR(30) NOT NULL"));
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle ADD COLUMN Costo DECIMAL(8,2) NOT NULL, "
                            "ADD COLUMN Nota TEXT NOT NULL, ADD COLUMN Entrega DATE NOT NULL, "
                            "ADD COLUMN Alta TIME NOT NULL"));
    // Reconnected, so that the run sees the new columns.
    support::oBases->CierraBdD(state.cnBase);
    ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    for (const bool loader : {true, false}) {
        SCOPED_TRACE(loader ? "loader" : "INSERTs");
        emptyTables("InnoDB");
        BatchLimits limits{4, 500};
        limits.serverLoader = loader;
        EXPECT_EQ(runBulk(sales(10), nullptr, limits).written, 10);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(db->rows(QStringLiteral("SELECT DISTINCT Caja, Estado, CAST(Cerrado AS CHAR), "
                                          "Cliente FROM tickets")),
                  (std::vector<QStringList>{{QStringLiteral("0"), QStringLiteral("abierto"),
                                             QStringLiteral("0000-00-00 00:00:00"), QString()}}));
        EXPECT_EQ(
            db->rows(QStringLiteral("SELECT DISTINCT Costo, Nota, CAST(Entrega AS CHAR), "
                                    "CAST(Alta AS CHAR) FROM ticketsdetalle")),
            (std::vector<QStringList>{{QStringLiteral("0.00"), QString(),
                                       QStringLiteral("0000-00-00"), QStringLiteral("00:00:00")}}));
    }
}

// A POS user may lack the permission to lock tables, which keeps the POS's sales off the
// batch's numbers: the run stops before it writes anything and says what to ask for.
TEST_P(PosDatabaseTest, AUserWhoMayNotLockTheTablesIsToldWhatToAskFor)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "only a server has permissions";
    const auto dropped = connectAs("gtcaja", "SELECT, INSERT, UPDATE, DELETE");
    const generation::Simulacion check = dryRun(sales(5));
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_TRUE(check.problems.front().blocksRun);
    EXPECT_TRUE(check.problems.front().text.contains(QStringLiteral("GRANT LOCK TABLES")));
    QString message;
    try {
        runBulk(sales(5));
        ADD_FAILURE() << "the run should fail";
    } catch (const generation::WalkFailure& failure) {
        EXPECT_EQ(failure.row, 2);
        message = failure.message();
    }
    EXPECT_TRUE(message.contains(QStringLiteral("GRANT LOCK TABLES"))) << message.toStdString();
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Venta FROM tickets")).empty());
    support::oBases->CierraBdD(state.cnBase);
}

// A column of the POS's own that no ticket of the program can fill (NOT NULL without a default,
// on SQLite, or of a type without a value of its own, on MySQL): the dry run says so before the
// run, which would stop at its first ticket with nothing written.
TEST_P(PosDatabaseTest, TheDryRunNamesAColumnThatWouldRefuseEveryTicket)
{
    if (db->engine() == Engine::SQLite) {
        db->exec(QStringLiteral("DROP TABLE tickets"));
        db->exec(QStringLiteral("CREATE TABLE tickets (Id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                "Venta INTEGER NOT NULL, Fecha DATE NOT NULL, Hora VARCHAR(8) "
                                "NOT NULL, Efectivo DECIMAL(12,2) NOT NULL, Total DECIMAL(12,2) "
                                "NOT NULL, Zona INTEGER NOT NULL)"));
    } else {
        db->exec(QStringLiteral("ALTER TABLE tickets ADD COLUMN Zona POINT NOT NULL"));
        support::oBases->CierraBdD(state.cnBase);
        ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    }
    const generation::Simulacion check = dryRun(sales(3));
    ASSERT_FALSE(check.runWouldSucceed());
    ASSERT_FALSE(check.problems.empty());
    EXPECT_EQ(check.problems.front().row, 0);
    EXPECT_TRUE(check.problems.front().text.startsWith(
        QStringLiteral("La columna \"Zona\" de la tabla \"tickets\" no admite valores nulos")))
        << check.problems.front().text.toStdString();
    expectRunStopsAt(sales(3), 2);
    EXPECT_TRUE(tickets().isEmpty());
}

// A JSON column of the POS's own (NOT NULL, no default) takes no value the program could give:
// it is named like any such column. A CHECK constraint the dry run cannot weigh is told of; the
// run stops at the first ticket that breaks it.
TEST_P(PosDatabaseTest, AJsonColumnIsNamedAndACheckConstraintIsToldOf)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite's tables are read by their own rules";
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle ADD COLUMN Datos JSON NOT NULL"));
    generation::Simulacion check = dryRun(sales(3));
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_TRUE(check.problems.front().blocksRun);
    EXPECT_TRUE(check.problems.front().text.startsWith(QStringLiteral("La columna \"Datos\"")))
        << check.problems.front().text.toStdString();
    expectRunStopsAt(sales(3), 2);
    EXPECT_TRUE(tickets().isEmpty());

    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle DROP COLUMN Datos, ADD CONSTRAINT "
                            "precio_tope CHECK (Precio < 3)"));
    check = dryRun(sales(5));
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_FALSE(check.problems.front().blocksRun);
    EXPECT_TRUE(check.problems.front().text.contains(QStringLiteral("(precio_tope)")))
        << check.problems.front().text.toStdString();
    expectRunStopsAt(sales(5), 4); // the amount 3
    EXPECT_EQ(tickets().size(), 2);
    expectEveryNumberOnceAndWhole();
}

// SQLite: a table without a rowid gives its key no value of its own, and a file that may only
// be read lets a transaction begin but takes no ticket. The dry run names both.
TEST_P(PosDatabaseTest, OnSqliteAKeyWithoutRowidAndAFileOnlyReadAreNamed)
{
    if (db->engine() != Engine::SQLite)
        GTEST_SKIP() << "SQLite's own";
    db->exec(QStringLiteral("DROP TABLE ticketsdetalle"));
    db->exec(QStringLiteral("CREATE TABLE ticketsdetalle (Id INTEGER PRIMARY KEY, Venta INTEGER "
                            "NOT NULL, Partida SMALLINT NOT NULL, Fecha DATE NOT NULL, Hora "
                            "VARCHAR(8) NOT NULL, Producto VARCHAR(20) NOT NULL, Descrip "
                            "VARCHAR(60) NOT NULL, Cantidad SMALLINT NOT NULL, Precio "
                            "DECIMAL(12,2) NOT NULL, IdTicket INTEGER NOT NULL) WITHOUT ROWID"));
    generation::Simulacion check = dryRun(sales(3));
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_TRUE(check.problems.front().text.startsWith(
        QStringLiteral("La columna \"Id\" de la tabla \"ticketsdetalle\"")))
        << check.problems.front().text.toStdString();

    // Root writes past a file's permissions, not past its immutable flag.
    const QString file = db->server().mid(7) + u'/' + db->name() + QStringLiteral(".db");
    QFile(file).setPermissions(QFileDevice::ReadOwner);
    const bool immutable = ::geteuid() != 0 || QProcess::execute(QStringLiteral("chattr"),
                                                                 {QStringLiteral("+i"), file}) == 0;
    const auto writable = qScopeGuard([&] {
        if (::geteuid() == 0)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), file});
        QFile(file).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    });
    if (!immutable)
        GTEST_SKIP() << "no file here can be kept from root";
    support::oBases->CierraBdD(state.cnBase);
    ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    check = dryRun(sales(3));
    EXPECT_TRUE(std::any_of(check.problems.begin(), check.problems.end(), [](const auto& p) {
        return p.blocksRun &&
               p.text.startsWith(QStringLiteral("No se puede escribir en la base de datos"));
    }));

    // A file that may be written in a folder where no file may be made: no journal beside it.
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), file});
    QFile(file).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString folder = QFileInfo(file).absolutePath();
    QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), folder});
    const auto folderWritable = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), folder});
    });
    check = dryRun(sales(3));
    EXPECT_TRUE(std::any_of(check.problems.begin(), check.problems.end(), [](const auto& p) {
        return p.blocksRun &&
               p.text.startsWith(QStringLiteral("No se pueden crear archivos en la carpeta"));
    }));
}

// Keys an old POS gives itself (no AUTO_INCREMENT): the dry run names the column, and the run
// stops at its first ticket with nothing written, also for the lines' key, which the program
// would otherwise give the same value on every line. A trigger of the POS's own that gives the
// key makes them fine.
TEST_P(PosDatabaseTest, KeysTheDatabaseDoesNotGiveAreNamedAndStopTheRunAtItsFirstTicket)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "an SQLite key is the row's own";
    const auto reconnect = [&] {
        support::oBases->CierraBdD(state.cnBase);
        ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    };
    for (const char* name : {"tickets", "ticketsdetalle"}) {
        const QString table = QString::fromLatin1(name);
        SCOPED_TRACE(table.toStdString());
        db->exec(QStringLiteral("ALTER TABLE %1 MODIFY Id INT NOT NULL").arg(table));
        reconnect();
        const generation::Simulacion check = dryRun(sales(3));
        ASSERT_FALSE(check.runWouldSucceed());
        EXPECT_TRUE(check.problems.front().text.startsWith(
            QStringLiteral("La columna \"Id\" de la tabla \"%1\" no admite").arg(table)))
            << check.problems.front().text.toStdString();
        expectRunStopsAt(sales(3), 2);
        EXPECT_TRUE(tickets().isEmpty());
        EXPECT_TRUE(lines().isEmpty());
        db->exec(QStringLiteral("ALTER TABLE %1 MODIFY Id INT NOT NULL AUTO_INCREMENT").arg(table));
    }
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Id INT NOT NULL"));
    db->exec(QStringLiteral("CREATE SEQUENCE lineas"));
    db->exec(QStringLiteral("CREATE TRIGGER clave BEFORE INSERT ON ticketsdetalle FOR EACH ROW "
                            "SET NEW.Id = NEXT VALUE FOR lineas"));
    reconnect();
    EXPECT_TRUE(dryRun(sales(3)).runWouldSucceed());
    EXPECT_EQ(runBulk(sales(10)).written, 10);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(
        db->rows(QStringLiteral("SELECT COUNT(DISTINCT Id) FROM ticketsdetalle")).front().front(),
        QStringLiteral("10"));
}

// Keys about to run out (a SMALLINT key near its largest value): the dry run names the row of
// the first ticket without one; the run writes the tickets that find keys and stops at the first
// that finds none, naming it, without taking the keys the failed writes would have used up.
TEST_P(PosDatabaseTest, KeysAboutToRunOutStopTheRunAtTheFirstTicketWithoutOne)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "an SQLite key does not run out";
    for (const char* engine : {"InnoDB", "MyISAM"}) {
        for (const char* name : {"tickets", "ticketsdetalle"}) {
            const QString table = QString::fromLatin1(name);
            SCOPED_TRACE(std::string(engine) + ", " + name);
            emptyTables(engine);
            db->exec(QStringLiteral("ALTER TABLE %1 MODIFY Id SMALLINT NOT NULL AUTO_INCREMENT, "
                                    "AUTO_INCREMENT = 32760")
                         .arg(table));
            support::oBases->CierraBdD(state.cnBase);
            ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
            // The dry run names the ninth ticket's row: 8 keys are left.
            const generation::Simulacion check = dryRun(sales(12));
            ASSERT_EQ(check.problems.size(), 1u);
            EXPECT_EQ(check.problems.front().row, 10);
            EXPECT_EQ(check.problems.front().text,
                      QStringLiteral("la tabla \"%1\" no tiene claves para más tickets: su "
                                     "columna Id (smallint(6)) no pasa de 32767")
                          .arg(table));
            std::int32_t stoppedAt = 0;
            try {
                runBulk(sales(12));
                ADD_FAILURE() << "the run should fail";
            } catch (const generation::WalkFailure& failure) {
                stoppedAt = failure.row;
                EXPECT_TRUE(failure.message().contains(
                    QStringLiteral("su columna Id (smallint(6)) no pasa de 32767")))
                    << failure.what();
            }
            // MyISAM gives the 8 keys one by one; InnoDB's loader takes a few more than it uses.
            const qsizetype written = tickets().size();
            EXPECT_EQ(stoppedAt, 2 + written);
            EXPECT_GE(written, 4); // the first batch
            if (QLatin1String(engine) == QLatin1String("MyISAM")) {
                EXPECT_EQ(written, 8);
            }
            expectEveryNumberOnceAndWhole();
            db->exec(
                QStringLiteral("ALTER TABLE %1 MODIFY Id INT NOT NULL AUTO_INCREMENT").arg(table));
        }
    }
}

// Amount columns of whole numbers (shops whose currency has no cents): an amount is rounded as
// the server rounds it, and one past the type's largest value is named by the dry run and
// stops the run at its row.
TEST_P(PosDatabaseTest, WholeNumberAmountColumnsTakeRoundedAmountsUpToTheirTypesLargest)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite keeps any value whole";
    db->exec(QStringLiteral("ALTER TABLE tickets MODIFY Efectivo INT NOT NULL, MODIFY Total INT "
                            "NOT NULL"));
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Precio SMALLINT NOT NULL"));
    support::oBases->CierraBdD(state.cnBase);
    ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    std::vector<QStringList> rows = sales(6);
    rows[2][4] = QStringLiteral("12.50"); // row 3
    rows[3][4] = QStringLiteral("7.49");  // row 4
    rows[5][4] = QStringLiteral("40000"); // row 6: past SMALLINT
    const generation::Simulacion check = dryRun(rows);
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_EQ(check.problems.front().row, 6);
    EXPECT_EQ(check.problems.front().text,
              QStringLiteral("el importe 40000 no cabe en la columna Precio (smallint(6))"));
    expectRunStopsAt(rows, 6);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT t.Efectivo, t.Total, d.Precio FROM tickets t JOIN "
                                      "ticketsdetalle d ON d.IdTicket = t.Id WHERE t.Venta IN "
                                      "(101, 102) ORDER BY t.Venta")),
              (std::vector<QStringList>{
                  {QStringLiteral("13"), QStringLiteral("13"), QStringLiteral("13")},
                  {QStringLiteral("7"), QStringLiteral("7"), QStringLiteral("7")}}));
}

// Amount columns of 32-bit floats hold about seven digits, and the server stores the nearest
// float without a word: an amount that would not come back the same is named by the dry run and
// stops the run at its row. Cents below that come back whole.
TEST_P(PosDatabaseTest, AFloatAmountColumnNeverChangesAnAmountWithoutAWord)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite keeps any value whole";
    db->exec(QStringLiteral("ALTER TABLE tickets MODIFY Efectivo FLOAT NOT NULL, MODIFY Total "
                            "FLOAT NOT NULL"));
    support::oBases->CierraBdD(state.cnBase);
    ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    std::vector<QStringList> rows = sales(6);
    rows[2][4] = QStringLiteral("12345.67");  // row 3: held
    rows[4][4] = QStringLiteral("131072.01"); // row 5: the nearest float is 131072.015625
    const generation::Simulacion check = dryRun(rows);
    ASSERT_EQ(check.problems.size(), 1u);
    EXPECT_EQ(check.problems.front().row, 5);
    EXPECT_EQ(check.problems.front().text,
              QStringLiteral("el importe 131072.01 no cabe exacto en la columna Efectivo (float): "
                             "se guardaría como 131072.02"));
    expectRunStopsAt(rows, 5);
    expectEveryNumberOnceAndWhole();
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta, ROUND(Efectivo, 2) FROM tickets ORDER BY "
                                      "Venta")),
              (std::vector<QStringList>{{QStringLiteral("100"), QStringLiteral("1.00")},
                                        {QStringLiteral("101"), QStringLiteral("12345.67")},
                                        {QStringLiteral("102"), QStringLiteral("3.00")}}));
}

// Amount columns of different scales: every column of a ticket holds the amount rounded to the
// smallest, so that the header's total is its line's price, and the sum the run and the dry run
// tell is the sum the tables hold.
TEST_P(PosDatabaseTest, AHeaderAndItsLineHoldTheSameAmountAndTheSumToldIsTheSumStored)
{
    // SQLite keeps any number: the amounts are rounded to the decimals the columns declare.
    if (db->engine() == Engine::MariaDB) {
        db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Precio DECIMAL(12,4) NOT NULL"));
        support::oBases->CierraBdD(state.cnBase);
        ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
    }
    std::vector<QStringList> rows = sales(6);
    const char* amounts[] = {"12.345", "0.005", "2.675", "1234.5678", "131072.01", "7"};
    for (std::size_t i = 0; i < 6; ++i)
        rows[i + 1][4] = QString::fromLatin1(amounts[i]);
    const double told = dryRun(rows).figures.amountWritten;
    for (const bool loader : {true, false}) {
        SCOPED_TRACE(loader ? "loader" : "INSERTs");
        emptyTables("InnoDB");
        BatchLimits limits{4, 500};
        limits.serverLoader = loader;
        const generation::Figures figures = runBulk(rows, nullptr, limits);
        EXPECT_EQ(figures.written, 6);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(db->rows(QStringLiteral("SELECT t.Venta, t.Efectivo, t.Total, d.Precio FROM "
                                          "tickets t JOIN ticketsdetalle d ON d.IdTicket = t.Id "
                                          "WHERE t.Efectivo <> d.Precio OR t.Total <> d.Precio")),
                  std::vector<QStringList>{});
        QStringList each;
        for (const QStringList& row :
             db->rows(QStringLiteral("SELECT Efectivo FROM tickets ORDER BY Venta")))
            each << QString::number(row.front().toDouble(), 'f', 4);
        EXPECT_EQ(each.join(u' '), QStringLiteral("12.3500 0.0100 2.6800 1234.5700 131072.0100 "
                                                  "7.0000"));
        const QString stored =
            QString::number(db->rows(QStringLiteral("SELECT SUM(Efectivo) FROM tickets"))
                                .front()
                                .front()
                                .toDouble(),
                            'f', 2);
        EXPECT_EQ(stored, QStringLiteral("132328.62"));
        EXPECT_EQ(QString::number(figures.amountWritten, 'f', 2), stored);
        EXPECT_EQ(QString::number(told, 'f', 2), stored);
    }
}

// A POS that keeps a log of its sales by a trigger on tickets: the batch's reservation covers
// the trigger's table too, every ticket leaves its line in the log, and the log's keys are not
// taken for the headers'.
TEST_P(PosDatabaseTest, ATriggerOfThePosOnTicketsWritesItsOwnTableAlongWithTheRun)
{
    const bool server = db->engine() == Engine::MariaDB;
    // Keys of its own, which must not be taken for the headers'.
    db->exec(server ? QStringLiteral("CREATE TABLE bitacora (Id INTEGER PRIMARY KEY "
                                     "AUTO_INCREMENT, Venta INTEGER NOT NULL) AUTO_INCREMENT = 500")
                    : QStringLiteral("CREATE TABLE bitacora (Id INTEGER PRIMARY KEY "
                                     "AUTOINCREMENT, Venta INTEGER NOT NULL)"));
    db->exec(server ? QStringLiteral("CREATE TRIGGER anota AFTER INSERT ON tickets FOR EACH ROW "
                                     "INSERT INTO bitacora (Venta) VALUES (NEW.Venta)")
                    : QStringLiteral("CREATE TRIGGER anota AFTER INSERT ON tickets BEGIN INSERT "
                                     "INTO bitacora (Venta) VALUES (NEW.Venta); END"));
    for (const bool loader : {true, false}) {
        SCOPED_TRACE(loader ? "loader" : "INSERTs");
        emptyTables("InnoDB");
        db->exec(QStringLiteral("DELETE FROM bitacora"));
        BatchLimits limits{4, 500};
        limits.serverLoader = loader;
        EXPECT_EQ(runBulk(sales(10), nullptr, limits).written, 10);
        expectEveryNumberOnceAndWhole();
        EXPECT_EQ(db->rows(QStringLiteral("SELECT COUNT(*) FROM bitacora")).front().front(),
                  QStringLiteral("10"));
    }
}

// The program's sessions are strict, and autocommit, even where the server's defaults are not.
TEST_P(PosDatabaseTest, EveryServerSessionIsStrict)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "only a server has a mode";
    QSqlQuery query(state.cnBase->database());
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT @@SESSION.sql_mode")) && query.next());
    EXPECT_TRUE(query.value(0).toString().contains(QStringLiteral("STRICT_ALL_TABLES")))
        << query.value(0).toString().toStdString();
    EXPECT_FALSE(query.value(0).toString().contains(QStringLiteral("ANSI_QUOTES")));
    ASSERT_TRUE(query.exec(QStringLiteral("SELECT @@SESSION.autocommit")) && query.next());
    EXPECT_EQ(query.value(0).toInt(), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, PosDatabaseTest, testing::ValuesIn(engines()), engineName);

TEST(RoundDecimalText, RoundsHalvesAwayFromZeroAsTheServerStoresThem)
{
    struct Case {
        const char* text;
        int scale;
        const char* rounded;
    };
    for (const Case& c :
         {Case{"12.345", 2, "12.35"}, Case{"12.344", 2, "12.34"}, Case{"-0.005", 2, "-0.01"},
          Case{"-0.004", 2, "0.00"}, Case{"9.995", 2, "10.00"}, Case{"0.5", 0, "1"},
          Case{"12", 2, "12"}, Case{"131072.01", 2, "131072.01"}, Case{"0.125", 1, "0.1"}}) {
        EXPECT_EQ(generation::RoundDecimalText(QString::fromLatin1(c.text), c.scale),
                  QString::fromLatin1(c.rounded))
            << c.text << " to " << c.scale;
    }
}

} // namespace

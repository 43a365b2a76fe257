#include "generation/BulkSink.h"

#include "generation/RowByRowSink.h"
#include "generation/ScanFixture.h"
#include "generation/TicketStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSqlQuery>
#include <numeric>
#include <optional>

using namespace testsupport;
using generation::BatchLimits;

namespace {

// Everything the observer is told, one text per event.
class Events : public generation::ScanObserver {
public:
    QStringList seen;
    void onRow(const generation::RowEvent& e) override
    {
        seen << QStringLiteral("%1|%2|%3|%4")
                    .arg(e.row, 5, 10, QChar(u'0'))
                    .arg(int(e.outcome))
                    .arg(e.ticket)
                    .arg(e.amount, 0, 'f', 2);
    }
};

// What one run leaves behind, Id and Hora values aside.
struct Outcome {
    QStringList tickets;
    QStringList lines; // each says whether IdTicket is its header's Id
    QStringList events;
    QString counters; // nTicket, nRenglon, nVacios and the figures
    int failedAt = 0; // the row a failure names

    friend bool operator==(const Outcome&, const Outcome&) = default;
};

void PrintTo(const Outcome& o, std::ostream* out)
{
    *out << "\ntickets: " << o.tickets.join(u' ').toStdString()
         << "\nlines: " << o.lines.join(u' ').toStdString()
         << "\nevents: " << o.events.join(u' ').toStdString()
         << "\ncounters: " << o.counters.toStdString() << "\nfailed at: " << o.failedAt;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

// A workbook with every kind of row: "0" markers, amounts of zero and below, empty rows,
// blanks as marker, accented descriptions, some longer than 60 characters, both date forms.
std::vector<QStringList> mixedRows(int count)
{
    const QStringList descrips{QStringLiteral("café con leche"), QStringLiteral("  Niño ñandú  "),
                               QStringLiteral("Pingüino de peluche grande con moño rojo y bufanda "
                                              "tejida a mano azul"),
                               QString(), QStringLiteral("Ñoquis")};
    const QStringList amounts{QStringLiteral("12.5"), QStringLiteral("0.01"),
                              QStringLiteral("131072.01"), QStringLiteral("3"),
                              QStringLiteral("999.99")};
    std::vector<QStringList> rows{{QStringLiteral("Folio"), QStringLiteral("Marca")}};
    for (int i = 0; i < count; ++i) {
        if (i % 11 == 5)
            rows.push_back(emptyRow());
        else if (i % 7 == 3)
            rows.push_back(sale(QStringLiteral("0"), QStringLiteral("10")));
        else if (i % 13 == 6)
            rows.push_back(
                sale(QStringLiteral("1"), i % 2 ? QStringLiteral("0") : QStringLiteral("-4.5")));
        else
            rows.push_back(sale(i % 17 == 8 ? QStringLiteral("  ") : QString::number(i + 1),
                                amounts[i % amounts.size()], descrips[i % descrips.size()],
                                i % 2 ? QStringLiteral("31/01/2026")
                                      : QStringLiteral("2026-02-%1").arg(i % 28 + 1)));
    }
    return rows;
}

class BulkSinkTest : public ScanFixture {
protected:
    // Runs the walk from ticket 100 with the bulk path (or row by row without limits), over
    // tables that hold only the taken numbers.
    Outcome run(const std::vector<QStringList>& rows, const std::vector<int>& taken,
                std::optional<BatchLimits> bulk, bool secondConnections = true)
    {
        db->exec(QStringLiteral("DELETE FROM ticketsdetalle"));
        db->exec(QStringLiteral("DELETE FROM tickets"));
        for (int venta : taken)
            db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                    "VALUES (%1, '2020-01-01', '10:00', 1, 1)")
                         .arg(venta));
        writeFile(state.cArchivo, csv(rows));
        state.nTicket = 100;

        std::unique_ptr<generation::TicketSink> sink;
        if (bulk)
            sink = std::make_unique<generation::BulkSink>(state,
                                                          !secondConnections
                                                              ? generation::ConnectionSource{}
                                                          : writers.open ? writers
                                                                         : connections(),
                                                          *bulk);
        else
            sink = std::make_unique<generation::RowByRowSink>(state, *support::oBases);
        Events events;
        Outcome outcome;
        generation::Figures f;
        try {
            f = generation::RecorrerHoja(state, surface, sink.get(), &events);
        } catch (const generation::WalkFailure& e) {
            outcome.failedAt = e.row;
        }
        outcome.tickets = tickets();
        outcome.lines = lines();
        outcome.events = events.seen;
        outcome.counters = QStringLiteral("%1 %2 %3 | %4 %5 %6 %7 %8 %9 %10 %11-%12")
                               .arg(state.nTicket.value())
                               .arg(state.nRenglon.value())
                               .arg(state.nVacios.value())
                               .arg(f.rowsRead)
                               .arg(f.saleRows)
                               .arg(f.written)
                               .arg(f.existed)
                               .arg(f.zeroMarker)
                               .arg(f.notPositive)
                               .arg(f.amountWritten, 0, 'f', 2)
                               .arg(f.firstTicket)
                               .arg(f.lastTicket);
        state.oLibro.reset();
        return outcome;
    }

    // A fault the test adds to its own database (the program never creates or alters tables):
    // rows whose column holds the value cannot be stored.
    void addFault(const QString& name, const QString& table, const QString& column,
                  const QString& value)
    {
        if (db->engine() == Engine::MariaDB)
            db->exec(QStringLiteral("ALTER TABLE %1 ADD CONSTRAINT %2 CHECK (%3 <> %4)")
                         .arg(table, name, column, value));
        else
            db->exec(QStringLiteral("CREATE TRIGGER %1 BEFORE INSERT ON %2 WHEN NEW.%3 = %4 "
                                    "BEGIN SELECT RAISE(ABORT, 'falla simulada'); END")
                         .arg(name, table, column, value));
    }

    generation::ConnectionSource connections()
    {
        return generation::ConnectionsLike(*support::oBases);
    }

    // A fresh database for one case of a table.
    void freshDatabase()
    {
        support::oBases->CierraBdD(state.cnBase);
        db = std::make_unique<TestDatabase>(GetParam());
        db->configure(*support::oBases);
        ASSERT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()))
            << support::oBases->UltimoError().toStdString();
        if (cannotRollBack)
            useTablesThatCannotRollBack();
    }

    // Old POS databases: MyISAM tables.
    void useTablesThatCannotRollBack()
    {
        cannotRollBack = true;
        db->exec(QStringLiteral("ALTER TABLE tickets ENGINE=MyISAM"));
        db->exec(QStringLiteral("ALTER TABLE ticketsdetalle ENGINE=MyISAM"));
    }

    void sameResultAsTheRowByRowPath();
    void failureInsideABatch();

    bool cannotRollBack = false;
    // Where the bulk path's writer gets its connection, when not as the walk's.
    generation::ConnectionSource writers;
};

struct SameResultCase {
    const char* name;
    std::vector<QStringList> rows;
    std::vector<int> taken;
    BatchLimits limits;
    bool oneConnection = false; // no second connection: the batches go on cnBase
};

void BulkSinkTest::sameResultAsTheRowByRowPath()
{
    std::vector<QStringList> trailing = mixedRows(20);
    for (const QStringList& row : {sale(QStringLiteral("0"), QStringLiteral("5")),
                                   sale(QStringLiteral("1"), QStringLiteral("-1")), emptyRow(),
                                   sale(QStringLiteral("1"), QStringLiteral("0")),
                                   sale(QStringLiteral("0"), QStringLiteral("8"))})
        trailing.push_back(row);
    std::vector<QStringList> twoBatches{{}};
    for (int i = 0; i < 10; ++i)
        twoBatches.push_back(sale(QStringLiteral("1"), QString::number(i + 1)));
    std::vector<QStringList> twoBatchesAndOne = twoBatches;
    twoBatchesAndOne.push_back(sale(QStringLiteral("1"), QStringLiteral("11")));

    const std::vector<SameResultCase> cases{
        {"scattered taken numbers", mixedRows(45), {99, 101, 104, 105, 117, 130, 500}, {4, 500}},
        {"every number taken",
         mixedRows(30),
         [] {
             std::vector<int> all(40);
             std::iota(all.begin(), all.end(), 100);
             return all;
         }(),
         {4, 500}},
        {"last rows are no sales", trailing, {102}, {3, 500}},
        {"exactly two batches", twoBatches, {}, {5, 500}},
        {"two batches and one", twoBatchesAndOne, {}, {5, 500}},
        {"statement sizes of a partial batch", mixedRows(55), {103}, {40, 500}},
        {"a batch per ticket", mixedRows(25), {101, 110}, {1000, 0}},
        {"on the walk's connection", mixedRows(45), {101, 104, 117}, {4, 500}, true},
        {"batches that grow up to their bound", mixedRows(150), {103, 140}, {3, 500, 20}},
        {"without the server's loader", mixedRows(45), {101, 117}, {4, 500, 8000, false}},
        // Batches handed over cut into parts and joined again to a transaction's few tickets.
        {"a time budget of a millisecond", mixedRows(400), {150, 300}, {200, 500, 400, true, 1}},
    };
    for (const SameResultCase& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome expected = run(c.rows, c.taken, std::nullopt);
        Outcome bulk = run(c.rows, c.taken, c.limits, !c.oneConnection);
        for (const QString& line : bulk.lines)
            EXPECT_TRUE(line.endsWith(QStringLiteral("|linked"))) << line.toStdString();
        // Written is told at the commit, after the rows read meanwhile.
        expected.events = sorted(expected.events);
        bulk.events = sorted(bulk.events);
        EXPECT_EQ(bulk, expected);
        EXPECT_EQ(bulk.failedAt, 0);
    }
}

struct FailureCase {
    const char* name;
    int column;             // the cell of row 9 that the case changes (0 for A) ...
    const char* text;       // ... to this text
    const char* faultTable; // and the rows of this table whose column holds the value fail
    const char* faultColumn;
    const char* faultValue;
};

void BulkSinkTest::failureInsideABatch()
{
    // Rows 2 to 13 are sales, tickets 100 to 111, in batches of 4 tickets. Row 8 (ticket 106)
    // is the third ticket of the second batch.
    constexpr int failingRow = 8;
    const std::vector<FailureCase> cases{
        {"line", 7, "falla", "ticketsdetalle", "Descrip", "'FALLA'"},
        {"header", 7, "x", "tickets", "Venta", "106"},
        {"date in the walk", 3, "mañana", nullptr, nullptr, nullptr},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        freshDatabase();
        std::vector<QStringList> rows{{}};
        for (int i = 0; i < 12; ++i)
            rows.push_back(sale(QStringLiteral("1"), QString::number(i + 1),
                                QStringLiteral("Artículo %1").arg(i)));
        rows[failingRow - 1][c.column] = QString::fromUtf8(c.text);
        if (c.faultTable)
            addFault(QStringLiteral("falla"), QString::fromUtf8(c.faultTable),
                     QString::fromUtf8(c.faultColumn), QString::fromUtf8(c.faultValue));

        Outcome expected = run(rows, {}, std::nullopt);
        Outcome bulk = run(rows, {}, BatchLimits{4, 500});
        expected.events = sorted(expected.events);
        bulk.events = sorted(bulk.events);
        EXPECT_EQ(bulk, expected);

        EXPECT_EQ(bulk.failedAt, failingRow);
        EXPECT_EQ(state.nRenglon, failingRow);
        EXPECT_EQ(bulk.tickets.size(), failingRow - 2); // rows 2 to 7
        EXPECT_EQ(bulk.lines.size(), bulk.tickets.size());
        for (const QString& line : bulk.lines)
            EXPECT_TRUE(line.endsWith(QStringLiteral("|linked"))) << line.toStdString();
        // Written is told only for what was committed.
        EXPECT_EQ(bulk.events.size(), bulk.tickets.size());
    }
}

TEST_P(BulkSinkTest, GivesTheResultOfTheRowByRowPath)
{
    sameResultAsTheRowByRowPath();
}

TEST_P(BulkSinkTest, AFailureInsideABatchKeepsEveryTicketBeforeItsRowAndNoneAfter)
{
    failureInsideABatch();
}

// The same on tables that cannot roll back: what a failed batch wrote is removed by its keys.
TEST_P(BulkSinkTest, OnTablesThatCannotRollBackTheResultIsTheSame)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite tables always roll back";
    useTablesThatCannotRollBack();
    {
        SCOPED_TRACE("same result");
        sameResultAsTheRowByRowPath();
    }
    {
        SCOPED_TRACE("failure inside a batch");
        failureInsideABatch();
    }
}

// A server that hands out keys in steps (one of a pair that replicate both ways, say): the
// keys cannot be counted from the first one and are read back, and every line still gets its
// header's.
TEST_P(BulkSinkTest, KeysThatStepByMoreThanOneStillLinkEveryLine)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite's keys always step by one";
    const generation::ConnectionSource plain = connections();
    writers.open = [plain] {
        krvt5::ConnectionRef writer = plain.open();
        QSqlQuery(writer->database())
            .exec(QStringLiteral("SET SESSION auto_increment_increment = 3"));
        return writer;
    };
    const std::vector<QStringList> rows = mixedRows(60);
    for (const bool loader : {true, false}) {
        SCOPED_TRACE(loader ? "loader" : "inserts");
        Outcome expected = run(rows, {104, 120}, std::nullopt);
        Outcome bulk = run(rows, {104, 120}, BatchLimits{4, 500, 8000, loader});
        for (const QString& line : bulk.lines)
            EXPECT_TRUE(line.endsWith(QStringLiteral("|linked"))) << line.toStdString();
        expected.events = sorted(expected.events);
        bulk.events = sorted(bulk.events);
        EXPECT_EQ(bulk, expected);
        QSqlQuery gaps(state.cnBase->database());
        ASSERT_TRUE(gaps.exec(QStringLiteral("SELECT MAX(Id) - MIN(Id) FROM tickets")));
        ASSERT_TRUE(gaps.next());
        EXPECT_GT(gaps.value(0).toInt(), bulk.tickets.size()); // the keys did step
    }
}

TEST_P(BulkSinkTest, AServerThatRefusesItsLoaderGetsTheSameTicketsByInserts)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only MySQL has a loader";
    // The server's setting: other tests running meanwhile fall back the same way, unharmed.
    struct LoaderOff {
        TestDatabase& db;
        explicit LoaderOff(TestDatabase& d) : db(d)
        {
            db.exec(QStringLiteral("SET GLOBAL local_infile = 0"));
        }
        ~LoaderOff() { db.exec(QStringLiteral("SET GLOBAL local_infile = 1")); }
    };
    const std::vector<QStringList> rows = mixedRows(60);
    Outcome expected = run(rows, {104, 120}, std::nullopt);
    Outcome bulk;
    {
        const LoaderOff off(*db);
        bulk = run(rows, {104, 120}, BatchLimits{4, 500});
    }
    expected.events = sorted(expected.events);
    bulk.events = sorted(bulk.events);
    EXPECT_EQ(bulk, expected);
    EXPECT_EQ(bulk.failedAt, 0);
}

TEST_P(BulkSinkTest, AValueTooLongForItsColumnFailsAtItsRowInsteadOfBeingCut)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "SQLite does not bound the length of a text";
    // The server's loader would cut the text with a mere warning; the row-by-row path fails.
    freshDatabase();
    db->exec(QStringLiteral("ALTER TABLE ticketsdetalle MODIFY Descrip VARCHAR(8) NOT NULL"));
    std::vector<QStringList> rows{{}};
    for (int i = 0; i < 12; ++i)
        rows.push_back(
            sale(QStringLiteral("1"), QString::number(i + 1), QStringLiteral("Art %1").arg(i)));
    rows[7][7] = QStringLiteral("Artículo largo");

    Outcome expected = run(rows, {}, std::nullopt);
    Outcome bulk = run(rows, {}, BatchLimits{4, 500});
    expected.events = sorted(expected.events);
    bulk.events = sorted(bulk.events);
    EXPECT_EQ(bulk, expected);
    EXPECT_EQ(bulk.failedAt, 8);
    EXPECT_EQ(bulk.tickets.size(), 6);
}

// Kills a connection on the server when the walk tells it about a row.
class KillAtRow : public generation::ScanObserver {
public:
    KillAtRow(TestDatabase& db, QString connectionId, int row)
        : db_(db), id_(std::move(connectionId)), row_(row)
    {}
    void onRow(const generation::RowEvent& e) override
    {
        if (e.row == row_)
            db_.exec(QStringLiteral("KILL ") + id_);
    }

private:
    TestDatabase& db_;
    QString id_;
    int row_;
};

TEST_P(BulkSinkTest, ALostWalkConnectionStopsTheRunAtARowWithEveryTicketBeforeIt)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only a server connection can be lost";
    // The run's lock lives on cnBase: once it is gone nothing more may be handed over.
    QSqlQuery id(state.cnBase->database());
    ASSERT_TRUE(id.exec(QStringLiteral("SELECT CONNECTION_ID()")) && id.next());
    std::vector<QStringList> rows{{}};
    for (int i = 0; i < 30; ++i)
        rows.push_back(sale(QStringLiteral("1"), QString::number(i + 1)));
    rows[9][1] = QStringLiteral("0"); // row 10 is told at once: the connection dies there
    writeFile(state.cArchivo, csv(rows));
    generation::BulkSink sink(state, connections(), BatchLimits{4, 500});
    KillAtRow killer(*db, id.value(0).toString(), 10);
    QString message;
    int failedAt = 0;
    try {
        generation::RecorrerHoja(state, surface, &sink, &killer);
    } catch (const generation::WalkFailure& e) {
        message = e.message();
        failedAt = e.row;
    }
    ASSERT_FALSE(message.isEmpty()) << "the run should fail";
    EXPECT_GT(failedAt, 10) << message.toStdString();
    EXPECT_EQ(state.nRenglon, failedAt);
    // Every sale row before the failing one, row 10 aside.
    EXPECT_EQ(tickets().size(), failedAt - 3) << message.toStdString();
    EXPECT_EQ(lines().size(), tickets().size());
    state.oLibro.reset();
}

struct SchemaCase {
    const char* name;
    const char* mariadb;
    const char* sqlite;
    const char* named; // what the message must name
};

TEST_P(BulkSinkTest, ATableOrColumnThatIsMissingIsAFailureNamingIt)
{
    const std::vector<SchemaCase> cases{
        {"column", "ALTER TABLE ticketsdetalle CHANGE Descrip Descripcion VARCHAR(60) NOT NULL",
         "ALTER TABLE ticketsdetalle RENAME COLUMN Descrip TO Descripcion",
         "columna \"Descrip\" en la tabla \"ticketsdetalle\""},
        {"table", "DROP TABLE ticketsdetalle", "DROP TABLE ticketsdetalle",
         "tabla \"ticketsdetalle\""},
    };
    for (const SchemaCase& c : cases) {
        SCOPED_TRACE(c.name);
        freshDatabase();
        db->exec(QString::fromUtf8(db->engine() == Engine::MariaDB ? c.mariadb : c.sqlite));
        writeFile(state.cArchivo, csv({{},
                                       sale(QStringLiteral("0"), QStringLiteral("1")),
                                       sale(QStringLiteral("1"), QStringLiteral("2"))}));
        state.nTicket = 100;
        generation::BulkSink sink(state, connections());
        try {
            generation::RecorrerHoja(state, surface, &sink);
            ADD_FAILURE() << "the run should fail";
        } catch (const generation::WalkFailure& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.named))) << e.what();
            EXPECT_EQ(e.row, 3) << e.what();
        }
        EXPECT_TRUE(tickets().isEmpty());
        state.oLibro.reset();
    }
}

// The walk formats a batch's rows in one text; a transaction may take a part of one batch and
// a part of the next, or only some of them (numbers taken meanwhile): the loader still gets
// each ticket's rows, each line with its header's key, or the store fails.
TEST_P(BulkSinkTest, RowsFormattedAheadGoByTheLoaderHoweverATransactionTakesThem)
{
    if (GetParam() != Engine::MariaDB)
        GTEST_SKIP() << "only MySQL has a loader";
    krvt5::Connection& connection = *state.cnBase;
    generation::TicketStore store(connection, 1000, true, generation::TableFacts::read(connection),
                                  dir.path());
    std::vector<generation::Ticket> formatted(12);
    const auto first = std::make_shared<generation::LoadText>();
    const auto second = std::make_shared<generation::LoadText>();
    for (std::size_t i = 0; i < formatted.size(); ++i) {
        generation::Ticket& ticket = formatted[i];
        ticket.venta = 200 + std::int32_t(i);
        ticket.fechaEncabezado = ticket.fechaDetalle = QDate(2026, 3, 1 + int(i));
        ticket.importe = 10.25 + double(i);
        ticket.descrip = QStringLiteral("PAN\tDULCE Ñ%1").arg(i);
        ticket.row = 2 + std::int32_t(i);
        ticket.ordinal = std::uint32_t(i) + 1;
        const auto& text = i < 6 ? first : second;
        generation::FormatLoadText(*text, ticket, QStringLiteral("10:00"),
                                   QString::number(ticket.importe, 'f', 2));
        ticket.loadText = text;
    }
    const std::vector<std::vector<std::size_t>> transactions{
        {1, 2, 3, 4, 5, 6, 7, 8}, // the end of one text and the start of the next
        {0, 9, 11},               // some passed over: the ordinals leave gaps
        {10}};
    for (const auto& picked : transactions) {
        std::vector<generation::Ticket> batch;
        for (const std::size_t i : picked)
            batch.push_back(formatted[i]);
        store.begin();
        ASSERT_NO_THROW(store.insertBatch(batch));
        connection.CommitTrans();
    }
    std::vector<QStringList> expected;
    for (const generation::Ticket& ticket : formatted)
        expected.push_back({QString::number(ticket.venta), QString::number(ticket.importe, 'f', 2),
                            ticket.descrip, QStringLiteral("1")});
    EXPECT_EQ(db->rows(QStringLiteral("SELECT t.Venta, t.Total, d.Descrip, d.IdTicket = t.Id "
                                      "FROM tickets t JOIN ticketsdetalle d ON d.Venta = t.Venta "
                                      "ORDER BY t.Venta")),
              expected);
}

INSTANTIATE_TEST_SUITE_P(Engines, BulkSinkTest, testing::ValuesIn(engines()), engineName);

TEST(LoadFiles, OnlyThoseOfAProcessThatIsGoneAreRemoved)
{
    QProcess ended;
    ended.start(QStringLiteral("true"), {});
    ASSERT_TRUE(ended.waitForStarted());
    const qint64 gone = ended.processId();
    ASSERT_TRUE(ended.waitForFinished());
    const QDir temp(QDir::tempPath());
    const QString abandoned =
        temp.filePath(QStringLiteral("generar-tickets-carga-%1-prueba").arg(gone));
    const QString inUse = temp.filePath(
        QStringLiteral("generar-tickets-carga-%1-prueba").arg(QCoreApplication::applicationPid()));
    const QString other = temp.filePath(QStringLiteral("generar-tickets-carga-x-prueba"));
    for (const QString& path : {abandoned, inUse, other})
        writeFile(path, "1\t2\n");

    generation::removeAbandonedLoadFiles();
    EXPECT_FALSE(QFile::exists(abandoned));
    EXPECT_TRUE(QFile::exists(inUse));
    EXPECT_TRUE(QFile::exists(other));
    QFile::remove(inUse);
    QFile::remove(other);
}

} // namespace

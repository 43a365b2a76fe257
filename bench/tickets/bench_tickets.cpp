// Speed of the whole job (open the workbook, scan, write the tickets and the run report, close)
// on MariaDB and SQLite, beside two references on the same data and server:
//   row-by-row: the baseline, the plain row-by-row write through the component with an
//              existence query and a commit for every record, nothing kept between rows;
//   limit:     the same header and detail rows loaded by the server's own loader (LOAD DATA
//              LOCAL INFILE; multi-row INSERT where it is refused) on MariaDB, one transaction
//              of prepared inserts on SQLite.
//   limit in transactions: the same rows loaded the same way, but in as many transactions
//              as the job's writing took, each keeping other writers out until its commit
//              (LOCK TABLES, BEGIN IMMEDIATE): what the job adds to it is its own.
// The confirmation's check (the dry run the window makes before its question) is timed on the
// same workbooks, on an empty database and on one where every number is taken.
// Every measured case runs in a process of its own, so that its peak memory is its own. "cpu s"
// is that process's time, "srv s" the MariaDB server's meanwhile (GT_MYSQL_PID). Before a case
// that writes, the MariaDB server writes out what the cases before left in memory (its user may
// set innodb_max_dirty_pages_pct): a shop's server does not take a 100,000-row load a second.
// The largest size's full job runs again, as often as the others, while a stand-in POS, on a
// connection of its own, sells, 5 ms after each sale, a number of the run's range ahead of the
// run (a read, the header, its line, a commit, in one transaction; every other sale reads with a
// lock, the others as QtSql's transaction() begins, without one); the same POS then sells as
// long with no run going. The fastest job is kept; the p50, p99 and longest wait of the POS's
// sales in all rounds are printed beside the targets (MariaDB 100 ms, SQLite 250 ms), and the
// tables are checked for a number stored twice or a ticket without its line.
//
//   bench_tickets [--rows 20000,100000] [--formats xlsx,csv] [--engines mariadb,sqlite]
//                 [--row-by-row-rows 2000] [--repeat 3] [--dir folder]
//   bench_tickets --smoke   300 rows, every case; fails when the bulk path and the row-by-row
//                           baseline leave different rows, a re-run writes anything, a POS sale
//                           fails, or a number is stored twice
//
// MariaDB is the server of GT_MYSQL_HOST, GT_MYSQL_PORT, GT_MYSQL_USER and GT_MYSQL_PASSWORD
// (scripts/bench and scripts/test start one); without GT_MYSQL_PORT only SQLite runs, unless
// GT_REQUIRE_MYSQL=1. The row-by-row baseline commits twice per ticket, so it is timed on the
// first --row-by-row-rows rows of the same workbook.

#include "Workbooks.h"
#include "common/PeakMemory.h"
#include "generation/BulkSink.h"
#include "generation/RowByRowSink.h"
#include "generation/RunControl.h"
#include "generation/RunDetails.h"
#include "generation/RunReport.h"
#include "generation/TicketSink.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTime>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

enum class Engine { MariaDB, SQLite };

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

QString engineName(Engine engine)
{
    return engine == Engine::MariaDB ? QStringLiteral("mariadb") : QStringLiteral("sqlite");
}

[[noreturn]] void die(const QString& message)
{
    std::fprintf(stderr, "bench_tickets: %s\n", qPrintable(message));
    std::exit(2);
}

using bench::peakKiB;

void exec(QSqlQuery& query, const QString& statement)
{
    if (!query.exec(statement))
        die(statement.left(200) + QStringLiteral(": ") + query.lastError().text());
}

// The project's schema file as single statements (the driver must never get them joined).
// A fifth of the default redo log (96 MB): what a single run of a shop leaves behind.
constexpr qint64 kSettledCheckpointAge = 20 << 20;

QStringList schema(Engine engine)
{
    QFile file(QStringLiteral(GT_SCHEMA_DIR "/") + (engine == Engine::MariaDB
                                                        ? QStringLiteral("mysql.sql")
                                                        : QStringLiteral("sqlite.sql")));
    if (!file.open(QIODevice::ReadOnly))
        die(QStringLiteral("cannot read ") + file.fileName());
    QString text;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (!line.trimmed().startsWith(QStringLiteral("--")))
            text += line + u'\n';
    }
    QStringList statements;
    for (const QString& statement : text.split(u';')) {
        if (!statement.trimmed().isEmpty())
            statements.append(statement.trimmed());
    }
    return statements;
}

QSqlDatabase openMariaDb(const QString& connection, const QString& database)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connection);
    db.setHostName(env("GT_MYSQL_HOST").isEmpty() ? QStringLiteral("127.0.0.1")
                                                  : env("GT_MYSQL_HOST"));
    db.setPort(env("GT_MYSQL_PORT").toInt());
    db.setDatabaseName(database);
    if (!db.open(env("GT_MYSQL_USER"), env("GT_MYSQL_PASSWORD")))
        die(QStringLiteral("cannot connect to MariaDB: ") + db.lastError().text());
    return db;
}

// ---------------------------------------------------------------------------------------------
// The measured cases, each in a child process.

class NullSurface : public support::Surface {
public:
    support::Answer showMessage(const support::Message& m) override { return m.defaultAnswer; }
    void setCaption(support::Label, const QString&) override {}
    QString caption(support::Label) const override { return {}; }
    void setVisible(support::Label, bool) override {}
    void setEnabled(bool) override {}
    void paintPending() override {}
};

struct CaseArgs {
    QString kind; // row-by-row, bulk, check, limit
    Engine engine = Engine::SQLite;
    QString database;
    QString folder; // SQLite: where <database>.db is; limit: where the rows to load are
    QString workbook;
    int transactions = 0; // limit: how many the rows are loaded in (0: one, its fastest way)
};

// User and system time of this process.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void printResult(double seconds, double cpu, int rows, int tickets, int existed,
                 const QString& method, const generation::TransactionTimes& held = {})
{
    std::printf("RESULT %.6f %ld %d %d %d %s %.6f %lld %lld %d\n", seconds, peakKiB(), rows,
                tickets, existed, qPrintable(method), cpu, static_cast<long long>(held.longestMs),
                static_cast<long long>(held.totalMs), held.count);
}

// The full job as the program runs it: ProcesarVentas opens the database, the spreadsheet
// application and the workbook, scans, writes and closes, and the run report gets its lines.
int runJob(const CaseArgs& a)
{
    support::CrearObjetos();
    krvt5::BasesDD& bases = *support::oBases;
    if (a.engine == Engine::MariaDB) {
        bases.cRuta =
            env("GT_MYSQL_HOST").isEmpty() ? QStringLiteral("127.0.0.1") : env("GT_MYSQL_HOST");
        bases.cPuerto = env("GT_MYSQL_PORT");
        bases.cUsuario = env("GT_MYSQL_USER");
        bases.cPassword = env("GT_MYSQL_PASSWORD");
    } else {
        bases.cRuta = QStringLiteral("sqlite:") + a.folder;
    }
    bases.cMiBase = a.database;

    generation::WindowState state;
    state.cArchivo = a.workbook;
    state.nTicket = 1;
    NullSurface surface;
    if (a.kind == QLatin1String("check")) {
        QElapsedTimer timer;
        const double cpu = cpuSeconds();
        timer.start();
        const QString details = generation::CheckBeforeRun(state, surface);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (!details.startsWith(QStringLiteral("Tickets que se escribirán")))
            die(QStringLiteral("the check failed: ") + details);
        printResult(seconds, cpuSeconds() - cpu, 0, 0, 0, a.kind);
        support::TerminarComun();
        return 0;
    }
    generation::RowByRowSink rowByRow(state, bases, generation::RowByRowSink::Commit::PerRecord);
    // As the program's own, kept to read its longest hold.
    generation::BulkSink bulk(state, generation::ConnectionsLike(bases));
    // The program keeps its run report in its folder, a line per row.
    generation::RunReport report(QDir(a.folder).filePath(QStringLiteral("generar-tickets.log")));
    QElapsedTimer timer;
    const double cpu = cpuSeconds();
    timer.start();
    report.begin(QStringLiteral("medición"), a.workbook, bases.cRuta, bases.cMiBase,
                 bases.cUsuario);
    const generation::Figures f = generation::ProcesarVentas(
        state, surface, &report,
        a.kind == QLatin1String("row-by-row") ? static_cast<generation::TicketSink*>(&rowByRow)
                                              : &bulk);
    report.end(f);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    printResult(seconds, cpuSeconds() - cpu, f.rowsRead, f.written, f.existed, a.kind,
                bulk.transactionTimes());
    support::TerminarComun();
    return 0;
}

// Tab-separated rows as dumpRows writes them.
std::vector<QStringList> readRows(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        die(QStringLiteral("cannot read ") + path);
    std::vector<QStringList> rows;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QStringList fields = QString::fromUtf8(line).split(u'\t');
        for (QString& field : fields)
            field.replace(QStringLiteral("\\t"), QStringLiteral("\t"))
                .replace(QStringLiteral("\\n"), QStringLiteral("\n"))
                .replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        rows.push_back(fields);
    }
    return rows;
}

const QStringList kHeaderColumns{QStringLiteral("Id"),       QStringLiteral("Venta"),
                                 QStringLiteral("Fecha"),    QStringLiteral("Hora"),
                                 QStringLiteral("Efectivo"), QStringLiteral("Total")};
const QStringList kLineColumns{
    QStringLiteral("Venta"),    QStringLiteral("Partida"),  QStringLiteral("Fecha"),
    QStringLiteral("Hora"),     QStringLiteral("Producto"), QStringLiteral("Descrip"),
    QStringLiteral("Cantidad"), QStringLiteral("Precio"),   QStringLiteral("IdTicket")};

// Prepared inserts of many rows per statement, values bound.
void insertRows(QSqlDatabase& db, const QString& table, const QStringList& columns,
                const std::vector<QStringList>& rows, int perStatement)
{
    std::map<int, std::unique_ptr<QSqlQuery>> statements;
    const QString one =
        QStringLiteral("(") + QStringLiteral("?, ").repeated(columns.size() - 1) + u'?' + u')';
    for (std::size_t at = 0; at < rows.size(); at += std::size_t(perStatement)) {
        const int n = int(std::min(rows.size() - at, std::size_t(perStatement)));
        auto& query = statements[n];
        if (!query) {
            QStringList values;
            for (int i = 0; i < n; ++i)
                values.append(one);
            query = std::make_unique<QSqlQuery>(db);
            if (!query->prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                    .arg(table, columns.join(u','), values.join(u','))))
                die(table + QStringLiteral(": ") + query->lastError().text());
        }
        int position = 0;
        for (int i = 0; i < n; ++i) {
            for (const QString& value : rows[at + std::size_t(i)])
                query->bindValue(position++, value);
        }
        if (!query->exec())
            die(table + QStringLiteral(": ") + query->lastError().text());
    }
}

QSqlDatabase openLimitDatabase(const CaseArgs& a)
{
    if (a.engine == Engine::MariaDB)
        return openMariaDb(QStringLiteral("limit"), a.database);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("limit"));
    db.setDatabaseName(QDir(a.folder).filePath(a.database + QStringLiteral(".db")));
    if (!db.open())
        die(db.lastError().text());
    return db;
}

bool loadFile(QSqlQuery& query, const QString& file, const QString& table,
              const QStringList& columns)
{
    return query.exec(
        QStringLiteral("LOAD DATA LOCAL INFILE '%1' INTO TABLE %2 "
                       "CHARACTER SET utf8mb4 FIELDS TERMINATED BY '\\t' "
                       "ESCAPED BY '\\\\' LINES TERMINATED BY '\\n' (%3)")
            .arg(QString(file).replace(u'\'', QStringLiteral("''")), table, columns.join(u',')));
}

// Which of `parts` slices of (nearly) equal size, in order, row `i` of `rows` falls in.
std::size_t sliceOf(std::size_t i, std::size_t rows, int parts)
{
    return i * std::size_t(parts) / rows;
}

std::vector<std::vector<QStringList>> slices(const std::vector<QStringList>& rows, int parts)
{
    std::vector<std::vector<QStringList>> out(static_cast<std::size_t>(parts));
    for (std::size_t i = 0; i < rows.size(); ++i)
        out[sliceOf(i, rows.size(), parts)].push_back(rows[i]);
    return out;
}

// <table>.tsv of `folder` cut into <table>-<i>.tsv, slice by slice.
QStringList splitFile(const QString& folder, const QString& table, int parts)
{
    QFile in(QDir(folder).filePath(table + QStringLiteral(".tsv")));
    if (!in.open(QIODevice::ReadOnly))
        die(QStringLiteral("cannot read ") + in.fileName());
    QList<QByteArray> rows = in.readAll().split('\n');
    rows.removeAll(QByteArray());
    QStringList files;
    std::vector<QByteArray> blocks(static_cast<std::size_t>(parts));
    for (qsizetype i = 0; i < rows.size(); ++i)
        blocks[sliceOf(std::size_t(i), std::size_t(rows.size()), parts)] += rows[i] + '\n';
    for (int i = 0; i < parts; ++i) {
        QFile out(QDir(folder).filePath(QStringLiteral("%1-%2.tsv").arg(table).arg(i)));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            out.write(blocks[std::size_t(i)]) != blocks[std::size_t(i)].size())
            die(QStringLiteral("cannot write ") + out.fileName());
        files.append(out.fileName());
    }
    return files;
}

// The limit in `parts` transactions: MariaDB loads each slice from a file of its own under
// LOCK TABLES, SQLite inserts it in a BEGIN IMMEDIATE transaction.
int runLimitInParts(const CaseArgs& a, const std::vector<QStringList>& headers,
                    const std::vector<QStringList>& lines, int parts)
{
    // Cut before the clock starts, as the whole limit's rows are read.
    QStringList headerFiles;
    QStringList lineFiles;
    std::vector<std::vector<QStringList>> headerSlices;
    std::vector<std::vector<QStringList>> lineSlices;
    if (a.engine == Engine::MariaDB) {
        headerFiles = splitFile(a.folder, QStringLiteral("tickets"), parts);
        lineFiles = splitFile(a.folder, QStringLiteral("ticketsdetalle"), parts);
    } else {
        headerSlices = slices(headers, parts);
        lineSlices = slices(lines, parts);
    }
    QSqlDatabase db = openLimitDatabase(a);
    QSqlQuery query(db);
    QElapsedTimer timer;
    const double cpu = cpuSeconds();
    timer.start();
    if (a.engine == Engine::MariaDB)
        exec(query, QStringLiteral("SET autocommit = 0"));
    for (int i = 0; i < parts; ++i) {
        const auto at = std::size_t(i);
        if (a.engine == Engine::MariaDB) {
            exec(query, QStringLiteral("LOCK TABLES tickets WRITE, ticketsdetalle WRITE"));
            if (!loadFile(query, headerFiles[i], QStringLiteral("tickets"), kHeaderColumns) ||
                !loadFile(query, lineFiles[i], QStringLiteral("ticketsdetalle"), kLineColumns))
                die(QStringLiteral("LOAD DATA LOCAL INFILE refused: ") + query.lastError().text());
            exec(query, QStringLiteral("COMMIT"));
            exec(query, QStringLiteral("UNLOCK TABLES"));
        } else {
            exec(query, QStringLiteral("BEGIN IMMEDIATE"));
            insertRows(db, QStringLiteral("tickets"), kHeaderColumns, headerSlices[at], 1);
            insertRows(db, QStringLiteral("ticketsdetalle"), kLineColumns, lineSlices[at], 1);
            exec(query, QStringLiteral("COMMIT"));
        }
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    printResult(seconds, cpuSeconds() - cpu, 0, int(headers.size()), 0,
                parts == 1 ? QStringLiteral("in_1_transaction")
                           : QStringLiteral("in_%1_transactions").arg(parts));
    query = QSqlQuery();
    db.close();
    return 0;
}

// The limit: the rows the job wrote, loaded by the fastest means each engine offers. Given a
// number of transactions, it loads them as the job writes them: in that many of equal size,
// each keeping other writers out from its start to its commit, so that what the job adds to
// that is the workbook's reading and its own work.
int runLimit(const CaseArgs& a)
{
    const QString headerFile = QDir(a.folder).filePath(QStringLiteral("tickets.tsv"));
    const QString lineFile = QDir(a.folder).filePath(QStringLiteral("ticketsdetalle.tsv"));
    // Read before the clock starts: the loader starts from rows at hand.
    const std::vector<QStringList> headers = readRows(headerFile);
    const std::vector<QStringList> lines = readRows(lineFile);
    if (a.transactions > 0)
        return runLimitInParts(a, headers, lines,
                               std::clamp(a.transactions, 1, std::max(1, int(headers.size()))));

    QSqlDatabase db = openLimitDatabase(a);
    QString method;
    QElapsedTimer timer;
    const double cpu = cpuSeconds();
    timer.start();
    QSqlQuery query(db);
    if (!db.transaction())
        die(db.lastError().text());
    if (a.engine == Engine::MariaDB) {
        method = QStringLiteral("LOAD DATA LOCAL INFILE");
        if (!loadFile(query, headerFile, QStringLiteral("tickets"), kHeaderColumns) ||
            !loadFile(query, lineFile, QStringLiteral("ticketsdetalle"), kLineColumns)) {
            std::fprintf(stderr, "LOAD DATA LOCAL INFILE refused (%s): multi-row INSERT instead\n",
                         qPrintable(query.lastError().text()));
            db.rollback();
            method = QStringLiteral("multi-row INSERT");
            timer.restart();
            if (!db.transaction())
                die(db.lastError().text());
            insertRows(db, QStringLiteral("tickets"), kHeaderColumns, headers, 1000);
            insertRows(db, QStringLiteral("ticketsdetalle"), kLineColumns, lines, 1000);
        }
    } else {
        method = QStringLiteral("one transaction of prepared inserts");
        insertRows(db, QStringLiteral("tickets"), kHeaderColumns, headers, 1);
        insertRows(db, QStringLiteral("ticketsdetalle"), kLineColumns, lines, 1);
    }
    if (!db.commit())
        die(db.lastError().text());
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    printResult(seconds, cpuSeconds() - cpu, 0, int(headers.size()), 0,
                QString(method).replace(u' ', u'_'));
    query = QSqlQuery();
    db.close();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent: workbooks, databases, children and the table.

struct Result {
    double seconds = 0;
    double cpu = 0;                  // this process's own: the server's is not in it
    std::optional<double> serverCpu; // MariaDB's while the case ran, connecting included
    generation::TransactionTimes
        held; // the bulk path's; longest of all runs, the rest the fastest's
    long peakKiB = 0;
    int rowsRead = 0;
    int tickets = 0;
    int existed = 0;
    QString method;
};

// A database of the bench on one engine, with a connection of the parent's own.
class Target {
public:
    Target(Engine engine, const QString& name, const QString& folder)
        : engine_(engine), name_(name), folder_(folder)
    {
        if (engine_ == Engine::MariaDB) {
            db_ = openMariaDb(name_, QString());
            QSqlQuery query(db_);
            exec(query, QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name_));
            exec(query, QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(name_));
            exec(query, QStringLiteral("USE `%1`").arg(name_));
        } else {
            QFile::remove(file());
            db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
            db_.setDatabaseName(file());
            if (!db_.open())
                die(db_.lastError().text());
        }
        QSqlQuery query(db_);
        for (const QString& statement : schema(engine_))
            exec(query, statement);
    }

    ~Target()
    {
        if (engine_ == Engine::MariaDB) {
            QSqlQuery query(db_);
            query.exec(QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(name_));
        }
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
        if (engine_ == Engine::SQLite)
            QFile::remove(file());
    }
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    QStringList childArgs() const
    {
        return {QStringLiteral("--engine"),   engineName(engine_),
                QStringLiteral("--database"), name_,
                QStringLiteral("--folder"),   folder_};
    }

    // What the job left, Id and Hora aside: tickets, then lines that say whether IdTicket is
    // their header's Id.
    QStringList content()
    {
        QStringList out;
        const auto money = [](const QVariant& v) {
            return QString::number(v.toString().toDouble(), 'f', 2);
        };
        QSqlQuery query(db_);
        query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        exec(query, QStringLiteral("SELECT Venta, Fecha, Efectivo, Total FROM tickets "
                                   "ORDER BY Venta"));
        while (query.next())
            out << QStringLiteral("T|%1|%2|%3|%4")
                       .arg(query.value(0).toString(), query.value(1).toString(),
                            money(query.value(2)), money(query.value(3)));
        exec(query, QStringLiteral("SELECT d.Venta, d.Partida, d.Fecha, d.Producto, d.Descrip, "
                                   "d.Cantidad, d.Precio, t.Venta = d.Venta FROM ticketsdetalle d "
                                   "LEFT JOIN tickets t ON t.Id = d.IdTicket ORDER BY d.Venta"));
        while (query.next()) {
            QStringList fields;
            for (int i = 0; i < 8; ++i)
                fields << (i == 6 ? money(query.value(i)) : query.value(i).toString());
            out << QStringLiteral("L|") + fields.join(u'|');
        }
        return out;
    }

    int count(const QString& table)
    {
        QSqlQuery query(db_);
        exec(query, QStringLiteral("SELECT COUNT(*) FROM ") + table);
        return query.next() ? query.value(0).toInt() : -1;
    }

    const QString& name() const { return name_; }
    const QString& folder() const { return folder_; }

    // Numbers stored more than once, and tickets that are not one header with exactly its line.
    std::pair<int, int> duplicatesAndBroken()
    {
        const auto number = [&](const QString& statement) {
            QSqlQuery query(db_);
            exec(query, statement);
            return query.next() ? query.value(0).toInt() : -1;
        };
        const int duplicates =
            number(QStringLiteral("SELECT COUNT(*) FROM (SELECT Venta FROM tickets GROUP BY Venta "
                                  "HAVING COUNT(*) > 1) d"));
        const int headers = number(QStringLiteral(
            "SELECT COUNT(*) FROM tickets t WHERE (SELECT COUNT(*) FROM ticketsdetalle d "
            "WHERE d.IdTicket = t.Id AND d.Venta = t.Venta) <> 1"));
        const int lines = number(QStringLiteral(
            "SELECT COUNT(*) FROM ticketsdetalle d WHERE NOT EXISTS (SELECT 1 FROM tickets t "
            "WHERE t.Id = d.IdTicket AND t.Venta = d.Venta)"));
        return {duplicates, headers + lines};
    }

    // MariaDB: has the server write out the pages that the cases before left in memory (dirty
    // pages flushed at once, then the setting put back), so that a case does not pay for their
    // flushing. The cases load 100,000 rows every second or so, far more than a shop's server
    // gets: without this the redo log fills, and the server stalls single statements for a
    // tenth of a second or more while it flushes. Gives the seconds it took (at most 60).
    double settle()
    {
        if (engine_ != Engine::MariaDB)
            return 0;
        QElapsedTimer waited;
        waited.start();
        QSqlQuery query(db_);
        exec(query, QStringLiteral("SELECT @@GLOBAL.innodb_max_dirty_pages_pct"));
        const QString setting = query.next() ? query.value(0).toString() : QStringLiteral("90");
        exec(query, QStringLiteral("SET GLOBAL innodb_max_dirty_pages_pct = 0"));
        for (;;) {
            exec(query, QStringLiteral("SHOW GLOBAL STATUS LIKE 'Innodb_checkpoint_age'"));
            const qint64 age = query.next() ? query.value(1).toLongLong() : 0;
            if (age < kSettledCheckpointAge || waited.elapsed() > 60000)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        exec(query, QStringLiteral("SET GLOBAL innodb_max_dirty_pages_pct = %1").arg(setting));
        return double(waited.elapsed()) / 1000;
    }

    // The rows the job wrote, as files to load, and the tables emptied for the limit.
    void dumpAndEmpty()
    {
        dump(QStringLiteral("tickets"), kHeaderColumns);
        dump(QStringLiteral("ticketsdetalle"), kLineColumns);
        empty();
    }

    void empty()
    {
        QSqlQuery query(db_);
        for (const QString& table : {QStringLiteral("ticketsdetalle"), QStringLiteral("tickets")})
            exec(query, (engine_ == Engine::MariaDB ? QStringLiteral("TRUNCATE TABLE ")
                                                    : QStringLiteral("DELETE FROM ")) +
                            table);
    }

private:
    QString file() const { return QDir(folder_).filePath(name_ + QStringLiteral(".db")); }

    void dump(const QString& table, const QStringList& columns)
    {
        QFile out(QDir(folder_).filePath(table + QStringLiteral(".tsv")));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            die(QStringLiteral("cannot write ") + out.fileName());
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        query.setNumericalPrecisionPolicy(QSql::HighPrecision);
        exec(query, QStringLiteral("SELECT %1 FROM %2 ORDER BY Id").arg(columns.join(u','), table));
        QByteArray block;
        while (query.next()) {
            for (int i = 0; i < columns.size(); ++i) {
                const QVariant v = query.value(i);
                QString text = v.typeId() == QMetaType::QDate ? v.toDate().toString(Qt::ISODate)
                                                              : v.toString();
                text.replace(u'\\', QStringLiteral("\\\\"))
                    .replace(u'\t', QStringLiteral("\\t"))
                    .replace(u'\n', QStringLiteral("\\n"));
                block += text.toUtf8();
                block += i + 1 < columns.size() ? '\t' : '\n';
            }
        }
        out.write(block);
    }

    Engine engine_;
    QString name_;
    QString folder_;
    QSqlDatabase db_;
};

// ---------------------------------------------------------------------------------------------
// A stand-in POS selling while a job runs: a thread of the parent with a connection of its own
// (opened, used and closed on that thread), a sale every few milliseconds, each in its own
// transaction as a POS makes it: a locking read of the number, the header, its line, commit.

struct PosFigures {
    std::vector<double> waitsMs; // every sale, from its begin to its commit or its failure
    int made = 0;
    int failed = 0;
    int passedOver = 0; // numbers the locking read found taken
    QStringList errors; // each failure's message once
    double seconds = 0; // how long it sold
};

class PosStandIn {
public:
    // Sells numbers of [1, last], ahead of the highest number it has found taken by the run.
    // A pause of pauseMs after each sale; at most maxSales sales when it is not 0.
    PosStandIn(Engine engine, const QString& database, const QString& folder, int last, int pauseMs,
               int maxSales)
        : engine_(engine), database_(database), folder_(folder), last_(std::max(last, 1)),
          pauseMs_(pauseMs), maxSales_(maxSales)
    {
        // Ahead by up to a few of the job's batches: the numbers the run reaches soon.
        window_ = std::clamp(last_ / 5, 1, 20000);
        std::promise<QString> opened;
        std::future<QString> ready = opened.get_future();
        // The promise lives on the thread: it is still in set_value when get() returns here.
        thread_ = std::thread([this, p = std::move(opened)]() mutable { run(p); });
        const QString error = ready.get();
        if (!error.isEmpty()) {
            thread_.join();
            die(QStringLiteral("the stand-in POS cannot connect: ") + error);
        }
    }
    ~PosStandIn()
    {
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
    }
    PosStandIn(const PosStandIn&) = delete;
    PosStandIn& operator=(const PosStandIn&) = delete;

    PosFigures stop()
    {
        stop_ = true;
        thread_.join();
        return figures_;
    }

private:
    void run(std::promise<QString>& opened)
    {
        const QString name = QStringLiteral("pos-%1").arg(database_);
        {
            QSqlDatabase db;
            if (engine_ == Engine::MariaDB) {
                db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
                db.setHostName(env("GT_MYSQL_HOST").isEmpty() ? QStringLiteral("127.0.0.1")
                                                              : env("GT_MYSQL_HOST"));
                db.setPort(env("GT_MYSQL_PORT").toInt());
                db.setDatabaseName(database_);
                db.setUserName(env("GT_MYSQL_USER"));
                db.setPassword(env("GT_MYSQL_PASSWORD"));
            } else {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
                db.setDatabaseName(QDir(folder_).filePath(database_ + QStringLiteral(".db")));
            }
            if (!db.open()) {
                opened.set_value(db.lastError().text());
                db = QSqlDatabase();
                QSqlDatabase::removeDatabase(name);
                return;
            }
            opened.set_value(QString());
            sellUntilStopped(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    void sellUntilStopped(QSqlDatabase& db)
    {
        QElapsedTimer clock;
        clock.start();
        while (!stop_ && (maxSales_ == 0 || int(figures_.waitsMs.size()) < maxSales_)) {
            QString error;
            QElapsedTimer sale;
            sale.start();
            const bool ok = sell(db, error);
            figures_.waitsMs.push_back(double(sale.nsecsElapsed()) / 1e6);
            if (ok) {
                ++figures_.made;
            } else {
                ++figures_.failed;
                if (!figures_.errors.contains(error))
                    figures_.errors.append(error);
            }
            // The pause counts from the sale's end: a POS whose commits take longer than the
            // pause would otherwise hold an SQLite file's lock without a break.
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
        }
        figures_.seconds = double(clock.nsecsElapsed()) / 1e9;
        // Capped: idle until told to stop, so "seconds" stays the time it sold.
        while (!stop_)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // A number it has not tried, ahead of the run's front; past the range once the run filled it.
    int pick()
    {
        if (front_ < last_) {
            std::uniform_int_distribution<int> in(front_ + 1, std::min(last_, front_ + window_));
            for (int attempt = 0; attempt < 64; ++attempt) {
                const int number = in(random_);
                if (tried_.insert(number).second)
                    return number;
            }
            // The window is sold out: the first number left in the range.
            for (int number = front_ + 1; number <= last_; ++number) {
                if (tried_.insert(number).second)
                    return number;
            }
        }
        return last_ + (++beyond_);
    }

    bool sell(QSqlDatabase& db, QString& error)
    {
        QSqlQuery query(db);
        const auto fail = [&](const QSqlQuery& failed) {
            error = failed.lastError().text();
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return false;
        };
        const bool server = engine_ == Engine::MariaDB;
        // Every other sale reads as QtSql's transaction() begins: without a lock.
        const bool locking = figures_.waitsMs.size() % 2 == 0;
        if (!query.exec(
                server ? QStringLiteral("START TRANSACTION")
                       : (locking ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN"))))
            return fail(query);
        int number = 0;
        for (;;) {
            number = pick();
            if (!query.prepare(server && locking
                                   ? QStringLiteral("SELECT Id FROM tickets WHERE Venta = ? "
                                                    "FOR UPDATE")
                                   : QStringLiteral("SELECT Id FROM tickets WHERE Venta = ?")))
                return fail(query);
            query.addBindValue(number);
            if (!query.exec())
                return fail(query);
            if (!query.next())
                break;
            // Taken by the run: the POS takes another, as it would.
            ++figures_.passedOver;
            front_ = std::max(front_, number);
        }
        const QDate date = QDate::currentDate();
        const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
        const double price = 10 + number % 90;
        if (!query.prepare(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, "
                                          "Total) VALUES (?, ?, ?, ?, ?)")))
            return fail(query);
        for (const QVariant& v :
             {QVariant(number), QVariant(date), QVariant(time), QVariant(price), QVariant(price)})
            query.addBindValue(v);
        if (!query.exec())
            return fail(query);
        const QVariant id = query.lastInsertId();
        if (!id.isValid()) {
            error = QStringLiteral("no key for the header");
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        if (!query.prepare(QStringLiteral(
                "INSERT INTO ticketsdetalle (Venta, Partida, Fecha, Hora, Producto, Descrip, "
                "Cantidad, Precio, IdTicket) VALUES (?, 1, ?, ?, 'V', ?, 1, ?, ?)")))
            return fail(query);
        for (const QVariant& v :
             {QVariant(number), QVariant(date), QVariant(time),
              QVariant(QStringLiteral("Venta de mostrador")), QVariant(price), id})
            query.addBindValue(v);
        if (!query.exec())
            return fail(query);
        if (!query.exec(QStringLiteral("COMMIT")))
            return fail(query);
        return true;
    }

    Engine engine_;
    QString database_;
    QString folder_;
    int last_;
    int pauseMs_;
    int maxSales_;
    int window_ = 1;
    int front_ = 0;  // the highest number found taken by the run
    int beyond_ = 0; // numbers sold past the range once it was full
    std::set<int> tried_;
    std::mt19937 random_{20260101};
    std::thread thread_;
    std::atomic<bool> stop_{false};
    PosFigures figures_;
};

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = std::size_t(std::ceil(p * double(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

// User and system time of the MariaDB server of GT_MYSQL_PID, when there is one.
std::optional<double> serverCpuSeconds()
{
    const QString pid = env("GT_MYSQL_PID");
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid.isEmpty() || !stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields[11].toDouble() + fields[12].toDouble()) / ticks;
}

Result runChild(const QString& kind, const QStringList& args, bool onServer)
{
    const std::optional<double> serverBefore = onServer ? serverCpuSeconds() : std::nullopt;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The workbooks are a Mexican shop's: day-first dates, "." as decimal point.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("es_MX.UTF-8"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{QStringLiteral("--case"), kind} + args);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0)
        die(QStringLiteral("the %1 case failed").arg(kind));
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() == 11 && f[0] == "RESULT") {
            Result r;
            r.seconds = f[1].toDouble();
            r.peakKiB = f[2].toLong();
            r.rowsRead = f[3].toInt();
            r.tickets = f[4].toInt();
            r.existed = f[5].toInt();
            r.method = QString::fromUtf8(f[6]).replace(u'_', u' ');
            r.cpu = f[7].toDouble();
            r.held = {f[8].toLongLong(), f[9].toLongLong(), f[10].toInt()};
            const std::optional<double> serverAfter = serverCpuSeconds();
            if (serverBefore && serverAfter)
                r.serverCpu = *serverAfter - *serverBefore;
            return r;
        }
    }
    die(QStringLiteral("the %1 case printed no result").arg(kind));
}

struct Options {
    std::vector<int> rows{20000, 100000};
    QStringList formats{QStringLiteral("xlsx"), QStringLiteral("csv")};
    std::vector<Engine> engines;
    int rowByRowRows = 2000;
    int repeat = 3;
    QString dir;
    bool smoke = false;
};

// The fastest run's times, with the largest peak memory and longest transaction of all runs.
void keepFastest(std::optional<Result>& best, const Result& run)
{
    if (!best) {
        best = run;
        return;
    }
    const long peak = std::max(best->peakKiB, run.peakKiB);
    const qint64 hold = std::max(best->held.longestMs, run.held.longestMs);
    if (run.seconds < best->seconds)
        best = run;
    best->peakKiB = peak;
    best->held.longestMs = hold;
}

void printHeading()
{
    std::printf("\n%-8s %-5s %7s  %-36s %8s %6s %6s %9s %9s %8s %8s %8s\n", "engine", "file",
                "rows", "case", "wall s", "cpu s", "srv s", "rows/s", "tickets/s", "peak MB",
                "vs desc", "vs limit");
}

void printRow(Engine engine, const QString& format, int rows, const QString& what, const Result& r,
              std::optional<double> rowByRow, std::optional<double> limit)
{
    const double ticketsPerSecond = r.seconds > 0 ? r.tickets / r.seconds : 0;
    const auto ratio = [&](std::optional<double> reference, bool percent) {
        if (!reference || *reference <= 0)
            return QStringLiteral("-");
        const double value = ticketsPerSecond / *reference;
        return percent ? QStringLiteral("%1%").arg(value * 100, 0, 'f', 0)
                       : QStringLiteral("%1x").arg(value, 0, 'f', 1);
    };
    const QString server =
        r.serverCpu ? QString::number(*r.serverCpu, 'f', 2) : QStringLiteral("-");
    std::printf("%-8s %-5s %7d  %-36s %8.3f %6.2f %6s %9.0f %9.0f %8.1f %8s %8s\n",
                qPrintable(engineName(engine)), qPrintable(format), rows, qPrintable(what),
                r.seconds, r.cpu, qPrintable(server), r.seconds > 0 ? rows / r.seconds : 0,
                ticketsPerSecond, r.peakKiB / 1024.0, qPrintable(ratio(rowByRow, false)),
                qPrintable(ratio(limit, true)));
    std::fflush(stdout);
}

// The stand-in POS's sales in one line, with the target when there is one.
void printPos(Engine engine, const QString& format, int rows, const QString& what,
              const PosFigures& f, std::optional<double> targetMs)
{
    const double longest =
        f.waitsMs.empty() ? 0 : *std::max_element(f.waitsMs.begin(), f.waitsMs.end());
    const QString target =
        targetMs ? QStringLiteral("longest < %1 ms: %2")
                       .arg(*targetMs, 0, 'f', 0)
                       .arg(longest < *targetMs ? QStringLiteral("met") : QStringLiteral("MISSED"))
                 : QString();
    std::printf("%-8s %-5s %7d  %-36s %6d %6d %8.2f %8.2f %8.2f  %s\n",
                qPrintable(engineName(engine)), qPrintable(format), rows,
                qPrintable(what + QStringLiteral(", %1 s").arg(f.seconds, 0, 'f', 2)), f.made,
                f.failed, percentile(f.waitsMs, 0.5), percentile(f.waitsMs, 0.99), longest,
                qPrintable(target));
    for (const QString& error : f.errors)
        std::printf("%-8s %-5s %7d  POS sale failed: %s\n", qPrintable(engineName(engine)),
                    qPrintable(format), rows, qPrintable(error));
    std::fflush(stdout);
}

// The full job again, `repeat` times, with the stand-in POS selling numbers of its range (1 to
// `last`) meanwhile: the fastest job is kept, and the POS's sales of every round together; then
// the same POS on an empty database for as long with no run. False when a sale failed, a number
// is stored twice, a ticket is not whole or a row is missing in any round.
bool runPosTrial(Engine engine, const QString& format, int rows, const QString& workbook,
                 const QString& dir, const QString& jobName, const QString& aloneName, int last,
                 std::optional<double> rowByRowRate, std::optional<double> limitRate, int pauseMs,
                 int maxSales, int repeat)
{
    const bool onServer = engine == Engine::MariaDB;
    const QString where =
        QStringLiteral("%1 %2 %3").arg(engineName(engine), -8).arg(format, -5).arg(rows, 7);
    std::optional<Result> job;
    PosFigures during;
    bool kept = true;
    QStringList rounds;
    double settled = 0; // the longest wait for the server to settle before a round
    for (int round = 0; round < std::max(repeat, 1); ++round) {
        Target jobDb(engine, jobName + QStringLiteral("_%1").arg(round), dir);
        settled = std::max(settled, jobDb.settle());
        Result result;
        PosFigures sold;
        {
            PosStandIn pos(engine, jobDb.name(), jobDb.folder(), last, pauseMs, maxSales);
            result = runChild(QStringLiteral("job"),
                              jobDb.childArgs() +
                                  QStringList{QStringLiteral("--kind"), QStringLiteral("bulk"),
                                              QStringLiteral("--workbook"), workbook},
                              onServer);
            sold = pos.stop();
        }
        keepFastest(job, result);
        during.waitsMs.insert(during.waitsMs.end(), sold.waitsMs.begin(), sold.waitsMs.end());
        during.made += sold.made;
        during.failed += sold.failed;
        during.passedOver += sold.passedOver;
        for (const QString& error : sold.errors) {
            if (!during.errors.contains(error))
                during.errors.append(error);
        }
        during.seconds += sold.seconds;

        const auto [duplicates, broken] = jobDb.duplicatesAndBroken();
        const int stored = jobDb.count(QStringLiteral("tickets"));
        rounds.append(QStringLiteral("the run wrote %1 and passed over %2; the POS sold %3, %4 "
                                     "of them found taken first")
                          .arg(result.tickets)
                          .arg(result.existed)
                          .arg(sold.made)
                          .arg(sold.passedOver));
        if (duplicates != 0)
            rounds.append(QStringLiteral("POS: DUPLICATES %1").arg(duplicates));
        if (broken != 0)
            rounds.append(QStringLiteral("POS: %1 tickets without exactly their line").arg(broken));
        if (stored != result.tickets + sold.made)
            rounds.append(QStringLiteral("POS: %1 headers stored for %2 written and %3 sold")
                              .arg(stored)
                              .arg(result.tickets)
                              .arg(sold.made));
        kept = kept && duplicates == 0 && broken == 0 && stored == result.tickets + sold.made;
    }
    during.seconds /= std::max(repeat, 1);
    PosFigures alone;
    {
        Target aloneDb(engine, aloneName, dir);
        PosStandIn pos(engine, aloneDb.name(), aloneDb.folder(), last, pauseMs, maxSales);
        std::this_thread::sleep_for(std::chrono::milliseconds(qint64(during.seconds * 1000)));
        alone = pos.stop();
    }
    printRow(engine, format, rows, QStringLiteral("bulk (full job), POS selling"), *job,
             rowByRowRate, limitRate);
    std::printf("\n%-8s %-5s %7s  %-36s %6s %6s %8s %8s %8s  %s\n", "engine", "file", "rows",
                qPrintable(QStringLiteral("stand-in POS, %1 ms between sales").arg(pauseMs)),
                "sales", "failed", "p50 ms", "p99 ms", "max ms", "target");
    printPos(engine, format, rows, QStringLiteral("no run"), alone, {});
    printPos(engine, format, rows,
             repeat > 1 ? QStringLiteral("during %1 full jobs").arg(repeat)
                        : QStringLiteral("during the full job"),
             during, engine == Engine::MariaDB ? 100.0 : 250.0);
    for (const QString& line : rounds)
        std::printf("%s  %s\n", qPrintable(where), qPrintable(line));
    if (onServer)
        std::printf("%s  before each round the server settled, waiting up to %.1f s\n",
                    qPrintable(where), settled);
    if (kept)
        std::printf("%s  POS: every number once\n", qPrintable(where));
    std::printf("\n");
    std::fflush(stdout);
    return kept && during.failed == 0 && alone.failed == 0;
}

int runBench(const Options& o)
{
    QTemporaryDir temporary;
    const QString dir = o.dir.isEmpty() ? temporary.path() : o.dir;
    QDir().mkpath(dir);
    bool same = true;
    int rowByRowRows = o.rowByRowRows;
    for (int n : o.rows)
        rowByRowRows = std::min(rowByRowRows, std::max(n, 1));
    const int largest = *std::max_element(o.rows.begin(), o.rows.end());
    bool posKept = true;

    // Workbooks: one per size and format, and the row-by-row baseline's first rows.
    std::map<std::pair<QString, int>, QString> workbooks;
    for (const QString& format : o.formats) {
        std::vector<int> sizes = o.rows;
        sizes.push_back(rowByRowRows);
        for (int n : sizes) {
            QString& path = workbooks[{format, n}];
            if (!path.isEmpty())
                continue;
            path = QDir(dir).filePath(QStringLiteral("ventas-%1.%2").arg(n).arg(format));
            std::printf("writing %s\n", qPrintable(path));
            std::fflush(stdout);
            bench::WriteWorkbook(path, n);
        }
    }

    printHeading();
    int targetCount = 0;
    for (Engine engine : o.engines) {
        for (const QString& format : o.formats) {
            const QString prefix =
                QStringLiteral("bench_tickets_%1_").arg(QCoreApplication::applicationPid());
            Target rowByRowDb(engine, prefix + QString::number(++targetCount), dir);
            const bool onServer = engine == Engine::MariaDB;
            const Result rowByRow = runChild(
                QStringLiteral("job"),
                rowByRowDb.childArgs() +
                    QStringList{QStringLiteral("--kind"), QStringLiteral("row-by-row"),
                                QStringLiteral("--workbook"), workbooks[{format, rowByRowRows}]},
                onServer);
            const double rowByRowRate =
                rowByRow.seconds > 0 ? rowByRow.tickets / rowByRow.seconds : 0;
            printRow(engine, format, rowByRowRows, QStringLiteral("row-by-row"), rowByRow, {}, {});

            for (int n : o.rows) {
                // The machine is shared: each case is run again and its fastest run kept. The
                // cases that write start on a settled server (Target::settle).
                std::optional<Result> bulk, rerun, limit, limitSplit, check, checkTaken;
                for (int round = 0; round < o.repeat; ++round) {
                    Target bulkDb(engine, prefix + QString::number(++targetCount), dir);
                    const QStringList job =
                        bulkDb.childArgs() +
                        QStringList{QStringLiteral("--kind"), QStringLiteral("bulk"),
                                    QStringLiteral("--workbook"), workbooks[{format, n}]};
                    QStringList checkJob = job;
                    checkJob[checkJob.indexOf(QStringLiteral("bulk"))] = QStringLiteral("check");
                    keepFastest(check, runChild(QStringLiteral("job"), checkJob, onServer));
                    bulkDb.settle();
                    const Result written = runChild(QStringLiteral("job"), job, onServer);
                    keepFastest(checkTaken, runChild(QStringLiteral("job"), checkJob, onServer));
                    const Result again = runChild(QStringLiteral("job"), job, onServer);
                    if (again.tickets != 0 || again.existed != written.tickets) {
                        std::printf("re-run wrote %d tickets and found %d of %d\n", again.tickets,
                                    again.existed, written.tickets);
                        same = false;
                    }
                    if (round == 0 && n == rowByRowRows) {
                        const bool equal = bulkDb.content() == rowByRowDb.content();
                        std::printf("bulk and row-by-row rows %s\n", equal ? "equal" : "DIFFER");
                        same = same && equal;
                    }
                    bulkDb.dumpAndEmpty();
                    bulkDb.settle();
                    const Result loaded =
                        runChild(QStringLiteral("limit"), bulkDb.childArgs(), onServer);
                    if (bulkDb.count(QStringLiteral("tickets")) != written.tickets ||
                        bulkDb.count(QStringLiteral("ticketsdetalle")) != written.tickets) {
                        std::printf("the limit loaded other rows than the job wrote\n");
                        same = false;
                    }
                    // Again in as many transactions as the job's writing took.
                    bulkDb.empty();
                    bulkDb.settle();
                    const Result split =
                        runChild(QStringLiteral("limit"),
                                 bulkDb.childArgs() +
                                     QStringList{QStringLiteral("--transactions"),
                                                 QString::number(std::max(1, written.held.count))},
                                 onServer);
                    if (bulkDb.count(QStringLiteral("tickets")) != written.tickets ||
                        bulkDb.count(QStringLiteral("ticketsdetalle")) != written.tickets) {
                        std::printf("the limit in transactions loaded other rows than the job "
                                    "wrote\n");
                        same = false;
                    }
                    keepFastest(bulk, written);
                    keepFastest(rerun, again);
                    keepFastest(limit, loaded);
                    keepFastest(limitSplit, split);
                }
                const double limitRate = limit->seconds > 0 ? limit->tickets / limit->seconds : 0;
                printRow(engine, format, n, QStringLiteral("bulk (full job)"), *bulk, rowByRowRate,
                         limitRate);
                printRow(engine, format, n, QStringLiteral("re-run, all numbers taken"), *rerun, {},
                         {});
                printRow(engine, format, n, QStringLiteral("limit: ") + limit->method, *limit,
                         rowByRowRate, {});
                printRow(engine, format, n, QStringLiteral("limit ") + limitSplit->method,
                         *limitSplit, rowByRowRate, {});
                printRow(engine, format, n, QStringLiteral("confirmation check"), *check, {}, {});
                printRow(engine, format, n, QStringLiteral("confirmation check, all taken"),
                         *checkTaken, {}, {});
                std::printf("%-8s %-5s %7d  bulk: longest transaction open %lld ms\n",
                            qPrintable(engineName(engine)), qPrintable(format), n,
                            static_cast<long long>(bulk->held.longestMs));
                // The writing alone: what the workbook's reading and the gaps add is the rest.
                if (bulk->held.totalMs > 0) {
                    std::printf("%-8s %-5s %7d  bulk: %d transactions held the tables %.3f s in "
                                "all; the limit takes %.0f%% of that\n",
                                qPrintable(engineName(engine)), qPrintable(format), n,
                                bulk->held.count, double(bulk->held.totalMs) / 1000.0,
                                100.0 * limit->seconds / (double(bulk->held.totalMs) / 1000.0));
                }
                // Which share of the job's time the transactions themselves cost, and which its
                // reading of the workbook and its own work.
                std::printf("%-8s %-5s %7d  limit in transactions: %.0f%% of the limit's rate; "
                            "the full job takes %.3f s more than it\n",
                            qPrintable(engineName(engine)), qPrintable(format), n,
                            100.0 * limit->seconds / limitSplit->seconds,
                            bulk->seconds - limitSplit->seconds);
                // Smoke: a handful of sales close together, so that they fall inside its short run.
                if (n == largest) {
                    const QString jobName = prefix + QString::number(++targetCount);
                    const QString aloneName = prefix + QString::number(++targetCount);
                    if (!runPosTrial(engine, format, n, workbooks[{format, n}], dir, jobName,
                                     aloneName, bulk->tickets, rowByRowRate, limitRate,
                                     o.smoke ? 1 : 5, o.smoke ? 20 : 0, o.repeat))
                        posKept = false;
                }
            }
        }
    }
    if (!same)
        std::printf("FAILED: the runs left different rows\n");
    if (!posKept)
        std::printf(
            "FAILED: a POS sale failed, or a number or ticket was not stored exactly once\n");
    return same && posKept ? 0 : 1;
}

std::vector<int> numbers(const QString& text)
{
    std::vector<int> result;
    for (const QString& part : text.split(u',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 1)
            die(QStringLiteral("not a row count: ") + part);
        result.push_back(n);
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const auto value = [&](const QString& name) {
        const qsizetype at = args.indexOf(name);
        return at >= 0 && at + 1 < args.size() ? args[at + 1] : QString();
    };

    if (!value(QStringLiteral("--case")).isEmpty()) {
        CaseArgs a;
        a.kind = value(QStringLiteral("--kind"));
        a.engine = value(QStringLiteral("--engine")) == QLatin1String("mariadb") ? Engine::MariaDB
                                                                                 : Engine::SQLite;
        a.database = value(QStringLiteral("--database"));
        a.folder = value(QStringLiteral("--folder"));
        a.workbook = value(QStringLiteral("--workbook"));
        if (!value(QStringLiteral("--transactions")).isEmpty())
            a.transactions = numbers(value(QStringLiteral("--transactions"))).front();
        try {
            return value(QStringLiteral("--case")) == QLatin1String("limit") ? runLimit(a)
                                                                             : runJob(a);
        } catch (const std::exception& e) {
            die(QString::fromUtf8(e.what()));
        }
    }

    Options o;
    o.smoke = args.contains(QStringLiteral("--smoke"));
    if (o.smoke) {
        o.rows = {300};
        o.rowByRowRows = 300;
        o.repeat = 1;
    }
    if (!value(QStringLiteral("--rows")).isEmpty())
        o.rows = numbers(value(QStringLiteral("--rows")));
    if (!value(QStringLiteral("--row-by-row-rows")).isEmpty())
        o.rowByRowRows = numbers(value(QStringLiteral("--row-by-row-rows"))).front();
    if (!value(QStringLiteral("--repeat")).isEmpty())
        o.repeat = numbers(value(QStringLiteral("--repeat"))).front();
    if (!value(QStringLiteral("--formats")).isEmpty())
        o.formats = value(QStringLiteral("--formats")).split(u',', Qt::SkipEmptyParts);
    o.dir = value(QStringLiteral("--dir"));
    const QString engines = value(QStringLiteral("--engines"));
    const bool haveServer = !env("GT_MYSQL_PORT").isEmpty();
    if (!haveServer && env("GT_REQUIRE_MYSQL") == QLatin1String("1"))
        die(QStringLiteral("GT_REQUIRE_MYSQL=1 but no MariaDB server (GT_MYSQL_PORT is empty)"));
    if (engines.isEmpty() || engines.contains(QStringLiteral("mariadb"))) {
        if (haveServer)
            o.engines.push_back(Engine::MariaDB);
        else
            std::printf("no MariaDB server (GT_MYSQL_PORT is empty): SQLite only\n");
    }
    if (engines.isEmpty() || engines.contains(QStringLiteral("sqlite")))
        o.engines.push_back(Engine::SQLite);
    return runBench(o);
}

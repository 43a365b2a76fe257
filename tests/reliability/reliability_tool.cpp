// Helper of scripts/reliability: creates a test database, scrambles credentials as the POS does,
// and writes a database's tickets in a form two databases can be compared by, checking that
// every ticket is whole.
//
//   reliability-tool scramble TEXT
//   reliability-tool schema sqlite|mysql DATABASE SCHEMA_FILE
//   reliability-tool dump   sqlite|mysql DATABASE     (tickets to stdout; faults to stderr, status
//   1) reliability-tool count  sqlite|mysql DATABASE
//   reliability-tool idle   sqlite DATABASE          (status 0 when no one holds a write lock)
//   reliability-tool pos    sqlite|mysql DATABASE FIRST LAST MILLISECONDS [THINK_MS]
//                           (a stand-in POS selling numbers FIRST..LAST, THINK_MS between each
//                           sale's read and its write; its figures to stdout, status 1 when a
//                           sale failed)
//
// DATABASE is the file for sqlite and the database name for mysql, reached through
// GT_MYSQL_HOST, GT_MYSQL_PORT, GT_MYSQL_USER and GT_MYSQL_PASSWORD (never an argument, where
// any user could read it).

#include "krvt5/Utilerias.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

QSqlDatabase open(const QString& driver, const QString& database, bool create)
{
    if (driver == QLatin1String("sqlite")) {
        if (!create && !QFile::exists(database))
            fail(QStringLiteral("no existe la base %1").arg(database));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
        db.setDatabaseName(database);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
        if (!db.open())
            fail(db.lastError().text());
        return db;
    }
    if (driver != QLatin1String("mysql"))
        fail(QStringLiteral("motor desconocido: %1").arg(driver));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"));
    db.setHostName(qEnvironmentVariable("GT_MYSQL_HOST", QStringLiteral("127.0.0.1")));
    db.setPort(qEnvironmentVariableIntValue("GT_MYSQL_PORT"));
    if (!create)
        db.setDatabaseName(database);
    if (!db.open(qEnvironmentVariable("GT_MYSQL_USER"), qEnvironmentVariable("GT_MYSQL_PASSWORD")))
        fail(db.lastError().text());
    return db;
}

void exec(QSqlDatabase& db, const QString& statement)
{
    QSqlQuery query(db);
    if (!query.exec(statement))
        fail(statement + QStringLiteral(": ") + query.lastError().text());
}

QStringList column(QSqlDatabase& db, const QString& statement)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        fail(statement + QStringLiteral(": ") + query.lastError().text());
    QStringList values;
    while (query.next())
        values << query.value(0).toString();
    return values;
}

void schema(const QString& driver, const QString& database, const QString& file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        fail(QStringLiteral("no se puede leer %1").arg(file));
    QString script;
    for (const QString& line : QString::fromUtf8(in.readAll()).split(u'\n')) {
        if (!line.trimmed().startsWith(QStringLiteral("--")))
            script += line + u'\n';
    }
    QSqlDatabase db = open(driver, database, true);
    if (driver == QLatin1String("mysql")) {
        exec(db, QStringLiteral("DROP DATABASE IF EXISTS `%1`").arg(database));
        exec(db, QStringLiteral("CREATE DATABASE `%1` CHARACTER SET utf8mb4").arg(database));
        exec(db, QStringLiteral("USE `%1`").arg(database));
    }
    // One statement at a time: the MySQL driver would lose the errors of joined ones.
    for (const QString& statement : script.split(u';')) {
        if (!statement.trimmed().isEmpty())
            exec(db, statement);
    }
}

// Amounts as text with two decimals, without passing through a float.
QString money(QString text)
{
    const qsizetype point = text.indexOf(u'.');
    if (point < 0)
        return text + QStringLiteral(".00");
    while (text.size() - point < 3)
        text += u'0';
    return text;
}

int dump(const QString& driver, const QString& database)
{
    QSqlDatabase db = open(driver, database, false);
    struct Check {
        const char* fault;
        const char* query;
    };
    const Check checks[] = {
        {"número repetido",
         "SELECT Venta FROM tickets GROUP BY Venta HAVING COUNT(*) > 1 ORDER BY Venta"},
        {"encabezado sin su renglón",
         "SELECT t.Venta FROM tickets t WHERE NOT EXISTS "
         "(SELECT 1 FROM ticketsdetalle d WHERE d.IdTicket = t.Id) ORDER BY t.Venta"},
        {"renglón sin su encabezado",
         "SELECT d.Venta FROM ticketsdetalle d LEFT JOIN tickets t ON t.Id = d.IdTicket "
         "WHERE t.Id IS NULL OR t.Venta <> d.Venta ORDER BY d.Venta"},
        {"más de un renglón por ticket",
         "SELECT IdTicket FROM ticketsdetalle GROUP BY IdTicket HAVING COUNT(*) > 1"},
        {"hora no válida", "SELECT Venta FROM tickets WHERE Hora NOT LIKE '__:__' UNION ALL "
                           "SELECT Venta FROM ticketsdetalle WHERE Hora NOT LIKE '__:__'"},
    };
    int faults = 0;
    for (const Check& check : checks) {
        const QStringList found = column(db, QString::fromLatin1(check.query));
        if (!found.isEmpty()) {
            faults += static_cast<int>(found.size());
            std::fprintf(stderr, "%s (%lld): %s\n", check.fault,
                         static_cast<long long>(found.size()),
                         found.mid(0, 10).join(QStringLiteral(", ")).toUtf8().constData());
        }
    }

    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!query.exec(QStringLiteral(
            "SELECT t.Venta, t.Fecha, t.Efectivo, t.Total, d.Partida, d.Fecha, d.Producto, "
            "d.Descrip, d.Cantidad, d.Precio FROM tickets t JOIN ticketsdetalle d "
            "ON d.IdTicket = t.Id ORDER BY t.Venta, d.Id")))
        fail(query.lastError().text());
    while (query.next()) {
        QStringList fields;
        for (int i = 0; i < 10; ++i) {
            const QString value = query.value(i).toString();
            fields << (i == 2 || i == 3 || i == 9 ? money(value) : value);
        }
        std::fputs((fields.join(u'|') + u'\n').toUtf8().constData(), stdout);
    }
    return faults == 0 ? 0 : 1;
}

} // namespace

// Sells as a POS does, every few milliseconds: in its own transaction it reads whether a number
// is taken, and stores the header and its line when it is not. Every other sale reads with a
// lock (BEGIN IMMEDIATE, FOR UPDATE); the others as QtSql's transaction() begins, reading
// without one.
int pos(const QString& driver, const QString& database, int first, int last, int milliseconds,
        int thinkMs)
{
    QSqlDatabase db = open(driver, database, false);
    const bool mysql = driver == QLatin1String("mysql");
    std::vector<double> waits;
    QStringList failures;
    QElapsedTimer total;
    total.start();
    std::uint32_t seed = 12345;
    while (total.elapsed() < milliseconds) {
        seed = seed * 1103515245u + 12345u;
        const int venta = first + int((seed >> 8) % std::uint32_t(std::max(1, last - first + 1)));
        QElapsedTimer sale;
        sale.start();
        QSqlQuery q(db);
        const auto run = [&](const QString& statement) {
            if (!q.exec(statement))
                throw std::runtime_error(q.lastError().text().toStdString());
        };
        try {
            const bool locking = waits.size() % 2 == 0;
            run(mysql ? QStringLiteral("START TRANSACTION")
                      : (locking ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")));
            run(QStringLiteral("SELECT Id FROM tickets WHERE Venta = %1%2")
                    .arg(venta)
                    .arg(mysql && locking ? QStringLiteral(" FOR UPDATE") : QString()));
            const bool taken = q.next();
            q.finish();
            // A cashier's terminal works out the sale between its read and its write.
            if (thinkMs > 0)
                QThread::msleep(static_cast<unsigned long>(thinkMs));
            if (!taken) {
                run(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                   "VALUES (%1, '2026-12-07', '12:00', 9, 9)")
                        .arg(venta));
                const qlonglong id = q.lastInsertId().toLongLong();
                run(QStringLiteral("INSERT INTO ticketsdetalle (Venta, Partida, Fecha, Hora, "
                                   "Producto, Descrip, Cantidad, Precio, IdTicket) VALUES (%1, 1, "
                                   "'2026-12-07', '12:00', 'V', 'PUNTO DE VENTA', 1, 9, %2)")
                        .arg(venta)
                        .arg(id));
            }
            run(QStringLiteral("COMMIT"));
        } catch (const std::exception& e) {
            failures << QString::fromUtf8(e.what());
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        }
        waits.push_back(double(sale.nsecsElapsed()) / 1e6);
        QThread::msleep(5);
    }
    std::sort(waits.begin(), waits.end());
    const auto at = [&](double share) {
        return waits.empty() ? 0.0 : waits[std::size_t(share * double(waits.size() - 1))];
    };
    std::printf("%zu ventas, %lld fallidas, p50 %.1f ms, p99 %.1f ms, máx %.1f ms\n", waits.size(),
                static_cast<long long>(failures.size()), at(0.5), at(0.99),
                waits.empty() ? 0.0 : waits.back());
    if (!failures.isEmpty())
        std::fprintf(stderr, "%s\n", failures.front().toUtf8().constData());
    return failures.isEmpty() ? 0 : 1;
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    try {
        if (args.size() == 2 && args[0] == QLatin1String("scramble")) {
            std::puts(krvt5::Utilerias().Encripta(args[1]).toLatin1().constData());
            return 0;
        }
        if (args.size() == 4 && args[0] == QLatin1String("schema")) {
            schema(args[1], args[2], args[3]);
            return 0;
        }
        if (args.size() == 3 && args[0] == QLatin1String("dump"))
            return dump(args[1], args[2]);
        if ((args.size() == 6 || args.size() == 7) && args[0] == QLatin1String("pos"))
            return pos(args[1], args[2], args[3].toInt(), args[4].toInt(), args[5].toInt(),
                       args.value(6).toInt());
        if (args.size() == 3 && args[0] == QLatin1String("idle")) {
            // Without waiting: a writer held still would make it wait for ever.
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
            db.setDatabaseName(args[2]);
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
            if (!db.open())
                return 1;
            QSqlQuery q(db);
            if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
                return 1;
            q.exec(QStringLiteral("ROLLBACK"));
            return 0;
        }
        if (args.size() == 3 && args[0] == QLatin1String("count")) {
            QSqlDatabase db = open(args[1], args[2], false);
            std::puts(column(db, QStringLiteral("SELECT COUNT(*) FROM tickets"))
                          .value(0)
                          .toLatin1()
                          .constData());
            return 0;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reliability-tool: %s\n", e.what());
        return 2;
    }
    std::fputs("uso: reliability-tool scramble TEXTO | schema MOTOR BASE ARCHIVO | "
               "dump MOTOR BASE | count MOTOR BASE | pos MOTOR BASE PRIMERO ÚLTIMO MS\n",
               stderr);
    return 2;
}

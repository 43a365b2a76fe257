#include "krvt5/Engine.h"

#include <QSqlError>

namespace krvt5 {

namespace {

class MySqlEngine : public Engine {
public:
    QString driver() const override { return QStringLiteral("QMYSQL"); }
    bool isServer() const override { return true; }
    int writers() const override { return 2; }
    // At most 65,535 markers in one statement, and text statements near 100 KB.
    int maxStatementRows() const override { return 1000; }
    // A prepared execute costs a reset and the execute: two round trips.
    bool prefersLiteralInserts() const override { return true; }
    bool hasServerLoader() const override { return true; }
    QString loadStatement(const QString& quotedFile, const QString& quotedTable,
                          const QStringList& quotedColumns) const override
    {
        return QStringLiteral("LOAD DATA LOCAL INFILE %1 INTO TABLE %2 CHARACTER SET utf8mb4 "
                              "FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' LINES TERMINATED BY "
                              "'\\n' (%3)")
            .arg(quotedFile, quotedTable, quotedColumns.join(QStringLiteral(", ")));
    }
    bool isMissingTable(const QSqlError& error) const override
    {
        return error.nativeErrorCode() == QLatin1String("1146"); // ER_NO_SUCH_TABLE
    }
};

class SqliteEngine : public Engine {
public:
    QString driver() const override { return QStringLiteral("QSQLITE"); }
    bool isServer() const override { return false; }
    // One writer at a time holds the file.
    int writers() const override { return 1; }
    // Small multi-row statements compile and run fastest.
    int maxStatementRows() const override { return 64; }
    bool prefersLiteralInserts() const override { return false; }
    bool hasServerLoader() const override { return false; }
    QString loadStatement(const QString&, const QString&, const QStringList&) const override
    {
        return {};
    }
    bool isMissingTable(const QSqlError& error) const override
    {
        return error.databaseText().contains(QLatin1String("no such table"), Qt::CaseInsensitive);
    }
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

#pragma once

#include "krvt5/Connection.h"
#include "krvt5/TableExpression.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace krvt5 {

// A QtSql connection with the statements it has prepared and the columns of the tables it has
// used, so that a query repeated once per ticket costs one execution and no schema lookup.
class SqlConnection : public Connection {
public:
    struct MySqlTarget {
        QString host;
        int port = 3306;
        QString user;
        QString password;
        QString database;
    };

    // Both throw Failure with a message that names where and why, never the password.
    static std::shared_ptr<SqlConnection> openMySql(const MySqlTarget& target);
    static std::shared_ptr<SqlConnection> openSqlite(const QString& file, const QString& database);

    ~SqlConnection() override;
    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    void BeginTrans() override;
    void BeginExclusiveTrans(const QStringList& tables, const Patience& patience = {}) override;
    void CommitTrans() override;
    void RollbackTrans() override;
    bool inTransaction() const override { return inTransaction_; }
    QVariant lastInsertId() const override { return lastInsertId_; }
    const Engine& engine() const override { return engine_; }
    QString describe() const override { return description_; }
    QString place() const override { return place_; }
    QSqlDatabase& database() override { return db_; }

    // Closes the connection now, even while recordsets still refer to it.
    void close();
    // The database name as given to AbrirBdD, for messages.
    const QString& databaseName() const { return databaseName_; }

    // The rows the expression selects, through a statement prepared once per shape.
    std::vector<QSqlRecord> select(const TableExpression& expression);
    // The column of the table that field names (matched as the engine does, ignoring case);
    // Failure naming table and field when there is none.
    QString column(const QString& table, const QString& field) override;
    // Stores one record with a cached prepared INSERT; values are bound in field order.
    // Returns the key the database gave it.
    QVariant insert(const QString& table, const QStringList& columns,
                    const std::vector<QVariant>& values);
    // The key of the last record this connection stored in the table; Failure when none.
    QVariant lastInsertId(const QString& table, const QString& keyField);

private:
    SqlConnection(const Engine& engine, QString databaseName, QString description, QString place);

    void ensureOpen() const;
    void beginTracking();
    void forgetTransaction();
    // Runs the statements that end an exclusive transaction, all of them; the first error.
    QString endExclusive(bool commit);
    // The statements that reserve the tables; the first error, after ending what they began.
    std::optional<QSqlError> tryExclusive(const QStringList& quotedTables);
    QString openTransactionsText();
    QString missingColumn(const QString& table, const QString& field) const;
    const QStringList& columns(const QString& table);
    QSqlQuery& prepared(const QString& key, const QString& table, const QString& statement);
    QString quotedTable(const QString& table) const;
    QString quotedField(const QString& field) const;

    // How long a batch leaves the file to another process's readers before it tries anyway.
    static constexpr qint64 kReaderPatienceMs = 100;

    QString connectionName_;
    const Engine& engine_;
    QString databaseName_;
    QString description_;
    QString place_;
    QString file_; // SQLite: the database file
    QSqlDatabase db_;
    bool inTransaction_ = false;
    bool exclusive_ = false;
    bool queueForTables_ = false; // the server refuses the form that never queues
    QVariant lastInsertId_;
    // Keys by lower-case table name; the copies taken at BeginTrans come back on RollbackTrans,
    // since the rows stored inside the transaction are gone.
    QHash<QString, QVariant> lastIdByTable_;
    QVariant lastInsertIdBeforeTransaction_;
    QHash<QString, QVariant> lastIdByTableBeforeTransaction_;
    QHash<QString, QStringList> columns_;
    std::unordered_map<QString, std::unique_ptr<QSqlQuery>> statements_;
};

} // namespace krvt5

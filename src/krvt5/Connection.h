#pragma once

#include "krvt5/Engine.h"
#include "krvt5/Failure.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <chrono>
#include <functional>
#include <memory>

class QSqlDatabase;

namespace krvt5 {

// How long a connection keeps asking for tables that another client holds.
struct Patience {
    std::chrono::milliseconds most{60000};
    std::function<bool()> stillWanted; // asked between tries; empty: always
};

// The tables stayed held by another client for all the patience given.
class TablesBusy : public Failure {
public:
    using Failure::Failure;
};

// An open database connection, ADO style. Opened by BasesDD::AbrirBdD.
class Connection {
public:
    virtual ~Connection() = default;

    virtual void BeginTrans() = 0;
    // A transaction that keeps every other writer of the tables out until CommitTrans or
    // RollbackTrans. While another client holds them, the connection does not queue for them
    // (a request in the queue would hold back every client that comes after it): it asks again
    // every moment, for at most `patience`, and gives up with TablesBusy, holding nothing.
    virtual void BeginExclusiveTrans(const QStringList& tables, const Patience& patience = {}) = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
    virtual bool inTransaction() const = 0;

    // The key the last insert on this connection produced (never a MAX() over the table).
    virtual QVariant lastInsertId() const = 0;
    // What the connection's engine does its own way.
    virtual const Engine& engine() const = 0;
    // Where the connection points, for messages: server, port, database and user; never the
    // password.
    virtual QString describe() const = 0;
    // Where the data is, whoever reaches it: describe() without the user.
    virtual QString place() const = 0;
    // The underlying QtSql connection, for code that writes in bulk.
    virtual QSqlDatabase& database() = 0;
    // The column of the table that field names, spelled as the database spells it (matched
    // ignoring case, as the engines do); a Failure naming the table or the column when it is
    // not there.
    virtual QString column(const QString& table, const QString& field) = 0;
};

using ConnectionRef = std::shared_ptr<Connection>;

// The rows a table expression selected, open for appending records, ADO style.
class Recordset {
public:
    virtual ~Recordset() = default;

    virtual QString table() const = 0;
    // True when the expression selected no row (or the cursor moved past the last one).
    virtual bool EOF_() const = 0;
    virtual void MoveNext() = 0;

    // Starts a new record; fields are set with setCollect, then Update stores it.
    virtual void AddNew() = 0;
    // Collect(field) = value on the new record. An unknown field is a Failure naming it.
    virtual void setCollect(const QString& field, const QVariant& value) = 0;
    // The field's value in the current row (or in the new record before Update).
    virtual QVariant Collect(const QString& field) const = 0;
    // Stores the new record with one prepared INSERT (prepared once per table and field list).
    virtual void Update() = 0;
    virtual void Close() = 0;
};

using RecordsetRef = std::shared_ptr<Recordset>;

} // namespace krvt5

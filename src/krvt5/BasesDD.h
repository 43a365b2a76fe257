#pragma once

#include "krvt5/Connection.h"
#include "krvt5/Object.h"

#include <QVariant>

namespace krvt5 {

// Database access. cRuta selects the engine: a host name or address is MySQL/MariaDB at that
// host; "sqlite:" followed by a folder is the SQLite file <folder>/<cMiBase>.db (a relative
// folder is taken from cCarpetaBase).
class BasesDD : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.BasesDD"); }

    // Connection properties, set and read by name.
    QString cRuta;
    QVariant cPuerto;
    QString cUsuario;
    QString cPassword;
    QString cMiBase;
    // Where a relative "sqlite:" folder starts: the data folder, set at start-up. Empty means
    // the program's folder, so a copy run from a folder of its own finds its database beside it.
    QString cCarpetaBase;

    // Opens the database into cn. False when it cannot; the reason is kept in UltimoError().
    virtual bool AbrirBdD(ConnectionRef& cn, const QString& database);
    virtual void CierraBdD(ConnectionRef& cn);
    // Opens the rows of a table expression into rs: a table name, an optional WHERE of
    // column=integer comparisons joined by AND, an optional LIMIT n. True when a row was
    // selected. Anything else is rejected, so no value ever becomes SQL text.
    virtual bool AbrirTabla(RecordsetRef& rs, ConnectionRef& cn, const QString& expression);
    // Closes rs; a null reference is allowed. Leaves rs null.
    virtual void CierraTabla(RecordsetRef& rs);
    // The key of the record this connection just stored.
    virtual QVariant LastId(ConnectionRef& cn, const QString& table, const QString& keyField);

    // Why the last AbrirBdD failed: server, port, database, user and the driver's message.
    QString UltimoError() const { return lastError_; }

protected:
    QString lastError_;
};

} // namespace krvt5

#include "krvt5/SqlConnection.h"

#include "krvt5/Failure.h"
#include "krvt5/FileReaders.h"
#include "krvt5/LocalInfile.h"
#include "krvt5/SqlError.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <thread>

namespace krvt5 {

namespace {

QString uniqueConnectionName()
{
    static std::atomic<quint64> counter{0};
    return QStringLiteral("krvt5-%1").arg(++counter);
}

} // namespace

QString SqlErrorText(const QSqlError& error)
{
    QString text = error.databaseText().trimmed();
    const QString driver = error.driverText().trimmed();
    if (!driver.isEmpty() && !text.contains(driver))
        text = text.isEmpty() ? driver : QStringLiteral("%1 (%2)").arg(text, driver);
    return text.isEmpty() ? QStringLiteral("error desconocido") : text;
}

SqlConnection::SqlConnection(const Engine& engine, QString databaseName, QString description,
                             QString place)
    : connectionName_(uniqueConnectionName()), engine_(engine),
      databaseName_(std::move(databaseName)), description_(std::move(description)),
      place_(std::move(place)), db_(QSqlDatabase::addDatabase(engine.driver(), connectionName_))
{}

SqlConnection::~SqlConnection()
{
    close();
}

std::shared_ptr<SqlConnection> SqlConnection::openMySql(const MySqlTarget& target)
{
    const QString place = QStringLiteral("servidor %1, puerto %2, base de datos %3")
                              .arg(target.host, QString::number(target.port), target.database);
    const QString description = place + QStringLiteral(", usuario ") + target.user;
    std::shared_ptr<SqlConnection> connection(
        new SqlConnection(Engine::mysql(), target.database, description, place));
    QSqlDatabase& db = connection->db_;
    // Built from the description and the server's reason, neither of which holds the
    // password: nothing has to be taken out afterwards.
    const auto fail = [&](const QString& reason) {
        return Failure(QStringLiteral("No se pudo conectar con la base de datos MySQL (%1): %2")
                           .arg(description, reason));
    };
    if (!db.isValid())
        throw fail(QStringLiteral("no está disponible el controlador QMYSQL de Qt"));
    db.setHostName(target.host);
    db.setPort(target.port);
    db.setDatabaseName(target.database);
    // A server that stops answering must not hang the program for ever.
    db.setConnectOptions(QStringLiteral(
        "MYSQL_OPT_CONNECT_TIMEOUT=10;MYSQL_OPT_READ_TIMEOUT=60;MYSQL_OPT_WRITE_TIMEOUT=60"));
    // open(user, password) hands the password to the driver without keeping it.
    if (!db.open(target.user, target.password))
        throw fail(SqlErrorText(db.lastError()));
    // Only the program's own loader file may leave this computer through this connection.
    LocalInfile::refuseAll(db);
    QSqlQuery names(db);
    if (!names.exec(QStringLiteral("SET NAMES utf8mb4")))
        throw fail(SqlErrorText(names.lastError()));
    for (const QString& statement : connection->engine_.sessionSetup()) {
        QSqlQuery setup(db);
        if (!setup.exec(statement))
            throw fail(SqlErrorText(setup.lastError()));
    }
    // The server by its own name: reached as "localhost", by an address or by another name,
    // it is the same place.
    QSqlQuery server(db);
    if (server.exec(QStringLiteral("SELECT @@hostname, @@port")) && server.next())
        connection->place_ =
            QStringLiteral("servidor %1, puerto %2, base de datos %3")
                .arg(server.value(0).toString(), server.value(1).toString(), target.database);
    return connection;
}

std::shared_ptr<SqlConnection> SqlConnection::openSqlite(const QString& file,
                                                         const QString& database)
{
    const QString description = QStringLiteral("archivo %1").arg(file);
    // Opening would create an empty file, which is never the POS database.
    if (!QFileInfo(file).isFile()) {
        throw Failure(QStringLiteral("No existe la base de datos \"%1\": no se encontró el "
                                     "archivo %2")
                          .arg(database, file));
    }
    std::shared_ptr<SqlConnection> connection(
        new SqlConnection(Engine::sqlite(), database, description,
                          QStringLiteral("archivo %1").arg(QFileInfo(file).canonicalFilePath())));
    QSqlDatabase& db = connection->db_;
    const auto fail = [&](const QString& reason) {
        return Failure(QStringLiteral("No se pudo abrir la base de datos \"%1\" (%2): %3")
                           .arg(database, description, reason));
    };
    if (!db.isValid())
        throw fail(QStringLiteral("no está disponible el controlador QSQLITE de Qt"));
    // mode=rw: should the file vanish meanwhile, fail instead of creating it.
    db.setDatabaseName(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw"));
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(Engine::sqliteBusyMs));
    if (!db.open())
        throw fail(SqlErrorText(db.lastError()));
    connection->file_ = QFileInfo(file).absoluteFilePath();
    // SQLite reads the file lazily: make sure now that it is a database.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        throw fail(SqlErrorText(probe.lastError()));
    return connection;
}

void SqlConnection::close()
{
    statements_.clear();
    columns_.clear();
    inTransaction_ = false;
    if (connectionName_.isEmpty())
        return;
    // Registered even when the driver is missing, so removed whatever happened.
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
    connectionName_.clear();
}

void SqlConnection::ensureOpen() const
{
    if (!db_.isValid() || !db_.isOpen())
        throw Failure(QStringLiteral("La conexión con la base de datos \"%1\" está cerrada (%2).")
                          .arg(databaseName_, description_));
}

void SqlConnection::BeginTrans()
{
    ensureOpen();
    // MySQL would silently commit the open transaction on a second BEGIN.
    if (inTransaction_)
        throw Failure(QStringLiteral("Ya hay una transacción abierta en la base de datos "
                                     "\"%1\" (%2).")
                          .arg(databaseName_, description_));
    if (!db_.transaction())
        throw Failure(QStringLiteral("No se pudo iniciar una transacción en la base de datos "
                                     "\"%1\" (%2): %3")
                          .arg(databaseName_, description_, SqlErrorText(db_.lastError())));
    beginTracking();
}

void SqlConnection::beginTracking()
{
    inTransaction_ = true;
    lastInsertIdBeforeTransaction_ = lastInsertId_;
    lastIdByTableBeforeTransaction_ = lastIdByTable_;
}

void SqlConnection::BeginExclusiveTrans(const QStringList& tables, const Patience& patience)
{
    ensureOpen();
    if (inTransaction_)
        throw Failure(QStringLiteral("Ya hay una transacción abierta en la base de datos "
                                     "\"%1\" (%2).")
                          .arg(databaseName_, description_));
    QStringList quoted;
    for (const QString& table : tables)
        quoted.append(quotedTable(table));
    const QString names = tables.join(QStringLiteral(", "));
    QElapsedTimer waited;
    waited.start();
    QElapsedTimer lastTry;
    lastTry.start();
    for (;;) {
        // While another process reads the file, a try cannot succeed and could fail that
        // reader should it begin to write. Not for long, though: should the readers be told
        // wrong, the tries go on as before.
        const bool reader =
            !file_.isEmpty() && lastTry.elapsed() < kReaderPatienceMs && OtherProcessReads(file_);
        std::optional<QSqlError> refused;
        if (!reader) {
            lastTry.restart();
            refused = tryExclusive(quoted);
            if (!refused)
                break;
        }
        if (refused && !queueForTables_ && engine_.refusesStatement(*refused)) {
            queueForTables_ = true; // a server without the form that never queues
            continue;
        }
        if (refused && engine_.isDenied(*refused))
            throw Failure(QStringLiteral("No se pudo reservar las tablas %1 de la base de datos "
                                         "\"%2\" (%3): el usuario no tiene el permiso LOCK "
                                         "TABLES, que el programa necesita para que ninguna "
                                         "venta del punto de venta tome el número de un ticket "
                                         "mientras se guarda. Quien administra la base de datos "
                                         "puede darlo con GRANT LOCK TABLES ON `%2`.* a ese "
                                         "usuario. (%4)")
                              .arg(names, databaseName_, description_, SqlErrorText(*refused)));
        if (refused && !engine_.isBusy(*refused))
            throw Failure(QStringLiteral("No se pudo reservar las tablas %1 de la base de datos "
                                         "\"%2\" (%3): %4")
                              .arg(names, databaseName_, description_, SqlErrorText(*refused)));
        if (waited.elapsed() >= patience.most.count() ||
            (patience.stillWanted && !patience.stillWanted()))
            throw TablesBusy(QStringLiteral("Otro programa tuvo ocupadas las tablas %1 de la base "
                                            "de datos \"%2\" (%3) durante %4 s seguidos (una "
                                            "venta que quedó abierta en el punto de venta, por "
                                            "ejemplo).")
                                 .arg(names, databaseName_, description_)
                                 .arg(waited.elapsed() / 1000) +
                             openTransactionsText());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    exclusive_ = true;
    beginTracking();
}

// Who may be holding the tables, for the shop to find the terminal: " Tienen una transacción
// abierta: ...", or nothing when the server tells none.
QString SqlConnection::openTransactionsText()
{
    const QString statement = engine_.openTransactions();
    if (statement.isEmpty())
        return {};
    QSqlQuery query(db_);
    QStringList sessions;
    if (query.exec(statement)) {
        while (query.next())
            sessions.append(QStringLiteral("%1@%2 (conexión %3, desde hace %4 s)")
                                .arg(query.value(0).toString(), query.value(1).toString(),
                                     query.value(2).toString(), query.value(3).toString()));
    }
    if (sessions.isEmpty())
        return {};
    return QStringLiteral(" Tienen una transacción abierta: %1.")
        .arg(sessions.join(QStringLiteral("; ")));
}

std::optional<QSqlError> SqlConnection::tryExclusive(const QStringList& quotedTables)
{
    for (const QString& statement : engine_.beginExclusive(quotedTables, queueForTables_)) {
        QSqlQuery begin(db_);
        if (!begin.exec(statement)) {
            QSqlError error = begin.lastError();
            endExclusive(false);
            return error;
        }
    }
    return std::nullopt;
}

// The rows stored inside the transaction are gone, and with them their keys.
void SqlConnection::forgetTransaction()
{
    inTransaction_ = false;
    lastInsertId_ = lastInsertIdBeforeTransaction_;
    lastIdByTable_ = lastIdByTableBeforeTransaction_;
}

QString SqlConnection::endExclusive(bool commit)
{
    QString first;
    for (const QString& statement : engine_.endExclusive(commit)) {
        QSqlQuery end(db_);
        if (!end.exec(statement) && first.isEmpty())
            first = SqlErrorText(end.lastError());
    }
    exclusive_ = false;
    return first;
}

void SqlConnection::CommitTrans()
{
    ensureOpen();
    if (!inTransaction_)
        throw Failure(QStringLiteral("No hay transacción abierta que confirmar en la base de "
                                     "datos \"%1\" (%2).")
                          .arg(databaseName_, description_));
    const bool exclusive = exclusive_;
    const QString failed =
        exclusive ? endExclusive(true) : (db_.commit() ? QString() : SqlErrorText(db_.lastError()));
    if (!failed.isEmpty()) {
        // An exclusive transaction is over either way: its end also released the tables.
        if (exclusive)
            inTransaction_ = false;
        throw Failure(QStringLiteral("No se pudo confirmar la transacción en la base de datos "
                                     "\"%1\" (%2): %3")
                          .arg(databaseName_, description_, failed));
    }
    inTransaction_ = false;
}

void SqlConnection::RollbackTrans()
{
    ensureOpen();
    if (!inTransaction_)
        throw Failure(QStringLiteral("No hay transacción abierta que deshacer en la base de "
                                     "datos \"%1\" (%2).")
                          .arg(databaseName_, description_));
    if (exclusive_) {
        const QString reason = endExclusive(false);
        forgetTransaction();
        if (!reason.isEmpty())
            throw Failure(QStringLiteral("No se pudo deshacer la transacción en la base de datos "
                                         "\"%1\" (%2): %3")
                              .arg(databaseName_, description_, reason));
        return;
    }
    if (!db_.rollback()) {
        const QString reason = SqlErrorText(db_.lastError());
        // A lost connection took its transaction with it: what follows must report the lost
        // connection, not a transaction still open. One that still answers keeps the
        // transaction, since a new BEGIN would commit it.
        QSqlQuery probe(db_);
        if (!probe.exec(QStringLiteral("SELECT 1"))) {
            forgetTransaction();
        }
        throw Failure(QStringLiteral("No se pudo deshacer la transacción en la base de datos "
                                     "\"%1\" (%2): %3")
                          .arg(databaseName_, description_, reason));
    }
    forgetTransaction();
}

QString SqlConnection::quotedTable(const QString& table) const
{
    return db_.driver()->escapeIdentifier(table, QSqlDriver::TableName);
}

QString SqlConnection::quotedField(const QString& field) const
{
    return db_.driver()->escapeIdentifier(field, QSqlDriver::FieldName);
}

const QStringList& SqlConnection::columns(const QString& table)
{
    ensureOpen();
    const auto cached = columns_.constFind(table);
    if (cached != columns_.constEnd())
        return *cached;
    QSqlQuery probe(db_);
    if (!probe.exec(engine_.columnProbe(quotedTable(table)))) {
        if (engine_.isMissingTable(probe.lastError()))
            throw Failure(QStringLiteral("No existe la tabla \"%1\" en la base de datos \"%2\" "
                                         "(%3).")
                              .arg(table, databaseName_, description_));
        throw Failure(
            QStringLiteral("No se pudo leer la tabla \"%1\" de la base de datos "
                           "\"%2\" (%3): %4")
                .arg(table, databaseName_, description_, SqlErrorText(probe.lastError())));
    }
    const QSqlRecord record = probe.record();
    QStringList names;
    names.reserve(record.count());
    for (int i = 0; i < record.count(); ++i)
        names.append(record.fieldName(i));
    return *columns_.insert(table, names);
}

QString SqlConnection::missingColumn(const QString& table, const QString& field) const
{
    return QStringLiteral("No existe la columna \"%1\" en la tabla \"%2\" de la base de datos "
                          "\"%3\" (%4).")
        .arg(field, table, databaseName_, description_);
}

QString SqlConnection::column(const QString& table, const QString& field)
{
    for (const QString& name : columns(table)) {
        if (name.compare(field, Qt::CaseInsensitive) == 0)
            return name;
    }
    throw Failure(missingColumn(table, field));
}

QSqlQuery& SqlConnection::prepared(const QString& key, const QString& table,
                                   const QString& statement)
{
    const auto cached = statements_.find(key);
    if (cached != statements_.end())
        return *cached->second;
    auto query = std::make_unique<QSqlQuery>(db_);
    query->setForwardOnly(true);
    // DECIMAL comes back as its exact text, never through a double.
    query->setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!query->prepare(statement))
        throw Failure(
            QStringLiteral("No se pudo preparar la consulta sobre la tabla \"%1\" de "
                           "la base de datos \"%2\" (%3): %4")
                .arg(table, databaseName_, description_, SqlErrorText(query->lastError())));
    return *statements_.emplace(key, std::move(query)).first->second;
}

std::vector<QSqlRecord> SqlConnection::select(const TableExpression& expression)
{
    const QString& table = expression.table;
    QString key = QStringLiteral("S\n") + table;
    QString statement = QStringLiteral("SELECT * FROM ") + quotedTable(table);
    // Resolving the columns also proves the table exists before anything is prepared.
    columns(table);
    for (std::size_t i = 0; i < expression.where.size(); ++i) {
        const QString name = column(table, expression.where[i].column);
        key += u'\n' + name;
        statement += (i == 0 ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ")) +
                     quotedField(name) + QStringLiteral(" = ?");
    }
    if (expression.limit) {
        const QString count = QString::number(*expression.limit);
        key += QStringLiteral("\nLIMIT ") + count;
        statement += QStringLiteral(" LIMIT ") + count;
    }

    QSqlQuery& query = prepared(key, table, statement);
    for (std::size_t i = 0; i < expression.where.size(); ++i)
        query.bindValue(int(i), QVariant::fromValue<qlonglong>(expression.where[i].value));
    const auto failure = [&] {
        const QString reason = SqlErrorText(query.lastError());
        query.finish();
        return Failure(QStringLiteral("No se pudo leer la tabla \"%1\" de la base de datos \"%2\" "
                                      "(%3): %4")
                           .arg(table, databaseName_, description_, reason));
    };
    if (!query.exec())
        throw failure();
    std::vector<QSqlRecord> rows;
    while (query.next())
        rows.push_back(query.record());
    if (query.lastError().isValid())
        throw failure();
    // Releases the result, so SQLite holds no read lock and the statement can run again.
    query.finish();
    return rows;
}

QVariant SqlConnection::insert(const QString& table, const QStringList& columns,
                               const std::vector<QVariant>& values)
{
    ensureOpen();
    QString key = QStringLiteral("I\n") + table;
    QStringList quoted;
    QStringList markers;
    for (const QString& name : columns) {
        key += u'\n' + name;
        quoted.append(quotedField(name));
        markers.append(QStringLiteral("?"));
    }
    QSqlQuery& query = prepared(key, table,
                                QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                    .arg(quotedTable(table), quoted.join(QStringLiteral(", ")),
                                         markers.join(QStringLiteral(", "))));
    for (std::size_t i = 0; i < values.size(); ++i)
        query.bindValue(int(i), values[i]);
    if (!query.exec())
        throw Failure(
            QStringLiteral("No se pudo guardar el registro en la tabla \"%1\" de la base "
                           "de datos \"%2\" (%3): %4")
                .arg(table, databaseName_, description_, SqlErrorText(query.lastError())));
    const QVariant id = query.lastInsertId();
    query.finish();
    lastInsertId_ = id;
    lastIdByTable_.insert(table.toLower(), id);
    return id;
}

QVariant SqlConnection::lastInsertId(const QString& table, const QString& keyField)
{
    column(table, keyField);
    const QVariant id = lastIdByTable_.value(table.toLower());
    if (!id.isValid() || id.isNull())
        throw Failure(QStringLiteral("No hay clave \"%1\" que leer: esta conexión no ha guardado "
                                     "ningún registro en la tabla \"%2\" de la base de datos "
                                     "\"%3\" (%4).")
                          .arg(keyField, table, databaseName_, description_));
    return id;
}

} // namespace krvt5

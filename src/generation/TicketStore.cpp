#include "generation/TicketStore.h"

#include "krvt5/LocalInfile.h"
#include "krvt5/SqlError.h"
#include "support/Failure.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QSqlError>
#include <QSqlRecord>
#include <QTemporaryFile>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <unordered_map>

namespace generation {

namespace {

// MySQL takes at most 65,535 markers in one statement, and a line binds six values; its text
// statements are kept near 100 KB. SQLite compiles small multi-row statements fastest.
constexpr int kMaxMySqlRows = 1000;
constexpr int kMaxSqliteRows = 64;

constexpr int kHeaderFields = 5;
constexpr int kLineFields = 6; // bound values of a line

// The shortest text that reads back as the same number, without exponent: a DECIMAL column
// receives exactly the digits the amount shows, as on the row-by-row path.
QString decimalText(double value)
{
    if (!std::isfinite(value))
        throw support::Failure(QStringLiteral("El importe no es un número finito."));
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

void appendLatin1(QString& text, const char* data, qsizetype length)
{
    text += QLatin1StringView(data, length);
}

void appendLatin1(QByteArray& bytes, const char* data, qsizetype length)
{
    bytes.append(data, length);
}

template <typename Text> void appendNumber(Text& text, qlonglong value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    appendLatin1(text, buffer, result.ptr - buffer);
}

// yyyy-MM-dd, quoted or not.
template <typename Text> void appendDate(Text& text, const QDate& date, bool quoted)
{
    int year = 0;
    int month = 0;
    int day = 0;
    date.getDate(&year, &month, &day);
    char buffer[24];
    const int length = std::snprintf(
        buffer, sizeof buffer, quoted ? "'%04d-%02d-%02d'" : "%04d-%02d-%02d", year, month, day);
    appendLatin1(text, buffer, length);
}

// A field of the loader's file: tab-separated, backslash escapes.
void appendLoadField(QByteArray& out, const QString& text)
{
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
}

// Each statement row count a batch of this size is split into: full statements, then the
// powers of two of the rest, so that few statements are ever prepared.
std::vector<std::pair<std::size_t, int>> chunks(std::size_t size, int statementRows)
{
    std::vector<std::pair<std::size_t, int>> result;
    std::size_t at = 0;
    for (; size - at >= std::size_t(statementRows); at += std::size_t(statementRows))
        result.emplace_back(at, statementRows);
    for (int rows = 1 << 12; rows > 0; rows >>= 1) {
        while (size - at >= std::size_t(rows)) {
            result.emplace_back(at, rows);
            at += std::size_t(rows);
        }
    }
    return result;
}

// The loader's files are named after the process that writes them ("...-<pid>-XXXXXX"), so that
// those of a process that was killed (SIGKILL, Ctrl+C, a closed terminal) can be told apart.
constexpr QLatin1String kLoadFilePrefix("generar-tickets-carga-");

} // namespace

void removeAbandonedLoadFiles()
{
    const QDir folder(QDir::tempPath());
    const QStringList names =
        folder.entryList({QString(kLoadFilePrefix) + u'*'}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        bool ok = false;
        const qint64 pid =
            QStringView(name).mid(kLoadFilePrefix.size()).split(u'-').value(0).toLongLong(&ok);
        // Only the files of a process that is gone; another user's cannot be removed anyway.
        if (ok && pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            QFile::remove(folder.filePath(name));
    }
}

const QString& Clock::now()
{
    const qint64 epochMs = QDateTime::currentMSecsSinceEpoch();
    if (epochMs < from_ || epochMs >= until_) {
        const QTime time = QDateTime::fromMSecsSinceEpoch(epochMs).time();
        text_ = time.toString(QStringLiteral("HH:mm"));
        // Time zone offsets and their changes fall on whole minutes.
        from_ = epochMs - (time.second() * 1000 + time.msec());
        until_ = from_ + 60000;
    }
    return text_;
}

TicketStore::TicketStore(krvt5::Connection& connection, int statementRows, bool serverLoader)
    : connection_(connection), db_(connection.database()),
      mysql_(connection.driverName() == QLatin1String("QMYSQL")),
      statementRows_(std::clamp(statementRows, 1, mysql_ ? kMaxMySqlRows : kMaxSqliteRows)),
      load_(serverLoader && mysql_), tickets_(QStringLiteral("tickets")),
      ticketsdetalle_(QStringLiteral("ticketsdetalle")), direct_(db_), readBack_(db_),
      text_(QString(), QMetaType(QMetaType::QString))
{
    headerColumns_ = columnsOf(tickets_, {QStringLiteral("Venta"), QStringLiteral("Fecha"),
                                          QStringLiteral("Hora"), QStringLiteral("Efectivo"),
                                          QStringLiteral("Total")});
    lineColumns_ = columnsOf(
        ticketsdetalle_,
        {QStringLiteral("Venta"), QStringLiteral("Partida"), QStringLiteral("Fecha"),
         QStringLiteral("Hora"), QStringLiteral("Producto"), QStringLiteral("Descrip"),
         QStringLiteral("Cantidad"), QStringLiteral("Precio"), QStringLiteral("IdTicket")});
    // The key is read back on both engines; a table without it cannot link its lines.
    const QString id =
        quoted(columnsOf(tickets_, {QStringLiteral("Id")}).front(), QSqlDriver::FieldName);
    const QString venta = quoted(headerColumns_[0], QSqlDriver::FieldName);
    direct_.setForwardOnly(true);
    readBack_.setForwardOnly(true);
    if (!readBack_.prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 BETWEEN ? AND ? "
                                          "AND %1 >= ?")
                               .arg(id, venta, quoted(tickets_, QSqlDriver::TableName))))
        throw support::Failure(
            QStringLiteral("No se pudo preparar la lectura de las claves "
                           "de la tabla \"%1\" (%2): %3")
                .arg(tickets_, connection_.describe(), krvt5::SqlErrorText(readBack_.lastError())));
}

TicketStore::~TicketStore() = default;

QString TicketStore::quoted(const QString& name, QSqlDriver::IdentifierType type) const
{
    return db_.driver()->escapeIdentifier(name, type);
}

QString TicketStore::tableName(Table table) const
{
    return table == Table::Header ? tickets_ : ticketsdetalle_;
}

// The table's columns for the fields, spelled as the database spells them (matched ignoring
// case, as the engines do). The program never creates tables: a missing one is a failure.
QStringList TicketStore::columnsOf(const QString& table, const QStringList& fields)
{
    QSqlQuery probe(db_);
    if (!probe.exec(QStringLiteral("SELECT * FROM %1 WHERE 1=0")
                        .arg(quoted(table, QSqlDriver::TableName)))) {
        const QString reason = krvt5::SqlErrorText(probe.lastError());
        if (!db_.tables().contains(table))
            throw support::Failure(QStringLiteral("No existe la tabla \"%1\" en la base de datos "
                                                  "(%2).")
                                       .arg(table, connection_.describe()));
        throw support::Failure(QStringLiteral("No se pudo leer la tabla \"%1\" de la base de "
                                              "datos (%2): %3")
                                   .arg(table, connection_.describe(), reason));
    }
    const QSqlRecord record = probe.record();
    QStringList columns;
    for (const QString& field : fields) {
        QString found;
        for (int i = 0; i < record.count() && found.isEmpty(); ++i) {
            if (record.fieldName(i).compare(field, Qt::CaseInsensitive) == 0)
                found = record.fieldName(i);
        }
        if (found.isEmpty())
            throw support::Failure(QStringLiteral("No existe la columna \"%1\" en la tabla \"%2\" "
                                                  "de la base de datos (%3).")
                                       .arg(field, table, connection_.describe()));
        columns.append(found);
    }
    return columns;
}

QString TicketStore::insertInto(Table table) const
{
    const QStringList& columns = table == Table::Header ? headerColumns_ : lineColumns_;
    QStringList names;
    for (const QString& column : columns)
        names.append(quoted(column, QSqlDriver::FieldName));
    return QStringLiteral("INSERT INTO %1 (%2) VALUES ")
        .arg(quoted(tableName(table), QSqlDriver::TableName), names.join(QStringLiteral(", ")));
}

void TicketStore::failed(Table table, const QSqlQuery& query) const
{
    throw support::Failure(
        QStringLiteral("No se pudo guardar el registro en la tabla \"%1\" "
                       "de la base de datos (%2): %3")
            .arg(tableName(table), connection_.describe(), krvt5::SqlErrorText(query.lastError())));
}

qlonglong TicketStore::keyOf(QSqlQuery& query, const Ticket& ticket) const
{
    const QVariant id = query.lastInsertId();
    bool ok = false;
    const qlonglong value = id.toLongLong(&ok);
    if (!ok || value <= 0)
        throw support::Failure(QStringLiteral("La base de datos (%1) no dio la clave del "
                                              "encabezado del ticket %2 en la tabla \"%3\".")
                                   .arg(connection_.describe())
                                   .arg(ticket.venta)
                                   .arg(tickets_));
    return value;
}

void TicketStore::insertBatch(std::span<const Ticket> batch)
{
    if (batch.empty())
        return;
    std::vector<QString> amounts;
    amounts.reserve(batch.size());
    for (const Ticket& ticket : batch)
        amounts.push_back(decimalText(ticket.importe));
    const qlonglong firstId = insertRows(Table::Header, batch, amounts, {});
    std::vector<qlonglong> ids;
    readKeys(batch, firstId, ids);
    insertRows(Table::Line, batch, amounts, ids);
}

// The keys of the headers just stored: none of them is below the first statement's first key,
// and no other row from there on has their numbers, unless something else wrote them
// meanwhile, which is a failure.
void TicketStore::readKeys(std::span<const Ticket> batch, qlonglong firstId,
                           std::vector<qlonglong>& ids)
{
    std::unordered_map<std::int32_t, std::size_t> place;
    place.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i)
        place.emplace(batch[i].venta, i);
    const auto [low, high] =
        std::minmax_element(batch.begin(), batch.end(),
                            [](const Ticket& a, const Ticket& b) { return a.venta < b.venta; });
    ids.assign(batch.size(), 0);
    readBack_.bindValue(0, low->venta);
    readBack_.bindValue(1, high->venta);
    readBack_.bindValue(2, firstId);
    if (!readBack_.exec())
        throw support::Failure(
            QStringLiteral("No se pudieron leer las claves de los "
                           "tickets recién guardados en la tabla \"%1\" "
                           "(%2): %3")
                .arg(tickets_, connection_.describe(), krvt5::SqlErrorText(readBack_.lastError())));
    std::size_t found = 0;
    while (readBack_.next()) {
        const auto it = place.find(readBack_.value(1).toInt());
        if (it == place.end())
            continue;
        if (ids[it->second] != 0) {
            readBack_.finish();
            throw support::Failure(QStringLiteral("El ticket %1 aparece más de una vez en la "
                                                  "tabla \"%2\" (%3).")
                                       .arg(batch[it->second].venta)
                                       .arg(tickets_, connection_.describe()));
        }
        ids[it->second] = readBack_.value(0).toLongLong();
        ++found;
    }
    readBack_.finish();
    if (found != batch.size())
        throw support::Failure(QStringLiteral("No se encontraron en la tabla \"%1\" las "
                                              "claves de todos los tickets recién guardados "
                                              "(%2).")
                                   .arg(tickets_, connection_.describe()));
}

qlonglong TicketStore::insertRows(Table table, std::span<const Ticket> tickets,
                                  std::span<const QString> amounts, std::span<const qlonglong> ids)
{
    if (!mysql_)
        return insertBound(table, tickets, amounts, ids);
    if (load_) {
        if (const std::optional<qlonglong> firstId = loadRows(table, tickets, amounts, ids))
            return *firstId;
    }
    qlonglong firstId = 0;
    for (std::size_t at = 0; at < tickets.size(); at += std::size_t(statementRows_)) {
        const std::size_t rows = std::min(tickets.size() - at, std::size_t(statementRows_));
        const qlonglong id =
            insertLiteral(table, tickets.subspan(at, rows), amounts.subspan(at, rows),
                          ids.empty() ? ids : ids.subspan(at, rows));
        if (at == 0)
            firstId = id;
    }
    return firstId;
}

// Nullopt when the loader cannot be used (no file of ours, or the server refuses LOCAL
// INFILE): then, and after any surprise, the store goes on with INSERTs. LOCAL turns the
// server's errors into warnings and skipped rows, so a load counts only when every row arrived
// without a warning; otherwise the batch fails here and is stored again by halves with
// INSERTs, down to the single ticket, where a value the table cannot take is an error as on the
// row-by-row path.
std::optional<qlonglong> TicketStore::loadRows(Table table, std::span<const Ticket> tickets,
                                               std::span<const QString> amounts,
                                               std::span<const qlonglong> ids)
{
    if (!loadFile_) {
        removeAbandonedLoadFiles();
        loadFile_ = std::make_unique<QTemporaryFile>(
            QDir(QDir::tempPath())
                .filePath(kLoadFilePrefix + QString::number(QCoreApplication::applicationPid()) +
                          QStringLiteral("-XXXXXX")));
        // QTemporaryFile creates its name exclusively (O_EXCL), owner-only.
        if (!loadFile_->open()) {
            load_ = false;
            return std::nullopt;
        }
        fileRequests_ = std::make_unique<krvt5::LocalInfile>(db_, loadFile_->fileName(),
                                                             int(loadFile_->handle()));
        if (!fileRequests_->active()) {
            load_ = false;
            return std::nullopt;
        }
    }
    QByteArray out;
    out.reserve(qsizetype(tickets.size()) * 100);
    const QByteArray hora = clock_.now().toLatin1();
    for (std::size_t i = 0; i < tickets.size(); ++i) {
        const Ticket& ticket = tickets[i];
        const QByteArray amount = amounts[i].toLatin1();
        appendNumber(out, ticket.venta);
        if (table == Table::Header) {
            out += '\t';
            appendDate(out, ticket.fechaEncabezado, false);
            out += '\t' + hora + '\t' + amount + '\t' + amount;
        } else {
            out += "\t1\t";
            appendDate(out, ticket.fechaDetalle, false);
            out += '\t' + hora + "\tV\t";
            appendLoadField(out, ticket.descrip);
            out += "\t1\t" + amount + '\t';
            appendNumber(out, ids[i]);
        }
        out += '\n';
    }
    if (!loadFile_->resize(0) || !loadFile_->seek(0) || loadFile_->write(out) != out.size() ||
        !loadFile_->flush()) {
        load_ = false;
        return std::nullopt;
    }

    const QStringList& columns = table == Table::Header ? headerColumns_ : lineColumns_;
    QStringList names;
    for (const QString& column : columns)
        names.append(quoted(column, QSqlDriver::FieldName));
    text_.setValue(loadFile_->fileName());
    const QString statement =
        QStringLiteral("LOAD DATA LOCAL INFILE %1 INTO TABLE %2 CHARACTER SET utf8mb4 "
                       "FIELDS TERMINATED BY '\\t' ESCAPED BY '\\\\' LINES TERMINATED BY "
                       "'\\n' (%3)")
            .arg(db_.driver()->formatValue(text_), quoted(tableName(table), QSqlDriver::TableName),
                 names.join(QStringLiteral(", ")));
    if (!direct_.exec(statement)) {
        load_ = false;
        return std::nullopt;
    }
    const qsizetype loaded = direct_.numRowsAffected();
    QSqlQuery check(db_);
    const bool clean = check.exec(QStringLiteral("SHOW COUNT(*) WARNINGS")) && check.next() &&
                       check.value(0).toInt() == 0;
    if (loaded != qsizetype(tickets.size()) || !clean) {
        load_ = false;
        throw support::Failure(QStringLiteral("El cargador de la base de datos (%1) no guardó "
                                              "tal como se enviaron los %2 renglones de la tabla "
                                              "\"%3\".")
                                   .arg(connection_.describe())
                                   .arg(tickets.size())
                                   .arg(tableName(table)));
    }
    if (table == Table::Line)
        return 0;
    // The loader's first key: the driver reports none for LOAD DATA.
    if (!check.exec(QStringLiteral("SELECT LAST_INSERT_ID()")) || !check.next())
        throw support::Failure(QStringLiteral("La base de datos (%1) no dio la clave del "
                                              "encabezado del ticket %2 en la tabla \"%3\".")
                                   .arg(connection_.describe())
                                   .arg(tickets.front().venta)
                                   .arg(tickets_));
    return check.value(0).toLongLong();
}

// One statement with the values in its text, strings escaped by the driver (which knows the
// connection's character set and quoting mode).
qlonglong TicketStore::insertLiteral(Table table, std::span<const Ticket> tickets,
                                     std::span<const QString> amounts,
                                     std::span<const qlonglong> ids)
{
    QString statement = insertInto(table);
    statement.reserve(statement.size() + qsizetype(tickets.size()) * 120);
    QSqlDriver& driver = *db_.driver();
    for (std::size_t i = 0; i < tickets.size(); ++i) {
        const Ticket& ticket = tickets[i];
        statement += i == 0 ? QStringLiteral("(") : QStringLiteral(", (");
        appendNumber(statement, ticket.venta);
        if (table == Table::Header) {
            statement += QStringLiteral(", ");
            appendDate(statement, ticket.fechaEncabezado, true);
        } else {
            statement += QStringLiteral(", 1, ");
            appendDate(statement, ticket.fechaDetalle, true);
        }
        statement += QStringLiteral(", '") + clock_.now() + u'\'';
        if (table == Table::Header) {
            statement += QStringLiteral(", ") + amounts[i] + QStringLiteral(", ") + amounts[i];
        } else {
            // A null text would be written as NULL; an empty description is a value.
            text_.setValue(ticket.descrip.isNull() ? QStringLiteral("") : ticket.descrip);
            statement += QStringLiteral(", 'V', ") + driver.formatValue(text_) +
                         QStringLiteral(", 1, ") + amounts[i] + QStringLiteral(", ");
            appendNumber(statement, ids[i]);
        }
        statement += u')';
    }
    if (!direct_.exec(statement))
        failed(table, direct_);
    // A multi-row INSERT reports its first row's key.
    return table == Table::Header ? keyOf(direct_, tickets.front()) : 0;
}

qlonglong TicketStore::insertBound(Table table, std::span<const Ticket> tickets,
                                   std::span<const QString> amounts, std::span<const qlonglong> ids)
{
    qlonglong firstId = 0;
    for (const auto& [at, rows] : chunks(tickets.size(), statementRows_)) {
        QSqlQuery& query = prepared(table, rows);
        for (int r = 0; r < rows; ++r) {
            const std::size_t i = at + std::size_t(r);
            if (table == Table::Header)
                bindHeader(query, r, tickets[i], amounts[i]);
            else
                bindLine(query, r, tickets[i], amounts[i], ids[i]);
        }
        if (!query.exec())
            failed(table, query);
        // SQLite reports a statement's last key; the rows before it took the keys just below
        // (a key that is not there fails the read-back, and the batch goes ticket by ticket).
        if (at == 0 && table == Table::Header)
            firstId = keyOf(query, tickets[at]) - (rows - 1);
    }
    return firstId;
}

QSqlQuery& TicketStore::prepared(Table table, int rows)
{
    auto& cache = table == Table::Header ? headerInserts_ : lineInserts_;
    const auto cached = cache.find(rows);
    if (cached != cache.end())
        return *cached->second;

    // Partida, Producto and Cantidad are the same on every line: written as constants, they
    // cost no bound value.
    const QString row = table == Table::Header ? QStringLiteral("(?, ?, ?, ?, ?)")
                                               : QStringLiteral("(?, 1, ?, ?, 'V', ?, 1, ?, ?)");
    QString statement = insertInto(table);
    statement.reserve(statement.size() + rows * (row.size() + 2));
    for (int i = 0; i < rows; ++i) {
        if (i > 0)
            statement += QStringLiteral(", ");
        statement += row;
    }
    auto query = std::make_unique<QSqlQuery>(db_);
    query->setForwardOnly(true);
    if (!query->prepare(statement))
        throw support::Failure(QStringLiteral("No se pudo preparar la escritura en la tabla "
                                              "\"%1\" de la base de datos (%2): %3")
                                   .arg(tableName(table), connection_.describe(),
                                        krvt5::SqlErrorText(query->lastError())));
    return *cache.emplace(rows, std::move(query)).first->second;
}

void TicketStore::bindHeader(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount)
{
    const int at = row * kHeaderFields;
    query.bindValue(at, ticket.venta);
    query.bindValue(at + 1, ticket.fechaEncabezado);
    query.bindValue(at + 2, clock_.now());
    query.bindValue(at + 3, amount);
    query.bindValue(at + 4, amount);
}

void TicketStore::bindLine(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount,
                           qlonglong idTicket)
{
    const int at = row * kLineFields;
    query.bindValue(at, ticket.venta);
    query.bindValue(at + 1, ticket.fechaDetalle);
    query.bindValue(at + 2, clock_.now());
    // QtSql binds a null text as NULL; an empty description is a value.
    query.bindValue(at + 3, ticket.descrip.isNull() ? QStringLiteral("") : ticket.descrip);
    query.bindValue(at + 4, amount);
    query.bindValue(at + 5, idTicket);
}

void TicketStore::insertOne(const Ticket& ticket)
{
    const QString amount = decimalText(ticket.importe);
    QSqlQuery& header = prepared(Table::Header, 1);
    bindHeader(header, 0, ticket, amount);
    if (!header.exec())
        failed(Table::Header, header);
    const qlonglong idTicket = keyOf(header, ticket);
    QSqlQuery& line = prepared(Table::Line, 1);
    bindLine(line, 0, ticket, amount, idTicket);
    if (!line.exec())
        failed(Table::Line, line);
}

} // namespace generation

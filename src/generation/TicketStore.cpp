#include "generation/TicketStore.h"

#include "generation/BatchJournal.h"
#include "generation/ColumnLimits.h"
#include "generation/ExistingTickets.h"
#include "generation/TableKinds.h"
#include "krvt5/LocalInfile.h"
#include "krvt5/SqlError.h"
#include "krvt5/SqlLiteral.h"
#include "support/Failure.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlRecord>
#include <QTime>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unordered_map>
#include <unordered_set>

namespace generation {

namespace {

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

// Earlier versions loaded from files in the temporary folder named after their process
// ("...-<pid>-XXXXXX"); the name the server asks for now keeps the same start.
constexpr QLatin1String kLoadFilePrefix("generar-tickets-carga-");

// The lowest and highest number of a batch that is not empty.
std::pair<std::int32_t, std::int32_t> numbersOf(std::span<const Ticket> batch)
{
    const auto [low, high] =
        std::minmax_element(batch.begin(), batch.end(),
                            [](const Ticket& a, const Ticket& b) { return a.venta < b.venta; });
    return {low->venta, high->venta};
}

QString loadName()
{
    return kLoadFilePrefix + QString::number(QCoreApplication::applicationPid());
}

// The rows of one INSERT that stay inside the server's packet limit, past which a statement
// costs the connection. A row's text is at most about 1 KB: its texts escaped, four bytes a
// character.
int rowsWithinPacket(QSqlDatabase& db, const krvt5::Engine& engine, int rows)
{
    constexpr qlonglong kMostRowBytes = 1024;
    if (!engine.isServer())
        return rows;
    QSqlQuery packet(db);
    if (!packet.exec(QStringLiteral("SELECT @@max_allowed_packet")) || !packet.next())
        return rows;
    return int(std::clamp<qlonglong>(packet.value(0).toLongLong() / kMostRowBytes, 1, rows));
}

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

TicketStore::TicketStore(krvt5::Connection& connection, int statementRows, bool serverLoader,
                         TableFacts facts, const QString& journalFolder)
    : connection_(connection), db_(connection.database()), engine_(connection.engine()),
      statementRows_(
          rowsWithinPacket(db_, engine_, std::clamp(statementRows, 1, engine_.maxStatementRows()))),
      load_(serverLoader && engine_.hasServerLoader()), header_(resolve(kTickets)),
      line_(resolve(kTicketsDetalle)), direct_(db_), readBack_(db_), facts_(std::move(facts)),
      text_(QString(), QMetaType(QMetaType::QString))
{
    addFills(header_, facts_.headerFills);
    addFills(line_, facts_.lineFills);
    // The key is read back on both engines; a table without it cannot link its lines.
    const QString key = db_.driver()->escapeIdentifier(
        connection_.column(kTickets.name, kKeyColumn), QSqlDriver::FieldName);
    quotedKey_ = key;
    const QString venta = header_.quotedColumns.front();
    direct_.setForwardOnly(true);
    readBack_.setForwardOnly(true);
    if (!readBack_.prepare(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 BETWEEN ? AND ? "
                                          "AND %1 >= ?")
                               .arg(key, venta, header_.quotedName)))
        throw support::Failure(QStringLiteral("No se pudo preparar la lectura de las claves "
                                              "de la tabla \"%1\" (%2): %3")
                                   .arg(kTickets.name, connection_.describe(),
                                        krvt5::SqlErrorText(readBack_.lastError())));
    if (!facts_.nonTransactional.isEmpty())
        journal_ = BatchJournal::pathFor(journalFolder, connection_.place());
    // Now rather than in the first batch, while the tables wait.
    if (load_ && engine_.prefersLiteralInserts())
        readyToLoad();
}

TicketStore::~TicketStore() = default;

void TicketStore::begin(const krvt5::Patience& patience)
{
    if (stuck_)
        throw BatchRefused(QStringLiteral("un lote anterior quedó a medias y no se pudo quitar"));
    QElapsedTimer waiting;
    waiting.start();
    const auto counted = qScopeGuard([&] { waitedMs_ += waiting.elapsed(); });
    connection_.BeginExclusiveTrans({kTickets.name, kTicketsDetalle.name}, patience);
}

// Found in information_schema, where the engine has one.
TableFacts TableFacts::read(krvt5::Connection& connection)
{
    TableFacts facts;
    ColumnLimits limits = ReadColumnLimits(connection);
    facts.amountScale = limits.writtenScale();
    facts.headerFills = std::move(limits.headerFills);
    facts.lineFills = std::move(limits.lineFills);
    facts.floatAmounts = limits.floatAmounts;
    facts.headerKey = limits.headerKey;
    facts.lineKey = limits.lineKey;
    TableKinds kinds = TableKinds::read(connection);
    if (!kinds.refusals.isEmpty())
        throw support::Failure(kinds.refusals.join(u' '));
    facts.nonTransactional = std::move(kinds.nonTransactional);
    return facts;
}

QString TicketStore::amountText(double amount) const
{
    return AmountText(amount, facts_.amountScale);
}

std::span<const Ticket> TicketStore::passOver(std::span<const Ticket> batch,
                                              std::vector<Ticket>& fresh,
                                              std::vector<Ticket>& taken)
{
    fresh.clear();
    taken.clear();
    if (batch.empty())
        return batch;
    const auto [low, high] = numbersOf(batch);
    const std::unordered_set<std::int32_t> now = ExistingTickets(connection_, low, high);
    if (std::none_of(batch.begin(), batch.end(),
                     [&now](const Ticket& ticket) { return now.contains(ticket.venta); }))
        return batch;
    fresh.reserve(batch.size());
    for (const Ticket& ticket : batch)
        (now.contains(ticket.venta) ? taken : fresh).push_back(ticket);
    return fresh;
}

// A write that would take a key past its type's largest value fails before it begins: a failed
// write would still use up the keys it took, and the POS needs them too. The batch then goes by
// halves, down to the first ticket that finds no key, which fails with this reason.
void TicketStore::checkKeyRoom(const Target& target,
                               const std::optional<ColumnLimits::SmallKey>& key, std::size_t count,
                               std::optional<qlonglong> last)
{
    if (key && count > 0 &&
        KeysLeft(connection_, target.table->name, *key, last) < qlonglong(count))
        throw support::Failure(NoKeysLeftText(target.table->name, *key));
}

void TicketStore::mark(std::span<const Ticket> fresh)
{
    marks_.reset();
    if (facts_.nonTransactional.isEmpty())
        return;
    // Once, before the first row: a batch that failed could not be removed otherwise.
    if (!removalChecked_) {
        for (const Target* target : {&header_, &line_}) {
            if (const std::optional<QString> refused = DeleteRefused(db_, target->quotedName))
                throw BatchRefused(
                    NoRemovalText(facts_.nonTransactional, target->table->name, *refused));
        }
        removalChecked_ = true;
    }
    marks_.emplace(LastKey(connection_, kTickets.name), LastKey(connection_, kTicketsDetalle.name));
    BatchJournal journal{connection_.place(), marks_->first, marks_->second, {}, {}, {}};
    journal.ventas.reserve(fresh.size());
    for (const Ticket& ticket : fresh) {
        journal.ventas.push_back(ticket.venta);
        journal.dates.append(ticket.fechaEncabezado.toString(Qt::ISODate));
        journal.amounts.append(amountText(ticket.importe));
    }
    journal.write(journal_);
}

void TicketStore::settle()
{
    if (marks_)
        BatchJournal::remove(journal_);
    marks_.reset();
}

void TicketStore::keepJournal()
{
    marks_.reset();
}

// While the batch keeps every other writer out, every row past the marks is the batch's.
void TicketStore::undo()
{
    if (!marks_)
        return;
    for (const auto& [target, mark] :
         {std::pair{&line_, marks_->second}, std::pair{&header_, marks_->first}}) {
        QSqlQuery remove(db_);
        if (!remove.exec(QStringLiteral("DELETE FROM %1 WHERE %2 > %3")
                             .arg(target->quotedName, quotedKey_)
                             .arg(mark))) {
            // The rows stay, and so does the journal that names them: were the run to go on,
            // they would read as numbers taken.
            stuck_ = true;
            marks_.reset();
            throw support::Failure(
                QStringLiteral("No se pudo quitar lo que el lote guardó a medias en la tabla "
                               "\"%1\" (%2): %3. La próxima ejecución intentará quitarlo antes "
                               "de escribir.")
                    .arg(target->table->name, connection_.describe(),
                         krvt5::SqlErrorText(remove.lastError())));
        }
    }
    marks_.reset();
    BatchJournal::remove(journal_);
}

// The program never creates tables: a missing table or column is a failure naming it.
TicketStore::Target TicketStore::resolve(const PosTable& table)
{
    QSqlDriver& driver = *db_.driver();
    Target target;
    target.table = &table;
    target.quotedName = driver.escapeIdentifier(table.name, QSqlDriver::TableName);
    for (const Column& column : table.columns)
        target.quotedColumns.append(driver.escapeIdentifier(
            connection_.column(table.name, column.name), QSqlDriver::FieldName));
    return target;
}

void TicketStore::addFills(Target& target, const std::vector<ColumnLimits::Fill>& fills) const
{
    for (const ColumnLimits::Fill& fill : fills) {
        target.fillColumns.append(
            db_.driver()->escapeIdentifier(fill.column, QSqlDriver::FieldName));
        target.fillLiterals.append(fill.literal);
        target.fillValues += QStringLiteral(", ") + fill.literal;
    }
}

QString TicketStore::insertInto(const Target& target) const
{
    return QStringLiteral("INSERT INTO %1 (%2) VALUES ")
        .arg(target.quotedName,
             (target.quotedColumns + target.fillColumns).join(QStringLiteral(", ")));
}

void TicketStore::failed(const Target& target, const QSqlQuery& query) const
{
    throw support::Failure(QStringLiteral("No se pudo guardar el registro en la tabla \"%1\" "
                                          "de la base de datos (%2): %3")
                               .arg(target.table->name, connection_.describe(),
                                    krvt5::SqlErrorText(query.lastError())));
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
                                   .arg(kTickets.name));
    return value;
}

void TicketStore::insertBatch(std::span<const Ticket> batch)
{
    if (batch.empty())
        return;
    std::vector<QString> amounts; // filled when a path needs them
    lastKeyRead_.reset();
    const qlonglong before = marks_ ? marks_->first : LastKey(connection_, kTickets.name);
    checkKeyRoom(header_, facts_.headerKey, batch.size(), before);
    checkKeyRoom(line_, facts_.lineKey, batch.size(),
                 marks_ ? std::optional(marks_->second) : std::nullopt);
    const qlonglong firstKey = insertRows(header_, batch, amounts, {});
    std::vector<qlonglong> keys;
    readKeys(batch, firstKey, before, keys);
    insertRows(line_, batch, amounts, keys);
}

// The keys of the headers just stored: none of them is below the first statement's first key,
// and no other row from there on has their numbers, unless something else wrote them
// meanwhile, which is a failure.
void TicketStore::readKeys(std::span<const Ticket> batch, qlonglong firstKey, qlonglong before,
                           std::vector<qlonglong>& keys)
{
    // While the batch keeps every other writer out, every key past `before` is one of its new
    // headers', each key different. When the first is past `before` and the last is as many
    // past the first as the batch has headers, no key is left between them: the headers took
    // them one after another, in the order they were sent, as the loader and a multi-row
    // INSERT store rows. Otherwise (a server whose keys step by more than one, say) they are
    // read back one by one.
    const std::optional<qlonglong> read = std::exchange(lastKeyRead_, std::nullopt);
    const qlonglong last = read ? *read : LastKey(connection_, kTickets.name);
    if (firstKey > before && last == firstKey + qlonglong(batch.size()) - 1 &&
        keysHold(batch, firstKey)) {
        keys.resize(batch.size());
        for (std::size_t i = 0; i < batch.size(); ++i)
            keys[i] = firstKey + qlonglong(i);
        return;
    }
    std::unordered_map<std::int32_t, std::size_t> place;
    place.reserve(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i)
        place.emplace(batch[i].venta, i);
    const auto [low, high] = numbersOf(batch);
    keys.assign(batch.size(), 0);
    readBack_.bindValue(0, low);
    readBack_.bindValue(1, high);
    readBack_.bindValue(2, firstKey);
    if (!readBack_.exec())
        throw support::Failure(QStringLiteral("No se pudieron leer las claves de los "
                                              "tickets recién guardados en la tabla \"%1\" "
                                              "(%2): %3")
                                   .arg(kTickets.name, connection_.describe(),
                                        krvt5::SqlErrorText(readBack_.lastError())));
    std::size_t found = 0;
    while (readBack_.next()) {
        const auto it = place.find(readBack_.value(1).toInt());
        if (it == place.end())
            continue;
        if (keys[it->second] != 0) {
            readBack_.finish();
            throw support::Failure(QStringLiteral("El ticket %1 aparece más de una vez en la "
                                                  "tabla \"%2\" (%3).")
                                       .arg(batch[it->second].venta)
                                       .arg(kTickets.name, connection_.describe()));
        }
        keys[it->second] = readBack_.value(0).toLongLong();
        ++found;
    }
    readBack_.finish();
    if (found != batch.size())
        throw support::Failure(QStringLiteral("No se encontraron en la tabla \"%1\" las "
                                              "claves de todos los tickets recién guardados "
                                              "(%2).")
                                   .arg(kTickets.name, connection_.describe()));
}

// SQLite gives a statement's last key only, and the first is worked out from it: a trigger of
// the POS's own that adds rows of its own to tickets takes keys between, one that keeps a header
// out leaves a key untaken, one that renumbers a header leaves another number at its key. The
// batch's keys hold its numbers, each once, and the first its first. A server gives the
// statement's first key itself, and its triggers may not write the table they are on.
bool TicketStore::keysHold(std::span<const Ticket> batch, qlonglong firstKey)
{
    if (engine_.isServer())
        return true;
    double numbers = 0;
    for (const Ticket& ticket : batch)
        numbers += ticket.venta;
    QSqlQuery query(db_);
    return query.exec(
               QStringLiteral("SELECT COUNT(*), TOTAL(%1) FROM %2 WHERE %3 BETWEEN %4 AND %5")
                   .arg(header_.quotedColumns.front(), header_.quotedName, quotedKey_)
                   .arg(firstKey)
                   .arg(firstKey + qlonglong(batch.size()) - 1)) &&
           query.next() && query.value(0).toLongLong() == qlonglong(batch.size()) &&
           query.value(1).toDouble() == numbers && firstKeyHolds(batch.front(), firstKey);
}

bool TicketStore::firstKeyHolds(const Ticket& first, qlonglong key)
{
    if (engine_.isServer())
        return true;
    QSqlQuery query(db_);
    return query.exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = %4")
                          .arg(header_.quotedColumns.front(), header_.quotedName, quotedKey_)
                          .arg(key)) &&
           query.next() && query.value(0).toInt() == first.venta;
}

qlonglong TicketStore::insertRows(Target& target, std::span<const Ticket> tickets,
                                  std::vector<QString>& amounts, std::span<const qlonglong> keys)
{
    const auto needAmounts = [&] {
        if (!amounts.empty())
            return;
        amounts.reserve(tickets.size());
        for (const Ticket& ticket : tickets)
            amounts.push_back(amountText(ticket.importe));
    };
    if (!engine_.prefersLiteralInserts()) {
        needAmounts();
        return insertBound(target, tickets, amounts, keys);
    }
    if (load_) {
        // Tickets formatted ahead carry their amounts in their text.
        if (!std::all_of(tickets.begin(), tickets.end(),
                         [](const Ticket& ticket) { return bool(ticket.loadText); }))
            needAmounts();
        if (const std::optional<qlonglong> firstKey = loadRows(target, tickets, amounts, keys))
            return *firstKey;
    }
    needAmounts();
    qlonglong firstKey = 0;
    for (std::size_t at = 0; at < tickets.size(); at += std::size_t(statementRows_)) {
        const std::size_t rows = std::min(tickets.size() - at, std::size_t(statementRows_));
        const qlonglong key = insertLiteral(target, tickets.subspan(at, rows),
                                            std::span<const QString>(amounts).subspan(at, rows),
                                            keys.empty() ? keys : keys.subspan(at, rows));
        if (at == 0)
            firstKey = key;
    }
    return firstKey;
}

// Nullopt when the loader cannot be used (the connection's handle is out of reach, or the
// server refuses LOCAL INFILE): then, and after any surprise, the store goes on with INSERTs. LOCAL
// turns the server's errors into warnings and skipped rows, so a load counts only when every row
// arrived without a warning; otherwise the batch fails here and is stored again by halves with
// INSERTs, down to the single ticket, where a value the table cannot take is an error as on the
// row-by-row path.
std::optional<qlonglong> TicketStore::loadRows(Target& target, std::span<const Ticket> tickets,
                                               std::span<const QString> amounts,
                                               std::span<const qlonglong> keys)
{
    if (!readyToLoad())
        return std::nullopt;
    const bool header = &target == &header_;
    const bool ahead = std::all_of(tickets.begin(), tickets.end(),
                                   [](const Ticket& ticket) { return bool(ticket.loadText); });
    // A detail row gives its header's key as a number that the statement adds `offset` to: the
    // ordinal formatted ahead while the keys follow the ordinals, otherwise the key itself.
    qlonglong offset = 0;
    const QByteArray* rows = &loadText_;
    if (ahead && (header || followOrdinals(tickets, keys, offset))) {
        rows = &formattedRows(tickets, header);
    } else {
        QByteArray& out = loadText_;
        out.resize(0); // keeps the room of the batches before
        out.reserve(qsizetype(tickets.size()) * 100);
        const QString& hora = clock_.now();
        const QString kNone;
        for (std::size_t i = 0; i < tickets.size(); ++i) {
            if (ahead) {
                const Ticket& ticket = tickets[i];
                const QByteArray& lines = ticket.loadText->lines;
                out.append(lines.constData() + ticket.lineAt,
                           qsizetype(ticket.ordinalAt - ticket.lineAt));
                AppendLoadField(out, Source::HeaderKey, {ticket, hora, kNone, keys[i]});
                out += '\n';
                continue;
            }
            const RowValues values{tickets[i], hora, amounts[i], keys.empty() ? 0 : keys[i]};
            bool first = true;
            for (const Column& column : target.table->columns) {
                if (!first)
                    out += '\t';
                first = false;
                AppendLoadField(out, column.source, values);
            }
            out += '\n';
        }
    }
    fileRequests_->serve(*rows);
    text_.setValue(loadName());
    QStringList columns = target.quotedColumns;
    QStringList assignments;
    if (!header) {
        // Kept exact: an ordinal that is not a number is a warning, and the batch fails.
        assignments.append(
            QStringLiteral("%1 = CAST(@k AS SIGNED) + %2").arg(columns.back()).arg(offset));
        columns.back() = QStringLiteral("@k");
    }
    for (qsizetype i = 0; i < target.fillColumns.size(); ++i)
        assignments.append(target.fillColumns[i] + QStringLiteral(" = ") + target.fillLiterals[i]);
    const QString statement = engine_.loadStatement(db_.driver()->formatValue(text_),
                                                    target.quotedName, columns, assignments);
    if (!direct_.exec(statement)) {
        load_ = false;
        return std::nullopt;
    }
    const qsizetype loaded = direct_.numRowsAffected();
    if (loaded != qsizetype(tickets.size()) || fileRequests_->warnings() != 0) {
        load_ = false;
        throw support::Failure(QStringLiteral("El cargador de la base de datos (%1) no guardó "
                                              "tal como se enviaron los %2 renglones de la tabla "
                                              "\"%3\".")
                                   .arg(connection_.describe())
                                   .arg(tickets.size())
                                   .arg(target.table->name));
    }
    if (&target == &line_)
        return 0;
    // The loader's first key (the driver reports none for LOAD DATA), and the table's last,
    // which readKeys() wants next: one round trip for both.
    QSqlQuery check(db_);
    if (!check.exec(QStringLiteral("SELECT LAST_INSERT_ID(), COALESCE(MAX(%1), 0) FROM %2")
                        .arg(quotedKey_, header_.quotedName)) ||
        !check.next())
        throw support::Failure(QStringLiteral("La base de datos (%1) no dio la clave del "
                                              "encabezado del ticket %2 en la tabla \"%3\".")
                                   .arg(connection_.describe())
                                   .arg(tickets.front().venta)
                                   .arg(kTickets.name));
    lastKeyRead_ = check.value(1).toLongLong();
    return check.value(0).toLongLong();
}

// True when each key is its ticket's ordinal plus one `offset`, as when the batch stores
// tickets formatted one after another and its keys come one after another.
bool TicketStore::followOrdinals(std::span<const Ticket> tickets, std::span<const qlonglong> keys,
                                 qlonglong& offset)
{
    if (keys.size() != tickets.size() || tickets.empty())
        return false;
    const qlonglong first = keys.front() - qlonglong(tickets.front().ordinal);
    for (std::size_t i = 0; i < tickets.size(); ++i) {
        if (keys[i] - qlonglong(tickets[i].ordinal) != first)
            return false;
    }
    offset = first;
    return true;
}

// The rows formatted ahead, as they are: the walk's own text when the tickets are all of it,
// in its order; otherwise its pieces, joined.
const QByteArray& TicketStore::formattedRows(std::span<const Ticket> tickets, bool header)
{
    const auto at = header ? &Ticket::headerAt : &Ticket::lineAt;
    const auto end = header ? &Ticket::headerEnd : &Ticket::lineEnd;
    const auto textOf = [header](const Ticket& ticket) -> const QByteArray& {
        return header ? ticket.loadText->headers : ticket.loadText->lines;
    };
    QByteArray& out = loadText_;
    out.resize(0); // keeps the room of the batches before
    for (std::size_t i = 0; i < tickets.size();) {
        const Ticket& from = tickets[i];
        std::uint32_t to = from.*end;
        std::size_t next = i + 1;
        while (next < tickets.size() && tickets[next].loadText == from.loadText &&
               tickets[next].*at == to) {
            to = tickets[next].*end;
            ++next;
        }
        const QByteArray& text = textOf(from);
        if (i == 0 && next == tickets.size() && from.*at == 0 && to == std::uint32_t(text.size()))
            return text;
        out.append(text.constData() + from.*at, qsizetype(to - from.*at));
        i = next;
    }
    return out;
}

// False when the loader cannot be used: the connection's handle is out of reach.
bool TicketStore::readyToLoad()
{
    if (fileRequests_)
        return true;
    // Earlier versions loaded from files in the temporary folder; a killed run left its own.
    removeAbandonedLoadFiles();
    // The rows go from memory: the name is only what the server asks for.
    fileRequests_ = std::make_unique<krvt5::LocalInfile>(db_, loadName());
    if (!fileRequests_->active())
        load_ = false;
    return load_;
}

// One statement with the values in its text.
qlonglong TicketStore::insertLiteral(Target& target, std::span<const Ticket> tickets,
                                     std::span<const QString> amounts,
                                     std::span<const qlonglong> keys)
{
    QString statement = insertInto(target);
    statement.reserve(statement.size() + qsizetype(tickets.size()) * 120);
    QSqlDriver& driver = *db_.driver();
    const QString& hora = clock_.now();
    for (std::size_t i = 0; i < tickets.size(); ++i) {
        const RowValues values{tickets[i], hora, amounts[i], keys.empty() ? 0 : keys[i]};
        statement += i == 0 ? QStringLiteral("(") : QStringLiteral(", (");
        bool first = true;
        for (const Column& column : target.table->columns) {
            if (!first)
                statement += QStringLiteral(", ");
            first = false;
            AppendLiteral(statement, column.source, values, driver, text_);
        }
        statement += target.fillValues;
        statement += u')';
    }
    if (!direct_.exec(statement))
        failed(target, direct_);
    // A multi-row INSERT reports its first row's key.
    return &target == &header_ ? keyOf(direct_, tickets.front()) : 0;
}

qlonglong TicketStore::insertBound(Target& target, std::span<const Ticket> tickets,
                                   std::span<const QString> amounts,
                                   std::span<const qlonglong> keys)
{
    qlonglong firstKey = 0;
    const QString& hora = clock_.now();
    for (const auto& [at, rows] : chunks(tickets.size(), statementRows_)) {
        QSqlQuery& query = prepared(target, rows);
        for (int r = 0; r < rows; ++r) {
            const std::size_t i = at + std::size_t(r);
            bind(query, target, r, {tickets[i], hora, amounts[i], keys.empty() ? 0 : keys[i]});
        }
        if (!query.exec())
            failed(target, query);
        // SQLite reports a statement's last key; the rows before it took the keys just below
        // (a key that is not there fails the read-back, and the batch goes ticket by ticket).
        if (at == 0 && &target == &header_)
            firstKey = keyOf(query, tickets[at]) - (rows - 1);
    }
    return firstKey;
}

QSqlQuery& TicketStore::prepared(Target& target, int rows)
{
    const auto cached = target.inserts.find(rows);
    if (cached != target.inserts.end())
        return *cached->second;

    // Values that are the same on every row are written as constants and cost no binding.
    QStringList markers;
    for (const Column& column : target.table->columns)
        markers.append(IsConstant(column.source) ? ConstantLiteral(column.source)
                                                 : QStringLiteral("?"));
    const QString row = u'(' + markers.join(QStringLiteral(", ")) + target.fillValues + u')';
    QString statement = insertInto(target);
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
                                   .arg(target.table->name, connection_.describe(),
                                        krvt5::SqlErrorText(query->lastError())));
    return *target.inserts.emplace(rows, std::move(query)).first->second;
}

void TicketStore::bind(QSqlQuery& query, const Target& target, int row, const RowValues& values)
{
    int bound = 0;
    for (const Column& column : target.table->columns) {
        if (!IsConstant(column.source))
            ++bound;
    }
    int at = row * bound;
    for (const Column& column : target.table->columns) {
        if (!IsConstant(column.source))
            query.bindValue(at++, BoundValue(column.source, values));
    }
}

void TicketStore::insertOne(const Ticket& ticket)
{
    checkKeyRoom(header_, facts_.headerKey, 1,
                 marks_ ? std::optional(marks_->first) : std::nullopt);
    checkKeyRoom(line_, facts_.lineKey, 1, marks_ ? std::optional(marks_->second) : std::nullopt);
    const QString amount = amountText(ticket.importe);
    const QString& hora = clock_.now();
    QSqlQuery& header = prepared(header_, 1);
    bind(header, header_, 0, {ticket, hora, amount, 0});
    if (!header.exec())
        failed(header_, header);
    const qlonglong key = keyOf(header, ticket);
    // A trigger of the POS's own may have kept the header out, or changed or removed it: the
    // key given is then another row's.
    if (!firstKeyHolds(ticket, key))
        throw support::Failure(QStringLiteral("La base de datos (%1) no guardó el encabezado del "
                                              "ticket %2 en la tabla \"%3\" tal como se envió "
                                              "(un disparador de la tabla lo impidió o lo cambió).")
                                   .arg(connection_.describe())
                                   .arg(ticket.venta)
                                   .arg(kTickets.name));
    QSqlQuery& line = prepared(line_, 1);
    bind(line, line_, 0, {ticket, hora, amount, key});
    if (!line.exec())
        failed(line_, line);
}

} // namespace generation

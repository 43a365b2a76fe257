#include "generation/BatchJournal.h"

#include "generation/TicketColumns.h"
#include "krvt5/SqlError.h"
#include "plaintext/SystemError.h"
#include "support/Failure.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace generation {

namespace {

const QByteArray kHeader("generar-tickets lote 2");
const QByteArray kEarlierHeader("generar-tickets lote 1"); // numbers only
const QByteArray kEnd("fin");
const QString kBeingWritten = QStringLiteral(".nuevo");

QString systemError(int error)
{
    return plaintext::SystemErrorText(error);
}

} // namespace

QString BatchJournal::pathFor(const QString& folder, const QString& database)
{
    const QByteArray hash =
        QCryptographicHash::hash(database.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(folder.isEmpty() ? QDir::tempPath() : folder)
        .filePath(QStringLiteral("generar-tickets-lote-") + QString::fromLatin1(hash) +
                  QStringLiteral(".diario"));
}

void BatchJournal::write(const QString& path) const
{
    QByteArray text = kHeader + '\n' + database.toUtf8() + '\n' + QByteArray::number(lastHeader) +
                      ' ' + QByteArray::number(lastLine) + '\n';
    for (std::size_t i = 0; i < ventas.size(); ++i)
        text += (i ? " " : "") + QByteArray::number(ventas[i]);
    text += '\n' + dates.join(u' ').toLatin1() + '\n' + amounts.join(u' ').toLatin1() + '\n' +
            kEnd + '\n';
    // Written aside and renamed: a journal under its name is whole, one being written is not.
    const QByteArray native = QFile::encodeName(path + kBeingWritten);
    const int fd =
        ::open(native.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0660);
    const auto fail = [&](int error) {
        return support::Failure(QStringLiteral("No se pudo escribir el diario del lote %1: %2")
                                    .arg(path, systemError(error)));
    };
    if (fd < 0)
        throw fail(errno);
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, std::size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            throw fail(error);
        }
        done += n;
    }
    // On disk before the first row: a power cut must not leave rows the journal does not name.
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        throw fail(error);
    }
    ::close(fd);
    if (::rename(native.constData(), QFile::encodeName(path).constData()) != 0)
        throw fail(errno);
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

std::optional<BatchJournal> BatchJournal::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    const bool earlier = !lines.isEmpty() && lines[0] == kEarlierHeader;
    const qsizetype end = earlier ? 4 : 6;
    if (lines.size() <= end || (lines[0] != kHeader && !earlier) || lines[end] != kEnd)
        return std::nullopt;
    BatchJournal journal;
    journal.database = QString::fromUtf8(lines[1]);
    const QList<QByteArray> marks = lines[2].split(' ');
    if (marks.size() != 2)
        return std::nullopt;
    bool ok = false;
    journal.lastHeader = marks[0].toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    journal.lastLine = marks[1].toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    for (const QByteArray& venta : lines[3].split(' ')) {
        if (venta.isEmpty())
            continue;
        journal.ventas.push_back(venta.toInt(&ok));
        if (!ok)
            return std::nullopt;
    }
    if (!earlier) {
        journal.dates = QString::fromLatin1(lines[4]).split(u' ', Qt::SkipEmptyParts);
        journal.amounts = QString::fromLatin1(lines[5]).split(u' ', Qt::SkipEmptyParts);
        if (journal.dates.size() != qsizetype(journal.ventas.size()) ||
            journal.amounts.size() != qsizetype(journal.ventas.size()))
            return std::nullopt;
    }
    return journal;
}

void BatchJournal::remove(const QString& path)
{
    QFile::remove(path);
}

namespace {

// The keys of a journal's rows, headers and lines.
struct OwnRows {
    std::vector<qlonglong> headers;
    std::vector<qlonglong> lines;
};

// Column and table names as the database spells and quotes them.
struct Names {
    QString key, venta, fecha, amount, price, idTicket, tickets, detalle;
};

Names namesOf(krvt5::Connection& connection)
{
    QSqlDriver& driver = *connection.database().driver();
    const auto field = [&](const PosTable& table, QLatin1StringView column) {
        return driver.escapeIdentifier(connection.column(table.name, column),
                                       QSqlDriver::FieldName);
    };
    return {field(kTickets, kKeyColumn),
            field(kTickets, kVentaColumn),
            field(kTickets, QLatin1StringView("Fecha")),
            field(kTickets, QLatin1StringView("Efectivo")),
            field(kTicketsDetalle, QLatin1StringView("Precio")),
            field(kTicketsDetalle, kLineColumns.back().name),
            driver.escapeIdentifier(kTickets.name, QSqlDriver::TableName),
            driver.escapeIdentifier(kTicketsDetalle.name, QSqlDriver::TableName)};
}

QDate dateOf(const QVariant& value)
{
    if (value.typeId() == QMetaType::QDate)
        return value.toDate();
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().date();
    return QDate::fromString(value.toString().left(10), Qt::ISODate);
}

bool sameAmount(const QVariant& stored, const QString& written)
{
    const double a = stored.toString().toDouble();
    const double b = written.toDouble();
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

[[noreturn]] void failRead(krvt5::Connection& connection, const QSqlQuery& query)
{
    throw support::Failure(
        QStringLiteral("No se pudo quitar lo que una ejecución interrumpida dejó a medias "
                       "(%1): %2")
            .arg(connection.describe(), krvt5::SqlErrorText(query.lastError())));
}

// A journal of this version: a row past the marks is the batch's when its number, date and
// amount are one of the journal's (each at most once), in whatever order it is found, so that
// rows another removal left, or the POS's, are told apart. A line is the batch's when its header
// is, or when no header holds the key it refers to. Of those, the halves of tickets.
OwnRows rowsByContent(krvt5::Connection& connection, const BatchJournal& journal, const Names& n)
{
    QSqlDatabase& db = connection.database();
    std::unordered_map<std::int32_t, std::size_t> place;
    for (std::size_t i = 0; i < journal.ventas.size(); ++i)
        place.emplace(journal.ventas[i], i);
    const auto [low, high] = std::minmax_element(journal.ventas.begin(), journal.ventas.end());
    const auto matches = [&](const QVariant& venta, const QVariant& fecha, const QVariant& amount,
                             std::vector<bool>& used) -> bool {
        const auto found = place.find(venta.toInt());
        if (found == place.end() || used[found->second] ||
            dateOf(fecha) !=
                QDate::fromString(journal.dates[qsizetype(found->second)], Qt::ISODate) ||
            !sameAmount(amount, journal.amounts[qsizetype(found->second)]))
            return false;
        used[found->second] = true;
        return true;
    };
    OwnRows own;
    QSqlQuery headers(db);
    if (!headers.exec(QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 WHERE %1 > %6 AND %2 BETWEEN "
                                     "%7 AND %8 ORDER BY %1")
                          .arg(n.key, n.venta, n.fecha, n.amount, n.tickets)
                          .arg(journal.lastHeader)
                          .arg(*low)
                          .arg(*high)))
        failRead(connection, headers);
    std::vector<bool> usedHeaders(journal.ventas.size(), false);
    while (headers.next()) {
        if (matches(headers.value(1), headers.value(2), headers.value(3), usedHeaders))
            own.headers.push_back(headers.value(0).toLongLong());
    }
    headers.finish();
    const std::unordered_set<qlonglong> ours(own.headers.begin(), own.headers.end());
    QSqlQuery lines(db);
    if (!lines.exec(QStringLiteral("SELECT %1, %2, %3, %4, %5 FROM %6 WHERE %1 > %7 AND %2 "
                                   "BETWEEN %8 AND %9 ORDER BY %1")
                        .arg(n.key, n.venta, n.fecha, n.price, n.idTicket, n.detalle)
                        .arg(journal.lastLine)
                        .arg(*low)
                        .arg(*high)))
        failRead(connection, lines);
    std::vector<bool> usedLines(journal.ventas.size(), false);
    std::vector<std::pair<qlonglong, qlonglong>> candidates; // line key, header key
    while (lines.next()) {
        const qlonglong header = lines.value(4).toLongLong();
        if ((ours.contains(header) || header > journal.lastHeader) &&
            matches(lines.value(1), lines.value(2), lines.value(3), usedLines))
            candidates.emplace_back(lines.value(0).toLongLong(), header);
    }
    lines.finish();
    // A line whose header key some header holds that is not the batch's is not the batch's.
    QStringList others;
    for (const auto& [line, header] : candidates) {
        if (!ours.contains(header))
            others.append(QString::number(header));
    }
    std::unordered_set<qlonglong> held;
    if (!others.isEmpty()) {
        QSqlQuery present(db);
        if (!present.exec(QStringLiteral("SELECT %1 FROM %2 WHERE %1 IN (%3)")
                              .arg(n.key, n.tickets, others.join(u','))))
            failRead(connection, present);
        while (present.next())
            held.insert(present.value(0).toLongLong());
    }
    std::vector<std::pair<qlonglong, qlonglong>> found; // the batch's lines, with their headers
    std::unordered_map<qlonglong, int> linesOf;
    for (const auto& [line, header] : candidates) {
        if (ours.contains(header) || !held.contains(header)) {
            found.emplace_back(line, header);
            ++linesOf[header];
        }
    }
    // A ticket of the batch that is whole, its header with exactly its line, is a ticket like
    // any other, committed or not: it stays, and its number counts as taken. Only halves go.
    const auto whole = [&](qlonglong header) {
        const auto lines = linesOf.find(header);
        return ours.contains(header) && lines != linesOf.end() && lines->second == 1;
    };
    OwnRows halves;
    for (const qlonglong header : own.headers) {
        if (!whole(header))
            halves.headers.push_back(header);
    }
    for (const auto& [line, header] : found) {
        if (!whole(header))
            halves.lines.push_back(line);
    }
    return halves;
}

// A journal of an earlier version, numbers only: the batch's rows came in its order right after
// the marks.
OwnRows rowsInOrder(krvt5::Connection& connection, const BatchJournal& journal, const Names& n)
{
    QSqlDatabase& db = connection.database();
    const QString& key = n.key;
    const QString& venta = n.venta;
    const QString& idTicket = n.idTicket;
    const QString& tickets = n.tickets;
    const QString& detalle = n.detalle;
    const auto fail = [&](const QSqlQuery& query) { failRead(connection, query); };
    const qsizetype count = qsizetype(journal.ventas.size());
    // The batch's rows came in its order right after the marks: its headers are the rows
    // from there on whose numbers follow the journal's, and its lines those that follow
    // them with the same numbers and keys.
    QSqlQuery headers(db);
    if (!headers.exec(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1 > %4 ORDER BY %1 LIMIT %5")
                          .arg(key, venta, tickets)
                          .arg(journal.lastHeader)
                          .arg(count)))
        fail(headers);
    std::vector<qlonglong> ours;
    while (headers.next() && ours.size() < journal.ventas.size() &&
           headers.value(1).toInt() == journal.ventas[ours.size()])
        ours.push_back(headers.value(0).toLongLong());
    headers.finish();
    QSqlQuery lines(db);
    if (!lines.exec(QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %1 > %5 ORDER BY %1 LIMIT %6")
                        .arg(key, venta, idTicket, detalle)
                        .arg(journal.lastLine)
                        .arg(count)))
        fail(lines);
    // Past the headers found, lines whose headers rolled back (a header table that can,
    // beside a line table that cannot): each refers to a key given after the marks that
    // no header holds with its number now.
    std::vector<qlonglong> ourLines;
    std::vector<std::pair<qlonglong, qlonglong>> orphans; // line key, header key
    while (lines.next() && ourLines.size() + orphans.size() < journal.ventas.size()) {
        const std::size_t at = ourLines.size() + orphans.size();
        const qlonglong header = lines.value(2).toLongLong();
        if (lines.value(1).toInt() != journal.ventas[at])
            break;
        if (orphans.empty() && at < ours.size()) {
            if (header != ours[at])
                break;
            ourLines.push_back(lines.value(0).toLongLong());
        } else if (at >= ours.size() && header > journal.lastHeader) {
            orphans.emplace_back(lines.value(0).toLongLong(), header);
        } else {
            break;
        }
    }
    lines.finish();
    if (!orphans.empty()) {
        QStringList keys;
        for (const auto& orphan : orphans)
            keys.append(QString::number(orphan.second));
        QSqlQuery held(db);
        if (!held.exec(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1 IN (%4)")
                           .arg(key, venta, tickets, keys.join(u','))))
            fail(held);
        std::unordered_map<qlonglong, std::int32_t> headers;
        while (held.next())
            headers.emplace(held.value(0).toLongLong(), held.value(1).toInt());
        for (std::size_t i = 0; i < orphans.size(); ++i) {
            const auto found = headers.find(orphans[i].second);
            if (found != headers.end() && found->second == journal.ventas[ours.size() + i])
                break;
            ourLines.push_back(orphans[i].first);
        }
    }
    return {std::move(ours), std::move(ourLines)};
}

int recover(krvt5::Connection& connection, const BatchJournal& journal, const QString& path)
{
    QSqlDatabase& db = connection.database();
    const Names n = namesOf(connection);
    connection.BeginExclusiveTrans({kTickets.name, kTicketsDetalle.name});
    try {
        const OwnRows own = journal.dates.isEmpty() ? rowsInOrder(connection, journal, n)
                                                    : rowsByContent(connection, journal, n);
        const auto removeKeys = [&](const QString& table, const std::vector<qlonglong>& keys) {
            for (std::size_t at = 0; at < keys.size(); at += 500) {
                QStringList list;
                for (std::size_t i = at; i < std::min(keys.size(), at + 500); ++i)
                    list.append(QString::number(keys[i]));
                QSqlQuery remove(db);
                if (!remove.exec(QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)")
                                     .arg(table, n.key, list.join(u','))))
                    failRead(connection, remove);
            }
        };
        removeKeys(n.detalle, own.lines);
        removeKeys(n.tickets, own.headers);
        connection.CommitTrans();
        BatchJournal::remove(path);
        return int(own.headers.size());
    } catch (...) {
        try {
            connection.RollbackTrans();
        } catch (...) {
        }
        throw;
    }
}

} // namespace

int RecoverInterruptedBatch(krvt5::Connection& connection, const QString& folder)
{
    // A journal names its database by its place, whoever reaches it; one of an earlier version
    // by the connection's description, user included.
    for (const QString& database : {connection.place(), connection.describe()}) {
        const QString path = BatchJournal::pathFor(folder, database);
        // One still being written when its run was killed: its batch wrote nothing.
        QFile::remove(path + kBeingWritten);
        const std::optional<BatchJournal> journal = BatchJournal::read(path);
        if (!journal && QFile::exists(path) && database == connection.place())
            throw support::Failure(
                QStringLiteral("El diario del lote \"%1\" está dañado: no se puede saber qué "
                               "dejó a medias la ejecución que lo escribió. Revise las tablas "
                               "(encabezados sin su partida, partidas sin su encabezado) y borre "
                               "el archivo antes de volver a generar.")
                    .arg(path));
        if (!journal) {
            BatchJournal::remove(path); // an earlier version's, cut short: it wrote nothing
            continue;
        }
        if (journal->database == database && !journal->ventas.empty())
            return recover(connection, *journal, path);
    }
    return 0;
}

} // namespace generation

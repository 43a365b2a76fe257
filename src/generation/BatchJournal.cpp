#include "generation/BatchJournal.h"

#include "generation/TicketColumns.h"
#include "krvt5/SqlError.h"
#include "support/Failure.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <unordered_map>

namespace generation {

namespace {

const QByteArray kHeader("generar-tickets lote 1");
const QByteArray kEnd("fin");

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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
    text += '\n' + kEnd + '\n';
    const QByteArray native = QFile::encodeName(path);
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
}

std::optional<BatchJournal> BatchJournal::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 5 || lines[0] != kHeader || lines[4] != kEnd)
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
    return journal;
}

void BatchJournal::remove(const QString& path)
{
    QFile::remove(path);
}

int RecoverInterruptedBatch(krvt5::Connection& connection, const QString& folder)
{
    const QString path = BatchJournal::pathFor(folder, connection.describe());
    const std::optional<BatchJournal> journal = BatchJournal::read(path);
    if (!journal) {
        BatchJournal::remove(path); // a journal cut short: its batch wrote nothing
        return 0;
    }
    if (journal->database != connection.describe())
        return 0;
    QSqlDatabase& db = connection.database();
    QSqlDriver& driver = *db.driver();
    const QString key = driver.escapeIdentifier(connection.column(kTickets.name, kKeyColumn),
                                                QSqlDriver::FieldName);
    const QString venta = driver.escapeIdentifier(connection.column(kTickets.name, kVentaColumn),
                                                  QSqlDriver::FieldName);
    const QString idTicket = driver.escapeIdentifier(
        connection.column(kTicketsDetalle.name, kLineColumns.back().name), QSqlDriver::FieldName);
    const QString tickets = driver.escapeIdentifier(kTickets.name, QSqlDriver::TableName);
    const QString detalle = driver.escapeIdentifier(kTicketsDetalle.name, QSqlDriver::TableName);
    const auto fail = [&](const QSqlQuery& query) {
        return support::Failure(
            QStringLiteral("No se pudo quitar lo que una ejecución interrumpida dejó a medias "
                           "(%1): %2")
                .arg(connection.describe(), krvt5::SqlErrorText(query.lastError())));
    };
    const qsizetype count = qsizetype(journal->ventas.size());

    connection.BeginExclusiveTrans({kTickets.name, kTicketsDetalle.name});
    try {
        // The batch's rows came in its order right after the marks: its headers are the rows
        // from there on whose numbers follow the journal's, and its lines those that follow
        // them with the same numbers and keys.
        QSqlQuery headers(db);
        if (!headers.exec(QStringLiteral("SELECT %1, %2 FROM %3 WHERE %1 > %4 ORDER BY %1 LIMIT %5")
                              .arg(key, venta, tickets)
                              .arg(journal->lastHeader)
                              .arg(count)))
            throw fail(headers);
        std::vector<qlonglong> ours;
        while (headers.next() && ours.size() < journal->ventas.size() &&
               headers.value(1).toInt() == journal->ventas[ours.size()])
            ours.push_back(headers.value(0).toLongLong());
        headers.finish();
        QSqlQuery lines(db);
        if (!lines.exec(
                QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %1 > %5 ORDER BY %1 LIMIT %6")
                    .arg(key, venta, idTicket, detalle)
                    .arg(journal->lastLine)
                    .arg(count)))
            throw fail(lines);
        // Past the headers found, lines whose headers rolled back (a header table that can,
        // beside a line table that cannot): each refers to a key given after the marks that
        // no header holds with its number now.
        std::vector<qlonglong> ourLines;
        std::vector<std::pair<qlonglong, qlonglong>> orphans; // line key, header key
        while (lines.next() && ourLines.size() + orphans.size() < journal->ventas.size()) {
            const std::size_t at = ourLines.size() + orphans.size();
            const qlonglong header = lines.value(2).toLongLong();
            if (lines.value(1).toInt() != journal->ventas[at])
                break;
            if (orphans.empty() && at < ours.size()) {
                if (header != ours[at])
                    break;
                ourLines.push_back(lines.value(0).toLongLong());
            } else if (at >= ours.size() && header > journal->lastHeader) {
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
                throw fail(held);
            std::unordered_map<qlonglong, std::int32_t> headers;
            while (held.next())
                headers.emplace(held.value(0).toLongLong(), held.value(1).toInt());
            for (std::size_t i = 0; i < orphans.size(); ++i) {
                const auto found = headers.find(orphans[i].second);
                if (found != headers.end() && found->second == journal->ventas[ours.size() + i])
                    break;
                ourLines.push_back(orphans[i].first);
            }
        }
        const auto removeKeys = [&](const QString& table, const std::vector<qlonglong>& keys) {
            for (std::size_t at = 0; at < keys.size(); at += 500) {
                QStringList list;
                for (std::size_t i = at; i < std::min(keys.size(), at + 500); ++i)
                    list.append(QString::number(keys[i]));
                QSqlQuery remove(db);
                if (!remove.exec(QStringLiteral("DELETE FROM %1 WHERE %2 IN (%3)")
                                     .arg(table, key, list.join(u','))))
                    throw fail(remove);
            }
        };
        removeKeys(detalle, ourLines);
        removeKeys(tickets, ours);
        connection.CommitTrans();
        BatchJournal::remove(path);
        return int(ours.size());
    } catch (...) {
        try {
            connection.RollbackTrans();
        } catch (...) {
        }
        throw;
    }
}

} // namespace generation

#pragma once

#include "generation/TicketSink.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QTemporaryFile;
namespace krvt5 {
class LocalInfile;
}

namespace generation {

// The client's time of day as "HH:mm", read for every record. The local time costs a time
// zone check (a stat call) per reading, so it is worked out once a minute from the epoch clock.
class Clock {
public:
    const QString& now();

private:
    qint64 from_ = 0;
    qint64 until_ = 0;
    QString text_;
};

// Removes the files the MySQL loader left in the temporary folder when its process was killed.
void removeAbandonedLoadFiles();

// Writes tickets on one connection, inside the transaction its caller opened.
//
// A batch goes table by table: the headers, then their keys read back through Venta, then the
// lines, so that per-statement costs are paid once per chunk of rows, not once per record.
// MySQL: through the server's own loader (LOAD DATA LOCAL INFILE from a file of the client's)
// while the server takes it and reports every row loaded without a warning; otherwise through
// multi-row INSERTs with the values escaped by the driver (a prepared execute there costs two
// round trips and a conversion of every bound value). SQLite: prepared multi-row INSERTs.
// Statements are never joined by ";": an error in the second would be lost.
class TicketStore {
public:
    // `statementRows` bounds the rows of one statement (the engine's own bound applies too);
    // `serverLoader` allows the loader where the engine has one.
    TicketStore(krvt5::Connection& connection, int statementRows, bool serverLoader);
    ~TicketStore();
    TicketStore(const TicketStore&) = delete;
    TicketStore& operator=(const TicketStore&) = delete;

    // Stores the batch. On a failure some of it may be stored: the caller rolls back.
    void insertBatch(std::span<const Ticket> batch);
    // Stores one ticket, header and then line with its header's key, with prepared statements
    // as the row-by-row path does: a failure here belongs to this ticket.
    void insertOne(const Ticket& ticket);

private:
    enum class Table { Header, Line };

    QString tableName(Table table) const;
    QString quoted(const QString& name, QSqlDriver::IdentifierType type) const;
    QStringList columnsOf(const QString& table, const QStringList& fields);
    // "INSERT INTO table (columns) VALUES ".
    QString insertInto(Table table) const;
    [[noreturn]] void failed(Table table, const QSqlQuery& query) const;
    qlonglong keyOf(QSqlQuery& query, const Ticket& ticket) const;

    // The rows of one table (lines with their headers' keys in `ids`); gives the first key.
    qlonglong insertRows(Table table, std::span<const Ticket> tickets,
                         std::span<const QString> amounts, std::span<const qlonglong> ids);
    std::optional<qlonglong> loadRows(Table table, std::span<const Ticket> tickets,
                                      std::span<const QString> amounts,
                                      std::span<const qlonglong> ids);
    qlonglong insertLiteral(Table table, std::span<const Ticket> tickets,
                            std::span<const QString> amounts, std::span<const qlonglong> ids);
    qlonglong insertBound(Table table, std::span<const Ticket> tickets,
                          std::span<const QString> amounts, std::span<const qlonglong> ids);
    void readKeys(std::span<const Ticket> batch, qlonglong firstId, std::vector<qlonglong>& ids);

    QSqlQuery& prepared(Table table, int rows);
    void bindHeader(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount);
    void bindLine(QSqlQuery& query, int row, const Ticket& ticket, const QString& amount,
                  qlonglong idTicket);

    krvt5::Connection& connection_;
    QSqlDatabase& db_;
    bool mysql_;
    int statementRows_;
    bool load_;
    QString tickets_;
    QString ticketsdetalle_;
    QStringList headerColumns_;
    QStringList lineColumns_;
    Clock clock_;
    QSqlQuery direct_; // statements run once, with their values in the text
    QSqlQuery readBack_;
    QSqlField text_; // for the driver's escaping
    std::unique_ptr<QTemporaryFile> loadFile_;
    // Answers the server's request for loadFile_ and refuses any other; destroyed first.
    std::unique_ptr<krvt5::LocalInfile> fileRequests_;
    std::map<int, std::unique_ptr<QSqlQuery>> headerInserts_;
    std::map<int, std::unique_ptr<QSqlQuery>> lineInserts_;
};

} // namespace generation

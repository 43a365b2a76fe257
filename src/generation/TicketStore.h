#pragma once

#include "generation/ColumnLimits.h"
#include "generation/TicketColumns.h"
#include "generation/TicketSink.h"
#include "krvt5/Connection.h"
#include "support/Failure.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

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

// What a run learns once of the POS tables it writes, before its first batch.
struct TableFacts {
    // Tables that cannot roll back, as "tickets (MyISAM)"; empty when every one can.
    QStringList nonTransactional;
    // The scale amounts are written with (ColumnLimits::writtenScale()).
    std::optional<int> amountScale;
    // Columns of the POS's own that need a value the program gives them.
    std::vector<ColumnLimits::Fill> headerFills;
    std::vector<ColumnLimits::Fill> lineFills;
    // Amount columns of 32-bit floats (ColumnLimits::floatAmounts).
    QStringList floatAmounts;
    // Keys that may run out.
    std::optional<ColumnLimits::SmallKey> headerKey;
    std::optional<ColumnLimits::SmallKey> lineKey;

    static TableFacts read(krvt5::Connection& connection);
};

// A failure that every part of the batch would meet again: the batch is not tried by halves.
class BatchRefused : public support::Failure {
public:
    using support::Failure::Failure;
};

// Removes the files that the MySQL loader of earlier versions left in the temporary folder when
// its process was killed.
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
    // `serverLoader` allows the loader where the engine has one; `journalFolder` keeps the
    // journal of batches on tables that cannot roll back.
    TicketStore(krvt5::Connection& connection, int statementRows, bool serverLoader,
                TableFacts facts, const QString& journalFolder);
    ~TicketStore();
    TicketStore(const TicketStore&) = delete;
    TicketStore& operator=(const TicketStore&) = delete;

    // Starts the batch's transaction, one that keeps every other writer out until its end (on a
    // server, readers wait too), so that what passOver() reads stays true until the commit.
    // Waits for tables that another client holds as `patience` says (TablesBusy after that).
    void begin(const krvt5::Patience& patience = {});
    // The time begin() waited for the tables since the last call: not time the batch held them.
    qint64 takeWaitedMs() { return std::exchange(waitedMs_, 0); }
    // Inside that transaction, before writing: the tickets whose numbers are still free go to
    // `fresh`, those taken since the run read its range to `taken`. When none is taken, nothing
    // is copied (the tables wait meanwhile) and the result is the batch itself.
    std::span<const Ticket> passOver(std::span<const Ticket> batch, std::vector<Ticket>& fresh,
                                     std::vector<Ticket>& taken);
    // Where the tables end, read inside the batch's transaction, so that undo() can remove
    // what the batch wrote where a rollback cannot, and a journal of the batch that the next
    // run reads should this one be killed. Nothing to do on tables that roll back.
    // Before the first batch on such tables, whether the user may delete there (BatchRefused
    // when not).
    void mark(std::span<const Ticket> fresh);
    // A failure leaves the rows and their journal, and every later batch is refused.
    void undo();
    // The batch is committed: its journal goes.
    void settle();
    // The commit failed: the journal stays for the next run, and undo() does nothing more.
    void keepJournal();

    // Stores the batch. On a failure some of it may be stored: the caller rolls back.
    void insertBatch(std::span<const Ticket> batch);
    // Stores one ticket, header and then line with its header's key, with prepared statements
    // as the row-by-row path does: a failure here belongs to this ticket.
    void insertOne(const Ticket& ticket);

private:
    // A POS table with its name and columns spelled and quoted as the database has them.
    struct Target {
        const PosTable* table = nullptr;
        QString quotedName;
        QStringList quotedColumns;
        // Columns of the POS's own given a fixed value, after the program's.
        QStringList fillColumns;
        QStringList fillLiterals;
        QString fillValues;                                // ", 0, ''", as a row ends
        std::map<int, std::unique_ptr<QSqlQuery>> inserts; // prepared, by row count
    };

    Target resolve(const PosTable& table);
    void addFills(Target& target, const std::vector<ColumnLimits::Fill>& fills) const;
    QString amountText(double amount) const;
    // "INSERT INTO table (columns) VALUES ".
    QString insertInto(const Target& target) const;
    [[noreturn]] void failed(const Target& target, const QSqlQuery& query) const;
    qlonglong keyOf(QSqlQuery& query, const Ticket& ticket) const;
    // Whether the headers from `firstKey` on are the batch's, where the first key was worked
    // out; whether the header at `key` is `first`'s.
    bool keysHold(std::span<const Ticket> batch, qlonglong firstKey);
    bool firstKeyHolds(const Ticket& first, qlonglong key);

    // The rows of one table (lines with their headers' keys in `keys`); gives the first key.
    qlonglong insertRows(Target& target, std::span<const Ticket> tickets,
                         std::vector<QString>& amounts, std::span<const qlonglong> keys);
    std::optional<qlonglong> loadRows(Target& target, std::span<const Ticket> tickets,
                                      std::span<const QString> amounts,
                                      std::span<const qlonglong> keys);
    bool readyToLoad();
    static bool followOrdinals(std::span<const Ticket> tickets, std::span<const qlonglong> keys,
                               qlonglong& offset);
    const QByteArray& formattedRows(std::span<const Ticket> tickets, bool header);
    qlonglong insertLiteral(Target& target, std::span<const Ticket> tickets,
                            std::span<const QString> amounts, std::span<const qlonglong> keys);
    qlonglong insertBound(Target& target, std::span<const Ticket> tickets,
                          std::span<const QString> amounts, std::span<const qlonglong> keys);
    void readKeys(std::span<const Ticket> batch, qlonglong firstKey, qlonglong before,
                  std::vector<qlonglong>& keys);
    void checkKeyRoom(const Target& target, const std::optional<ColumnLimits::SmallKey>& key,
                      std::size_t count, std::optional<qlonglong> last = std::nullopt);

    QSqlQuery& prepared(Target& target, int rows);
    void bind(QSqlQuery& query, const Target& target, int row, const RowValues& values);

    krvt5::Connection& connection_;
    QSqlDatabase& db_;
    const krvt5::Engine& engine_;
    int statementRows_;
    bool load_;
    Target header_;
    Target line_;
    Clock clock_;
    QSqlQuery direct_; // statements run once, with their values in the text
    QSqlQuery readBack_;
    const TableFacts facts_;
    QString quotedKey_;
    std::optional<std::pair<qlonglong, qlonglong>> marks_; // last header and line keys
    QString journal_; // the journal file, on tables that cannot roll back
    bool removalChecked_ = false;
    bool stuck_ = false; // a failed batch could not be removed
    QSqlField text_;     // for the driver's escaping
    qint64 waitedMs_ = 0;
    QByteArray loadText_;                  // the loader's rows of the statement running
    std::optional<qlonglong> lastKeyRead_; // the headers' last key, read with the loader's first
    // Answers the server's request for the loader's rows and refuses any other; destroyed first.
    std::unique_ptr<krvt5::LocalInfile> fileRequests_;
};

} // namespace generation

#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QSqlDatabase;

namespace krvt5 {
class Connection;
}

namespace generation {

// What the POS tables are made of, where it decides how a run may write to them.
struct TableKinds {
    // Tables that cannot roll back, as "tickets (MyISAM)": a failed batch is removed by its keys.
    QStringList nonTransactional;
    // Why the program may not write to the tables at all, a sentence each: a view, or an engine
    // that keeps nothing or cannot remove what a failed batch wrote. Empty when it may.
    QStringList refusals;

    static TableKinds read(krvt5::Connection& connection);
};

// A DELETE that removes nothing: whether the user may remove from `quotedTable` what a failed
// batch wrote where a rollback cannot. The server's reason when not. Asked while the batch
// holds the tables, so that it waits for no one.
std::optional<QString> DeleteRefused(QSqlDatabase& db, const QString& quotedTable);

// Why no batch may go where DeleteRefused() gave `reason` for `table`, as a clause.
QString NoRemovalText(const QStringList& nonTransactional, const QString& table,
                      const QString& reason);

// An INSERT of no row (MySQL): whether the user may add rows to `quotedTable`. The server's
// reason when not. Asked while the tables are held, as DeleteRefused().
std::optional<QString> InsertRefused(QSqlDatabase& db, const QString& quotedTable,
                                     const QString& quotedColumn);

} // namespace generation

#pragma once

#include "krvt5/Connection.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace generation {

// What a batch on tables that cannot roll back is about to write, kept on disk (synced) until
// the batch is committed or undone: where both tables ended when the batch took them, and the
// batch's numbers in the order its rows go in, each with its date and amount. After a kill or a
// removal that failed, the next run removes exactly the rows this proves are the batch's, and
// nothing of anybody else.
struct BatchJournal {
    QString database; // the connection's place(), so that a journal is only its own
    qlonglong lastHeader = 0;
    qlonglong lastLine = 0;
    std::vector<std::int32_t> ventas;
    // Each number's date ("2026-12-07") and amount as written ("12.35"); none in a journal of
    // an earlier version, whose rows are proved by their numbers and their order alone.
    QStringList dates;
    QStringList amounts;

    // The journal file for a database in `folder` (the temporary folder when empty).
    static QString pathFor(const QString& folder, const QString& database);
    // Written and synced before the batch writes; a failure to write is a failure of the batch.
    void write(const QString& path) const;
    // Nothing when there is no journal or it is not whole (a kill while it was being written:
    // then the batch had not written anything yet).
    static std::optional<BatchJournal> read(const QString& path);
    static void remove(const QString& path);
};

// Removes what a killed run left half-written according to its journal, under the lock that
// keeps other writers out, and then the journal. Returns the tickets removed.
int RecoverInterruptedBatch(krvt5::Connection& connection, const QString& folder);

} // namespace generation

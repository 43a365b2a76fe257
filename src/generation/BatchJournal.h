#pragma once

#include "krvt5/Connection.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace generation {

// What a batch on tables that cannot roll back is about to write, kept on disk (synced) until
// the batch is committed or undone: where both tables ended when the batch took them, and the
// batch's numbers in the order its rows go in. After a kill, the next run removes exactly the
// rows this proves are the batch's, and nothing of anybody else.
struct BatchJournal {
    QString database; // the connection's description, so that a journal is only its own
    qlonglong lastHeader = 0;
    qlonglong lastLine = 0;
    std::vector<std::int32_t> ventas;

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

#pragma once

#include <QString>

namespace krvt5 {

// Whether another process holds SQLite's read lock on a database file, as Linux lists the
// file's record locks in /proc/locks. While one does, a try for the write lock cannot succeed,
// and would for a moment hold the reserved lock that such a reader needs to begin writing:
// SQLite then fails that reader at once instead of letting it wait. False where it cannot be
// told (no /proc/locks, a file that cannot be found).
bool OtherProcessReads(const QString& file);

} // namespace krvt5

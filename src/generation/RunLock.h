#pragma once

#include "krvt5/Connection.h"

#include <QString>
#include <chrono>
#include <functional>

namespace generation {

// Keeps a second run off the same database for as long as this run lasts, so that no ticket
// number is written twice. MySQL: a named lock (GET_LOCK) on the run's own connection, which
// the server drops with the connection when the program dies. SQLite: an exclusive lock on
// "<database file>.lock" beside the database, which the system drops with the process (the
// database's own write lock cannot be held across the run's commits).
// Waits up to `wait` for a run that holds it; then a Failure saying that another run is using
// the database.
class RunLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{5000};

    RunLock(krvt5::ConnectionRef connection, const QString& database,
            std::chrono::milliseconds wait = kDefaultWait);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Asked on a writing connection before each commit: fails once the run no longer holds its
    // lock (the connection that held it was lost), so that nothing more is committed.
    std::function<void(krvt5::Connection&)> commitCheck() const;

    // The name of the MySQL lock for a database (at most 64 characters, as MySQL requires).
    static QString lockName(const QString& database);
    // The lock file for an SQLite database file.
    static QString lockFile(const QString& databaseFile);

private:
    void lockServer(const QString& database, std::chrono::milliseconds wait);
    void lockFileBeside(const QString& database, std::chrono::milliseconds wait);
    [[noreturn]] void busy(const QString& database) const;

    krvt5::ConnectionRef connection_;
    QString name_;         // MySQL lock name, when held
    qlonglong holder_ = 0; // the server's id of the connection that holds it
    QString path_;         // lock file, when held
    int fd_ = -1;
};

} // namespace generation

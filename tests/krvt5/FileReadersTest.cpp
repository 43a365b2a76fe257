#include "krvt5/FileReaders.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr off_t kSharedFirst = 0x40000000 + 2;
constexpr off_t kSharedSize = 510;

// Another process reading the file as SQLite does: a read lock on the shared range, held until
// the test lets it go.
class OtherReader {
public:
    explicit OtherReader(const QString& file)
    {
        if (::pipe(ready_) != 0 || ::pipe(release_) != 0)
            return;
        const QByteArray path = file.toLocal8Bit();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only calls that are safe in the child of a process with threads.
            const int fd = ::open(path.constData(), O_RDONLY);
            struct flock lock {};
            lock.l_type = F_RDLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = kSharedFirst;
            lock.l_len = kSharedSize;
            const char held = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 1 : 0;
            [[maybe_unused]] const auto told = ::write(ready_[1], &held, 1);
            char go = 0;
            [[maybe_unused]] const auto waited = ::read(release_[0], &go, 1);
            ::_exit(0);
        }
        char held = 0;
        holding_ = pid_ > 0 && ::read(ready_[0], &held, 1) == 1 && held == 1;
    }
    ~OtherReader()
    {
        if (pid_ > 0) {
            const char go = 1;
            [[maybe_unused]] const auto told = ::write(release_[1], &go, 1);
            ::waitpid(pid_, nullptr, 0);
        }
        for (const int fd : {ready_[0], ready_[1], release_[0], release_[1]})
            ::close(fd);
    }
    bool holding() const { return holding_; }

private:
    int ready_[2] = {-1, -1};
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool holding_ = false;
};

TEST(FileReaders, AnotherProcessReadingTheFileIsSeenAndThisOnesOwnReadsAreNot)
{
    if (!QFile::exists(QStringLiteral("/proc/locks")))
        GTEST_SKIP() << "no /proc/locks";
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("pos.db"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "lectores");
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("CREATE TABLE tickets (Venta INTEGER)")));
        ASSERT_TRUE(query.exec(QStringLiteral("INSERT INTO tickets VALUES (1)")));
        // This process's own read transaction: SQLite's lock, but not another process's.
        ASSERT_TRUE(query.exec(QStringLiteral("BEGIN")));
        ASSERT_TRUE(query.exec(QStringLiteral("SELECT Venta FROM tickets")) && query.next());
        EXPECT_FALSE(krvt5::OtherProcessReads(file));
        {
            const OtherReader reader(file);
            ASSERT_TRUE(reader.holding());
            EXPECT_TRUE(krvt5::OtherProcessReads(file));
            EXPECT_FALSE(krvt5::OtherProcessReads(dir.filePath(QStringLiteral("otro.db"))));
        }
        EXPECT_FALSE(krvt5::OtherProcessReads(file));
        query.finish();
        ASSERT_TRUE(query.exec(QStringLiteral("COMMIT")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("lectores"));
}

} // namespace

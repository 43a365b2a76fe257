#include "generation/RunLock.h"

#include "generation/ScanFixture.h"
#include "support/Failure.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QThread>
#include <sys/stat.h>

using namespace testsupport;
using generation::RunLock;
using namespace std::chrono_literals;

namespace {

class RunLockTest : public ScanFixture {
protected:
    krvt5::ConnectionRef openAnother()
    {
        krvt5::ConnectionRef other;
        EXPECT_TRUE(support::oBases->AbrirBdD(other, db->name()))
            << support::oBases->UltimoError().toStdString();
        return other;
    }

    // The message of the failure a run gets while the lock is held; "" when it got the lock.
    QString tryLock(std::chrono::milliseconds wait = 0ms)
    {
        try {
            RunLock lock(state.cnBase, db->name(), wait);
            return {};
        } catch (const support::Failure& failure) {
            return failure.message();
        }
    }

    QString databaseFile() const
    {
        return db->server().mid(7) + u'/' + db->name() + QStringLiteral(".db");
    }

    // Another program holding the lock the way a run does: a shell with the lock file open and
    // locked, or a MariaDB client session idle after GET_LOCK.
    void startHolder(QProcess& holder)
    {
        if (GetParam() == Engine::SQLite) {
            holder.start(QStringLiteral("bash"),
                         {QStringLiteral("-c"),
                          QStringLiteral("exec 9>\"$0\"; flock -x 9; echo held; exec sleep 600"),
                          RunLock::lockFile(databaseFile())});
        } else {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("MYSQL_PWD"), db->password());
            holder.setProcessEnvironment(env);
            holder.start(QStringLiteral("mariadb"),
                         {QStringLiteral("--no-defaults"), QStringLiteral("-h"), db->server(),
                          QStringLiteral("-P"), db->port(), QStringLiteral("-u"), db->user()});
        }
        ASSERT_TRUE(holder.waitForStarted()) << holder.errorString().toStdString();
        if (GetParam() == Engine::SQLite) {
            // Not probed with a lock of ours: one taken and let go removes the file the shell
            // may have opened but not locked yet.
            while (!holder.canReadLine() && holder.waitForReadyRead(30000)) {
            }
            ASSERT_EQ(holder.readLine(), QByteArray("held\n"));
            return;
        }
        // The client stays connected and idle, waiting for more input.
        holder.write(QStringLiteral("SELECT GET_LOCK('%1', 0);\n")
                         .arg(RunLock::lockName(db->name()))
                         .toUtf8());
        holder.waitForBytesWritten();
        // Asked of the server, not probed with a lock of ours: a probe that takes the free lock
        // for a moment makes the client's GET_LOCK(…, 0) fail, and it never holds it.
        for (int attempt = 0; attempt < 600; ++attempt) {
            const auto used = db->rows(QStringLiteral("SELECT IS_USED_LOCK('%1') IS NOT NULL")
                                           .arg(RunLock::lockName(db->name())));
            if (!used.empty() && used[0].value(0) == QLatin1String("1"))
                return;
            QThread::msleep(50);
        }
        FAIL() << "the other program never took the lock: "
               << holder.readAllStandardError().toStdString();
    }
};

TEST_P(RunLockTest, ASecondRunIsToldThatAnotherRunUsesTheDatabaseUntilTheFirstEnds)
{
    krvt5::ConnectionRef other = openAnother();
    {
        const RunLock first(other, db->name(), 0ms);
        const QString message = tryLock(300ms);
        EXPECT_TRUE(message.startsWith(
            QStringLiteral(
                "Otra ejecución de generar-tickets está usando la base de datos \"%1\" (")
                .arg(db->name())))
            << message.toStdString();
        EXPECT_TRUE(message.endsWith(QStringLiteral("Espere a que termine y vuelva a intentarlo.")))
            << message.toStdString();
        if (!db->password().isEmpty()) {
            EXPECT_FALSE(message.contains(db->password()));
        }
    }
    EXPECT_EQ(tryLock(), QString());
    if (GetParam() == Engine::SQLite) {
        EXPECT_FALSE(QFile::exists(RunLock::lockFile(databaseFile())));
    }

    // A run whose connection is gone (as when the program dies) holds nothing any more.
    {
        const RunLock first(other, db->name(), 0ms);
        support::oBases->CierraBdD(other);
        if (GetParam() == Engine::MariaDB) {
            EXPECT_EQ(tryLock(5s), QString());
        }
    }
    EXPECT_EQ(tryLock(), QString());
}

TEST_P(RunLockTest, ARunWaitsForAnotherProgramAndTakesTheLockOnceThatOneIsKilled)
{
    QProcess holder;
    startHolder(holder);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(tryLock().startsWith(QStringLiteral("Otra ejecución")));
    holder.kill();
    EXPECT_EQ(tryLock(30s), QString());
    holder.waitForFinished();
}

TEST_P(RunLockTest, ALinkAtTheLockFilesNameIsNotFollowed)
{
    if (GetParam() != Engine::SQLite)
        GTEST_SKIP() << "the lock file is SQLite's";
    const QString other = dir.filePath(QStringLiteral("ajeno.txt"));
    writeFile(other, "intacto\n");
    ASSERT_TRUE(QFile::link(other, RunLock::lockFile(databaseFile())));
    const QString message = tryLock();
    EXPECT_TRUE(message.contains(QStringLiteral("enlace simbólico"))) << message.toStdString();
    EXPECT_EQ(readFile(other), "intacto\n");
}

// A lock file left by another user, which this one may read but not write, still locks: flock
// needs no more than a read-only descriptor. A new one is the group's whatever the umask.
TEST_P(RunLockTest, ALockFileThatCannotBeWrittenStillLocksAndANewOneIsTheGroups)
{
    if (GetParam() != Engine::SQLite)
        GTEST_SKIP() << "the lock file is SQLite's";
    const QString path = RunLock::lockFile(databaseFile());
    writeFile(path, QByteArray());
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                                QFileDevice::ReadOther));
    {
        RunLock lock(state.cnBase, db->name(), 0ms);
        EXPECT_TRUE(tryLock().startsWith(QStringLiteral("Otra ejecución")));
    }
    EXPECT_FALSE(QFile::exists(path));
    const mode_t previous = umask(077);
    {
        RunLock lock(state.cnBase, db->name(), 0ms);
        struct stat info {};
        ASSERT_EQ(stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0660u);
    }
    umask(previous);
}

// Once the connection that holds the lock is gone, another run may take it: from then on no
// writer of this run may commit.
TEST_P(RunLockTest, ALostLockRefusesEveryLaterCommit)
{
    if (db->engine() != Engine::MariaDB)
        GTEST_SKIP() << "a file lock lasts as long as the process";
    krvt5::ConnectionRef holder = openAnother();
    QSqlQuery id(holder->database());
    ASSERT_TRUE(id.exec(QStringLiteral("SELECT CONNECTION_ID()")) && id.next());
    const RunLock lock(holder, db->name());
    const auto check = lock.commitCheck();
    ASSERT_TRUE(check);
    krvt5::Connection& writer = *state.cnBase;
    EXPECT_NO_THROW(check(writer));

    db->exec(QStringLiteral("KILL ") + id.value(0).toString());
    // KILL returns before the killed session has let go of its locks.
    QSqlQuery used(writer.database());
    ASSERT_TRUE(used.prepare(QStringLiteral("SELECT IS_USED_LOCK(?)")));
    used.addBindValue(RunLock::lockName(db->name()));
    for (int tries = 0; tries < 5000; ++tries) {
        ASSERT_TRUE(used.exec() && used.next());
        if (used.value(0).isNull())
            break;
        QThread::msleep(1);
    }
    EXPECT_THROW(check(writer), support::Failure);
    // Taken by a second run meanwhile: still not this run's.
    krvt5::ConnectionRef second = openAnother();
    const RunLock other(second, db->name());
    EXPECT_THROW(check(writer), support::Failure);
    support::oBases->CierraBdD(second);
}

INSTANTIATE_TEST_SUITE_P(Engines, RunLockTest, testing::ValuesIn(engines()), engineName);

} // namespace

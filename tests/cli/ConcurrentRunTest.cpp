#include "cli/RunProgram.h"
#include "common/Files.h"
#include "common/Installation.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using namespace testsupport;

// While another run holds the database (its named lock on MySQL, the lock file beside the SQLite
// database), the program waits, then ends with status 1 saying so, having written nothing.

namespace {

class ConcurrentRunTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(GetParam());
        place = std::make_unique<Installation>(*db, 700);
        ASSERT_TRUE(installProgram(place->executable()));
        writeFile(place->workbook(), "Folio,Marca,,Fecha,Importe\r\n,V,,07/12/2026,10\r\n");
    }

    void TearDown() override
    {
        if (lockFile_ >= 0)
            ::close(lockFile_);
    }

    // Takes the database the way another run would.
    void holdTheDatabase()
    {
        if (GetParam() == Engine::MariaDB) {
            QSqlQuery lock(db->sql());
            ASSERT_TRUE(
                lock.exec(
                    QStringLiteral("SELECT GET_LOCK('generar-tickets:%1', 0)").arg(db->name())) &&
                lock.next() && lock.value(0).toInt() == 1);
            return;
        }
        const QString file = db->server().mid(7) + u'/' + db->name() + QStringLiteral(".db.lock");
        lockFile_ = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(lockFile_, 0);
        ASSERT_EQ(::flock(lockFile_, LOCK_EX | LOCK_NB), 0);
    }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Installation> place;

private:
    int lockFile_ = -1;
};

TEST_P(ConcurrentRunTest, ARunWhileAnotherHoldsTheDatabaseWritesNothingAndSaysWhy)
{
    holdTheDatabase();
    if (HasFatalFailure())
        return;
    const ProgramRun second = runProgram(place->executable(), {QStringLiteral("--proceder")});
    const QString& err = second.err;
    EXPECT_EQ(second.status, 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Otra ejecución de generar-tickets está usando la "
                                            "base de datos \"%1\"")
                                 .arg(db->name())))
        << err.toStdString();
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Id FROM tickets")).empty());
    EXPECT_TRUE(QString::fromUtf8(readFile(place->logFile()))
                    .contains(QStringLiteral("Otra ejecución de generar-tickets")));
}

INSTANTIATE_TEST_SUITE_P(Engines, ConcurrentRunTest, testing::ValuesIn(engines()), engineName);

} // namespace

#include "cli/RunProgram.h"
#include "common/Files.h"
#include "common/Installation.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace testsupport;

// Where the program keeps its data: beside itself when run from a folder of its own; in the
// data folder that a file beside the executable names when installed, the program folder then
// holding code only. A per-row report named relative goes where the command ran.

namespace {

class DataFolderTest : public testing::Test {
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(Engine::SQLite);
        place = std::make_unique<Installation>(*db, 700);
        ASSERT_TRUE(installProgram(place->executable()));
        place->writeWorkbook({{},
                              {QString(), QStringLiteral("V"), QString(),
                               QStringLiteral("01/12/2026"), QStringLiteral("10.25")}});
    }

    QString dataFolder() const { return place->programFolder() + QStringLiteral("/../datos"); }

    // The installed layout: the file naming the data folder, the settings there without a
    // workbook key (its default is the data folder's Ventas.csv), the workbook there too.
    void install()
    {
        writeFile(place->programFolder() + QStringLiteral("/generar-tickets.datos"),
                  QFile::encodeName(QDir::cleanPath(dataFolder())) + "\n");
        ASSERT_TRUE(QDir().mkpath(dataFolder()));
        writeFile(dataFolder() + QStringLiteral("/generar-tickets.ini"),
                  QStringLiteral("[Conexión]\r\nRuta de Vantrel Premium=%1\r\nBase de datos=%2\r\n"
                                 "[Ventas]\r\nTicket inicial=700\r\n")
                      .arg(place->posFolder(), db->name())
                      .toUtf8());
        ASSERT_TRUE(QFile::rename(place->workbook(), dataFolder() + QStringLiteral("/Ventas.csv")));
        ASSERT_TRUE(QFile::remove(place->settingsFile()));
    }

    // A copy of the test database in <folder>/bases, named by the POS registry data as the
    // relative folder "sqlite:bases". Returns the copy's path.
    QString useRelativeCopyIn(const QString& folder)
    {
        const QString name = db->name() + QStringLiteral(".db");
        const QString copy = folder + QStringLiteral("/bases/") + name;
        EXPECT_TRUE(QDir().mkpath(folder + QStringLiteral("/bases")));
        EXPECT_TRUE(QFile::copy(db->server().mid(7) + u'/' + name, copy));
        const QString vtw = place->posFolder() + QStringLiteral("/vtw.ini");
        QString text = QString::fromUtf8(readFile(vtw));
        text.replace(QRegularExpression(QStringLiteral("MySQLServer=[^\r\n]*")),
                     QStringLiteral("MySQLServer=sqlite:bases"));
        writeFile(vtw, text.toUtf8());
        return copy;
    }

    static int ticketsIn(const QString& file)
    {
        int count = -1;
        {
            QSqlDatabase copy =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copia"));
            copy.setDatabaseName(file);
            if (copy.open()) {
                QSqlQuery query(copy);
                if (query.exec(QStringLiteral("SELECT COUNT(*) FROM tickets")) && query.next())
                    count = query.value(0).toInt();
            }
        }
        QSqlDatabase::removeDatabase(QStringLiteral("copia"));
        return count;
    }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Installation> place;
};

// The program folder of an installed program is root's: a database named by a relative folder
// lives under the data folder.
TEST_F(DataFolderTest, ARelativeSqliteFolderIsTakenFromTheDataFolder)
{
    install();
    const QString copy = useRelativeCopyIn(QDir::cleanPath(dataFolder()));
    const ProgramRun run = runProgram(place->executable(), {QStringLiteral("--proceder")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(ticketsIn(copy), 1);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta FROM tickets")).size(), 0u);
    EXPECT_FALSE(QFile::exists(place->programFolder() + QStringLiteral("/bases")));
}

// A program in a folder of its own keeps finding its database beside itself.
TEST_F(DataFolderTest, ARelativeSqliteFolderOfAProgramInItsOwnFolderIsBesideIt)
{
    const QString copy = useRelativeCopyIn(place->programFolder());
    const ProgramRun run = runProgram(place->executable(), {QStringLiteral("--proceder")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(ticketsIn(copy), 1);
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta FROM tickets")).size(), 0u);
}

TEST_F(DataFolderTest, AnInstalledProgramKeepsItsDataInTheDataFolder)
{
    install();
    const QStringList programFiles =
        QDir(place->programFolder()).entryList(QDir::Files | QDir::Hidden);
    const ProgramRun run = runProgram(place->executable(), {QStringLiteral("--proceder")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("Tickets escritos: 1"))) << run.out.toStdString();
    const QString data = QDir::cleanPath(dataFolder());
    EXPECT_TRUE(QString::fromUtf8(readFile(data + QStringLiteral("/generar-tickets.ini")))
                    .contains(QStringLiteral("Archivo=%1/Ventas.csv").arg(data)));
    EXPECT_TRUE(QString::fromUtf8(readFile(data + QStringLiteral("/generar-tickets.log")))
                    .contains(QStringLiteral("Renglón 2: ticket 700 escrito")));
    // Nothing was added to the program folder.
    EXPECT_EQ(QDir(place->programFolder()).entryList(QDir::Files | QDir::Hidden), programFiles);
}

TEST_F(DataFolderTest, AMissingDataFolderIsAClearMessage)
{
    install();
    ASSERT_TRUE(QDir(dataFolder()).removeRecursively());
    const ProgramRun run = runProgram(place->executable(), {QStringLiteral("--proceder")});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(QStringLiteral("No existe la carpeta de datos del programa \"%1\"")
                                     .arg(QDir::cleanPath(dataFolder()))))
        << run.err.toStdString();
}

TEST_F(DataFolderTest, ARelativePerRowReportGoesWhereTheCommandRan)
{
    QTemporaryDir elsewhere;
    const ProgramRun run = runProgram(place->executable(),
                                      {QStringLiteral("--proceder"), QStringLiteral("--informe"),
                                       QStringLiteral("resultado.csv")},
                                      elsewhere.path());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(readFile(elsewhere.filePath(QStringLiteral("resultado.csv"))),
              QByteArray("renglon,ticket,resultado,importe\r\n2,700,escrito,10.25\r\n"));
    EXPECT_FALSE(QFile::exists(place->programFolder() + QStringLiteral("/resultado.csv")));
}

// The run report never blocks the work: one that cannot be opened is said once and the run
// goes on.
TEST_F(DataFolderTest, ARunReportThatCannotBeOpenedIsSaidOnceAndTheRunGoesOn)
{
    ASSERT_TRUE(QDir().mkpath(place->logFile())); // a folder where the report should be
    const ProgramRun run = runProgram(place->executable(), {QStringLiteral("--proceder")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.err.count(QStringLiteral("No se puede escribir el informe de ejecuciones")), 1)
        << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("Tickets escritos: 1")));
    EXPECT_EQ(db->rows(QStringLiteral("SELECT Venta FROM tickets")).size(), 1u);
}

} // namespace

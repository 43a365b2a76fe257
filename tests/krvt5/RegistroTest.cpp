#include "common/Files.h"
#include "krvt5/DeArchivos.h"
#include "krvt5/DelRegistro.h"
#include "krvt5/Failure.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

class Registro : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.mkdir("pos"));
        ASSERT_TRUE(root.mkdir("vacia"));
        ASSERT_TRUE(root.mkpath("carpeta/vtw.ini"));
        ASSERT_TRUE(root.mkdir("mayusculas"));
        writeFile(root.filePath("mayusculas/VTW.INI"), "[VTW]\n");
        writeFile(vtw(), "; registro\r\n[VTW]\r\nMySQLServer=localhost\r\nservidor=pos1\r\n");
        ASSERT_EQ(chmod(QFile::encodeName(vtw()).constData(), 0644), 0);
    }
    QString vtw() const { return root.filePath("pos/vtw.ini"); }

    QTemporaryDir temp;
    QDir root{temp.path()};
    krvt5::DelRegistro registro;
};

TEST_F(Registro, FindsOnlyAFolderHoldingVtwIni)
{
    const struct {
        QString path;
        QString expected;
    } cases[] = {
        {root.filePath("pos"), vtw()},
        {root.filePath("pos/"), vtw()},
        {root.filePath("vacia"), ""},
        {root.filePath("no-existe"), ""},
        {root.filePath("carpeta"), ""},    // vtw.ini is a folder there
        {root.filePath("mayusculas"), ""}, // names are exact
        {vtw(), ""},                       // the file itself is no installation folder
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(registro.BuscarRegistroVTW(c.path), c.expected) << c.path.toStdString();
        EXPECT_EQ(registro.DatosVTW("MySQLServer"), c.expected.isEmpty() ? "" : "localhost")
            << "after searching " << c.path.toStdString();
    }
}

// The file is the POS's: a rewrite keeps its owner, group and mode (the POS may run under
// another account and must keep reading it).
TEST_F(Registro, StoresValuesKeepingTheFilesOwnerGroupAndMode)
{
    const QByteArray name = QFile::encodeName(vtw());
    // Another user's, where the tests may give it away (they run as root in CI).
    const bool asAnotherUser = geteuid() == 0;
    if (asAnotherUser) {
        ASSERT_EQ(chown(name.constData(), 65534, 65534), 0);
    }
    ASSERT_EQ(chmod(name.constData(), 0644), 0);
    struct stat before {};
    ASSERT_EQ(stat(name.constData(), &before), 0);

    ASSERT_EQ(registro.BuscarRegistroVTW(root.filePath("pos")), vtw());
    EXPECT_EQ(registro.DatosVTW("servidor"), "pos1");
    EXPECT_EQ(registro.DatosVTW("MySQLPuerto"), "");
    registro.GuardaDatosVTW("MySQLPuerto", "3306");
    registro.GuardaDatosVTW("MySQLServer", "db.example");

    EXPECT_EQ(readFile(vtw()), "; registro\r\n[VTW]\r\nMySQLServer=db.example\r\nservidor=pos1\r\n"
                               "MySQLPuerto=3306\r\n");
    EXPECT_EQ(registro.DatosVTW("MySQLPuerto"), "3306");
    struct stat after {};
    ASSERT_EQ(stat(name.constData(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_mode & 07777, 0644u);
    if (asAnotherUser) {
        EXPECT_EQ(after.st_uid, 65534u);
    }
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(root.filePath("pos")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"vtw.ini"});
}

TEST_F(Registro, StoringWithoutAnInstallationFails)
{
    registro.BuscarRegistroVTW(root.filePath("vacia"));
    EXPECT_THROW(registro.GuardaDatosVTW("MySQLServer", "x"), krvt5::Failure);
    EXPECT_FALSE(QFile::exists(root.filePath("vacia/vtw.ini")));
}

TEST(HayArchivo, TrueOnlyForAnExistingRegularFile)
{
    QTemporaryDir temp;
    const QDir root(temp.path());
    writeFile(root.filePath("archivo.csv"), "a");
    ASSERT_TRUE(QFile::link(root.filePath("archivo.csv"), root.filePath("enlace")));
    ASSERT_TRUE(QFile::link(root.filePath("no-existe"), root.filePath("roto")));
    krvt5::DeArchivos archivos;
    EXPECT_TRUE(archivos.HayArchivo(root.filePath("archivo.csv")));
    EXPECT_TRUE(archivos.HayArchivo(root.filePath("enlace")));
    EXPECT_FALSE(archivos.HayArchivo(root.filePath("roto")));
    EXPECT_FALSE(archivos.HayArchivo(root.filePath("no-existe")));
    EXPECT_FALSE(archivos.HayArchivo(temp.path()));
    EXPECT_FALSE(archivos.HayArchivo(""));
}

} // namespace

#include "common/Files.h"
#include "common/RecordingSurface.h"
#include "spreadsheet/Application.h"
#include "support/CrearObjeto.h"
#include "support/modComun.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class InicializarComunTest : public testing::Test {
protected:
    void SetUp() override
    {
        ini = dir.filePath(QStringLiteral("generar-tickets.ini"));
        pos = dir.filePath(QStringLiteral("pos"));
        QDir().mkpath(pos);
        vtw = pos + QStringLiteral("/vtw.ini");
    }
    void TearDown() override { support::TerminarComun(); }

    bool start() { return support::InicializarComun(ini, dir.path(), surface); }
    void pointAtPos()
    {
        writeFile(ini, "[Conexión]\nRuta de Vantrel Premium=" + pos.toUtf8() + "\n");
    }
    QString stored(const char* name)
    {
        return support::oLib->LeeIni(QStringLiteral("VTW"), QString::fromLatin1(name), vtw);
    }

    QTemporaryDir dir;
    QString ini;
    QString pos;
    QString vtw;
    RecordingSurface surface;
};

TEST_F(InicializarComunTest, AFolderWithoutPosDataGetsTheWrongPathMessage)
{
    ASSERT_FALSE(start());
    ASSERT_EQ(surface.messages.size(), 1u);
    const support::Message& m = surface.messages[0];
    EXPECT_EQ(m.title, QStringLiteral("Atención"));
    EXPECT_EQ(m.icon, support::Icon::Critical);
    EXPECT_EQ(m.buttons, support::Buttons::Ok);
    EXPECT_EQ(m.text, QStringLiteral("En el archivo de configuración (") + ini +
                          QStringLiteral(")\rde este programa debe indicarse la ruta correcta de "
                                         "Vantrel Premium\rRuta indicada e incorrecta: ") +
                          dir.path());
    // The default was written and stays; the connection properties were never touched.
    EXPECT_EQ(support::oLib->LeeIni(QStringLiteral("Conexión"),
                                    QStringLiteral("Ruta de Vantrel Premium"), ini),
              dir.path());
    EXPECT_TRUE(support::oBases->cRuta.isEmpty());
    EXPECT_TRUE(support::oBases->cCarpetaBase.isEmpty());
    EXPECT_FALSE(support::oBases->cPuerto.isValid());
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
}

TEST_F(InicializarComunTest, APathWithSpacesAroundIsUsedTrimmed)
{
    writeFile(ini, "[Conexión]\nRuta de Vantrel Premium=  /no/existe  \n");
    ASSERT_FALSE(start());
    EXPECT_TRUE(surface.messages[0].text.endsWith(QStringLiteral("incorrecta: /no/existe")));
    EXPECT_EQ(readFile(ini), QByteArray("[Conexión]\nRuta de Vantrel Premium=  /no/existe  \n"));
}

struct SeedCase {
    const char* name;
    QByteArray vtwBefore;
    const char* cPuerto;
    const char* cRuta;
    const char* storedPort;
    const char* storedServer;
};

class SeedingTest : public InicializarComunTest, public testing::WithParamInterface<SeedCase> {};

TEST_P(SeedingTest, FillsMissingValuesAndReadsThemBack)
{
    pointAtPos();
    writeFile(vtw, "[VTW]\n" + GetParam().vtwBefore);
    ASSERT_TRUE(start());
    EXPECT_EQ(support::oBases->cPuerto.toString(), QString::fromUtf8(GetParam().cPuerto));
    EXPECT_EQ(support::oBases->cRuta, QString::fromUtf8(GetParam().cRuta));
    EXPECT_EQ(stored("MySQLPuerto"), QString::fromUtf8(GetParam().storedPort));
    EXPECT_EQ(stored("MySQLServer"), QString::fromUtf8(GetParam().storedServer));
    EXPECT_EQ(support::oBases->cUsuario, QStringLiteral("root"));
    EXPECT_EQ(support::oBases->cPassword, QString());
    // User and password are stored scrambled, never plain.
    EXPECT_NE(stored("MySQLUsuario"), QStringLiteral("root"));
    EXPECT_FALSE(stored("MySQLUsuario").trimmed().isEmpty());
    EXPECT_TRUE(surface.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SeedingTest,
    testing::Values(
        SeedCase{"missing", "", "3306", "", "3306", ""},
        SeedCase{"zero", "MySQLPuerto=0\nMySQLServer=db1\n", "3306", "db1", "3306", "db1"},
        SeedCase{"text", "MySQLPuerto=abc\nMySQLServer=db1\n", "3306", "db1", "3306", "db1"},
        SeedCase{"ownPort", "MySQLPuerto=3307\nMySQLServer=db1\n", "3307", "db1", "3307", "db1"},
        SeedCase{"servidor", "MySQLServer=   \nservidor=pos.example\n", "3306", "pos.example",
                 "3306", "pos.example"},
        SeedCase{"paddedServer", "MySQLServer= db1 \n", "3306", " db1 ", "3306", " db1 "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InicializarComunTest, PresentValuesAreLeftAloneAndUnscrambled)
{
    support::CrearObjetos();
    const QString user = support::oUtilerias->Encripta(QStringLiteral("cajero"));
    const QString password = support::oUtilerias->Encripta(QStringLiteral("contraseña"));
    support::TerminarComun();
    pointAtPos();
    const QByteArray before =
        "[VTW]\nMySQLPuerto=3310\nMySQLServer=10.0.0.5\nMySQLUsuario=" + user.toUtf8() +
        "\nMySQLPassword=" + password.toUtf8() + "\n";
    writeFile(vtw, before);
    ASSERT_TRUE(start());
    EXPECT_EQ(readFile(vtw), before);
    EXPECT_EQ(support::oBases->cUsuario, QStringLiteral("cajero"));
    EXPECT_EQ(support::oBases->cPassword, QStringLiteral("contraseña"));
    EXPECT_EQ(support::oBases->cPuerto.toString(), QStringLiteral("3310"));
    EXPECT_EQ(support::oBases->cRuta, QStringLiteral("10.0.0.5"));
}

// A relative "sqlite:" folder starts at the folder the program was started with (the data
// folder), not at the executable's folder.
TEST_F(InicializarComunTest, ARelativeSqliteFolderStartsAtTheDataFolder)
{
    pointAtPos();
    writeFile(vtw, "[VTW]\nMySQLServer=sqlite:bases\n");
    ASSERT_TRUE(start());
    EXPECT_EQ(support::oBases->cCarpetaBase, dir.path());
}

TEST(CrearObjeto, CreatesByClassNameAndRejectsUnknownOrMismatchedNames)
{
    EXPECT_NE(support::CrearObjeto<spreadsheet::Application>(QStringLiteral("Excel.Application")),
              nullptr);
    EXPECT_EQ(support::CrearObjeto<krvt5::libKRCM>(QStringLiteral("krvt5.libKRCM"))->className(),
              QStringLiteral("krvt5.libKRCM"));
    try {
        support::CrearObjeto<krvt5::libKRCM>(QStringLiteral("krvt5.NoExiste"));
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("krvt5.NoExiste")));
    }
    EXPECT_THROW(support::CrearObjeto<krvt5::BasesDD>(QStringLiteral("krvt5.libKRCM")),
                 std::exception);
    EXPECT_THROW(support::CrearObjeto<krvt5::BasesDD>(QStringLiteral("Excel.Application")),
                 std::exception);
}

TEST(TerminarComun, ReleasesEveryObject)
{
    support::CrearObjetos();
    support::TerminarComun();
    EXPECT_FALSE(support::oLib || support::oBases || support::oAyuda || support::oArchivos ||
                 support::oEquipo || support::oMonedas || support::oRegistro ||
                 support::oUtilerias);
}

} // namespace

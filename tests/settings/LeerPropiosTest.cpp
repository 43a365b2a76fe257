#include "settings/LeerPropios.h"

#include "common/Files.h"
#include "common/RecordingSurface.h"
#include "support/Failure.h"
#include "support/modComun.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class LeerPropiosTest : public testing::Test {
protected:
    void SetUp() override
    {
        support::CrearObjetos();
        support::oBases->cRuta = QStringLiteral("pos.example");
        ini = dir.filePath(QStringLiteral("generar-tickets.ini"));
    }
    void TearDown() override { support::TerminarComun(); }

    void read() { settings::LeerPropios(ini, dir.path(), cArchivo, nTicket, surface); }

    QTemporaryDir dir;
    QString ini;
    QString cArchivo;
    support::Counter<std::int32_t> nTicket;
    RecordingSurface surface;
};

TEST_F(LeerPropiosTest, MissingFileGetsEveryDefaultAndTheSummaryShowsThem)
{
    read();
    const QString workbook = dir.path() + QStringLiteral("/Ventas.csv");
    EXPECT_EQ(support::oBases->cMiBase, QStringLiteral("datos1"));
    EXPECT_EQ(cArchivo, workbook);
    EXPECT_EQ(nTicket, 9);
    EXPECT_EQ(surface.label3, QStringLiteral(" Servidor: pos.example\r  Base de datos: datos1\r\n"
                                             "Archivo:\r\n") +
                                  workbook + QStringLiteral("\r\nTicket inicial: 9"));
    EXPECT_EQ(
        support::oLib->LeeIni(QStringLiteral("Conexión"), QStringLiteral("Base de datos"), ini),
        QStringLiteral("datos1"));
    EXPECT_EQ(
        support::oLib->LeeIni(QStringLiteral("Configuración"), QStringLiteral("Archivo"), ini),
        workbook);
    EXPECT_EQ(
        support::oLib->LeeIni(QStringLiteral("Ventas"), QStringLiteral("Ticket inicial"), ini),
        QStringLiteral("9"));
}

TEST_F(LeerPropiosTest, BlankValuesAreRewrittenAndPaddedOnesUsedTrimmedWithoutRewriting)
{
    const QByteArray padded = "[Conexión]\r\nBase de datos=  tienda  \r\n"
                              "[Configuración]\r\nArchivo= /datos/ventas.xlsx\r\n"
                              "[Ventas]\r\nTicket inicial=  120 \r\n";
    writeFile(ini, padded);
    read();
    EXPECT_EQ(support::oBases->cMiBase, QStringLiteral("tienda"));
    EXPECT_EQ(cArchivo, QStringLiteral("/datos/ventas.xlsx"));
    EXPECT_EQ(nTicket, 120);
    EXPECT_EQ(readFile(ini), padded);

    writeFile(ini, "[Conexión]\nBase de datos=   \n[Ventas]\nTicket inicial=\t\n");
    read();
    EXPECT_EQ(support::oBases->cMiBase, QStringLiteral("datos1"));
    // A tab is not a space: the value is present, and krVal finds no number in it.
    EXPECT_EQ(nTicket, 0);
}

TEST_F(LeerPropiosTest, ReadsAWindows1252File)
{
    writeFile(ini, "[Conexi\xf3n]\r\nBase de datos=caf\xe9\r\n[Configuraci\xf3n]\r\n"
                   "Archivo=/datos/a\xf1o.csv\r\n[Ventas]\r\nTicket inicial=7\r\n");
    read();
    EXPECT_EQ(support::oBases->cMiBase, QStringLiteral("café"));
    EXPECT_EQ(cArchivo, QStringLiteral("/datos/año.csv"));
    EXPECT_EQ(nTicket, 7);
}

struct TicketCase {
    const char* text;
    std::int32_t expected;
};

class TicketNumberTest : public LeerPropiosTest, public testing::WithParamInterface<TicketCase> {};

TEST_P(TicketNumberTest, RoundsHalfToEven)
{
    EXPECT_EQ(settings::TicketNumber(QString::fromUtf8(GetParam().text)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, TicketNumberTest,
                         testing::Values(TicketCase{"12.5", 12}, TicketCase{"13.5", 14},
                                         TicketCase{"-2.5", -2}, TicketCase{"7.6", 8},
                                         TicketCase{"abc", 0}, TicketCase{"2147483647", 2147483647},
                                         TicketCase{"-2147483648", -2147483647 - 1}));

TEST_F(LeerPropiosTest, TicketNumbersOutsideThirtyTwoBitsAreAnOverflow)
{
    for (const char* text : {"99999999999", "1e30", "2147483647.5"}) {
        writeFile(ini, QByteArray("[Ventas]\nTicket inicial=") + text + "\n");
        EXPECT_THROW(read(), support::Failure) << text;
    }
}

// A settings store that accepts writes and keeps nothing.
class ForgetfulLib : public krvt5::libKRCM {
public:
    QString LeeIni(const QString&, const QString&, const QString&) override { return {}; }
    void EscribeIni(const QString&, const QString&, const QString&, const QString&) override {}
};

TEST_F(LeerPropiosTest, ADefaultThatDoesNotStickFailsNamingFileAndKeyInsteadOfLooping)
{
    support::oLib = std::make_unique<ForgetfulLib>();
    try {
        read();
        FAIL() << "LeerPropios should fail";
    } catch (const support::Failure& failure) {
        EXPECT_TRUE(failure.message().contains(QStringLiteral("Base de datos"))) << failure.what();
        EXPECT_TRUE(failure.message().contains(ini)) << failure.what();
    }
}

TEST_F(LeerPropiosTest, ASettingsFileThatCannotBeWrittenIsAFailureNamingIt)
{
    ini = dir.filePath(QStringLiteral("no-existe/generar-tickets.ini"));
    try {
        read();
        FAIL() << "LeerPropios should fail";
    } catch (const std::exception& failure) {
        EXPECT_TRUE(QString::fromUtf8(failure.what()).contains(ini)) << failure.what();
    }
}

} // namespace

#include "cli/RunProgram.h"
#include "common/Files.h"
#include "common/Installation.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QStringList sale(const QString& marker, const QString& amount, const QString& date,
                 const QString& descrip = QStringLiteral("venta"))
{
    return {QString(), marker, QString(), date, amount, QString(), QString(), descrip};
}

// The program copied into a prepared program folder, so that its folder is the test's.
class CommandLineTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(GetParam());
        place = std::make_unique<Installation>(*db, 700);
        ASSERT_TRUE(installProgram(place->executable()));
    }

    ProgramRun start(const QStringList& arguments)
    {
        return runProgram(place->executable(), arguments);
    }
    std::size_t tickets() { return db->rows(QStringLiteral("SELECT Id FROM tickets")).size(); }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Installation> place;
};

TEST_P(CommandLineTest, ProcederWritesPrintsTheFiguresAndARerunWritesNothing)
{
    place->writeWorkbook(
        {{},
         sale(QStringLiteral("V"), QStringLiteral("10.25"), QStringLiteral("01/12/2026")),
         sale(QStringLiteral("0"), QStringLiteral("5"), QStringLiteral("01/12/2026")),
         sale(QStringLiteral("V"), QStringLiteral("0"), QStringLiteral("01/12/2026")),
         sale(QStringLiteral("V"), QStringLiteral("4.75"), QStringLiteral("02/12/2026"))});
    const QString informe = place->programFolder() + QStringLiteral("/informe.csv");
    ProgramRun first = start({QStringLiteral("--proceder"), QStringLiteral("--informe"), informe});
    ASSERT_EQ(first.status, 0) << first.err.toStdString();
    EXPECT_TRUE(first.out.contains(QStringLiteral("Proceso terminado")));
    for (const char* figure :
         {"Renglones leídos: 54", "Renglones de venta: 3", "Tickets escritos: 2",
          "Números que ya existían: 0", "Renglones pasados por alto: 2", "Primer ticket: 700",
          "Último ticket: 701", "Suma de los importes escritos: 15.00"})
        EXPECT_TRUE(first.out.contains(QString::fromUtf8(figure))) << figure << "\n"
                                                                   << first.out.toStdString();
    EXPECT_EQ(tickets(), 2u);
    EXPECT_EQ(readFile(informe), QByteArray("renglon,ticket,resultado,importe\r\n"
                                            "2,700,escrito,10.25\r\n"
                                            "3,,marcador 0,0.00\r\n"
                                            "4,,importe no positivo,0.00\r\n"
                                            "5,701,escrito,4.75\r\n"));

    ProgramRun again = start({QStringLiteral("--proceder")});
    ASSERT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains(QStringLiteral("Tickets escritos: 0")));
    EXPECT_TRUE(again.out.contains(QStringLiteral("Números que ya existían: 2")));
    EXPECT_EQ(tickets(), 2u);

    const QString log = QString::fromUtf8(readFile(place->logFile()));
    EXPECT_EQ(log.count(QStringLiteral("Inicio (línea de órdenes)")), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("Renglón 5: ticket 701 escrito")));
    EXPECT_TRUE(log.contains(QStringLiteral("Renglón 5: ticket 701 ya existía")));
    if (!db->password().isEmpty()) {
        EXPECT_FALSE(log.contains(db->password()));
        EXPECT_FALSE(first.out.contains(db->password()));
    }
}

// The row report never writes over a file that is not one of its own: named after the workbook,
// the settings or the POS's own settings, the run stops before it reads or writes anything.
TEST_P(CommandLineTest, TheRowReportIsNotWrittenOverTheWorkbookOrTheSettings)
{
    place->writeWorkbook(
        {{}, sale(QStringLiteral("V"), QStringLiteral("10.25"), QStringLiteral("01/12/2026"))});
    for (const QString& kept : {place->workbook(), place->settingsFile(),
                                place->posFolder() + QStringLiteral("/vtw.ini")}) {
        const QByteArray before = readFile(kept);
        ProgramRun run = start({QStringLiteral("--proceder"), QStringLiteral("--informe"), kept});
        EXPECT_EQ(run.status, 1) << kept.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("no es un informe del programa")))
            << run.err.toStdString();
        EXPECT_EQ(readFile(kept), before) << kept.toStdString();
    }
    EXPECT_EQ(tickets(), 0u);
}

TEST_P(CommandLineTest, SimularReportsWithoutWritingAndCatchesAMonthFirstDateColumn)
{
    db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                            "VALUES (701, '2020-01-01', '10:00', 1, 1)"));
    place->writeWorkbook(
        {{},
         sale(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("12/01/2026")),
         sale(QStringLiteral("V"), QStringLiteral("2"), QStringLiteral("12/02/2026")),
         sale(QStringLiteral("V"), QStringLiteral("3"), QStringLiteral("12/03/2026"))});
    ProgramRun fine = start({QStringLiteral("--simular")});
    EXPECT_EQ(fine.status, 0) << fine.err.toStdString();
    EXPECT_TRUE(fine.out.contains(QStringLiteral("Tickets que se escribirían: 2")))
        << fine.out.toStdString();
    EXPECT_TRUE(fine.out.contains(QStringLiteral("Números que ya existen: 701")));

    // Month first: 12/25 has no 25th month, so the whole column is suspect.
    place->writeWorkbook(
        {{},
         sale(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("12/01/2026")),
         sale(QStringLiteral("V"), QStringLiteral("2"), QStringLiteral("12/25/2026"))});
    ProgramRun swapped = start({QStringLiteral("--simular")});
    EXPECT_EQ(swapped.status, 1);
    EXPECT_TRUE(swapped.err.contains(QStringLiteral("mes/día/año"))) << swapped.err.toStdString();
    EXPECT_TRUE(swapped.err.contains(QStringLiteral("Renglón 3"))) << swapped.err.toStdString();
    EXPECT_EQ(tickets(), 1u); // only the one the test stored
}

TEST_P(CommandLineTest, ExitStatusesTellWhatWentWrong)
{
    ProgramRun missing = start({QStringLiteral("--proceder")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(
        missing.err.contains(QStringLiteral("No existe el archivo:\n") + place->workbook()));

    place->writeWorkbook(
        {{}, sale(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("1/1/2026"))});
    place->writeSettings(QStringLiteral("no_hay_tal_base"), place->workbook(), QStringLiteral("1"));
    ProgramRun noDatabase = start({QStringLiteral("--proceder")});
    EXPECT_EQ(noDatabase.status, 1);
    EXPECT_TRUE(noDatabase.err.contains(QStringLiteral("no_hay_tal_base")))
        << noDatabase.err.toStdString();

    writeFile(place->settingsFile(), "[Conexión]\nRuta de Vantrel Premium=/no/existe\n");
    ProgramRun wrongPath = start({QStringLiteral("--proceder")});
    EXPECT_EQ(wrongPath.status, 2);
    EXPECT_TRUE(wrongPath.err.contains(QStringLiteral("Ruta indicada e incorrecta: /no/existe")));
    EXPECT_EQ(tickets(), 0u);
}

TEST_P(CommandLineTest, ALibroGivenIsReadForThisRunAndTheSettingsFileStaysAsItWas)
{
    place->writeWorkbook(
        {{}, sale(QStringLiteral("V"), QStringLiteral("1"), QStringLiteral("01/12/2026"))});
    ASSERT_EQ(start({QStringLiteral("--simular")}).status, 0); // every default is in the file now
    const QByteArray settings = readFile(place->settingsFile());

    QTemporaryDir elsewhere;
    const QString other = elsewhere.filePath(QStringLiteral("otras ventas.csv"));
    writeFile(other,
              csv({{},
                   sale(QStringLiteral("V"), QStringLiteral("2"), QStringLiteral("01/12/2026")),
                   sale(QStringLiteral("V"), QStringLiteral("3"), QStringLiteral("01/12/2026")),
                   sale(QStringLiteral("V"), QStringLiteral("4"), QStringLiteral("01/12/2026"))}));
    // A relative path is taken from the current folder, not from the program's.
    ProgramRun simulated = runProgram(
        place->executable(), {QStringLiteral("--simular"), QStringLiteral("otras ventas.csv")},
        elsewhere.path());
    EXPECT_EQ(simulated.status, 0) << simulated.err.toStdString();
    EXPECT_TRUE(simulated.out.contains(QStringLiteral("Archivo:\n") + other + u'\n'))
        << simulated.out.toStdString();
    EXPECT_TRUE(simulated.out.contains(QStringLiteral("Tickets que se escribirían: 3")))
        << simulated.out.toStdString();

    ProgramRun run = runProgram(place->executable(), {other, QStringLiteral("--proceder")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(QStringLiteral("Tickets escritos: 3"))) << run.out.toStdString();
    EXPECT_EQ(tickets(), 3u);
    EXPECT_EQ(readFile(place->settingsFile()), settings);

    ProgramRun missing = start({QStringLiteral("--proceder"), QStringLiteral("/no/hay/libro.csv")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("No existe el archivo:\n/no/hay/libro.csv")))
        << missing.err.toStdString();
    EXPECT_EQ(readFile(place->settingsFile()), settings);
}

INSTANTIATE_TEST_SUITE_P(Engines, CommandLineTest, testing::ValuesIn(engines()), engineName);

TEST(CommandLineOptions, VersionHelpAndUsageErrors)
{
    const QString exe = QStringLiteral(GT_EXECUTABLE);
    ProgramRun version = runProgram(exe, {QStringLiteral("--version")});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("generar-tickets 2.00\n"));
    ProgramRun help = runProgram(exe, {QStringLiteral("--help")});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--simular")));
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Uso: generar-tickets [opción] [LIBRO]\n")));
    EXPECT_EQ(runProgram(exe, {QStringLiteral("-h")}).out, help.out);
    struct Usage {
        QStringList arguments;
        QString says;
    };
    for (const Usage& bad :
         {Usage{{QStringLiteral("--borrar")}, QStringLiteral("opción no válida: --borrar\n")},
          Usage{{QStringLiteral("--proceder=1")},
                QStringLiteral("opción no válida: --proceder=1\n")},
          Usage{{QStringLiteral("--informe")},
                QStringLiteral("--informe necesita el nombre de un archivo.")},
          Usage{{QStringLiteral("--simular"), QStringLiteral("--informe"), QStringLiteral("x")},
                QStringLiteral("--informe sólo se usa con --proceder.")},
          Usage{{QStringLiteral("--proceder"), QStringLiteral("--simular")},
                QStringLiteral("--proceder y --simular no se pueden usar juntas.")},
          Usage{{QStringLiteral("a.csv"), QStringLiteral("b.csv")},
                QStringLiteral("sólo se puede indicar un libro.")}}) {
        ProgramRun usage = runProgram(exe, bad.arguments);
        EXPECT_EQ(usage.status, 2) << bad.arguments.join(u' ').toStdString();
        EXPECT_TRUE(usage.err.startsWith(QStringLiteral("generar-tickets: ") + bad.says))
            << usage.err.toStdString();
        EXPECT_TRUE(usage.out.isEmpty());
    }
}

} // namespace

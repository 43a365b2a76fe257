#include "generation/RunDetails.h"

#include "generation/RunControl.h"
#include "generation/ScanFixture.h"

using namespace testsupport;
using support::Answer;
using support::Buttons;
using support::Icon;

namespace {

// The check before the question, on a real workbook and database: what it says, and that it
// leaves the window's state and the database as they were.
class RunDetailsTest : public ScanFixture {
protected:
    void SetUp() override
    {
        ScanFixture::SetUp();
        state.cnBase.reset(); // the check and the run open their own
        state.oExcel.reset();
    }

    void existing(int venta)
    {
        db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                "VALUES (%1, '2020-01-01', '10:00', 1, 1)")
                     .arg(venta));
    }

    void expectStateUntouched()
    {
        EXPECT_EQ(state.nTicket, 100);
        EXPECT_EQ(state.cnBase, nullptr);
        EXPECT_EQ(state.oExcel, nullptr);
        EXPECT_EQ(state.oLibro, nullptr);
    }
};

// Label1's captions in order, besides what the recorder keeps.
class CaptionsSurface : public RecordingSurface {
public:
    QStringList label1Captions;
    void setCaption(support::Label label, const QString& caption) override
    {
        if (label == support::Label::Label1)
            label1Captions << caption;
        RecordingSurface::setCaption(label, caption);
    }
};

TEST_P(RunDetailsTest, TheCheckCountsTicketsTakenNumbersAndSkippedRowsAndWarnsWithoutWriting)
{
    existing(100);
    existing(103);
    writeFile(state.cArchivo,
              csv({{},
                   sale(QStringLiteral("V"), QStringLiteral("10")),
                   sale(QStringLiteral("V"), QStringLiteral("12 pesos")),
                   sale(QStringLiteral("0"), QStringLiteral("5")),
                   sale(QStringLiteral("V"), QStringLiteral("0")),
                   sale(QStringLiteral("V"), QStringLiteral("3"), QString(70, u'x')),
                   sale(QStringLiteral("V"), QStringLiteral("4"))}));
    const QString details = generation::CheckBeforeRun(state, surface);
    EXPECT_EQ(details.toStdString(),
              "Tickets que se escribirán: 2 (del 101 al 102)\n"
              "Números que ya existen: 2 (100, 103)\n"
              "Renglones que se pasarán por alto: 2 (marcador \"0\": 1, importe no mayor que "
              "cero: 1)\n"
              "Avisos:\n"
              "- Renglón 3: el importe \"12 pesos\" es texto; se tomaría como 12\n"
              "- Renglón 6: la descripción tiene 70 caracteres; se guardarían los primeros 60");
    expectStateUntouched();
    EXPECT_EQ(tickets().size(), 2);
    EXPECT_TRUE(db->rows(QStringLiteral("SELECT Id FROM ticketsdetalle")).empty());
    // A short workbook: the progress label is not touched.
    EXPECT_TRUE(surface.events.isEmpty()) << surface.events.join(u',').toStdString();
}

TEST_P(RunDetailsTest, AMonthFirstWorkbookIsNamedFirstInTheConfirmationAndNoWritesNothing)
{
    writeFile(state.cArchivo, csv({{},
                                   sale(QStringLiteral("V"), QStringLiteral("1"),
                                        QStringLiteral("a"), QStringLiteral("12/01/2026")),
                                   sale(QStringLiteral("V"), QStringLiteral("2 pesos"),
                                        QStringLiteral("b"), QStringLiteral("12/25/2026"))}));
    surface.answers = {Answer::No};
    EXPECT_FALSE(generation::cmdProceder_Click(state, surface, nullptr, {}, true));
    ASSERT_EQ(surface.messages.size(), 1u);
    const support::Message& ask = surface.messages[0];
    // The box's own words stay as they are; the findings go under them.
    EXPECT_EQ(ask.title, QStringLiteral("Proceder"));
    EXPECT_EQ(ask.text, QStringLiteral("¿Desea proceder a generar los tickets?"));
    EXPECT_EQ(ask.icon, Icon::Question);
    EXPECT_EQ(ask.buttons, Buttons::YesNo);
    EXPECT_EQ(ask.defaultAnswer, Answer::No);
    const QStringList lines = ask.informative.split(u'\n');
    ASSERT_GE(lines.size(), 8) << ask.informative.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Tickets que se escribirán: 2 (del 100 al 101)"));
    EXPECT_EQ(lines[3], QStringLiteral("Avisos:"));
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("- La columna D tiene fechas que sólo se leen "
                                                   "con el día y el mes al revés")))
        << lines[4].toStdString();
    EXPECT_EQ(lines[5], QStringLiteral("- Renglón 3: la fecha \"12/25/2026\" sólo es válida leída "
                                       "como mes/día/año"));
    EXPECT_TRUE(lines[6].startsWith(QStringLiteral("- Renglón 3: el importe \"2 pesos\" es texto")))
        << lines[6].toStdString();
    EXPECT_EQ(
        lines.last(),
        QStringLiteral("La generación fallaría: corrija lo que se señala antes de proceder."));
    expectStateUntouched();
    EXPECT_TRUE(tickets().isEmpty());
    EXPECT_TRUE(surface.enabled);
}

TEST_P(RunDetailsTest, ALongWorkbookShowsRevisandoElLibroAndLeavesLabel1HiddenAndEmpty)
{
    writeFile(state.cArchivo, csv({{}, sale(QStringLiteral("V"), QStringLiteral("1"))}));
    CaptionsSurface window;
    // From 0 bytes on, every workbook counts as long.
    const QString details = generation::CheckBeforeRun(state, window, 0);
    EXPECT_TRUE(details.startsWith(QStringLiteral("Tickets que se escribirán: 1 (número 100)")))
        << details.toStdString();
    EXPECT_EQ(window.label1Captions, (QStringList{QStringLiteral("Revisando el libro…"), {}}));
    EXPECT_EQ(window.events,
              (QStringList{QStringLiteral("Label1 visible"), QStringLiteral("Label1 cleared"),
                           QStringLiteral("Label1 visible")}));
    EXPECT_FALSE(window.label1Visible);
    expectStateUntouched();
}

TEST_P(RunDetailsTest, ACheckThatCannotOpenTheDatabaseSaysSoAndTheRunReportsIt)
{
    writeFile(state.cArchivo, csv({{}, sale(QStringLiteral("V"), QStringLiteral("1"))}));
    support::oBases->cMiBase = QStringLiteral("no_existe_esta_base");
    const QString details = generation::CheckBeforeRun(state, surface, 0);
    EXPECT_TRUE(details.startsWith(QStringLiteral("No se pudo revisar el libro antes de proceder: "
                                                  "No se pudo abrir la base de datos.")))
        << details.toStdString();
    EXPECT_FALSE(details.contains(u'\r'));
    EXPECT_FALSE(surface.label1Visible);
    expectStateUntouched();
}

TEST_P(RunDetailsTest, TheEndBoxGivesTheFiguresOfTheRun)
{
    existing(101);
    writeFile(state.cArchivo, csv({{},
                                   sale(QStringLiteral("V"), QStringLiteral("9.99")),
                                   sale(QStringLiteral("V"), QStringLiteral("5")),
                                   sale(QStringLiteral("0"), QStringLiteral("5")),
                                   sale(QStringLiteral("V"), QStringLiteral("0.51"))}));
    surface.answers = {Answer::Yes};
    EXPECT_TRUE(generation::cmdProceder_Click(state, surface, nullptr, {}, true));
    ASSERT_EQ(surface.messages.size(), 2u);
    EXPECT_EQ(surface.messages[0].informative.section(u'\n', 0, 1),
              QStringLiteral("Tickets que se escribirán: 2 (del 100 al 102)\n"
                             "Números que ya existen: 1 (101)"));
    const support::Message& end = surface.messages[1];
    EXPECT_EQ(end.title, QStringLiteral("Fin"));
    EXPECT_EQ(end.text, QStringLiteral("Proceso terminado"));
    EXPECT_EQ(end.informative.toStdString(),
              "Renglones leídos: 54\n"
              "Renglones de venta: 3\n"
              "Tickets escritos: 2\n"
              "Números que ya existían: 1\n"
              "Renglones pasados por alto: 1 (marcador \"0\": 1, importe no mayor que cero: 0)\n"
              "Primer ticket: 100\n"
              "Último ticket: 102\n"
              "Suma de los importes escritos: 10.50");
    EXPECT_EQ(tickets().size(), 3);
}

INSTANTIATE_TEST_SUITE_P(Engines, RunDetailsTest, testing::ValuesIn(engines()), engineName);

generation::Figures figures(std::int32_t saleRows, std::int32_t zeroMarker,
                            std::int32_t notPositive, std::int32_t existed, std::int32_t first)
{
    generation::Figures f;
    f.saleRows = saleRows;
    f.zeroMarker = zeroMarker;
    f.notPositive = notPositive;
    f.existed = existed;
    f.numbersUsed = existed;
    f.rowsRead = saleRows + zeroMarker + 50;
    if (existed > 0) {
        f.firstTicket = first;
        f.lastTicket = first + existed - 1;
    }
    return f;
}

struct NothingWritten {
    const char* name;
    generation::Figures figures;
    const char* why;
};

class EndWhenNothingWasWritten : public testing::TestWithParam<NothingWritten> {};

TEST_P(EndWhenNothingWasWritten, OnePlainLineSaysWhyAboveTheFigures)
{
    const QString text = generation::DescribeEnd(GetParam().figures);
    EXPECT_EQ(text.section(u'\n', 0, 0).toStdString(), GetParam().why);
    EXPECT_TRUE(text.contains(QStringLiteral("\nTickets escritos: 0\n"))) << text.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndWhenNothingWasWritten,
    testing::Values(
        NothingWritten{"AllNumbersExisted", figures(3, 0, 0, 3, 700),
                       "No se escribió ningún ticket: todos sus números (del 700 al 702) ya "
                       "existían."},
        NothingWritten{"TheOneNumberExisted", figures(1, 2, 0, 1, 9),
                       "No se escribió ningún ticket: el número 9 ya existía."},
        NothingWritten{"NoPositiveAmount", figures(2, 1, 2, 0, 0),
                       "No se escribió ningún ticket: ningún renglón de venta tiene un importe "
                       "mayor que cero."},
        NothingWritten{"OnlyZeroMarkers", figures(0, 4, 0, 0, 0),
                       "No se escribió ningún ticket: todos los renglones tienen el marcador "
                       "\"0\"."},
        NothingWritten{"NoSaleRows", figures(0, 0, 0, 0, 0),
                       "No se escribió ningún ticket: el libro no tiene renglones de venta (la "
                       "columna B está vacía)."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DescribeCheck, SheetWarningsFirstThenRowsCappedWithACountAndTheVerdict)
{
    generation::Simulacion result;
    result.figures.saleRows = 14;
    result.figures.written = 14;
    result.figures.numbersUsed = 14;
    result.figures.firstTicket = 1;
    result.figures.lastTicket = 14;
    for (int row = 2; row < 14; ++row)
        result.problems.push_back({row, QStringLiteral("aviso\r\ndel renglón"), false});
    result.problems.push_back({0, QStringLiteral("de toda la hoja"), true});
    const QStringList lines = generation::DescribeCheck(result).split(u'\n');
    ASSERT_EQ(lines.size(), 16);
    EXPECT_EQ(lines[0], QStringLiteral("Tickets que se escribirán: 14 (del 1 al 14)"));
    EXPECT_EQ(lines[1], QStringLiteral("Números que ya existen: 0"));
    EXPECT_EQ(lines[4], QStringLiteral("- de toda la hoja"));
    EXPECT_EQ(lines[5], QStringLiteral("- Renglón 2: aviso del renglón"));
    EXPECT_EQ(lines[13], QStringLiteral("- Renglón 10: aviso del renglón"));
    EXPECT_EQ(lines[14],
              QStringLiteral("… y 3 avisos más (generar-tickets --simular los muestra todos)"));
    EXPECT_EQ(
        lines[15],
        QStringLiteral("La generación fallaría: corrija lo que se señala antes de proceder."));
}

TEST(DescribeCheck, NothingToWriteAndNoWarnings)
{
    generation::Simulacion result;
    result.figures.zeroMarker = 2;
    EXPECT_EQ(generation::DescribeCheck(result).toStdString(),
              "Tickets que se escribirán: ninguno\n"
              "Números que ya existen: 0\n"
              "Renglones que se pasarán por alto: 2 (marcador \"0\": 2, importe no mayor que "
              "cero: 0)\n"
              "Sin avisos.");
}

TEST(NumberRanges, RunsJoinedAndCutAfterTheLimit)
{
    EXPECT_EQ(generation::NumberRanges({100, 101, 102, 104, 107, 108}),
              QStringLiteral("100-102, 104, 107-108"));
    EXPECT_EQ(generation::NumberRanges({1, 3, 5, 7}, 2), QStringLiteral("1, 3, …"));
    EXPECT_EQ(generation::NumberRanges({}), QString());
}

} // namespace

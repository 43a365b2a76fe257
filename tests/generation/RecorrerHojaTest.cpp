#include "generation/ScanFixture.h"
#include "generation/ScanParts.h"

#include <QRegularExpression>

using namespace testsupport;

namespace {

class RecorrerHojaTest : public ScanFixture {};

TEST_P(RecorrerHojaTest, WritesOneWholeTicketPerSaleRow)
{
    const auto figures = scan({
        {QStringLiteral("Encabezado"), QStringLiteral("X"), {}, {}, QStringLiteral("999")},
        sale(QStringLiteral("1"), QStringLiteral("12.5"), QStringLiteral("  café ñandú  ")),
        sale(QStringLiteral("A"), QStringLiteral("131072.01"), QStringLiteral("Pan"),
             QStringLiteral("2026-01-31")),
    });

    EXPECT_EQ(tickets(), (QStringList{QStringLiteral("100|2026-12-07|12.50|12.50"),
                                      QStringLiteral("101|2026-01-31|131072.01|131072.01")}));
    EXPECT_EQ(lines(), (QStringList{QStringLiteral("100|1|2026-12-07|V|CAFÉ ÑANDÚ|1|12.50|linked"),
                                    QStringLiteral("101|1|2026-01-31|V|PAN|1|131072.01|linked")}));
    const auto horas = db->rows(QStringLiteral(
        "SELECT t.Hora, d.Hora FROM tickets t JOIN ticketsdetalle d ON d.IdTicket = t.Id"));
    const QRegularExpression hhmm(QStringLiteral("^([01][0-9]|2[0-3]):[0-5][0-9]$"));
    for (const QStringList& r : horas) {
        EXPECT_TRUE(hhmm.match(r[0]).hasMatch()) << r[0].toStdString();
        EXPECT_TRUE(hhmm.match(r[1]).hasMatch()) << r[1].toStdString();
    }

    EXPECT_EQ(state.nTicket, 102);
    EXPECT_EQ(state.nRenglon, 53); // last marker at row 3, plus 50
    EXPECT_EQ(state.nVacios, 50);
    EXPECT_EQ(figures.written, 2);
    EXPECT_DOUBLE_EQ(figures.amountWritten, 12.5 + 131072.01);
    EXPECT_EQ(surface.label1, generation::ProgressText(state.cArchivo, 53));
    ASSERT_NE(state.oLibro, nullptr); // left open for the caller
}

TEST_P(RecorrerHojaTest, EmptySheetEndsAtRow51)
{
    const auto figures = scan({{QStringLiteral("A1"), QStringLiteral("B1")}});
    EXPECT_TRUE(tickets().isEmpty());
    EXPECT_EQ(state.nRenglon, 51);
    EXPECT_EQ(state.nTicket, 100);
    EXPECT_EQ(figures.rowsRead, 50);
    EXPECT_EQ(surface.label1,
              QStringLiteral("Archivo: ") + state.cArchivo + QStringLiteral("\r\nReng.  51"));
}

TEST_P(RecorrerHojaTest, FiftyEmptyMarkersEndTheWalkButFortyNineDoNot)
{
    std::vector<QStringList> rows{{}}; // row 1
    rows.push_back(sale(QStringLiteral("1"), QStringLiteral("5")));
    for (int i = 0; i < 49; ++i)
        rows.push_back(emptyRow());
    rows.push_back(sale(QStringLiteral("1"), QStringLiteral("6"))); // row 52: read
    for (int i = 0; i < 50; ++i)
        rows.push_back(emptyRow());
    rows.push_back(sale(QStringLiteral("1"), QStringLiteral("7"))); // row 103: never read

    scan(rows);
    EXPECT_EQ(tickets(), (QStringList{QStringLiteral("100|2026-12-07|5.00|5.00"),
                                      QStringLiteral("101|2026-12-07|6.00|6.00")}));
    EXPECT_EQ(state.nRenglon, 102);
}

TEST_P(RecorrerHojaTest, PassOversUseNoNumberButExistingTicketsDo)
{
    db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                            "VALUES (101, '2020-01-01', '10:00', 1, 1)"));
    const auto figures = scan({
        {},
        sale(QStringLiteral("0"), QStringLiteral("50")),     // "0" marker
        sale(QStringLiteral("\"0\""), QStringLiteral("50")), // quoted zero: still "0"
        sale(QStringLiteral("1"), QStringLiteral("0")),      // zero amount
        sale(QStringLiteral("1"), QStringLiteral("-3")),     // negative amount
        sale(QStringLiteral("1"), QStringLiteral("10")),     // ticket 100
        sale(QStringLiteral("1"), QStringLiteral("11")),     // 101 exists: passed over
        sale(QStringLiteral("   "), QStringLiteral("12")),   // blanks are a marker: ticket 102
    });

    EXPECT_EQ(tickets(), (QStringList{QStringLiteral("100|2026-12-07|10.00|10.00"),
                                      QStringLiteral("101|2020-01-01|1.00|1.00"),
                                      QStringLiteral("102|2026-12-07|12.00|12.00")}));
    EXPECT_EQ(lines().size(), 2);
    EXPECT_EQ(state.nTicket, 103);
    EXPECT_EQ(figures.zeroMarker, 2);
    EXPECT_EQ(figures.notPositive, 2);
    EXPECT_EQ(figures.existed, 1);
    EXPECT_EQ(figures.written, 2);
}

TEST_P(RecorrerHojaTest, DescriptionIsCutAtSixtyCharactersAfterTrimming)
{
    // 59 letters, a blank at position 60, then more: the blank stays at the end.
    const QString text = QStringLiteral("  ") + QString(59, u'a') + QStringLiteral(" tail  ");
    scan({{},
          sale(QStringLiteral("1"), QStringLiteral("1"), text),
          sale(QStringLiteral("1"), QStringLiteral("1"), QString())});
    const auto rows = db->rows(QStringLiteral("SELECT Descrip FROM ticketsdetalle ORDER BY Venta"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], QString(59, u'A') + u' ');
    EXPECT_EQ(rows[1][0], QString());
}

TEST_P(RecorrerHojaTest, ADateThatIsNoDateFailsNamingTheRowAndKeepsEarlierTickets)
{
    try {
        scan({{},
              sale(QStringLiteral("1"), QStringLiteral("1")),
              sale(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("x"),
                   QStringLiteral("mañana"))});
        FAIL() << "the scan should fail";
    } catch (const std::exception& e) {
        const QString message = QString::fromUtf8(e.what());
        EXPECT_TRUE(message.contains(QStringLiteral("mañana"))) << e.what();
        EXPECT_TRUE(message.contains(QStringLiteral("renglón 3"))) << e.what();
        EXPECT_TRUE(message.contains(state.cArchivo)) << e.what();
    }
    EXPECT_EQ(tickets(), QStringList{QStringLiteral("100|2026-12-07|1.00|1.00")});
    EXPECT_EQ(lines().size(), 1);
}

TEST_P(RecorrerHojaTest, TicketNumberOverflowStopsAfterTheLastNumber)
{
    state.nTicket = std::numeric_limits<std::int32_t>::max();
    try {
        scan({{},
              sale(QStringLiteral("1"), QStringLiteral("1")),
              sale(QStringLiteral("1"), QStringLiteral("2"))});
        ADD_FAILURE() << "the run should fail";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(
            QStringLiteral("el número de ticket no puede pasar de 2147483647")))
            << e.what();
    }
    EXPECT_EQ(tickets(), QStringList{QStringLiteral("2147483647|2026-12-07|1.00|1.00")});
    EXPECT_EQ(state.nTicket, std::numeric_limits<std::int32_t>::max());
}

INSTANTIATE_TEST_SUITE_P(Engines, RecorrerHojaTest, testing::ValuesIn(engines()), engineName);

TEST(DescripcionDetalle, UpperCasesWholeCharacters)
{
    EXPECT_EQ(generation::DescripcionDetalle(QStringLiteral("café ñandú")),
              QStringLiteral("CAFÉ ÑANDÚ"));
    // Upper case may lengthen the text; the column still gets 60 characters.
    EXPECT_EQ(generation::DescripcionDetalle(QString(60, u'ß')).size(), 60);
    // A character outside the basic plane counts once and is never split.
    const QString emoji = QString(59, u'a') + QString::fromUtf8("😀") + QStringLiteral("b");
    EXPECT_EQ(generation::DescripcionDetalle(emoji), QString(59, u'A') + QString::fromUtf8("😀"));
}

} // namespace

#include "generation/ScanFixture.h"
#include "generation/Simulacion.h"

using namespace testsupport;

namespace {

// What a walk found, row kinds and numbers alike.
QString classification(const generation::Figures& f)
{
    return QStringLiteral("read %1 sales %2 zero %3 notPositive %4 used %5 (%6-%7) existed %8 "
                          "written %9 sum %10")
        .arg(f.rowsRead)
        .arg(f.saleRows)
        .arg(f.zeroMarker)
        .arg(f.notPositive)
        .arg(f.numbersUsed)
        .arg(f.firstTicket)
        .arg(f.lastTicket)
        .arg(f.existed)
        .arg(f.written)
        .arg(f.amountWritten, 0, 'f', 2);
}

class SaleRowsTest : public ScanFixture {
protected:
    generation::Simulacion dryRun(const std::vector<QStringList>& rows)
    {
        writeFile(state.cArchivo, csv(rows));
        state.nTicket = 100;
        generation::Simulacion result = generation::Simular(state, surface);
        // The dry run closes what it opened; the run gets them again as the fixture gives them.
        state.nTicket = 100;
        state.oExcel = std::make_unique<spreadsheet::Application>(spreadsheet::Regional{});
        EXPECT_TRUE(support::oBases->AbrirBdD(state.cnBase, db->name()));
        return result;
    }

    void take(int venta)
    {
        db->exec(QStringLiteral("INSERT INTO tickets (Venta, Fecha, Hora, Efectivo, Total) "
                                "VALUES (%1, '2020-01-01', '10:00', 1, 1)")
                     .arg(venta));
    }
};

// One workbook with every kind of row: the dry run and the run see the same rows and numbers.
TEST_P(SaleRowsTest, TheRunAndTheDryRunClassifyEveryRowAlike)
{
    const QString longText(75, u'x');
    const std::vector<QStringList> rows{
        {QStringLiteral("Folio"), QStringLiteral("Marca")},
        sale(QStringLiteral("1"), QStringLiteral("12.5")),
        sale(QStringLiteral("0"), QStringLiteral("99")),          // "0" marker
        emptyRow(),                                               // empty
        sale(QStringLiteral("1"), QStringLiteral("0")),           // zero amount
        sale(QStringLiteral("1"), QStringLiteral("-3")),          // below zero
        sale(QStringLiteral("X"), QStringLiteral("7"), longText), // long description
        sale(QStringLiteral("1"), QStringLiteral("$1,234.50")),   // currency, thousands
        sale(QStringLiteral("  "), QStringLiteral("4")),          // blanks as marker
        sale(QStringLiteral("1"), QStringLiteral("\"5\""), QStringLiteral("Texto")), // taken
        sale(QStringLiteral("1"), QStringLiteral("8"), QString(), QStringLiteral("2026-01-31")),
    };
    take(102);

    const generation::Simulacion simulated = dryRun(rows);
    const generation::Figures run = scan(rows);

    EXPECT_EQ(classification(simulated.figures), classification(run));
    EXPECT_EQ(simulated.existing, std::vector<std::int32_t>{102});
    EXPECT_EQ(run.written, 5);
    EXPECT_EQ(run.existed, 1);
    EXPECT_EQ(run.zeroMarker, 1);
    EXPECT_EQ(run.notPositive, 2);
    EXPECT_TRUE(simulated.runWouldSucceed());
}

// A row the run stops at is the row the dry run says would stop it.
TEST_P(SaleRowsTest, TheDryRunBlocksAtTheRowTheRunFailsAt)
{
    const std::vector<QStringList> rows{
        {},
        sale(QStringLiteral("1"), QStringLiteral("1")),
        sale(QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("Venta"),
             QStringLiteral("mañana")),
        sale(QStringLiteral("1"), QStringLiteral("3")),
    };
    const generation::Simulacion simulated = dryRun(rows);
    ASSERT_FALSE(simulated.runWouldSucceed());
    int blockedAt = 0;
    for (const auto& problem : simulated.problems) {
        if (problem.blocksRun && blockedAt == 0)
            blockedAt = problem.row;
    }
    try {
        scan(rows);
        FAIL() << "the run should fail";
    } catch (const generation::WalkFailure& failure) {
        EXPECT_EQ(failure.row, blockedAt) << failure.what();
    }
    EXPECT_EQ(tickets().size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, SaleRowsTest, testing::ValuesIn(engines()), engineName);

} // namespace

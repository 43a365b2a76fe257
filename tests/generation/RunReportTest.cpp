#include "generation/RunReport.h"

#include "support/Failure.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using generation::RowEvent;
using generation::RunReport;

namespace {

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

class RunReportTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString log = dir.filePath(QStringLiteral("generar-tickets.log"));

    void begin(RunReport& report)
    {
        report.begin(QStringLiteral("prueba"), QStringLiteral("Ventas.csv"),
                     QStringLiteral("servidor"), QStringLiteral("datos1"), QStringLiteral("root"));
    }
};

TEST_F(RunReportTest, EveryRowHasItsLineInOrderWithTheTimeOfDay)
{
    {
        RunReport report(log);
        begin(report);
        report.onRow({RowEvent::Outcome::Written, 2, 500, 12.5});
        report.onRow({RowEvent::Outcome::Existed, 3, 501, 7});
        report.onRow({RowEvent::Outcome::ZeroMarker, 4, 0, 0});
        report.onRow({RowEvent::Outcome::NotPositive, 5, 0, -3.256});
        report.end({});
    }
    const QStringList lines = linesOf(log);
    ASSERT_EQ(lines.size(), 6);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
    QStringList texts;
    for (const QString& line : lines) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        texts << line.mid(20);
    }
    EXPECT_EQ(texts[1], QStringLiteral("Renglón 2: ticket 500 escrito, importe 12.50"));
    EXPECT_EQ(texts[2], QStringLiteral("Renglón 3: ticket 501 ya existía, no se escribió"));
    EXPECT_EQ(texts[3], QStringLiteral("Renglón 4: pasado por alto: marcador \"0\""));
    EXPECT_EQ(texts[4],
              QStringLiteral("Renglón 5: pasado por alto: importe -3.26, no mayor que cero"));
    EXPECT_TRUE(texts[5].startsWith(QStringLiteral("Fin: Renglones leídos: 0; ")));
}

// The amounts the report gives are those a column of two decimals keeps, also where the nearest
// binary number lies just below the half cent.
TEST_F(RunReportTest, AmountsAreRoundedAsTheDatabaseRoundsThem)
{
    EXPECT_EQ(RunReport::money(2.675), QStringLiteral("2.68"));
    EXPECT_EQ(RunReport::money(1.005), QStringLiteral("1.01"));
    EXPECT_EQ(RunReport::money(-2.675), QStringLiteral("-2.68"));
    EXPECT_EQ(RunReport::money(0.1 + 0.2), QStringLiteral("0.30"));
    EXPECT_EQ(RunReport::money(9.995), QStringLiteral("10.00"));
    EXPECT_EQ(RunReport::money(7), QStringLiteral("7.00"));
    EXPECT_EQ(RunReport::money(12.5), QStringLiteral("12.50"));
    EXPECT_EQ(RunReport::money(1e15), QStringLiteral("1000000000000000.00"));
}

TEST_F(RunReportTest, ALongLogIsRotatedWithoutLosingALine)
{
    // Past 4 MB at the start of a run, and past 8 MB within one.
    {
        QFile old(log);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(RunReport::kMaxLogBytes + 1, 'x'));
    }
    constexpr int kRows = 200000; // about 10 MB of lines
    {
        RunReport report(log);
        begin(report);
        EXPECT_EQ(QFile(log + QStringLiteral(".1")).size(), RunReport::kMaxLogBytes + 1);
        for (int row = 2; row < kRows + 2; ++row)
            report.onRow({RowEvent::Outcome::Written, row, row + 1000, 1.5});
        report.end({});
    }
    const QStringList rotated = linesOf(log + QStringLiteral(".1"));
    const QStringList current = linesOf(log);
    EXPECT_LE(QFile(log).size(), 2 * RunReport::kMaxLogBytes);
    ASSERT_FALSE(rotated.isEmpty());
    EXPECT_TRUE(rotated.front().contains(QStringLiteral("Inicio (prueba)")));
    EXPECT_EQ(rotated.size() + current.size(), kRows + 2);
    EXPECT_TRUE(current.back().contains(QStringLiteral("Fin: ")));
    // The rows follow each other across the two files.
    const QStringList all = rotated + current;
    for (int i = 1; i <= kRows; i += 9973)
        EXPECT_TRUE(all[i].contains(QStringLiteral("Renglón %1: ").arg(i + 1))) << i;
}

// Another user of the data folder could plant a link at the report's name, to have lines
// appended to a file of whoever runs the program next.
TEST_F(RunReportTest, ALinkAtTheLogsNameIsNotFollowedAndTheRunGoesOnWithoutIt)
{
    const QString other = dir.filePath(QStringLiteral("ajeno.txt"));
    {
        QFile file(other);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("intacto\n");
    }
    ASSERT_TRUE(QFile::link(other, log));
    const QString csvFile = dir.filePath(QStringLiteral("informe.csv"));
    {
        RunReport report(log, csvFile);
        EXPECT_NO_THROW(begin(report));
        EXPECT_TRUE(report.unavailable().contains(log)) << report.unavailable().toStdString();
        EXPECT_TRUE(report.unavailable().contains(QStringLiteral("enlace simbólico")));
        report.onRow({RowEvent::Outcome::Written, 2, 500, 12.5});
        report.end({});
    }
    EXPECT_EQ(linesOf(other), QStringList{QStringLiteral("intacto")});
    // The per-row report is still written.
    EXPECT_EQ(linesOf(csvFile).size(), 2);
}

// The system's reason is told in Spanish, as every message of the program.
TEST_F(RunReportTest, AReportThatCannotBeOpenedSaysWhyInSpanish)
{
    RunReport missing(dir.filePath(QStringLiteral("no-hay/generar-tickets.log")), QString());
    EXPECT_NO_THROW(begin(missing));
    EXPECT_TRUE(missing.unavailable().contains(QStringLiteral("no existe el archivo o la carpeta")))
        << missing.unavailable().toStdString();
    RunReport folder(dir.path(), QString());
    EXPECT_NO_THROW(begin(folder));
    EXPECT_TRUE(folder.unavailable().contains(QStringLiteral("es una carpeta")))
        << folder.unavailable().toStdString();
}

TEST_F(RunReportTest, ALinkAtThePerRowReportsNameFailsBeforeAnythingIsWritten)
{
    const QString other = dir.filePath(QStringLiteral("ajeno.txt"));
    {
        QFile file(other);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("intacto\n");
    }
    const QString csvFile = dir.filePath(QStringLiteral("informe.csv"));
    ASSERT_TRUE(QFile::link(other, csvFile));
    RunReport report(log, csvFile);
    EXPECT_THROW(begin(report), support::Failure);
    EXPECT_EQ(linesOf(other), QStringList{QStringLiteral("intacto")});
}

// Everyone in the data folder's group appends to the same report, whatever the creator's umask.
TEST_F(RunReportTest, ANewLogIsTheGroupsWhateverTheUmask)
{
    const mode_t previous = umask(077);
    {
        RunReport report(log);
        begin(report);
        report.end({});
    }
    umask(previous);
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(log).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0660u);
}

} // namespace

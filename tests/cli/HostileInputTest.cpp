#include "cli/RunProgram.h"
#include "common/Files.h"
#include "common/Installation.h"
#include "spreadsheet/SheetFiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;

// Damaged and hostile files given to the real program: each run ends with a Spanish message
// that names the file (and the row where there is one) and writes nothing.

namespace {

QByteArray garbage(int size)
{
    QRandomGenerator random(20261207);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

const QByteArray kPicture = QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) + garbage(2000);
const QByteArray kSaleRow = ",V,,07/12/2026,10,,,uno\r\n";

QByteArray saleCsv(const QByteArray& afterTheSale)
{
    return "Folio,Marca,,Fecha,Importe,,,Descripcion\r\n" + kSaleRow + afterTheSale;
}

QByteArray zipped(const sheettest::Parts& parts)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("libro.xlsx"));
    sheettest::writeZip(file, parts);
    return readFile(file);
}

// A workbook with a sale in row 2 and the given rows after it.
QByteArray saleXlsx(const QByteArray& moreRows)
{
    return zipped(sheettest::package(
        "<row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>V</t></is></c><c r=\"D2\" "
        "t=\"inlineStr\"><is><t>07/12/2026</t></is></c><c r=\"E2\"><v>10</v></c></row>" +
        moreRows));
}

QByteArray textCell(const char* cell, const QByteArray& text)
{
    return QByteArray("<c r=\"") + cell + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

// A worksheet that unpacks to 40 MB from a few tens of KB.
QByteArray zipBomb()
{
    return zipped(sheettest::package("<row r=\"2\"/>" + QByteArray(40 << 20, ' ')));
}

QByteArray entityExpansion()
{
    QByteArray doctype = "<!DOCTYPE worksheet [<!ENTITY a0 \"jajajajaja\">";
    for (int i = 1; i < 10; ++i) {
        doctype += QByteArray("<!ENTITY a") + QByteArray::number(i) + " \"" +
                   QByteArray("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    }
    doctype += "]>";
    return zipped(sheettest::package(
        {}, {},
        {{QStringLiteral("xl/worksheets/sheet1.xml"),
          "<?xml version=\"1.0\"?>" + doctype +
              "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
              "<sheetData><row r=\"2\">" +
              textCell("B2", "V") + textCell("H2", "&a9;") + "</row></sheetData></worksheet>"}}));
}

// Markers down to the last row a sheet has: the scan asks for the row after it.
QByteArray markersToTheLastRow()
{
    return QByteArray(",0\n").repeated(1048576);
}

QByteArray truncatedZip()
{
    const QByteArray whole = saleXlsx({});
    return whole.left(whole.size() / 2);
}

QByteArray hugeCellCsv()
{
    return saleCsv(",V,,07/12/2026,11,,," + QByteArray(10 << 20, 'x') + "\r\n");
}

QByteArray xlsxRow3(const QByteArray& descrip)
{
    return saleXlsx("<row r=\"3\">" + textCell("H3", descrip) + "</row>");
}

QByteArray hugeCellXlsx()
{
    return xlsxRow3(QByteArray(10 << 20, 'x'));
}

QByteArray invalidUtf8Xlsx()
{
    return xlsxRow3("caf\xE9 \xFF\xFE");
}

QByteArray nulBytesCsv()
{
    return saleCsv(QByteArray(",V,,07/12/2026,11,,,a\0b\r\n", 25));
}

QByteArray nulBytesXlsx()
{
    return xlsxRow3(QByteArray("a\0b", 3));
}

QByteArray rowPastTheLastXlsx()
{
    return saleXlsx("<row r=\"1048577\">" + textCell("B1048577", "V") + "</row>");
}

QByteArray unclosedQuoteCsv()
{
    return saleCsv(",V,,07/12/2026,\"11,,,dos\r\n,V,,07/12/2026,12,,,tres\r\n");
}

QByteArray picture()
{
    return kPicture;
}

QByteArray nothing()
{
    return {};
}

QByteArray garbage4k()
{
    return garbage(4096);
}

enum class Place { Workbook, Settings, Registry };

struct HostileCase {
    const char* name;
    Place place;
    const char* extension; // of the workbook
    QByteArray (*bytes)();
    int status;
    std::vector<const char*> said; // besides the file's name
    bool slow = false;             // tried on the embedded database only
};

// clang-format off
const std::vector<HostileCase> kHostileCases = {
    {"truncated_zip",              Place::Workbook, "xlsx", truncatedZip,        1, {"dañado"}},
    {"zip_bomb",                   Place::Workbook, "xlsx", zipBomb,             1, {"descomprimirlo"}},
    {"xml_entity_expansion",       Place::Workbook, "xlsx", entityExpansion,     1, {"dañado"}},
    {"ten_megabyte_cell_csv",      Place::Workbook, "csv",  hugeCellCsv,         1, {"celda H3", "fila 3"}},
    {"ten_megabyte_cell_xlsx",     Place::Workbook, "xlsx", hugeCellXlsx,        1, {"dañado"}},
    {"invalid_utf8_xlsx",          Place::Workbook, "xlsx", invalidUtf8Xlsx,     1, {"dañado", "UTF-8"}},
    {"nul_bytes_csv",              Place::Workbook, "csv",  nulBytesCsv,         1, {"bytes nulos", "línea 3"}},
    {"nul_bytes_xlsx",             Place::Workbook, "xlsx", nulBytesXlsx,        1, {"dañado"}},
    {"row_past_the_last_xlsx",     Place::Workbook, "xlsx", rowPastTheLastXlsx,  1, {"dañado"}},
    {"scan_past_the_last_row_csv", Place::Workbook, "csv",  markersToTheLastRow, 1, {"renglón 1048577"}, true},
    {"unclosed_quote_csv",         Place::Workbook, "csv",  unclosedQuoteCsv,    1, {"comilla sin cerrar", "fila 3"}},
    {"picture_as_xlsx",            Place::Workbook, "xlsx", picture,             1, {"no es un archivo ZIP"}},
    {"picture_as_csv",             Place::Workbook, "csv",  picture,             1, {"datos binarios"}},
    {"empty_csv",                  Place::Workbook, "csv",  nothing,             1, {"vacío"}},
    {"empty_xlsx",                 Place::Workbook, "xlsx", nothing,             1, {"vacío"}},
    {"garbage_settings",           Place::Settings, "csv",  garbage4k,           2, {"Ruta indicada e incorrecta"}},
    // Read as text, as the POS itself reads it: no server is found in it.
    {"garbage_registry",           Place::Registry, "csv",  garbage4k,           1, {"No se indicó el servidor"}},
};
// clang-format on

class HostileInputTest : public testing::TestWithParam<Engine> {
protected:
    void SetUp() override
    {
        db = std::make_unique<TestDatabase>(GetParam());
        place = std::make_unique<Installation>(*db, 700);
        ASSERT_TRUE(installProgram(place->executable()));
    }

    std::size_t rows(const char* table)
    {
        return db->rows(QStringLiteral("SELECT Id FROM ") + QLatin1String(table)).size();
    }

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<Installation> place;
};

TEST_P(HostileInputTest, EachDamagedFileIsNamedInASpanishFailureAndNothingIsWritten)
{
    const QString registry = place->posFolder() + QStringLiteral("/vtw.ini");
    const QByteArray goodRegistry = readFile(registry);
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(c.name);
        if (c.slow && GetParam() != Engine::SQLite)
            continue;
        db->exec(QStringLiteral("DELETE FROM ticketsdetalle"));
        db->exec(QStringLiteral("DELETE FROM tickets"));
        const QString workbook =
            place->programFolder() + QStringLiteral("/Ventas.") + QLatin1String(c.extension);
        place->writeSettings(db->name(), workbook, QStringLiteral("700"));
        writeFile(workbook, c.place == Place::Workbook ? c.bytes() : saleCsv({}));
        writeFile(registry, c.place == Place::Registry ? c.bytes() : goodRegistry);
        if (c.place == Place::Settings)
            writeFile(place->settingsFile(), c.bytes());
        // The registry's damage is told as the server it does not name, with the database.
        const QString named = c.place == Place::Workbook   ? workbook
                              : c.place == Place::Settings ? place->settingsFile()
                                                           : db->name();

        const ProgramRun outcome = runProgram(place->executable(), {QStringLiteral("--proceder")});
        EXPECT_EQ(outcome.status, c.status) << outcome.err.toStdString();
        EXPECT_TRUE(outcome.err.contains(named)) << outcome.err.toStdString();
        for (const char* words : c.said) {
            EXPECT_TRUE(outcome.err.contains(QString::fromUtf8(words)))
                << words << "\n"
                << outcome.err.toStdString();
        }
        EXPECT_EQ(rows("tickets"), 0u);
        EXPECT_EQ(rows("ticketsdetalle"), 0u);
    }
}

TEST_P(HostileInputTest, TextThatIsNotUtf8IsReadAsWindows1252)
{
    place->writeWorkbook({});
    writeFile(place->workbook(), saleCsv(",V,,08/12/2026,11,,,caf\xE9 a\xF1o\r\n"));
    const ProgramRun outcome = runProgram(place->executable(), {QStringLiteral("--proceder")});
    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    const auto lines = db->rows(QStringLiteral("SELECT Descrip FROM ticketsdetalle ORDER BY Id"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1][0], QStringLiteral("CAFÉ AÑO"));
}

TEST_P(HostileInputTest, AFirstTicketBeyondTheNumbersIsRefusedBeforeAnythingIsRead)
{
    place->writeWorkbook({});
    writeFile(place->workbook(), saleCsv({}));
    place->writeSettings(db->name(), place->workbook(), QStringLiteral("1e30"));
    const ProgramRun outcome = runProgram(place->executable(), {QStringLiteral("--proceder")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_TRUE(outcome.err.contains(QStringLiteral("\"1e30\""))) << outcome.err.toStdString();
    EXPECT_EQ(rows("tickets"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, HostileInputTest, testing::ValuesIn(engines()), engineName);

} // namespace

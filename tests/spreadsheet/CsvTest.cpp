#include "SheetFiles.h"
#include "spreadsheet/CellAddress.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/CsvReader.h"
#include "spreadsheet/Failure.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <utility>

using namespace spreadsheet;

namespace {

const Regional kRegional{true, u'.', u','};

// The sheet as text: cells by "|", rows by "\n", each cell as the spreadsheet shows it.
QString render(const Worksheet& sheet)
{
    QStringList rows;
    for (int row = 1; row <= sheet.lastRow(); ++row) {
        QStringList cells;
        for (int column = 1; column <= 6; ++column) {
            const QString address = addressText(row, column);
            cells.append(CellText(sheet.Range(address).Value(), kRegional, address));
        }
        while (!cells.isEmpty() && cells.last().isEmpty())
            cells.removeLast();
        rows.append(cells.join(u'|'));
    }
    return rows.join(u'\n');
}

struct CsvCase {
    const char* name;
    QByteArray bytes;
    const char* expected; // UTF-8
};

class CsvSplitting : public testing::TestWithParam<CsvCase> {};

TEST_P(CsvSplitting, SplitsAndDecodesAsASpreadsheetWould)
{
    const CsvCase& c = GetParam();
    const std::unique_ptr<Worksheet> sheet = readCsv(c.bytes, "ventas.csv", kRegional);
    EXPECT_EQ(render(*sheet), QString::fromUtf8(c.expected));
}

QByteArray utf16le(const QString& text)
{
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

QByteArray utf16be(const QString& text)
{
    QByteArray bytes = utf16le(text);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Files, CsvSplitting,
    testing::Values(
        CsvCase{"windows_line_breaks", "a,b\r\nc,d\r\n", "a|b\nc|d"},
        CsvCase{"unix_line_breaks", "a,b\nc,d\n", "a|b\nc|d"},
        CsvCase{"old_mac_line_breaks", "a,b\rc,d\r", "a|b\nc|d"},
        CsvCase{"no_final_line_break", "a,b\nc,d", "a|b\nc|d"}, CsvCase{"empty_file", "", ""},
        CsvCase{"empty_values", "a,,c\n,,\nx", "a||c\n\nx"},
        CsvCase{"blank_line_is_an_empty_row", "a\n\n\nb\n", "a\n\n\nb"},
        CsvCase{"trailing_separator", "a,b,\n", "a|b"},
        CsvCase{"quoted_separator", "\"a,b\",c\n", "a,b|c"},
        CsvCase{"doubled_quotes", "\"say \"\"hi\"\"\",x", "say \"hi\"|x"},
        CsvCase{"quoted_empty", "\"\",x", "|x"},
        CsvCase{"line_break_in_quotes", "\"one\r\ntwo\",x\ny,\"3\nfour\"\nz",
                "one\r\ntwo|x\ny|3\nfour\nz"},
        CsvCase{"quote_inside_unquoted", "ab\"c,d", "ab\"c|d"},
        CsvCase{"text_after_closing_quote", "\"ab\"cd,e", "abcd|e"},
        CsvCase{"quoted_number_recognised", "\"1,234.50\",\"07/12/2026\"", "1234.5|07/12/2026"},
        CsvCase{"semicolon", "a;b;c\n1;2;3", "a|b|c\n1|2|3"},
        CsvCase{"semicolon_with_decimal_commas",
                "Fecha;Importe;Nota\n07/12/2026;12,50;x\n08/12/2026;1.234,00;y, z\n",
                "Fecha|Importe|Nota\n07/12/2026|12,50|x\n08/12/2026|1.234,00|y, z"},
        CsvCase{"semicolon_headerless_decimal_commas", "1,5;2,5\n3,5;4,5", "1,5|2,5\n3,5|4,5"},
        CsvCase{"tab", "a\tb, c\n1\t2", "a|b, c\n1|2"},
        CsvCase{"comma_with_semicolon_in_text", "name,notes\nx,a;b\n", "name|notes\nx|a;b"},
        CsvCase{"separator_in_quotes_not_counted", "\"a;b;c\",d\n\"e;f\",g", "a;b;c|d\ne;f|g"},
        CsvCase{"sep_line", "sep=;\na;b,c", "a|b,c"},
        CsvCase{"utf8_bom",
                "\xEF\xBB\xBF"
                "Caf\xC3\xA9,x",
                "Café|x"},
        CsvCase{"utf8_without_bom", "Caf\xC3\xA9,\xE2\x82\xAC", "Café|€"},
        CsvCase{"windows_1252", "Caf\xE9,\x80,\x96", "Café|€|–"},
        CsvCase{"utf16_with_bom", utf16le(QStringLiteral(u"\uFEFFCafé,1\r\nx,2\r\n")),
                "Café|1\nx|2"},
        // U+1D11E is a surrogate pair, whose two halves must stay in order.
        CsvCase{"utf16_big_endian_with_bom", utf16be(QStringLiteral(u"\uFEFFCafé,\U0001D11E\r\n")),
                "Café|\xF0\x9D\x84\x9E"},
        CsvCase{"utf16_without_mark", utf16le(QStringLiteral(u"Café;\U0001D11E\r\nx;2")),
                "Café|\xF0\x9D\x84\x9E\nx|2"},
        CsvCase{"ctrl_z_at_end", "a,b\r\n\x1A", "a|b"}),
    [](const testing::TestParamInfo<CsvCase>& info) { return std::string(info.param.name); });

TEST(CsvReader, AnUnclosedQuoteNamesTheFileAndTheRowWhereItOpened)
{
    try {
        readCsv("a,b\nc,\"open\nd,e\n", "/datos/ventas.csv", kRegional);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.message().contains("\"/datos/ventas.csv\""))
            << failure.message().toStdString();
        EXPECT_TRUE(failure.message().contains("fila 2")) << failure.message().toStdString();
    }
}

TEST(CsvReader, BinaryDataIsAFailureNamingTheFile)
{
    try {
        readCsv(QByteArray("a,b\nc\0d\n", 8), "foto.csv", kRegional);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.message().contains("\"foto.csv\"")) << failure.message().toStdString();
        EXPECT_TRUE(failure.message().contains("línea 2")) << failure.message().toStdString();
    }
}

TEST(CsvReader, CellsOutsideTheUsedAreaAreEmpty)
{
    const std::unique_ptr<Worksheet> sheet = readCsv("a,b\nc\n", "x.csv", kRegional);
    EXPECT_EQ(sheet->lastRow(), 2);
    EXPECT_TRUE(sheet->Range("B2").Value().isEmpty());
    EXPECT_TRUE(sheet->Range("A3").Value().isEmpty());
    EXPECT_TRUE(sheet->Range("XFD1048576").Value().isEmpty());
}

TEST(Application, OpensCsvAndTextFilesByTheirExtension)
{
    QTemporaryDir dir;
    Application excel(kRegional);
    for (const char* name : {"ventas.csv", "ventas.TXT"}) {
        const QString path = dir.filePath(name);
        sheettest::writeFile(path, "Marca;Fecha;Importe\r\n1;07/12/2026;1.234,50\r\n");
        const std::shared_ptr<Workbook> book = excel.Workbooks().Open(path);
        EXPECT_EQ(book->path(), path);
        EXPECT_EQ(sheettest::describe(book->Worksheets(1), "B2"), "date:2026-12-07 00:00:00");
        EXPECT_EQ(sheettest::describe(book->Worksheets(1), "C2"), "text:1.234,50");
    }
}

} // namespace

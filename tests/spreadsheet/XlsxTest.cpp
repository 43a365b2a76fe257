#include "SheetFiles.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/XlsxReader.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <tuple>
#include <xlsxwriter.h>

using namespace spreadsheet;
using sheettest::describe;
using sheettest::package;

namespace {

const Regional kRegional{true, u'.', u','};

class Xlsx : public testing::Test {
protected:
    QString path(const char* name) const { return dir_.filePath(name); }

    std::shared_ptr<Workbook> open(const QString& file) { return excel_.Workbooks().Open(file); }

    std::shared_ptr<Workbook> openParts(const sheettest::Parts& parts)
    {
        const QString file = path("armado.xlsx");
        sheettest::writeZip(file, parts);
        return open(file);
    }

    // The failure's message; it must name the file.
    QString failureOpening(const QString& file)
    {
        try {
            open(file);
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.message().contains("\"" + file + "\""))
                << failure.message().toStdString();
            return failure.message();
        }
        ADD_FAILURE() << "no failure opening " << file.toStdString();
        return {};
    }

    QTemporaryDir dir_;
    Application excel_{kRegional};
};

const QByteArray kDateStyles =
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"[h]:mm\"/></numFmts>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
    "<cellXfs count=\"3\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/></cellXfs>"
    "</styleSheet>";

TEST_F(Xlsx, ReadsWhatAnotherProgramWrote)
{
    const QString file = path("ventas.xlsx");
    lxw_workbook* book = workbook_new(file.toUtf8().constData());
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Ventas");
    lxw_format* dayMonthYear = workbook_add_format(book);
    format_set_num_format(dayMonthYear, "dd/mm/yyyy");
    lxw_format* builtIn = workbook_add_format(book);
    format_set_num_format_index(builtIn, 14);
    lxw_format* withTime = workbook_add_format(book);
    format_set_num_format(withTime, "yyyy-mm-dd hh:mm");
    lxw_format* money = workbook_add_format(book);
    format_set_num_format(money, "#,##0.00 \"MXN\";[Red]-#,##0.00");
    lxw_format* elapsed = workbook_add_format(book);
    format_set_num_format(elapsed, "[h]:mm");
    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);

    lxw_datetime december7 = {2026, 12, 7, 0, 0, 0};
    lxw_datetime withClock = {2026, 12, 7, 9, 5, 30};
    worksheet_write_string(sheet, 0, 0, "Marca", nullptr);
    worksheet_write_string(sheet, 1, 1, "1", nullptr);
    worksheet_write_datetime(sheet, 1, 3, &december7, dayMonthYear);
    worksheet_write_number(sheet, 1, 4, 1234.5, money);
    worksheet_write_string(sheet, 1, 7, "  Café con leche ", nullptr);
    worksheet_write_number(sheet, 2, 1, 0, nullptr);
    worksheet_write_datetime(sheet, 2, 3, &december7, builtIn);
    worksheet_write_datetime(sheet, 2, 4, &withClock, withTime);
    worksheet_write_number(sheet, 2, 5, 1.5, elapsed);
    worksheet_write_boolean(sheet, 2, 6, 1, nullptr);
    worksheet_write_formula_num(sheet, 2, 7, "=1+2", nullptr, 3);
    lxw_rich_string_tuple plain = {nullptr, const_cast<char*>("uno ")};
    lxw_rich_string_tuple strong = {bold, const_cast<char*>("dos")};
    lxw_rich_string_tuple* runs[] = {&plain, &strong, nullptr};
    worksheet_write_rich_string(sheet, 3, 1, runs, nullptr);
    worksheet_write_string(sheet, 1048575, 16383, "última", nullptr);
    lxw_worksheet* other = workbook_add_worksheet(book, "Otra");
    worksheet_write_string(other, 0, 0, "no se lee", nullptr);
    ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);

    const std::shared_ptr<Workbook> opened = open(file);
    const Worksheet& ws = opened->Worksheets(1);
    EXPECT_EQ(describe(ws, "A1"), "text:Marca");
    EXPECT_EQ(describe(ws, "B2"), "text:1");
    EXPECT_EQ(describe(ws, "D2"), "date:2026-12-07 00:00:00");
    EXPECT_EQ(describe(ws, "E2"), "number:1234.5");
    EXPECT_EQ(describe(ws, "H2"), "text:  Café con leche ");
    EXPECT_EQ(describe(ws, "B3"), "number:0");
    EXPECT_EQ(describe(ws, "D3"), "date:2026-12-07 00:00:00");
    EXPECT_EQ(describe(ws, "E3"), "date:2026-12-07 09:05:30");
    EXPECT_EQ(describe(ws, "F3"), "number:1.5");
    EXPECT_EQ(describe(ws, "G3"), "bool:true");
    EXPECT_EQ(describe(ws, "H3"), "number:3");
    EXPECT_EQ(describe(ws, "B4"), "text:uno dos");
    EXPECT_EQ(describe(ws, "C4"), "empty");
    EXPECT_EQ(describe(ws, "XFD1048576"), "text:última");
    EXPECT_EQ(ws.lastRow(), 1048576);
}

TEST_F(Xlsx, AnEmptyFirstWorksheetIsReadNotTheNextOne)
{
    const QString file = path("vacio.xlsx");
    lxw_workbook* book = workbook_new(file.toUtf8().constData());
    workbook_add_worksheet(book, "Vacía");
    worksheet_write_string(workbook_add_worksheet(book, "Datos"), 1, 1, "x", nullptr);
    ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);

    const std::shared_ptr<Workbook> opened = open(file);
    const Worksheet& ws = opened->Worksheets(1);
    EXPECT_EQ(ws.lastRow(), 0);
    EXPECT_EQ(describe(ws, "B2"), "empty");
}

TEST_F(Xlsx, TheFirstWorksheetIsTakenInTabOrderNotByPartName)
{
    const QByteArray workbook =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
        "<sheet name=\"Gráfica\" sheetId=\"4\" r:id=\"rId9\"/>"
        "<sheet name=\"Ventas\" sheetId=\"2\" r:id=\"rId7\"/>"
        "<sheet name=\"Vieja\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    const QByteArray rels = sheettest::relationships(
        sheettest::relationship("rId1", "worksheet", "worksheets/sheet1.xml") +
        sheettest::relationship("rId7", "worksheet", "/xl/worksheets/sheet2.xml") +
        sheettest::relationship("rId9", "chartsheet", "chartsheets/sheet1.xml"));
    const std::shared_ptr<Workbook> book = openParts(package(
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>vieja</t></is></c></row>", {},
        {{"xl/workbook.xml", workbook},
         {"xl/_rels/workbook.xml.rels", rels},
         {"xl/worksheets/sheet2.xml",
          sheettest::worksheetXml(
              "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>ventas</t></is></c></row>")}}));
    EXPECT_EQ(describe(book->Worksheets(1), "A1"), "text:ventas");
}

TEST_F(Xlsx, ReadsTheCellKindsOfTheFormat)
{
    const QByteArray strings =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<si><t xml:space=\"preserve\"> uno </t></si>"
        "<si><r><t>Ca</t></r><r><rPr><b/></rPr><t>fé</t></r><rPh sb=\"0\" "
        "eb=\"1\"><t>カ</t></rPh></si>"
        "<si><t>a_x000D__x005F_x</t></si></sst>";
    const std::shared_ptr<Workbook> book = openParts(package(
        "<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c><c r=\"C2\" t=\"s\"><v>1</v></c>"
        "<c r=\"D2\" t=\"s\"><v>2</v></c><c r=\"E2\" t=\"s\"><v>\n 1 </v></c></row>"
        "<row r=\"3\"><c r=\"B3\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"
        "<c r=\"C3\" t=\"str\"><f>A1&amp;\"x\"</f><v>texto</v></c>"
        "<c r=\"D3\" t=\"b\"><v>0</v></c><c r=\"E3\" t=\"inlineStr\"><is><r><t>en</t></r>"
        "<r><t> línea</t></r></is></c><c r=\"F3\" s=\"1\"><v>46363.5</v></c>"
        "<c r=\"G3\" s=\"2\"><v>1.25</v></c><c r=\"H3\" s=\"1\"/><c r=\"I3\"><v>-1.5E-3</v></c>"
        "<c r=\"J3\" t=\"d\"><v>2026-12-07T09:05:00</v></c><c r=\"K3\"><f>SUM(A1:A2)</f></c>"
        "</row>"
        "<row><c><v>1</v></c><c><v>2</v></c><c r=\"E4\"><v>5</v></c><c><v>6</v></c></row>"
        "<row r=\"9\"><c r=\"C9\"><v>9</v></c></row><row><c r=\"A10\"><v>10</v></c></row>",
        {}, {{"xl/sharedStrings.xml", strings}, {"xl/styles.xml", kDateStyles}}));
    const Worksheet& ws = book->Worksheets(1);
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"B2", "text: uno "},
        {"C2", "text:Café"},
        {"D2", "text:a\r_x"},
        {"E2", "text:Café"},
        {"B3", "error:#DIV/0!"},
        {"C3", "text:texto"},
        {"D3", "bool:false"},
        {"E3", "text:en línea"},
        {"F3", "date:2026-12-07 12:00:00"},
        {"G3", "number:1.25"},
        {"H3", "empty"},
        {"I3", "number:-0.0015"},
        {"J3", "date:2026-12-07 09:05:00"},
        // A formula a program wrote without calculating it: its value is unknown.
        {"K3", "error:fórmula sin valor calculado: abra el libro en la hoja de cálculo y guárdelo"},
        {"A4", "number:1"},
        {"B4", "number:2"},
        {"E4", "number:5"},
        {"F4", "number:6"},
        {"C9", "number:9"},
        {"A10", "number:10"},
        {"A1", "empty"}};
    for (const auto& [address, value] : expected)
        EXPECT_EQ(describe(ws, address), value) << address;
    EXPECT_EQ(ws.lastRow(), 10);
}

// The usual shape of a cell is read straight from the bytes, every other shape by the scanner:
// both give the same values and the same faults, also where a cell is cut between two chunks.
TEST_F(Xlsx, EveryShapeOfACellReadsAlike)
{
    const QByteArray strings =
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<si><t>cero</t></si><si><t>uno</t></si></sst>";
    const std::vector<std::pair<QByteArray, const char*>> shapes = {
        {"<c r=\"A1\"><v>5</v></c>", "number:5"},
        {"<c r=\"A1\" t=\"n\" ><v>5</v></c>", "number:5"},
        {"<c  r=\"A1\"\t><v>5</v></c>", "number:5"},
        {"<c r='A1'><v>5</v></c>", "number:5"},
        {"<c r=\"A1\" cm=\"1\"><v>5</v></c>", "number:5"},
        {"<c r=\"A1\"><f>2+3</f><v>5</v></c>", "number:5"},
        {"<c r=\"A1\"><v>&#53;</v></c>", "number:5"},
        {"<c r=\"A1\"><v> 5\n</v ></c>", "number:5"},
        {"\n  <c r=\"A1\"><v>5</v></c>\n", "number:5"},
        {"<c r=\"A1\" r=\"B1\"><v>5</v></c>", "number:5"},
        {"<c t=\"s\" r=\"A1\"><v>1</v></c>", "text:uno"},
        {"<c r=\"A1\" t=\"b\"><v>1</v></c>", "bool:true"},
        {"<c r=\"A1\" s=\"1\"><v>46363.5</v></c>", "date:2026-12-07 12:00:00"},
        {"<c s=\"1\" r=\"A1\" t=\"n\"><v>46363.5</v></c>", "date:2026-12-07 12:00:00"},
        {"<c r=\"A1\" s=\"x\"><v>46363.5</v></c>", "number:46363.5"},
        {"<c r=\"A1\" s=\"1\"/>", "empty"},
        {"<c r=\"A1\"><v>1E2</v></c>", "number:100"},
        {"<c r=\"b2\"><v>5</v></c>", "number:5"},
        {"<c r=\"$B$2\"><v>5</v></c>", "number:5"},
    };
    for (const auto& [cell, expected] : shapes) {
        SCOPED_TRACE(cell.toStdString());
        QByteArray row = cell;
        row.replace("A1", "B2");
        const std::shared_ptr<Workbook> book =
            openParts(package("<row r=\"2\">" + row + "<c r=\"C2\"><v>7</v></c></row>", {},
                              {{"xl/sharedStrings.xml", strings}, {"xl/styles.xml", kDateStyles}}));
        EXPECT_EQ(describe(book->Worksheets(1), "B2"), expected);
        EXPECT_EQ(describe(book->Worksheets(1), "C2"), "number:7");
    }

    for (const auto& [cell, fault] : std::vector<std::pair<QByteArray, const char*>>{
             {"<c r=\"B2\"><v>1.2.3</v></c>", "la celda B2 un número no válido"},
             {"<c r=\"2B\"><v>1</v></c>", "la referencia no válida \"2B\""},
             {"<c r=\"B02\"><v>1</v></c>", "la referencia no válida \"B02\""},
             {"<c r=\"XFE2\"><v>1</v></c>", "la referencia no válida \"XFE2\""},
             {"<c r=\"B1048577\"><v>1</v></c>", "la referencia no válida \"B1048577\""},
             {"<c r=\"B2\" t=\"s\"><v>-1</v></c>", "la celda B2 un texto compartido que no existe"},
         }) {
        sheettest::writeZip(path("falla.xlsx"), package("<row r=\"2\">" + cell + "</row>", {},
                                                        {{"xl/sharedStrings.xml", strings}}));
        const QString message = failureOpening(path("falla.xlsx"));
        EXPECT_TRUE(message.contains(QString::fromUtf8(fault))) << message.toStdString();
    }

    // Many chunks: some cells are cut between two, and read whole all the same.
    QByteArray rows;
    for (int r = 1; r <= 30000; ++r)
        rows += QStringLiteral("<row r=\"%1\"><c r=\"A%1\"><v>%2</v></c><c r=\"B%1\" s=\"1\" "
                               "t=\"n\"><v>%3</v></c><c r=\"C%1\" t=\"s\"><v>%4</v></c></row>")
                    .arg(r)
                    .arg(r * 7919 % 100003)
                    .arg(46000 + r % 365)
                    .arg(r % 2)
                    .toLatin1();
    const std::shared_ptr<Workbook> book = openParts(
        package(rows, {}, {{"xl/sharedStrings.xml", strings}, {"xl/styles.xml", kDateStyles}}));
    const Worksheet& ws = book->Worksheets(1);
    ASSERT_EQ(ws.lastRow(), 30000);
    for (int r = 1; r <= 30000; ++r) {
        ASSERT_EQ(ws.value(r, 1), CellValue::fromNumber(r * 7919 % 100003)) << r;
        ASSERT_EQ(ws.value(r, 2).kind, CellValue::Kind::Date) << r;
        ASSERT_EQ(describe(ws.value(r, 3)), r % 2 ? "text:uno" : "text:cero") << r;
    }
}

// Other programs may write rows and cells out of order, or a cell twice (the last one counts);
// every cell is found in its row, and the gaps between rows stay empty.
TEST_F(Xlsx, CellsWrittenOutOfOrderAreFoundInTheirRows)
{
    const std::shared_ptr<Workbook> book =
        openParts(package("<row r=\"7\"><c r=\"C7\"><v>73</v></c><c r=\"A7\"><v>71</v></c></row>"
                          "<row r=\"2\"><c r=\"B2\"><v>22</v></c></row>"
                          "<row r=\"7\"><c r=\"B7\"><v>72</v></c><c r=\"C7\"><v>74</v></c></row>"
                          "<row r=\"4\"><c r=\"XFD4\"><v>44</v></c></row>"));
    const Worksheet& ws = book->Worksheets(1);
    const std::vector<std::pair<const char*, const char*>> expected = {
        {"B2", "number:22"},   {"A2", "empty"},     {"C2", "empty"}, {"A3", "empty"},
        {"XFD4", "number:44"}, {"XFC4", "empty"},   {"A5", "empty"}, {"A7", "number:71"},
        {"B7", "number:72"},   {"C7", "number:74"}, {"D7", "empty"}, {"A8", "empty"},
        {"A1048576", "empty"}};
    for (const auto& [address, value] : expected)
        EXPECT_EQ(describe(ws, address), value) << address;
    EXPECT_EQ(ws.lastRow(), 7);
}

TEST_F(Xlsx, DatesFollowTheWorkbookDateSystem)
{
    const QByteArray cells = "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>0</v></c>"
                             "<c r=\"B1\" s=\"1\"><v>44901</v></c></row>";
    const std::shared_ptr<Workbook> in1904 =
        openParts(package(cells, "<workbookPr date1904=\"1\"/>", {{"xl/styles.xml", kDateStyles}}));
    EXPECT_EQ(describe(in1904->Worksheets(1), "A1"), "date:1904-01-01 00:00:00");
    EXPECT_EQ(describe(in1904->Worksheets(1), "B1"), "date:2026-12-07 00:00:00");

    const std::shared_ptr<Workbook> in1900 =
        openParts(package(cells, "<workbookPr/>", {{"xl/styles.xml", kDateStyles}}));
    EXPECT_EQ(describe(in1900->Worksheets(1), "B1"), "date:2022-12-06 00:00:00");
}

TEST(SerialDates, FollowThe1900SystemWithItsMissingLeapDay)
{
    const std::vector<std::pair<double, const char*>> cases = {
        {1, "1900-01-01 00:00:00"},      {59, "1900-02-28 00:00:00"},
        {60, "1900-03-01 00:00:00"},     {61, "1900-03-01 00:00:00"},
        {0.25, "1899-12-30 06:00:00"},   {46363.999999999, "2026-12-08 00:00:00"},
        {2958465, "9999-12-31 00:00:00"}};
    for (const auto& [serial, expected] : cases) {
        const std::optional<QDateTime> date = serialToDateTime(serial, false);
        ASSERT_TRUE(date) << serial;
        EXPECT_EQ(date->toString("yyyy-MM-dd HH:mm:ss"), expected) << serial;
    }
    EXPECT_FALSE(serialToDateTime(-1, false));
    EXPECT_FALSE(serialToDateTime(2958466, false));
}

TEST(NumberFormats, DatesAreToldFromNumbersByTheirCode)
{
    const std::vector<std::pair<const char*, bool>> cases = {{"dd/mm/yyyy", true},
                                                             {"mmm-yy", true},
                                                             {"h:mm AM/PM", true},
                                                             {"yyyy-mm-dd hh:mm", true},
                                                             {"[$-80A]dddd, d mmmm", true},
                                                             {"[h]:mm", false},
                                                             {"[mm]:ss", false},
                                                             {"#,##0.00", false},
                                                             {"General", false},
                                                             {"0.00 \"días\"", false},
                                                             {"0.0 \\d", false},
                                                             {"[Red]0.00;[Blue]-0.00", false},
                                                             {"_-* #,##0.00 _m_-", false},
                                                             {"@", false}};
    for (const auto& [code, date] : cases)
        EXPECT_EQ(isDateFormatCode(QString::fromUtf8(code)), date) << code;
    for (int id : {14, 17, 22, 45, 47})
        EXPECT_TRUE(isBuiltInDateFormat(id)) << id;
    for (int id : {0, 2, 13, 23, 44, 49})
        EXPECT_FALSE(isBuiltInDateFormat(id)) << id;
}

TEST_F(Xlsx, ASecondWorksheetIsNeverRead)
{
    const QByteArray workbook =
        "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
        "<sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"B\" sheetId=\"2\" "
        "r:id=\"rId4\"/></sheets></workbook>";
    const QByteArray rels = sheettest::relationships(
        sheettest::relationship("rId1", "worksheet", "worksheets/sheet1.xml") +
        sheettest::relationship("rId4", "worksheet", "worksheets/sheet2.xml"));
    const std::shared_ptr<Workbook> book =
        openParts(package("<row r=\"2\"><c r=\"B2\"><v>7</v></c></row>", {},
                          {{"xl/workbook.xml", workbook},
                           {"xl/_rels/workbook.xml.rels", rels},
                           {"xl/worksheets/sheet2.xml", "<worksheet><sheetData><row"}}));
    EXPECT_EQ(describe(book->Worksheets(1), "B2"), "number:7");
}

TEST_F(Xlsx, DamagedOrForeignFilesAreFailuresNamingTheFile)
{
    const QString good = path("bueno.xlsx");
    sheettest::writeZip(good, package("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"));
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();

    const std::vector<std::tuple<const char*, QByteArray, const char*>> cases = {
        {"cortado.xlsx", whole.left(whole.size() / 2), "dañado"},
        {"imagen.xlsx", QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16), "no es un archivo ZIP"},
        {"vacio.xlsx", QByteArray(), "vacío"},
        {"cifrado.xlsx", QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(504, '\0'),
         "está protegido con contraseña o no es un libro .xlsx"}};
    for (const auto& [name, bytes, expected] : cases) {
        sheettest::writeFile(path(name), bytes);
        EXPECT_TRUE(failureOpening(path(name)).contains(QString::fromUtf8(expected))) << name;
    }

    const std::vector<std::pair<const char*, sheettest::Parts>> packages = {
        {"sin_libro.xlsx", {{"xl/worksheets/sheet1.xml", sheettest::worksheetXml("")}}},
        {"sin_hoja.xlsx", package("", {}, {{"xl/worksheets/sheet1.xml", {}}})},
        {"xml_roto.xlsx", package("<row><c><v>1</v></row>")},
        {"dtd.xlsx",
         package("", {},
                 {{"xl/worksheets/sheet1.xml",
                   "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\">"
                   "<!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]><worksheet><sheetData><row><c "
                   "t=\"inlineStr\"><is><t>&b;</t></is></c></row></sheetData></worksheet>"}})},
        {"texto_inexistente.xlsx", package("<row><c t=\"s\"><v>3</v></c></row>")},
        {"renglon_malo.xlsx", package("<row r=\"0\"><c><v>1</v></c></row>")}};
    for (const auto& [name, parts] : packages) {
        sheettest::writeZip(path(name), parts);
        EXPECT_TRUE(failureOpening(path(name)).contains("dañado")) << name;
    }
}

// The worksheet is unpacked on a thread of its own, megabytes ahead of the reader.
TEST_F(Xlsx, ABigWorksheetDamagedEarlyOrLateIsAFailure)
{
    QByteArray rows;
    for (int r = 1; r <= 60000; ++r)
        rows += QStringLiteral("<row r=\"%1\"><c r=\"A%1\"><v>%2</v></c></row>")
                    .arg(r)
                    .arg(r * 7919 % 100003)
                    .toLatin1();
    // Broken XML at the start: the reader stops while the unpacking is far ahead.
    sheettest::writeZip(path("roto_al_principio.xlsx"), package("<row><c></row>" + rows));
    EXPECT_TRUE(failureOpening(path("roto_al_principio.xlsx")).contains("dañado"));

    // Packed data damaged in the middle: the unpacking fails after handing over good chunks.
    sheettest::writeZip(path("bien.xlsx"), package(rows));
    QFile file(path("bien.xlsx"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    ASSERT_GT(bytes.size(), 100000);
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i)
        bytes[i] = char(~bytes[i]);
    sheettest::writeFile(path("danado_en_medio.xlsx"), bytes);
    EXPECT_TRUE(failureOpening(path("danado_en_medio.xlsx")).contains("dañado"));
}

// A part unpacks without a fault, but not to the sum of control the archive states for it (in
// the part's own header and in the archive's index). The sum covers the whole part, so it is
// checked even where what is read of it ends long before the part does.
TEST_F(Xlsx, APartThatDoesNotMatchItsSumOfControlIsDamaged)
{
    const QByteArray one = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    QByteArray many;
    for (int r = 1; r <= 40000; ++r)
        many += "<row r=\"" + QByteArray::number(r) + "\"><c r=\"A" + QByteArray::number(r) +
                "\"><v>" + QByteArray::number(r * 31 % 977) + "</v></c></row>";
    const QByteArray sheet = "xl/worksheets/sheet1.xml";
    for (const auto& [name, rows, part] :
         {std::tuple{"suma.xlsx", one, sheet}, std::tuple{"suma_grande.xlsx", many, sheet},
          std::tuple{"suma_libro.xlsx", one, QByteArray("xl/workbook.xml")}}) {
        sheettest::writeZip(path("bien.xlsx"), package(rows));
        QFile file(path("bien.xlsx"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        int changed = 0;
        for (const auto& [signature, nameAt, crcAt] :
             {std::tuple{QByteArray("PK\x03\x04"), 30, 14},
              std::tuple{QByteArray("PK\x01\x02"), 46, 16}}) {
            for (qsizetype at = bytes.indexOf(signature); at >= 0;
                 at = bytes.indexOf(signature, at + 1)) {
                if (bytes.mid(at + nameAt, part.size()) == part) {
                    bytes[at + crcAt] = char(bytes[at + crcAt] ^ 0x55);
                    ++changed;
                }
            }
        }
        ASSERT_EQ(changed, 2);
        sheettest::writeFile(path(name), bytes);
        const QString message = failureOpening(path(name));
        EXPECT_TRUE(message.contains("dañado")) << name << ": " << message.toStdString();
        EXPECT_TRUE(message.contains("suma de control")) << name << ": " << message.toStdString();
    }
}

// The shared strings are read beside the worksheet: of two faults, the first in reading order
// is the one reported, and a cell reads the string it names.
TEST_F(Xlsx, TheSharedStringsReadBesideTheWorksheetKeepTheOrderOfFaults)
{
    QByteArray many = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    for (int i = 0; i < 50000; ++i)
        many += "<si><t>texto " + QByteArray::number(i) + "</t></si>";
    const QByteArray strings = many + "</sst>";
    const QByteArray brokenStrings = many + "<si><t>roto</si></sst>";
    const QByteArray missingThenBroken =
        "<row r=\"2\"><c r=\"B2\" t=\"s\"><v>49999</v></c><c r=\"C2\" t=\"s\"><v>50000</v></c>"
        "</row><row r=\"3\"><c r=\"A3\"><v>1</row>";
    const QByteArray brokenThenMissing = "<row r=\"2\"><c r=\"B2\"><v>1</row><row r=\"3\"><c "
                                         "r=\"A3\" t=\"s\"><v>50000</v></c></row>";

    const std::vector<std::tuple<const char*, sheettest::Parts, const char*>> cases = {
        {"textos_rotos.xlsx",
         package(missingThenBroken, {}, {{"xl/sharedStrings.xml", brokenStrings}}),
         "xl/sharedStrings.xml"},
        {"texto_inexistente_antes.xlsx",
         package(missingThenBroken, {}, {{"xl/sharedStrings.xml", strings}}),
         "en la celda C2 un texto compartido que no existe"},
        {"hoja_rota_antes.xlsx",
         package(brokenThenMissing, {}, {{"xl/sharedStrings.xml", strings}}),
         "xl/worksheets/sheet1.xml"}};
    for (const auto& [name, parts, expected] : cases) {
        sheettest::writeZip(path(name), parts);
        const QString message = failureOpening(path(name));
        EXPECT_TRUE(message.contains(QString::fromUtf8(expected)))
            << name << ": " << message.toStdString();
        EXPECT_FALSE(std::string_view(name) == "hoja_rota_antes.xlsx" &&
                     message.contains(QStringLiteral("texto compartido")))
            << message.toStdString();
    }

    const std::shared_ptr<Workbook> book = openParts(
        package("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>49999</v></c><c r=\"B1\" t=\"s\"><v>0</v>"
                "</c></row>",
                {}, {{"xl/sharedStrings.xml", strings}}));
    EXPECT_EQ(describe(book->Worksheets(1), "A1"), "text:texto 49999");
    EXPECT_EQ(describe(book->Worksheets(1), "B1"), "text:texto 0");
}

TEST(XlsxLimits, AWorkbookThatUnpacksBeyondTheBoundIsRefused)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("bomba.xlsx");
    const QByteArray rows = QByteArray("<row/>").repeated(200000); // 1.2 MB, packs to a few KB
    sheettest::writeZip(file, package(rows));
    QFile in(file);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();

    XlsxLimits bySize;
    bySize.partBytes = 1 << 20;
    XlsxLimits byRatio;
    byRatio.ratioAfter = 256 << 10;
    byRatio.maxRatio = 50;
    for (const XlsxLimits& limits : {bySize, byRatio}) {
        try {
            readXlsx(bytes, file, limits);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.message().contains("demasiado al descomprimirlo"))
                << failure.message().toStdString();
        }
    }
    EXPECT_EQ(readXlsx(bytes, file)->lastRow(), 0);
}

TEST_F(Xlsx, TheApplicationOpensOnlyWorkbooksAndClosesThem)
{
    EXPECT_EQ(failureOpening(path("ventas.ods")),
              "El archivo \"" + path("ventas.ods") +
                  "\" no es un libro de Excel ni un archivo CSV.");
    EXPECT_TRUE(failureOpening(path("no_existe.xlsx")).startsWith("No existe el archivo"));

    const QString file = path("VENTAS.XLSM");
    sheettest::writeZip(file, package("<row r=\"2\"><c r=\"B2\"><v>7</v></c></row>"));
    const std::shared_ptr<Workbook> first = open(file);
    EXPECT_EQ(describe(first->Worksheets(1), "B2"), "number:7");
    EXPECT_THROW(first->Worksheets(2), Failure);
    EXPECT_THROW(first->Worksheets(1).Range("B2:C3"), Failure);
    first->Close();
    EXPECT_THROW(first->Worksheets(1), Failure);

    const std::shared_ptr<Workbook> second = open(file);
    excel_.Quit();
    EXPECT_THROW(second->Worksheets(1), Failure);
    EXPECT_THROW(open(file), Failure);
}

} // namespace

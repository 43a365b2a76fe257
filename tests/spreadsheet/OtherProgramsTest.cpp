#include "spreadsheet/Application.h"
#include "spreadsheet/Conversions.h"

#include <gtest/gtest.h>

namespace {

using Kind = spreadsheet::CellValue::Kind;

struct Expected {
    const char* address;
    Kind kind;
    const char* text; // as the cell shows
};

// libreoffice.xlsx was saved by LibreOffice Calc from libreoffice.fods (beside it): a sales
// sheet with a date style, a boolean style, a formula, shared strings with blanks and accents,
// and a second sheet that must not be read.
TEST(OtherPrograms, LibreOfficeWorkbookReadsAsCalcShowsIt)
{
    spreadsheet::Application excel(spreadsheet::Regional{});
    auto book = excel.Workbooks().Open(QStringLiteral(GT_SPREADSHEET_DATA "/libreoffice.xlsx"));
    const spreadsheet::Worksheet& sheet = book->Worksheets(1);
    const Expected cells[] = {
        {"A1", Kind::Text, "Folio"},       {"B2", Kind::Text, "V"},
        {"C2", Kind::Empty, ""},           {"D2", Kind::Date, "07/12/2026"},
        {"E2", Kind::Number, "131072.01"}, {"F2", Kind::Boolean, "VERDADERO"},
        {"G2", Kind::Number, "262144.02"}, {"H2", Kind::Text, "  café ñandú  "},
        {"B3", Kind::Number, "0"},         {"D3", Kind::Date, "28/02/2026"},
        {"E3", Kind::Number, "0.1"},       {"A4", Kind::Empty, ""},
    };
    for (const Expected& cell : cells) {
        SCOPED_TRACE(cell.address);
        const QString address = QString::fromLatin1(cell.address);
        const spreadsheet::CellValue value = sheet.Range(address).Value();
        EXPECT_EQ(value.kind, cell.kind);
        EXPECT_EQ(spreadsheet::CellText(value, excel.regional(), address),
                  QString::fromUtf8(cell.text));
    }
}

} // namespace

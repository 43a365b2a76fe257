#include "SheetFiles.h"
#include "spreadsheet/CellAddress.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/Recognizer.h"

#include <gtest/gtest.h>

using namespace spreadsheet;
using sheettest::describe;

namespace {

const Regional kDayFirst{true, u'.', u','};
const Regional kMonthFirst{false, u'.', u','};
const Regional kDecimalComma{true, u',', u'.'};

struct NamedCase {
    const char* name;
    const char* input;
    const char* expected;
    Regional regional = kDayFirst;
};

std::string caseName(const testing::TestParamInfo<NamedCase>& info)
{
    return info.param.name;
}

// What a spreadsheet makes of one CSV field.
class Recognition : public testing::TestWithParam<NamedCase> {};

TEST_P(Recognition, RecognisesAsASpreadsheetWould)
{
    const NamedCase& c = GetParam();
    EXPECT_EQ(describe(recognise(QString::fromUtf8(c.input), c.regional)),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cells, Recognition,
    testing::Values(
        NamedCase{"empty", "", "empty"}, NamedCase{"only_spaces", "   ", "text:   "},
        NamedCase{"integer", "1234", "number:1234"},
        NamedCase{"decimal", "1234.5", "number:1234.5"}, NamedCase{"negative", "-3", "number:-3"},
        NamedCase{"plus_sign", "+7", "number:7"}, NamedCase{"grouped", "1,234.50", "number:1234.5"},
        NamedCase{"grouped_millions", "12,345,678", "number:12345678"},
        NamedCase{"currency", "$1,234.50", "number:1234.5"},
        NamedCase{"currency_negative", "-$5", "number:-5"},
        NamedCase{"euro_after", "12.5 €", "number:12.5"},
        NamedCase{"exponent", "1e3", "number:1000"}, NamedCase{"parentheses", "(12)", "number:-12"},
        NamedCase{"percent", "15%", "number:0.14999999999999999"},
        NamedCase{"spaces_around_number", "  42 ", "number:42"},
        NamedCase{"leading_point", ".5", "number:0.5"}, NamedCase{"two_zeros", "00", "number:0"},
        NamedCase{"bad_grouping", "1,23", "text:1,23"},
        NamedCase{"long_first_group", "1234,567", "text:1234,567"},
        NamedCase{"two_points", "1.2.3", "text:1.2.3"},
        NamedCase{"exponent_without_digits", "12e", "text:12e"},
        NamedCase{"sign_alone", "-", "text:-"}, NamedCase{"overflow", "1e400", "text:1e400"},
        NamedCase{"decimal_comma_regional", "1.234,5", "number:1234.5", kDecimalComma},
        NamedCase{"decimal_comma_plain", "12,50", "number:12.5", kDecimalComma},
        NamedCase{"decimal_comma_not_regional", "12,50", "text:12,50"},
        NamedCase{"day_first", "07/12/2026", "date:2026-12-07 00:00:00"},
        NamedCase{"month_first", "07/12/2026", "date:2026-07-12 00:00:00", kMonthFirst},
        NamedCase{"short_year", "7/12/26", "date:2026-12-07 00:00:00"},
        NamedCase{"short_year_29", "1/1/29", "date:2029-01-01 00:00:00"},
        NamedCase{"short_year_30", "1/1/30", "date:1930-01-01 00:00:00"},
        NamedCase{"dashes", "7-12-2026", "date:2026-12-07 00:00:00"},
        NamedCase{"iso", "2026-12-07", "date:2026-12-07 00:00:00"},
        NamedCase{"iso_month_first_regional", "2026-12-07", "date:2026-12-07 00:00:00",
                  kMonthFirst},
        NamedCase{"with_minutes", "07/12/2026 09:05", "date:2026-12-07 09:05:00"},
        NamedCase{"with_seconds", "2026-12-07 09:05:30", "date:2026-12-07 09:05:30"},
        NamedCase{"with_pm", "07/12/2026 9:05 p.m.", "date:2026-12-07 21:05:00"},
        NamedCase{"dotted_where_comma_decimal", "7.12.2026", "date:2026-12-07 00:00:00",
                  kDecimalComma},
        NamedCase{"impossible_date", "31/02/2026", "text:31/02/2026"},
        NamedCase{"month_13", "07/13/2026", "text:07/13/2026"},
        NamedCase{"impossible_month_first", "13/07/2026", "text:13/07/2026", kMonthFirst},
        NamedCase{"not_leap_year", "29/02/2027", "text:29/02/2027"},
        NamedCase{"leap_year", "29/02/2028", "date:2028-02-29 00:00:00"},
        NamedCase{"before_1900", "01/01/1850", "text:01/01/1850"},
        NamedCase{"bad_hour", "07/12/2026 25:00", "text:07/12/2026 25:00"},
        NamedCase{"mixed_separators", "07/12-2026", "text:07/12-2026"},
        NamedCase{"three_digit_year", "7/12/202", "text:7/12/202"},
        NamedCase{"true_upper", "TRUE", "bool:true"},
        NamedCase{"verdadero_lower", "verdadero", "bool:true"},
        NamedCase{"falso_mixed", "Falso", "bool:false"}, NamedCase{"false", "false", "bool:false"},
        NamedCase{"text", "Café con leche", "text:Café con leche"},
        NamedCase{"text_not_trimmed", " hola ", "text: hola "},
        NamedCase{"formula_text_keeps_zeros", "=\"00123\"", "text:00123"},
        NamedCase{"formula_not_evaluated", "=1+2", "text:=1+2"}),
    caseName);

struct TextCase {
    const char* name;
    CellValue value;
    Regional regional;
    const char* expected;
};

class CellTextCase : public testing::TestWithParam<TextCase> {};

TEST_P(CellTextCase, ShowsTheValueAsASpreadsheetDoes)
{
    const TextCase& c = GetParam();
    EXPECT_EQ(CellText(c.value, c.regional, "B2"), QString::fromUtf8(c.expected));
}

const QDateTime kDecember7(QDate(2026, 12, 7), QTime(9, 5));

INSTANTIATE_TEST_SUITE_P(
    Values, CellTextCase,
    testing::Values(
        TextCase{"empty", CellValue::empty(), kDayFirst, ""},
        TextCase{"zero", CellValue::fromNumber(0), kDayFirst, "0"},
        TextCase{"negative_zero", CellValue::fromNumber(-0.0), kDayFirst, "0"},
        TextCase{"integer", CellValue::fromNumber(1234), kDayFirst, "1234"},
        TextCase{"decimal", CellValue::fromNumber(1234.5), kDayFirst, "1234.5"},
        TextCase{"decimal_comma", CellValue::fromNumber(1234.5), kDecimalComma, "1234,5"},
        TextCase{"negative", CellValue::fromNumber(-0.25), kDayFirst, "-0.25"},
        TextCase{"fifteen_digits", CellValue::fromNumber(0.1 + 0.2), kDayFirst, "0.3"},
        TextCase{"large_integer", CellValue::fromNumber(123456789012345), kDayFirst,
                 "123456789012345"},
        TextCase{"huge", CellValue::fromNumber(1.5e20), kDayFirst, "1.5E+20"},
        TextCase{"small", CellValue::fromNumber(0.00001), kDayFirst, "0.00001"},
        TextCase{"tiny", CellValue::fromNumber(1.25e-12), kDayFirst, "1.25E-12"},
        TextCase{"date_day_first", CellValue::fromDate(kDecember7), kDayFirst, "07/12/2026"},
        TextCase{"date_month_first", CellValue::fromDate(kDecember7), kMonthFirst, "12/07/2026"},
        TextCase{"true", CellValue::fromBoolean(true), kDayFirst, "VERDADERO"},
        TextCase{"false", CellValue::fromBoolean(false), kDayFirst, "FALSO"},
        TextCase{"text_unchanged", CellValue::fromText(" a "), kDayFirst, " a "}),
    [](const testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST(CellText, AnErrorCellIsAFailureNamingTheCell)
{
    try {
        CellText(CellValue::error("#DIV/0!"), kDayFirst, "D7");
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.message(), "La celda D7 contiene un error (#DIV/0!).");
    }
}

class TextToDateCase : public testing::TestWithParam<NamedCase> {};

TEST_P(TextToDateCase, ReadsTheDateOrFailsQuotingTheText)
{
    const NamedCase& c = GetParam();
    const QString input = QString::fromUtf8(c.input);
    const QString expected = QString::fromUtf8(c.expected);
    if (expected.startsWith(u"fail")) {
        try {
            TextToDate(input, c.regional);
            FAIL() << "no failure";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.message(), "\"" + input + "\" no es una fecha válida.");
        }
    } else {
        EXPECT_EQ(TextToDate(input, c.regional).toString(Qt::ISODate), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextToDateCase,
    testing::Values(NamedCase{"day_first", "07/12/2026", "2026-12-07"},
                    NamedCase{"month_first", "07/12/2026", "2026-07-12", kMonthFirst},
                    NamedCase{"time_dropped", "07/12/2026 23:59:59", "2026-12-07"},
                    NamedCase{"iso", "2026-12-07", "2026-12-07"},
                    NamedCase{"blanks_around", " 7/12/26\t", "2026-12-07"},
                    NamedCase{"impossible", "31/02/2026", "fail"},
                    NamedCase{"number", "46363", "fail"}, NamedCase{"empty", "", "fail"},
                    NamedCase{"words", "mañana", "fail"}),
    caseName);

TEST(TextToDate, TakesBackTheTextOfADateCell)
{
    for (const Regional& regional : {kDayFirst, kMonthFirst}) {
        for (const QDate& date : {QDate(2026, 12, 7), QDate(1900, 1, 1), QDate(2028, 2, 29)}) {
            const QString text =
                CellText(CellValue::fromDate(QDateTime(date, QTime(18, 30))), regional, "D2");
            EXPECT_EQ(TextToDate(text, regional), date) << text.toStdString();
        }
    }
}

TEST(TrimBlanks, RemovesOnlyOuterSpacesAndTabs)
{
    EXPECT_EQ(TrimBlanks(" \t café  con leche\t "), "café  con leche");
    EXPECT_EQ(TrimBlanks("   "), "");
    EXPECT_EQ(TrimBlanks("\nx\n"), "\nx\n");
}

struct AddressCase {
    const char* text;
    int row; // 0: malformed
    int column;
};

class Address : public testing::TestWithParam<AddressCase> {};

TEST_P(Address, ParsesSpreadsheetAddresses)
{
    const AddressCase& c = GetParam();
    const std::optional<CellAddress> parsed = parseCellAddress(QString::fromLatin1(c.text));
    if (c.row == 0) {
        EXPECT_FALSE(parsed) << c.text;
        return;
    }
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(parsed->row, c.row);
    EXPECT_EQ(parsed->column, c.column);
    EXPECT_EQ(addressText(c.row, c.column), QString::fromLatin1(c.text).remove(u'$').toUpper());
}

INSTANTIATE_TEST_SUITE_P(Addresses, Address,
                         testing::Values(AddressCase{"B2", 2, 2},
                                         AddressCase{"H1048576", 1048576, 8},
                                         AddressCase{"AA10", 10, 27}, AddressCase{"XFD1", 1, 16384},
                                         AddressCase{"$B$2", 2, 2}, AddressCase{"b2", 2, 2},
                                         AddressCase{"", 0, 0}, AddressCase{"B", 0, 0},
                                         AddressCase{"2", 0, 0}, AddressCase{"B0", 0, 0},
                                         AddressCase{"B02", 0, 0}, AddressCase{"XFE1", 0, 0},
                                         AddressCase{"A1048577", 0, 0}, AddressCase{"AAAA1", 0, 0},
                                         AddressCase{"B2:C3", 0, 0}, AddressCase{" B2", 0, 0}));

} // namespace

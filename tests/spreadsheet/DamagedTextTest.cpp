#include "spreadsheet/CsvReader.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/XmlScanner.h"

#include <gtest/gtest.h>

using namespace spreadsheet;

namespace {

const Regional kRegional{true, u'.', u','};

// The failure's message, or "" when the text was read.
QString csvFailure(const QByteArray& bytes)
{
    try {
        readCsv(bytes, "ventas.csv", kRegional);
        return {};
    } catch (const Failure& failure) {
        return failure.message();
    }
}

TEST(CellLimit, ACsvCellHoldsWhatASpreadsheetCellHoldsCountedInCharacters)
{
    const QByteArray e = "\xC3\xA9";            // two bytes, one character
    const QByteArray clef = "\xF0\x9D\x84\x9E"; // four bytes, two UTF-16 units
    const std::vector<std::pair<const char*, QByteArray>> fitting = {
        {"ascii", QByteArray(32767, 'x')},
        {"two_byte_characters", e.repeated(32767)},
        {"windows_1252", QByteArray(32767, '\xE9')},
        {"quoted_with_doubled_quotes", '"' + QByteArray(32766, 'x') + "\"\"\""},
    };
    for (const auto& [name, cell] : fitting)
        EXPECT_EQ(csvFailure("a,b\r\n1," + cell + "\r\n"), QString()) << name;

    const std::vector<std::pair<const char*, QByteArray>> tooLong = {
        {"ascii", QByteArray(32768, 'x')},
        {"two_byte_characters", e.repeated(32768)},
        {"beyond_the_basic_plane", clef.repeated(16384)},
    };
    for (const auto& [name, cell] : tooLong) {
        const QString message = csvFailure("a,b\r\n1,2\r\n,x," + cell + "\r\n");
        EXPECT_TRUE(message.contains(QStringLiteral("\"ventas.csv\""))) << name;
        EXPECT_TRUE(message.contains(QStringLiteral("celda C3 (fila 3)")))
            << name << ": " << message.toStdString();
    }
}

// A UTF-8 file with a damaged byte among its accented letters is refused at the byte's line:
// read as Windows-1252, every accented letter of it would be garbled. A Windows-1252 file, whose
// letters are single bytes, is still read as one, even with a pair that happens to be UTF-8.
TEST(DamagedCsvText, AUtf8FileWithAByteThatIsNotUtf8IsRefusedAtItsLine)
{
    const QByteArray utf8Lines = QByteArray("1,Caf\xC3\xA9,Jam\xC3\xB3n\r\n").repeated(4);
    const QString message = csvFailure("a,b\r\n" + utf8Lines + "2,pl\xE1tano\r\n" + utf8Lines);
    EXPECT_TRUE(message.contains(QStringLiteral("\"ventas.csv\" está en UTF-8")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("línea 6"))) << message.toStdString();

    EXPECT_EQ(csvFailure("a,b\r\n1,Caf\xE9\r\n2,A\xD1O \xC3\xA9xito\r\n3,ni\xF1o\r\n"), QString());
    // Marked as UTF-8, one such byte is enough; unmarked, as many UTF-8 letters as such bytes.
    EXPECT_TRUE(csvFailure("\xEF\xBB\xBF"
                           "a,b\r\n1,NI\xD1O\r\n")
                    .contains(QStringLiteral("línea 2")));
    EXPECT_TRUE(csvFailure("a,b\r\n1,JALAPE\xC3\x91O\r\n2,NI\xD1O\r\n")
                    .contains(QStringLiteral("línea 3")));
}

TEST(DamagedXmlText, TextThatIsNotUtf8OrHoldsControlCharactersIsRefused)
{
    const std::vector<std::pair<const char*, QByteArray>> texts = {
        {"latin1_byte", "caf\xE9"},       {"cut_sequence", "a\xC3"},
        {"surrogate", "\xED\xA0\x80"},    {"nul", QByteArray("a\0b", 3)},
        {"escape_character", "a\x1B[2J"}, {"control_by_reference", "a&#1;b"},
    };
    for (const auto& [name, text] : texts) {
        const QByteArray xml = "<root><t>" + text + "</t></root>";
        bool given = false;
        XmlScanner scanner(
            [&] {
                const QByteArray all = given ? QByteArray() : xml;
                given = true;
                return all;
            },
            "xl/sharedStrings.xml", "dañado: ");
        scanner.root("root");
        ASSERT_TRUE(scanner.nextChild()) << name;
        std::string out;
        try {
            scanner.readText(out);
            ADD_FAILURE() << name << " was read as " << out;
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.message().contains(QStringLiteral("xl/sharedStrings.xml"))) << name;
        }
    }
}

} // namespace

#include "spreadsheet/XmlScanner.h"

#include "SheetFiles.h"
#include "spreadsheet/Failure.h"

#include <gtest/gtest.h>

using namespace spreadsheet;

namespace {

// Reads the test document through the scanner, handing it over `chunk` bytes at a time.
QString walk(const QByteArray& xml, qsizetype chunk)
{
    qsizetype position = 0;
    XmlScanner scanner(
        [&] {
            const QByteArray piece = xml.mid(position, chunk);
            position += piece.size();
            return piece;
        },
        "xl/prueba.xml", "dañado: ");
    QStringList seen;
    scanner.root("root");
    while (scanner.nextChild()) {
        const std::string_view name = scanner.name();
        QString entry = QString::fromUtf8(name.data(), qsizetype(name.size()));
        if (name == "item") {
            entry +=
                " a=" + QString::fromStdString(std::string(scanner.attribute("a").value_or("-")));
            entry += " id=" + QString::fromStdString(
                                  std::string(scanner.prefixedAttribute("id").value_or("-")));
            entry +=
                " b=" + QString::fromStdString(std::string(scanner.attribute("b").value_or("-")));
            scanner.skip();
        } else if (name == "t") {
            std::string text;
            scanner.readText(text);
            entry += "=" + QString::fromStdString(text);
        } else {
            scanner.skip();
        }
        seen.append(entry);
    }
    if (scanner.nextChild()) // past the root, to the end of the part
        seen.append("second root");
    return seen.join(u'|');
}

const QByteArray kDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
    "<!-- a comment with <tags> -->"
    "<x:root xmlns:x=\"urn:x\" xmlns:r=\"urn:r\">\r\n"
    "  <item a='1 &amp; 2' r:id=\"rId7\"/>\n"
    "  <x:t>uno &lt;dos&gt; &#233;&#x20AC;<![CDATA[<raw & text>]]>\r\nfin\rX</x:t>\n"
    "  <skip><deep><t>no</t></deep><?pi data?></skip>\n"
    "  <t xml:space=\"preserve\">  Caf\xC3\xA9 </t>"
    "</x:root>";
const char* kWalked = "item a=1 & 2 id=rId7 b=-|t=uno <dos> é€<raw & text>\nfin\nX|skip|t=  Café ";

TEST(XmlScanner, ReadsTheSameWhereverTheChunksEnd)
{
    for (qsizetype chunk : {1, 2, 3, 5, 7, 16, 64, 100000}) {
        EXPECT_EQ(walk(kDocument, chunk), QString::fromUtf8(kWalked)) << chunk;
        // A CR that ends the part is not kept waiting for its LF.
        EXPECT_EQ(walk(kDocument + "\r", chunk), QString::fromUtf8(kWalked)) << chunk;
    }
}

TEST(XmlScanner, ReadsUtf16AndWindows1252Parts)
{
    const QString text = QString::fromUtf8(kDocument).replace("UTF-8", "UTF-16");
    const QByteArray utf16 =
        QByteArray("\xFF\xFE", 2) +
        QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    EXPECT_EQ(walk(utf16, 3), QString::fromUtf8(kWalked));

    QByteArray windows1252 = kDocument;
    windows1252.replace("UTF-8", "windows-1252").replace("Caf\xC3\xA9", "Caf\xE9");
    EXPECT_EQ(walk(windows1252, 5), QString::fromUtf8(kWalked));
}

TEST(XmlScanner, MalformedPartsAreFailuresNamingThePart)
{
    const std::vector<std::pair<QByteArray, const char*>> cases = {
        {"<root><t>a</root>", "no cierra"},
        {"<root><t>a</t>", "incompleta"},
        {"<root><t>&nbsp;</t></root>", "&nbsp;"},
        {"<root><t>a & b</t></root>", "no es XML válido"},
        {"<root><t>&#0;</t></root>", "referencia de carácter"},
        {"<root><item a=1/></root>", "no es XML válido"},
        {"<root><item a=\"1\"b=\"2\"/></root>", "no es XML válido"},
        {"<!DOCTYPE root [<!ENTITY e \"x\">]><root>&e;</root>", "DTD"},
        {"<?xml version=\"1.0\" encoding=\"EBCDIC-US\"?><root/>", "codificación ebcdic-us"},
        {"<other/>", "no es del tipo esperado"},
        {"", "no es del tipo esperado"}};
    for (const auto& [xml, expected] : cases) {
        try {
            walk(xml, 4);
            ADD_FAILURE() << "no failure for " << xml.toStdString();
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.message().startsWith("dañado: la parte xl/prueba.xml "));
            EXPECT_TRUE(failure.message().contains(QString::fromUtf8(expected)))
                << failure.message().toStdString();
        }
    }
}

} // namespace

#include "FuzzCells.h"
#include "spreadsheet/XlsxReader.h"
#include "spreadsheet/XmlScanner.h"

#include <QXmlStreamReader>
#include <cstdint>
#include <zip.h>

// The input is the XML of the parts, split by the byte 0x01: worksheet, shared strings, styles,
// workbook. They are packed into a workbook and read; the worksheet is also read by Qt's own XML
// reader, and what that finds well-formed the scanner must read too, with the same elements.

namespace {

QStringList namesByQt(const QByteArray& xml, bool& wellFormed)
{
    QStringList names;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
            break;
        if (token == QXmlStreamReader::StartElement)
            names.append(reader.name().toString());
    }
    wellFormed = reader.atEnd() && !reader.hasError();
    return names;
}

void namesByScanner(spreadsheet::XmlScanner& scanner, QStringList& names)
{
    while (scanner.nextChild()) {
        names.append(QString::fromUtf8(scanner.name().data(), qsizetype(scanner.name().size())));
        namesByScanner(scanner, names);
    }
}

void compareWithQt(const QByteArray& xml)
{
    bool wellFormed = false;
    const QStringList expected = namesByQt(xml, wellFormed);
    if (!wellFormed || xml.contains("encoding"))
        return;
    bool given = false;
    spreadsheet::XmlScanner scanner(
        [&] {
            const QByteArray all = given ? QByteArray() : xml;
            given = true;
            return all;
        },
        "fuzz.xml", QString());
    QStringList names;
    try {
        namesByScanner(scanner, names);
    } catch (const spreadsheet::Failure&) {
        std::abort(); // Qt read it, so must the scanner
    }
    if (names != expected)
        std::abort();
}

QByteArray packed(const QList<QByteArray>& parts)
{
    const char* defaults[] = {
        "<worksheet><sheetData/></worksheet>", "<sst/>", "<styleSheet/>",
        "<workbook xmlns:r=\"r\"><sheets><sheet name=\"a\" r:id=\"rId1\"/></sheets></workbook>"};
    const char* names[] = {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/styles.xml",
                           "xl/workbook.xml"};
    const QByteArray rels =
        "<Relationships><Relationship Id=\"rId1\" Type=\"x/worksheet\" "
        "Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"x/sharedStrings\" "
        "Target=\"sharedStrings.xml\"/><Relationship Id=\"rId3\" Type=\"x/styles\" "
        "Target=\"styles.xml\"/></Relationships>";
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* zip = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_keep(buffer);
    QList<QByteArray> kept; // libzip reads the data only at zip_close
    auto add = [&](const char* name, const QByteArray& data) {
        kept.append(data);
        zip_source_t* source =
            zip_source_buffer(zip, kept.last().constData(), zip_uint64_t(data.size()), 0);
        const zip_int64_t index = zip_file_add(zip, name, source, ZIP_FL_OVERWRITE);
        zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
    };
    for (int i = 0; i < 4; ++i)
        add(names[i], i < parts.size() ? parts[i] : QByteArray(defaults[i]));
    add("xl/_rels/workbook.xml.rels", rels);
    zip_close(zip);
    QByteArray bytes;
    zip_stat_t stat;
    if (zip_source_stat(buffer, &stat) == 0 && zip_source_open(buffer) == 0) {
        bytes.resize(qsizetype(stat.size));
        zip_source_read(buffer, bytes.data(), stat.size);
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> parts = input.split('\x01');
    compareWithQt(parts.value(0));
    try {
        readCells(*spreadsheet::readXlsx(packed(parts), "fuzz.xlsx"), spreadsheet::Regional());
    } catch (const spreadsheet::Failure&) {
    }
    return 0;
}

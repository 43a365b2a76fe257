#pragma once

#include "spreadsheet/Application.h"
#include "spreadsheet/CellValue.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <ostream>
#include <utility>
#include <vector>
#include <zip.h>

namespace sheettest {

using Parts = std::vector<std::pair<QString, QByteArray>>;

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// A ZIP package with exactly these parts, written with libzip.
inline void writeZip(const QString& path, const Parts& parts)
{
    int error = 0;
    zip_t* zip = zip_open(path.toUtf8().constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        throw std::runtime_error("zip_open failed");
    for (const auto& [name, data] : parts) {
        zip_source_t* source =
            zip_source_buffer(zip, data.constData(), zip_uint64_t(data.size()), 0);
        if (!source || zip_file_add(zip, name.toUtf8().constData(), source, ZIP_FL_OVERWRITE) < 0)
            throw std::runtime_error("zip_file_add failed");
    }
    if (zip_close(zip) != 0)
        throw std::runtime_error("zip_close failed");
}

inline QByteArray worksheetXml(const QByteArray& sheetData)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<sheetData>" +
           sheetData + "</sheetData></worksheet>";
}

inline QByteArray relationship(const QByteArray& id, const QByteArray& type,
                               const QByteArray& target)
{
    return "<Relationship Id=\"" + id +
           "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/" + type +
           "\" Target=\"" + target + "\"/>";
}

inline QByteArray relationships(const QByteArray& inner)
{
    return "<Relationships "
           "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
           inner + "</Relationships>";
}

// A one-sheet package; `extra` parts are added or replace the defaults by name.
inline Parts package(const QByteArray& sheetData, const QByteArray& workbookPr = {},
                     const Parts& extra = {})
{
    Parts parts = {
        {"_rels/.rels", relationships(relationship("rId1", "officeDocument", "xl/workbook.xml"))},
        {"xl/workbook.xml",
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
             workbookPr +
             "<sheets><sheet name=\"Hoja1\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
             "</workbook>"},
        {"xl/_rels/workbook.xml.rels",
         relationships(relationship("rId1", "worksheet", "worksheets/sheet1.xml") +
                       relationship("rId2", "styles", "styles.xml") +
                       relationship("rId3", "sharedStrings", "sharedStrings.xml"))},
        {"xl/worksheets/sheet1.xml", worksheetXml(sheetData)},
    };
    for (const auto& part : extra) {
        std::erase_if(parts, [&](const auto& p) { return p.first == part.first; });
        parts.push_back(part);
    }
    return parts;
}

// A cell as a short readable text, so that a failing comparison shows what came out.
inline QString describe(const spreadsheet::CellValue& value)
{
    using Kind = spreadsheet::CellValue::Kind;
    switch (value.kind) {
    case Kind::Empty:
        return QStringLiteral("empty");
    case Kind::Text:
        return QStringLiteral("text:") + value.text;
    case Kind::Number:
        return QStringLiteral("number:") + QString::number(value.number, 'g', 17);
    case Kind::Date:
        return QStringLiteral("date:") + value.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case Kind::Boolean:
        return value.boolean ? QStringLiteral("bool:true") : QStringLiteral("bool:false");
    case Kind::Error:
        return QStringLiteral("error:") + value.text;
    }
    return {};
}

inline QString describe(const spreadsheet::Worksheet& sheet, const char* address)
{
    return describe(sheet.Range(QString::fromLatin1(address)).Value());
}

} // namespace sheettest

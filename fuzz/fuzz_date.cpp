#include "FuzzCells.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/Recognizer.h"

#include <cstdint>
#include <cstdlib>

// The first byte picks the regional settings; the rest is the text, in UTF-8. A date read from
// text must read back from the text a cell shows for it and from its ISO form, and agree with
// the date the cell recognition finds in the same text.
namespace {

QDate readBack(const QString& text, const spreadsheet::Regional& regional)
{
    try {
        return spreadsheet::TextToDate(text, regional);
    } catch (const spreadsheet::Failure&) {
        std::abort(); // a date's own text must be a date
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const spreadsheet::Regional regional = regionalFrom(data[0]);
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    QDate date;
    try {
        date = spreadsheet::TextToDate(text, regional);
    } catch (const spreadsheet::Failure&) {
        return 0;
    }
    if (!date.isValid())
        std::abort();
    const spreadsheet::CellValue cell =
        spreadsheet::CellValue::fromDate(QDateTime(date, QTime(0, 0), Qt::UTC));
    if (readBack(spreadsheet::CellText(cell, regional, QStringLiteral("A1")), regional) != date)
        std::abort();
    if (readBack(date.toString(Qt::ISODate), regional) != date)
        std::abort();
    const spreadsheet::CellValue recognised = spreadsheet::recognise(text, regional);
    if (recognised.kind == spreadsheet::CellValue::Kind::Date && recognised.date.date() != date)
        std::abort();
    return 0;
}

#include "FuzzCells.h"
#include "spreadsheet/CsvReader.h"

#include <cstdint>

// The first byte picks the regional settings; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const spreadsheet::Regional regional = regionalFrom(data[0]);
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1),
                           static_cast<qsizetype>(size - 1));
    try {
        readCells(*spreadsheet::readCsv(bytes, "fuzz.csv", regional), regional);
        spreadsheet::TextToDate(QString::fromUtf8(bytes.left(64)), regional);
    } catch (const spreadsheet::Failure&) {
    }
    return 0;
}

#include "FuzzCells.h"
#include "spreadsheet/XlsxReader.h"

#include <cstdint>

// The input is the whole .xlsx file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    spreadsheet::XlsxLimits limits;
    limits.totalBytes = limits.partBytes = 64 << 20;
    limits.ratioAfter = 1 << 20;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        readCells(*spreadsheet::readXlsx(bytes, "fuzz.xlsx", limits), spreadsheet::Regional());
    } catch (const spreadsheet::Failure&) {
    }
    return 0;
}

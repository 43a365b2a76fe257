#pragma once

#include "spreadsheet/CellValue.h"

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace support {
class Surface;
}

namespace generation {

// The detail line's description holds this many characters.
inline constexpr int kDescripLength = 60;

// The address of a cell of the sales sheet ("B2").
QString CellAddress(char column, std::int32_t row);

// The amount of an E cell through krVal; an error cell is a failure naming it.
double AmountOf(const spreadsheet::CellValue& cell, const QString& address);

// The detail line's description: the first 60 characters of the trimmed text, upper-cased.
QString DescripcionDetalle(const QString& trimmed);

// The progress text of a row, as Label1 shows it.
QString ProgressText(const QString& cArchivo, std::int32_t nRenglon);

// Shows the row being read in Label1, a few times a second; the last row is always shown.
class Progress {
public:
    Progress(support::Surface& surface, const QString& file) : surface_(surface), file_(file) {}
    void row(std::int32_t nRenglon);
    void finish();

private:
    void show();

    support::Surface& surface_;
    const QString& file_;
    QElapsedTimer timer_;
    std::int32_t last_ = 0;
    std::int32_t shown_ = 0;
};

} // namespace generation

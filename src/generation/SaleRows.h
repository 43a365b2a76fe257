#pragma once

#include "generation/Figures.h"
#include "generation/WindowState.h"
#include "spreadsheet/CellValue.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace spreadsheet {
class Worksheet;
struct Regional;
} // namespace spreadsheet

namespace generation {

class Progress;

// A row of the sales sheet whose marker is not empty, as the run and the dry run both see it.
struct SaleRow {
    enum class Kind {
        ZeroMarker,  // marker "0": passed over
        NotPositive, // a sale whose amount is zero or below (or could not be read)
        Sale,        // a sale with a positive amount: it uses a ticket number
    };
    Kind kind = Kind::ZeroMarker;
    std::int32_t row = 0;
    QString fecha;                     // D as text
    spreadsheet::CellValue amountCell; // E as read
    double amount = 0;
    QString descrip;        // H trimmed; sales only
    std::int32_t venta = 0; // the number a sale uses
    // A cell of the row that cannot be read: a run stops at this row with this message.
    std::optional<QString> failure;
};

// The sales sheet's rules, once: from row 2, marker in B, date in D, amount in E, description
// in H; the walk ends at the 50th consecutive row with an empty marker; sales with a positive
// amount take consecutive numbers from nTicket. Row, empty rows and number are kept in the
// window state as the walk steps, so that after a failure they name the row it stopped at.
// Counts rows read, sale rows, "0" markers, amounts not above zero and numbers used.
class SaleRows {
public:
    SaleRows(WindowState& state, const spreadsheet::Worksheet& sheet,
             const spreadsheet::Regional& regional, Figures& figures, Progress& progress);

    // The next row that is not empty; nothing at the end of the walk. A marker that cannot be
    // read ends the walk with a failure.
    std::optional<SaleRow> next();

private:
    WindowState& state_;
    const spreadsheet::Worksheet& sheet_;
    const spreadsheet::Regional& regional_;
    Figures& figures_;
    Progress& progress_;
    bool started_ = false;
    bool usedNumber_ = false;
};

} // namespace generation

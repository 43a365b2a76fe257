#pragma once

#include "generation/Figures.h"
#include "generation/TicketSink.h"
#include "generation/WindowState.h"

#include <QString>
#include <cstdint>

namespace spreadsheet {
class WorkbookOpening;
}

namespace support {
class Surface;
}

namespace generation {

// What happened to one row, for the run report. Written is told only once the ticket is stored.
struct RowEvent {
    enum class Outcome { Written, Existed, ZeroMarker, NotPositive };
    Outcome outcome;
    std::int32_t row = 0;
    std::int32_t ticket = 0; // 0 for rows that use no number
    double amount = 0;
};

class ScanObserver {
public:
    virtual ~ScanObserver() = default;
    virtual void onRow(const RowEvent& event) = 0;
    // Something of the whole run the user should know (tables that cannot roll back, say).
    virtual void onNotice(const QString& /*text*/) {}
};

// A walk that stopped at a row of the sheet; the message says where as well.
class WalkFailure : public support::Failure {
public:
    WalkFailure(const QString& message, std::int32_t failedRow)
        : support::Failure(message), row(failedRow)
    {}
    std::int32_t row;
};

// Walks the first worksheet of cArchivo from row 2 and writes one ticket (a header in tickets
// and its line in ticketsdetalle, together or not at all) for every sale row with a positive
// amount whose number is not taken yet, numbering from nTicket. Ends at the 50th consecutive
// row with an empty marker; leaves the workbook open in oLibro. Needs cnBase open and oExcel.
// Tickets go to the sink (row by row through oBases when none is given). A failure is a
// WalkFailure naming the row; every ticket before it is stored and none after it. The workbook
// is taken from `opening` when the caller began to read it already.
Figures RecorrerHoja(WindowState& state, support::Surface& surface, TicketSink* sink = nullptr,
                     ScanObserver* observer = nullptr,
                     spreadsheet::WorkbookOpening* opening = nullptr);

} // namespace generation

#pragma once

#include "generation/TicketSink.h"
#include "generation/WindowState.h"

#include <QString>
#include <cstdint>

namespace support {
class Surface;
}

namespace generation {

// What one scan did, for the summary of a run.
struct Figures {
    std::int32_t rowsRead = 0;
    std::int32_t saleRows = 0;    // marker neither empty nor "0"
    std::int32_t written = 0;     // tickets stored
    std::int32_t existed = 0;     // numbers passed over because they were taken
    std::int32_t zeroMarker = 0;  // rows passed over for their "0" marker
    std::int32_t notPositive = 0; // sale rows passed over for an amount of zero or below
    double amountWritten = 0;     // sum of the amounts of the tickets stored
    std::int32_t numbersUsed = 0; // ticket numbers handed out, written or not
    std::int32_t firstTicket = 0; // first and last of them, when numbersUsed > 0
    std::int32_t lastTicket = 0;
};

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
};

// Walks the first worksheet of cArchivo from row 2 and writes one ticket (a header in tickets
// and its line in ticketsdetalle, together or not at all) for every sale row with a positive
// amount whose number is not taken yet, numbering from nTicket. Ends at the 50th consecutive
// row with an empty marker; leaves the workbook open in oLibro. Needs cnBase open and oExcel.
// Tickets go to the sink (row by row through the component when none is given).
Figures RecorrerHoja(WindowState& state, support::Surface& surface, TicketSink* sink = nullptr,
                     ScanObserver* observer = nullptr);

} // namespace generation

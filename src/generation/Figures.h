#pragma once

#include <cstdint>

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

} // namespace generation

#pragma once

#include "krvt5/Connection.h"

#include <cstdint>
#include <unordered_set>

namespace generation {

// The ticket numbers from first to last (both included) that tickets holds already, read in
// one query.
std::unordered_set<std::int32_t> ExistingTickets(krvt5::Connection& connection, std::int32_t first,
                                                 std::int32_t last);

// The last number a run starting at first can reach when every row of a sheet with lastRow
// rows were a sale: the bound of the range ExistingTickets needs.
std::int32_t LastPossibleTicket(std::int32_t first, std::int32_t lastRow);

} // namespace generation

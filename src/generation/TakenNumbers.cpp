#include "generation/TakenNumbers.h"

#include "generation/ExistingTickets.h"

namespace generation {

TakenNumbers::TakenNumbers(krvt5::Connection& connection, std::int32_t first, std::int32_t last)
    : connection_(&connection), first_(first), last_(last),
      taken_(ExistingTickets(connection, first, last))
{}

bool TakenNumbers::contains(std::int32_t venta) const
{
    if (venta >= first_ && venta <= last_)
        return taken_.contains(venta);
    return connection_ && !ExistingTickets(*connection_, venta, venta).empty();
}

} // namespace generation

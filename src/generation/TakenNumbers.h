#pragma once

#include "krvt5/Connection.h"

#include <cstdint>
#include <unordered_set>

namespace generation {

// The ticket numbers of a run's range that tickets held when it was read, in one query; a
// number outside the range is asked of the database.
class TakenNumbers {
public:
    TakenNumbers() = default;
    TakenNumbers(krvt5::Connection& connection, std::int32_t first, std::int32_t last);

    bool contains(std::int32_t venta) const;

private:
    krvt5::Connection* connection_ = nullptr;
    std::int32_t first_ = 0;
    std::int32_t last_ = -1;
    std::unordered_set<std::int32_t> taken_;
};

} // namespace generation

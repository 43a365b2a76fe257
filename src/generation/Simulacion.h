#pragma once

#include "generation/RecorrerHoja.h"
#include "generation/WindowState.h"

#include <QString>
#include <vector>

namespace support {
class Surface;
}

namespace generation {

// What a dry run found.
struct Simulacion {
    struct Problem {
        std::int32_t row = 0; // 0 for a problem of the whole sheet
        QString text;
        bool blocksRun = false; // a real run would fail on it
    };

    Figures figures;                    // what a run would do: "written" is "would write"
    std::vector<std::int32_t> existing; // numbers the run would pass over, in order
    std::vector<Problem> problems;

    bool runWouldSucceed() const;
};

// Everything a run does but writing: opens the database and the workbook, reads the existing
// numbers of the run's range in one query, walks the sheet as the run would and collects every
// problem instead of stopping at the first. Leaves the database closed.
Simulacion Simular(WindowState& state, support::Surface& surface);

} // namespace generation

#pragma once

#include "generation/RecorrerHoja.h"
#include "generation/Simulacion.h"
#include "generation/WindowState.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace support {
class Surface;
}

namespace generation {

// The details under the confirmation's question and under "Proceso terminado": what a run will
// do, found before it by the dry run, and what it did.

// Workbooks from this size on are announced with "Revisando el libro…" in Label1 from the start
// of the check; smaller ones only when the check turns out slow.
inline constexpr qint64 kCheckNoticeBytes = 1024 * 1024;

// Runs the dry run on a state of its own, so the window's state (nTicket, cnBase, the workbook)
// stays as it was, and returns what it found as the confirmation's details. Reads and never
// writes. A check that fails says so in the details: the run itself reports the failure.
// Label1 shows "Revisando el libro…" on long workbooks and is hidden and empty afterwards.
QString CheckBeforeRun(const WindowState& state, support::Surface& surface,
                       qint64 noticeFromBytes = kCheckNoticeBytes);

// The confirmation's details from a dry run's result: tickets it will write and their first and
// last number, numbers that exist, rows passed over, then every warning, sheet-wide ones first.
QString DescribeCheck(const Simulacion& result);

// The end box's details: the run's figures as the terminal prints them and, when nothing was
// written, first a line that says why.
QString DescribeEnd(const Figures& figures);

// Numbers as "100-104, 107": runs of consecutive numbers joined; past maxRanges runs, "…".
QString NumberRanges(const std::vector<std::int32_t>& numbers,
                     std::size_t maxRanges = std::numeric_limits<std::size_t>::max());

} // namespace generation

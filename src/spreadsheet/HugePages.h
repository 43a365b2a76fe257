#pragma once

#include <cstddef>

namespace spreadsheet {

// For a large buffer about to be filled from start to end: where the system gives transparent
// huge pages on request, its whole 2 MiB pages are asked for as such, so that their first touch
// costs one page fault instead of 512 (dear on a virtual machine). Only advice: elsewhere, or
// for memory that holds no whole 2 MiB page, nothing changes.
void adviseHugePages(void* data, std::size_t bytes);

} // namespace spreadsheet

#pragma once

#include <QString>
#include <cstddef>

namespace spreadsheet {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* data, std::size_t size);

// Windows-1252 as Windows maps it; the five unassigned bytes become the C1 controls.
QString decodeWindows1252(const char* data, qsizetype size);

} // namespace spreadsheet

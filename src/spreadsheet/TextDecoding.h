#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>

namespace spreadsheet {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* data, std::size_t size);

// A text that is not all UTF-8: its valid sequences of more than one byte, the bytes that
// begin none, and where the first of those is. Text in Windows-1252 has almost no such
// sequences; UTF-8 with a damaged byte has mostly those.
struct Utf8Mix {
    std::size_t multibyte = 0;
    std::size_t invalid = 0;
    std::size_t firstInvalid = 0;
};
Utf8Mix utf8Mix(const char* data, std::size_t size);

// UTF-16 in the given byte order as UTF-8, for readers that split UTF-8; a leading byte-order
// mark is dropped and an odd last byte left out.
QByteArray utf16ToUtf8(QByteArrayView bytes, bool bigEndian);

} // namespace spreadsheet

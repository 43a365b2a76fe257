#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstddef>

namespace spreadsheet {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const char* data, std::size_t size);

// UTF-16 in the given byte order as UTF-8, for readers that split UTF-8; a leading byte-order
// mark is dropped and an odd last byte left out.
QByteArray utf16ToUtf8(QByteArrayView bytes, bool bigEndian);

} // namespace spreadsheet

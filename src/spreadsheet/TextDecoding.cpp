#include "spreadsheet/TextDecoding.h"

#include <QStringDecoder>
#include <cstdint>
#include <cstring>

namespace spreadsheet {

bool isValidUtf8(const char* data, std::size_t size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    while (i < size) {
        // Plain ASCII runs make most of a sales file; check eight bytes at a time.
        if (i + 8 <= size) {
            std::uint64_t block = 0;
            std::memcpy(&block, p + i, 8);
            if ((block & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t minimum = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1Fu;
            minimum = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0Fu;
            minimum = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07u;
            minimum = 0x10000;
        } else {
            return false;
        }
        if (i + length > size)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = p[i + k];
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

QByteArray utf16ToUtf8(QByteArrayView bytes, bool bigEndian)
{
    QStringDecoder decoder(bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE);
    const QString text = decoder(bytes);
    return text.toUtf8();
}

} // namespace spreadsheet

#include "spreadsheet/TextDecoding.h"

#include <QStringDecoder>
#include <cstdint>
#include <cstring>

namespace spreadsheet {

namespace {

// The length of the UTF-8 sequence that starts at p[i] (not ASCII), or 0 where none does.
std::size_t sequenceLength(const unsigned char* p, std::size_t i, std::size_t size)
{
    const unsigned char c = p[i];
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
        return 0;
    }
    if (i + length > size)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = p[i + k];
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

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
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = sequenceLength(p, i, size);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

Utf8Mix utf8Mix(const char* data, std::size_t size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    Utf8Mix mix;
    for (std::size_t i = 0; i < size;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        if (const std::size_t length = sequenceLength(p, i, size)) {
            ++mix.multibyte;
            i += length;
            continue;
        }
        if (mix.invalid++ == 0)
            mix.firstInvalid = i;
        ++i;
    }
    return mix;
}

QByteArray utf16ToUtf8(QByteArrayView bytes, bool bigEndian)
{
    QStringDecoder decoder(bigEndian ? QStringDecoder::Utf16BE : QStringDecoder::Utf16LE);
    const QString text = decoder(bytes);
    return text.toUtf8();
}

} // namespace spreadsheet

#include "plaintext/Windows1252.h"

#include <array>

namespace plaintext {

namespace {

// 0x80-0x9F; every other byte is the code point of the same value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<char16_t, 256> kTable = [] {
    std::array<char16_t, 256> table{};
    for (size_t byte = 0; byte < table.size(); ++byte)
        table[byte] = static_cast<char16_t>(byte);
    for (size_t i = 0; i < kHigh.size(); ++i)
        table[0x80 + i] = kHigh[i];
    return table;
}();

} // namespace

QString decodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    auto* out = reinterpret_cast<char16_t*>(text.data());
    const char* in = bytes.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = kTable[static_cast<unsigned char>(in[i])];
    return text;
}

std::optional<QByteArray> encodeWindows1252(QStringView text)
{
    QByteArray bytes(text.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            bytes[i] = static_cast<char>(c);
            continue;
        }
        size_t k = 0;
        while (k < kHigh.size() && kHigh[k] != c)
            ++k;
        if (k == kHigh.size())
            return std::nullopt;
        bytes[i] = static_cast<char>(0x80 + k);
    }
    return bytes;
}

} // namespace plaintext

#include "krvt5/libKRCM.h"

#include <QString>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

// The first byte says where a blank goes; the rest is the text, in UTF-8. krVal never gives
// NaN, skips blanks anywhere in a number, and reads back any finite double from its shortest
// text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    krvt5::libKRCM lib;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1),
                                           static_cast<qsizetype>(size - 1));
    const double value = lib.krVal(text);
    if (std::isnan(value))
        std::abort();

    QString spaced = text;
    spaced.insert(text.isEmpty() ? 0 : data[0] % (text.size() + 1), u' ');
    const double again = lib.krVal(spaced);
    if (!(again == value))
        std::abort();

    if (size >= 1 + sizeof(double)) {
        double bits = 0;
        std::memcpy(&bits, data + 1, sizeof bits);
        if (std::isfinite(bits) && lib.krVal(QString::number(bits, 'g', 17)) != bits)
            std::abort();
        if (std::isfinite(bits) && lib.krVal(QVariant(bits)) != bits)
            std::abort();
    }
    return 0;
}

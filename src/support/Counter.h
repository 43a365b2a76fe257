#pragma once

#include "support/Failure.h"

#include <QString>
#include <limits>

namespace support {

// A counter that fails instead of wrapping when it is stepped past its largest value.
template <class T> class Counter {
public:
    constexpr Counter() = default;
    constexpr Counter(T value) : value_(value) {}

    constexpr operator T() const { return value_; }
    constexpr T value() const { return value_; }

    Counter& operator=(T value)
    {
        value_ = value;
        return *this;
    }

    // Adds 1; fails, leaving the value as it was, when the result does not fit. `what` names the
    // counter for the user ("el número de ticket"), in UTF-8.
    void increment(const char* what)
    {
        if (value_ == std::numeric_limits<T>::max()) {
            throw Failure(QStringLiteral("Desbordamiento: %1 no puede pasar de %2.")
                              .arg(QString::fromUtf8(what))
                              .arg(std::numeric_limits<T>::max()));
        }
        ++value_;
    }

private:
    T value_ = 0;
};

} // namespace support

#pragma once

#include "krvt5/Connection.h"

#include <QString>
#include <optional>

namespace generation {

// What the POS's columns can hold, where the engine says (SQLite keeps any value whole).
struct ColumnLimits {
    struct Text {
        int length = 0;  // characters
        QString charset; // "latin1", "utf8mb3", "utf8mb4", ...
    };
    struct Decimal {
        QString column; // "Efectivo", for messages
        int precision = 0;
        int scale = 0;
    };
    std::optional<Text> descrip;
    std::vector<Decimal> amounts; // Efectivo, Total, Precio

    // Why the description cannot be stored whole, or nothing.
    std::optional<QString> descripProblem(const QString& descrip) const;
    // Why the amount cannot be stored, or nothing.
    std::optional<QString> amountProblem(double amount) const;
    // The scale every amount column shares, or nothing when they differ or are not known.
    std::optional<int> commonScale() const;
};

ColumnLimits ReadColumnLimits(krvt5::Connection& connection);

// An amount as the writers send it: rounded to the scale of its columns where they share one,
// as the server would round it, so that the loader stores it without a note.
QString AmountText(double amount, std::optional<int> scale);

// The decimal text rounded to `scale` digits, halves away from zero, as the server rounds a
// decimal value it stores.
QString RoundDecimalText(const QString& text, int scale);

} // namespace generation

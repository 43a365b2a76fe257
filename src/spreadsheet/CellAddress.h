#pragma once

#include <QString>
#include <QStringView>
#include <optional>
#include <string_view>

namespace spreadsheet {

inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxColumns = 16384; // XFD

struct CellAddress {
    int row = 0;    // from 1
    int column = 0; // from 1
};

// "B2", "$B$2", "xfd1048576"; nullopt for anything else (ranges included).
std::optional<CellAddress> parseCellAddress(QStringView text);
std::optional<CellAddress> parseCellAddress(std::string_view text);
// 1 -> "A", 28 -> "AB".
QString columnName(int column);
QString addressText(int row, int column);

} // namespace spreadsheet

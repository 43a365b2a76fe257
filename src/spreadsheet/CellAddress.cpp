#include "spreadsheet/CellAddress.h"

namespace spreadsheet {

namespace {

char16_t code(QChar c)
{
    return c.unicode();
}

char16_t code(char c)
{
    return static_cast<unsigned char>(c);
}

template <typename Text> std::optional<CellAddress> parse(const Text& text)
{
    using Index = decltype(text.size());
    Index i = 0;
    const Index n = text.size();
    auto dollar = [&] {
        if (i < n && code(text[i]) == u'$')
            ++i;
    };
    dollar();
    int column = 0;
    int letters = 0;
    while (i < n) {
        const auto c = code(text[i]);
        int value = 0;
        if (c >= u'A' && c <= u'Z')
            value = c - u'A' + 1;
        else if (c >= u'a' && c <= u'z')
            value = c - u'a' + 1;
        else
            break;
        if (++letters > 3)
            return std::nullopt;
        column = column * 26 + value;
        ++i;
    }
    if (letters == 0 || column > kMaxColumns)
        return std::nullopt;
    dollar();
    if (i >= n || code(text[i]) == u'0')
        return std::nullopt;
    int row = 0;
    int digits = 0;
    for (; i < n; ++i) {
        const auto c = code(text[i]);
        if (c < u'0' || c > u'9' || ++digits > 7)
            return std::nullopt;
        row = row * 10 + (c - u'0');
    }
    if (digits == 0 || row > kMaxRows)
        return std::nullopt;
    return CellAddress{row, column};
}

} // namespace

std::optional<CellAddress> parseCellAddress(QStringView text)
{
    return parse(text);
}

std::optional<CellAddress> parseCellAddress(std::string_view text)
{
    return parse(text);
}

QString columnName(int column)
{
    QString name;
    while (column > 0) {
        const int rest = (column - 1) % 26;
        name.prepend(QChar(u'A' + rest));
        column = (column - 1) / 26;
    }
    return name;
}

QString addressText(int row, int column)
{
    return columnName(column) + QString::number(row);
}

} // namespace spreadsheet

#include "spreadsheet/CellValue.h"

namespace spreadsheet {

QVariant CellValue::toVariant() const
{
    switch (kind) {
    case Kind::Empty:
        return {};
    case Kind::Text:
    case Kind::Error:
        return text;
    case Kind::Number:
        return number;
    case Kind::Date:
        return date;
    case Kind::Boolean:
        return boolean;
    }
    return {};
}

} // namespace spreadsheet

#pragma once

#include <QString>
#include <optional>
#include <vector>

namespace krvt5 {

// The table expression AbrirTabla accepts, parsed strictly:
//   <table> [WHERE <column>=<integer> [AND <column>=<integer>]...] [LIMIT <count>]
// Only identifiers and integers are taken from the text, so nothing of it becomes SQL as is.
struct TableExpression {
    struct Condition {
        QString column;
        qint64 value = 0;
    };

    QString table;
    std::vector<Condition> where;
    std::optional<qint64> limit;

    // Throws Failure ("Expresión de tabla no válida: ...") for anything else.
    static TableExpression parse(const QString& text);
};

} // namespace krvt5

#pragma once

#include <QString>

class QSqlDatabase;

namespace krvt5 {

// A text as a literal in a statement of this connection, quoted and escaped by its driver, which
// knows the connection's character set and quoting mode.
QString TextLiteral(const QSqlDatabase& db, const QString& text);

} // namespace krvt5

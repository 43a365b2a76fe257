#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace testsupport {

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// A CSV workbook from rows of cells (columns A, B, C, ...), comma separated, CR LF line ends.
// Cells are written as given: quote them yourself where needed.
QByteArray csv(const std::vector<QStringList>& rows);

} // namespace testsupport

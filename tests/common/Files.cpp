#include "common/Files.h"

#include <QFile>
#include <gtest/gtest.h>

namespace testsupport {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        ADD_FAILURE() << "cannot write " << path.toStdString();
        return;
    }
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QByteArray csv(const std::vector<QStringList>& rows)
{
    QByteArray out;
    for (const QStringList& row : rows)
        out += row.join(u',').toUtf8() + "\r\n";
    return out;
}

} // namespace testsupport

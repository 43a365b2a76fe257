#include "krvt5/FileReaders.h"

#include <QFile>
#include <QList>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace krvt5 {

namespace {

// SQLite's lock bytes on Unix: a reader holds a read lock on the whole shared range.
constexpr qint64 kPendingByte = 0x40000000;
constexpr qint64 kSharedFirst = kPendingByte + 2;
constexpr qint64 kSharedSize = 510;

} // namespace

bool OtherProcessReads(const QString& file)
{
    struct stat info {};
    if (::stat(QFile::encodeName(file).constData(), &info) != 0)
        return false;
    // "1: POSIX  ADVISORY  READ  1234 08:01:5678 1073741826 1073742335"; a waiter's line has
    // "->" after its number and holds nothing.
    const QByteArray device = QByteArray::number(major(info.st_dev), 16).rightJustified(2, '0') +
                              ':' +
                              QByteArray::number(minor(info.st_dev), 16).rightJustified(2, '0') +
                              ':' + QByteArray::number(qulonglong(info.st_ino));
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray self = QByteArray::number(::getpid());
    const QList<QByteArray> lines = locks.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 8 || fields[1] == "->" || fields[3] != "READ" || fields[4] == self ||
            fields[5] != device)
            continue;
        bool ok = false;
        const qint64 start = fields[6].toLongLong(&ok);
        if (!ok)
            continue;
        const qint64 end = fields[7] == "EOF" ? INT64_MAX : fields[7].toLongLong(&ok);
        if (ok && start < kSharedFirst + kSharedSize && end >= kSharedFirst)
            return true;
    }
    return false;
}

} // namespace krvt5

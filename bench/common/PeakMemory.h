#pragma once

#include <QFile>
#include <sys/resource.h>

namespace bench {

// This process's own high-water mark in KiB: VmHWM starts afresh at exec, while getrusage's
// ru_maxrss would carry the parent's over.
inline long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace bench

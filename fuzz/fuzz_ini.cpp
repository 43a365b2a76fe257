#include "krvt5/Failure.h"
#include "krvt5/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

// The first byte picks a section, a key, another key and a value; the rest is the file. Writing
// a key must read back as written, leave every other key as it was, and give the same bytes
// again on a second write of the same value; a file refused for reading is left as it was.
namespace {

const char* const kSections[] = {"VTW", "Conexión", "Ventas", "a b"};
const char* const kKeys[] = {"MySQLServer", "Ruta de Vantrel Premium", "k", "Ticket inicial"};
const char* const kValues[] = {"", "valor = con igual", "ñandú €", "日本 \t"};

QString pick(const char* const* names, unsigned index)
{
    return QString::fromUtf8(names[index % 4]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // In memory where there is a memory file system: every write syncs the file.
    static QTemporaryDir dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                  ? QStringLiteral("/dev/shm")
                                  : QDir::tempPath()) +
                             QStringLiteral("/fuzz-ini-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<qint64>(size - 1));
    }
    const unsigned choice = data[0];
    const QString section = pick(kSections, choice);
    const QString key = pick(kKeys, choice >> 2);
    const QString otherSection = pick(kSections, choice >> 4);
    const QString otherKey = pick(kKeys, choice >> 6);
    const QString value = pick(kValues, choice >> 3);
    const bool sameKey = section == otherSection && key == otherKey;

    QString before;
    try {
        before = krvt5::ini::read(path, otherSection, otherKey);
    } catch (const krvt5::Failure&) {
        // A file refused for reading is never written to.
        try {
            krvt5::ini::write(path, section, key, value);
        } catch (const krvt5::Failure&) {
            QFile kept(path);
            if (!kept.open(QIODevice::ReadOnly) ||
                kept.readAll() != QByteArray(reinterpret_cast<const char*>(data + 1),
                                             static_cast<qsizetype>(size - 1)))
                std::abort();
            return 0;
        }
        std::abort();
    }
    krvt5::ini::write(path, section, key, value);
    if (krvt5::ini::read(path, section, key) != value)
        std::abort();
    if (!sameKey && krvt5::ini::read(path, otherSection, otherKey) != before)
        std::abort();
    QFile written(path);
    if (!written.open(QIODevice::ReadOnly))
        std::abort();
    const QByteArray once = written.readAll();
    written.close();
    krvt5::ini::write(path, section, key, value);
    if (!written.open(QIODevice::ReadOnly) || written.readAll() != once)
        std::abort();
    return 0;
}

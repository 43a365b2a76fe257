#include "krvt5/IniFile.h"

#include "krvt5/Failure.h"
#include "plaintext/SystemError.h"
#include "plaintext/Windows1252.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringDecoder>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace krvt5::ini {
namespace {

const QByteArray utf8Bom("\xEF\xBB\xBF");

enum class Encoding { Utf8, Utf8Bom, Windows1252 };

struct Line {
    QString text; // without its line end
    QString end;  // "\r\n", "\n", "\r", or "" for a last line without one
};

struct Document {
    Encoding encoding = Encoding::Utf8;
    QList<Line> lines;
    QString newline = QStringLiteral("\n");
};

Document parse(const QByteArray& bytes)
{
    Document doc;
    // Stateless, so a sequence cut short at the end of the file counts as an error too.
    const bool bom = bytes.startsWith(utf8Bom);
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(QByteArrayView(bytes).sliced(bom ? utf8Bom.size() : 0));
    if (!utf8.hasError()) {
        doc.encoding = bom ? Encoding::Utf8Bom : Encoding::Utf8;
    } else {
        doc.encoding = Encoding::Windows1252;
        text = plaintext::decodeWindows1252(bytes);
    }

    bool newlineSeen = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\n' && text[i] != u'\r')
            continue;
        const qsizetype endLength =
            text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n' ? 2 : 1;
        Line line{text.mid(start, i - start), text.mid(i, endLength)};
        if (!newlineSeen) {
            doc.newline = line.end;
            newlineSeen = true;
        }
        doc.lines.append(std::move(line));
        i += endLength - 1;
        start = i + 1;
    }
    if (start < text.size())
        doc.lines.append(Line{text.mid(start), QString()});
    return doc;
}

QByteArray serialize(const Document& doc, Encoding encoding)
{
    QString text;
    for (const Line& line : doc.lines)
        text += line.text + line.end;
    switch (encoding) {
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf8Bom:
        return utf8Bom + text.toUtf8();
    case Encoding::Windows1252:
        if (auto bytes = plaintext::encodeWindows1252(text))
            return *bytes;
        // A value the code page cannot hold: the whole file becomes UTF-8 (without BOM, which an
        // older reader would take for part of the first section name), so nothing is lost and
        // the file still reads back here.
        return text.toUtf8();
    }
    return {};
}

QStringView trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

// The section a header line opens, or nullopt when the line is not a header.
std::optional<QStringView> sectionOf(const Line& line)
{
    const QStringView text = trimBlanks(line.text);
    if (!text.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = text.indexOf(u']');
    if (close < 0)
        return std::nullopt;
    return trimBlanks(text.mid(1, close - 1));
}

// Position of the "=" of a key line whose key is `key`, or -1.
qsizetype keyEquals(const Line& line, QStringView key)
{
    const QStringView text = trimBlanks(line.text);
    if (text.startsWith(u';') || text.startsWith(u'#'))
        return -1;
    const qsizetype equals = line.text.indexOf(u'=');
    if (equals < 0 || trimBlanks(QStringView(line.text).left(equals)) != key)
        return -1;
    return equals;
}

struct KeyPosition {
    qsizetype sectionHeader = -1; // first header of the section, -1 when there is none
    qsizetype keyLine = -1;       // first line of the key within that section's headers
    qsizetype equals = -1;
};

KeyPosition find(const Document& doc, QStringView section, QStringView key)
{
    KeyPosition found;
    bool inSection = false;
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const Line& line = doc.lines[i];
        if (const auto name = sectionOf(line)) {
            inSection = *name == section;
            if (inSection && found.sectionHeader < 0)
                found.sectionHeader = i;
            continue;
        }
        if (!inSection)
            continue;
        if (const qsizetype equals = keyEquals(line, key); equals >= 0) {
            found.keyLine = i;
            found.equals = equals;
            return found;
        }
    }
    return found;
}

[[noreturn]] void failWrite(const QString& path, const QString& reason)
{
    throw Failure(QStringLiteral("No se puede escribir el archivo de configuración \"%1\": %2")
                      .arg(QDir::toNativeSeparators(path), reason));
}

// The file's bytes; nullopt when it is not a regular file or cannot be opened. Too large a
// file is a Failure: it is not a settings file, and reading it would take the memory.
std::optional<QByteArray> load(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    const auto tooLarge = [&] {
        return Failure(QStringLiteral("El archivo de configuración \"%1\" es demasiado grande para "
                                      "ser un archivo de configuración (más de %2 MB).")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(maxFileSize / (1024 * 1024)));
    };
    if (info.size() > maxFileSize)
        throw tooLarge();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Sized by the measure (a buffer of the largest size would cost every read 16 MB), then
    // bounded: the file may have grown since it was measured.
    QByteArray bytes = file.read(info.size() + 1);
    if (bytes.size() > info.size())
        bytes += file.read(maxFileSize + 1 - bytes.size());
    if (bytes.size() > maxFileSize)
        throw tooLarge();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

mode_t modeOf(QFileDevice::Permissions permissions)
{
    mode_t mode = 0;
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR},  {QFileDevice::WriteOwner, S_IWUSR},
        {QFileDevice::ExeOwner, S_IXUSR},   {QFileDevice::ReadGroup, S_IRGRP},
        {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH},  {QFileDevice::WriteOther, S_IWOTH},
        {QFileDevice::ExeOther, S_IXOTH}};
    for (const auto& [permission, bit] : bits) {
        if (permissions.testFlag(permission))
            mode |= bit;
    }
    return mode;
}

QString systemError(int error)
{
    return plaintext::SystemErrorText(error);
}

// Writes the bytes to a new file beside the target, gives it the target's owner, group and mode
// (or those of a new file), and renames it over the target. The owner and mode are set before
// any byte is written, so the content is never readable under other terms.
void replace(const QString& path, const QByteArray& bytes, const FileRules& rules)
{
    const QByteArray target = QFile::encodeName(path);
    struct stat old {};
    const bool exists = ::lstat(target.constData(), &old) == 0;
    if (exists && S_ISLNK(old.st_mode))
        failWrite(path, QStringLiteral("es un enlace simbólico; no se reemplaza."));
    if (exists && !S_ISREG(old.st_mode))
        failWrite(path, QStringLiteral("no es un archivo normal."));

    const QFileInfo info(path);
    QByteArray temporary =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName()) + ".XXXXXX";
    // mkostemp creates the name exclusively (O_EXCL): never through a link, owner-only.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        failWrite(path, systemError(errno));
    const auto discard = [&](const QString& reason) {
        ::close(fd);
        ::unlink(temporary.constData());
        failWrite(path, reason);
    };
    if (exists) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            const int error = errno;
            // Another user's file: its group and mode can stay, its owner cannot.
            if (!rules.ownerMayChange || ::fchown(fd, uid_t(-1), old.st_gid) != 0)
                discard(QStringLiteral("no se puede conservar su dueño y su grupo (%1); se deja "
                                       "como estaba.")
                            .arg(systemError(error)));
        }
        // After fchown, which clears the set-id bits.
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            discard(
                QStringLiteral("no se pueden conservar sus permisos: %1").arg(systemError(errno)));
    } else if (::fchmod(fd, modeOf(rules.newFile)) != 0) {
        discard(QStringLiteral("no se pueden fijar sus permisos: %1").arg(systemError(errno)));
    }
    for (qsizetype written = 0; written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            discard(systemError(n < 0 ? errno : ENOSPC));
        written += n;
    }
    if (::fsync(fd) != 0)
        discard(systemError(errno));
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        failWrite(path, systemError(error));
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        failWrite(path, systemError(error));
    }
}

void checkWritable(const QString& path, const QString& section, const QString& key,
                   const QString& value)
{
    const auto hasLineBreak = [](const QString& text) {
        return text.contains(u'\n') || text.contains(u'\r');
    };
    const auto reject = [&](const QString& reason) {
        failWrite(
            path,
            QStringLiteral("la clave \"%1\" de la sección \"%2\" %3.").arg(key, section, reason));
    };
    if (path.isEmpty())
        failWrite(path, QStringLiteral("falta la ruta del archivo."));
    if (trimBlanks(section).isEmpty() || section.contains(u']') || hasLineBreak(section))
        reject(QStringLiteral("tiene un nombre de sección no válido"));
    const QStringView name = trimBlanks(key);
    if (name.isEmpty() || key.contains(u'=') || hasLineBreak(key) || name.startsWith(u'[') ||
        name.startsWith(u';') || name.startsWith(u'#'))
        reject(QStringLiteral("no es un nombre de clave válido"));
    if (hasLineBreak(value))
        reject(QStringLiteral("tiene un valor con saltos de línea"));
}

} // namespace

QString read(const QString& path, const QString& section, const QString& key)
{
    const auto bytes = load(path);
    if (!bytes)
        return {};
    const Document doc = parse(*bytes);
    const KeyPosition pos = find(doc, trimBlanks(section), trimBlanks(key));
    if (pos.keyLine < 0)
        return {};
    return doc.lines[pos.keyLine].text.mid(pos.equals + 1);
}

void write(const QString& path, const QString& section, const QString& key, const QString& value,
           const FileRules& rules)
{
    checkWritable(path, section, key, value);
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        failWrite(path, QStringLiteral("la carpeta \"%1\" no existe.")
                            .arg(QDir::toNativeSeparators(folder.filePath())));
    if (!folder.isDir())
        failWrite(path, QStringLiteral("\"%1\" no es una carpeta.")
                            .arg(QDir::toNativeSeparators(folder.filePath())));
    if (info.isDir())
        failWrite(path, QStringLiteral("es una carpeta."));

    Document doc;
    if (info.exists()) {
        // An existing file that cannot be read whole must not be replaced by a file with one key.
        const auto bytes = load(path);
        if (!bytes)
            failWrite(path, QStringLiteral("no se puede leer su contenido actual."));
        doc = parse(*bytes);
    }

    const QString sectionName = trimBlanks(section).toString();
    const QString keyName = trimBlanks(key).toString();
    const KeyPosition pos = find(doc, sectionName, keyName);
    if (pos.keyLine >= 0) {
        Line& line = doc.lines[pos.keyLine];
        line.text = line.text.left(pos.equals + 1) + value;
    } else {
        QList<Line> added;
        qsizetype at = doc.lines.size();
        if (pos.sectionHeader >= 0) {
            // After the section's last line that is not blank, so its trailing blank lines stay
            // between it and the next section.
            at = pos.sectionHeader + 1;
            for (qsizetype i = at; i < doc.lines.size() && !sectionOf(doc.lines[i]); ++i) {
                if (!trimBlanks(doc.lines[i].text).isEmpty())
                    at = i + 1;
            }
        } else {
            added.append(Line{u'[' + sectionName + u']', doc.newline});
        }
        added.append(Line{keyName + u'=' + value, doc.newline});
        if (at > 0 && doc.lines[at - 1].end.isEmpty())
            doc.lines[at - 1].end = doc.newline;
        for (Line& line : added)
            doc.lines.insert(at++, std::move(line));
    }

    replace(path, serialize(doc, doc.encoding), rules);
}

} // namespace krvt5::ini

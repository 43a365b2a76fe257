#pragma once

#include <QFileDevice>
#include <QString>

// Settings files: "[Section]", "key=value", ";" and "#" comments. Names are exact and
// case-sensitive, compared without the spaces and tabs around them. A file is UTF-8 (with or
// without BOM) when its bytes are valid UTF-8, Windows-1252 otherwise; a write keeps the
// encoding, the BOM, the line ends and every line it does not touch.
namespace krvt5::ini {

// Anything larger is not a settings file.
inline constexpr qint64 maxFileSize = 16 * 1024 * 1024;

// The text after the first "=" of the key, as stored; "" when the file, the section or the key
// is missing or the path is not a readable regular file. A file over maxFileSize is a Failure.
QString read(const QString& path, const QString& section, const QString& key);

// How a write treats the file's owner and mode. An existing file keeps its group and mode, and
// its owner unless `ownerMayChange` (a file of another program must stay that program's); a
// file the write creates gets `newFile`, whatever the umask.
struct FileRules {
    QFileDevice::Permissions newFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ReadGroup | QFileDevice::WriteGroup;
    bool ownerMayChange = true;
};

// Sets the key, creating file and section when missing, and replaces the file atomically
// (a temporary file beside it, then a rename). Fails naming the file when it cannot be read
// whole, written, or given the owner and mode that `rules` ask for; a link at its name is not
// followed nor replaced.
void write(const QString& path, const QString& section, const QString& key, const QString& value,
           const FileRules& rules = {});

} // namespace krvt5::ini

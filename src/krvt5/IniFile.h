#pragma once

#include <QFileDevice>
#include <QString>
#include <optional>

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

// Sets the key, creating file and section when missing, and replaces the file atomically.
// The new file gets `permissions` when given; otherwise it keeps those of the old file.
// Fails naming the file when it cannot be read whole or written.
void write(const QString& path, const QString& section, const QString& key, const QString& value,
           std::optional<QFileDevice::Permissions> permissions = std::nullopt);

} // namespace krvt5::ini

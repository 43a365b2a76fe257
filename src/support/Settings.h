#pragma once

#include <QString>

namespace support {

// Removes leading and trailing spaces (only the space character; tabs stay).
QString TrimSpaces(const QString& text);

// Reads a key of a settings file through oLib, trimmed; when it is missing, writes the default
// and reads again. The value used is always the one read back. A default that does not stick
// (a file that cannot be written) is a failure naming the file and the key, never a loop.
QString LeerClave(const QString& section, const QString& key, const QString& defaultValue,
                  const QString& settingsFile);

// Joins a folder and a name with one "/", added even when the folder already ends with one.
QString JoinPath(const QString& folder, const QString& name);

} // namespace support

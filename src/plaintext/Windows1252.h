#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// Windows-1252 as Windows maps it: the five bytes the code page leaves unassigned map to the C1
// controls of the same value, so any bytes decode and encode back to the same bytes. Written out
// rather than asked of QStringDecoder, which knows the code page only when Qt is built with ICU.
namespace plaintext {

QString decodeWindows1252(QByteArrayView bytes);

// nullopt when a character has no byte in the code page.
std::optional<QByteArray> encodeWindows1252(QStringView text);

} // namespace plaintext

#pragma once

#include <QString>
#include <string>
#include <string_view>

// CR LF and a lone CR both read as LF: the program's own texts break lines the Windows way, while
// Qt's labels and terminals, like XML, know only LF.
namespace plaintext {

QString withLineFeeds(QString text);

// The same on UTF-8 bytes, appended to `out`.
void appendWithLineFeeds(std::string& out, std::string_view text);

} // namespace plaintext

#include "plaintext/LineEnds.h"

namespace plaintext {

QString withLineFeeds(QString text)
{
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
}

void appendWithLineFeeds(std::string& out, std::string_view text)
{
    size_t from = 0;
    for (size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', from)) {
        out.append(text.substr(from, cr - from));
        out.push_back('\n');
        from = cr + 1;
        if (from < text.size() && text[from] == '\n')
            ++from;
    }
    out.append(text.substr(from));
}

} // namespace plaintext

#include "spreadsheet/XmlScanner.h"

#include "plaintext/LineEnds.h"
#include "plaintext/Windows1252.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/TextDecoding.h"

#include <algorithm>
#include <charconv>

namespace spreadsheet {

namespace {

constexpr size_t kMaxTagBytes = 1 << 20;     // real tags are a few hundred bytes
constexpr size_t kMaxBufferBytes = 64 << 20; // a comment, CDATA section or instruction
constexpr size_t kMaxTextBytes = 4 << 20;    // a cell holds 32767 characters
constexpr size_t kMaxDeclarationBytes = 4096;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool endsName(char c)
{
    return isSpace(c) || c == '/' || c == '>' || c == '=';
}

std::string_view localPart(std::string_view name)
{
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// XML text is UTF-8 without control characters other than tab and line ends; anything else is
// a damaged part, whose text would otherwise reach the database as replacement characters.
bool isXmlText(std::string_view text)
{
    const bool control = std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    });
    return !control && isValidUtf8(text.data(), text.size());
}

void appendUtf8(std::string& out, std::uint32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

bool startsWith(const std::string& text, std::string_view prefix)
{
    return std::string_view(text).substr(0, prefix.size()) == prefix;
}

} // namespace

XmlScanner::XmlScanner(Source source, QString partName, QString failurePrefix)
    : source_(std::move(source)), partName_(std::move(partName)),
      failurePrefix_(std::move(failurePrefix))
{}

void XmlScanner::fail(const QString& detail) const
{
    throw Failure(failurePrefix_ + QStringLiteral("la parte %1 %2.").arg(partName_, detail));
}

bool XmlScanner::refill()
{
    if (ended_)
        return false;
    if (position_ > 0) {
        buffer_.erase(0, position_);
        position_ = 0;
    }
    if (buffer_.size() > kMaxBufferBytes)
        fail(QStringLiteral("tiene un elemento demasiado largo"));
    const QByteArray chunk = source_();
    if (chunk.isEmpty()) {
        ended_ = true;
        return false;
    }
    buffer_.append(chunk.constData(), static_cast<size_t>(chunk.size()));
    return true;
}

// UTF-8 is read as it is; UTF-16 and Windows-1252 parts are turned into UTF-8 whole, first.
void XmlScanner::prepareEncoding()
{
    started_ = true;
    while (buffer_.size() < kMaxDeclarationBytes && refill()) {
    }
    const bool utf16 = startsWith(buffer_, "\xFF\xFE") || startsWith(buffer_, "\xFE\xFF") ||
                       startsWith(buffer_, std::string_view("<\0", 2)) ||
                       startsWith(buffer_, std::string_view("\0<", 2));
    bool windows1252 = false;
    if (startsWith(buffer_, "\xEF\xBB\xBF")) {
        position_ = 3;
    } else if (!utf16 && startsWith(buffer_, "<?xml")) {
        const size_t end = buffer_.find("?>");
        if (end != std::string::npos)
            windows1252 = declaresWindows1252(std::string_view(buffer_).substr(0, end));
    }
    if (!utf16 && !windows1252)
        return;
    while (refill()) {
    }
    const QByteArrayView bytes(buffer_.data(), static_cast<qsizetype>(buffer_.size()));
    const bool bigEndian = buffer_[0] == '\xFE' || buffer_[0] == '\0';
    const QByteArray utf8 =
        utf16 ? utf16ToUtf8(bytes, bigEndian) : plaintext::decodeWindows1252(bytes).toUtf8();
    buffer_.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
    position_ = 0;
}

bool XmlScanner::declaresWindows1252(std::string_view declaration) const
{
    const size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return false;
    const std::string_view rest = declaration.substr(at + 8);
    const size_t open = rest.find_first_of("\"'");
    if (open == std::string_view::npos)
        return false;
    const size_t close = rest.find(rest[open], open + 1);
    std::string name(rest.substr(open + 1, close == std::string_view::npos ? 0 : close - open - 1));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
    const bool windows1252 = name.find("1252") != std::string::npos ||
                             name.find("8859") != std::string::npos ||
                             name.find("latin") != std::string::npos;
    const bool utf = name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii" ||
                     name.find("utf-16") == 0;
    if (!windows1252 && !utf) {
        fail(QStringLiteral("usa la codificación %1, que no se admite")
                 .arg(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))));
    }
    return windows1252;
}

XmlScanner::Token XmlScanner::next()
{
    if (!started_)
        prepareEncoding();
    if (pendingEnd_) {
        pendingEnd_ = false;
        return Token::End;
    }
    for (;;) {
        if (position_ >= buffer_.size()) {
            if (refill())
                continue;
            if (!openEnds_.empty())
                fail(QStringLiteral("está incompleta"));
            return Token::EndOfPart;
        }
        if (buffer_[position_] != '<') {
            size_t end = buffer_.find('<', position_ + searched_);
            if (end == std::string::npos) {
                // Text runs on past the chunk: hand out what is whole, keeping back a cut
                // entity or a CR whose LF may follow.
                end = buffer_.size();
                const size_t amp = buffer_.rfind('&');
                if (amp != std::string::npos && amp >= position_ &&
                    buffer_.find(';', amp) == std::string::npos)
                    end = amp;
                if (end > position_ && buffer_[end - 1] == '\r')
                    --end;
                if (end == position_) {
                    searched_ = buffer_.size() - position_;
                    if (refill())
                        continue;
                    end = buffer_.size(); // nothing more will come: the rest is the text
                }
            }
            text_ = std::string_view(buffer_).substr(position_, end - position_);
            textIsRaw_ = false;
            position_ = end;
            searched_ = 0;
            return Token::Text;
        }
        const Markup found = markup();
        if (found == Markup::Incomplete) {
            if (!refill())
                fail(QStringLiteral("está incompleta"));
            continue;
        }
        searched_ = 0;
        switch (found) {
        case Markup::Skipped:
        case Markup::Incomplete:
            continue;
        case Markup::Start:
            return Token::Start;
        case Markup::End:
            return Token::End;
        case Markup::Text:
            return Token::Text;
        }
    }
}

XmlScanner::Markup XmlScanner::markup()
{
    const std::string_view rest = std::string_view(buffer_).substr(position_);
    if (rest.size() < 2)
        return Markup::Incomplete;
    // Searches resume where the last chunk ended, so a long comment costs no rescans.
    auto find = [&](std::string_view terminator, size_t start) {
        const size_t resume =
            searched_ >= terminator.size() ? searched_ - terminator.size() + 1 : 0;
        const size_t found = rest.find(terminator, std::max(start, resume));
        if (found == std::string_view::npos)
            searched_ = rest.size();
        return found;
    };
    if (rest[1] == '?') {
        const size_t end = find("?>", 2);
        if (end == std::string_view::npos)
            return Markup::Incomplete;
        position_ += end + 2;
        return Markup::Skipped;
    }
    if (rest[1] == '!') {
        constexpr std::string_view comment = "<!--";
        constexpr std::string_view cdata = "<![CDATA[";
        if (rest.substr(0, comment.size()) == comment) {
            const size_t end = find("-->", comment.size());
            if (end == std::string_view::npos)
                return Markup::Incomplete;
            position_ += end + 3;
            return Markup::Skipped;
        }
        if (rest.substr(0, cdata.size()) == cdata) {
            const size_t end = find("]]>", cdata.size());
            if (end == std::string_view::npos)
                return Markup::Incomplete;
            text_ = rest.substr(cdata.size(), end - cdata.size());
            textIsRaw_ = true;
            position_ += end + 3;
            return Markup::Text;
        }
        if (rest.size() < cdata.size() &&
            (comment.substr(0, rest.size()) == rest || cdata.substr(0, rest.size()) == rest))
            return Markup::Incomplete;
        fail(QStringLiteral("declara un DTD o una marca que no se admite"));
    }
    if (rest[1] == '/') {
        const size_t end = find(">", 2);
        if (end == std::string_view::npos)
            return Markup::Incomplete;
        const std::string_view name = trimmed(rest.substr(2, end - 2));
        pop(name);
        name_ = localPart(name);
        position_ += end + 1;
        return Markup::End;
    }
    return startTag();
}

XmlScanner::Markup XmlScanner::startTag()
{
    const std::string_view rest = std::string_view(buffer_).substr(position_);
    auto incomplete = [&] {
        if (rest.size() > kMaxTagBytes)
            fail(QStringLiteral("tiene una etiqueta demasiado larga"));
        return Markup::Incomplete;
    };
    auto invalid = [&] {
        fail(QStringLiteral("no es XML válido (etiqueta \"%1\")")
                 .arg(QString::fromUtf8(rest.substr(0, std::min<size_t>(rest.size(), 40)))));
    };
    size_t i = 1;
    while (i < rest.size() && !endsName(rest[i]))
        ++i;
    if (i >= rest.size())
        return incomplete();
    const std::string_view name = rest.substr(1, i - 1);
    if (name.empty() || name[0] == '<' || name[0] == '-' || name[0] == '.' ||
        (name[0] >= '0' && name[0] <= '9'))
        invalid();
    attributeCount_ = 0;
    bool selfClosing = false;
    for (;;) {
        while (i < rest.size() && isSpace(rest[i]))
            ++i;
        if (i >= rest.size())
            return incomplete();
        if (rest[i] == '>') {
            ++i;
            break;
        }
        if (rest[i] == '/') {
            if (i + 1 >= rest.size())
                return incomplete();
            if (rest[i + 1] != '>')
                invalid();
            i += 2;
            selfClosing = true;
            break;
        }
        const size_t nameStart = i;
        while (i < rest.size() && !endsName(rest[i]))
            ++i;
        const std::string_view attributeName = rest.substr(nameStart, i - nameStart);
        while (i < rest.size() && isSpace(rest[i]))
            ++i;
        if (i + 1 >= rest.size())
            return incomplete();
        if (attributeName.empty() || rest[i] != '=')
            invalid();
        ++i;
        while (i < rest.size() && isSpace(rest[i]))
            ++i;
        if (i >= rest.size())
            return incomplete();
        const char quote = rest[i];
        if (quote != '"' && quote != '\'')
            invalid();
        const size_t close = rest.find(quote, i + 1);
        if (close == std::string_view::npos)
            return incomplete();
        const std::string_view raw = rest.substr(i + 1, close - i - 1);
        if (raw.find('<') != std::string_view::npos)
            invalid();
        i = close + 1;
        if (i < rest.size() && !isSpace(rest[i]) && rest[i] != '/' && rest[i] != '>')
            invalid();
        const bool declaration = attributeName == "xmlns" || attributeName.substr(0, 6) == "xmlns:";
        if (declaration)
            continue;
        if (attributeCount_ == attributes_.size())
            attributes_.emplace_back();
        Attribute& attribute = attributes_[attributeCount_++];
        attribute.local = localPart(attributeName);
        attribute.raw = raw;
        attribute.prefixed = attributeName.find(':') != std::string_view::npos;
        attribute.decoded.reset();
    }
    name_ = localPart(name);
    position_ += i;
    if (selfClosing)
        pendingEnd_ = true;
    else
        push(name);
    return Markup::Start;
}

void XmlScanner::push(std::string_view name)
{
    openNames_.append(name);
    openEnds_.push_back(openNames_.size());
}

void XmlScanner::pop(std::string_view name)
{
    if (openEnds_.empty())
        fail(QStringLiteral("no es XML válido (cierra una etiqueta que no abrió)"));
    openEnds_.pop_back();
    const size_t begin = openEnds_.empty() ? 0 : openEnds_.back();
    if (std::string_view(openNames_).substr(begin) != name) {
        fail(QStringLiteral("no es XML válido (la etiqueta \"%1\" no cierra la que está abierta)")
                 .arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()))));
    }
    openNames_.resize(begin);
}

void XmlScanner::decode(std::string_view raw, std::string& out) const
{
    size_t i = 0;
    while (i < raw.size()) {
        const size_t amp = raw.find('&', i);
        plaintext::appendWithLineFeeds(
            out, raw.substr(i, amp == std::string_view::npos ? raw.size() - i : amp - i));
        if (amp == std::string_view::npos)
            return;
        const size_t semicolon = raw.find(';', amp);
        if (semicolon == std::string_view::npos || semicolon - amp > 12)
            fail(QStringLiteral("no es XML válido (un \"&\" suelto)"));
        const std::string_view entity = raw.substr(amp + 1, semicolon - amp - 1);
        if (entity == "lt") {
            out.push_back('<');
        } else if (entity == "gt") {
            out.push_back('>');
        } else if (entity == "amp") {
            out.push_back('&');
        } else if (entity == "quot") {
            out.push_back('"');
        } else if (entity == "apos") {
            out.push_back('\'');
        } else if (entity.size() > 1 && entity[0] == '#') {
            const bool hex = entity[1] == 'x';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            std::uint32_t code = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() ||
                code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
                fail(QStringLiteral("no es XML válido (referencia de carácter no válida)"));
            appendUtf8(out, code);
        } else {
            fail(QStringLiteral("usa la entidad &%1;, que no está definida")
                     .arg(QString::fromUtf8(entity.data(), static_cast<qsizetype>(entity.size()))));
        }
        i = semicolon + 1;
    }
}

std::optional<std::string_view> XmlScanner::value(const Attribute& attribute) const
{
    if (attribute.raw.find('&') == std::string_view::npos)
        return attribute.raw;
    if (!attribute.decoded) {
        attribute.decoded.emplace();
        decode(attribute.raw, *attribute.decoded);
    }
    return std::string_view(*attribute.decoded);
}

std::optional<std::string_view> XmlScanner::attribute(std::string_view localName) const
{
    for (size_t i = 0; i < attributeCount_; ++i) {
        if (!attributes_[i].prefixed && attributes_[i].local == localName)
            return value(attributes_[i]);
    }
    return std::nullopt;
}

std::optional<std::string_view> XmlScanner::prefixedAttribute(std::string_view localName) const
{
    for (size_t i = 0; i < attributeCount_; ++i) {
        if (attributes_[i].prefixed && attributes_[i].local == localName)
            return value(attributes_[i]);
    }
    return std::nullopt;
}

std::string_view XmlScanner::held() const
{
    if (!started_ || pendingEnd_)
        return {};
    return std::string_view(buffer_).substr(position_);
}

void XmlScanner::readToEnd()
{
    if (!started_)
        prepareEncoding();
    do {
        position_ = buffer_.size();
    } while (refill());
    pendingEnd_ = false;
    openEnds_.clear();
    openNames_.clear();
}

void XmlScanner::consume(size_t bytes)
{
    position_ += std::min(bytes, buffer_.size() - position_);
    searched_ = 0;
}

void XmlScanner::root(std::string_view name)
{
    if (!nextChild() || name_ != name)
        fail(QStringLiteral("no es del tipo esperado"));
}

bool XmlScanner::nextChild()
{
    for (;;) {
        switch (next()) {
        case Token::Start:
            return true;
        case Token::End:
        case Token::EndOfPart:
            return false;
        case Token::Text:
            break;
        }
    }
}

void XmlScanner::skip()
{
    for (int depth = 1; depth > 0;) {
        switch (next()) {
        case Token::Start:
            ++depth;
            break;
        case Token::End:
            --depth;
            break;
        case Token::EndOfPart:
            return;
        case Token::Text:
            break;
        }
    }
}

void XmlScanner::readText(std::string& out)
{
    const size_t from = out.size();
    for (int depth = 1; depth > 0;) {
        switch (next()) {
        case Token::Text:
            if (depth == 1) {
                if (textIsRaw_)
                    plaintext::appendWithLineFeeds(out, text_);
                else
                    decode(text_, out);
                if (out.size() > kMaxTextBytes)
                    fail(QStringLiteral("tiene un texto demasiado largo"));
            }
            break;
        case Token::Start:
            ++depth;
            break;
        case Token::End:
            --depth;
            break;
        case Token::EndOfPart:
            depth = 0;
            break;
        }
    }
    // Checked whole: a character may be split between two pieces of text.
    if (!isXmlText(std::string_view(out).substr(from)))
        fail(QStringLiteral("no es XML válido (tiene un texto con bytes que no son UTF-8 o con "
                            "caracteres de control)"));
}

} // namespace spreadsheet

#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet {

// A small pull reader for the XML of workbook parts, fed a chunk at a time. It knows elements,
// attributes, text, CDATA, comments and processing instructions, the five predefined entities and
// character references. A DTD is refused, so no entity is ever expanded or fetched. Names are
// compared by their local part (after the prefix). Text comes out as UTF-8; parts in UTF-16 or
// Windows-1252 are converted first. Any fault is a Failure: `failurePrefix` + what went wrong.
class XmlScanner {
public:
    using Source = std::function<QByteArray()>; // the next chunk; empty at the end

    XmlScanner(Source source, QString partName, QString failurePrefix);

    // Moves to the root element, which must carry this local name.
    void root(std::string_view name);
    // Moves to the next child of the current element: true at its start, false past the end of
    // the current element (or of the part).
    bool nextChild();
    // Skips the rest of the current element.
    void skip();
    // Appends the text of the current element (not of elements nested in it), then leaves it.
    void readText(std::string& out);

    // The current element's local name and attributes; valid until the next move.
    std::string_view name() const { return name_; }
    std::optional<std::string_view> attribute(std::string_view localName) const;
    // An attribute with a namespace prefix, such as r:id.
    std::optional<std::string_view> prefixedAttribute(std::string_view localName) const;

    // The bytes held and not read yet, for a caller that reads a whole element of a usual
    // shape by itself (empty while a token is pending); consume() then moves past it. What the
    // caller does not take whole is left for the moves above.
    std::string_view held() const;
    void consume(size_t bytes);

    // Takes the rest of the part from its source unread, so that a source which checks the
    // part whole (its size, its sum of control) does so once the reader has what it wants.
    void readToEnd();

    [[noreturn]] void fail(const QString& detail) const;
    const QString& partName() const { return partName_; }

private:
    enum class Token { Start, End, Text, EndOfPart };
    enum class Markup { Incomplete, Skipped, Start, End, Text };

    struct Attribute {
        std::string_view local;
        std::string_view raw;
        bool prefixed = false;
        mutable std::optional<std::string> decoded;
    };

    Token next();
    Markup markup();
    Markup startTag();
    bool refill();
    void prepareEncoding();
    bool declaresWindows1252(std::string_view declaration) const;
    void decode(std::string_view raw, std::string& out) const;
    std::optional<std::string_view> value(const Attribute& attribute) const;
    void push(std::string_view name);
    void pop(std::string_view name);

    Source source_;
    QString partName_;
    QString failurePrefix_;
    std::string buffer_;
    size_t position_ = 0;
    size_t searched_ = 0; // how far the current incomplete token was already searched
    bool ended_ = false;
    bool started_ = false;

    std::string_view name_;
    std::string_view text_;
    bool textIsRaw_ = false; // CDATA: no entities
    bool pendingEnd_ = false;
    std::vector<Attribute> attributes_;
    size_t attributeCount_ = 0;
    std::string openNames_; // qualified names of the open elements, back to back
    std::vector<size_t> openEnds_;
};

} // namespace spreadsheet

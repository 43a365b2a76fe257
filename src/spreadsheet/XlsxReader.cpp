#include "spreadsheet/XlsxReader.h"

#include "spreadsheet/CellAddress.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/HugePages.h"
#include "spreadsheet/XmlScanner.h"
#include "spreadsheet/ZipParts.h"

#include <QHash>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <thread>
#include <vector>
#include <zip.h>

namespace spreadsheet {

namespace {

constexpr double kOleEpochOffset1904 = 1462; // 1904-01-01 counted from 1899-12-30
constexpr double kLastOleDay = 2958465;      // 9999-12-31

QString text(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

// Texts kept back to back in one buffer.
class StringPool {
public:
    std::uint32_t add(QStringView text)
    {
        data_.append(text);
        ends_.push_back(data_.size());
        return static_cast<std::uint32_t>(ends_.size() - 1);
    }
    QString at(std::size_t index) const
    {
        const qsizetype begin = index == 0 ? 0 : ends_[index - 1];
        return data_.mid(begin, ends_[index] - begin);
    }
    std::size_t size() const { return ends_.size(); }

private:
    QString data_;
    std::vector<qsizetype> ends_;
};

// OOXML writes characters that XML cannot hold as _xHHHH_ (_x005F_ for the underscore).
QString decodeEscapes(std::string_view utf8)
{
    QString in = text(utf8);
    if (!in.contains(u"_x"))
        return in;
    QString out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == u'_' && i + 6 < in.size() && in[i + 1] == u'x' && in[i + 6] == u'_') {
            bool ok = false;
            const uint code = QStringView(in).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out.append(QChar(static_cast<char16_t>(code)));
                i += 6;
                continue;
            }
        }
        out.append(in[i]);
    }
    return out;
}

// Text of <si> or <is>: plain <t>, or the <t> of rich-text runs joined; phonetic runs left out.
QString readRichText(XmlScanner& part)
{
    std::string utf8;
    while (part.nextChild()) {
        const std::string_view name = part.name();
        if (name == "t") {
            part.readText(utf8);
        } else if (name == "r") {
            while (part.nextChild()) {
                if (part.name() == "t")
                    part.readText(utf8);
                else
                    part.skip();
            }
        } else {
            part.skip();
        }
    }
    return decodeEscapes(utf8);
}

std::string_view withoutBlanks(std::string_view text)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<double> parseXmlNumber(std::string_view text)
{
    text = withoutBlanks(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value))
        return std::nullopt;
    return value;
}

template <typename Integer> std::optional<Integer> parseInteger(std::string_view text)
{
    text = withoutBlanks(text);
    Integer value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// parseInteger() for the short run of digits that styles and string indexes are written
// as, without a call to the library's parser.
std::optional<std::uint32_t> parseDigits(std::string_view text)
{
    if (text.empty() || text.size() > 9)
        return parseInteger<std::uint32_t>(text);
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return parseInteger<std::uint32_t>(text);
        value = value * 10 + std::uint32_t(c - '0');
    }
    return value;
}

bool isTrue(std::string_view value)
{
    value = withoutBlanks(value);
    return value == "1" || value == "true";
}

QString attributeText(const XmlScanner& part, std::string_view name)
{
    const std::optional<std::string_view> value = part.attribute(name);
    return value ? text(*value) : QString();
}

struct Relationship {
    QString type;
    QString target; // part name, resolved
};

QString relationshipsOf(const QString& part)
{
    const qsizetype slash = part.lastIndexOf(u'/');
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) +
           QStringLiteral(".rels");
}

QString resolveTarget(const QString& source, const QString& target)
{
    QString path = QUrl::fromPercentEncoding(target.toUtf8());
    path.replace(u'\\', u'/');
    if (!path.startsWith(u'/'))
        path.prepend(source.left(source.lastIndexOf(u'/') + 1));
    QStringList segments;
    for (const QString& segment : path.split(u'/', Qt::SkipEmptyParts)) {
        if (segment == u"..") {
            if (!segments.isEmpty())
                segments.removeLast();
        } else if (segment != u".") {
            segments.append(segment);
        }
    }
    return segments.join(u'/');
}

QHash<QString, Relationship> readRelationships(ZipArchive& zip, const QString& source)
{
    QHash<QString, Relationship> relationships;
    const QString name = source.isEmpty() ? QStringLiteral("_rels/.rels") : relationshipsOf(source);
    if (!zip.contains(name))
        return relationships;
    XmlPart part(zip, name, zip.limits().smallPartBytes);
    part.root("Relationships");
    while (part.nextChild()) {
        if (part.name() == "Relationship" && part.attribute("TargetMode") != "External") {
            relationships.insert(attributeText(part, "Id"),
                                 {attributeText(part, "Type"),
                                  resolveTarget(source, attributeText(part, "Target"))});
        }
        part.skip();
    }
    part.readToEnd();
    return relationships;
}

// The target of the first relationship of a type ("/styles"), or "".
QString targetOfType(const QHash<QString, Relationship>& relationships, QStringView type)
{
    for (const Relationship& relationship : relationships) {
        if (relationship.type.endsWith(type))
            return relationship.target;
    }
    return {};
}

struct WorkbookPart {
    bool date1904 = false;
    std::vector<std::pair<QString, QString>> sheets; // name, relationship id, in tab order
};

WorkbookPart readWorkbook(ZipArchive& zip, const QString& name)
{
    WorkbookPart workbook;
    XmlPart part(zip, name, zip.limits().smallPartBytes);
    part.root("workbook");
    while (part.nextChild()) {
        if (part.name() == "workbookPr") {
            workbook.date1904 = isTrue(part.attribute("date1904").value_or(""));
        } else if (part.name() == "sheets") {
            while (part.nextChild()) {
                if (part.name() == "sheet") {
                    const std::optional<std::string_view> id = part.prefixedAttribute("id");
                    workbook.sheets.emplace_back(attributeText(part, "name"),
                                                 id ? text(*id) : QString());
                }
                part.skip();
            }
            continue;
        }
        part.skip();
    }
    part.readToEnd();
    return workbook;
}

// For each cell format (the cell's s attribute), whether it shows a date.
std::vector<bool> readDateStyles(ZipArchive& zip, const QString& name)
{
    QHash<int, bool> customFormats;
    std::vector<int> formatIds;
    XmlPart part(zip, name, zip.limits().smallPartBytes);
    part.root("styleSheet");
    while (part.nextChild()) {
        const bool formats = part.name() == "numFmts";
        if (formats || part.name() == "cellXfs") {
            while (part.nextChild()) {
                const int id =
                    parseInteger<int>(part.attribute("numFmtId").value_or("")).value_or(0);
                if (formats && part.name() == "numFmt")
                    customFormats.insert(id, isDateFormatCode(attributeText(part, "formatCode")));
                else if (!formats && part.name() == "xf")
                    formatIds.push_back(id);
                part.skip();
            }
            continue;
        }
        part.skip();
    }
    part.readToEnd();
    std::vector<bool> dates;
    dates.reserve(formatIds.size());
    for (int id : formatIds)
        dates.push_back(customFormats.contains(id) ? customFormats.value(id)
                                                   : isBuiltInDateFormat(id));
    return dates;
}

StringPool readSharedStrings(ZipArchive& zip, const QString& name, zip_t* handle,
                             const std::atomic<bool>& stop)
{
    StringPool strings;
    XmlPart part(zip, name, zip.limits().partBytes, handle, &stop);
    part.root("sst");
    while (part.nextChild()) {
        if (part.name() == "si")
            strings.add(readRichText(part));
        else
            part.skip();
    }
    part.readToEnd();
    return strings;
}

// The shared strings, read on a thread of their own while the worksheet is scanned: they are
// needed only once its cells are all there.
class AheadStrings {
public:
    AheadStrings(ZipArchive& zip, const QString& name) : handle_(zip.openAgain())
    {
        try {
            thread_ = std::thread([this, &zip, name] {
                try {
                    strings_ = readSharedStrings(zip, name, handle_, stop_);
                } catch (const PartAbandoned&) {
                } catch (...) {
                    failure_ = std::current_exception();
                }
            });
        } catch (...) {
            zip_discard(handle_);
            throw;
        }
    }
    ~AheadStrings()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        zip_discard(handle_);
    }
    AheadStrings(const AheadStrings&) = delete;
    AheadStrings& operator=(const AheadStrings&) = delete;

    // Waits for the strings; their part's failure, if any, is thrown here.
    StringPool& strings()
    {
        if (thread_.joinable())
            thread_.join();
        if (failure_)
            std::rethrow_exception(failure_);
        return strings_;
    }

private:
    zip_t* handle_;
    std::atomic<bool> stop_ = false;
    StringPool strings_;
    std::exception_ptr failure_;
    std::thread thread_;
};

QDateTime fromOleDays(double days)
{
    const double whole = std::floor(days);
    qint64 day = static_cast<qint64>(whole);
    qint64 msec = std::llround((days - whole) * 86400000.0);
    if (msec >= 86400000) {
        ++day;
        msec -= 86400000;
    }
    return QDateTime(QDate(1899, 12, 30).addDays(day),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(msec)), Qt::UTC);
}

std::optional<double> serialToOleDays(double serial, bool date1904)
{
    if (!std::isfinite(serial) || serial < 0)
        return std::nullopt;
    double days = serial;
    if (date1904)
        days += kOleEpochOffset1904;
    else if (serial >= 1 && serial < 61)
        days += 1; // the 1900 system counts a 29 February 1900 that never was
    if (days >= kLastOleDay + 1)
        return std::nullopt;
    return days;
}

enum class Kind : std::uint8_t { Number, Date, Boolean, Shared, Inline, Error };

struct Cell {
    std::uint32_t row;
    std::uint16_t column;
    Kind kind;
    double payload; // number, date as days from 1899-12-30, 0/1, or a string index

    bool before(const Cell& other) const
    {
        return row != other.row ? row < other.row : column < other.column;
    }
};

class XlsxSheet final : public Worksheet {
public:
    CellValue value(int row, int column) const override
    {
        if (row < 1 || column < 1 || row > lastRow() || column > kMaxColumns)
            return CellValue::empty();
        // Only the row's own cells are searched.
        const auto begin = cells_.begin() + std::ptrdiff_t(rowFirst_[std::size_t(row)]);
        const auto end = cells_.begin() + std::ptrdiff_t(rowFirst_[std::size_t(row) + 1]);
        const auto found = std::lower_bound(
            begin, end, column, [](const Cell& cell, int wanted) { return cell.column < wanted; });
        if (found == end || found->column != column)
            return CellValue::empty();
        const auto index = static_cast<std::size_t>(found->payload);
        switch (found->kind) {
        case Kind::Number:
            return CellValue::fromNumber(found->payload);
        case Kind::Date:
            return CellValue::fromDate(fromOleDays(found->payload));
        case Kind::Boolean:
            return CellValue::fromBoolean(found->payload != 0);
        case Kind::Shared:
            return CellValue::fromText(shared_.at(index));
        case Kind::Inline:
            return CellValue::fromText(inline_.at(index));
        case Kind::Error:
            return CellValue::error(inline_.at(index));
        }
        return CellValue::empty();
    }

    int lastRow() const override
    {
        return cells_.empty() ? 0 : static_cast<int>(cells_.back().row);
    }

    // Once the cells are in order: where each row's cells begin.
    void indexRows()
    {
        const std::size_t rows = std::size_t(lastRow()) + 2;
        rowFirst_.assign(rows, 0);
        std::size_t at = 0;
        for (std::size_t row = 0; row < rows; ++row) {
            while (at < cells_.size() && cells_[at].row < row)
                ++at;
            rowFirst_[row] = std::uint32_t(at);
        }
    }

    std::vector<Cell> cells_;
    std::vector<std::uint32_t> rowFirst_{0, 0}; // first cell of row r at r; one past the last row
    StringPool shared_;
    StringPool inline_;
};

class SheetReader {
public:
    SheetReader(XmlScanner& part, XlsxSheet& sheet, const std::vector<bool>& dateStyles,
                bool date1904)
        : part_(part), sheet_(sheet), dateStyles_(dateStyles), date1904_(date1904)
    {}

    // `expectedBytes`: the size the archive states for the part, to make room for its cells
    // once instead of copying them as they grow. `sharedCount` waits for the shared strings,
    // read meanwhile, and throws their part's failure, which comes before the worksheet's.
    void read(qint64 expectedBytes, const std::function<std::size_t()>& sharedCount)
    {
        // Few cells take less than 24 bytes of XML; pages never written cost nothing.
        const auto expected = static_cast<std::size_t>(
            std::clamp<qint64>(expectedBytes / kLeastCellBytes, 0, kMostReservedCells));
        try {
            sheet_.cells_.reserve(expected);
            adviseHugePages(sheet_.cells_.data(), sheet_.cells_.capacity() * sizeof(Cell));
        } catch (const std::bad_alloc&) {
            // Only a hint: the cells grow as they come.
        }
        try {
            part_.root("worksheet");
            while (part_.nextChild()) {
                if (part_.name() == "sheetData") {
                    readSheetData();
                    break; // nothing after the cells matters here
                }
                part_.skip();
            }
            part_.readToEnd();
        } catch (...) {
            // A cell before the fault that names a missing string is the first failure.
            checkShared(sharedCount());
            throw;
        }
        checkShared(sharedCount());
        finish();
    }

private:
    enum class Type { Number, Shared, InlineString, FormulaString, Boolean, Error, IsoDate };

    static Type typeOf(std::string_view t)
    {
        if (t == "s")
            return Type::Shared;
        if (t == "inlineStr")
            return Type::InlineString;
        if (t == "str")
            return Type::FormulaString;
        if (t == "b")
            return Type::Boolean;
        if (t == "e")
            return Type::Error;
        if (t == "d")
            return Type::IsoDate;
        return Type::Number;
    }

    void readSheetData()
    {
        while (part_.nextChild()) {
            if (part_.name() == "row")
                readRow();
            else
                part_.skip();
        }
    }

    void readRow()
    {
        if (const std::optional<std::string_view> number = part_.attribute("r"))
            row_ = parseInteger<int>(*number).value_or(0);
        else
            ++row_;
        if (row_ < 1 || row_ > kMaxRows)
            part_.fail(QStringLiteral("tiene un número de renglón no válido"));
        column_ = 0;
        for (;;) {
            if (readUsualCell())
                continue;
            if (!part_.nextChild())
                break;
            if (part_.name() == "c")
                readCell();
            else
                part_.skip();
        }
    }

    // The row of a cell, from its reference or after the cell before it.
    int place(std::optional<std::string_view> reference)
    {
        int row = row_;
        if (reference) {
            const std::optional<CellAddress> address = parseCellAddress(*reference);
            if (!address) {
                part_.fail(QStringLiteral("tiene una celda con la referencia no válida \"%1\"")
                               .arg(text(*reference)));
            }
            row = address->row;
            column_ = address->column;
        } else {
            ++column_;
        }
        if (column_ > kMaxColumns)
            part_.fail(QStringLiteral("tiene demasiadas columnas en el renglón %1").arg(row));
        return row;
    }

    // The cell almost every workbook writes, <c r="B2" s="1" t="s"><v>12</v></c> (t and s
    // optional, in any order), read from the part's bytes at a fraction of the scanner's cost.
    // Anything else (other attributes or children, entities, other spacing or types, a text
    // value, a cell cut by the end of what is held) is left to readCell(), which then reads it
    // from the same place: the result and the faults are the same either way. The few bytes of
    // each attribute are searched by hand: a library search per attribute cost more than them.
    bool readUsualCell()
    {
        std::string_view rest = part_.held();
        size_t i = 0;
        while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\n' || rest[i] == '\r'))
            ++i;
        rest = rest.substr(i, kLongestUsualCell);
        const size_t size = rest.size();
        if (size < 3 || rest[0] != '<' || rest[1] != 'c' || rest[2] != ' ')
            return false;
        std::optional<std::string_view> reference;
        std::optional<std::string_view> type;
        std::optional<std::string_view> style;
        size_t at = 2;
        for (;;) {
            while (at < size && rest[at] == ' ')
                ++at;
            if (at >= size)
                return false;
            if (rest[at] == '>')
                break;
            const char name = rest[at];
            if (at + 3 >= size || rest[at + 1] != '=' || rest[at + 2] != '"')
                return false;
            size_t quote = at + 3;
            for (; quote < size && rest[quote] != '"'; ++quote) {
                if (rest[quote] == '<' || rest[quote] == '&')
                    return false;
            }
            if (quote >= size)
                return false;
            std::optional<std::string_view>* slot = name == 'r'   ? &reference
                                                    : name == 't' ? &type
                                                    : name == 's' ? &style
                                                                  : nullptr;
            if (!slot || *slot)
                return false;
            *slot = rest.substr(at + 3, quote - at - 3);
            at = quote + 1;
            if (at >= size || (rest[at] != ' ' && rest[at] != '>'))
                return false;
        }
        ++at;
        constexpr std::string_view open = "<v>";
        constexpr std::string_view close = "</v></c>";
        if (!reference || rest.substr(at, open.size()) != open)
            return false;
        at += open.size();
        size_t end = at;
        for (; end < size && rest[end] != '<'; ++end) {
            const char c = rest[end];
            const bool numeric =
                (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E';
            if (!numeric)
                return false;
        }
        if (rest.substr(end, close.size()) != close)
            return false;
        const std::string_view t = type.value_or("");
        if (!(t.empty() || t == "n" || t == "s" || t == "b"))
            return false;

        const int row = place(reference);
        const std::size_t styleIndex = style ? parseDigits(*style).value_or(0) : 0;
        addValue(row, typeOf(t), styleIndex, rest.substr(at, end - at));
        part_.consume(i + end + close.size());
        return true;
    }

    void readCell()
    {
        const int row = place(part_.attribute("r"));
        const Type type = typeOf(part_.attribute("t").value_or(""));
        const std::size_t style =
            parseInteger<std::uint32_t>(part_.attribute("s").value_or("")).value_or(0);

        bool hasValue = false;
        bool hasInline = false;
        bool hasFormula = false;
        value_.clear();
        QString inlineText;
        while (part_.nextChild()) {
            const std::string_view name = part_.name();
            if (name == "v") {
                hasValue = true;
                part_.readText(value_);
            } else if (name == "is") {
                hasInline = true;
                inlineText = readRichText(part_);
            } else {
                hasFormula = hasFormula || name == "f";
                part_.skip();
            }
        }
        // Written by a program that does not calculate (a library, say): its value is unknown,
        // where an empty cell would end the sheet or pass a sale over without a word.
        if (hasFormula && !hasValue && !hasInline) {
            add({static_cast<std::uint32_t>(row), static_cast<std::uint16_t>(column_), Kind::Error,
                 double(sheet_.inline_.add(kUncalculated))});
            return;
        }

        if (type == Type::InlineString) {
            if (!hasInline && !hasValue)
                return;
            Cell cell{static_cast<std::uint32_t>(row), static_cast<std::uint16_t>(column_),
                      Kind::Inline, 0};
            cell.payload = sheet_.inline_.add(hasInline ? inlineText : decodeEscapes(value_));
            add(cell);
            return;
        }
        if (!hasValue)
            return; // a formatted cell with nothing in it
        addValue(row, type, style, value_);
    }

    // A cell of the current column with its value, of any type but an inline string.
    void addValue(int row, Type type, std::size_t style, std::string_view value)
    {
        Cell cell{static_cast<std::uint32_t>(row), static_cast<std::uint16_t>(column_),
                  Kind::Number, 0};
        if (type == Type::Shared) {
            const std::optional<std::uint32_t> index = parseDigits(value);
            if (!index)
                badValue(cell, kMissingString);
            cell.kind = Kind::Shared;
            cell.payload = *index;
            mostShared_ = std::max<std::int64_t>(mostShared_, *index);
        } else if (type == Type::FormulaString) {
            cell.kind = Kind::Inline;
            cell.payload = sheet_.inline_.add(decodeEscapes(value));
        } else if (type == Type::Boolean) {
            cell.kind = Kind::Boolean;
            cell.payload = isTrue(value) ? 1 : 0;
        } else if (type == Type::Error) {
            cell.kind = Kind::Error;
            cell.payload = sheet_.inline_.add(text(value));
        } else if (type == Type::IsoDate) {
            const QDateTime date = QDateTime::fromString(text(value).trimmed(), Qt::ISODate);
            if (!date.isValid())
                badValue(cell, QStringLiteral("una fecha no válida"));
            cell.kind = Kind::Date;
            cell.payload = static_cast<double>(QDate(1899, 12, 30).daysTo(date.date())) +
                           date.time().msecsSinceStartOfDay() / 86400000.0;
        } else {
            const std::optional<double> number = parseXmlNumber(value);
            if (!number)
                badValue(cell, QStringLiteral("un número no válido"));
            cell.payload = *number;
            if (style < dateStyles_.size() && dateStyles_[style]) {
                if (const std::optional<double> days = serialToOleDays(*number, date1904_)) {
                    cell.kind = Kind::Date;
                    cell.payload = *days;
                }
            }
        }
        add(cell);
    }

    void add(const Cell& cell)
    {
        if (!sheet_.cells_.empty() && !sheet_.cells_.back().before(cell))
            ordered_ = false;
        sheet_.cells_.push_back(cell);
    }

    [[noreturn]] void badValue(const Cell& cell, const QString& what) const
    {
        part_.fail(QStringLiteral("tiene en la celda %1 %2")
                       .arg(addressText(static_cast<int>(cell.row), cell.column), what));
    }

    // The cells are still in the worksheet's order: the first that names a string beyond the
    // shared ones is the one reported.
    void checkShared(std::size_t count) const
    {
        if (mostShared_ < std::int64_t(count))
            return;
        for (const Cell& cell : sheet_.cells_) {
            if (cell.kind == Kind::Shared && cell.payload >= double(count))
                badValue(cell, kMissingString);
        }
    }

    // Rows or cells out of order are rare but legal; a repeated cell keeps its last value.
    void finish()
    {
        std::vector<Cell>& cells = sheet_.cells_;
        if (!ordered_) {
            std::stable_sort(cells.begin(), cells.end(),
                             [](const Cell& a, const Cell& b) { return a.before(b); });
            std::vector<Cell> unique;
            unique.reserve(cells.size());
            for (const Cell& cell : cells) {
                if (!unique.empty() && !unique.back().before(cell))
                    unique.back() = cell;
                else
                    unique.push_back(cell);
            }
            cells.swap(unique);
        }
        // Only a sheet of mostly empty formatted cells leaves much room unused.
        if (cells.capacity() > 2 * cells.size() + 4096)
            cells.shrink_to_fit();
        sheet_.indexRows();
    }

    static inline const QString kUncalculated =
        QStringLiteral("fórmula sin valor calculado: abra el libro en la hoja de cálculo y "
                       "guárdelo");
    static inline const QString kMissingString =
        QStringLiteral("un texto compartido que no existe");
    static constexpr qint64 kLeastCellBytes = 24;
    // Far more than a usual cell takes: the search for its end stops there.
    static constexpr size_t kLongestUsualCell = 256;
    static constexpr qint64 kMostReservedCells = qint64(1) << 22;

    XmlScanner& part_;
    XlsxSheet& sheet_;
    const std::vector<bool>& dateStyles_;
    bool date1904_;
    int row_ = 0;
    int column_ = 0;
    bool ordered_ = true;
    std::int64_t mostShared_ = -1;
    std::string value_;
};

bool startsWith(const QByteArray& bytes, const char* prefix, qsizetype length)
{
    return bytes.size() >= length && std::memcmp(bytes.constData(), prefix, size_t(length)) == 0;
}

} // namespace

bool isBuiltInDateFormat(int id)
{
    // 27-36 and 50-58 are the dates of East Asian editions.
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
           (id >= 50 && id <= 58);
}

bool isDateFormatCode(QStringView code)
{
    bool date = false;
    bool clock = false;
    bool elapsed = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const char16_t c = QChar::toLower(code[i].unicode());
        if (c == u'"') {
            const qsizetype close = code.indexOf(u'"', i + 1);
            i = close < 0 ? code.size() : close;
        } else if (c == u'[') {
            const qsizetype close = code.indexOf(u']', i + 1);
            const QStringView inside = code.mid(i + 1, (close < 0 ? code.size() : close) - i - 1);
            if (!inside.isEmpty() &&
                (inside.front().toLower() == u'h' || inside.front().toLower() == u'm' ||
                 inside.front().toLower() == u's'))
                elapsed = true;
            i = close < 0 ? code.size() : close;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            ++i; // an escaped, spacing or fill character
        } else if (c == u'd' || c == u'y') {
            date = true;
        } else if (c == u'm' || c == u'h' || c == u's') {
            clock = true;
        }
    }
    return date || (clock && !elapsed);
}

std::optional<QDateTime> serialToDateTime(double serial, bool date1904)
{
    if (const std::optional<double> days = serialToOleDays(serial, date1904))
        return fromOleDays(*days);
    return std::nullopt;
}

std::unique_ptr<Worksheet> readXlsx(const QByteArray& bytes, const QString& path,
                                    const XlsxLimits& limits)
{
    if (startsWith(bytes, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
        encrypted(path);
    if (bytes.isEmpty())
        damaged(path, QStringLiteral("el archivo está vacío"));
    if (!startsWith(bytes, "PK", 2))
        damaged(path, QStringLiteral("no es un archivo ZIP"));

    ZipArchive zip(bytes, path, limits);
    QString workbookName = targetOfType(readRelationships(zip, QString()), u"/officeDocument");
    if (workbookName.isEmpty())
        workbookName = QStringLiteral("xl/workbook.xml");
    if (!zip.contains(workbookName))
        damaged(path, QStringLiteral("falta la parte %1").arg(workbookName));

    const WorkbookPart workbook = readWorkbook(zip, workbookName);
    const QHash<QString, Relationship> relationships = readRelationships(zip, workbookName);
    QString sheetName;
    for (const auto& [name, id] : workbook.sheets) {
        const auto relationship = relationships.constFind(id);
        if (relationship == relationships.constEnd()) {
            damaged(path, QStringLiteral("la hoja \"%1\" no tiene su parte en el libro").arg(name));
        }
        // Chart sheets and macro sheets are not worksheets.
        if (relationship->type.endsWith(u"/worksheet")) {
            sheetName = relationship->target;
            break;
        }
    }
    if (sheetName.isEmpty())
        damaged(path, QStringLiteral("el libro no tiene ninguna hoja de cálculo"));

    // The worksheet is unpacked while the styles and shared strings are read.
    auto sheetPart = std::make_unique<AheadPart>(zip, sheetName, limits.partBytes);

    auto partOfType = [&](QStringView type, const QString& usual) {
        const QString target = targetOfType(relationships, type);
        if (!target.isEmpty() && zip.contains(target))
            return target;
        return zip.contains(usual) ? usual : QString();
    };
    std::vector<bool> dateStyles;
    const QString stylesName = partOfType(u"/styles", QStringLiteral("xl/styles.xml"));
    if (!stylesName.isEmpty())
        dateStyles = readDateStyles(zip, stylesName);

    auto sheet = std::make_unique<XlsxSheet>();
    const QString stringsName =
        partOfType(u"/sharedStrings", QStringLiteral("xl/sharedStrings.xml"));
    std::optional<AheadStrings> strings;
    if (!stringsName.isEmpty())
        strings.emplace(zip, stringsName);

    SheetPart part(std::move(sheetPart), sheetName, path);
    SheetReader(part, *sheet, dateStyles, workbook.date1904)
        .read(part.declaredBytes(),
              [&]() -> std::size_t { return strings ? strings->strings().size() : 0; });
    if (strings)
        sheet->shared_ = std::move(strings->strings());
    return sheet;
}

} // namespace spreadsheet

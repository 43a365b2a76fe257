#include "spreadsheet/CsvReader.h"

#include "plaintext/Windows1252.h"
#include "spreadsheet/CellAddress.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/HugePages.h"
#include "spreadsheet/Recognizer.h"
#include "spreadsheet/TextDecoding.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace spreadsheet {

namespace {

enum class Encoding { Utf8, Windows1252 };

constexpr qsizetype kSampleBytes = 64 * 1024;
// What one cell of a spreadsheet holds, in UTF-16 units; a longer field is no sales data.
constexpr qsizetype kMaxCellCharacters = 32767;
constexpr size_t kSampleRecords = 100;

class CsvSheet final : public Worksheet {
public:
    CsvSheet(QByteArray content, std::vector<std::uint32_t> cellStart,
             std::vector<std::uint32_t> rowStart, Encoding encoding, const Regional& regional)
        : content_(std::move(content)), cellStart_(std::move(cellStart)),
          rowStart_(std::move(rowStart)), encoding_(encoding), regional_(regional)
    {}

    CellValue value(int row, int column) const override
    {
        if (row < 1 || column < 1 || row > lastRow())
            return CellValue::empty();
        const std::uint32_t first = rowStart_[static_cast<size_t>(row) - 1];
        const std::uint32_t count = rowStart_[static_cast<size_t>(row)] - first;
        if (static_cast<std::uint32_t>(column) > count)
            return CellValue::empty();
        const size_t cell = first + static_cast<size_t>(column) - 1;
        const std::uint32_t begin = cellStart_[cell];
        const auto size = static_cast<qsizetype>(cellStart_[cell + 1] - begin);
        if (size == 0)
            return CellValue::empty();
        const char* data = content_.constData() + begin;
        const QString text = encoding_ == Encoding::Utf8
                                 ? QString::fromUtf8(data, size)
                                 : plaintext::decodeWindows1252({data, size});
        return recognise(text, regional_);
    }

    int lastRow() const override { return static_cast<int>(rowStart_.size()) - 1; }

private:
    QByteArray content_;
    std::vector<std::uint32_t> cellStart_; // cell i holds content_[cellStart_[i], cellStart_[i+1])
    std::vector<std::uint32_t>
        rowStart_; // row r (from 1) holds cells [rowStart_[r-1], rowStart_[r])
    Encoding encoding_;
    Regional regional_;
};

int lineOf(const char* data, qsizetype position)
{
    int line = 1;
    for (qsizetype i = 0; i < position; ++i) {
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 >= position || data[i + 1] != '\n')))
            ++line;
    }
    return line;
}

bool startsWith(const QByteArray& bytes, const char* prefix, qsizetype length)
{
    return bytes.size() >= length && std::memcmp(bytes.constData(), prefix, size_t(length)) == 0;
}

// "sep=;" on the first line, as spreadsheets write and honour it; its length, or 0.
qsizetype separatorLine(const char* data, qsizetype size, char& separator)
{
    if (size < 5 || QByteArray(data, 4).compare("sep=", Qt::CaseInsensitive) != 0)
        return 0;
    if (size > 5 && data[5] != '\r' && data[5] != '\n')
        return 0;
    separator = data[4];
    if (separator == '"' || separator == '\r' || separator == '\n')
        return 0;
    qsizetype length = 5;
    if (length < size && data[length] == '\r')
        ++length;
    if (length < size && data[length] == '\n')
        ++length;
    return length;
}

// UTF-16 units of a field: one per character that does not continue a UTF-8 sequence, two for
// a character beyond the basic plane.
qsizetype characters(const char* data, qsizetype size, Encoding encoding)
{
    if (encoding == Encoding::Windows1252)
        return size;
    qsizetype count = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        count += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
    }
    return count;
}

[[noreturn]] void cellTooLong(const QString& path, int row, int column, qsizetype length)
{
    throw Failure(QStringLiteral("El archivo \"%1\" tiene en la celda %2 (fila %3) un texto de "
                                 "%4 caracteres; una celda de hoja de cálculo admite como máximo "
                                 "%5. El archivo está dañado o no es un libro de ventas.")
                      .arg(path, addressText(row, column))
                      .arg(row)
                      .arg(length)
                      .arg(kMaxCellCharacters));
}

[[noreturn]] void unclosedQuote(const QString& path, int row)
{
    throw Failure(QStringLiteral("El archivo \"%1\" tiene una comilla sin cerrar: el campo que "
                                 "empieza en la fila %2 no termina antes del final del archivo.")
                      .arg(path)
                      .arg(row));
}

} // namespace

char detectSeparator(const char* data, qsizetype size)
{
    constexpr std::array<char, 3> candidates = {'\t', ';', ','}; // in order of preference
    std::vector<std::array<int, 3>> records;
    std::array<int, 3> current{};
    bool inQuotes = false;
    bool blank = true;
    const qsizetype limit = std::min(size, kSampleBytes);
    qsizetype i = 0;
    for (; i < limit && records.size() < kSampleRecords; ++i) {
        const char c = data[i];
        if (c == '"') {
            inQuotes = !inQuotes;
            blank = false;
        } else if (inQuotes) {
            continue;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < limit && data[i + 1] == '\n')
                ++i;
            if (!blank)
                records.push_back(current);
            current = {};
            blank = true;
        } else {
            blank = false;
            for (size_t k = 0; k < candidates.size(); ++k) {
                if (c == candidates[k])
                    ++current[k];
            }
        }
    }
    // The last record counts when it is whole, or when it is all there is.
    if (!blank && (i >= size || records.empty()))
        records.push_back(current);
    if (records.empty())
        return ',';

    // The separator appears on the first record and the same number of times on the most
    // records; a decimal comma in a ';' file changes its count from field to field.
    int best = -1;
    size_t bestMatches = 0;
    for (size_t k = 0; k < candidates.size(); ++k) {
        const int first = records.front()[k];
        if (first == 0)
            continue;
        size_t matches = 0;
        for (const auto& record : records)
            matches += record[k] == first ? 1 : 0;
        if (matches > bestMatches) {
            best = static_cast<int>(k);
            bestMatches = matches;
        }
    }
    return best < 0 ? ',' : candidates[static_cast<size_t>(best)];
}

std::unique_ptr<Worksheet> readCsv(QByteArray bytes, const QString& path, const Regional& regional)
{
    if (bytes.size() > kMaxCsvBytes) {
        throw Failure(QStringLiteral("El archivo \"%1\" es demasiado grande para leerlo "
                                     "(más de %2 MiB).")
                          .arg(path)
                          .arg(kMaxCsvBytes >> 20));
    }
    qsizetype start = 0;
    Encoding encoding = Encoding::Utf8;
    if (startsWith(bytes, "\xFF\xFE", 2) || startsWith(bytes, "\xFE\xFF", 2)) {
        // Excel's "Unicode text" is UTF-16; it is turned into UTF-8 once, before splitting.
        bytes = utf16ToUtf8(bytes, bytes[0] == '\xFE');
    } else if (bytes.size() >= 4 && bytes.size() % 2 == 0 && bytes[0] != 0 && bytes[1] == 0 &&
               bytes[2] != 0 && bytes[3] == 0) {
        bytes = utf16ToUtf8(bytes, false); // UTF-16 without its mark
    } else if (startsWith(bytes, "\xEF\xBB\xBF", 3)) {
        start = 3;
    }
    // Old systems pad a file with NUL bytes or end it with Ctrl-Z.
    qsizetype end = bytes.size();
    while (end > start && (bytes[end - 1] == '\0' || bytes[end - 1] == '\x1A'))
        --end;
    char* data = bytes.data();
    if (const void* nul = std::memchr(data + start, 0, size_t(end - start))) {
        const qsizetype at = static_cast<const char*>(nul) - data;
        throw Failure(QStringLiteral("El archivo \"%1\" no es un archivo de texto CSV: tiene "
                                     "datos binarios (bytes nulos) en la línea %2.")
                          .arg(path)
                          .arg(lineOf(data + start, at - start)));
    }
    if (!isValidUtf8(data + start, size_t(end - start))) {
        // A file marked as UTF-8, or one with as many UTF-8 letters as bytes that are not: a
        // damaged UTF-8 file, which read as Windows-1252 would garble every accented letter,
        // and read as UTF-8 would lose those bytes, without a word either way.
        const Utf8Mix mix = utf8Mix(data + start, size_t(end - start));
        if (start > 0 || mix.multibyte >= mix.invalid)
            throw Failure(QStringLiteral("El archivo \"%1\" está en UTF-8, pero en la línea %2 "
                                         "tiene bytes que no son UTF-8: el archivo está dañado o "
                                         "mezcla codificaciones.")
                              .arg(path)
                              .arg(lineOf(data + start, qsizetype(mix.firstInvalid))));
        encoding = Encoding::Windows1252;
    }

    char separator = ',';
    if (const qsizetype skip = separatorLine(data + start, end - start, separator))
        start += skip;
    else
        separator = detectSeparator(data + start, end - start);

    std::array<bool, 256> stops{};
    stops[static_cast<unsigned char>(separator)] = true;
    stops['\r'] = true;
    stops['\n'] = true;

    // Fields are unquoted in place: the write position never passes the read position. The
    // reserves are generous, but untouched capacity costs no memory.
    std::vector<std::uint32_t> cellStart;
    std::vector<std::uint32_t> rowStart;
    cellStart.reserve(static_cast<size_t>((end - start) / 2 + 16));
    rowStart.reserve(static_cast<size_t>((end - start) / 16 + 16));
    adviseHugePages(cellStart.data(), cellStart.capacity() * sizeof(std::uint32_t));
    cellStart.push_back(0);
    rowStart.push_back(0);

    qsizetype r = start;
    qsizetype w = 0;
    bool fieldPending = false; // a separator was the last thing read
    auto endRow = [&] { rowStart.push_back(static_cast<std::uint32_t>(cellStart.size() - 1)); };
    while (rowStart.size() <= static_cast<size_t>(kMaxRows)) {
        if (r >= end) {
            if (fieldPending) {
                cellStart.push_back(static_cast<std::uint32_t>(w));
                endRow();
            }
            break;
        }
        if (data[r] == '"') {
            const int openedAt = static_cast<int>(rowStart.size());
            ++r;
            for (;;) {
                const void* quote = std::memchr(data + r, '"', size_t(end - r));
                if (!quote)
                    unclosedQuote(path, openedAt);
                const qsizetype q = static_cast<const char*>(quote) - data;
                std::memmove(data + w, data + r, size_t(q - r));
                w += q - r;
                r = q + 1;
                if (r < end && data[r] == '"') {
                    data[w++] = '"';
                    ++r;
                    continue;
                }
                break;
            }
        }
        // What follows a closing quote up to the separator is kept as written.
        const qsizetype begin = r;
        while (r < end && !stops[static_cast<unsigned char>(data[r])])
            ++r;
        if (w != begin)
            std::memmove(data + w, data + begin, size_t(r - begin));
        w += r - begin;
        const qsizetype cellBegin = cellStart.back();
        if (w - cellBegin > kMaxCellCharacters) {
            const qsizetype length = characters(data + cellBegin, w - cellBegin, encoding);
            if (length > kMaxCellCharacters) {
                cellTooLong(path, static_cast<int>(rowStart.size()),
                            static_cast<int>(cellStart.size() - rowStart.back()), length);
            }
        }
        cellStart.push_back(static_cast<std::uint32_t>(w));
        if (r >= end) {
            endRow();
            break;
        }
        const char c = data[r++];
        if (c == separator) {
            fieldPending = true;
            continue;
        }
        if (c == '\r' && r < end && data[r] == '\n')
            ++r;
        fieldPending = false;
        endRow();
    }
    bytes.truncate(w);
    return std::make_unique<CsvSheet>(std::move(bytes), std::move(cellStart), std::move(rowStart),
                                      encoding, regional);
}

} // namespace spreadsheet

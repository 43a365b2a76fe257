#include "generation/ScanParts.h"

#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <charconv>

namespace generation {

namespace {

// Label1 shows a few rows a second; more would only slow a long run down.
constexpr qint64 kProgressIntervalMs = 200;

// Cuts to n characters, never between the halves of a surrogate pair.
QString leftCharacters(const QString& text, int n)
{
    qsizetype i = 0;
    for (int count = 0; i < text.size() && count < n; ++count)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    return text.left(i);
}

} // namespace

QString CellAddress(char column, std::int32_t row)
{
    // Up to four addresses a row: QString::number's formatting showed in the profile.
    char text[16] = {column};
    const char* end = std::to_chars(text + 1, text + sizeof text, row).ptr;
    return QString::fromLatin1(text, end - text);
}

double AmountOf(const spreadsheet::CellValue& cell, const QString& address)
{
    if (cell.kind == spreadsheet::CellValue::Kind::Error) {
        throw support::Failure(
            QStringLiteral("La celda %1 contiene un error (%2).").arg(address, cell.text));
    }
    return support::oLib->krVal(cell.toVariant());
}

QString DescripcionDetalle(const QString& trimmed)
{
    // Upper case can lengthen a text ("ß" gives "SS"); the column holds 60 characters.
    return leftCharacters(leftCharacters(trimmed, kDescripLength).toUpper(), kDescripLength);
}

QString ProgressText(const QString& cArchivo, std::int32_t nRenglon)
{
    const QString sign = nRenglon < 0 ? QString() : QStringLiteral(" ");
    return QStringLiteral("Archivo: ") + cArchivo + QStringLiteral("\r\nReng. ") + sign +
           QString::number(nRenglon);
}

void Progress::row(std::int32_t nRenglon)
{
    last_ = nRenglon;
    if (!timer_.isValid() || timer_.elapsed() >= kProgressIntervalMs) {
        show();
        timer_.start();
    }
}

void Progress::finish()
{
    if (shown_ != last_ && last_ != 0)
        show();
}

void Progress::show()
{
    surface_.setCaption(support::Label::Label1, ProgressText(file_, last_));
    surface_.paintPending();
    shown_ = last_;
}

} // namespace generation

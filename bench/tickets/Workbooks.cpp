#include "Workbooks.h"

#include <QDate>
#include <QFile>
#include <cstdint>
#include <stdexcept>
#include <xlsxwriter.h>

namespace bench {

namespace {

std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

const char* const kProducts[] = {
    "Café americano",
    "Té verde",
    "Pan dulce de maíz",
    "Jugo de naranja",
    "Torta de jamón",
    "Agua mineral",
    "Galletas de avena",
    "Chocolate caliente",
    "Piñata pequeña",
    "Cuaderno de raya",
    "Azúcar morena",
    "Limón persa",
    "Jalapeños",
    "Pingüino de peluche",
    "Crème brûlée",
    "Ñoquis de papa",
    "Café de olla",
    "Atún en aceite",
    "Acción de gracias kit",
    "Pastel tres leches",
};
constexpr int kProductCount = int(sizeof kProducts / sizeof kProducts[0]);

struct Row {
    enum class Kind { Empty, ZeroMarker, Sale };
    Kind kind = Kind::Sale;
    bool numericMarker = false; // XLSX: the marker as a number cell
    QByteArray marker;
    QDate date;
    double amount = 0;
    bool wholeAmount = false;
    QByteArray descrip;
    int caja = 1;
};

Row rowAt(int index)
{
    const std::uint64_t h = mix(std::uint64_t(index) * 0x2545f4914f6cdd1dULL + 7);
    Row row;
    const int r = int(h % 1000);
    row.caja = int((h >> 12) % 4) + 1;
    row.date = QDate(2026, 1, 1).addDays(qint64((h >> 16) % 365));
    if (r < 60) {
        row.kind = Row::Kind::ZeroMarker;
        row.marker = "0";
        row.numericMarker = (h >> 24) % 2 == 0;
    } else {
        row.marker = (h >> 24) % 10 == 0 ? "V" : "1";
        row.numericMarker = row.marker == "1" && (h >> 28) % 4 == 0;
    }
    const std::uint64_t cents = 100 + (h >> 32) % 500000;
    row.wholeAmount = (h >> 52) % 5 == 0;
    row.amount = row.wholeAmount ? double(cents / 100) : double(cents) / 100.0;
    if (r >= 60 && r < 90)
        row.amount = r % 2 ? 0.0 : -row.amount;

    QByteArray text = kProducts[(h >> 40) % kProductCount];
    const int shape = int((h >> 46) % 100);
    if (shape < 8)
        text += " presentación familiar con envase retornable, promoción de temporada";
    else if (shape < 11)
        text = "  " + text + "   ";
    else if (shape < 40)
        text += " #" + QByteArray::number(int((h >> 20) % 997));
    row.descrip = text;
    if (r < 10)
        row.kind = Row::Kind::Empty;
    return row;
}

// The rows in order. A run of empty rows is cut after three, far from the 50 that end a sheet.
template <typename Visit> void forEachRow(int rows, Visit visit)
{
    int emptyRun = 0;
    for (int i = 0; i < rows; ++i) {
        Row row = rowAt(i);
        if (row.kind == Row::Kind::Empty && emptyRun >= 3) {
            row.kind = Row::Kind::ZeroMarker;
            row.marker = "0";
        }
        emptyRun = row.kind == Row::Kind::Empty ? emptyRun + 1 : 0;
        visit(i, row);
    }
}

QByteArray amountText(const Row& row)
{
    return row.wholeAmount ? QByteArray::number(qint64(row.amount))
                           : QByteArray::number(row.amount, 'f', 2);
}

void writeCsv(const QString& path, int rows)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    QByteArray block = "Folio,Marca,Caja,Fecha,Importe,Forma de pago,Cliente,Descripción\r\n";
    forEachRow(rows, [&](int i, const Row& row) {
        if (row.kind == Row::Kind::Empty) {
            block += ",,,,,,,\r\n";
        } else {
            QByteArray descrip = row.descrip;
            descrip.replace('"', "\"\"");
            block += QByteArray::number(i + 1) + ',' + row.marker + ",Caja " +
                     QByteArray::number(row.caja) + ',' +
                     row.date.toString(QStringLiteral("dd/MM/yyyy")).toLatin1() + ',' +
                     amountText(row) + ",Efectivo,\"Cliente " + QByteArray::number(i % 9973) +
                     "\",\"" + descrip + "\"\r\n";
        }
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    });
    file.write(block);
    if (!file.flush())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void writeXlsx(const QString& path, int rows)
{
    lxw_workbook* book = workbook_new(path.toUtf8().constData());
    if (!book)
        throw std::runtime_error("cannot write " + path.toStdString());
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Ventas");
    lxw_format* dateFormat = workbook_add_format(book);
    format_set_num_format(dateFormat, "dd/mm/yyyy");
    const char* titles[] = {"Folio",   "Marca",         "Caja",    "Fecha",
                            "Importe", "Forma de pago", "Cliente", "Descripción"};
    for (lxw_col_t c = 0; c < 8; ++c)
        worksheet_write_string(sheet, 0, c, titles[c], nullptr);
    forEachRow(rows, [&](int i, const Row& row) {
        if (row.kind == Row::Kind::Empty)
            return;
        const auto r = static_cast<lxw_row_t>(i + 1);
        worksheet_write_number(sheet, r, 0, i + 1, nullptr);
        if (row.numericMarker)
            worksheet_write_number(sheet, r, 1, row.marker.toDouble(), nullptr);
        else
            worksheet_write_string(sheet, r, 1, row.marker.constData(), nullptr);
        worksheet_write_string(sheet, r, 2, ("Caja " + QByteArray::number(row.caja)).constData(),
                               nullptr);
        lxw_datetime when = {row.date.year(), row.date.month(), row.date.day(), 0, 0, 0};
        worksheet_write_datetime(sheet, r, 3, &when, dateFormat);
        worksheet_write_number(sheet, r, 4, row.amount, nullptr);
        worksheet_write_string(sheet, r, 5, "Efectivo", nullptr);
        worksheet_write_string(sheet, r, 6, ("Cliente " + QByteArray::number(i % 9973)).constData(),
                               nullptr);
        worksheet_write_string(sheet, r, 7, row.descrip.constData(), nullptr);
    });
    if (workbook_close(book) != LXW_NO_ERROR)
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

void WriteWorkbook(const QString& path, int rows)
{
    if (path.endsWith(QStringLiteral(".xlsx"), Qt::CaseInsensitive))
        writeXlsx(path, rows);
    else
        writeCsv(path, rows);
}

} // namespace bench

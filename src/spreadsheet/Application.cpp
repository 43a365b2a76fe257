#include "spreadsheet/Application.h"

#include "spreadsheet/CellAddress.h"
#include "spreadsheet/CsvReader.h"
#include "spreadsheet/Failure.h"
#include "spreadsheet/HugePages.h"
#include "spreadsheet/XlsxReader.h"

#include <QFile>
#include <QFileInfo>

namespace spreadsheet {

namespace {

enum class Format { Csv, Xlsx };

class LoadedWorkbook final : public Workbook {
public:
    LoadedWorkbook(QString path, std::unique_ptr<Worksheet> sheet)
        : Workbook(std::move(path)), sheet_(std::move(sheet))
    {}

    const Worksheet& Worksheets(int index) const override
    {
        if (!sheet_)
            throw Failure(QStringLiteral("El libro \"%1\" ya está cerrado.").arg(path()));
        if (index != 1) {
            throw Failure(QStringLiteral("El libro \"%1\" no tiene la hoja %2: solo se lee la "
                                         "primera hoja.")
                              .arg(path())
                              .arg(index));
        }
        return *sheet_;
    }

    void Close() override { sheet_.reset(); }

private:
    std::unique_ptr<Worksheet> sheet_;
};

Format formatOf(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == u"csv" || suffix == u"txt")
        return Format::Csv;
    if (suffix == u"xlsx" || suffix == u"xlsm")
        return Format::Xlsx;
    if (suffix == u"xls") {
        throw Failure(QStringLiteral("El archivo \"%1\" es un libro de Excel 97-2003 (.xls), que "
                                     "no se puede leer; guárdelo como .xlsx o .csv.")
                          .arg(path));
    }
    throw Failure(
        QStringLiteral("El archivo \"%1\" no es un libro de Excel ni un archivo CSV.").arg(path));
}

QByteArray readWholeFile(const QString& path, qint64 maxBytes)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw Failure(QStringLiteral("No existe el archivo \"%1\".").arg(path));
    if (info.isDir())
        throw Failure(QStringLiteral("\"%1\" es una carpeta, no un archivo.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        const QString reason = file.error() == QFileDevice::PermissionsError
                                   ? QStringLiteral("no tiene permiso para leerlo")
                                   : QStringLiteral("el sistema no lo deja abrir");
        throw Failure(QStringLiteral("No se puede abrir el archivo \"%1\": %2.").arg(path, reason));
    }
    if (file.size() > maxBytes) {
        throw Failure(QStringLiteral("El archivo \"%1\" es demasiado grande para leerlo (más de "
                                     "%2 MiB).")
                          .arg(path)
                          .arg(maxBytes >> 20));
    }
    // Read into room made once for the size the file has, then whatever it grew by meanwhile.
    const qint64 size = file.size();
    QByteArray bytes(size, Qt::Uninitialized);
    adviseHugePages(bytes.data(), std::size_t(size));
    qint64 got = 0;
    while (got < size) {
        const qint64 read = file.read(bytes.data() + got, size - got);
        if (read <= 0)
            break;
        got += read;
    }
    bytes.truncate(got);
    if (got == size)
        bytes += file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("No se pudo leer completo el archivo \"%1\".").arg(path));
    return bytes;
}

} // namespace

CellValue CellRange::Value() const
{
    return sheet_->value(row_, column_);
}

CellRange Worksheet::Range(const QString& address) const
{
    const std::optional<CellAddress> cell = parseCellAddress(address);
    if (!cell) {
        throw Failure(QStringLiteral("La dirección de celda \"%1\" no es válida (se espera una "
                                     "columna de A a XFD y un renglón de 1 a %2, como \"B2\").")
                          .arg(address)
                          .arg(kMaxRows));
    }
    return CellRange(*this, cell->row, cell->column);
}

std::shared_ptr<Workbook> WorkbookCollection::Open(const QString& path)
{
    if (quit_) {
        throw Failure(QStringLiteral("La aplicación de hojas de cálculo ya terminó; no puede "
                                     "abrir \"%1\".")
                          .arg(path));
    }
    const Format format = formatOf(path);
    std::unique_ptr<Worksheet> sheet;
    if (format == Format::Csv) {
        QByteArray bytes = readWholeFile(path, kMaxCsvBytes);
        // A spreadsheet opens it as an empty sheet, but it is a failed export or copy far more
        // often than a day without sales.
        if (bytes.isEmpty())
            throw Failure(QStringLiteral("El archivo \"%1\" está vacío.").arg(path));
        sheet = readCsv(std::move(bytes), path, regional_);
    } else {
        sheet = readXlsx(readWholeFile(path, kMaxXlsxBytes), path);
    }
    auto workbook = std::make_shared<LoadedWorkbook>(path, std::move(sheet));
    std::erase_if(open_, [](const std::weak_ptr<Workbook>& w) { return w.expired(); });
    open_.push_back(workbook);
    return workbook;
}

void WorkbookCollection::closeAll()
{
    for (const std::weak_ptr<Workbook>& weak : open_) {
        if (const std::shared_ptr<Workbook> workbook = weak.lock())
            workbook->Close();
    }
    open_.clear();
    quit_ = true;
}

Application::Application(Regional regional) : regional_(regional), workbooks_(regional_) {}

void Application::Quit()
{
    workbooks_.closeAll();
}

} // namespace spreadsheet

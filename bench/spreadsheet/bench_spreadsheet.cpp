// Writes a large CSV and a large XLSX sales workbook into a temporary folder, then opens each in
// a fresh process of its own, so that the peak memory reported is that of the open alone.
//
//   bench_spreadsheet                 1,000,000-row CSV and 100,000-row XLSX, 8 columns each
//   bench_spreadsheet --dir <folder>  the same, keeping the files in that folder
//   bench_spreadsheet --open <file>   open one workbook, read the scan's columns, print figures

#include "common/PeakMemory.h"
#include "spreadsheet/Application.h"
#include "spreadsheet/CellAddress.h"
#include "spreadsheet/Conversions.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>
#include <xlsxwriter.h>

namespace {

constexpr int kCsvRows = 1000000;
constexpr int kXlsxRows = 100000;

const char* const kProducts[] = {"Café americano", "Té verde",     "Pan dulce", "Jugo de naranja",
                                 "Torta de jamón", "Agua mineral", "Galletas",  "Chocolate"};

void writeCsv(const QString& path, int rows)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block;
    char line[256];
    file.write("Folio,Marca,Caja,Fecha,Importe,Forma de pago,Cliente,Descripción\r\n");
    for (int i = 0; i < rows; ++i) {
        const int n =
            std::snprintf(line, sizeof line,
                          "%d,%d,Caja %d,%02d/%02d/2026,%d.%02d,Efectivo,\"Cliente %d\",%s %d\r\n",
                          i + 1, i % 7 == 0 ? 0 : 1, i % 4 + 1, i % 28 + 1, i % 12 + 1,
                          (i * 37) % 5000, i % 100, i % 9973, kProducts[i % 8], i);
        block.append(line, n);
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block);
}

void writeXlsx(const QString& path, int rows)
{
    lxw_workbook* book = workbook_new(path.toUtf8().constData());
    lxw_worksheet* sheet = workbook_add_worksheet(book, "Ventas");
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "dd/mm/yyyy");
    for (int i = 0; i < rows; ++i) {
        const auto row = static_cast<lxw_row_t>(i + 1);
        lxw_datetime when = {2026, i % 12 + 1, i % 28 + 1, 0, 0, 0};
        worksheet_write_number(sheet, row, 0, i + 1, nullptr);
        worksheet_write_string(sheet, row, 1, i % 7 == 0 ? "0" : "1", nullptr);
        worksheet_write_string(sheet, row, 2, i % 2 ? "Caja 1" : "Caja 2", nullptr);
        worksheet_write_datetime(sheet, row, 3, &when, date);
        worksheet_write_number(sheet, row, 4, (i * 37) % 5000 + (i % 100) / 100.0, nullptr);
        worksheet_write_string(sheet, row, 5, "Efectivo", nullptr);
        worksheet_write_number(sheet, row, 6, i % 9973, nullptr);
        worksheet_write_string(
            sheet, row, 7, (QByteArray(kProducts[i % 8]) + ' ' + QByteArray::number(i)).constData(),
            nullptr);
    }
    if (workbook_close(book) != LXW_NO_ERROR)
        qFatal("cannot write %s", qPrintable(path));
}

// User plus system time of this process: the wall time depends on what else the machine runs.
double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// The figures of one open, in a process of its own.
int openOne(const QString& path)
{
    const long baseline = bench::peakKiB();
    spreadsheet::Application excel;
    QElapsedTimer timer;
    timer.start();
    double cpu = cpuMs();
    const std::shared_ptr<spreadsheet::Workbook> book = excel.Workbooks().Open(path);
    const qint64 openMs = timer.elapsed();
    const double openCpuMs = cpuMs() - cpu;
    const long openPeak = bench::peakKiB();

    // The columns the sheet scan reads, every row.
    timer.restart();
    cpu = cpuMs();
    const spreadsheet::Worksheet& sheet = book->Worksheets(1);
    qint64 characters = 0;
    for (int row = 2; row <= sheet.lastRow(); ++row) {
        for (int column : {2, 4, 5, 8}) {
            const QString address = spreadsheet::addressText(row, column);
            characters +=
                spreadsheet::CellText(sheet.Range(address).Value(), excel.regional(), address)
                    .size();
        }
    }
    const qint64 scanMs = timer.elapsed();
    const double scanCpuMs = cpuMs() - cpu;
    std::printf("  rows %d, file %.1f MiB\n", sheet.lastRow(),
                static_cast<double>(QFile(path).size()) / (1 << 20));
    std::printf("  open: %lld ms (CPU %.0f ms), peak RSS %.1f MiB (before opening: %.1f MiB)\n",
                static_cast<long long>(openMs), openCpuMs, openPeak / 1024.0, baseline / 1024.0);
    std::printf("  reading B, D, E, H of every row: %lld ms (CPU %.0f ms, %lld characters)\n",
                static_cast<long long>(scanMs), scanCpuMs, static_cast<long long>(characters));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == u"--open")
        return openOne(args[2]);

    QTemporaryDir temporary;
    const QDir dir(args.size() == 3 && args[1] == u"--dir" ? args[2] : temporary.path());
    const QString csv = dir.filePath("ventas.csv");
    const QString xlsx = dir.filePath("ventas.xlsx");
    std::printf("writing %d CSV rows and %d XLSX rows into %s\n", kCsvRows, kXlsxRows,
                qPrintable(dir.path()));
    std::fflush(stdout);
    writeCsv(csv, kCsvRows);
    writeXlsx(xlsx, kXlsxRows);
    for (const QString& file : {csv, xlsx}) {
        std::printf("%s\n", qPrintable(QFileInfo(file).fileName()));
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), {QStringLiteral("--open"), file});
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            return 1;
    }
    return 0;
}

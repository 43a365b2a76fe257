#include "generation/RecorrerHoja.h"

#include "spreadsheet/Conversions.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <QElapsedTimer>
#include <cmath>

namespace generation {

using support::Label;

namespace {

constexpr int kEmptyRowsToStop = 50;
constexpr int kDescripLength = 60;
// Label1 shows a few rows a second; more would only slow a long run down.
constexpr qint64 kProgressIntervalMs = 200;

QString address(char column, std::int32_t row)
{
    return QChar::fromLatin1(column) + QString::number(row);
}

// Cuts to n characters, never between the halves of a surrogate pair.
QString leftCharacters(const QString& text, int n)
{
    qsizetype i = 0;
    for (int count = 0; i < text.size() && count < n; ++count)
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    return text.left(i);
}

class Progress {
public:
    Progress(support::Surface& surface, const QString& file) : surface_(surface), file_(file) {}

    void row(std::int32_t nRenglon)
    {
        last_ = nRenglon;
        if (!timer_.isValid() || timer_.elapsed() >= kProgressIntervalMs) {
            show();
            timer_.start();
        }
    }
    // The row the walk ended on is always shown.
    void finish()
    {
        if (shown_ != last_ && last_ != 0)
            show();
    }

private:
    void show()
    {
        surface_.setCaption(Label::Label1, ProgressText(file_, last_));
        surface_.paintPending();
        shown_ = last_;
    }

    support::Surface& surface_;
    const QString& file_;
    QElapsedTimer timer_;
    std::int32_t last_ = 0;
    std::int32_t shown_ = 0;
};

double amountOf(const spreadsheet::CellValue& cell, const QString& where)
{
    if (cell.kind == spreadsheet::CellValue::Kind::Error) {
        throw support::Failure(
            QStringLiteral("La celda %1 contiene un error (%2).").arg(where, cell.text));
    }
    return support::oLib->krVal(cell.toVariant());
}

} // namespace

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

Figures RecorrerHoja(WindowState& state, support::Surface& surface, TicketSink* sink,
                     ScanObserver* observer)
{
    using Outcome = RowEvent::Outcome;
    Figures figures;
    RowByRowSink plain(state);
    if (!sink)
        sink = &plain;
    const auto tell = [observer](Outcome outcome, std::int32_t row, std::int32_t ticket,
                                 double amount) {
        if (observer)
            observer->onRow({outcome, row, ticket, amount});
    };
    sink->onStored = [&](const Ticket& ticket) {
        ++figures.written;
        figures.amountWritten += ticket.importe;
        tell(Outcome::Written, ticket.row, ticket.venta, ticket.importe);
    };

    surface.setCaption(Label::Label1, QString());
    state.nRenglon = 2;
    state.nVacios = 0;
    state.oLibro = state.oExcel->Workbooks().Open(state.cArchivo);
    const spreadsheet::Regional& regional = state.oExcel->regional();

    Progress progress(surface, state.cArchivo);
    try {
        for (;;) {
            const std::int32_t row = state.nRenglon;
            progress.row(row);
            ++figures.rowsRead;
            const spreadsheet::Worksheet& sheet = state.oLibro->Worksheets(1);
            const QString b = address('B', row);
            const QString cMarca = spreadsheet::CellText(sheet.Range(b).Value(), regional, b);
            if (cMarca.isEmpty()) {
                state.nVacios.increment("nVacios");
                if (state.nVacios >= kEmptyRowsToStop)
                    break;
            } else {
                state.nVacios = 0;
                if (cMarca == QLatin1String("0")) {
                    ++figures.zeroMarker;
                    tell(Outcome::ZeroMarker, row, 0, 0);
                } else {
                    ++figures.saleRows;
                    const QString d = address('D', row);
                    const QString e = address('E', row);
                    const QString cFecha =
                        spreadsheet::CellText(sheet.Range(d).Value(), regional, d);
                    const double nImporte = amountOf(sheet.Range(e).Value(), e);
                    if (nImporte > 0) {
                        const QString h = address('H', row);
                        const QString cDescrip = spreadsheet::TrimBlanks(
                            spreadsheet::CellText(sheet.Range(h).Value(), regional, h));
                        const std::int32_t venta = state.nTicket;
                        if (figures.numbersUsed++ == 0)
                            figures.firstTicket = venta;
                        figures.lastTicket = venta;
                        if (sink->exists(venta)) {
                            ++figures.existed;
                            tell(Outcome::Existed, row, venta, nImporte);
                        } else {
                            // A date that is no date fails here, before anything is written.
                            Ticket ticket;
                            ticket.venta = venta;
                            ticket.fechaEncabezado = spreadsheet::TextToDate(cFecha, regional);
                            ticket.fechaDetalle = spreadsheet::TextToDate(cFecha, regional);
                            ticket.importe = nImporte;
                            ticket.descrip = DescripcionDetalle(cDescrip);
                            ticket.row = row;
                            sink->write(ticket);
                        }
                        state.nTicket.increment("nTicket");
                    } else {
                        ++figures.notPositive;
                        tell(Outcome::NotPositive, row, 0, nImporte);
                    }
                }
            }
            state.nRenglon.increment("nRenglon");
        }
        sink->finish();
    } catch (const std::exception& failure) {
        const QString where = QStringLiteral("\nArchivo: %1\nHoja 1, renglón %2")
                                  .arg(state.cArchivo)
                                  .arg(state.nRenglon.value());
        try {
            sink->abandon();
        } catch (...) {
            // What the sink could not keep is rolled back; the first failure is reported.
        }
        progress.finish();
        sink->onStored = nullptr;
        throw support::Failure(support::failureText(failure) + where);
    }
    progress.finish();
    sink->onStored = nullptr;
    return figures;
}

} // namespace generation

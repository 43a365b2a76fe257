#include "generation/RecorrerHoja.h"

#include "generation/ScanParts.h"
#include "spreadsheet/Conversions.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

namespace generation {

using support::Label;

namespace {

constexpr int kEmptyRowsToStop = 50;

} // namespace

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
            const QString b = CellAddress('B', row);
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
                    const QString d = CellAddress('D', row);
                    const QString e = CellAddress('E', row);
                    const QString cFecha =
                        spreadsheet::CellText(sheet.Range(d).Value(), regional, d);
                    const double nImporte = AmountOf(sheet.Range(e).Value(), e);
                    if (nImporte > 0) {
                        const QString h = CellAddress('H', row);
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

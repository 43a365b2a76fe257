#include "generation/RecorrerHoja.h"

#include "generation/RowByRowSink.h"
#include "generation/SaleRows.h"
#include "generation/ScanParts.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/WorkbookOpening.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <QScopeGuard>
#include <optional>

namespace generation {

using support::Label;

Figures RecorrerHoja(WindowState& state, support::Surface& surface, TicketSink* sink,
                     ScanObserver* observer, spreadsheet::WorkbookOpening* opening)
{
    using Outcome = RowEvent::Outcome;
    Figures figures;
    std::unique_ptr<RowByRowSink> plain;
    if (!sink) {
        plain = std::make_unique<RowByRowSink>(state, *support::oBases);
        sink = plain.get();
    }
    const auto tell = [observer](Outcome outcome, std::int32_t row, std::int32_t ticket,
                                 double amount) {
        if (observer)
            observer->onRow({outcome, row, ticket, amount});
    };

    surface.setCaption(Label::Label1, QString());
    state.oLibro = opening ? opening->take() : state.oExcel->Workbooks().Open(state.cArchivo);
    const spreadsheet::Regional& regional = state.oExcel->regional();
    const spreadsheet::Worksheet& sheet = state.oLibro->Worksheets(1);

    sink->onStored = [&](const Ticket& ticket) {
        ++figures.written;
        figures.amountWritten += ticket.importe;
        tell(Outcome::Written, ticket.row, ticket.venta, ticket.importe);
    };
    sink->onTaken = [&](const Ticket& ticket) {
        ++figures.existed;
        tell(Outcome::Existed, ticket.row, ticket.venta, ticket.importe);
    };
    const auto unhook = qScopeGuard([sink] {
        sink->onStored = nullptr;
        sink->onTaken = nullptr;
    });

    Progress progress(surface, state.cArchivo);
    SaleRows rows(state, sheet, regional, figures, progress);
    bool begun = false;
    try {
        while (const std::optional<SaleRow> row = rows.next()) {
            if (row->failure)
                throw support::Failure(*row->failure);
            switch (row->kind) {
            case SaleRow::Kind::ZeroMarker:
                tell(Outcome::ZeroMarker, row->row, 0, 0);
                break;
            case SaleRow::Kind::NotPositive:
                tell(Outcome::NotPositive, row->row, 0, row->amount);
                break;
            case SaleRow::Kind::Sale:
                if (!begun) {
                    sink->begin(row->venta, sheet.lastRow());
                    begun = true;
                    if (observer) {
                        for (const QString& notice : sink->notices())
                            observer->onNotice(notice);
                    }
                }
                sink->poll();
                if (sink->isTaken(row->venta)) {
                    ++figures.existed;
                    tell(Outcome::Existed, row->row, row->venta, row->amount);
                } else {
                    // A date that is no date fails here, before anything is written.
                    Ticket ticket;
                    ticket.venta = row->venta;
                    ticket.fechaEncabezado = spreadsheet::TextToDate(row->fecha, regional);
                    ticket.fechaDetalle = ticket.fechaEncabezado;
                    ticket.importe = row->amount;
                    ticket.descrip = DescripcionDetalle(row->descrip);
                    ticket.row = row->row;
                    sink->write(ticket);
                }
                break;
            }
        }
        // Every row is read: the workbook's memory goes back while the last batches are written,
        // not after.
        state.oLibro->Close();
        sink->finish();
    } catch (const std::exception& failure) {
        QString message = support::failureText(failure);
        std::optional<StoreFailure> stored;
        if (const auto* failed = dynamic_cast<const StoreFailure*>(&failure))
            stored = *failed;
        try {
            // Stores what was queued before the failing row.
            sink->abandon();
        } catch (const StoreFailure& earlier) {
            // A ticket before the failing row failed too: the row-by-row walk stops there.
            if (!stored || earlier.row < stored->row) {
                stored = earlier;
                message = earlier.message();
            }
        } catch (...) {
            // What the sink could not keep is rolled back; the first failure is reported.
        }
        if (stored) {
            state.nRenglon = stored->row;
            state.nVacios = 0;
            state.nTicket = stored->venta;
        }
        progress.finish();
        throw WalkFailure(message + QStringLiteral("\nArchivo: %1\nHoja 1, renglón %2")
                                        .arg(state.cArchivo)
                                        .arg(state.nRenglon.value()),
                          state.nRenglon);
    }
    progress.finish();
    return figures;
}

} // namespace generation

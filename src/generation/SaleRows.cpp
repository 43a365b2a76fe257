#include "generation/SaleRows.h"

#include "generation/ScanParts.h"
#include "spreadsheet/Application.h"
#include "spreadsheet/Conversions.h"
#include "support/Failure.h"

namespace generation {

namespace {

constexpr int kEmptyRowsToStop = 50;

} // namespace

SaleRows::SaleRows(WindowState& state, const spreadsheet::Worksheet& sheet,
                   const spreadsheet::Regional& regional, Figures& figures, Progress& progress)
    : state_(state), sheet_(sheet), regional_(regional), figures_(figures), progress_(progress)
{
    state_.nRenglon = 2;
    state_.nVacios = 0;
}

std::optional<SaleRow> SaleRows::next()
{
    // The row handed out last is done only now: a failure while it was handled leaves the
    // counters at it.
    if (started_) {
        if (usedNumber_)
            state_.nTicket.increment("el número de ticket");
        state_.nRenglon.increment("el número de renglón");
    }
    started_ = true;
    usedNumber_ = false;
    QString cMarca;
    for (;;) {
        const std::int32_t row = state_.nRenglon;
        progress_.row(row);
        ++figures_.rowsRead;
        const QString b = CellAddress('B', row);
        cMarca = spreadsheet::CellText(sheet_.Range(b).Value(), regional_, b);
        if (!cMarca.isEmpty())
            break;
        state_.nVacios.increment("la cuenta de renglones vacíos");
        if (state_.nVacios >= kEmptyRowsToStop)
            return std::nullopt;
        state_.nRenglon.increment("el número de renglón");
    }
    state_.nVacios = 0;

    SaleRow sale;
    sale.row = state_.nRenglon;
    if (cMarca == QLatin1String("0")) {
        ++figures_.zeroMarker;
        return sale;
    }
    ++figures_.saleRows;
    sale.kind = SaleRow::Kind::NotPositive;
    try {
        const QString d = CellAddress('D', sale.row);
        const QString e = CellAddress('E', sale.row);
        sale.fecha = spreadsheet::CellText(sheet_.Range(d).Value(), regional_, d);
        sale.amountCell = sheet_.Range(e).Value();
        sale.amount = AmountOf(sale.amountCell, e);
    } catch (const std::exception& failure) {
        sale.failure = support::failureText(failure);
        sale.amount = 0;
    }
    if (sale.amount <= 0) {
        ++figures_.notPositive;
        return sale;
    }
    sale.kind = SaleRow::Kind::Sale;
    try {
        const QString h = CellAddress('H', sale.row);
        sale.descrip =
            spreadsheet::TrimBlanks(spreadsheet::CellText(sheet_.Range(h).Value(), regional_, h));
    } catch (const std::exception& failure) {
        sale.failure = support::failureText(failure);
    }
    sale.venta = state_.nTicket;
    if (figures_.numbersUsed++ == 0)
        figures_.firstTicket = sale.venta;
    figures_.lastTicket = sale.venta;
    usedNumber_ = true;
    return sale;
}

} // namespace generation

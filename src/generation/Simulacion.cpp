#include "generation/Simulacion.h"

#include "generation/ExistingTickets.h"
#include "generation/ScanParts.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/Failure.h"
#include "support/CrearObjeto.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <unordered_set>

namespace generation {

namespace {

constexpr int kEmptyRowsToStop = 50;
constexpr int kDescripLength = 60;

bool isDate(const QString& text, const spreadsheet::Regional& regional)
{
    try {
        spreadsheet::TextToDate(text, regional);
        return true;
    } catch (const spreadsheet::Failure&) {
        return false;
    }
}

class Walk {
public:
    explicit Walk(Simulacion& result) : result_(result) {}

    void problem(std::int32_t row, const QString& text, bool blocks)
    {
        result_.problems.push_back({row, text, blocks});
    }

    // The date of a sale row with a positive amount. A date that reads only with day and month
    // swapped is checked on every such row, written or not: it tells that the whole column may
    // be read the wrong way round.
    void checkDate(std::int32_t row, const QString& cFecha, const spreadsheet::Regional& regional,
                   bool wouldWrite)
    {
        if (isDate(cFecha, regional))
            return;
        spreadsheet::Regional other = regional;
        other.dayFirst = !regional.dayFirst;
        if (isDate(cFecha, other)) {
            swappedDates_ = true;
            problem(row,
                    QStringLiteral("la fecha \"%1\" sólo es válida leída como %2")
                        .arg(cFecha, other.dayFirst ? QStringLiteral("día/mes/año")
                                                    : QStringLiteral("mes/día/año")),
                    wouldWrite);
        } else if (wouldWrite) {
            problem(row, QStringLiteral("la fecha \"%1\" no es una fecha válida").arg(cFecha),
                    true);
        }
    }

    // What else a row that would be written holds that the user should know of.
    void checkSale(const spreadsheet::Worksheet& sheet, std::int32_t row,
                   const spreadsheet::CellValue& amountCell, const spreadsheet::Regional& regional)
    {
        if (amountCell.kind == spreadsheet::CellValue::Kind::Text) {
            problem(row,
                    QStringLiteral("el importe \"%1\" es texto; se tomaría como %2")
                        .arg(amountCell.text)
                        .arg(support::oLib->krVal(amountCell.toVariant())),
                    false);
        }
        const QString h = CellAddress('H', row);
        try {
            const QString descrip =
                spreadsheet::TrimBlanks(spreadsheet::CellText(sheet.Range(h).Value(), regional, h));
            if (descrip.size() > kDescripLength) {
                problem(row,
                        QStringLiteral("la descripción tiene %1 caracteres; se guardarían los "
                                       "primeros %2")
                            .arg(descrip.size())
                            .arg(kDescripLength),
                        false);
            }
        } catch (const std::exception& failure) {
            problem(row, support::failureText(failure), true);
        }
    }

    bool swappedDates() const { return swappedDates_; }

private:
    Simulacion& result_;
    bool swappedDates_ = false;
};

} // namespace

bool Simulacion::runWouldSucceed() const
{
    for (const Problem& p : problems) {
        if (p.blocksRun)
            return false;
    }
    return true;
}

Simulacion Simular(WindowState& state, support::Surface& surface)
{
    using support::Label;
    Simulacion result;
    Figures& figures = result.figures;

    if (!support::oBases->AbrirBdD(state.cnBase, support::oBases->cMiBase)) {
        throw support::Failure(QStringLiteral("No se pudo abrir la base de datos.\r\n") +
                                   support::oBases->UltimoError(),
                               QStringLiteral("Error"));
    }
    state.oExcel =
        support::CrearObjeto<spreadsheet::Application>(QStringLiteral("Excel.Application"));
    state.oLibro = state.oExcel->Workbooks().Open(state.cArchivo);
    const spreadsheet::Regional& regional = state.oExcel->regional();
    const spreadsheet::Worksheet& sheet = state.oLibro->Worksheets(1);
    const std::unordered_set<std::int32_t> existing = ExistingTickets(
        *state.cnBase, state.nTicket, LastPossibleTicket(state.nTicket, sheet.lastRow()));

    surface.setVisible(Label::Label1, true);
    Progress progress(surface, state.cArchivo);
    Walk walk(result);
    state.nRenglon = 2;
    state.nVacios = 0;
    try {
        for (;;) {
            const std::int32_t row = state.nRenglon;
            progress.row(row);
            ++figures.rowsRead;
            const QString b = CellAddress('B', row);
            const QString cMarca = spreadsheet::CellText(sheet.Range(b).Value(), regional, b);
            if (cMarca.isEmpty()) {
                state.nVacios.increment("nVacios");
                if (state.nVacios >= kEmptyRowsToStop)
                    break;
            } else if (cMarca == QLatin1String("0")) {
                state.nVacios = 0;
                ++figures.zeroMarker;
            } else {
                state.nVacios = 0;
                ++figures.saleRows;
                const QString d = CellAddress('D', row);
                const QString e = CellAddress('E', row);
                QString cFecha;
                double nImporte = 0;
                const spreadsheet::CellValue amountCell = sheet.Range(e).Value();
                try {
                    cFecha = spreadsheet::CellText(sheet.Range(d).Value(), regional, d);
                    nImporte = AmountOf(amountCell, e);
                } catch (const std::exception& failure) {
                    walk.problem(row, support::failureText(failure), true);
                }
                if (nImporte > 0) {
                    const std::int32_t venta = state.nTicket;
                    if (figures.numbersUsed++ == 0)
                        figures.firstTicket = venta;
                    figures.lastTicket = venta;
                    const bool exists = existing.count(venta) > 0;
                    walk.checkDate(row, cFecha, regional, !exists);
                    if (exists) {
                        ++figures.existed;
                        result.existing.push_back(venta);
                    } else {
                        walk.checkSale(sheet, row, amountCell, regional);
                        ++figures.written;
                        figures.amountWritten += nImporte;
                    }
                    state.nTicket.increment("nTicket");
                } else {
                    ++figures.notPositive;
                }
            }
            state.nRenglon.increment("nRenglon");
        }
    } catch (const std::exception& failure) {
        walk.problem(state.nRenglon, support::failureText(failure), true);
    }
    progress.finish();
    if (walk.swappedDates()) {
        walk.problem(0,
                     QStringLiteral("La columna D tiene fechas que sólo se leen con el día y el "
                                    "mes al revés de la configuración regional (%1): revise las "
                                    "fechas, otras del mismo archivo pueden leerse mal sin aviso.")
                         .arg(regional.dayFirst ? QStringLiteral("día/mes/año")
                                                : QStringLiteral("mes/día/año")),
                     true);
    }
    surface.setCaption(Label::Label1, QString());
    state.oLibro->Close();
    state.oExcel->Quit();
    support::oBases->CierraBdD(state.cnBase);
    return result;
}

} // namespace generation

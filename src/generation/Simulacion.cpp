#include "generation/Simulacion.h"

#include "generation/ColumnLimits.h"
#include "generation/ExistingTickets.h"
#include "generation/SaleRows.h"
#include "generation/ScanParts.h"
#include "generation/TableKinds.h"
#include "generation/TicketColumns.h"
#include "spreadsheet/Conversions.h"
#include "spreadsheet/Failure.h"
#include "support/CrearObjeto.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QTemporaryFile>
#include <QUrl>
#include <chrono>
#include <optional>
#include <unordered_set>

namespace generation {

namespace {

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
    void checkSale(const SaleRow& sale)
    {
        if (sale.amountCell.kind == spreadsheet::CellValue::Kind::Text) {
            problem(sale.row,
                    QStringLiteral("el importe \"%1\" es texto; se tomaría como %2")
                        .arg(sale.amountCell.text)
                        .arg(sale.amount),
                    false);
        }
        if (sale.descrip.size() > kDescripLength) {
            problem(sale.row,
                    QStringLiteral("la descripción tiene %1 caracteres; se guardarían los "
                                   "primeros %2")
                        .arg(sale.descrip.size())
                        .arg(kDescripLength),
                    false);
        }
    }

    bool swappedDates() const { return swappedDates_; }

private:
    Simulacion& result_;
    bool swappedDates_ = false;
};

// While the tables are held: what the user may not do, or the SQLite file may not take, that
// every batch needs. Asked with statements that change nothing.
void writeRefusals(krvt5::Connection& connection, const TableKinds& kinds,
                   std::vector<Simulacion::Problem>& refusals)
{
    QSqlDatabase& db = connection.database();
    const auto quoted = [&](const PosTable& table) {
        return db.driver()->escapeIdentifier(table.name, QSqlDriver::TableName);
    };
    if (!connection.engine().isServer()) {
        // A file SQLite may only read lets the transaction begin, but not write.
        if (const std::optional<QString> refused = DeleteRefused(db, quoted(kTickets)))
            refusals.push_back({0,
                                QStringLiteral("No se puede escribir en la base de datos (%1): %2.")
                                    .arg(connection.describe(), *refused),
                                true});
        // SQLite keeps its journal beside the file while a transaction writes.
        const QString folder = QFileInfo(QUrl(db.databaseName()).toLocalFile()).absolutePath();
        QTemporaryFile beside(folder + QStringLiteral("/.generar-tickets-XXXXXX"));
        if (!beside.open())
            refusals.push_back(
                {0,
                 QStringLiteral("No se pueden crear archivos en la carpeta de la base de datos "
                                "(%1): %2. SQLite escribe allí su diario al guardar.")
                     .arg(folder, beside.errorString()),
                 true});
        return;
    }
    for (const PosTable* table : {&kTickets, &kTicketsDetalle}) {
        // A user without INSERT may still reserve the tables.
        if (const std::optional<QString> refused = InsertRefused(
                db, quoted(*table),
                db.driver()->escapeIdentifier(connection.column(table->name, kVentaColumn),
                                              QSqlDriver::FieldName)))
            refusals.push_back({0,
                                QStringLiteral("No se pueden agregar registros a la tabla \"%1\" "
                                               "(%2).")
                                    .arg(table->name, *refused),
                                true});
        // Where a failed batch is removed by its keys, the user must be allowed to.
        if (kinds.nonTransactional.isEmpty())
            continue;
        if (const std::optional<QString> refused = DeleteRefused(db, quoted(*table))) {
            QString text = NoRemovalText(kinds.nonTransactional, table->name, *refused);
            text[0] = text[0].toUpper();
            refusals.push_back({0, text + u'.', true});
        }
    }
}

// What keeps the database from taking any ticket of a run: a column the program cannot fill, or
// tables the user may not reserve for a batch. The reservation is tried and let go at once;
// tables another client holds now say nothing of the run, which waits for them.
std::vector<Simulacion::Problem> databaseRefusals(krvt5::Connection& connection,
                                                  const ColumnLimits& limits)
{
    std::vector<Simulacion::Problem> refusals;
    for (const QString& column : limits.unfillable) {
        refusals.push_back(
            {0,
             QStringLiteral("La columna \"%1\" de la tabla \"%2\" no admite valores nulos ni "
                            "tiene valor predeterminado, y el programa no la llena: la base de "
                            "datos rechazaría todos los tickets.")
                 .arg(column.section(u'.', 1), column.section(u'.', 0, 0)),
             true});
    }
    for (const QString& check : limits.checks) {
        refusals.push_back(
            {0,
             QStringLiteral("La tabla \"%1\" tiene la restricción %2, que no se comprueba de "
                            "antemano: un ticket que no la cumpla detendría la generación en su "
                            "renglón.")
                 .arg(check.section(QStringLiteral(": "), 0, 0),
                      check.section(QStringLiteral(": "), 1)),
             false});
    }
    const TableKinds kinds = TableKinds::read(connection);
    for (const QString& refusal : kinds.refusals)
        refusals.push_back({0, refusal, true});
    try {
        connection.BeginExclusiveTrans({kTickets.name, kTicketsDetalle.name},
                                       krvt5::Patience{std::chrono::milliseconds(0), {}});
        writeRefusals(connection, kinds, refusals);
        connection.RollbackTrans();
    } catch (const krvt5::TablesBusy&) {
    } catch (const krvt5::Failure& failure) {
        refusals.push_back({0, failure.message(), true});
    }
    return refusals;
}

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

    const ColumnLimits limits = ReadColumnLimits(*state.cnBase);
    std::vector<Simulacion::Problem> refusals = databaseRefusals(*state.cnBase, limits);
    // Keys that may run out: the first ticket that would find none stops the run.
    std::optional<std::pair<qlonglong, QString>> keys;
    for (const auto& [table, key] :
         {std::pair{&kTickets, limits.headerKey}, std::pair{&kTicketsDetalle, limits.lineKey}}) {
        if (!key)
            continue;
        const qlonglong left = KeysLeft(*state.cnBase, table->name, *key);
        if (!keys || left < keys->first)
            keys.emplace(left, NoKeysLeftText(table->name, *key));
    }
    // A line refers to its header's key, which its column may not hold.
    if (const auto& key = limits.headerKeyInLines) {
        const qlonglong left = KeysLeft(*state.cnBase, kTickets.name, *key);
        if (!keys || left < keys->first)
            keys.emplace(left, QStringLiteral("la columna %1 de la tabla \"%2\" (%3) no admite "
                                              "claves de encabezado mayores que %4")
                                   .arg(kLineColumns.back().name, kTicketsDetalle.name, key->type)
                                   .arg(key->most));
    }

    surface.setVisible(Label::Label1, true);
    Progress progress(surface, state.cArchivo);
    Walk walk(result);
    SaleRows rows(state, sheet, regional, figures, progress);
    try {
        while (const std::optional<SaleRow> row = rows.next()) {
            if (row->kind == SaleRow::Kind::ZeroMarker)
                continue;
            if (row->failure)
                walk.problem(row->row, *row->failure, true);
            if (row->kind != SaleRow::Kind::Sale)
                continue;
            const bool exists = existing.count(row->venta) > 0;
            walk.checkDate(row->row, row->fecha, regional, !exists);
            if (exists) {
                ++figures.existed;
                result.existing.push_back(row->venta);
            } else {
                if (!row->failure) {
                    walk.checkSale(*row);
                    // What the POS's columns cannot hold stops the run at this row.
                    if (const auto problem =
                            limits.descripProblem(DescripcionDetalle(row->descrip)))
                        walk.problem(row->row, *problem, true);
                    if (const auto problem = limits.amountProblem(row->amount))
                        walk.problem(row->row, *problem, true);
                    if (const auto problem = limits.ventaProblem(row->venta))
                        walk.problem(row->row, *problem, true);
                }
                if (keys && figures.written == keys->first)
                    walk.problem(row->row, keys->second, true);
                ++figures.written;
                // As the run would write it.
                figures.amountWritten += AmountText(row->amount, limits.writtenScale()).toDouble();
            }
        }
    } catch (const std::exception& failure) {
        walk.problem(state.nRenglon, support::failureText(failure), true);
    }
    progress.finish();
    for (Simulacion::Problem& refusal : refusals)
        result.problems.push_back(std::move(refusal));
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

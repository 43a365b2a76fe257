#include "generation/RunControl.h"

#include "generation/BulkSink.h"
#include "generation/RunDetails.h"
#include "generation/RunLock.h"
#include "generation/RunReport.h"
#include "spreadsheet/Application.h"
#include "spreadsheet/WorkbookOpening.h"
#include "support/CrearObjeto.h"
#include "support/Failure.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <QFileInfo>

namespace generation {

using support::Label;

namespace {

// Where the connection settings came from, so the user knows which file to look at.
QString registryHint()
{
    const QString file = support::oRegistro ? support::oRegistro->registryFile() : QString();
    if (file.isEmpty())
        return {};
    return QStringLiteral("\r\nLa conexión se toma de los datos de registro de Vantrel Premium: ") +
           file;
}

} // namespace

Figures ProcesarVentas(WindowState& state, support::Surface& surface, ScanObserver* observer,
                       TicketSink* sink)
{
    // The workbook is read while the database is opened and made ready; the application is the
    // run's only once the database is open, and the reading's failures come after the database's.
    std::unique_ptr<spreadsheet::Application> excel =
        support::CrearObjeto<spreadsheet::Application>(QStringLiteral("Excel.Application"));
    spreadsheet::WorkbookOpening opening(excel->Workbooks(), state.cArchivo);
    const QString database = support::oBases->cMiBase;
    if (!support::oBases->AbrirBdD(state.cnBase, database)) {
        const QString reason = support::oBases->UltimoError();
        surface.setCaption(Label::Label1, QString());
        support::oBases->CierraBdD(state.cnBase);
        throw support::Failure(QStringLiteral("No se pudo abrir la base de datos.\r\n") + reason +
                                   registryHint(),
                               QStringLiteral("Error"));
    }
    // Held to the end of the run: a second run on this database waits, then gives up.
    const RunLock lock(state.cnBase, database);

    surface.setVisible(Label::Label1, true);
    state.oExcel = std::move(excel);
    // Tickets go in batches unless the caller brings its own sink.
    std::unique_ptr<BulkSink> bulk;
    if (!sink) {
        bulk = std::make_unique<BulkSink>(state, ConnectionsLike(*support::oBases));
        // Beside the settings: the data folder, where the next run looks for it.
        if (!state.cArchivoIni.isEmpty())
            bulk->keepJournalIn(QFileInfo(state.cArchivoIni).absolutePath());
        sink = bulk.get();
    }
    sink->prepare(lock.commitCheck());
    const Figures figures = RecorrerHoja(state, surface, sink, observer, &opening);

    surface.setCaption(Label::Label1, QString());
    state.oLibro->Close();
    state.oExcel->Quit();
    support::oBases->CierraBdD(state.cnBase);
    return figures;
}

bool cmdProceder_Click(WindowState& state, support::Surface& surface, RunReport* report,
                       const QString& mode, bool checkFirst)
{
    QString mensaje;
    if (!support::oArchivos->HayArchivo(state.cArchivo)) {
        mensaje =
            QStringLiteral("No existe el archivo:\r\n") + state.cArchivo + QStringLiteral("\r\n");
    }
    if (!mensaje.isEmpty()) {
        surface.showMessage({QStringLiteral("Error"), mensaje, support::Icon::Critical,
                             support::Buttons::Ok, support::Answer::Ok});
        return false;
    }

    const support::Answer answer = surface.showMessage(
        {QStringLiteral("Proceder"), QStringLiteral("¿Desea proceder a generar los tickets?"),
         support::Icon::Question, support::Buttons::YesNo, support::Answer::No,
         checkFirst ? CheckBeforeRun(state, surface) : QString()});
    if (answer != support::Answer::Yes)
        return false;

    surface.setEnabled(false);
    Figures figures;
    if (report) {
        const krvt5::BasesDD& bases = *support::oBases;
        report->begin(mode, state.cArchivo, bases.cRuta, bases.cMiBase, bases.cUsuario);
        // The report never blocks the work: said once, and the run goes on.
        if (!report->unavailable().isEmpty()) {
            surface.showMessage({QStringLiteral("Atención"), report->unavailable(),
                                 support::Icon::Warning, support::Buttons::Ok,
                                 support::Answer::Ok});
        }
        try {
            figures = ProcesarVentas(state, surface, report);
            report->end(figures);
        } catch (const std::exception& failure) {
            report->failure(support::failureText(failure));
            throw;
        }
    } else {
        figures = ProcesarVentas(state, surface);
    }
    surface.setEnabled(true);
    surface.showMessage({QStringLiteral("Fin"), QStringLiteral("Proceso terminado"),
                         support::Icon::Information, support::Buttons::Ok, support::Answer::Ok,
                         DescribeEnd(figures)});
    return true;
}

} // namespace generation

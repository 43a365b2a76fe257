// The window's event handlers: load, the click of cmdProceder, unload, and the error report.
#include "app/Programa.h"
#include "app/frmPrincipal.h"
#include "generation/RunControl.h"
#include "generation/RunReport.h"
#include "settings/LeerPropios.h"
#include "support/Failure.h"

#include <QCoreApplication>
#include <cstdio>

namespace app {

namespace {

ProgramPlace placeOf(const QString& programFile)
{
    return programPlace(programFile.isEmpty() ? QCoreApplication::applicationFilePath()
                                              : programFile);
}

} // namespace

QString frmPrincipal::programFolder() const
{
    return placeOf(programFile_).folder;
}

bool frmPrincipal::load()
{
    Form_Load();
    return !unloaded_;
}

void frmPrincipal::Form_Load()
{
    try {
        if (!IniciarPrograma(state_, placeOf(programFile_), *this, workbookThisRun_))
            unload(2);
    } catch (const std::exception& failure) {
        reportFailure(failure);
    }
}

void frmPrincipal::LeerPropios()
{
    settings::LeerPropios(state_.cArchivoIni, programFolder(), state_.cArchivo, state_.nTicket,
                          *this, workbookThisRun_);
}

void frmPrincipal::useDroppedWorkbook(const QString& path)
{
    try {
        workbookThisRun_ = path;
        LeerPropios();
    } catch (const std::exception& failure) {
        reportFailure(failure);
    }
}

void frmPrincipal::cmdProceder_Click()
{
    // One job per program start; the disabled window already refuses clicks during a run.
    if (running_ || unloaded_)
        return;
    running_ = true;
    try {
        generation::RunReport report(placeOf(programFile_).logFile);
        const bool ran =
            generation::cmdProceder_Click(state_, *this, &report, QStringLiteral("ventana"), true);
        running_ = false;
        if (ran)
            unload(0);
    } catch (const std::exception& failure) {
        running_ = false;
        reportFailure(failure);
    }
}

void frmPrincipal::Form_Unload(qint16& Cancel)
{
    Q_UNUSED(Cancel); // an unload is never refused
    if (unloaded_)
        return;
    TerminarPrograma(state_);
    unloaded_ = true;
    emit programEnded(exitStatus_);
}

void frmPrincipal::unload(int exitStatus)
{
    exitStatus_ = exitStatus;
    qint16 cancel = 0;
    Form_Unload(cancel);
    hide();
}

void frmPrincipal::reportFailure(const std::exception& failure)
{
    const auto* own = dynamic_cast<const support::Failure*>(&failure);
    const QString title = own ? own->title() : QStringLiteral("generar-tickets");
    const QString text = support::failureText(failure);
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
    boxes_.show(this,
                {title, text, support::Icon::Critical, support::Buttons::Ok, support::Answer::Ok});
    unload(1);
}

} // namespace app

// The window's event handlers: load, the click of cmdProceder, unload, and the error report.
#include "app/frmPrincipal.h"
#include "generation/RunControl.h"
#include "settings/LeerPropios.h"
#include "support/Failure.h"
#include "support/Settings.h"
#include "support/modComun.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace app {

QString frmPrincipal::programFolder() const
{
    const QString file =
        programFile_.isEmpty() ? QCoreApplication::applicationFilePath() : programFile_;
    return QFileInfo(file).absolutePath();
}

bool frmPrincipal::load()
{
    Form_Load();
    return !unloaded_;
}

void frmPrincipal::Form_Load()
{
    try {
        const QString folder = programFolder();
        if (!QDir::setCurrent(folder)) {
            throw support::Failure(
                QStringLiteral(
                    "No se puede usar la carpeta del programa \"%1\" como carpeta actual.")
                    .arg(folder));
        }
        const QString file =
            programFile_.isEmpty() ? QCoreApplication::applicationFilePath() : programFile_;
        state_.cArchivoIni =
            support::JoinPath(folder, QFileInfo(file).completeBaseName() + QStringLiteral(".ini"));
        if (!support::InicializarComun(state_.cArchivoIni, folder, *this)) {
            unload(2);
            return;
        }
        LeerPropios();
    } catch (const std::exception& failure) {
        reportFailure(failure);
    }
}

void frmPrincipal::LeerPropios()
{
    settings::LeerPropios(state_.cArchivoIni, programFolder(), state_.cArchivo, state_.nTicket,
                          *this);
}

void frmPrincipal::cmdProceder_Click()
{
    // One job per program start; the disabled window already refuses clicks during a run.
    if (running_ || unloaded_)
        return;
    running_ = true;
    try {
        const bool ran = generation::cmdProceder_Click(state_, *this);
        running_ = false;
        if (ran)
            unload(0);
    } catch (const std::exception& failure) {
        running_ = false;
        reportFailure(failure);
    }
}

void frmPrincipal::ProcesarVentas()
{
    generation::ProcesarVentas(state_, *this);
}

void frmPrincipal::Form_Unload(qint16& Cancel)
{
    Q_UNUSED(Cancel); // an unload is never refused
    if (unloaded_)
        return;
    state_.oLibro.reset();
    state_.oExcel.reset();
    support::TerminarComun();
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

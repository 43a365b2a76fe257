#include "app/Programa.h"

#include "settings/LeerPropios.h"
#include "support/Failure.h"
#include "support/Settings.h"
#include "support/modComun.h"

#include <QDir>
#include <QFileInfo>

namespace app {

ProgramPlace programPlace(const QString& executable)
{
    const QFileInfo info(executable);
    const QString real =
        info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QFileInfo file(real);
    ProgramPlace place;
    place.folder = file.absolutePath();
    place.settingsFile =
        support::JoinPath(place.folder, file.completeBaseName() + QStringLiteral(".ini"));
    place.logFile =
        support::JoinPath(place.folder, file.completeBaseName() + QStringLiteral(".log"));
    return place;
}

bool IniciarPrograma(generation::WindowState& state, const ProgramPlace& place,
                     support::Surface& surface, const QString& workbookThisRun)
{
    if (!QDir::setCurrent(place.folder)) {
        throw support::Failure(
            QStringLiteral("No se puede usar la carpeta del programa \"%1\" como carpeta actual.")
                .arg(place.folder));
    }
    state.cArchivoIni = place.settingsFile;
    if (!support::InicializarComun(state.cArchivoIni, place.folder, surface))
        return false;
    settings::LeerPropios(state.cArchivoIni, place.folder, state.cArchivo, state.nTicket, surface,
                          workbookThisRun);
    return true;
}

void TerminarPrograma(generation::WindowState& state)
{
    state.oLibro.reset();
    state.oExcel.reset();
    support::TerminarComun();
}

} // namespace app

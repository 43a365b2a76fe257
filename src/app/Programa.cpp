#include "app/Programa.h"

#include "settings/LeerPropios.h"
#include "support/Failure.h"
#include "support/Settings.h"
#include "support/modComun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <pwd.h>
#include <unistd.h>

namespace app {

namespace {

QString userName()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name)
                                   : QStringLiteral("NOMBRE");
}

} // namespace

ProgramPlace programPlace(const QString& executable)
{
    const QFileInfo info(executable);
    const QString real =
        info.canonicalFilePath().isEmpty() ? info.absoluteFilePath() : info.canonicalFilePath();
    const QFileInfo file(real);
    ProgramPlace place;
    place.programFolder = file.absolutePath();
    place.folder = place.programFolder;
    // Only whoever may change the program folder may move the data: the file lives there.
    QFile pointer(support::JoinPath(place.programFolder,
                                    file.completeBaseName() + QLatin1String(kDataFolderSuffix)));
    if (pointer.open(QIODevice::ReadOnly)) {
        const QString named = QString::fromUtf8(pointer.readLine(4096)).trimmed();
        if (!named.isEmpty())
            place.folder = QDir::cleanPath(QDir(place.programFolder).absoluteFilePath(named));
    }
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
        const QFileInfo folder(place.folder);
        if (!folder.exists()) {
            throw support::Failure(
                QStringLiteral("No existe la carpeta de datos del programa \"%1\". Reinstale el "
                               "programa o pida al administrador del equipo que la cree.")
                    .arg(place.folder));
        }
        const QString group = folder.group();
        if (place.folder != place.programFolder && !group.isEmpty()) {
            throw support::Failure(
                QStringLiteral("No tiene permiso para usar la carpeta de datos del programa "
                               "\"%1\". El administrador del equipo puede darle acceso con la "
                               "orden:\r\n  adduser %2 %3\r\n(después, cierre la sesión y vuelva "
                               "a entrar).")
                    .arg(place.folder, userName(), group));
        }
        throw support::Failure(
            QStringLiteral("No se puede usar la carpeta \"%1\" como carpeta actual.")
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

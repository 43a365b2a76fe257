#include "krvt5/DelRegistro.h"

#include "krvt5/Failure.h"
#include "krvt5/IniFile.h"

#include <QDir>
#include <QFileInfo>

namespace krvt5 {
namespace {

const QString registrySection = QStringLiteral("VTW");

} // namespace

QString DelRegistro::BuscarRegistroVTW(const QString& installationPath)
{
    registryFile_.clear();
    if (installationPath.isEmpty())
        return {};
    const QFileInfo folder(installationPath);
    const QFileInfo file(QDir(installationPath).filePath(QStringLiteral("vtw.ini")));
    if (folder.isDir() && file.isFile())
        registryFile_ = file.absoluteFilePath();
    return registryFile_;
}

QString DelRegistro::DatosVTW(const QString& name)
{
    if (registryFile_.isEmpty())
        return {};
    return ini::read(registryFile_, registrySection, name);
}

void DelRegistro::GuardaDatosVTW(const QString& name, const QString& value)
{
    if (registryFile_.isEmpty())
        throw Failure(
            QStringLiteral("No se puede guardar \"%1\" en el registro del punto de venta: "
                           "no se ha encontrado el archivo vtw.ini de la instalación.")
                .arg(name));
    // The file is the POS's: it keeps its owner, group and mode. One created here is owner-only,
    // since it holds the database credentials.
    ini::write(registryFile_, registrySection, name, value,
               {QFileDevice::ReadOwner | QFileDevice::WriteOwner, false});
}

} // namespace krvt5

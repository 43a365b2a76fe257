#include "support/modComun.h"

#include "support/CrearObjeto.h"
#include "support/Failure.h"
#include "support/Settings.h"
#include "support/Surface.h"

#include <QDir>

namespace support {

std::unique_ptr<krvt5::libKRCM> oLib;
std::unique_ptr<krvt5::BasesDD> oBases;
std::unique_ptr<krvt5::DeAyudaVT> oAyuda;
std::unique_ptr<krvt5::DeArchivos> oArchivos;
std::unique_ptr<krvt5::DeEquipo> oEquipo;
std::unique_ptr<krvt5::DeMonedas> oMonedas;
std::unique_ptr<krvt5::DelRegistro> oRegistro;
std::unique_ptr<krvt5::Utilerias> oUtilerias;

namespace {

const QString kConexion = QStringLiteral("Conexión");
const QString kRutaVantrel = QStringLiteral("Ruta de Vantrel Premium");

void makeCurrent(const QString& folder)
{
    if (!QDir::setCurrent(folder)) {
        throw Failure(
            QStringLiteral("No se puede usar la carpeta del programa \"%1\" como carpeta actual.")
                .arg(folder));
    }
}

bool isBlank(const QString& value)
{
    return TrimSpaces(value).isEmpty();
}

// Writes the POS registry values that are missing, in their fixed order.
void seedRegistry()
{
    if (oLib->krVal(oRegistro->DatosVTW(QStringLiteral("MySQLPuerto"))) == 0) {
        oRegistro->GuardaDatosVTW(QStringLiteral("MySQLPuerto"), oBases->cPuerto.toString());
    }
    if (isBlank(oRegistro->DatosVTW(QStringLiteral("MySQLServer")))) {
        oRegistro->GuardaDatosVTW(QStringLiteral("MySQLServer"),
                                  oRegistro->DatosVTW(QStringLiteral("servidor")));
    }
    if (isBlank(oRegistro->DatosVTW(QStringLiteral("MySQLUsuario")))) {
        oRegistro->GuardaDatosVTW(QStringLiteral("MySQLUsuario"),
                                  oUtilerias->Encripta(oBases->cUsuario));
    }
    if (isBlank(oRegistro->DatosVTW(QStringLiteral("MySQLPassword")))) {
        oRegistro->GuardaDatosVTW(QStringLiteral("MySQLPassword"),
                                  oUtilerias->Encripta(oBases->cPassword));
    }
}

} // namespace

void CrearObjetos()
{
    oLib = CrearObjeto<krvt5::libKRCM>(QStringLiteral("krvt5.libKRCM"));
    oBases = CrearObjeto<krvt5::BasesDD>(QStringLiteral("krvt5.BasesDD"));
    oAyuda = CrearObjeto<krvt5::DeAyudaVT>(QStringLiteral("krvt5.DeAyudaVT"));
    oArchivos = CrearObjeto<krvt5::DeArchivos>(QStringLiteral("krvt5.DeArchivos"));
    oEquipo = CrearObjeto<krvt5::DeEquipo>(QStringLiteral("krvt5.DeEquipo"));
    oMonedas = CrearObjeto<krvt5::DeMonedas>(QStringLiteral("krvt5.DeMonedas"));
    oRegistro = CrearObjeto<krvt5::DelRegistro>(QStringLiteral("krvt5.DelRegistro"));
    oUtilerias = CrearObjeto<krvt5::Utilerias>(QStringLiteral("krvt5.Utilerias"));
}

bool InicializarComun(QString& cArchivoIni, const QString& dataFolder, Surface& surface)
{
    CrearObjetos();
    makeCurrent(dataFolder);

    const QString ruta = LeerClave(kConexion, kRutaVantrel, dataFolder, cArchivoIni);
    if (oRegistro->BuscarRegistroVTW(ruta).isEmpty()) {
        Message message;
        message.title = QStringLiteral("Atención");
        message.text = QStringLiteral("En el archivo de configuración (") + cArchivoIni +
                       QStringLiteral(")\rde este programa debe indicarse la ruta correcta de "
                                      "Vantrel Premium\rRuta indicada e incorrecta: ") +
                       ruta;
        message.icon = Icon::Critical;
        surface.showMessage(message);
        return false;
    }

    oBases->cPuerto = QVariant::fromValue<qint16>(3306);
    oBases->cPassword = QString();
    oBases->cUsuario = QStringLiteral("root");

    seedRegistry();

    oBases->cPassword =
        oUtilerias->DesEncripta(oRegistro->DatosVTW(QStringLiteral("MySQLPassword")));
    oBases->cUsuario = oUtilerias->DesEncripta(oRegistro->DatosVTW(QStringLiteral("MySQLUsuario")));
    oBases->cPuerto = oRegistro->DatosVTW(QStringLiteral("MySQLPuerto"));
    oBases->cRuta = oRegistro->DatosVTW(QStringLiteral("MySQLServer"));
    // An installed program's folder is root's: a database named relative lives with the data.
    oBases->cCarpetaBase = dataFolder;
    return true;
}

void TerminarComun()
{
    oLib.reset();
    oBases.reset();
    oAyuda.reset();
    oArchivos.reset();
    oEquipo.reset();
    oMonedas.reset();
    oRegistro.reset();
    oUtilerias.reset();
}

} // namespace support

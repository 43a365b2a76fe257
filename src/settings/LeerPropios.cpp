#include "settings/LeerPropios.h"

#include "support/Failure.h"
#include "support/Settings.h"
#include "support/Surface.h"
#include "support/modComun.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace settings {

using support::Label;

std::int32_t TicketNumber(const QString& text)
{
    const double number = support::oLib->krVal(text);
    // nearbyint follows the current rounding mode, which is to-nearest, ties to even.
    const int savedMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(number);
    std::fesetround(savedMode);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<std::int32_t>::min() ||
        rounded > std::numeric_limits<std::int32_t>::max()) {
        throw support::Failure(
            QStringLiteral("Desbordamiento: el ticket inicial \"%1\" no cabe en un número de "
                           "ticket (de %2 a %3).")
                .arg(text)
                .arg(std::numeric_limits<std::int32_t>::min())
                .arg(std::numeric_limits<std::int32_t>::max()));
    }
    return static_cast<std::int32_t>(rounded);
}

void LeerPropios(const QString& cArchivoIni, const QString& programFolder, QString& cArchivo,
                 support::Counter<std::int32_t>& nTicket, support::Surface& surface,
                 const QString& workbookThisRun)
{
    const QString base =
        support::LeerClave(QStringLiteral("Conexión"), QStringLiteral("Base de datos"),
                           QStringLiteral("datos1"), cArchivoIni);
    support::oBases->cMiBase = base;
    surface.setCaption(Label::Label3, QStringLiteral(" Servidor: ") + support::oBases->cRuta +
                                          u'\r' + QStringLiteral("  Base de datos: ") +
                                          support::oBases->cMiBase);

    cArchivo = support::JoinPath(programFolder, QStringLiteral("Ventas.csv"));
    cArchivo = support::LeerClave(QStringLiteral("Configuración"), QStringLiteral("Archivo"),
                                  cArchivo, cArchivoIni);
    if (!workbookThisRun.isEmpty())
        cArchivo = workbookThisRun;
    surface.setCaption(Label::Label3, surface.caption(Label::Label3) +
                                          QStringLiteral("\r\nArchivo:\r\n") + cArchivo);

    const QString ticket =
        support::LeerClave(QStringLiteral("Ventas"), QStringLiteral("Ticket inicial"),
                           QStringLiteral("9"), cArchivoIni);
    try {
        nTicket = TicketNumber(ticket);
    } catch (const support::Failure& failure) {
        throw support::Failure(failure.message() +
                               QStringLiteral("\nArchivo de configuración: %1, sección \"Ventas\", "
                                              "clave \"Ticket inicial\".")
                                   .arg(cArchivoIni));
    }
    surface.setCaption(Label::Label3, surface.caption(Label::Label3) +
                                          QStringLiteral("\r\nTicket inicial: ") +
                                          QString::number(nTicket.value()));
}

} // namespace settings

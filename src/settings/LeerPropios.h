#pragma once

#include "support/Counter.h"

#include <QString>
#include <cstdint>

namespace support {
class Surface;
}

namespace settings {

// Reads the program's three settings from its settings file (writing the default of any that
// is missing): the database name into oBases->cMiBase, the workbook path into cArchivo and the
// first ticket number into nTicket; writes the settings summary into Label3. A workbook given
// for this run only (on the command line, dropped on the window) takes the setting's place in
// cArchivo and the summary; the setting itself stays as it is.
void LeerPropios(const QString& cArchivoIni, const QString& programFolder, QString& cArchivo,
                 support::Counter<std::int32_t>& nTicket, support::Surface& surface,
                 const QString& workbookThisRun = {});

// The first ticket number from its settings text, through krVal, rounded half to even. A number
// outside the 32-bit range is a failure.
std::int32_t TicketNumber(const QString& text);

} // namespace settings

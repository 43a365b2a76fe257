#pragma once

#include "generation/WindowState.h"

#include <QString>

namespace support {
class Surface;
}

namespace app {

// Where the program lives: the folder of its real executable (links resolved), the settings
// file named after the executable, and the run report beside it.
struct ProgramPlace {
    QString folder;
    QString settingsFile;
    QString logFile;
};

ProgramPlace programPlace(const QString& executable);

// The load: makes the program's folder current, starts the module (support objects, POS
// installation, connection properties) and reads the program's settings into the state and
// Label3. False after the wrong-path message: the program must end without a run. A workbook
// given for this run only replaces the setting's in the state and the summary, not in the file.
bool IniciarPrograma(generation::WindowState& state, const ProgramPlace& place,
                     support::Surface& surface, const QString& workbookThisRun = {});

// The unload: drops the workbook and the spreadsheet application, releases the support objects.
void TerminarPrograma(generation::WindowState& state);

} // namespace app

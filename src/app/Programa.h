#pragma once

#include "generation/WindowState.h"

#include <QString>

namespace support {
class Surface;
}

namespace app {

// Where the program keeps its data: the settings file named after the executable, the run
// report and the default workbook. A program installed by the package finds beside its real
// executable (links resolved) a file "<name>.datos" whose first line names the data folder
// (/var/lib/generar-tickets); the program folder itself is root's and holds code only. A
// program without that file (the build tree, the demo, a copy in a user's folder) keeps its
// data beside itself.
struct ProgramPlace {
    QString programFolder;
    QString folder; // the data folder
    QString settingsFile;
    QString logFile;
};

// The name of the file, beside the executable, that names the data folder.
inline constexpr char kDataFolderSuffix[] = ".datos";

ProgramPlace programPlace(const QString& executable);

// The load: makes the data folder current (a Failure that says how to get access when the user
// may not use it), starts the module (support objects, POS
// installation, connection properties) and reads the program's settings into the state and
// Label3. False after the wrong-path message: the program must end without a run. A workbook
// given for this run only replaces the setting's in the state and the summary, not in the file.
bool IniciarPrograma(generation::WindowState& state, const ProgramPlace& place,
                     support::Surface& surface, const QString& workbookThisRun = {});

// The unload: drops the workbook and the spreadsheet application, releases the support objects.
void TerminarPrograma(generation::WindowState& state);

} // namespace app

#pragma once

#include "generation/RecorrerHoja.h"
#include "generation/WindowState.h"

#include <QString>

namespace support {
class Surface;
}

namespace generation {

class RunReport;

// Opens the database, starts the spreadsheet application, runs the scan and closes all three.
// A database that does not open is a failure (title "Error") that names server, port, database
// and user with the component's reason; no workbook or application is touched then.
Figures ProcesarVentas(WindowState& state, support::Surface& surface,
                       ScanObserver* observer = nullptr, TicketSink* sink = nullptr);

// What the button does: checks the workbook, asks, runs with the window disabled and reports
// the end, with the run's figures under "Proceso terminado". True when a run took place and the
// window must unload. With a report, the run is recorded in it from the confirmation on. With
// checkFirst, a dry run before the question tells under it what the run will do (the window
// asks a person; a terminal run is confirmed already and prints its own figures).
bool cmdProceder_Click(WindowState& state, support::Surface& surface, RunReport* report = nullptr,
                       const QString& mode = {}, bool checkFirst = false);

} // namespace generation

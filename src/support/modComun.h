#pragma once

#include "krvt5/BasesDD.h"
#include "krvt5/DeArchivos.h"
#include "krvt5/DelRegistro.h"
#include "krvt5/Unused.h"
#include "krvt5/Utilerias.h"
#include "krvt5/libKRCM.h"

#include <memory>

namespace support {

class Surface;

// The eight program-wide support objects; they live from start-up to shut-down.
extern std::unique_ptr<krvt5::libKRCM> oLib;
extern std::unique_ptr<krvt5::BasesDD> oBases;
extern std::unique_ptr<krvt5::DeAyudaVT> oAyuda;
extern std::unique_ptr<krvt5::DeArchivos> oArchivos;
extern std::unique_ptr<krvt5::DeEquipo> oEquipo;
extern std::unique_ptr<krvt5::DeMonedas> oMonedas;
extern std::unique_ptr<krvt5::DelRegistro> oRegistro;
extern std::unique_ptr<krvt5::Utilerias> oUtilerias;

// Creates the eight objects in their fixed order.
void CrearObjetos();

// Start-up of the module: creates the objects, makes the data folder current (the program's
// folder when run from a folder of its own), validates the POS installation named in the
// settings file and fills the connection properties of oBases from the POS registry data,
// seeding missing values; a relative "sqlite:" folder is then taken from the data folder. False
// after the wrong-path message.
bool InicializarComun(QString& cArchivoIni, const QString& dataFolder, Surface& surface);

// Releases the objects in their creation order.
void TerminarComun();

} // namespace support

#pragma once

#include "krvt5/Connection.h"
#include "spreadsheet/Application.h"
#include "support/Counter.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace generation {

// The fields of the main window that one job works on. Texts start empty, numbers at 0,
// references at nothing.
struct WindowState {
    QString cArchivoIni;
    QString cArchivo;
    support::Counter<std::int32_t> nTicket;
    support::Counter<std::int16_t> nVacios;
    std::unique_ptr<spreadsheet::Application> oExcel;
    std::shared_ptr<spreadsheet::Workbook> oLibro;
    krvt5::ConnectionRef cnBase;
    support::Counter<std::int32_t> nRenglon;
};

} // namespace generation

#include "support/CrearObjeto.h"

#include "krvt5/BasesDD.h"
#include "krvt5/DeArchivos.h"
#include "krvt5/DelRegistro.h"
#include "krvt5/Unused.h"
#include "krvt5/Utilerias.h"
#include "krvt5/libKRCM.h"
#include "spreadsheet/Application.h"
#include "support/Failure.h"

namespace support {

namespace {

[[noreturn]] void wrongClass(const QString& className)
{
    throw Failure(QStringLiteral("El objeto \"%1\" no es de la clase que el programa espera.")
                      .arg(className));
}

} // namespace

template <class T> std::unique_ptr<T> CrearObjeto(const QString& className)
{
    if (className == QLatin1String("Excel.Application")) {
        if constexpr (std::is_same_v<T, spreadsheet::Application>) {
            return std::make_unique<spreadsheet::Application>();
        } else {
            wrongClass(className);
        }
    }
    if constexpr (std::is_base_of_v<krvt5::Object, T>) {
        std::unique_ptr<krvt5::Object> object = krvt5::CrearObjeto(className);
        if (auto* typed = dynamic_cast<T*>(object.get())) {
            object.release();
            return std::unique_ptr<T>(typed);
        }
        wrongClass(className);
    } else {
        krvt5::CrearObjeto(className); // fails naming an unknown class
        wrongClass(className);
    }
}

template std::unique_ptr<krvt5::libKRCM> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::BasesDD> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::DeAyudaVT> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::DeArchivos> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::DeEquipo> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::DeMonedas> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::DelRegistro> CrearObjeto(const QString&);
template std::unique_ptr<krvt5::Utilerias> CrearObjeto(const QString&);
template std::unique_ptr<spreadsheet::Application> CrearObjeto(const QString&);

} // namespace support

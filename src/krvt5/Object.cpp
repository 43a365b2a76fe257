#include "krvt5/Object.h"

#include "krvt5/BasesDD.h"
#include "krvt5/DeArchivos.h"
#include "krvt5/DelRegistro.h"
#include "krvt5/Failure.h"
#include "krvt5/Unused.h"
#include "krvt5/Utilerias.h"
#include "krvt5/libKRCM.h"

#include <utility>

namespace krvt5 {
namespace {

template <class T> std::unique_ptr<Object> make()
{
    return std::make_unique<T>();
}

} // namespace

std::unique_ptr<Object> CrearObjeto(const QString& className)
{
    static const std::pair<const char*, std::unique_ptr<Object> (*)()> classes[] = {
        {"krvt5.libKRCM", &make<libKRCM>},         {"krvt5.BasesDD", &make<BasesDD>},
        {"krvt5.DeAyudaVT", &make<DeAyudaVT>},     {"krvt5.DeArchivos", &make<DeArchivos>},
        {"krvt5.DeEquipo", &make<DeEquipo>},       {"krvt5.DeMonedas", &make<DeMonedas>},
        {"krvt5.DelRegistro", &make<DelRegistro>}, {"krvt5.Utilerias", &make<Utilerias>},
    };
    for (const auto& [name, create] : classes) {
        if (className == QLatin1String(name))
            return create();
    }
    throw Failure(
        QStringLiteral("No se puede crear el objeto \"%1\": la clase no existe.").arg(className));
}

} // namespace krvt5

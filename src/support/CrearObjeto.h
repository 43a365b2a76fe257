#pragma once

#include <QString>
#include <memory>

namespace support {

// Creates an object by its class name: "krvt5.libKRCM" and the component's seven other
// classes, or "Excel.Application". An unknown name, or a name whose class is not a T, is a
// failure naming it.
template <class T> std::unique_ptr<T> CrearObjeto(const QString& className);

} // namespace support

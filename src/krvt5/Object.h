#pragma once

#include <QString>
#include <memory>

namespace krvt5 {

// Base of the component's classes; each object knows the class name it was created by.
class Object {
public:
    virtual ~Object() = default;
    virtual QString className() const = 0;
};

// Creates one of the component's classes by its full name ("krvt5.libKRCM", ...).
// An unknown name is a Failure that names it.
std::unique_ptr<Object> CrearObjeto(const QString& className);

} // namespace krvt5

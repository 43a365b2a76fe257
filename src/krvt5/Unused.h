#pragma once

#include "krvt5/Object.h"

namespace krvt5 {

// Classes the program creates and releases with the others but never calls.
class DeAyudaVT : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.DeAyudaVT"); }
};

class DeEquipo : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.DeEquipo"); }
};

class DeMonedas : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.DeMonedas"); }
};

} // namespace krvt5

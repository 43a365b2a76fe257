#pragma once

#include "krvt5/Object.h"

namespace krvt5 {

class DeArchivos : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.DeArchivos"); }

    // True only for an existing regular file.
    virtual bool HayArchivo(const QString& path);
};

} // namespace krvt5

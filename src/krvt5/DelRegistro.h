#pragma once

#include "krvt5/Object.h"

namespace krvt5 {

// The POS registry data: section [VTW] of the file vtw.ini in the POS installation folder.
class DelRegistro : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.DelRegistro"); }

    // Full path of vtw.ini in the folder, "" when the folder holds none. A path found here
    // is the one DatosVTW and GuardaDatosVTW work on.
    virtual QString BuscarRegistroVTW(const QString& installationPath);
    // The stored value, "" when missing (or when no installation was found).
    virtual QString DatosVTW(const QString& name);
    // Stores the value atomically, in an owner-only file. Fails when no installation was found.
    virtual void GuardaDatosVTW(const QString& name, const QString& value);

    // The file the last BuscarRegistroVTW found, "" when none: for messages.
    const QString& registryFile() const { return registryFile_; }

protected:
    QString registryFile_;
};

} // namespace krvt5

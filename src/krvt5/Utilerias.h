#pragma once

#include "krvt5/Object.h"

namespace krvt5 {

class Utilerias : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.Utilerias"); }

    // Reversible scramble whose output is printable ASCII (it is stored in INI files).
    virtual QString Encripta(const QString& text);
    virtual QString DesEncripta(const QString& scrambled);
};

} // namespace krvt5

#pragma once

#include "krvt5/Object.h"

#include <QVariant>

namespace krvt5 {

// Settings files and text-to-number conversion.
class libKRCM : public Object {
public:
    QString className() const override { return QStringLiteral("krvt5.libKRCM"); }

    // The key's text, "" when the file, the section or the key is absent.
    virtual QString LeeIni(const QString& section, const QString& key, const QString& path);
    // Creates file and section when missing, keeps other keys, comments and the file's
    // encoding, and replaces the file atomically. Fails naming the file when it cannot.
    virtual void EscribeIni(const QString& section, const QString& key, const QString& value,
                            const QString& path);
    // A number as it is; empty 0; text: the number at its start (0 when none); true -1.
    virtual double krVal(const QVariant& value);
};

} // namespace krvt5

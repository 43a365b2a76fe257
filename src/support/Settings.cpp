#include "support/Settings.h"

#include "support/Failure.h"
#include "support/modComun.h"

namespace support {

QString TrimSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin);
}

QString LeerClave(const QString& section, const QString& key, const QString& defaultValue,
                  const QString& settingsFile)
{
    QString value = TrimSpaces(oLib->LeeIni(section, key, settingsFile));
    if (!value.isEmpty())
        return value;
    oLib->EscribeIni(section, key, defaultValue, settingsFile);
    value = TrimSpaces(oLib->LeeIni(section, key, settingsFile));
    if (!value.isEmpty())
        return value;
    // Writing again would read back the same nothing: report it instead of looping.
    throw Failure(QStringLiteral("No se pudo guardar el valor predeterminado de la clave \"%1\" "
                                 "(sección \"%2\") en el archivo de configuración \"%3\".\n"
                                 "Revise que el archivo se pueda escribir.")
                      .arg(key, section, settingsFile));
}

QString JoinPath(const QString& folder, const QString& name)
{
    return folder + u'/' + name;
}

} // namespace support

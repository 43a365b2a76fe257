#include "common/Installation.h"

#include "common/Files.h"
#include "krvt5/Utilerias.h"

#include <QDir>

namespace testsupport {

Installation::Installation(const TestDatabase& db, int firstTicket)
{
    QDir().mkpath(programFolder());
    QDir().mkpath(posFolder());
    writeFile(executable(), "#!/bin/false\n");

    krvt5::Utilerias scramble;
    QByteArray vtw = "[VTW]\r\nMySQLServer=" + db.server().toUtf8() + "\r\n";
    if (!db.port().isEmpty())
        vtw += "MySQLPuerto=" + db.port().toUtf8() + "\r\n";
    if (!db.user().isEmpty())
        vtw += "MySQLUsuario=" + scramble.Encripta(db.user()).toUtf8() + "\r\n";
    vtw += "MySQLPassword=" + scramble.Encripta(db.password()).toUtf8() + "\r\n";
    writeFile(posFolder() + QStringLiteral("/vtw.ini"), vtw);

    writeSettings(db.name(), workbook(), QString::number(firstTicket));
}

void Installation::writeSettings(const QString& database, const QString& workbookPath,
                                 const QString& ticket)
{
    writeFile(settingsFile(), QStringLiteral("[Conexión]\r\nRuta de Vantrel Premium=%1\r\n"
                                             "Base de datos=%2\r\n[Configuración]\r\nArchivo=%3\r\n"
                                             "[Ventas]\r\nTicket inicial=%4\r\n")
                                  .arg(posFolder(), database, workbookPath, ticket)
                                  .toUtf8());
}

void Installation::writeWorkbook(const std::vector<QStringList>& rows) const
{
    writeFile(workbook(), csv(rows));
}

} // namespace testsupport

#pragma once

#include "common/TestDatabase.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace testsupport {

// A program folder and a POS installation whose registry data point at a test database, with
// the program's settings file naming a workbook in the program's folder.
class Installation {
public:
    explicit Installation(const TestDatabase& db, int firstTicket = 500);

    QString programFolder() const { return dir_.filePath(QStringLiteral("programa")); }
    QString posFolder() const { return dir_.filePath(QStringLiteral("vantrel")); }
    // The program's executable path as the program sees it (a file in the program's folder).
    QString executable() const { return programFolder() + QStringLiteral("/generar-tickets"); }
    QString settingsFile() const
    {
        return programFolder() + QStringLiteral("/generar-tickets.ini");
    }
    QString logFile() const { return programFolder() + QStringLiteral("/generar-tickets.log"); }
    QString workbook() const { return programFolder() + QStringLiteral("/Ventas.csv"); }

    // Rewrites the settings file.
    void writeSettings(const QString& database, const QString& workbook, const QString& ticket);
    void writeWorkbook(const std::vector<QStringList>& rows) const;

private:
    QTemporaryDir dir_;
};

} // namespace testsupport

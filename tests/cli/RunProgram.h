#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace testsupport {

struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

// The real program copied to `executable`, so that the program's folder is the test's.
inline bool installProgram(const QString& executable)
{
    QFile::remove(executable);
    return QFile::copy(QStringLiteral(GT_EXECUTABLE), executable);
}

// Runs the real program as a terminal or a scheduler would: no display, and the C locale, whose
// dates are day first. From the given current folder, or the test's.
inline ProgramRun runProgram(const QString& executable, const QStringList& arguments,
                             const QString& currentFolder = {})
{
    QProcess process;
    if (!currentFolder.isEmpty())
        process.setWorkingDirectory(currentFolder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("DISPLAY"));
    process.setProcessEnvironment(env);
    process.start(executable, arguments);
    if (!process.waitForFinished(120000))
        ADD_FAILURE() << "the program did not end";
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace testsupport

#include "common/Files.h"
#include "krvt5/DelRegistro.h"
#include "krvt5/libKRCM.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

// A writer killed (SIGKILL, as by a power cut of the process) at a random moment of writing a
// settings file or the POS registry data leaves the old file or the new one, each whole; the
// registry stays owner-only.
TEST(InterruptedWrite, AKilledWriterLeavesTheOldFileOrTheNewOneWhole)
{
    QTemporaryDir dir;
    const QString registry = dir.filePath(QStringLiteral("vtw.ini"));
    const QString settings = dir.filePath(QStringLiteral("generar-tickets.ini"));
    const QByteArray oldRegistry = "[VTW]\r\nMySQLServer=pos1\r\nMySQLPassword=abc\r\n";
    const QByteArray oldSettings = "[Conexión]\r\nBase de datos=datos1\r\n";
    // Large enough that a write takes a while: most kills land in the middle of one.
    const QString value(4 << 20, u'x');
    QRandomGenerator random(7);
    int interrupted = 0;
    for (int attempt = 0; attempt < 30; ++attempt) {
        writeFile(registry, oldRegistry);
        ASSERT_EQ(chmod(QFile::encodeName(registry).constData(), 0600), 0);
        writeFile(settings, oldSettings);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                krvt5::DelRegistro registro;
                registro.BuscarRegistroVTW(dir.path());
                registro.GuardaDatosVTW(QStringLiteral("MySQLServer"), value);
                krvt5::libKRCM().EscribeIni(QStringLiteral("Conexión"),
                                            QStringLiteral("Base de datos"), value, settings);
            } catch (...) {
                _exit(2);
            }
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(40000)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        interrupted += WIFSIGNALED(status) ? 1 : 0;

        const QByteArray nowRegistry = readFile(registry);
        const QByteArray nowSettings = readFile(settings);
        EXPECT_TRUE(nowRegistry == oldRegistry ||
                    nowRegistry ==
                        "[VTW]\r\nMySQLServer=" + value.toLatin1() + "\r\nMySQLPassword=abc\r\n")
            << "attempt " << attempt << ": " << nowRegistry.size() << " bytes";
        EXPECT_TRUE(nowSettings == oldSettings ||
                    nowSettings == "[Conexión]\r\nBase de datos=" + value.toLatin1() + "\r\n")
            << "attempt " << attempt << ": " << nowSettings.size() << " bytes";
        struct stat info {};
        ASSERT_EQ(stat(QFile::encodeName(registry).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u) << "attempt " << attempt;
    }
    EXPECT_GT(interrupted, 0);
}

} // namespace

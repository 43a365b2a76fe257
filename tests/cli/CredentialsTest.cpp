#include "cli/RunProgram.h"
#include "common/Files.h"
#include "common/Installation.h"
#include "krvt5/Utilerias.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

using namespace testsupport;

// The database password, plain or scrambled, never reaches what the program shows or leaves
// behind: terminal output, messages, the run report, the per-row report.

namespace {

bool haveServer()
{
    const std::vector<Engine> engines = testsupport::engines();
    return std::find(engines.begin(), engines.end(), Engine::MariaDB) != engines.end();
}

TEST(Credentials, ThePasswordIsInNoOutputNoMessageAndNoReport)
{
    if (!haveServer())
        GTEST_SKIP() << "sin servidor MariaDB de pruebas";
    TestDatabase db(Engine::MariaDB);
    Installation place(db, 700);
    ASSERT_TRUE(installProgram(place.executable()));
    writeFile(place.workbook(), "Folio,Marca,,Fecha,Importe\r\n,V,,07/12/2026,10\r\n"
                                ",V,,31/02/2026,11\r\n");
    const QString registry = place.posFolder() + QStringLiteral("/vtw.ini");
    const QString informe = place.programFolder() + QStringLiteral("/informe.csv");
    krvt5::Utilerias scramble;
    const QString wrong = QStringLiteral("Contraseña-Equivocada-91");

    struct Attempt {
        const char* name;
        QString password;
        QStringList arguments;
        int status;
    };
    const std::vector<Attempt> attempts = {
        // The second row's date does not exist: the run fails after storing the first.
        {"right_password",
         db.password(),
         {QStringLiteral("--proceder"), QStringLiteral("--informe"), informe},
         1},
        {"dry_run", db.password(), {QStringLiteral("--simular")}, 1},
        {"wrong_password", wrong, {QStringLiteral("--proceder")}, 1},
    };
    QByteArray everything;
    for (const Attempt& attempt : attempts) {
        SCOPED_TRACE(attempt.name);
        writeFile(registry,
                  "[VTW]\r\nMySQLServer=" + db.server().toUtf8() +
                      "\r\nMySQLPuerto=" + db.port().toUtf8() +
                      "\r\nMySQLUsuario=" + scramble.Encripta(db.user()).toUtf8() +
                      "\r\nMySQLPassword=" + scramble.Encripta(attempt.password).toUtf8() + "\r\n");
        const ProgramRun outcome = runProgram(place.executable(), attempt.arguments);
        EXPECT_EQ(outcome.status, attempt.status) << outcome.err.toStdString();
        everything += (outcome.out + outcome.err).toUtf8();
    }
    // Whatever the program left in its folder: the run report, the per-row report, settings.
    QDirIterator files(place.programFolder(), QDir::Files);
    while (files.hasNext()) {
        const QString file = files.next();
        if (file != place.executable())
            everything += readFile(file);
    }
    EXPECT_TRUE(everything.contains("Access denied")) << everything.toStdString();
    EXPECT_TRUE(everything.contains("no es una fecha")) << everything.toStdString();
    for (const QString& secret :
         {db.password(), wrong, scramble.Encripta(db.password()), scramble.Encripta(wrong)}) {
        ASSERT_FALSE(secret.isEmpty());
        EXPECT_FALSE(everything.contains(secret.toUtf8())) << secret.toStdString();
    }
}

// Messages are built without the password, not cleaned of it afterwards: a one-letter password,
// whose letter is in almost every word, leaves every message whole, word for word the same as
// with any other password.
TEST(Credentials, AOneLetterPasswordLeavesEveryMessageWhole)
{
    if (!haveServer())
        GTEST_SKIP() << "sin servidor MariaDB de pruebas";
    TestDatabase db(Engine::MariaDB);
    Installation place(db, 700);
    ASSERT_TRUE(installProgram(place.executable()));
    writeFile(place.workbook(), "Folio,Marca,,Fecha,Importe\r\n,V,,07/12/2026,10\r\n");
    krvt5::Utilerias scramble;
    const QString registry = place.posFolder() + QStringLiteral("/vtw.ini");
    QStringList outputs;
    for (const QString& password : {QStringLiteral("Otra-Contraseña-27"), QStringLiteral("s"),
                                    QStringLiteral("e"), QStringLiteral("a")}) {
        SCOPED_TRACE(password.toStdString());
        QFile::remove(place.logFile());
        writeFile(registry, "[VTW]\r\nMySQLServer=" + db.server().toUtf8() +
                                "\r\nMySQLPuerto=" + db.port().toUtf8() +
                                "\r\nMySQLUsuario=" + scramble.Encripta(db.user()).toUtf8() +
                                "\r\nMySQLPassword=" + scramble.Encripta(password).toUtf8() +
                                "\r\n");
        const ProgramRun outcome = runProgram(place.executable(), {QStringLiteral("--proceder")});
        EXPECT_EQ(outcome.status, 1);
        QString everything = outcome.out + outcome.err;
        // The run report without its time stamps.
        for (const QString& line : QString::fromUtf8(readFile(place.logFile())).split(u'\n'))
            everything += line.mid(20) + u'\n';
        EXPECT_TRUE(everything.contains(
            QStringLiteral("Access denied for user '%1'@'127.0.0.1'").arg(db.user())))
            << everything.toStdString();
        EXPECT_TRUE(everything.contains(QStringLiteral("No se pudo conectar con la base de datos "
                                                       "MySQL (servidor %1, puerto %2")
                                            .arg(db.server(), db.port())))
            << everything.toStdString();
        EXPECT_FALSE(everything.contains(u'*')) << everything.toStdString();
        outputs << everything;
    }
    for (const QString& output : outputs)
        EXPECT_EQ(output.toStdString(), outputs.front().toStdString());
}

} // namespace

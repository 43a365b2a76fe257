#include "krvt5/IniFile.h"

#include "common/Files.h"
#include "krvt5/Failure.h"
#include "krvt5/libKRCM.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

QByteArray garbage()
{
    QRandomGenerator random(20240601);
    QByteArray bytes(4096, Qt::Uninitialized);
    for (char& byte : bytes)
        byte = static_cast<char>(random.bounded(256));
    return bytes;
}

class IniTest : public testing::Test {
protected:
    QString path(const QString& name = QStringLiteral("programa.ini")) const
    {
        return dir.filePath(name);
    }
    QTemporaryDir dir;
    krvt5::libKRCM lib;
};

struct ReadCase {
    const char* name;
    QByteArray file;
    QString section;
    QString key;
    QString expected;
};

class IniRead : public IniTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(IniRead, FindsTheStoredText)
{
    const ReadCase& c = GetParam();
    writeFile(path(), c.file);
    EXPECT_EQ(lib.LeeIni(c.section, c.key, path()), c.expected);
}

const QString conexion = QStringLiteral("Conexión");
const QString baseDeDatos = QStringLiteral("Base de datos");

INSTANTIATE_TEST_SUITE_P(
    Cases, IniRead,
    testing::Values(ReadCase{"utf8Accents", "[Conexi\xC3\xB3n]\nBase de datos=a\xC3\xB1o\n",
                             conexion, baseDeDatos, QStringLiteral("año")},
                    ReadCase{"utf8BomCrlf", "\xEF\xBB\xBF[Conexi\xC3\xB3n]\r\nBase de datos=x\r\n",
                             conexion, baseDeDatos, "x"},
                    ReadCase{"windows1252",
                             "[Conexi\xF3n]\r\nBase de datos=Pe\xF1"
                             "a \x80\r\n",
                             conexion, baseDeDatos, QStringLiteral("Peña €")},
                    ReadCase{"valueWithEquals", "[A]\nk=a=b\n", "A", "k", "a=b"},
                    ReadCase{"valueUntrimmedKeyTrimmed", "[ A ]\n\t k  = v \n", "A", "k", " v "},
                    ReadCase{"emptyValue", "[A]\nk=\n", "A", "k", ""},
                    ReadCase{"sectionCaseSensitive", "[conexi\xC3\xB3n]\nBase de datos=x\n",
                             conexion, baseDeDatos, ""},
                    ReadCase{"keyCaseSensitive", "[A]\nK=x\n", "A", "k", ""},
                    ReadCase{"commentedKeys", "[A]\n;k=1\n  #k=2\n", "A", "k", ""},
                    ReadCase{"keyOfAnotherSection", "[A]\nk=1\n[B]\nj=2\n", "B", "k", ""},
                    ReadCase{"keyBeforeAnySection", "k=1\n[A]\n", "A", "k", ""},
                    ReadCase{"sectionInLaterDuplicate", "[A]\nj=1\n[B]\n[A]\nk=2\n", "A", "k", "2"},
                    ReadCase{"firstOfDuplicateKeys", "[A]\nk=1\nk=2\n", "A", "k", "1"},
                    ReadCase{"lastLineWithoutEnd", "[A]\nk=v", "A", "k", "v"},
                    ReadCase{"oldMacLineEnds", "[A]\rk=v\r", "A", "k", "v"},
                    ReadCase{"missingSection", "[A]\nk=v\n", "B", "k", ""},
                    ReadCase{"emptyFile", "", "A", "k", ""},
                    ReadCase{"nulBytes", QByteArray(1000, '\0') + QByteArray("\n[A]\nk=v\0w\n", 11),
                             "A", "k", QString::fromLatin1("v\0w", 3)},
                    ReadCase{"garbage", garbage(), "A", "k", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IniTest, MissingFileOrFolderReadsEmpty)
{
    EXPECT_EQ(lib.LeeIni("A", "k", path()), "");
    EXPECT_EQ(lib.LeeIni("A", "k", dir.path()), "");
    EXPECT_EQ(lib.LeeIni("A", "k", ""), "");
}

struct WriteCase {
    const char* name;
    std::optional<QByteArray> before; // nullopt: no file yet
    QString section;
    QString key;
    QString value;
    QByteArray after;
};

class IniWrite : public IniTest, public testing::WithParamInterface<WriteCase> {};

TEST_P(IniWrite, ChangesOnlyTheKey)
{
    const WriteCase& c = GetParam();
    if (c.before)
        writeFile(path(), *c.before);
    lib.EscribeIni(c.section, c.key, c.value, path());
    EXPECT_EQ(readFile(path()), c.after);
    EXPECT_EQ(lib.LeeIni(c.section, c.key, path()), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWrite,
    testing::Values(
        WriteCase{"newFileIsUtf8", std::nullopt, conexion, baseDeDatos, "datos1",
                  "[Conexi\xC3\xB3n]\nBase de datos=datos1\n"},
        WriteCase{"newSectionKeepsCrlf", "; nota\r\n[A]\r\nx=1\r\n", "B", "k", "v",
                  "; nota\r\n[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
        WriteCase{"replacedInPlace", "[A]\r\n  k = viejo \r\n; k=comentario\r\nz=9\r\n", "A", "k",
                  "nuevo", "[A]\r\n  k =nuevo\r\n; k=comentario\r\nz=9\r\n"},
        WriteCase{"appendedBeforeTrailingBlanks", "[A]\nx=1\n\n\n[B]\ny=2\n", "A", "k", "v",
                  "[A]\nx=1\nk=v\n\n\n[B]\ny=2\n"},
        WriteCase{"lastLineWithoutEnd", "[A]\nx=1", "A", "k", "v", "[A]\nx=1\nk=v\n"},
        WriteCase{"valueWithEqualsAndSpaces", "[A]\nk=1\n", "A", "k", " a=b ", "[A]\nk= a=b \n"},
        WriteCase{"utf8BomKept", "\xEF\xBB\xBF[A]\nk=1\n", conexion, "k", QStringLiteral("ñ"),
                  "\xEF\xBB\xBF[A]\nk=1\n[Conexi\xC3\xB3n]\nk=\xC3\xB1\n"},
        WriteCase{"windows1252Kept",
                  "[Conexi\xF3n]\r\n; c\xF3"
                  "digo \x80\r\nRuta=viejo\r\n",
                  conexion, "Ruta", QStringLiteral("C:\\Peña"),
                  "[Conexi\xF3n]\r\n; c\xF3"
                  "digo \x80\r\nRuta=C:\\Pe\xF1"
                  "a\r\n"},
        WriteCase{"windows1252NewSection", "[Conexi\xF3n]\nk=1\n", QStringLiteral("Configuración"),
                  "Archivo", QStringLiteral("€"),
                  "[Conexi\xF3n]\nk=1\n[Configuraci\xF3n]\nArchivo=\x80\n"},
        WriteCase{"windows1252BecomesUtf8ForOtherText", "[Conexi\xF3n]\nk=1\n", conexion, "k",
                  QStringLiteral("✓"), "[Conexi\xC3\xB3n]\nk=\xE2\x9C\x93\n"},
        WriteCase{"windows1252HighBytesBothWays",
                  "[A]\n\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F"
                  "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F\n",
                  "A", "k",
                  QStringLiteral(u"€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ"),
                  "[A]\n\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F"
                  "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F\n"
                  "k=\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8D\x8E\x8F"
                  "\x90\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9D\x9E\x9F\n"},
        WriteCase{"unassignedWindows1252BytesKept", "[A]\n\x81\x8D\x8F\x90\x9D\n", "A", "k", "v",
                  "[A]\n\x81\x8D\x8F\x90\x9D\nk=v\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(IniTest, WriteIntoGarbageKeepsItsBytes)
{
    const QByteArray before = QByteArray(300, '\0') + garbage();
    writeFile(path(), before);
    lib.EscribeIni(conexion, baseDeDatos, "datos1", path());
    EXPECT_TRUE(readFile(path()).startsWith(before));
    EXPECT_EQ(lib.LeeIni(conexion, baseDeDatos, path()), "datos1");
}

TEST_F(IniTest, RewriteKeepsPermissions)
{
    writeFile(path(), "[A]\nk=1\n");
    ASSERT_EQ(chmod(QFile::encodeName(path()).constData(), 0640), 0);
    lib.EscribeIni("A", "k", "2", path());
    struct stat info {};
    ASSERT_EQ(stat(QFile::encodeName(path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// A file the program creates gets the mode it asks for whatever the umask: the settings file of
// a shared data folder is the group's; a file holding credentials is the owner's.
TEST_F(IniTest, ANewFileGetsItsModeWhateverTheUmask)
{
    const struct {
        const char* name;
        mode_t umask;
        krvt5::ini::FileRules rules;
        mode_t expected;
    } cases[] = {
        {"settings, open umask", 0, {}, 0660},
        {"settings, closed umask", 077, {}, 0660},
        {"credentials, open umask",
         0,
         {QFileDevice::ReadOwner | QFileDevice::WriteOwner, false},
         0600},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString::fromLatin1(c.name) + QStringLiteral(".ini"));
        const mode_t previous = umask(c.umask);
        krvt5::ini::write(file, "A", "k", "1", c.rules);
        umask(previous);
        struct stat info {};
        ASSERT_EQ(stat(QFile::encodeName(file).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.expected);
    }
}

// Another user of the folder could plant a link at the settings file's name: the write neither
// follows it nor replaces it.
TEST_F(IniTest, ALinkAtTheNameIsNeitherFollowedNorReplaced)
{
    writeFile(path("ajeno"), "[A]\nk=1\n");
    ASSERT_TRUE(QFile::link(path("ajeno"), path()));
    EXPECT_THROW(lib.EscribeIni("A", "k", "2", path()), krvt5::Failure);
    EXPECT_EQ(readFile(path("ajeno")), "[A]\nk=1\n");
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
}

struct FailureCase {
    const char* name;
    QString relativePath;
    QString key;
    QString value;
};

class IniWriteFailure : public IniTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(IniWriteFailure, NamesTheFileAndLeavesItAlone)
{
    const FailureCase& c = GetParam();
    writeFile(path("archivo"), "[A]\nk=1\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir("carpeta.ini"));
    const QString target = path(c.relativePath);
    try {
        lib.EscribeIni("A", c.key, c.value, target);
        FAIL() << "no failure";
    } catch (const krvt5::Failure& failure) {
        EXPECT_TRUE(failure.message().startsWith(
            QStringLiteral("No se puede escribir el archivo de configuración \"%1\": ")
                .arg(target)))
            << failure.what();
    }
    EXPECT_EQ(readFile(path("archivo")), "[A]\nk=1\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList({"archivo", "carpeta.ini"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniWriteFailure,
    testing::Values(FailureCase{"missingFolder", "no/existe.ini", "k", "v"},
                    FailureCase{"parentIsAFile", "archivo/programa.ini", "k", "v"},
                    FailureCase{"pathIsAFolder", "carpeta.ini", "k", "v"},
                    FailureCase{"lineBreakInValue", "archivo", "k", "v\r\n[B]"},
                    FailureCase{"equalsInKey", "archivo", "k=j", "v"},
                    FailureCase{"emptyKey", "archivo", " ", "v"}),
    [](const auto& info) { return std::string(info.param.name); });

// A write cut short (here by the file size limit, which binds root too) leaves the old file.
TEST_F(IniTest, FailedWriteLeavesOldFileWhole)
{
    const QByteArray before = "[A]\r\nk=1\r\n; nota\r\n";
    writeFile(path(), before);
    const QString bigValue(256 * 1024, u'x');

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::optional<QString> message;
    try {
        lib.EscribeIni("A", "k", bigValue, path());
    } catch (const krvt5::Failure& failure) {
        message = failure.message();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    ASSERT_TRUE(message);
    EXPECT_TRUE(message->contains(path())) << message->toStdString();
    EXPECT_EQ(readFile(path()), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"programa.ini"});
}

TEST_F(IniTest, OversizedFileIsAFailureNamingIt)
{
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(17 * 1024 * 1024)); // sparse: no disk used
    }
    for (const auto& call :
         {std::function<void()>([&] { lib.LeeIni("A", "k", path()); }),
          std::function<void()>([&] { lib.EscribeIni("A", "k", "v", path()); })}) {
        try {
            call();
            ADD_FAILURE() << "no failure";
        } catch (const krvt5::Failure& failure) {
            EXPECT_TRUE(failure.message().contains(path())) << failure.what();
        }
    }
    EXPECT_EQ(QFileInfo(path()).size(), 17 * 1024 * 1024);
}

} // namespace

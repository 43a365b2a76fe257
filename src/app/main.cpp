#include "app/Consola.h"
#include "app/MessageBoxes.h"
#include "app/Version.h"
#include "app/frmPrincipal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <optional>

namespace {

const char kUsage[] =
    "Uso: generar-tickets [opción] [LIBRO]\n"
    "\n"
    "Sin opciones abre la ventana del programa.\n"
    "\n"
    "  LIBRO              el libro de ventas de esta ejecución, en lugar del indicado en el\n"
    "                     archivo de configuración (que no cambia)\n"
    "  --proceder         genera los tickets sin ventana, como si se hubiera confirmado\n"
    "  --simular          lee el libro y la base de datos e informa lo que haría una\n"
    "                     generación, sin escribir nada\n"
    "  --informe ARCHIVO  con --proceder, escribe además el resultado de cada renglón en\n"
    "                     ARCHIVO (CSV)\n"
    "  --version          muestra la versión\n"
    "  --help             muestra esta ayuda\n"
    "\n"
    "Estado de salida: 0 correcto; 1 falla (o, con --simular, la generación fallaría);\n"
    "2 ruta de Vantrel Premium incorrecta, libro inexistente u opción no válida.\n";

struct Options {
    std::optional<app::ModoConsola> modo;
    QString informe;
    QString libro; // absolute, or empty for the settings file's
    bool help = false;
    bool version = false;
};

// The argument the parser refused, as the user typed it: the first option that is none of ours
// (or gives a value to one that takes none).
QString refusedArgument(const QStringList& arguments)
{
    static const QStringList kKnown{QStringLiteral("--proceder"), QStringLiteral("--simular"),
                                    QStringLiteral("--help"), QStringLiteral("-h"),
                                    QStringLiteral("--version")};
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--"))
            break;
        if (arg == QLatin1String("--informe")) {
            ++i;
            continue;
        }
        if (arg.startsWith(u'-') && arg.size() > 1 && !kKnown.contains(arg) &&
            !arg.startsWith(QLatin1String("--informe=")))
            return arg;
    }
    return arguments.size() > 1 ? arguments.last() : QString();
}

// Returns nothing after a usage error, which it has reported.
std::optional<Options> parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption proceder(QStringLiteral("proceder"));
    const QCommandLineOption simular(QStringLiteral("simular"));
    const QCommandLineOption informe(QStringLiteral("informe"), QString(),
                                     QStringLiteral("ARCHIVO"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({proceder, simular, informe, help, version});
    parser.addPositionalArgument(QStringLiteral("LIBRO"), QString());

    if (!parser.parse(arguments)) {
        // The parser's own messages are English; ours say the same in the program's words.
        if (parser.unknownOptionNames().isEmpty() &&
            arguments.last() == QLatin1String("--informe")) {
            std::fputs("generar-tickets: --informe necesita el nombre de un archivo.\n", stderr);
        } else {
            std::fprintf(stderr, "generar-tickets: opción no válida: %s\n\n%s",
                         refusedArgument(arguments).toLocal8Bit().constData(), kUsage);
        }
        return std::nullopt;
    }
    Options options;
    if (parser.isSet(proceder) && parser.isSet(simular)) {
        std::fputs("generar-tickets: --proceder y --simular no se pueden usar juntas.\n", stderr);
        return std::nullopt;
    }
    if (parser.isSet(proceder))
        options.modo = app::ModoConsola::Proceder;
    else if (parser.isSet(simular))
        options.modo = app::ModoConsola::Simular;
    options.informe = parser.value(informe);
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    if (parser.isSet(informe) && options.modo != app::ModoConsola::Proceder) {
        std::fputs("generar-tickets: --informe sólo se usa con --proceder.\n", stderr);
        return std::nullopt;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) {
        std::fprintf(stderr, "generar-tickets: sólo se puede indicar un libro.\n\n%s", kUsage);
        return std::nullopt;
    }
    // Taken before the program makes its own folder the current one.
    if (!positional.isEmpty() && !positional.constFirst().isEmpty())
        options.libro = QFileInfo(positional.constFirst()).absoluteFilePath();
    return options;
}

// When a connection is lost, Qt's MySQL driver says on standard error that it cannot free the
// statements on it, before the program says in its own words what happened. Everything else Qt
// says goes out as Qt would print it.
void withoutDriverNoise(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(u"QMYSQLResult::cleanup: unable to free statement handle"))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

int runWindow(int argc, char** argv, const QString& libro)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("generar-tickets"));
    QApplication::setApplicationVersion(QStringLiteral(GT_VERSION_TEXT));

    // Qt's own dialogs in Spanish; our message boxes set their button texts themselves.
    QTranslator qtSpanish;
    if (qtSpanish.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtSpanish);

    app::QtMessageBoxes boxes;
    app::frmPrincipal window(boxes);
    window.setWorkbookThisRun(libro);
    QObject::connect(&window, &app::frmPrincipal::programEnded, &application,
                     [](int status) { QCoreApplication::exit(status); });
    if (!window.load())
        return window.exitStatus();
    window.show();
    const int status = QApplication::exec();
    return window.unloaded() ? window.exitStatus() : status;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const std::optional<Options> options = parse(arguments);
    if (!options)
        return 2;
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::puts("generar-tickets " GT_VERSION_TEXT);
        return 0;
    }
    qInstallMessageHandler(withoutDriverNoise);
    if (!options->modo)
        return runWindow(argc, argv, options->libro);

    // No window: no display is needed.
    QCoreApplication application(argc, argv);
    // A relative name is the user's, from the folder the command ran in: the program makes its
    // data folder current before it writes.
    const QString informe =
        options->informe.isEmpty() ? QString() : QDir::current().absoluteFilePath(options->informe);
    return app::EjecutarSinVentana(*options->modo, QCoreApplication::applicationFilePath(),
                                   informe, options->libro);
}

#include "app/Consola.h"
#include "app/MessageBoxes.h"
#include "app/frmPrincipal.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

const char kUsage[] =
    "Uso: generar-tickets [opción]\n"
    "\n"
    "Sin opciones abre la ventana del programa.\n"
    "\n"
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
    bool help = false;
    bool version = false;
};

// Returns nothing after a usage error, which it has reported.
std::optional<Options> parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--proceder") == 0 || std::strcmp(arg, "--simular") == 0) {
            const auto modo =
                arg[2] == 'p' ? app::ModoConsola::Proceder : app::ModoConsola::Simular;
            if (options.modo && *options.modo != modo) {
                std::fputs("generar-tickets: --proceder y --simular no se pueden usar juntas.\n",
                           stderr);
                return std::nullopt;
            }
            options.modo = modo;
        } else if (std::strcmp(arg, "--informe") == 0) {
            if (i + 1 >= argc) {
                std::fputs("generar-tickets: --informe necesita el nombre de un archivo.\n",
                           stderr);
                return std::nullopt;
            }
            options.informe = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            options.help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            options.version = true;
        } else {
            std::fprintf(stderr, "generar-tickets: opción no válida: %s\n\n%s", arg, kUsage);
            return std::nullopt;
        }
    }
    if (!options.informe.isEmpty() && options.modo != app::ModoConsola::Proceder) {
        std::fputs("generar-tickets: --informe sólo se usa con --proceder.\n", stderr);
        return std::nullopt;
    }
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

int runWindow(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("generar-tickets"));
    QApplication::setApplicationVersion(QStringLiteral("2.00"));

    // Qt's own dialogs in Spanish; our message boxes set their button texts themselves.
    QTranslator qtSpanish;
    if (qtSpanish.load(QLocale(QLocale::Spanish), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtSpanish);

    app::QtMessageBoxes boxes;
    app::frmPrincipal window(boxes);
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
    const std::optional<Options> options = parse(argc, argv);
    if (!options)
        return 2;
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->version) {
        std::puts("generar-tickets 2.00");
        return 0;
    }
    qInstallMessageHandler(withoutDriverNoise);
    if (!options->modo)
        return runWindow(argc, argv);

    // No window: no display is needed.
    QCoreApplication application(argc, argv);
    // A relative name is the user's, from the folder the command ran in: the program makes its
    // data folder current before it writes.
    const QString informe =
        options->informe.isEmpty() ? QString() : QDir::current().absoluteFilePath(options->informe);
    return app::EjecutarSinVentana(*options->modo, QCoreApplication::applicationFilePath(),
                                   informe);
}

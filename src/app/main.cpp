#include "app/MessageBoxes.h"
#include "app/frmPrincipal.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char** argv)
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

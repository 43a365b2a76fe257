// Shows the real window with a sample settings summary and saves a picture of it, for the
// documentation: window-screenshot docs/window.png (run under a display, e.g. xvfb-run -a).
#include "app/MessageBoxes.h"
#include "app/frmPrincipal.h"

#include <QApplication>
#include <QPixmap>
#include <QTest>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "uso: window-screenshot ARCHIVO.png\n");
        return 2;
    }
    app::QtMessageBoxes boxes;
    app::frmPrincipal window(boxes);
    // The summary as the settings reader writes it: a lone CR after the server, CR LF after that.
    window.setCaption(support::Label::Label3,
                      QStringLiteral(" Servidor: 127.0.0.1\r  Base de datos: datos1\r\n"
                                     "Archivo:\r\n/opt/generar-tickets/Ventas.csv\r\n"
                                     "Ticket inicial: 9"));
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        std::fprintf(stderr, "la ventana no llegó a estar activa\n");
        return 1;
    }
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "no se pudo escribir %s\n", argv[1]);
        return 1;
    }
    return 0;
}

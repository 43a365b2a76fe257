// Saves what the X display shows, window manager frames included, for the documentation:
// screen-grab ARCHIVO.png [X Y ANCHO ALTO] (run under the display, e.g. Xvfb with a window
// manager; scripts/window-tour uses it).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "uso: screen-grab ARCHIVO.png [X Y ANCHO ALTO]\n");
        return 2;
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "no hay pantalla\n");
        return 1;
    }
    QPixmap picture = argc == 6 ? screen->grabWindow(0, std::atoi(argv[2]), std::atoi(argv[3]),
                                                     std::atoi(argv[4]), std::atoi(argv[5]))
                                : screen->grabWindow(0);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "no se pudo escribir %s\n", argv[1]);
        return 1;
    }
    return 0;
}

// Draws the program's icon, a cash receipt, as a 32 x 32 image with a 256-colour palette.
// Run by hand when the artwork changes: make-icon
// share/icons/hicolor/32x32/apps/generar-tickets.png
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "uso: make-icon ARCHIVO.png\n");
        return 2;
    }
    QImage art(32, 32, QImage::Format_ARGB32);
    art.fill(Qt::transparent);
    QPainter p(&art);

    // The paper, pixel by pixel, with a torn zigzag foot.
    const QColor edge(64, 72, 84);
    for (int x = 6; x <= 22; ++x) {
        const int foot = 26 + std::abs((x - 6) % 4 - 2);
        p.fillRect(QRect(x, 1, 1, foot - 1), x == 6 || x == 22 ? edge : QColor(Qt::white));
        p.fillRect(QRect(x, foot, 1, 1), edge);
    }
    p.fillRect(QRect(6, 1, 17, 1), edge);

    // Header band in the window's light blue, then the printed lines.
    p.fillRect(QRect(7, 3, 15, 5), QColor(224, 243, 254));
    p.fillRect(QRect(9, 4, 11, 1), QColor(40, 96, 160));
    p.fillRect(QRect(11, 6, 7, 1), QColor(40, 96, 160));
    const QColor ink(150, 158, 168);
    p.fillRect(QRect(8, 10, 12, 1), ink);
    p.fillRect(QRect(8, 13, 9, 1), ink);
    p.fillRect(QRect(8, 16, 11, 1), ink);
    p.fillRect(QRect(8, 19, 7, 1), ink);
    p.fillRect(QRect(8, 22, 13, 2), edge);

    // A coin: the sale is paid in cash.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(30, 110, 40), 1.2));
    p.setBrush(QColor(70, 170, 70));
    p.drawEllipse(QRectF(19.5, 19.5, 11, 11));
    p.setPen(QPen(QColor(255, 255, 255), 1.4, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(25, 21.5), QPointF(25, 28.5));
    QPainterPath dollar;
    dollar.moveTo(27, 23);
    dollar.cubicTo(27, 21.8, 23, 21.8, 23, 23.5);
    dollar.cubicTo(23, 25, 27, 24.8, 27, 26.5);
    dollar.cubicTo(27, 28.2, 23, 28.2, 23, 27);
    p.setBrush(Qt::NoBrush);
    p.drawPath(dollar);
    p.end();

    QImage icon = art.convertToFormat(QImage::Format_Indexed8,
                                      Qt::ThresholdDither | Qt::ThresholdAlphaDither);
    // Pad the palette to 256 entries so the file is written with 8 bits per pixel.
    const int used = icon.colorCount();
    icon.setColorCount(256);
    for (int i = used; i < 256; ++i)
        icon.setColor(i, qRgba(0, 0, 0, 255));
    if (!icon.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "no se pudo escribir %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d colores usados de 256\n", argv[1], used);
    return 0;
}

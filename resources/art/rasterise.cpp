// Renders an SVG into a PNG or JPEG with Qt's own SVG renderer (the one the program uses).
// rasterise in.svg out.png|out.jpg WIDTH HEIGHT [background colour]
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
// render in.svg out.(png|jpg) W H [bg]
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QSvgRenderer r(QString::fromLocal8Bit(argv[1]));
    QImage img(atoi(argv[3]), atoi(argv[4]), QImage::Format_ARGB32);
    img.fill(argc > 5 ? QColor(argv[5]) : QColor(Qt::transparent));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    r.render(&p);
    p.end();
    return img.save(QString::fromLocal8Bit(argv[2]), nullptr, 95) ? 0 : 1;
}

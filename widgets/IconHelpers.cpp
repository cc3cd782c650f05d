#include "widgets/IconHelpers.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

QString recolorSvg(const QString &path, const QColor &color)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QString svg = QString::fromUtf8(file.readAll());

    static const QRegularExpression fillPattern(QStringLiteral("fill=\"#[0-9A-Fa-f]{6}\""));
    static const QRegularExpression strokePattern(QStringLiteral("stroke=\"#[0-9A-Fa-f]{6}\""));
    const QString name = color.name(QColor::HexRgb);
    svg.replace(fillPattern, QStringLiteral("fill=\"%1\"").arg(name));
    svg.replace(strokePattern, QStringLiteral("stroke=\"%1\"").arg(name));
    return svg;
}

QPixmap svgToPixmapExact(QSvgRenderer &renderer, const QSize &size)
{
    if (size.isEmpty())
        return QPixmap();
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return QPixmap::fromImage(image);
}

QPixmap svgFileToPixmapExact(const QString &path, const QSize &size)
{
    QSvgRenderer renderer(path);
    return svgToPixmapExact(renderer, size);
}

QPixmap svgToPixmap(const QString &svg, const QSize &size)
{
    QSvgRenderer renderer(svg.toUtf8());
    return svgToPixmapExact(renderer, size * 2);
}

QIcon svgToIcon(const QString &svg, const QSize &size)
{
    return QIcon(svgToPixmap(svg, size));
}

QPixmap svgFileToPixmap(const QString &path, const QSize &size)
{
    return svgFileToPixmapExact(path, size * 2);
}

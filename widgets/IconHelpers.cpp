#include "widgets/IconHelpers.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace {

QImage transparentImage(const QSize &size)
{
    if (size.isEmpty())
        return QImage();
    QImage image(size * 2, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

QPixmap renderInto(QSvgRenderer &renderer, const QSize &size)
{
    QImage image = transparentImage(size);
    if (image.isNull())
        return QPixmap();
    if (renderer.isValid()) {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    return QPixmap::fromImage(image);
}

} // namespace

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

QPixmap svgToPixmap(const QString &svg, const QSize &size)
{
    QSvgRenderer renderer(svg.toUtf8());
    return renderInto(renderer, size);
}

QIcon svgToIcon(const QString &svg, const QSize &size)
{
    return QIcon(svgToPixmap(svg, size));
}

QPixmap svgFileToPixmap(const QString &path, const QSize &size)
{
    QSvgRenderer renderer(path);
    return renderInto(renderer, size);
}

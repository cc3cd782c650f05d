#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

class QSvgRenderer;

// SVG icons are rasterised at twice the size at which they are shown, so they
// stay sharp on high-density screens and when a view scales them down.

// Reads the SVG file or resource at path and replaces every six-digit
// fill="#rrggbb" and stroke="#rrggbb" attribute with the given colour.
// Colours written any other way are left alone. Empty when the file cannot be read.
QString recolorSvg(const QString &path, const QColor &color);

// Renders SVG text into a transparent pixmap of twice the given size.
QPixmap svgToPixmap(const QString &svg, const QSize &size);

// The pixmap of svgToPixmap wrapped in an icon.
QIcon svgToIcon(const QString &svg, const QSize &size);

// Renders the SVG file or resource at path, with its own colours, into a
// transparent pixmap of twice the given size.
QPixmap svgFileToPixmap(const QString &path, const QSize &size);

// Pictures laid out at their pixel size (logos, backgrounds, legend marks)
// rather than as icons: rendered into a transparent pixmap of exactly the
// given size, stretched to fill it. An SVG that cannot be read gives a fully
// transparent pixmap; an empty size gives a null one.
QPixmap svgToPixmapExact(QSvgRenderer &renderer, const QSize &size);
QPixmap svgFileToPixmapExact(const QString &path, const QSize &size);

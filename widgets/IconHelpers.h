#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

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

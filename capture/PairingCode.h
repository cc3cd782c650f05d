#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>

class QPainter;

// Paints the QR code of text (UTF-8, error correction low or boosted) into
// the rectangle (0, 0, size), with a quiet border of one module on every
// side; light modules are left as they are. Returns false, painting nothing,
// when the text does not fit in a QR code.
bool paintQR(QPainter &painter, QSize size, QString text, QColor color);

// The pairing code image: 400 x 400, RGB32, white, with the code of text in
// black. A text that does not fit leaves the image white and sets *ok false.
QImage pairingCodeImage(const QString &text, bool *ok = nullptr);

// Shown in place of a code that could not be made.
QString pairingCodeFailureText();

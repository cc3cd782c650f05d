#include "capture/PairingCode.h"

#include "widgets/Trace.h"

#include <QCoreApplication>
#include <QPainter>

#include <qrcodegen.hpp>

#include <algorithm>
#include <exception>

bool paintQR(QPainter &painter, QSize size, QString text, QColor color)
{
    const QByteArray utf8 = text.toUtf8();
    // The library throws for data that does not fit; no exception may leave
    // a painting function called from a slot.
    try {
        const qrcodegen::QrCode qr =
            qrcodegen::QrCode::encodeText(utf8.constData(), qrcodegen::QrCode::Ecc::LOW);
        const int n = std::max(1, qr.getSize());
        const double cell = double(std::min(size.width(), size.height())) / double(n + 2);
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                if (qr.getModule(x, y))
                    painter.drawRect(QRectF((x + 1) * cell, (y + 1) * cell, cell, cell));
        painter.restore();
        return true;
    } catch (const std::exception &) {
        kelvaris::trace(QStringLiteral("The pairing code could not be made"));
        return false;
    }
}

QImage pairingCodeImage(const QString &text, bool *ok)
{
    QImage image(400, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    const bool made = paintQR(painter, image.size(), text, Qt::black);
    painter.end();
    if (ok)
        *ok = made;
    return image;
}

QString pairingCodeFailureText()
{
    return QCoreApplication::translate("PairingCode", "The pairing code could not be made");
}

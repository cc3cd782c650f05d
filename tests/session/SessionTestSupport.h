#pragma once

#include "session/SessionVisualizer.h"

#include <QBuffer>
#include <QColor>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QString>

namespace SessionTestSupport {

inline QJsonObject loadDocument(const QString &name)
{
    QFile file(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/tests/session/data/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

inline QSharedPointer<SessionVisualizer> makeSession(const QJsonObject &document, int patientId = 7,
                                                     int sessionId = 11)
{
    auto session = QSharedPointer<SessionVisualizer>::create(
        QStringLiteral("sessions/%1/%2").arg(patientId).arg(sessionId), patientId, sessionId,
        QJsonDocument(document), QDateTime(QDate(2024, 3, 7), QTime(10, 0)));
    session->readSessionJson();
    return session;
}

// A JPEG of the given size, one colour with a darker square in the middle so
// that scaled results can be told apart.
inline QByteArray jpeg(const QSize &size, const QColor &colour = QColor(200, 150, 120))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.fillRect(QRect(size.width() / 4, size.height() / 4, size.width() / 2, size.height() / 2),
                     colour.darker(200));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

inline QString screenshotPath(const QString &name)
{
    return qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR") + QLatin1Char('/') + name;
}

} // namespace SessionTestSupport

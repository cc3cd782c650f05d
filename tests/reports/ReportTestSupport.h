#pragma once

// Shared by the report tests: a session document made by hand with known
// counts, dermatoscopic JPEGs stored in its in-memory folder, and a working
// directory holding "report.html".

#include "session/SessionVisualizer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>

namespace ReportTestSupport {

inline QJsonObject pose(double x)
{
    return QJsonObject{{"x", x}, {"y", 0}, {"z", 0}, {"alpha", 10}, {"beta", 0}};
}

inline QJsonObject lesion(const QString &label, int number, const QString &dermatoscopicId = QString())
{
    QJsonObject object{
        {"numericID", number},
        {"lesionPriority", 1},
        {"mainPose", pose(1)},
        {"bbox", QJsonObject{{"x", 1200}, {"y", 800}, {"w", 40}, {"h", 40}}},
        {"instancesBbox", QJsonArray{QJsonObject{{"x", 1200}, {"y", 800}, {"w", 40}, {"h", 40}}}},
        {"instancesPosition", QJsonArray{pose(1)}}};
    if (!label.isEmpty())
        object.insert("lesionLabel", label);
    if (!dermatoscopicId.isEmpty())
        object.insert("dermatoscopicIds", QJsonArray{dermatoscopicId});
    return object;
}

// Positions 0 to 3 hold 2, 1, 0 and 1 camera poses (4 clinical images); the
// lesions are: position 0 "Follow up" (d1), "Exeresis" (d2), "Detected";
// position 1 "Captured" (d3); position 3 "Custom 1" (d4). The external
// position holds one pose and one "Follow up" lesion that the report's
// counts leave out.
inline QJsonObject document()
{
    QJsonObject cameras{{"0", QJsonArray{pose(1), pose(2)}},
                        {"1", QJsonArray{pose(3)}},
                        {"2", QJsonArray{}},
                        {"3", QJsonArray{pose(4)}},
                        {"-1", QJsonArray{pose(5)}}};
    QJsonObject lesions{{"0", QJsonArray{lesion("Follow up", 1, "20240301_1"),
                                         lesion("Exeresis", 2, "20240301_2"), lesion("Detected", 3)}},
                        {"1", QJsonArray{lesion("Captured", 1, "20240301_3")}},
                        {"2", QJsonArray{}},
                        {"3", QJsonArray{lesion("Custom 1", 1, "20240301_4")}},
                        {"-1", QJsonArray{lesion("Follow up", 1, "20240301_5")}}};
    return QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                       {"Version", 1},
                       {"CameraPositions", cameras},
                       {"Lesions", lesions},
                       {"LastLesionID", QJsonArray{3, 1, 0, 1, 1}}};
}

inline QSharedPointer<SessionVisualizer> makeSession(int patientId = 11, int sessionId = 105)
{
    auto session = QSharedPointer<SessionVisualizer>::create(
        QStringLiteral("sessions/%1/%2").arg(patientId).arg(sessionId), patientId, sessionId,
        QJsonDocument(document()), QDateTime(QDate(2026, 11, 3), QTime(10, 0)));
    session->readSessionJson();
    return session;
}

// A noisy JPEG (it does not compress away), one colour per picture.
inline QByteArray jpeg(const QSize &size, const QColor &colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    for (int y = 0; y < size.height(); y += 6)
        for (int x = 0; x < size.width(); x += 6)
            painter.fillRect(x, y, 6, 6, QColor::fromHsv((x * 7 + y * 13) % 360, 120, 80 + (x * y) % 150));
    painter.fillRect(QRect(size.width() / 4, size.height() / 4, size.width() / 2, size.height() / 2), colour);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

inline void storeDermatoscopic(SessionVisualizer &session, const QString &id, const QByteArray &bytes)
{
    session.storeFile(session.dermatoscopicPath(id), bytes, 1);
}

inline QString sourceFile(const QString &relative)
{
    return qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QLatin1Char('/') + relative;
}

// Copies the program's "report.html" into dir (the working directory of a test).
inline bool installPageTemplate(const QString &dir)
{
    QFile::remove(dir + QStringLiteral("/report.html"));
    return QFile::copy(sourceFile(QStringLiteral("resources/report.html")),
                       dir + QStringLiteral("/report.html"));
}

inline QString screenshotPath(const QString &name)
{
    return qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR") + QLatin1Char('/') + name;
}

} // namespace ReportTestSupport

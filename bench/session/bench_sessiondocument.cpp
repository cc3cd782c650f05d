// Prints how long reading and writing session documents of growing size and
// decoding a dermatoscopic preview take. Figures only; nothing passes or fails.

#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <vector>

namespace {
QJsonObject pose(double x, double y)
{
    return QJsonObject{{"x", x}, {"y", y}, {"z", 0.25}, {"alpha", 12.5}, {"beta", -3.75}};
}

QJsonObject document(int lesionsPerPosition)
{
    QJsonObject lesions;
    QJsonObject cameras;
    for (int p = 0; p < 4; ++p) {
        QJsonArray poses;
        for (int i = 0; i < 9; ++i)
            poses.append(pose(i % 3 + 0.1, i / 3 + 0.2));
        cameras.insert(QString::number(p), poses);
        QJsonArray list;
        for (int n = 1; n <= lesionsPerPosition; ++n) {
            const QJsonObject rect{{"x", 1000 + n}, {"y", 800 + n}, {"w", 40}, {"h", 38}};
            QJsonArray contour;
            for (int k = 0; k < 24; ++k)
                contour.append(QJsonObject{{"x", 1000 + n + k}, {"y", 800 + n + k % 5}});
            list.append(QJsonObject{{"bbox", rect},
                                    {"instancesBbox", QJsonArray{rect, rect}},
                                    {"instancesBboxR", QJsonArray{rect, rect}},
                                    {"instancesPosition", QJsonArray{pose(1.1, 0.2), pose(2.1, 0.2)}},
                                    {"instancesContours", QJsonArray{contour, contour}},
                                    {"dermatoscopicIds", QJsonArray{QString("20240101_%1").arg(n)}},
                                    {"dermatoscopicContour", QJsonArray{contour}},
                                    {"mainPose", pose(1.1, 0.2)},
                                    {"radius", 1.5 + n * 0.01},
                                    {"numericID", n},
                                    {"lesionLabel", "Follow up"},
                                    {"classifier", QJsonObject{{"score", 0.123456789}}}});
        }
        lesions.insert(QString::number(p), list);
    }
    return QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                       {"Version", 1},
                       {"CameraPositions", cameras},
                       {"Lesions", lesions}};
}

double medianMs(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The program's trace lines would drown the figures.
    std::cout.setstate(std::ios::failbit);

    std::printf("%-28s %10s %10s %10s\n", "document", "bytes", "read ms", "write ms");
    for (int perPosition : {10, 100, 1000}) {
        const QJsonObject doc = document(perPosition);
        const QByteArray bytes = QJsonDocument(doc).toJson();
        std::vector<double> reads, writes;
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer timer;
            timer.start();
            auto session = QSharedPointer<SessionVisualizer>::create(
                "sessions/1/1", 1, 1, QJsonDocument::fromJson(bytes), QDateTime());
            session->readSessionJson();
            reads.push_back(timer.nsecsElapsed() / 1e6);
            timer.restart();
            const QByteArray written = session->getSessionJson().toJson();
            writes.push_back(timer.nsecsElapsed() / 1e6);
        }
        std::printf("%4d lesions x 4 positions   %10lld %10.2f %10.2f\n", perPosition,
                    (long long)bytes.size(), medianMs(reads), medianMs(writes));
    }

    QImage image(4000, 3000, QImage::Format_RGB32);
    image.fill(QColor(190, 140, 110));
    QPainter(&image).fillRect(1500, 1000, 1000, 1000, QColor(90, 60, 40));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    std::vector<double> previews, fulls;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer timer;
        timer.start();
        const QImage preview = LesionVisualizer::decodePreview(jpeg, LesionVisualizer::previewBound);
        previews.push_back(timer.nsecsElapsed() / 1e6);
        timer.restart();
        const QImage full = SessionVisualizer::decodeImage(jpeg);
        fulls.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("\n4000x3000 JPEG (%lld bytes): preview 300x200 %.2f ms, full decode %.2f ms\n",
                (long long)jpeg.size(), medianMs(previews), medianMs(fulls));
    return 0;
}

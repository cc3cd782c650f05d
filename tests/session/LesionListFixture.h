#pragma once

#include "session/SessionTestSupport.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

// A session document shaped as the stand-in server generates them (same keys
// per lesion: boxes, poses, radius, numericID, lesionPriority, lesionLabel,
// dermatoscopicIds), with values chosen by hand so that every expected order
// below can be written down. Lesions, as id text (position_number; the
// external position shows as 4), priority, label, radius:
//
//   4_3  2  Custom 2    2.0    (external position)
//   0_1  2  Captured    3.2
//   0_2  1  Detected    4.9
//   1_1  3  Exeresis    8.0
//   1_5  1  Captured    7.1
//   2_4  2  Detected   -1      (marked by hand)
//   2_2  1  Follow up   6.5
//   3_7  3  Custom 1    5.0
namespace LesionListFixture {

inline QJsonObject lesion(int position, int number, int priority, const QString &label, double radius)
{
    const QJsonObject box{{"x", 1200 + 10 * number}, {"y", 800}, {"w", 40}, {"h", 38}};
    const QJsonObject pose{{"x", 1}, {"y", 0}, {"z", 0.1}, {"alpha", 10.25}, {"beta", -5.5}};
    const QString id = QStringLiteral("20240307_%1_%2_1").arg(position < 0 ? 4 : position).arg(number);
    return QJsonObject{{"bbox", box},
                       {"instancesBbox", QJsonArray{box}},
                       {"instancesBboxR", QJsonArray{box}},
                       {"instancesPosition", QJsonArray{pose}},
                       {"instancesContours", QJsonArray{QJsonArray()}},
                       {"mainPose", pose},
                       {"radius", radius},
                       {"numericID", number},
                       {"lesionPriority", priority},
                       {"lesionLabel", label},
                       {"dermatoscopicIds", QJsonArray{id}},
                       {"dermatoscopicContour", QJsonArray{QJsonArray()}},
                       {"classifierScore", 0.5},
                       {"detectorModel", "tbs-det-4.2"}};
}

inline QJsonObject document()
{
    QJsonObject lesions{
        {"-1", QJsonArray{lesion(-1, 3, 2, "Custom 2", 2.0)}},
        {"0", QJsonArray{lesion(0, 1, 2, "Captured", 3.2), lesion(0, 2, 1, "Detected", 4.9)}},
        {"1", QJsonArray{lesion(1, 1, 3, "Exeresis", 8.0), lesion(1, 5, 1, "Captured", 7.1)}},
        {"2", QJsonArray{lesion(2, 4, 2, "Detected", -1), lesion(2, 2, 1, "Follow up", 6.5)}},
        {"3", QJsonArray{lesion(3, 7, 3, "Custom 1", 5.0)}},
    };
    const QJsonObject pose{{"x", 0}, {"y", 0}, {"z", 0}, {"alpha", 0}, {"beta", 0}};
    QJsonObject cameras;
    for (const char *key : {"-1", "0", "1", "2", "3"})
        cameras.insert(QLatin1String(key), QJsonArray{pose});
    return QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                       {"Version", 1},
                       {"CameraPositions", cameras},
                       {"Lesions", lesions},
                       {"LastLesionID", QJsonArray{2, 5, 4, 7, 3}}};
}

// The lesions in the session's order: positions -1, 0, 1, 2, 3, each in
// document order (the order of the model's rows).
inline SessionVisualizer::LesionList lesionsInOrder(const SessionVisualizer &session)
{
    SessionVisualizer::LesionList all;
    for (const auto &list : session.getLesions())
        all.insert(all.end(), list.begin(), list.end());
    return all;
}

} // namespace LesionListFixture

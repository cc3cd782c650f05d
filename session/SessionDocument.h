#pragma once

#include "session/CameraPose.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QPoint>
#include <QRect>
#include <QString>

#include <map>
#include <vector>

// Reading and writing the pieces of a session document. Everything here is
// pure: the session object and the lesion record build on it.
//
// Readers are total: a missing or mistyped value reads as the documented
// default and never raises or invokes undefined behaviour (huge numbers,
// fractions and wrong types included).
class SessionDocument
{
public:
    // Coordinates beyond this magnitude are treated as unreadable, which keeps
    // x + w inside int for QRect.
    static constexpr int coordinateLimit = 1 << 28;

    // True (and *out set) for a number that is a whole number within int range.
    static bool toIntStrict(const QJsonValue &value, int *out);
    static int intOr(const QJsonValue &value, int defaultValue);
    // Truncation toward zero, saturating at the int range; NaN gives 0.
    static int truncateToInt(double value);

    static QRect readRect(const QJsonValue &value);
    static QJsonObject rectToJson(const QRect &rect);
    static QPoint readPoint(const QJsonValue &value);
    static QJsonObject pointToJson(const QPoint &point);
    static std::vector<QPoint> readPoints(const QJsonValue &value);
    static QJsonArray pointsToJson(const std::vector<QPoint> &points);

    // A JSON scalar as text: strings as they are, whole numbers in decimal,
    // other numbers in their shortest form, booleans as true/false.
    static QString textOf(const QJsonValue &value);

    // A key of "Lesions" or "CameraPositions" names a position only when it
    // is the canonical decimal form of an int ("2", "-1"; not "02" or " 2").
    static bool parsePositionKey(const QString &key, int *position);

    // The clinical image name of a pose on a body position: y, x, z and the
    // position, and from version 1 on alpha and beta, each truncated toward
    // zero and joined with "_".
    static QString clinicalImageName(const CameraPose &pose, int position, int version);
    // The inverse; parts that are missing or not numbers read as 0. Returns
    // false when the name has fewer parts than its version needs.
    static bool parseClinicalImageName(const QString &name, int version, CameraPose *pose, int *position);

    // Counters completion. numbersByPosition maps each position of the lesion
    // map to the numeric ids of its lesions in document order. The counters
    // read from the document are extended as the device expects (one per
    // position 0..3, then the external position) and always end with at least
    // five entries, so that every device position and the external position
    // have a counter of their own. Positions outside 0..3 and -1 have none.
    static std::vector<int> completeCounters(std::vector<int> counters,
                                             const std::map<int, std::vector<int>> &numbersByPosition);

    // Index of the counter of a position in a counter list of the given size,
    // or -1 when the position has none (positions outside 0..size-2 and -1).
    static int counterIndex(int position, int counterCount);
};

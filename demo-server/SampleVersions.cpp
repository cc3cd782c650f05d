// The versions examination: one lesion looked at closer many times, with
// dermatoscopic images of several shapes and a greyscale one.

#include "demo-server/SampleData.h"

#include <QJsonArray>
#include <QLineF>
#include <QRandomGenerator>

#include <cmath>

namespace {

QJsonArray pointsOf(const QPolygonF &polygon)
{
    QJsonArray out;
    for (const QPointF &p : polygon)
        out.append(QJsonObject{{QStringLiteral("x"), qRound(p.x())}, {QStringLiteral("y"), qRound(p.y())}});
    return out;
}

// The outline around its middle, at unit radius.
QPolygonF unitOutline(const QPolygonF &outline)
{
    const QPointF middle = outline.boundingRect().center();
    double radius = 1;
    for (const QPointF &p : outline)
        radius = std::max(radius, QLineF(middle, p).length());
    QPolygonF unit;
    for (const QPointF &p : outline)
        unit << (p - middle) / radius;
    return unit;
}

QPolygonF placedOutline(const QPolygonF &unit, const QPointF &centre, double radius)
{
    QPolygonF out;
    for (const QPointF &p : unit)
        out << centre + p * radius;
    return out;
}

int lesionIndex(const QJsonArray &lesions, int number)
{
    for (int i = 0; i < lesions.size(); ++i) {
        if (lesions[i].toObject().value(QStringLiteral("numericID")).toInt() == number)
            return i;
    }
    return -1;
}

bool hasDermatoscopic(const QJsonArray &lesions, int number)
{
    const int i = lesionIndex(lesions, number);
    return i >= 0 && !lesions[i].toObject().value(QStringLiteral("dermatoscopicIds")).toArray().isEmpty();
}

} // namespace

void SampleData::addVersions()
{
    const auto olderIt = sessions.find(versionsOlderSessionId);
    const auto newerIt = sessions.find(versionsNewerSessionId);
    if (olderIt == sessions.end() || newerIt == sessions.end())
        return;
    Session &older = olderIt->second;
    Session &newer = newerIt->second;
    const QString position = QStringLiteral("0");
    QJsonObject olderLesions = older.document.value(QStringLiteral("Lesions")).toObject();
    QJsonObject newerLesions = newer.document.value(QStringLiteral("Lesions")).toObject();
    QJsonArray olderList = olderLesions.value(position).toArray();
    QJsonArray newerList = newerLesions.value(position).toArray();

    // The first lesion of the frontal position looked at closer in both sessions.
    int number = 0;
    for (const QJsonValue &value : olderList) {
        const int n = value.toObject().value(QStringLiteral("numericID")).toInt();
        if (hasDermatoscopic(olderList, n) && hasDermatoscopic(newerList, n) && (number == 0 || n < number))
            number = n;
    }
    if (number == 0)
        return;
    versionsLesionNumber = number;

    // Its shape and colours, taken from its first picture of the older session.
    const QString prefix = QStringLiteral("_0_%1_").arg(number);
    Dermatoscopic model;
    for (const Dermatoscopic &d : older.dermatoscopic) {
        if (d.id.contains(prefix)) {
            model = d;
            break;
        }
    }
    const QPolygonF unit = unitOutline(model.contour);
    auto dropOld = [&prefix](Session &session) {
        std::vector<Dermatoscopic> kept;
        for (const Dermatoscopic &d : session.dermatoscopic) {
            if (!d.id.contains(prefix))
                kept.push_back(d);
        }
        session.dermatoscopic = kept;
    };
    dropOld(older);
    dropOld(newer);

    QRandomGenerator rng(0x5E5510u + quint32(number));
    auto make = [&](const QString &id, const QSize &size, const QPointF &centre, double radius) {
        Dermatoscopic d;
        d.id = id;
        d.size = size;
        d.contour = placedOutline(unit, centre, radius);
        d.core = model.core;
        d.rim = model.rim;
        d.seed = rng.generate();
        return d;
    };

    // Older session: one group of ten large images, the dermatoscope a
    // little off centre each time.
    const QString olderDay = older.date.toString(QStringLiteral("yyyyMMdd"));
    QJsonArray group, groupOutlines;
    for (int k = 1; k <= versionsCount; ++k) {
        const QPointF centre(3000 + (rng.bounded(601) - 300), 2000 + (rng.bounded(401) - 200));
        const Dermatoscopic d =
            make(QStringLiteral("%1_0_%2_v%3").arg(olderDay).arg(number).arg(k, 2, 10, QLatin1Char('0')),
                 QSize(6000, 4000), centre, 1050 + 12 * k);
        older.dermatoscopic.push_back(d);
        group.append(d.id);
        groupOutlines.append(pointsOf(d.contour));
    }

    // Newer session: three groups of one image, of other shapes.
    const QString newerDay = newer.date.toString(QStringLiteral("yyyyMMdd"));
    struct Shape
    {
        const char *suffix;
        QSize size;
        QPointF centre;
        double radius;
        bool greyscale;
    };
    const Shape shapes[] = {
        {"wide", QSize(3000, 1000), QPointF(1480, 520), 380, false},
        {"tall", QSize(1500, 2500), QPointF(760, 1230), 560, false},
        {"grey", QSize(dermatoscopicWidth, dermatoscopicHeight), QPointF(1190, 910), 640, true}};
    QJsonArray groups, outlines;
    for (const Shape &shape : shapes) {
        Dermatoscopic d =
            make(QStringLiteral("%1_0_%2_%3").arg(newerDay).arg(number).arg(QLatin1String(shape.suffix)),
                 shape.size, shape.centre, shape.radius);
        d.greyscale = shape.greyscale;
        newer.dermatoscopic.push_back(d);
        groups.append(QJsonArray{d.id});
        outlines.append(pointsOf(d.contour));
    }

    auto rewrite = [&](QJsonArray &list, const QJsonArray &ids, const QJsonArray &contours) {
        const int i = lesionIndex(list, number);
        QJsonObject lesion = list[i].toObject();
        lesion.insert(QStringLiteral("dermatoscopicIds"), ids);
        lesion.insert(QStringLiteral("dermatoscopicContour"), contours);
        list[i] = lesion;
    };
    rewrite(olderList, QJsonArray{group}, QJsonArray{groupOutlines});
    rewrite(newerList, groups, outlines);
    olderLesions.insert(position, olderList);
    newerLesions.insert(position, newerList);
    older.document.insert(QStringLiteral("Lesions"), olderLesions);
    newer.document.insert(QStringLiteral("Lesions"), newerLesions);
}

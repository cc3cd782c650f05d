#pragma once

// What a read and a write of a session document, with no edit in between,
// may change: defaults are added for missing keys, single dermatoscopic ids
// take the list form and the counters are completed. Everything else must
// come back as it was. Shared by the mutation test and the fuzz target.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QStringList>

namespace RoundTripCheck {

inline QString show(const QJsonValue &v)
{
    if (v.isUndefined())
        return QStringLiteral("<absent>");
    QJsonArray wrapper{v};
    return QString::fromUtf8(QJsonDocument(wrapper).toJson(QJsonDocument::Compact));
}

inline bool isPositionKey(const QString &key)
{
    bool ok = false;
    const int p = key.toInt(&ok);
    return ok && QString::number(p) == key;
}

inline void expectEqual(QStringList &problems, const QString &where, const QJsonValue &expected,
                        const QJsonValue &actual)
{
    if (expected != actual)
        problems << where + QStringLiteral(": expected ") + show(expected) + QStringLiteral(" got ") +
                        show(actual);
}

inline void checkLesion(QStringList &problems, const QString &where, const QJsonValue &in,
                        const QJsonValue &out)
{
    if (!in.isObject()) {
        expectEqual(problems, where, in, out);
        return;
    }
    if (!out.isObject()) {
        problems << where + QStringLiteral(": lesion written as ") + show(out);
        return;
    }
    const QJsonObject i = in.toObject();
    const QJsonObject o = out.toObject();
    static const QSet<QString> rewritten = {QStringLiteral("dermatoscopicIds"),
                                            QStringLiteral("lesionLabel"),
                                            QStringLiteral("lesionPriority"),
                                            QStringLiteral("numericID"),
                                            QStringLiteral("bbox"),
                                            QStringLiteral("instancesBbox"),
                                            QStringLiteral("instancesBboxR"),
                                            QStringLiteral("instancesContours"),
                                            QStringLiteral("instancesPosition")};
    for (auto it = i.constBegin(); it != i.constEnd(); ++it) {
        if (!rewritten.contains(it.key()))
            expectEqual(problems, where + QLatin1Char('.') + it.key(), it.value(), o.value(it.key()));
    }
    for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
        if (!i.contains(it.key()) && !rewritten.contains(it.key()))
            problems << where + QStringLiteral(": key added: ") + it.key();
    }
    for (const char *key : {"lesionLabel", "lesionPriority", "numericID"}) {
        const QString k = QLatin1String(key);
        if (i.contains(k))
            expectEqual(problems, where + QLatin1Char('.') + k, i.value(k), o.value(k));
        else if (o.value(k).isUndefined() || o.value(k).isNull())
            problems << where + QStringLiteral(": default not written for ") + k;
    }
    if (i.contains(QLatin1String("lesionLabel")) == false &&
        !o.value(QLatin1String("lesionLabel")).isString())
        problems << where + QStringLiteral(": default label is not text");
    for (const char *key : {"instancesBbox", "instancesBboxR", "instancesContours", "instancesPosition"}) {
        const QString k = QLatin1String(key);
        expectEqual(problems, where + QLatin1Char('.') + k,
                    i.contains(k) ? i.value(k) : QJsonValue(QJsonArray()), o.value(k));
    }
    const QJsonValue ids = i.value(QLatin1String("dermatoscopicIds"));
    QJsonValue expectedIds = QJsonArray();
    if (ids.isArray()) {
        QJsonArray normalised;
        for (const QJsonValue &group : ids.toArray())
            normalised.append(group.isString() ? QJsonValue(QJsonArray{group}) : group);
        expectedIds = normalised;
    } else if (!ids.isUndefined()) {
        expectedIds = ids;
    }
    expectEqual(problems, where + QStringLiteral(".dermatoscopicIds"), expectedIds,
                o.value(QLatin1String("dermatoscopicIds")));

    const QJsonValue bbox = i.value(QLatin1String("bbox"));
    const QJsonValue outBbox = o.value(QLatin1String("bbox"));
    if (!bbox.isUndefined()) {
        expectEqual(problems, where + QStringLiteral(".bbox"), bbox, outBbox);
    } else if (!outBbox.isUndefined()) {
        // Without "bbox" the zero rectangle is the main one: the instance that
        // reads as zero is named.
        bool matches = outBbox == QJsonValue(QJsonObject{{"x", 0}, {"y", 0}, {"w", 0}, {"h", 0}});
        for (const QJsonValue &instance : i.value(QLatin1String("instancesBbox")).toArray())
            matches = matches || instance == outBbox;
        if (!matches)
            problems << where + QStringLiteral(".bbox invented: ") + show(outBbox);
    }
}

// Problems found in output, the document written back after reading input.
inline QStringList problems(const QJsonObject &input, const QJsonObject &output)
{
    QStringList problems;
    static const QSet<QString> rebuilt = {QStringLiteral("CameraPositions"), QStringLiteral("Lesions"),
                                          QStringLiteral("LastLesionID")};
    for (auto it = input.constBegin(); it != input.constEnd(); ++it) {
        if (!rebuilt.contains(it.key()))
            expectEqual(problems, it.key(), it.value(), output.value(it.key()));
    }
    for (auto it = output.constBegin(); it != output.constEnd(); ++it) {
        if (!input.contains(it.key()) && !rebuilt.contains(it.key()))
            problems << QStringLiteral("key added: ") + it.key();
    }

    const QJsonValue emptyExternal = QJsonObject{{"-1", QJsonArray()}};
    // Camera positions: everything kept, an empty external list added.
    const QJsonValue cameras = input.value(QLatin1String("CameraPositions"));
    const QJsonValue outCameras = output.value(QLatin1String("CameraPositions"));
    if (cameras.isObject()) {
        QJsonObject expected = cameras.toObject();
        if (!expected.contains(QLatin1String("-1")))
            expected.insert(QLatin1String("-1"), QJsonArray());
        expectEqual(problems, QStringLiteral("CameraPositions"), expected, outCameras);
    } else {
        expectEqual(problems, QStringLiteral("CameraPositions"),
                    cameras.isUndefined() ? emptyExternal : cameras, outCameras);
    }

    const QJsonValue lesions = input.value(QLatin1String("Lesions"));
    const QJsonValue outLesions = output.value(QLatin1String("Lesions"));
    if (lesions.isObject()) {
        const QJsonObject in = lesions.toObject();
        const QJsonObject out = outLesions.toObject();
        for (auto it = in.constBegin(); it != in.constEnd(); ++it) {
            const QString where = QStringLiteral("Lesions.") + it.key();
            if (!isPositionKey(it.key()) || !it.value().isArray()) {
                expectEqual(problems, where, it.value(), out.value(it.key()));
                continue;
            }
            const QJsonArray a = it.value().toArray();
            const QJsonArray b = out.value(it.key()).toArray();
            if (a.size() != b.size()) {
                problems << where + QStringLiteral(": ") + QString::number(a.size()) +
                                QStringLiteral(" lesions, ") + QString::number(b.size()) +
                                QStringLiteral(" written");
                continue;
            }
            for (int n = 0; n < a.size(); ++n)
                checkLesion(problems, where + QLatin1Char('[') + QString::number(n) + QLatin1Char(']'),
                            a.at(n), b.at(n));
        }
        for (auto it = out.constBegin(); it != out.constEnd(); ++it) {
            if (!in.contains(it.key()) && !(it.key() == QLatin1String("-1") && it.value() == QJsonArray()))
                problems << QStringLiteral("Lesions: key added: ") + it.key();
        }
        if (!out.contains(QLatin1String("-1")))
            problems << QStringLiteral("Lesions: no external entry");
    } else {
        expectEqual(problems, QStringLiteral("Lesions"), lesions.isUndefined() ? emptyExternal : lesions,
                    outLesions);
    }

    const QJsonValue counters = input.value(QLatin1String("LastLesionID"));
    const QJsonValue outCounters = output.value(QLatin1String("LastLesionID"));
    if (!outCounters.isArray() || outCounters.toArray().size() < 5) {
        problems << QStringLiteral("LastLesionID: fewer than five counters: ") + show(outCounters);
    } else if (counters.isArray()) {
        const QJsonArray a = counters.toArray();
        const QJsonArray b = outCounters.toArray();
        for (int n = 0; n < a.size(); ++n)
            expectEqual(problems, QStringLiteral("LastLesionID[") + QString::number(n) + QLatin1Char(']'),
                        a.at(n), n < b.size() ? b.at(n) : QJsonValue(QJsonValue::Undefined));
    }
    return problems;
}

} // namespace RoundTripCheck

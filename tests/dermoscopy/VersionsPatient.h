#pragma once

// The stand-in's versions patient (21) loaded into memory as the server client
// would leave it: sessions 114 (principal) and 115 with the lesion's
// dermatoscopic images and thumbnails in their file stores and the lesions
// linked across the two sessions. Pictures are made once per test program.

#include "demo-server/DemoStorage.h"
#include "demo-server/SampleData.h"
#include "demo-server/SampleImages.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QHash>
#include <QJsonDocument>
#include <QSharedPointer>

namespace VersionsPatient {

inline const SampleData &data()
{
    return SampleData::instance(false, true);
}

// The ten 6000 x 4000 versions are painted at a quarter and scaled up: the
// same picture at a fraction of the painting time.
inline QByteArray picture(const SampleData::Session &session, const SampleData::Dermatoscopic &d,
                          bool thumbnail)
{
    static QHash<QString, QByteArray> cache;
    const QString key = d.id + (thumbnail ? QStringLiteral("s") : QString());
    const auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    QByteArray bytes;
    const QString object =
        QStringLiteral("sessions/%1/%2/dermatoscopic/%3.jpg").arg(session.patientId).arg(session.id).arg(key);
    if (!thumbnail && d.fullSize().width() >= 6000) {
        const QImage quarter = SampleImages::dermatoscopic(d, d.fullSize() / 4);
        bytes = SampleImages::jpeg(
            quarter.scaled(d.fullSize(), Qt::IgnoreAspectRatio, Qt::FastTransformation), 80);
    } else {
        bytes = DemoStorage::make(DemoStorage::recipe(object), DemoStorage::sizesFor(false));
    }
    cache.insert(key, bytes);
    return bytes;
}

// The lesion's pictures only: the other lesions' groups stay not downloaded.
inline QSharedPointer<SessionVisualizer> load(int sessionId, int lesionNumber)
{
    const SampleData::Session *sample = data().session(sessionId);
    if (!sample)
        return {};
    const QString folder = QStringLiteral("sessions/%1/%2").arg(sample->patientId).arg(sample->id);
    auto session = QSharedPointer<SessionVisualizer>::create(folder, sample->patientId, sample->id,
                                                             QJsonDocument(sample->document), sample->date);
    session->readSessionJson();
    const QString prefix = QStringLiteral("_0_%1_").arg(lesionNumber);
    for (const SampleData::Dermatoscopic &d : sample->dermatoscopic) {
        if (!d.id.contains(prefix))
            continue;
        session->storeFile(folder + QStringLiteral("/dermatoscopic/") + d.id + QStringLiteral(".jpg"),
                           picture(*sample, d, false), 1);
        session->storeFile(folder + QStringLiteral("/dermatoscopic/") + d.id + QStringLiteral("s.jpg"),
                           picture(*sample, d, true), -2);
    }
    session->addDermatoscopicToLesion();
    return session;
}

struct Loaded
{
    QSharedPointer<SessionVisualizer> older; // 114, the principal session
    QSharedPointer<SessionVisualizer> newer; // 115
    QSharedPointer<LesionVisualizer> lesion; // in 114: one group of ten
    QSharedPointer<LesionVisualizer> twin;   // in 115: three groups
};

inline QSharedPointer<LesionVisualizer> lesionNumbered(const QSharedPointer<SessionVisualizer> &session,
                                                       int number)
{
    for (const QSharedPointer<LesionVisualizer> &lesion : session->getLesions().value(0))
        if (lesion->getNumericID() == number)
            return lesion;
    return {};
}

inline Loaded load()
{
    Loaded loaded;
    const int number = data().versionsLesionNumber;
    loaded.older = load(SampleData::versionsOlderSessionId, number);
    loaded.newer = load(SampleData::versionsNewerSessionId, number);
    loaded.older->setPrincipalSession(true);
    // Lesions of equal position and number are the same lesion.
    for (auto it = loaded.older->getLesions().begin(); it != loaded.older->getLesions().end(); ++it) {
        for (const QSharedPointer<LesionVisualizer> &a : it.value()) {
            for (const QSharedPointer<LesionVisualizer> &b : loaded.newer->getLesions().value(it.key())) {
                if (a->getNumericID() != b->getNumericID())
                    continue;
                a->addHistoricLesion(b, loaded.newer->getSessionId());
                b->addHistoricLesion(a, loaded.older->getSessionId());
            }
        }
    }
    loaded.lesion = lesionNumbered(loaded.older, number);
    loaded.twin = lesionNumbered(loaded.newer, number);
    return loaded;
}

} // namespace VersionsPatient

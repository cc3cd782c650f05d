#pragma once

#include "demo-server/SampleData.h"
#include "demo-server/SampleImages.h"
#include "session/SessionVisualizer.h"

#include <QHash>
#include <QJsonDocument>
#include <QSharedPointer>

// A session of the stand-in server's sample data, loaded into memory as the
// server client would leave it: the document read, every clinical and
// dermatoscopic image and thumbnail in the file store. Pictures are painted
// once per test program and shared by the sessions made from them.
namespace StandInSession {

struct Pictures
{
    QHash<QString, std::pair<QByteArray, int>> files; // relative path -> bytes, quality
};

// fullSizePosition: the body position whose clinical images are painted at
// the device's size (the one the screenshots look at); the others are
// painted small, which changes no marker or list figure.
inline const Pictures &pictures(int sessionId, int fullSizePosition)
{
    static QHash<QString, Pictures> cache;
    const QString key = QStringLiteral("%1/%2").arg(sessionId).arg(fullSizePosition);
    auto it = cache.find(key);
    if (it != cache.end())
        return *it;
    Pictures result;
    const SampleData::Session *session = SampleData::instance().session(sessionId);
    if (session) {
        for (const SampleData::ClinicalImage &image : session->images) {
            QSize size(SampleData::clinicalWidth / 8, SampleData::clinicalHeight / 8);
            if (image.external)
                size = QSize(SampleData::externalWidth, SampleData::externalHeight);
            else if (image.position == fullSizePosition)
                size = QSize(SampleData::clinicalWidth, SampleData::clinicalHeight);
            const QImage picture = SampleImages::clinical(*session, image, size);
            result.files.insert(QStringLiteral("/imgL/") + image.name + QStringLiteral(".jpg"),
                                {SampleImages::jpeg(picture, 70), 0});
        }
        for (const SampleData::Dermatoscopic &item : session->dermatoscopic) {
            const QImage picture = SampleImages::dermatoscopic(item, QSize(600, 450));
            result.files.insert(QStringLiteral("/dermatoscopic/") + item.id + QStringLiteral(".jpg"),
                                {SampleImages::jpeg(picture, 80), 1});
            const QImage thumbnail = picture.scaled(QSize(200, 150));
            result.files.insert(QStringLiteral("/dermatoscopic/") + item.id + QStringLiteral("s.jpg"),
                                {SampleImages::jpeg(thumbnail, 80), -2});
        }
    }
    return *cache.insert(key, result);
}

inline QSharedPointer<SessionVisualizer> load(int sessionId, int fullSizePosition = 0)
{
    const SampleData::Session *sample = SampleData::instance().session(sessionId);
    if (!sample)
        return {};
    const QString folder = QStringLiteral("sessions/%1/%2").arg(sample->patientId).arg(sample->id);
    auto session = QSharedPointer<SessionVisualizer>::create(folder, sample->patientId, sample->id,
                                                             QJsonDocument(sample->document), sample->date);
    session->readSessionJson();
    const Pictures &files = pictures(sessionId, fullSizePosition);
    for (auto it = files.files.begin(); it != files.files.end(); ++it)
        session->storeFile(folder + it.key(), it.value().first, it.value().second);
    session->addDermatoscopicToLesion();
    return session;
}

} // namespace StandInSession

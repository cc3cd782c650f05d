#pragma once

#include <QByteArray>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

class SessionVisualizer;

// One upload of the server client's queue: a snapshot of a whole session
// document, with the image a 'D' (dermatoscopic) or 'G' (clinical) job adds.
// Copied by value into the queue; jobs are never merged.
struct UploadJob
{
    QImage image;              // null for 'L'
    QJsonDocument sessionJson; // the complete document when the job was made
    int patientId = 0;
    int sessionId = 0;
    QString fileName;       // the image's file name in the session; empty for 'L'
    QJsonObject jsonTarget; // the document's storage target, filled by the first step
    bool imageDone = false; // no image upload outstanding
    char type = 'L';        // 'D', 'L' or 'G'

    // Given by the queue: which job a reply belongs to.
    quint64 serial = 0;
    // The image as JPEG, encoded once for all attempts.
    QByteArray encodedImage;

    // A job holding the given session's own document (snapshot taken now,
    // which clears the session's changes-to-save flag) and identity, so that
    // a job made for a secondary session never carries the principal's.
    static UploadJob fromSession(SessionVisualizer &session, char type, const QImage &image = QImage(),
                                 const QString &fileName = QString());

    // The progress maximum: the first step, the image, the document.
    int steps() const { return type == 'L' ? 2 : 3; }
};

#include "server/UploadJob.h"

#include "session/SessionVisualizer.h"

UploadJob UploadJob::fromSession(SessionVisualizer &session, char type, const QImage &image,
                                 const QString &fileName)
{
    UploadJob job;
    job.type = type;
    job.image = type == 'L' ? QImage() : image;
    job.fileName = type == 'L' ? QString() : fileName;
    job.patientId = session.getPatientId();
    job.sessionId = session.getSessionId();
    job.sessionJson = session.getSessionJson();
    return job;
}

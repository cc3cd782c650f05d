// The device sync protocol of ServerVisualizer: pairing a phone with a
// session, single picture requests and capture rounds.

#include "server/ServerVisualizer.h"

#include "app/kelvarisVisualizer.h"
#include "capture/QtManualDermatoscopicDialog.h"
#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"
#include "widgets/Trace.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QNetworkReply>
#include <QPainter>
#include <QtConcurrent>

#include <algorithm>

namespace {

const QString kEc2 = QStringLiteral("ec2");
const QString kS3 = QStringLiteral("s3");
const QString kSingleTag = QStringLiteral("singleGeneration");
const QString kRoundTag = QStringLiteral("roundGeneration");

// A lookup of a finished picture (or its download) is asked again this many
// times, a second apart, before the capture dialog is told it failed.
constexpr int kLookupRetries = 10;
constexpr int kLookupRetryMilliseconds = 1000;
// Consecutive failed polls of a single request before it is given up.
constexpr int kSinglePollFailureLimit = 3;

using kelvaris::trace;

QString segment(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QByteArray jsonBody(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QString tag(QNetworkReply *reply, const char *name)
{
    return reply->property(name).toString();
}

QImage decodeJpeg(QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    return reader.read();
}

// One lesion of a capture round: where its clinical image is and where the
// lesion lies on it.
struct CaptureJob
{
    QString name;
    QRect rect;
};

struct CaptureSource
{
    QByteArray jpeg;
    std::vector<CaptureJob> jobs;
};

struct CapturePictures
{
    QString name;
    QImage marked;
    QImage crop;
};

// Each clinical image is decoded once; every lesion on it gets the image
// scaled to 1200 px high with its rectangle (grown by 50 px) drawn in black,
// and the part around it (grown by 400 px) scaled to 720 px high. The pen is
// 25 px at full size, so it is scaled with the image.
std::vector<CapturePictures> markSource(const CaptureSource &source)
{
    std::vector<CapturePictures> out;
    const QImage full = decodeJpeg(source.jpeg);
    if (full.isNull() || full.height() <= 0)
        return out;
    const QImage scaled = full.scaledToHeight(1200, Qt::FastTransformation);
    const double factor = double(scaled.height()) / double(full.height());
    auto draw = [](QImage &image, const QRectF &rect, double width) {
        QPainter painter(&image);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawRect(rect);
    };
    for (const CaptureJob &job : source.jobs) {
        CapturePictures pictures;
        pictures.name = job.name;
        const QRect marked = job.rect.adjusted(-50, -50, 50, 50);

        QImage main = scaled.convertToFormat(QImage::Format_RGB32);
        draw(main,
             QRectF(marked.x() * factor, marked.y() * factor, marked.width() * factor,
                    marked.height() * factor),
             25.0 * factor);
        pictures.marked = main;

        const QRect around = job.rect.adjusted(-400, -400, 400, 400).intersected(full.rect());
        if (!around.isEmpty()) {
            QImage crop = full.copy(around).convertToFormat(QImage::Format_RGB32);
            draw(crop, QRectF(marked.translated(-around.topLeft())), 25.0);
            pictures.crop = crop.scaledToHeight(720, Qt::FastTransformation);
        }
        out.push_back(std::move(pictures));
    }
    return out;
}

} // namespace

QString ServerVisualizer::pairingUrl(const QString &base, const QString &syncId)
{
    return base + QStringLiteral("/external/sync/") + syncId;
}

QString ServerVisualizer::syncPath(const QString &rest) const
{
    return baseUrl + QStringLiteral("/api/sync/") + segment(syncSessionId) + QLatin1Char('/') + rest;
}

void ServerVisualizer::setSyncPollIntervals(int roundMilliseconds, int singleMilliseconds)
{
    m_roundPollMs = roundMilliseconds;
    m_singlePollMs = singleMilliseconds;
}

QtManualDermatoscopicDialog *ServerVisualizer::captureDialog() const
{
    return qobject_cast<QtManualDermatoscopicDialog *>(m_captureDialog.data());
}

bool ServerVisualizer::isPolling() const
{
    return pollTimer && pollTimer->isActive();
}

bool ServerVisualizer::isCurrentSingle(QNetworkReply *reply) const
{
    return reply->property(kSingleTag.toUtf8().constData()).toString() == QString::number(m_singleGeneration);
}

bool ServerVisualizer::isCurrentRound(QNetworkReply *reply) const
{
    // A lookup sent by hand (not by a round) carries no round number.
    const QVariant round = reply->property(kRoundTag.toUtf8().constData());
    return !round.isValid() || round.toString() == QString::number(m_roundGeneration);
}

void ServerVisualizer::replacePollTimer(int interval)
{
    if (pollTimer) {
        pollTimer->stop();
        pollTimer->deleteLater();
    }
    pollTimer = new QTimer(this);
    pollTimer->setInterval(interval);
    // An unanswered poll of the replaced timer must not hold back the new one.
    m_pollReply = nullptr;
}

// --- pairing ------------------------------------------------------------------------

void ServerVisualizer::syncManualSessionV2(QSharedPointer<SessionVisualizer> session)
{
    trace(QStringLiteral("ServerVisualizer::syncManualSessionV2"));
    ++m_syncGeneration;
    syncSession = session;
    captureImages.clear();
    // Until this session's answer arrives there is no sync session: the code
    // of the previous principal session (maybe another patient's) goes away.
    if (syncSessionId != QLatin1String("-1")) {
        syncSessionId = QStringLiteral("-1");
        emit newSyncSessionCreated(syncSessionId);
    }
    if (!session)
        return;
    const QJsonObject body{{QStringLiteral("session"), session->getSessionId()}};
    postRequest(jsonRequest(QStringLiteral("/api/sync/"), true), jsonBody(body), kEc2,
                QStringLiteral("syncManualSessionV2"),
                {{QStringLiteral("syncGeneration"), QString::number(m_syncGeneration)}});
}

void ServerVisualizer::replySyncSession(QNetworkReply *reply)
{
    if (tag(reply, "syncGeneration") != QString::number(m_syncGeneration))
        return; // an answer for an earlier principal session
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    const QJsonValue id = document.object().value(QStringLiteral("id"));
    syncSessionId = QStringLiteral("-1");
    if (document.isObject() && id.isString() && !id.toString().isEmpty())
        syncSessionId = id.toString();
    emit newSyncSessionCreated(syncSessionId);
}

void ServerVisualizer::resetSync()
{
    ++m_syncGeneration;
    ++m_singleGeneration;
    ++m_roundGeneration;
    if (pollTimer)
        pollTimer->stop();
    m_pollReply = nullptr;
    pendingRequests.clear();
    syncSession.reset();
    checkingDevices = false;
    checkingImages = false;
    currentImageName.clear();
    captureNames.clear();
    captureImages.clear();
    syncLesions.clear();
    receivedImages.clear();
    m_roundAdded.clear();
    m_lookingUp.clear();
    m_retaken.clear();
    m_roundOpen = false;
    if (runningFlag)
        *runningFlag = false;
    runningFlag.reset();
    if (QtManualDermatoscopicDialog *dialog = captureDialog())
        dialog->done(QDialog::Rejected);
    if (syncSessionId != QLatin1String("-1")) {
        syncSessionId = QStringLiteral("-1");
        emit newSyncSessionCreated(syncSessionId);
    }
}

// --- single request ---------------------------------------------------------------------

void ServerVisualizer::requestManualImage(QString imageName, QString type)
{
    trace(QStringLiteral("ServerVisualizer::requestManualImage ") + imageName + QLatin1Char(' ') + type);
    endSingleRequest();
    if (syncSessionId == QLatin1String("-1")) {
        emit noDeviceReady();
        return;
    }
    if (imageName.isEmpty()) {
        failSingleRequest(imageName, type);
        return;
    }
    getRequest(QUrl(syncPath(QString())), kEc2, QStringLiteral("checkSyncSessionStatusBeforeRequest"),
               {{QStringLiteral("imageName"), imageName},
                {QStringLiteral("type"), type},
                {kSingleTag, QString::number(m_singleGeneration)}});
}

void ServerVisualizer::endSingleRequest()
{
    ++m_singleGeneration;
    m_singlePollFailures = 0;
    pendingRequests.clear();
    if (m_pollSingle && pollTimer) {
        pollTimer->stop();
        m_pollReply = nullptr;
    }
    m_pollSingle = false;
}

void ServerVisualizer::failSingleRequest(const QString &imageName, const QString &type)
{
    trace(QStringLiteral("Image not received: ") + imageName);
    endSingleRequest();
    emit manualImageFailed(imageName, type);
    // The waiting dialog never stays open for a request that has ended.
    if (syncSession)
        emit syncSession->closeRequestDialog();
}

void ServerVisualizer::replySyncStatusBeforeRequest(QNetworkReply *reply)
{
    if (!isCurrentSingle(reply))
        return;
    const QString imageName = tag(reply, "imageName");
    const QString type = tag(reply, "type");
    const QJsonObject status = QJsonDocument::fromJson(reply->readAll()).object();
    const QJsonValue hasDevice = status.value(QStringLiteral("hasDevice"));
    const QJsonValue nextImage = status.value(QStringLiteral("nextImage"));
    if (!hasDevice.isBool()) {
        failSingleRequest(imageName, type);
        return;
    }
    if (!hasDevice.toBool()) {
        endSingleRequest();
        emit noDeviceReady();
        return;
    }
    if (!nextImage.isString()) {
        failSingleRequest(imageName, type);
        return;
    }
    if (nextImage.toString() != QLatin1String("-1"))
        cancelPreviousImages({{QStringLiteral("imageName"), imageName},
                              {QStringLiteral("type"), type},
                              {QStringLiteral("continue"), QStringLiteral("postManualImageRequest")}});
    else
        postManualImageRequest(imageName, type);
}

void ServerVisualizer::cancelPreviousImages(ExtraTags extras)
{
    // Without a follow-up this is a cancel: the single request ends here,
    // whatever the server answers, so that no late picture is filed.
    if (extras.empty() && !m_roundOpen)
        endSingleRequest();
    if (syncSessionId == QLatin1String("-1"))
        return;
    extras.emplace_back(kSingleTag, QString::number(m_singleGeneration));
    deleteRequest(QUrl(syncPath(QStringLiteral("manuals/cancel/"))), kEc2,
                  QStringLiteral("cancelPreviousImages"), extras);
}

void ServerVisualizer::replyCancelPreviousImages(QNetworkReply *reply)
{
    if (tag(reply, "continue") == QLatin1String("postManualImageRequest") && isCurrentSingle(reply))
        postManualImageRequest(tag(reply, "imageName"), tag(reply, "type"));
}

void ServerVisualizer::postManualImageRequest(QString imageName, QString type)
{
    if (syncSessionId == QLatin1String("-1")) {
        failSingleRequest(imageName, type);
        return;
    }
    QNetworkRequest request(QUrl(syncPath(QStringLiteral("manuals/"))));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    const QJsonObject body{
        {QStringLiteral("names"),
         QJsonArray{QJsonObject{{QStringLiteral("name"), imageName}, {QStringLiteral("type"), type}}}}};
    send("POST", request, jsonBody(body), kEc2, QStringLiteral("manualImageRequest"),
         {{QStringLiteral("imageName"), imageName},
          {QStringLiteral("type"), type},
          {kSingleTag, QString::number(m_singleGeneration)}},
         TraceErrors);
}

void ServerVisualizer::replyManualImageRequest(QNetworkReply *reply)
{
    if (!isCurrentSingle(reply))
        return;
    const QString imageName = tag(reply, "imageName");
    const QString type = tag(reply, "type");
    pendingRequests[imageName] = true;
    replacePollTimer(m_singlePollMs);
    m_pollSingle = true;
    const int generation = m_singleGeneration;
    connect(pollTimer, &QTimer::timeout, this, [this, imageName, type, generation] {
        if (generation == m_singleGeneration)
            checkSyncImgsDoneSingle(imageName, type);
    });
    pollTimer->start();
}

void ServerVisualizer::checkSyncImgsDoneSingle(QString imageName, QString type)
{
    if (m_pollReply)
        return; // the previous poll is still unanswered
    m_pollReply = sendGet(QUrl(syncPath(QStringLiteral("manuals/") + segment(imageName) + QLatin1Char('/'))),
                          kEc2, QStringLiteral("checkSyncImgsDoneSingle"),
                          {{QStringLiteral("imageName"), imageName},
                           {QStringLiteral("type"), type},
                           {kSingleTag, QString::number(m_singleGeneration)}});
}

void ServerVisualizer::replyCheckSyncImgsDoneSingle(QNetworkReply *reply)
{
    std::lock_guard<std::mutex> lock(singleRequestMutex);
    if (!isCurrentSingle(reply))
        return;
    m_singlePollFailures = 0;
    const QString imageName = tag(reply, "imageName");
    const QString type = tag(reply, "type");
    const bool pending = pendingRequests.count(imageName) > 0;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    if (!document.isObject()) {
        failSingleRequest(imageName, type);
        return;
    }
    const QJsonObject image = document.object();
    if (image.value(QStringLiteral("cancelled")).toBool() && pending) {
        endSingleRequest();
        emit imageHasBeenCanceled(imageName, type);
        return;
    }
    const QJsonValue isDone = image.value(QStringLiteral("isDone"));
    if (!isDone.isBool() || !pending)
        return; // not finished yet: the poll goes on
    const QJsonValue url = image.value(QStringLiteral("url"));
    if (!isDone.toBool() || !url.isString() || url.toString().isEmpty()) {
        failSingleRequest(imageName, type);
        return;
    }
    if (pollTimer)
        pollTimer->stop();
    m_pollSingle = false;
    pendingRequests.erase(imageName);
    getRequest(QUrl(url.toString()), kS3, QStringLiteral("downloadManualSingleRequest"),
               {{QStringLiteral("type"), type},
                {QStringLiteral("name"), imageName},
                {QStringLiteral("ec2url"), reply->url().toString()},
                {kSingleTag, QString::number(m_singleGeneration)}});
}

void ServerVisualizer::replyDownloadManualSingle(QNetworkReply *reply)
{
    if (!isCurrentSingle(reply))
        return; // cancelled or replaced meanwhile
    const QString name = tag(reply, "name");
    const QString type = tag(reply, "type");
    QString fileName = tag(reply, "serverFileName");
    const int quality = imageQuality(fileName);
    const QByteArray bytes = reply->readAll();
    const int generation = m_singleGeneration;
    QtConcurrent::run(decodeJpeg, bytes)
        .then(this, [this, generation, name, type, fileName, quality, bytes](QImage image) {
            if (generation != m_singleGeneration)
                return;
            const QSharedPointer<SessionVisualizer> session = syncSession;
            if (image.isNull() || !session) {
                failSingleRequest(name, type);
                return;
            }
            endSingleRequest();
            if (type == QLatin1String("D"))
                session->addDermatoscopicFile(fileName, bytes, quality);
            session->recievedRequestedImage(name, type, fileName, bytes, image, quality);
        });
}

// --- capture round ----------------------------------------------------------------------

void ServerVisualizer::checkLoop(std::shared_ptr<std::atomic<bool>> flag)
{
    trace(QStringLiteral("ServerVisualizer::checkLoop"));
    replacePollTimer(m_roundPollMs);
    m_pollSingle = false;
    runningFlag = std::move(flag);
    connect(pollTimer, &QTimer::timeout, this, [this] { timerEvent(); });
    pollTimer->start();
}

void ServerVisualizer::timerEvent()
{
    trace(QStringLiteral("ServerVisualizer::timerEvent"));
    if (!runningFlag || !runningFlag->load()) {
        if (pollTimer)
            pollTimer->stop();
        return;
    }
    if (m_pollReply)
        return; // one poll at a time
    const ExtraTags round{{kRoundTag, QString::number(m_roundGeneration)},
                          {QStringLiteral("retakeEpoch"), QString::number(m_retakeEpoch)}};
    if (checkingDevices) {
        trace(QStringLiteral("Check sync devices"));
        m_pollReply = sendGet(QUrl(syncPath(QString())), kEc2, QStringLiteral("checkSyncDevices"), round);
    } else if (checkingImages) {
        trace(QStringLiteral("Check imgDone"));
        m_pollReply = sendGet(QUrl(syncPath(QString())), kEc2, QStringLiteral("checkSyncImgsDone"), round);
    }
}

void ServerVisualizer::newManualDermatosSync(std::vector<QSharedPointer<LesionVisualizer>> lesions)
{
    trace(QStringLiteral("ServerVisualizer::newManualDermatosSync"));
    ++m_roundGeneration;
    m_roundOpen = true;
    captureImages.clear();
    syncLesions.clear();
    captureNames.clear();
    receivedImages.clear();
    m_roundAdded.clear();
    m_lookingUp.clear();
    m_retaken.clear();
    currentImageName.clear();
    checkingDevices = false;
    checkingImages = false;

    QJsonArray names;
    std::map<QString, CaptureSource> sources; // by clinical image path
    for (const QSharedPointer<LesionVisualizer> &lesion : lesions) {
        if (!lesion)
            continue;
        const QString name = lesion->getLesionIdText();
        if (syncLesions.count(name))
            continue; // each lesion is asked for once
        syncLesions[name] = lesion;
        names.append(
            QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("type"), QStringLiteral("D")}});
        captureNames.push_back(name);
        trace(QStringLiteral("Dermato: ") + name);

        const QSharedPointer<SessionVisualizer> session =
            lesion->getSession() ? lesion->getSession() : syncSession;
        if (!session)
            continue;
        // The last instance, when its rectangle and pose are both there;
        // otherwise the main rectangle on the main pose.
        const auto &boxes = lesion->getInstancesBbox();
        const auto &poses = lesion->getInstancesPosition();
        QRect rect;
        CameraPose pose;
        if (!boxes.empty() && boxes.size() == poses.size()) {
            rect = boxes.back();
            pose = poses.back();
        } else {
            rect = lesion->getMainRect();
            pose = lesion->getMainPose();
        }
        if (rect.isNull())
            continue;
        const QString path = session->clinicalImagePath(pose, lesion->getPosition());
        CaptureSource &source = sources[path];
        if (source.jpeg.isEmpty())
            source.jpeg = session->getRawFile(path);
        if (source.jpeg.isEmpty())
            continue; // no picture: the dialog shows the id text
        source.jobs.push_back({name, rect});
    }

    if (syncSessionId == QLatin1String("-1") || names.isEmpty()) {
        if (syncSessionId == QLatin1String("-1"))
            kelvarisVisualizer::showNotification(tr("No device can be paired with this session"), 5000);
        finishRound();
        return;
    }

    std::vector<CaptureSource> work;
    for (auto &entry : sources)
        if (!entry.second.jobs.empty())
            work.push_back(std::move(entry.second));
    const int generation = m_roundGeneration;
    // The clinical images are decoded and marked on the thread pool; the
    // round is posted once they are ready, so the dialog has them all.
    QtConcurrent::mapped(std::move(work), markSource)
        .then(this, [this, generation, names](QFuture<std::vector<CapturePictures>> done) {
            if (generation != m_roundGeneration)
                return;
            for (const std::vector<CapturePictures> &list : done.results())
                for (const CapturePictures &pictures : list) {
                    captureImages[pictures.name] = pictures.marked;
                    if (!pictures.crop.isNull())
                        captureImages[pictures.name + QLatin1Char('a')] = pictures.crop;
                }
            QNetworkRequest request(QUrl(syncPath(QStringLiteral("manuals/"))));
            request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
            request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
            postRequest(request, jsonBody(QJsonObject{{QStringLiteral("names"), names}}), kEc2,
                        QStringLiteral("syncManualSession"), {{kRoundTag, QString::number(generation)}});
        });
}

void ServerVisualizer::replyFinishedEc2SyncManualSession(QNetworkReply *reply)
{
    trace(QStringLiteral("replyFinishedEc2SyncManualSession"));
    if (!isCurrentRound(reply) || !m_roundOpen)
        return;
    const QJsonValue count =
        QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("nImgDermatos"));
    const int nImg = count.isDouble() ? count.toInt() : -2;
    receivedImages.clear();
    checkingDevices = true;
    if (!pollTimer) {
        replacePollTimer(m_roundPollMs);
        connect(pollTimer, &QTimer::timeout, this, [this] { timerEvent(); });
    }
    pollTimer->start();

    if (syncSessionId != QLatin1String("-1")) {
        sharedReceived = std::make_shared<std::unordered_map<QString, QImage>>();
        const int generation = m_roundGeneration;
        QPointer<ServerVisualizer> self(this);
        auto *dialog = new QtManualDermatoscopicDialog(baseUrl, syncSessionId, captureImages, sharedReceived,
                                                       captureNames, nImg);
        QPointer<QtManualDermatoscopicDialog> guard(dialog);
        m_captureDialog = dialog;
        connect(this, &ServerVisualizer::nextManualImageSync, dialog,
                &QtManualDermatoscopicDialog::nextManualImage);
        connect(this, &ServerVisualizer::prevManualImageDownloaded, dialog,
                &QtManualDermatoscopicDialog::previousManualImageDownloaded);
        connect(this, &ServerVisualizer::errorDownloadingManualImage, dialog,
                &QtManualDermatoscopicDialog::errorDownloadingManualImage);
        connect(dialog, &QtManualDermatoscopicDialog::retakeManualDermatoscopic, this,
                &ServerVisualizer::retakeManualDermatoscopic);
        // A nested event loop: the polls and downloads of this round are
        // handled while it runs.
        dialog->exec();
        delete guard.data();
        if (!self)
            return;
        if (generation != m_roundGeneration)
            return; // the round was reset meanwhile (a logout)
    }
    finishRound();
}

void ServerVisualizer::finishRound()
{
    if (!m_roundOpen)
        return;
    m_roundOpen = false;
    m_captureDialog = nullptr;
    cancelPreviousImages();
    checkingDevices = false;
    checkingImages = false;
    currentImageName.clear();
    if (pollTimer)
        pollTimer->stop();
    m_pollReply = nullptr;
    for (const auto &entry : receivedImages) {
        const auto lesion = syncLesions.find(entry.first);
        if (lesion != syncLesions.end() && lesion->second)
            lesion->second->pixmapChanged();
    }
    // Late answers of this round are dropped from now on.
    ++m_roundGeneration;
    m_lookingUp.clear();
    m_retaken.clear();
    const auto lesions = syncLesions;
    emit manualSessionDone(lesions);
}

void ServerVisualizer::replyCheckSyncDevices(QNetworkReply *reply)
{
    if (!isCurrentRound(reply) || !checkingDevices)
        return;
    trace(QStringLiteral("Correcte!"));
    const QJsonObject status = QJsonDocument::fromJson(reply->readAll()).object();
    if (status.value(QStringLiteral("hasDevice")).toBool()) {
        checkingDevices = false;
        checkingImages = true;
        currentImageName.clear();
        const QJsonValue next = status.value(QStringLiteral("nextImage"));
        if (next.isString() && next.toString() != QLatin1String("-1")) {
            currentImageName = next.toString();
            emit nextManualImageSync(currentImageName);
        }
    }
}

void ServerVisualizer::replyCheckSyncImgsDone(QNetworkReply *reply)
{
    if (!isCurrentRound(reply) || !checkingImages)
        return;
    const QJsonValue next =
        QJsonDocument::fromJson(reply->readAll()).object().value(QStringLiteral("nextImage"));
    if (!next.isString())
        return;
    const QString n = next.toString();
    const bool finished = n == QLatin1String("-1");
    if (n == currentImageName) {
        // A retaken picture the phone finished between two polls: the poll
        // never saw it pending again. Only polls sent after the retake was
        // answered can tell.
        if (finished && tag(reply, "retakeEpoch") == QString::number(m_retakeEpoch) && !m_retaken.empty()) {
            const std::set<QString> retaken = m_retaken;
            for (const QString &name : retaken)
                if (!receivedImages.count(name) && !m_lookingUp.count(name))
                    lookupRoundImage(name, 0);
            emit nextManualImageSync(QStringLiteral("done"));
            checkingImages = false;
        }
        return;
    }
    if (currentImageName.isEmpty() && !finished) {
        currentImageName = n;
        emit nextManualImageSync(n);
        return;
    }
    const auto begin = captureNames.begin();
    const auto from =
        currentImageName.isEmpty() ? begin : std::find(begin, captureNames.end(), currentImageName);
    const auto to = finished ? captureNames.end() : std::find(begin, captureNames.end(), n);
    // The phone moved forward: every picture from the one it was on up to the
    // new one is finished, also those it went past between two polls.
    if (currentImageName != QLatin1String("-1") && from != captureNames.end() &&
        (finished || (to != captureNames.end() && from < to))) {
        for (auto it = from; it != to; ++it)
            if (!receivedImages.count(*it) && !m_lookingUp.count(*it))
                lookupRoundImage(*it, 0);
    }
    if (finished) {
        emit nextManualImageSync(QStringLiteral("done"));
        checkingImages = false;
    } else {
        emit nextManualImageSync(n);
    }
    currentImageName = n;
}

void ServerVisualizer::lookupRoundImage(const QString &name, int attempt)
{
    m_lookingUp.insert(name);
    m_retaken.erase(name);
    QNetworkReply *reply =
        sendGet(QUrl(syncPath(QStringLiteral("manuals/") + segment(name) + QLatin1Char('/'))), kEc2,
                QStringLiteral("downloadManualImgSync"),
                {{QStringLiteral("lookupName"), name}, {kRoundTag, QString::number(m_roundGeneration)}});
    reply->setProperty("retryCount", attempt);
}

void ServerVisualizer::replyDownloadManualImgSync(QNetworkReply *reply)
{
    trace(QStringLiteral("downloadManualImgSync"));
    if (!isCurrentRound(reply))
        return;
    const QJsonObject image = QJsonDocument::fromJson(reply->readAll()).object();
    const QString asked = tag(reply, "lookupName");
    const QJsonValue bodyName = image.value(QStringLiteral("name"));
    const QString name = !asked.isEmpty() ? asked : (bodyName.isString() ? bodyName.toString() : QString());
    const QJsonValue isDone = image.value(QStringLiteral("isDone"));
    if (isDone.isBool() && !isDone.toBool()) {
        m_lookingUp.erase(name);
        emit errorDownloadingManualImage(name);
        return;
    }
    const QJsonValue url = image.value(QStringLiteral("url"));
    if (isDone.isBool() && url.isString() && !url.toString().isEmpty()) {
        QNetworkReply *download = sendGet(QUrl(url.toString()), kS3, QStringLiteral("downloadManual"),
                                          {{QStringLiteral("filename"), name},
                                           {QStringLiteral("ec2url"), reply->url().toString()},
                                           {kRoundTag, QString::number(m_roundGeneration)}});
        download->setProperty("retryCount", reply->property("retryCount"));
        return;
    }
    // Not stored yet (no "url", or no "isDone" at all): asked again a little later.
    retryLater(reply, reply->url());
}

void ServerVisualizer::replyDownloadManual(QNetworkReply *reply)
{
    if (!isCurrentRound(reply))
        return;
    const QString name = tag(reply, "filename");
    const auto lesion = syncLesions.find(name);
    if (lesion == syncLesions.end() || !lesion->second || receivedImages.count(name)) {
        m_lookingUp.erase(name);
        return; // not a lesion of this round, or already in
    }
    const QString fileName = tag(reply, "serverFileName");
    const QByteArray bytes = reply->readAll();
    const int generation = m_roundGeneration;
    QtConcurrent::run(decodeJpeg, bytes).then(this, [this, generation, name, fileName, bytes](QImage image) {
        if (generation != m_roundGeneration)
            return;
        m_lookingUp.erase(name);
        const auto found = syncLesions.find(name);
        if (found == syncLesions.end() || !found->second || receivedImages.count(name))
            return;
        if (image.isNull()) {
            emit errorDownloadingManualImage(name);
            return;
        }
        const QSharedPointer<LesionVisualizer> target = found->second;
        target->addDermatoscopicImage(fileName.section(QLatin1Char('.'), 0, 0));
        target->setIcon(image);
        const QSharedPointer<SessionVisualizer> session =
            target->getSession() ? target->getSession() : syncSession;
        if (session)
            session->addDermatoscopicFile(fileName, bytes, -3);
        m_roundAdded.insert(name);
        m_retaken.erase(name);
        receivedImages[name] = fileName;
        if (sharedReceived)
            (*sharedReceived)[name] = image;
        emit prevManualImageDownloaded(name);
    });
}

void ServerVisualizer::retakeManualDermatoscopic(QString nom)
{
    trace(QStringLiteral("ServerVisualizer::retakeManualDermatoscopic ") + nom);
    const auto found = syncLesions.find(nom);
    if (found == syncLesions.end() || !found->second || syncSessionId == QLatin1String("-1"))
        return; // not a lesion of this round (a late retry, an empty name)
    QNetworkRequest request(
        QUrl(syncPath(QStringLiteral("manuals/") + segment(nom) + QStringLiteral("/retake/"))));
    request.setRawHeader("X-Session-Token", sessionToken.toUtf8());
    putRequest(request, QByteArray(), kEc2, QStringLiteral("retakeManual"),
               {{QStringLiteral("retakeName"), nom}, {kRoundTag, QString::number(m_roundGeneration)}});

    const QSharedPointer<LesionVisualizer> lesion = found->second;
    // Only a group this round added is taken back: a failed picture added
    // none, and the lesion's earlier images stay.
    if (m_roundAdded.erase(nom)) {
        lesion->removeLastDermatoscopicGroup();
        if (lesion->getLabel() == QLatin1String("Captured"))
            lesion->setLabel(QStringLiteral("Detected"));
        emit lesion->changesToSave();
    }
    receivedImages.erase(nom);
    if (sharedReceived)
        sharedReceived->erase(nom);
    m_lookingUp.erase(nom);
    checkingImages = true;
}

void ServerVisualizer::replyRetakeManual(QNetworkReply *reply)
{
    trace(QStringLiteral("Retake Manual correct"));
    if (!isCurrentRound(reply) || reply->property(kRoundTag.toUtf8().constData()).isNull())
        return;
    const QString name = tag(reply, "retakeName");
    if (syncLesions.count(name) && !receivedImages.count(name) && !m_lookingUp.count(name))
        m_retaken.insert(name);
    ++m_retakeEpoch;
}

// --- failures -------------------------------------------------------------------------

bool ServerVisualizer::handleSyncFailure(QNetworkReply *reply)
{
    const QString server = reply->property("server").toString();
    const QString operation = reply->property("operation").toString();
    if (reply == m_pollReply)
        m_pollReply = nullptr;
    if (server == kEc2 &&
        (operation == QLatin1String("checkSyncSessionStatusBeforeRequest") ||
         operation == QLatin1String("manualImageRequest") ||
         (operation == QLatin1String("cancelPreviousImages") && !tag(reply, "continue").isEmpty()))) {
        if (isCurrentSingle(reply))
            failSingleRequest(tag(reply, "imageName"), tag(reply, "type"));
        return true;
    }
    if (server == kS3 && operation == QLatin1String("downloadManualSingleRequest")) {
        if (isCurrentSingle(reply))
            failSingleRequest(tag(reply, "name"), tag(reply, "type"));
        return true;
    }
    if (server == kEc2 && operation == QLatin1String("checkSyncImgsDoneSingle")) {
        // One failed poll is not the end; several in a row are.
        if (isCurrentSingle(reply) && ++m_singlePollFailures >= kSinglePollFailureLimit)
            failSingleRequest(tag(reply, "imageName"), tag(reply, "type"));
        return true;
    }
    if (server == kEc2 && operation == QLatin1String("syncManualSession")) {
        if (isCurrentRound(reply) && m_roundOpen) {
            kelvarisVisualizer::showNotification(
                tr("The capture round could not be started. Please try again."), 5000);
            finishRound();
        }
        return true;
    }
    if (server == kEc2 && operation == QLatin1String("downloadManualImgSync")) {
        retryLater(reply, reply->url());
        return true;
    }
    if (server == kS3 && operation == QLatin1String("downloadManual")) {
        retryLater(reply, QUrl(reply->property("ec2url").toString()));
        return true;
    }
    return false;
}

// A lookup that did not give a stored picture, or a failed download of one,
// is asked again at the API server a second later, a bounded number of
// times; then the capture dialog is told, so the user can ask for a retake.
void ServerVisualizer::retryLater(QNetworkReply *reply, const QUrl &url)
{
    const int attempt = reply->property("retryCount").toInt() + 1;
    QString name = tag(reply, "lookupName");
    if (name.isEmpty())
        name = tag(reply, "filename");
    const bool current = isCurrentRound(reply);
    if (!url.isValid() || url.isEmpty() || attempt > kLookupRetries) {
        trace(QStringLiteral("Giving up on a captured picture"));
        if (current) {
            m_lookingUp.erase(name);
            emit errorDownloadingManualImage(name);
        }
        return;
    }
    if (!current)
        return;
    const int generation = m_roundGeneration;
    QTimer::singleShot(kLookupRetryMilliseconds, this, [this, url, attempt, name, generation] {
        if (generation != m_roundGeneration)
            return;
        QNetworkReply *again =
            sendGet(url, kEc2, QStringLiteral("downloadManualImgSync"),
                    {{QStringLiteral("lookupName"), name}, {kRoundTag, QString::number(generation)}});
        again->setProperty("retryCount", attempt);
    });
}

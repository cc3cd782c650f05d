#include "session/SessionVisualizer.h"

#include "session/ModelRoles.h"
#include "session/SessionDocument.h"
#include "widgets/Trace.h"

#include <QAbstractButton>
#include <QBuffer>
#include <QButtonGroup>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QUrl>
#include <QWidgetAction>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <limits>
#include <map>

namespace {
const QLatin1String keyPositionNames("PositionNames");
const QLatin1String keyCameraPositions("CameraPositions");
const QLatin1String keyVersion("Version");
const QLatin1String keyLesions("Lesions");
const QLatin1String keyLastLesionID("LastLesionID");
const QString externalKey = QStringLiteral("-1");
} // namespace

SessionVisualizer::SessionVisualizer(const QString &folderPath, int patientId, int sessionId,
                                     const QJsonDocument &sessionJson, const QDateTime &date)
    : m_folderPath(folderPath), m_date(date), m_patientId(patientId), m_sessionId(sessionId),
      m_sessionJson(sessionJson.object()), m_documents(std::make_shared<DocumentStore>()),
      m_files(std::make_shared<FileStore>())
{
    m_documents->insert(m_folderPath + QStringLiteral("/session.json"), sessionJson);
    m_downloadCheckTimer.setInterval(500);
    connect(&m_downloadCheckTimer, &QTimer::timeout, this, &SessionVisualizer::downloadCheckStatus);
}

SessionVisualizer::~SessionVisualizer()
{
    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::~SessionVisualizer"));
    kelvaris::trace(QStringLiteral("DESTRUCTOR SESSION"));
    // Lesions of the same number in other sessions hold this session's
    // lesions strongly; without this they would stay alive (and shown).
    releaseHistoricLinks();
    // Widgets cannot be destroyed once the application is gone; the process
    // is ending then and the menu goes with it.
    if (!QCoreApplication::instance()) {
        (void)m_menu.release();
        return;
    }
    // Destroyed here, while every member its slots use still exists (a
    // visible menu announces aboutToHide as it goes).
    if (m_menu) {
        m_menu->disconnect(this);
        m_menu.reset();
    }
}

QString SessionVisualizer::getSessionName() const
{
    return m_date.toString(QStringLiteral("dd/MM/yyyy"));
}

void SessionVisualizer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    emit updated(ModelRole::Enabled);
}

void SessionVisualizer::connectLesion(const QSharedPointer<LesionVisualizer> &lesion)
{
    connect(lesion.data(), &LesionVisualizer::changesToSave, this, [this]() { m_changesToSave = true; });
    const QWeakPointer<LesionVisualizer> weak = lesion;
    connect(lesion.data(), &LesionVisualizer::download, this, [this, weak](QString id, int quality) {
        if (const auto strong = weak.toStrongRef())
            downloadOneDermatoscopicPetition(id, strong, quality);
    });
}

void SessionVisualizer::readSessionJson()
{
    const QSharedPointer<SessionVisualizer> self = sharedFromThis();
    if (!self)
        kelvaris::trace(
            QStringLiteral("SessionVisualizer::readSessionJson: session not held by a shared pointer"));

    m_positionNames.clear();
    m_cameraPoses.clear();
    m_lesions.clear();
    m_lesionCounters.clear();
    m_counterJson.clear();
    m_externalPoseJson.clear();

    const QJsonValue names = m_sessionJson.value(keyPositionNames);
    for (const QJsonValue &name : names.toArray())
        m_positionNames.push_back(SessionDocument::textOf(name));

    const QJsonValue counters = m_sessionJson.value(keyLastLesionID);
    if (counters.isArray()) {
        for (const QJsonValue &c : counters.toArray()) {
            m_lesionCounters.push_back(SessionDocument::intOr(c, 0));
            m_counterJson.push_back(c);
        }
    }

    const QJsonObject cameraPositions = m_sessionJson.value(keyCameraPositions).toObject();
    for (auto it = cameraPositions.constBegin(); it != cameraPositions.constEnd(); ++it) {
        int position = 0;
        // Keys that do not name a position, and values that are not lists,
        // are not interpreted: they travel through unchanged.
        if (!SessionDocument::parsePositionKey(it.key(), &position) || !it.value().isArray())
            continue;
        std::vector<CameraPose> &poses = m_cameraPoses[position];
        poses.clear();
        const QJsonArray array = it.value().toArray();
        for (const QJsonValue &p : array) {
            poses.push_back(CameraPose::fromJson(p));
            if (position == externalPosition)
                m_externalPoseJson.push_back(p);
        }
    }

    m_version = SessionDocument::intOr(m_sessionJson.value(keyVersion), 0);

    std::map<int, std::vector<int>> numbersByPosition;
    const QJsonObject lesions = m_sessionJson.value(keyLesions).toObject();
    for (auto it = lesions.constBegin(); it != lesions.constEnd(); ++it) {
        int position = 0;
        if (!SessionDocument::parsePositionKey(it.key(), &position) || !it.value().isArray())
            continue;
        LesionList &list = m_lesions[position];
        list.clear();
        std::vector<int> &numbers = numbersByPosition[position];
        numbers.clear();
        const QJsonArray array = it.value().toArray();
        for (const QJsonValue &element : array) {
            auto lesion = QSharedPointer<LesionVisualizer>::create(element, position, self);
            connectLesion(lesion);
            list.push_back(lesion);
            numbers.push_back(lesion->getNumericID());
            if (lesion->hasDermatoscopicGroups()) {
                QImage icon;
                int quality = 0;
                if (getFile(dermatoscopicPath(lesion->getLastDermatoscopicId() + QLatin1Char('s')), icon,
                            quality))
                    lesion->setIcon(icon);
            }
        }
    }

    m_lesionCounters = SessionDocument::completeCounters(m_lesionCounters, numbersByPosition);
    if (!m_lesions.contains(externalPosition))
        m_lesions.insert(externalPosition, LesionList());
    if (!m_cameraPoses.contains(externalPosition))
        m_cameraPoses.insert(externalPosition, std::vector<CameraPose>());
}

QJsonValue SessionVisualizer::buildLesions() const
{
    const QJsonValue stored = m_sessionJson.value(keyLesions);
    bool anyLesion = false;
    for (const LesionList &list : m_lesions)
        anyLesion = anyLesion || !list.empty();
    // A mistyped "Lesions" is kept as it was while there is nothing to write
    // in its place.
    if (!stored.isUndefined() && !stored.isObject() && !anyLesion)
        return stored;

    QJsonObject result = stored.toObject();
    for (auto it = m_lesions.constBegin(); it != m_lesions.constEnd(); ++it) {
        const QString key = QString::number(it.key());
        if (it.value().empty() && result.contains(key) && !result.value(key).isArray())
            continue;
        QJsonArray array;
        for (const auto &lesion : it.value())
            array.append(lesion->toJsonValue());
        result.insert(key, array);
    }
    return result;
}

QJsonArray SessionVisualizer::buildCounters() const
{
    QJsonArray array;
    for (size_t i = 0; i < m_lesionCounters.size(); ++i) {
        if (i < m_counterJson.size() && SessionDocument::intOr(m_counterJson[i], 0) == m_lesionCounters[i])
            array.append(m_counterJson[i]);
        else
            array.append(m_lesionCounters[i]);
    }
    return array;
}

QJsonValue SessionVisualizer::buildCameraPositions() const
{
    const QJsonValue stored = m_sessionJson.value(keyCameraPositions);
    const std::vector<CameraPose> external = m_cameraPoses.value(externalPosition);
    if (!stored.isUndefined() && !stored.isObject() && external.empty())
        return stored;
    QJsonObject result = stored.toObject();
    if (external.empty() && result.contains(externalKey) && !result.value(externalKey).isArray())
        return result;

    QJsonArray array;
    for (size_t i = 0; i < external.size(); ++i) {
        if (i < m_externalPoseJson.size() && CameraPose::fromJson(m_externalPoseJson[i]) == external[i])
            array.append(m_externalPoseJson[i]);
        else
            array.append(external[i].toJson());
    }
    result.insert(externalKey, array);
    return result;
}

QJsonDocument SessionVisualizer::getSessionJson()
{
    m_changesToSave = false;
    const QJsonValue lesions = buildLesions();
    const QJsonArray counters = buildCounters();
    const QJsonValue cameraPositions = buildCameraPositions();

    m_sessionJson.remove(keyCameraPositions);
    m_sessionJson.insert(keyCameraPositions, cameraPositions);
    m_sessionJson.remove(keyLesions);
    m_sessionJson.insert(keyLesions, lesions);
    m_sessionJson.remove(keyLastLesionID);
    m_sessionJson.insert(keyLastLesionID, counters);

    // Later writes start from what this one wrote: counters and external poses
    // now stand in the document as written.
    m_counterJson.assign(counters.begin(), counters.end());
    const QJsonValue external = cameraPositions.toObject().value(externalKey);
    if (external.isArray()) {
        const QJsonArray array = external.toArray();
        m_externalPoseJson.assign(array.begin(), array.end());
    }

    const QJsonDocument document(m_sessionJson);
    m_documents->insert(m_folderPath + QStringLiteral("/session.json"), document);
    return document;
}

QString SessionVisualizer::clinicalImageName(const CameraPose &pose, int position) const
{
    return SessionDocument::clinicalImageName(pose, position, m_version);
}

std::pair<CameraPose, int> SessionVisualizer::parseClinicalImageName(const QString &name) const
{
    CameraPose pose;
    int position = 0;
    SessionDocument::parseClinicalImageName(name, m_version, &pose, &position);
    return {pose, position};
}

QString SessionVisualizer::clinicalImagePath(const CameraPose &pose, int position) const
{
    return m_folderPath + QStringLiteral("/imgL/") + clinicalImageName(pose, position) +
           QStringLiteral(".jpg");
}

QString SessionVisualizer::dermatoscopicPath(const QString &id) const
{
    return m_folderPath + QStringLiteral("/dermatoscopic/") + id + QStringLiteral(".jpg");
}

bool SessionVisualizer::lookupFile(const QString &path, QByteArray *bytes, int *quality) const
{
    auto it = m_files->constFind(path);
    if (it == m_files->constEnd() && path.endsWith(QLatin1String("s.jpg")))
        it = m_files->constFind(path.left(path.size() - 5) + QStringLiteral(".jpg"));
    if (it == m_files->constEnd())
        return false;
    *bytes = it->first;
    *quality = it->second;
    return true;
}

QImage SessionVisualizer::decodeImage(const QByteArray &bytes, const QSize &fitWithin)
{
    if (bytes.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPG");
    if (fitWithin.isValid() && !fitWithin.isEmpty()) {
        const QSize size = reader.size();
        if (size.isValid() && !size.isEmpty())
            reader.setScaledSize(size.scaled(fitWithin, Qt::KeepAspectRatio));
    }
    return reader.read();
}

bool SessionVisualizer::getFile(const QString &path, QImage &image, int &quality) const
{
    QByteArray bytes;
    int code = 0;
    if (!lookupFile(path, &bytes, &code))
        return false;
    // A stored file that does not decode must not leave an earlier image in
    // the caller's hands.
    image = decodeImage(bytes);
    quality = code;
    return !image.isNull();
}

bool SessionVisualizer::hasFile(const QString &path, int quality) const
{
    const auto it = m_files->constFind(path);
    if (it != m_files->constEnd() && (quality == -1 || it->second == quality))
        return true;
    if (path.endsWith(QLatin1String("s.jpg")))
        return m_files->contains(path.left(path.size() - 5) + QStringLiteral(".jpg"));
    return false;
}

QByteArray SessionVisualizer::getDermatoscopicBytes(const QString &id, int *quality) const
{
    QByteArray bytes;
    int code = 0;
    bool found = lookupFile(dermatoscopicPath(id), &bytes, &code);
    if (!found && id.endsWith(QLatin1Char('s')))
        found = lookupFile(dermatoscopicPath(id.left(id.size() - 1)), &bytes, &code);
    if (found && quality)
        *quality = code;
    return found ? bytes : QByteArray();
}

bool SessionVisualizer::getDermatoscopicFile(const QString &id, QImage &image, int &quality) const
{
    int code = 0;
    const QByteArray bytes = getDermatoscopicBytes(id, &code);
    if (bytes.isNull())
        return false;
    image = decodeImage(bytes);
    quality = code;
    return !image.isNull();
}

QByteArray SessionVisualizer::getRawFile(const QString &name) const
{
    // "sessions/1/2" must not claim the files of "sessions/1/23".
    const QString key = name.startsWith(m_folderPath + QLatin1Char('/')) ? name : m_folderPath + name;
    const auto it = m_files->constFind(key);
    return it == m_files->constEnd() ? QByteArray() : it->first;
}

void SessionVisualizer::storeFile(const QString &path, const QByteArray &bytes, int quality)
{
    m_files->insert(path, {bytes, quality});
}

void SessionVisualizer::addDermatoscopicFile(const QString &fileName, const QByteArray &bytes, int quality)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? fileName : fileName.left(dot);
    storeFile(dermatoscopicPath(base), bytes, quality);
}

namespace {
CameraPose nextExternalPose(const CameraPose &last)
{
    CameraPose pose;
    if (last.x == -3.0f) {
        pose.x = 0.0f;
        pose.y = last.y - 1.0f;
    } else {
        pose.x = last.x - 1.0f;
        pose.y = last.y;
    }
    return pose;
}
} // namespace

CameraPose SessionVisualizer::newClinicalPosition() const
{
    const std::vector<CameraPose> external = m_cameraPoses.value(externalPosition);
    CameraPose pose = external.empty() ? CameraPose() : nextExternalPose(external.back());
    // A pose that a device request holds, or a name once asked for, is
    // skipped: two images must never share a name.
    QSet<QString> taken = m_usedClinicalNames;
    for (auto it = m_pendingClinical.constBegin(); it != m_pendingClinical.constEnd(); ++it)
        taken.insert(it.key());
    for (int step = 0; step < 1000 && taken.contains(clinicalImageName(pose, externalPosition)); ++step)
        pose = nextExternalPose(pose);
    return pose;
}

QString SessionVisualizer::addClinicalImage(const QByteArray &jpeg)
{
    std::vector<CameraPose> &external = m_cameraPoses[externalPosition];
    // A document may already hold more external images than allowed; open
    // device requests hold a place each.
    if (external.size() + size_t(m_pendingClinical.size()) >= size_t(maxExternalImages))
        return QStringLiteral("Ple");
    const CameraPose pose = newClinicalPosition();
    external.push_back(pose);
    const QString name = clinicalImageName(pose, externalPosition);
    storeFile(m_folderPath + QStringLiteral("/imgL/") + name + QStringLiteral(".jpg"), jpeg, -4);
    m_changesToSave = true;
    return name + QStringLiteral(".jpg");
}

SessionVisualizer::LesionList SessionVisualizer::getLesions(const QStringList &labels,
                                                            bool withDermatoscopic) const
{
    LesionList result;
    for (const LesionList &list : m_lesions) {
        for (const auto &lesion : list) {
            if (!labels.contains(lesion->getLabel()))
                continue;
            if (!withDermatoscopic && lesion->hasDermatoscopicGroups())
                continue;
            result.push_back(lesion);
        }
    }
    return result;
}

SessionVisualizer::LesionList SessionVisualizer::getLesions(const QString &positionName, int numericId) const
{
    LesionList result;
    const auto it = std::find(m_positionNames.begin(), m_positionNames.end(), positionName);
    if (it == m_positionNames.end())
        return result;
    const int position = int(it - m_positionNames.begin());
    for (const auto &lesion : m_lesions.value(position)) {
        if (lesion->getNumericID() == numericId)
            result.push_back(lesion);
    }
    return result;
}

int SessionVisualizer::takeNextLesionNumber(int position)
{
    const LesionList list = m_lesions.value(position);
    auto taken = [&list](qint64 n) {
        return std::any_of(list.begin(), list.end(), [n](const auto &l) { return l->getNumericID() == n; });
    };
    qint64 largest = 0;
    for (const auto &lesion : list)
        largest = std::max<qint64>(largest, lesion->getNumericID());

    const int index = SessionDocument::counterIndex(position, int(m_lesionCounters.size()));
    qint64 next = index >= 0 ? qint64(m_lesionCounters[size_t(index)]) + 1 : largest + 1;
    // A counter is the number of the last lesion listed, not the largest: a
    // number in use would later link unrelated lesions across sessions.
    if (taken(next) || next < 1)
        next = largest + 1;
    if (next > std::numeric_limits<int>::max()) {
        next = 1;
        while (taken(next))
            ++next;
    }
    if (index >= 0)
        m_lesionCounters[size_t(index)] = int(next);
    return int(next);
}

QSharedPointer<LesionVisualizer> SessionVisualizer::createLesion(const CameraPose &pose, double alpha,
                                                                 double beta, int position, const QRect &rect)
{
    const int number = takeNextLesionNumber(position);
    auto lesion =
        QSharedPointer<LesionVisualizer>::create(pose, alpha, beta, position, rect, number, sharedFromThis());
    connectLesion(lesion);
    m_lesions[position].push_back(lesion);
    m_changesToSave = true;
    return lesion;
}

void SessionVisualizer::deleteLesion(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion)
        return;
    bool removed = false;
    for (LesionList &list : m_lesions) {
        const auto it = std::find(list.begin(), list.end(), lesion);
        if (it != list.end()) {
            list.erase(it);
            removed = true;
            break;
        }
    }
    if (!removed)
        return;
    if (m_currentLesion == lesion)
        m_currentLesion.reset();
    // The deleted lesion must not stay linked to (and shown beside) the same
    // lesion of other sessions.
    lesion->dropHistoricLinks();
    emit lesion->requestDeletion();
    m_changesToSave = true;
}

bool SessionVisualizer::containsLesion(const QSharedPointer<LesionVisualizer> &lesion) const
{
    if (!lesion)
        return false;
    for (const LesionList &list : m_lesions) {
        if (std::find(list.begin(), list.end(), lesion) != list.end())
            return true;
    }
    return false;
}

void SessionVisualizer::downloadOneDermatoscopicPetition(const QString &id,
                                                         const QSharedPointer<LesionVisualizer> &lesion,
                                                         int quality)
{
    m_pendingDermatoscopic.insert(id, lesion);
    m_pendingDermatoscopic.insert(id + QLatin1Char('s'), lesion);
    emit downloadSessionImage(m_patientId, m_sessionId, id, QStringLiteral("D"), quality);
}

void SessionVisualizer::releaseHistoricLinks()
{
    for (const LesionList &list : m_lesions) {
        for (const auto &lesion : list)
            lesion->dropHistoricLinks();
    }
}

void SessionVisualizer::disconnectHistoricLesions()
{
    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::disconnectHistoricLesions"));
    for (const LesionList &list : m_lesions) {
        for (const auto &lesion : list)
            lesion->disconnectHistoricShown();
    }
}

// ---- download bookkeeping ---------------------------------------------------

namespace {
// The name under which the server client delivers a listed file: "l.jpg"
// loses its letter (the quality rule of the session download).
QString deliveredName(const QString &name)
{
    if (name.endsWith(QLatin1String("l.jpg")))
        return name.left(name.size() - 5) + QStringLiteral(".jpg");
    return name;
}

int qualityOfUrl(const QString &url)
{
    QString name = QUrl(url).fileName();
    int code = 1;
    if (name.endsWith(QLatin1String("l.jpg"))) {
        name = name.left(name.size() - 5) + QStringLiteral(".jpg");
        code = 0;
    }
    if (name.endsWith(QLatin1String("e.jpg")))
        return -4;
    if (name.endsWith(QLatin1String("m.jpg")))
        return -3;
    if (name.endsWith(QLatin1String("s.jpg")))
        return -2;
    return code;
}
} // namespace

bool SessionVisualizer::isDownloaded() const
{
    return m_dermatos.downloaded && m_clinical.downloaded;
}

bool SessionVisualizer::areDermatosDownloaded() const
{
    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::areDermatosDownloaded"));
    return m_dermatos.downloaded;
}

bool SessionVisualizer::areClinicalDownloaded() const
{
    return m_clinical.downloaded;
}

bool SessionVisualizer::isDownloading() const
{
    return m_dermatos.requested || m_clinical.requested;
}

void SessionVisualizer::sessionDownloadReply(const QJsonDocument &listing, bool silently)
{
    m_silently = silently;
    const QJsonObject object = listing.object();
    bool newlyRequested = false;

    auto takeList = [&](DownloadState &state, const QString &key, const QString &type) {
        if (state.downloaded || !object.value(key).isArray() || state.requested)
            return;
        state.requested = true;
        newlyRequested = true;
        // A round after a cancelled or failed one starts from nothing.
        state.expected = 0;
        state.received = 0;
        state.awaited.clear();
        for (const QJsonValue &element : object.value(key).toArray()) {
            const QJsonObject entry = element.toObject();
            if (!entry.value(QLatin1String("name")).isString() ||
                !entry.value(QLatin1String("url")).isString())
                continue;
            const QString name = entry.value(QLatin1String("name")).toString();
            if (hasFile(name, -1))
                continue;
            const QString delivered = deliveredName(name);
            // A name listed twice is fetched and awaited once.
            if (state.awaited.contains(delivered))
                continue;
            state.awaited.insert(delivered);
            ++state.expected;
            emit downloadImage(m_patientId, m_sessionId, name, entry.value(QLatin1String("url")).toString(),
                               type);
        }
        if (state.expected == 0)
            state.expected = -1;
    };
    takeList(m_dermatos, QStringLiteral("dermatos"), QStringLiteral("D"));
    takeList(m_clinical, QStringLiteral("generals"), QStringLiteral("C"));

    const QJsonValue images = object.value(QLatin1String("images"));
    if (images.isArray()) {
        for (const QJsonValue &element : images.toArray()) {
            const QJsonObject entry = element.toObject();
            if (!entry.value(QLatin1String("name")).isString() ||
                !entry.value(QLatin1String("url")).isString()) {
                kelvaris::trace(QStringLiteral("UPS"));
                continue;
            }
            const QString name = entry.value(QLatin1String("name")).toString();
            const QString url = entry.value(QLatin1String("url")).toString();
            if (!hasFile(name, qualityOfUrl(url)))
                emit downloadImage(m_patientId, m_sessionId, name, url, QStringLiteral("F"));
        }
    }
    // A type taken from a single-image listing is settled by the timer too;
    // otherwise it would stay "downloading" for ever.
    if (!images.isArray() || newlyRequested) {
        m_roundActive = true;
        m_downloadCheckTimer.start();
    }
}

void SessionVisualizer::imageDownloaded(const QString &fileName, const QByteArray &bytes, const QString &type,
                                        int quality)
{
    // Arrivals change the folder only: a downloaded image is not an edit.
    storeFile(fileName, bytes, quality);
    DownloadState *state = type == QLatin1String("D")   ? &m_dermatos
                           : type == QLatin1String("C") ? &m_clinical
                                                        : nullptr;
    // Only an awaited name counts, once: a late arrival of a cancelled round
    // or a single image fetched meanwhile cannot complete a listing early.
    if (state && state->requested && state->awaited.remove(fileName))
        ++state->received;

    const int slash = fileName.lastIndexOf(QLatin1Char('/'));
    const QString file = fileName.mid(slash + 1);
    const QString base =
        file.left(file.indexOf(QLatin1Char('.')) < 0 ? file.size() : file.indexOf(QLatin1Char('.')));
    const auto pending = m_pendingDermatoscopic.constFind(base);
    if (pending != m_pendingDermatoscopic.constEnd()) {
        if (const auto lesion = pending.value().toStrongRef())
            emit lesion->downloadDone(base, quality);
    }
}

void SessionVisualizer::downloadCheckStatus()
{
    if (!m_roundActive) {
        m_downloadCheckTimer.stop();
        return;
    }
    auto settle = [](DownloadState &state) {
        if (!state.requested || state.expected == 0)
            return false;
        if (state.received != state.expected && state.expected != -1)
            return false;
        state.requested = false;
        state.downloaded = true;
        state.expected = 0;
        state.received = 0;
        state.awaited.clear();
        return true;
    };
    if (settle(m_dermatos) && !m_clinical.downloaded)
        emit progressBarUpdateValue(40, 100);
    if (settle(m_clinical) && !m_dermatos.downloaded)
        emit progressBarUpdateValue(40, 100);
    if (m_dermatos.requested || m_clinical.requested)
        return;

    m_downloadCheckTimer.stop();
    m_roundActive = false;
    if (m_dermatos.downloaded)
        addDermatoscopicToLesion();
    emit updated(ModelRole::Icon);
    emit downloadSessionDone();
    if (!m_silently)
        emit progressBarUpdateValue(70, 100);
}

void SessionVisualizer::errorDownloadingSession()
{
    // The timer stops with the round: a later tick would otherwise find no
    // type requested and announce a completion that did not happen.
    m_downloadCheckTimer.stop();
    m_roundActive = false;
    for (DownloadState *state : {&m_dermatos, &m_clinical}) {
        state->requested = false;
        state->expected = 0;
        state->received = 0;
        state->awaited.clear();
    }
    emit downloadSessionFailed();
}

void SessionVisualizer::cancelDownload()
{
    const bool wasDownloading = isDownloading() || m_downloadCheckTimer.isActive();
    m_downloadCheckTimer.stop();
    m_roundActive = false;
    for (DownloadState *state : {&m_dermatos, &m_clinical}) {
        state->requested = false;
        state->expected = 0;
        state->received = 0;
        state->awaited.clear();
    }
    if (wasDownloading)
        emit downloadSessionFailed();
}

void SessionVisualizer::addDermatoscopicToLesion()
{
    for (const LesionList &list : m_lesions) {
        for (const auto &lesion : list) {
            connect(this, &SessionVisualizer::changeHistoricLesionsToShow, lesion.data(),
                    &LesionVisualizer::changeHistoricLesionsToShow, Qt::UniqueConnection);
            if (!lesion->hasDermatoscopicGroups())
                continue;
            const QString id = lesion->getLastDermatoscopicId();
            kelvaris::trace(QStringLiteral("lesion->getDermatosopicIds: ") + id);
            QImage icon;
            int quality = 0;
            if (getFile(dermatoscopicPath(id + QLatin1Char('s')), icon, quality))
                lesion->setIcon(icon);
            else
                kelvaris::trace(QStringLiteral("IMAGE IS NULL"));
        }
    }
}

// ---- lesion image -----------------------------------------------------------

QRect SessionVisualizer::centeredSquare(const QSize &imageSize, const QRect &rect)
{
    const int w = imageSize.width();
    const int h = imageSize.height();
    if (w <= 0 || h <= 0)
        return QRect();
    int side = std::max(rect.width(), rect.height());
    side = std::max(side, h / 2);
    const QPoint centre = rect.center();
    int x = centre.x() - side / 2;
    int y = centre.y() - side / 2;
    // Moved inside at once; a square larger than the image is cut to it.
    x = std::clamp(x, 0, std::max(0, w - side));
    y = std::clamp(y, 0, std::max(0, h - side));
    return QRect(x, y, side, side).intersected(QRect(0, 0, w, h));
}

QImage SessionVisualizer::getCenteredSquareImage(const QImage &image, const QRect &rect)
{
    kelvaris::trace(QStringLiteral("DINS getCenteredSquareImage"));
    if (image.isNull())
        return QImage();
    const QRect square = centeredSquare(image.size(), rect);
    return square.isEmpty() ? QImage() : image.copy(square);
}

QImage SessionVisualizer::lesionImageFromJpeg(const QByteArray &jpeg, const QRect &rect)
{
    if (jpeg.isEmpty())
        return QImage();
    QBuffer buffer;
    buffer.setData(jpeg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    const QSize size = reader.size();
    const QRect square = centeredSquare(size, rect);
    if (square.isEmpty())
        return QImage();
    // Only the square is decoded.
    reader.setClipRect(square);
    QImage image = reader.read();
    if (image.isNull())
        return QImage();
    image = image.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 10));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect.translated(-square.topLeft())), 15, 15);
    painter.end();
    return image;
}

QImage SessionVisualizer::getLesionImage(const QSharedPointer<LesionVisualizer> &lesion) const
{
    if (!lesion)
        return QImage();
    const QByteArray bytes = getRawFile(clinicalImagePath(lesion->getMainPose(), lesion->getPosition()));
    return lesionImageFromJpeg(bytes, lesion->getMainRect());
}

QFuture<QImage> SessionVisualizer::lesionImageAsync(const QSharedPointer<LesionVisualizer> &lesion) const
{
    QByteArray bytes;
    QRect rect;
    if (lesion) {
        bytes = getRawFile(clinicalImagePath(lesion->getMainPose(), lesion->getPosition()));
        rect = lesion->getMainRect();
    }
    return QtConcurrent::run([bytes, rect]() { return lesionImageFromJpeg(bytes, rect); });
}

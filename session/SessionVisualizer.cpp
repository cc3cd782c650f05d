#include "session/SessionVisualizer.h"

#include "session/SessionDocument.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>

#include <algorithm>
#include <iostream>
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
}

SessionVisualizer::~SessionVisualizer()
{
    std::cout << "DINS SessionVisualizer::~SessionVisualizer" << std::endl;
    std::cout << "DESTRUCTOR SESSION" << std::endl;
}

QString SessionVisualizer::getSessionName() const
{
    return m_date.toString(QStringLiteral("dd/MM/yyyy"));
}

void SessionVisualizer::setEnabled(bool enabled)
{
    m_enabled = enabled;
    emit updated(32);
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
        std::cout << "SessionVisualizer::readSessionJson: session not held by a shared pointer" << std::endl;

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

CameraPose SessionVisualizer::newClinicalPosition() const
{
    const std::vector<CameraPose> external = m_cameraPoses.value(externalPosition);
    CameraPose pose;
    if (external.empty())
        return pose;
    const CameraPose &last = external.back();
    if (last.x == -3.0f) {
        pose.x = 0.0f;
        pose.y = last.y - 1.0f;
    } else {
        pose.x = last.x - 1.0f;
        pose.y = last.y;
    }
    return pose;
}

QString SessionVisualizer::addClinicalImage(const QByteArray &jpeg)
{
    std::vector<CameraPose> &external = m_cameraPoses[externalPosition];
    // A document may already hold more external images than allowed.
    if (external.size() >= size_t(maxExternalImages))
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
    emit lesion->requestDeletion();
    m_changesToSave = true;
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

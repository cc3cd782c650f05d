#include "session/LesionVisualizer.h"

#include "session/ClinicalPixmapItem.h"
#include "session/ModelRoles.h"
#include "session/SessionDocument.h"
#include "session/SessionVisualizer.h"
#include "widgets/IconHelpers.h"
#include "widgets/Trace.h"

#include <QCoreApplication>
#include <QFile>
#include <QFont>
#include <QFutureWatcher>
#include <QGraphicsScene>
#include <QHash>
#include <QJsonArray>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPolygonF>
#include <QSvgRenderer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cmath>

namespace {
const QLatin1String keyBbox("bbox");
const QLatin1String keyInstancesBbox("instancesBbox");
const QLatin1String keyInstancesBboxR("instancesBboxR");
const QLatin1String keyInstancesPosition("instancesPosition");
const QLatin1String keyInstancesContours("instancesContours");
const QLatin1String keyDermatoscopicIds("dermatoscopicIds");
const QLatin1String keyDermatoscopicContour("dermatoscopicContour");
const QLatin1String keyPlane("plane");
const QLatin1String keyCentre("centre3d");
const QLatin1String keyRadius("radius");
const QLatin1String keyMainPose("mainPose");
const QLatin1String keyLabel("lesionLabel");
const QLatin1String keyPriority("lesionPriority");
const QLatin1String keyNumericID("numericID");
const QLatin1String keyMesure("mesure");

struct LabelEntry
{
    const char *label;
    const char *colour;
    const char *iconColoured;
    const char *iconPlain;
};

const LabelEntry labelTable[] = {
    {"Detected", "#a09393", ":/legendIcons/iconDColor", ":/legendIcons/iconD"},
    {"Captured", "#9DBF9E", ":/legendIcons/iconCColor", ":/legendIcons/iconC"},
    {"Exeresis", "#D17B74", ":/legendIcons/iconEColor", ":/legendIcons/iconE"},
    {"Follow up", "#9E7B9B", ":/legendIcons/iconFColor", ":/legendIcons/iconF"},
    {"Custom 1", "#F0AD6D", ":/legendIcons/iconC1Color", ":/legendIcons/iconC1"},
    {"Custom 2", "#6794A7", ":/legendIcons/iconC2Color", ":/legendIcons/iconC2"},
};

const LabelEntry *findLabel(const QString &label)
{
    for (const LabelEntry &entry : labelTable) {
        if (label == QLatin1String(entry.label))
            return &entry;
    }
    return nullptr;
}

QVector3D readVector(const QJsonValue &value)
{
    const QJsonObject o = value.toObject();
    return QVector3D(CameraPose::toFloat(o.value(QLatin1String("x")).toDouble()),
                     CameraPose::toFloat(o.value(QLatin1String("y")).toDouble()),
                     CameraPose::toFloat(o.value(QLatin1String("z")).toDouble()));
}

std::vector<QString> readGroup(const QJsonValue &value)
{
    std::vector<QString> group;
    if (value.isArray()) {
        for (const QJsonValue &id : value.toArray())
            group.push_back(SessionDocument::textOf(id));
    } else {
        group.push_back(SessionDocument::textOf(value));
    }
    return group;
}

// Writes one element per memory value: the element it was read from when it
// still reads as the same value, else the value written afresh.
template <typename T, typename Read, typename Write>
QJsonArray writeTracked(const std::vector<T> &values, const std::vector<QJsonValue> &originals, Read read,
                        Write write)
{
    QJsonArray array;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i < originals.size() && !originals[i].isUndefined() && read(originals[i]) == values[i])
            array.append(originals[i]);
        else
            array.append(write(values[i]));
    }
    return array;
}

QFont labelFont()
{
    return QFont(QStringLiteral("MS Shell Dlg 2"), 18, 400);
}

void drawTextOnBackground(QPainter &painter, const QRect &area, int flags, const QString &text)
{
    painter.setFont(labelFont());
    const QRect bounds = painter.boundingRect(area, flags, text);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawRoundedRect(bounds.adjusted(-5, -5, 5, 5), 10, 10);
    painter.setPen(QColor(47, 79, 79));
    painter.setBrush(Qt::NoBrush);
    painter.drawText(area, flags, text);
}

QImage scaledToHeight(const QImage &image, int height)
{
    if (image.isNull() || height <= 0 || image.height() == height)
        return image;
    return image.scaledToHeight(height, Qt::SmoothTransformation);
}
} // namespace

const QSize LesionVisualizer::previewBound(300, 200);

LesionVisualizer::LesionVisualizer(const QJsonValue &lesionObject, int position,
                                   const QSharedPointer<SessionVisualizer> &session)
    : m_position(position), m_session(session)
{
    if (session)
        m_sessionId = session->getSessionId();
    readObject(lesionObject);
    connect(this, &LesionVisualizer::changesToSave, this, [this]() { markEdited(); });
}

LesionVisualizer::LesionVisualizer(const CameraPose &pose, double alpha, double beta, int position,
                                   const QRect &rect, int numericId,
                                   const QSharedPointer<SessionVisualizer> &session)
    : m_position(position), m_session(session)
{
    if (session)
        m_sessionId = session->getSessionId();
    CameraPose main = pose;
    main.alpha = alpha;
    main.beta = beta;
    const QJsonObject rectJson = SessionDocument::rectToJson(rect);
    const QJsonObject poseJson = main.toJson();
    QJsonObject o;
    for (const char *key : {"contour2D", "contour3D", "dermatoscopicIds", "historicFeatures",
                            "historicSession", "instancesBboxR", "instancesContours", "mesure"})
        o.insert(QLatin1String(key), QJsonArray());
    o.insert(keyBbox, rectJson);
    o.insert(keyInstancesBbox, QJsonArray{rectJson});
    o.insert(keyCentre, QJsonObject());
    o.insert(keyPlane, QJsonObject());
    o.insert(QLatin1String("positionCaptured"), position);
    o.insert(keyRadius, -1);
    o.insert(keyMainPose, poseJson);
    o.insert(keyInstancesPosition, QJsonArray{poseJson});
    readObject(o);
    m_numericID = numericId;
    m_numberEdited = true;
    m_edited = true;
    connect(this, &LesionVisualizer::changesToSave, this, [this]() { markEdited(); });
}

LesionVisualizer::~LesionVisualizer()
{
    kelvaris::trace(QStringLiteral("LESION DESTRUCTOR: ") + getLesionIdText());
}

void LesionVisualizer::readObject(const QJsonValue &value)
{
    m_sourceWasObject = value.isObject();
    m_sourceValue = value;
    m_json = value.toObject();

    const QRect bbox = SessionDocument::readRect(m_json.value(keyBbox));
    for (const QJsonValue &r : m_json.value(keyInstancesBbox).toArray()) {
        m_instancesBbox.push_back(SessionDocument::readRect(r));
        m_instancesBboxJson.push_back(r);
        m_mainFlags.push_back(m_instancesBbox.back() == bbox);
    }
    if (std::find(m_mainFlags.begin(), m_mainFlags.end(), true) == m_mainFlags.end()) {
        kelvaris::trace(QStringLiteral("ERROR! No hem trobat la instancia principal! "
                                       "------------------------------------------------------------------"));
    }
    for (const QJsonValue &r : m_json.value(keyInstancesBboxR).toArray()) {
        m_instancesBboxR.push_back(SessionDocument::readRect(r));
        m_instancesBboxRJson.push_back(r);
    }
    for (const QJsonValue &p : m_json.value(keyInstancesPosition).toArray()) {
        m_instancesPosition.push_back(CameraPose::fromJson(p));
        m_instancesPositionJson.push_back(p);
    }
    for (const QJsonValue &g : m_json.value(keyDermatoscopicIds).toArray()) {
        m_dermatoscopicIds.push_back(readGroup(g));
        m_dermatoscopicIdsJson.push_back(g);
    }
    for (const QJsonValue &element : m_json.value(keyDermatoscopicContour).toArray()) {
        std::vector<std::vector<QPoint>> outlines;
        const QJsonArray array = element.toArray();
        if (element.isArray() && !array.isEmpty() && array.first().isArray()) {
            for (const QJsonValue &outline : array)
                outlines.push_back(SessionDocument::readPoints(outline));
        } else {
            outlines.push_back(SessionDocument::readPoints(element));
        }
        m_dermatoscopicContours.push_back(std::move(outlines));
    }
    m_originalContourCount = m_dermatoscopicContours.size();
    for (const QJsonValue &c : m_json.value(keyInstancesContours).toArray()) {
        m_instancesContours.push_back(SessionDocument::readPoints(c));
        m_instancesContoursJson.push_back(c);
    }
    m_plane = readVector(m_json.value(keyPlane));
    m_centre = readVector(m_json.value(keyCentre));
    m_radius = m_json.value(keyRadius).toDouble();
    m_mainPose = CameraPose::fromJson(m_json.value(keyMainPose));

    const QJsonValue label = m_json.value(keyLabel);
    m_label = label.isString() ? label.toString() : defaultLabel(!m_dermatoscopicIds.empty());

    const QJsonValue priority = m_json.value(keyPriority);
    if (priority.isDouble())
        m_priority =
            std::clamp(SessionDocument::truncateToInt(priority.toDouble()), minPriority, maxPriority);

    const QJsonValue number = m_json.value(keyNumericID);
    if (!number.isUndefined())
        m_numericID = SessionDocument::intOr(number, -1);

    const QJsonArray mesure = m_json.value(keyMesure).toArray();
    if (mesure.size() == 2) {
        m_mesure0 = mesure.at(0).toDouble();
        m_mesure1 = mesure.at(1).toDouble();
    }
}

QJsonObject LesionVisualizer::toJson() const
{
    QJsonObject o = m_json;

    const QJsonValue storedIds = m_json.value(keyDermatoscopicIds);
    if (!(m_dermatoscopicIds.empty() && !storedIds.isUndefined() && !storedIds.isArray())) {
        QJsonArray groups;
        for (size_t i = 0; i < m_dermatoscopicIds.size(); ++i) {
            const std::vector<QString> &group = m_dermatoscopicIds[i];
            const QJsonValue original =
                i < m_dermatoscopicIdsJson.size() ? m_dermatoscopicIdsJson[i] : QJsonValue();
            // A single id is written in the list form; an element holding
            // values that are not text is kept as it came while unchanged.
            if (!original.isUndefined() && !original.isString() && readGroup(original) == group) {
                groups.append(original);
                continue;
            }
            QJsonArray ids;
            for (const QString &id : group)
                ids.append(id);
            groups.append(ids);
        }
        o.insert(keyDermatoscopicIds, groups);
    }

    if (m_contoursMerged) {
        QJsonArray contours = m_json.value(keyDermatoscopicContour).toArray();
        for (size_t g = m_originalContourCount; g < m_dermatoscopicContours.size(); ++g) {
            const auto &outlines = m_dermatoscopicContours[g];
            if (outlines.size() == 1) {
                contours.append(SessionDocument::pointsToJson(outlines.front()));
            } else {
                QJsonArray group;
                for (const auto &outline : outlines)
                    group.append(SessionDocument::pointsToJson(outline));
                contours.append(group);
            }
        }
        o.insert(keyDermatoscopicContour, contours);
    }

    const QJsonValue storedLabel = m_json.value(keyLabel);
    o.remove(keyLabel);
    o.insert(keyLabel, (!m_labelEdited && !storedLabel.isUndefined()) ? storedLabel : QJsonValue(m_label));
    const QJsonValue storedPriority = m_json.value(keyPriority);
    o.remove(keyPriority);
    o.insert(keyPriority,
             (!m_priorityEdited && !storedPriority.isUndefined()) ? storedPriority : QJsonValue(m_priority));
    const QJsonValue storedNumber = m_json.value(keyNumericID);
    o.insert(keyNumericID,
             (!m_numberEdited && !storedNumber.isUndefined()) ? storedNumber : QJsonValue(m_numericID));

    // "bbox" names the main instance: the first flagged one, which is the one
    // the views treat as main. Without a main instance the stored "bbox" is
    // kept: it is the device's record of the main rectangle.
    const int main = getMainInstanceIndex();
    if (main >= 0) {
        const QRect rect = m_instancesBbox[size_t(main)];
        const QJsonValue storedBbox = m_json.value(keyBbox);
        const QJsonValue instanceJson =
            size_t(main) < m_instancesBboxJson.size() ? m_instancesBboxJson[size_t(main)] : QJsonValue();
        o.remove(keyBbox);
        if (!storedBbox.isUndefined() && SessionDocument::readRect(storedBbox) == rect)
            o.insert(keyBbox, storedBbox);
        else if (instanceJson.isObject() && SessionDocument::readRect(instanceJson) == rect)
            o.insert(keyBbox, instanceJson);
        else
            o.insert(keyBbox, SessionDocument::rectToJson(rect));
    }

    // A list key holding something else than a list is kept while nothing
    // was added in its place.
    auto putList = [&o, this](QLatin1String key, bool empty, const QJsonArray &rebuilt) {
        const QJsonValue stored = m_json.value(key);
        if (empty && !stored.isUndefined() && !stored.isArray())
            return;
        o.insert(key, rebuilt);
    };
    putList(keyInstancesBbox, m_instancesBbox.empty(),
            writeTracked(m_instancesBbox, m_instancesBboxJson, SessionDocument::readRect,
                         SessionDocument::rectToJson));
    putList(keyInstancesBboxR, m_instancesBboxR.empty(),
            writeTracked(m_instancesBboxR, m_instancesBboxRJson, SessionDocument::readRect,
                         SessionDocument::rectToJson));
    putList(keyInstancesContours, m_instancesContours.empty(),
            writeTracked(m_instancesContours, m_instancesContoursJson, SessionDocument::readPoints,
                         SessionDocument::pointsToJson));
    putList(keyInstancesPosition, m_instancesPosition.empty(),
            writeTracked(m_instancesPosition, m_instancesPositionJson, CameraPose::fromJson,
                         [](const CameraPose &p) { return p.toJson(); }));
    return o;
}

QJsonValue LesionVisualizer::toJsonValue() const
{
    if (!m_sourceWasObject && !m_edited)
        return m_sourceValue;
    return toJson();
}

QStringList LesionVisualizer::labelNames()
{
    QStringList names;
    for (const LabelEntry &entry : labelTable)
        names << QString::fromLatin1(entry.label);
    return names;
}

QColor LesionVisualizer::labelColor(const QString &label)
{
    const LabelEntry *entry = findLabel(label);
    return QColor(QString::fromLatin1(entry ? entry->colour : "#ede15b"));
}

QString LesionVisualizer::legendIconPath(const QString &label, bool coloured)
{
    const LabelEntry *entry = findLabel(label);
    if (!entry)
        entry = &labelTable[5];
    return QString::fromLatin1(coloured ? entry->iconColoured : entry->iconPlain);
}

namespace {
// Pixmaps must not outlive the application (a static hash would be destroyed
// after it); the cache is a child of the application object and goes with it.
class LegendIconCache : public QObject
{
public:
    using QObject::QObject;
    QHash<QString, QPixmap> pixmaps;

    static QHash<QString, QPixmap> *instance()
    {
        static QPointer<LegendIconCache> cache;
        if (!cache) {
            QCoreApplication *app = QCoreApplication::instance();
            if (!app)
                return nullptr;
            cache = new LegendIconCache(app);
        }
        return &cache->pixmaps;
    }
};
} // namespace

QPixmap LesionVisualizer::legendIcon(const QString &label, bool coloured)
{
    QHash<QString, QPixmap> empty;
    QHash<QString, QPixmap> *cachePointer = LegendIconCache::instance();
    QHash<QString, QPixmap> &cache = cachePointer ? *cachePointer : empty;
    const QString path = legendIconPath(label, coloured);
    const auto it = cache.constFind(path);
    if (it != cache.constEnd())
        return *it;
    QPixmap pixmap;
    if (!QFile::exists(path))
        return pixmap;
    QSvgRenderer renderer(path);
    if (renderer.isValid()) {
        pixmap = svgToPixmapExact(renderer, QSize(22, 22));
        cache.insert(path, pixmap);
    }
    return pixmap;
}

QDate LesionVisualizer::dateOfDermatoscopicId(const QString &id)
{
    return QDate::fromString(id.section(QLatin1Char('_'), 0, 0), QStringLiteral("yyyyMMdd"));
}

QString LesionVisualizer::defaultLabel(bool hasDermatoscopic)
{
    return hasDermatoscopic ? QStringLiteral("Captured") : QStringLiteral("Detected");
}

QString LesionVisualizer::getLesionIdText() const
{
    const int shown = m_position == -1 ? 4 : m_position;
    return QString::number(shown) + QLatin1Char('_') + QString::number(m_numericID);
}

qint64 LesionVisualizer::getSortKey() const
{
    return qint64(m_position == -1 ? 10 : m_position) * 1000 + m_numericID;
}

QString LesionVisualizer::getLastDermatoscopicId() const
{
    if (m_dermatoscopicIds.empty() || m_dermatoscopicIds.back().empty())
        return QString();
    return m_dermatoscopicIds.back().front();
}

int LesionVisualizer::getMainInstanceIndex() const
{
    const size_t n = std::min(m_mainFlags.size(), m_instancesBbox.size());
    for (size_t i = 0; i < n; ++i) {
        if (m_mainFlags[i])
            return int(i);
    }
    return -1;
}

QRect LesionVisualizer::getMainRect() const
{
    const int main = getMainInstanceIndex();
    return main < 0 ? QRect() : m_instancesBbox[size_t(main)];
}

std::pair<double, double> LesionVisualizer::getPlaneAngles() const
{
    constexpr double toDegrees = 180.0 / 3.14159265;
    auto clampUnit = [](double v) { return std::isnan(v) ? 0.0 : std::clamp(v, -1.0, 1.0); };
    const double first = std::asin(clampUnit(-double(m_plane.y())));
    const double second = std::asin(clampUnit(double(m_plane.x()) / std::cos(first)));
    return {second * toDegrees, first * toDegrees};
}

void LesionVisualizer::setLabel(const QString &label)
{
    m_label = label;
    m_labelEdited = true;
    markEdited();
    emit updated(ModelRole::LesionLabel);
    emit changesToSave();
}

void LesionVisualizer::setPriority(int priority)
{
    m_priority = std::clamp(priority, minPriority, maxPriority);
    m_priorityEdited = true;
    markEdited();
    emit updated(ModelRole::LesionPriority);
    emit changesToSave();
}

void LesionVisualizer::addDermatoscopicImage(const QString &id)
{
    m_dermatoscopicIds.push_back({id});
    m_dermatoscopicIdsJson.push_back(QJsonValue());
    markEdited();
    if (m_label == QLatin1String("Detected"))
        setLabel(QStringLiteral("Captured"));
    emit changesToSave();
}

void LesionVisualizer::removeLastDermatoscopicGroup()
{
    if (m_dermatoscopicIds.empty())
        return;
    m_dermatoscopicIds.pop_back();
    if (m_dermatoscopicIdsJson.size() > m_dermatoscopicIds.size())
        m_dermatoscopicIdsJson.resize(m_dermatoscopicIds.size());
    markEdited();
}

void LesionVisualizer::setInstanceRect(int index, const QRect &rect)
{
    if (index < 0 || size_t(index) >= m_instancesBbox.size())
        return;
    m_instancesBbox[size_t(index)] = rect;
    markEdited();
}

void LesionVisualizer::renumber()
{
    const auto session = getSession();
    changeNumericID(session ? session->takeNextLesionNumber(m_position) : -1);
}

void LesionVisualizer::forgetHistoricSession(int sessionId)
{
    if (m_firstHistoricShown == sessionId) {
        disconnect(m_firstHistoricConnection);
        m_firstHistoricShown = -1;
    }
    if (m_secondHistoricShown == sessionId) {
        disconnect(m_secondHistoricConnection);
        m_secondHistoricShown = -1;
    }
}

void LesionVisualizer::dropHistoricLinks()
{
    // Copy first: unlinking the other side may release the last reference
    // another lesion held to this map's entries.
    const auto historic = m_historicLesions;
    const QSharedPointer<LesionVisualizer> keepAlive = sharedFromThis();
    for (auto it = historic.constBegin(); it != historic.constEnd(); ++it) {
        const QSharedPointer<LesionVisualizer> &other = it.value();
        if (!other || other.data() == this)
            continue;
        other->forgetHistoricSession(m_sessionId);
        const auto mine = other->m_historicLesions.constFind(m_sessionId);
        if (mine != other->m_historicLesions.constEnd() && mine.value().data() == this)
            other->m_historicLesions.remove(m_sessionId);
        forgetHistoricSession(it.key());
    }
    m_historicLesions.clear();
    disconnect(m_firstHistoricConnection);
    disconnect(m_secondHistoricConnection);
    m_firstHistoricShown = -1;
    m_secondHistoricShown = -1;
    m_compositePixmap = QPixmap();
    m_compositeFuture = QFuture<QImage>();
    ++m_compositeGeneration;
}

void LesionVisualizer::disconnectHistoricShown()
{
    disconnect(m_firstHistoricConnection);
    disconnect(m_secondHistoricConnection);
}

void LesionVisualizer::changeNumericID(int numericId)
{
    m_numericID = numericId;
    m_numberEdited = true;
    markEdited();
    const QIcon previousIcon = m_icon;
    dropHistoricLinks();
    if (!previousIcon.isNull()) {
        const QImage thumbnail = ownThumbnail();
        if (!thumbnail.isNull())
            setIcon(thumbnail);
    }
    emit updated(ModelRole::LesionName);
    emit changesToSave();
}

void LesionVisualizer::setPrincipalClinicalItem(ClinicalPixmapItem *item, int sceneIndex)
{
    QGraphicsScene *scene = item ? item->scene() : nullptr;
    m_principalClinicalItem = scene ? item : nullptr;
    m_principalScene = scene;
    m_sceneIndex = sceneIndex;
}

ClinicalPixmapItem *LesionVisualizer::getPrincipalClinicalItem() const
{
    return m_principalScene ? m_principalClinicalItem : nullptr;
}

void LesionVisualizer::addHistoricLesion(const QSharedPointer<LesionVisualizer> &lesion, int sessionId)
{
    if (!lesion || lesion.data() == this || m_historicLesions.contains(sessionId))
        return;
    m_historicLesions.insert(sessionId, lesion);
}

void LesionVisualizer::mergeLesion(const QSharedPointer<LesionVisualizer> &other)
{
    if (!other || other.data() == this)
        return;
    auto append = [](auto &to, const auto &from) { to.insert(to.end(), from.begin(), from.end()); };
    auto appendJson = [](std::vector<QJsonValue> &to, size_t toSize, const std::vector<QJsonValue> &from,
                         size_t fromSize) {
        to.resize(toSize);
        std::vector<QJsonValue> tail = from;
        tail.resize(fromSize);
        to.insert(to.end(), tail.begin(), tail.end());
    };
    // Keep the originals aligned with their values so that they are written back.
    appendJson(m_instancesBboxJson, m_instancesBbox.size(), other->m_instancesBboxJson,
               other->m_instancesBbox.size());
    m_mainFlags.resize(m_instancesBbox.size(), false);
    append(m_instancesBbox, other->m_instancesBbox);
    m_mainFlags.resize(m_instancesBbox.size(), false);
    appendJson(m_instancesPositionJson, m_instancesPosition.size(), other->m_instancesPositionJson,
               other->m_instancesPosition.size());
    append(m_instancesPosition, other->m_instancesPosition);
    appendJson(m_instancesBboxRJson, m_instancesBboxR.size(), other->m_instancesBboxRJson,
               other->m_instancesBboxR.size());
    append(m_instancesBboxR, other->m_instancesBboxR);
    appendJson(m_instancesContoursJson, m_instancesContours.size(), other->m_instancesContoursJson,
               other->m_instancesContours.size());
    append(m_instancesContours, other->m_instancesContours);
    // Outlines stay parallel to the groups: this lesion's groups without an
    // outline get an empty one before the other's outlines are added.
    const QJsonValue storedContours = m_json.value(keyDermatoscopicContour);
    if (!other->m_dermatoscopicContours.empty() &&
        m_dermatoscopicContours.size() <= m_dermatoscopicIds.size() &&
        (storedContours.isUndefined() || storedContours.isArray())) {
        if (m_dermatoscopicContours.size() < m_dermatoscopicIds.size())
            m_dermatoscopicContours.resize(m_dermatoscopicIds.size(), {std::vector<QPoint>()});
        auto outlines = other->m_dermatoscopicContours;
        if (outlines.size() > other->m_dermatoscopicIds.size())
            outlines.resize(other->m_dermatoscopicIds.size());
        append(m_dermatoscopicContours, outlines);
        m_contoursMerged = true;
    }
    appendJson(m_dermatoscopicIdsJson, m_dermatoscopicIds.size(), other->m_dermatoscopicIdsJson,
               other->m_dermatoscopicIds.size());
    append(m_dermatoscopicIds, other->m_dermatoscopicIds);
    markEdited();
    emit other->requestChange(sharedFromThis());
    emit changesToSave();
}

std::vector<QPoint> LesionVisualizer::getDermatoscopicContour(const QString &id) const
{
    if (m_dermatoscopicContours.empty())
        return {};
    for (size_t g = 0; g < m_dermatoscopicIds.size(); ++g) {
        const std::vector<QString> &group = m_dermatoscopicIds[g];
        const auto it = std::find(group.begin(), group.end(), id);
        if (it == group.end())
            continue;
        const size_t place = group.size() >= 2 ? size_t(it - group.begin()) : 0;
        if (g >= m_dermatoscopicContours.size())
            return {};
        const auto &outlines = m_dermatoscopicContours[g];
        return place < outlines.size() ? outlines[place] : std::vector<QPoint>();
    }
    return {};
}

QRect LesionVisualizer::getDermatoscopicRegion(const QString &id, const QSize &imageSize) const
{
    const int w = imageSize.width();
    const int h = imageSize.height();
    const std::vector<QPoint> outline = getDermatoscopicContour(id);
    if (outline.empty())
        return QRect(0, 0, w, h);
    QPolygonF polygon;
    for (const QPoint &p : outline)
        polygon << QPointF(p);
    QRectF r = polygon.boundingRect().adjusted(-100, -100, 100, 100);

    const double target = h / 2;
    const double d = std::floor(std::max(0.0, target - r.width()) / 2.0);
    const double e = std::floor(std::max(0.0, target - r.height()) / 2.0);
    r.adjust(-d, -e, d, e);

    if (r.left() < 0)
        r.moveLeft(0);
    else if (r.right() > w)
        r.moveRight(w);
    if (r.top() < 0)
        r.moveTop(0);
    else if (r.bottom() > h)
        r.moveBottom(h);
    return r.toRect();
}

bool LesionVisualizer::isInPrincipalSession() const
{
    const auto session = getSession();
    return session && session->isPrincipalSession();
}

QSharedPointer<LesionVisualizer> LesionVisualizer::getPrincipalLesion()
{
    if (isInPrincipalSession())
        return sharedFromThis();
    for (const auto &lesion : m_historicLesions) {
        if (lesion && lesion->isInPrincipalSession())
            return lesion;
    }
    return {};
}

std::vector<QSharedPointer<LesionVisualizer>> LesionVisualizer::getNewerHistoricLesions() const
{
    std::vector<QSharedPointer<LesionVisualizer>> result;
    for (auto it = m_historicLesions.constBegin(); it != m_historicLesions.constEnd(); ++it) {
        if (it.key() > m_sessionId)
            result.push_back(it.value());
    }
    return result;
}

std::pair<double, std::vector<double>> LesionVisualizer::getRadiusChanges() const
{
    if (m_historicLesions.isEmpty())
        return {-1.0, {}};
    double change = 0.0;
    std::vector<double> radii;
    for (const auto &lesion : m_historicLesions) {
        radii.push_back(lesion->getRadius());
        change += std::abs(lesion->getRadius() - m_radius);
    }
    return {change, radii};
}

void LesionVisualizer::selectLesion()
{
    const auto session = getSession();
    if (session && session->isPrincipalSession()) {
        emit session->changeDermatoImage(sharedFromThis());
        return;
    }
    for (const auto &lesion : m_historicLesions) {
        if (lesion && lesion->isInPrincipalSession()) {
            lesion->selectLesion();
            return;
        }
    }
}

bool LesionVisualizer::hasDermatoscopicFile(const QString &id) const
{
    const auto session = getSession();
    return session && session->hasFile(session->dermatoscopicPath(id), -1);
}

// ---- images -----------------------------------------------------------------

QImage LesionVisualizer::decodePreview(const QByteArray &jpeg, const QSize &bound)
{
    return SessionVisualizer::decodeImage(jpeg, bound);
}

QImage LesionVisualizer::drawDateLabel(const QImage &image, const QString &dermatoscopicId)
{
    if (image.width() == 0) {
        kelvaris::trace(QStringLiteral("EP!"));
        return image;
    }
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setBrush(QBrush(image));
    painter.drawRect(out.rect());
    const QDate date = dateOfDermatoscopicId(dermatoscopicId);
    if (date.isValid())
        drawTextOnBackground(painter, out.rect().adjusted(10, 10, -10, -10), Qt::AlignLeft | Qt::AlignTop,
                             date.toString(QStringLiteral("yyyy/MM/dd")));
    return out;
}

QImage LesionVisualizer::drawIdLabel(const QImage &image, const QString &idText, bool withText)
{
    if (image.isNull())
        return image;
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setBrush(QBrush(image));
    painter.drawRoundedRect(out.rect(), 15, 15);
    if (withText)
        drawTextOnBackground(painter, out.rect().adjusted(10, 10, -10, -10), Qt::AlignRight | Qt::AlignBottom,
                             idText);
    return out;
}

QImage LesionVisualizer::buildComposite(const std::vector<std::pair<QImage, QString>> &pieces, int height)
{
    if (pieces.empty() || pieces.front().first.isNull())
        return QImage();
    const int h = height < 0 ? pieces.front().first.height() : height;
    std::vector<QImage> scaled;
    int width = 0;
    for (const auto &piece : pieces) {
        if (piece.first.isNull())
            continue;
        scaled.push_back(drawDateLabel(scaledToHeight(piece.first, h), piece.second));
        width += scaled.back().width();
    }
    if (width <= 0 || h <= 0)
        return QImage();
    QImage composite(width, h, QImage::Format_RGB32);
    composite.fill(Qt::white);
    QPainter painter(&composite);
    int x = 0;
    for (const QImage &piece : scaled) {
        painter.drawImage(x, 0, piece);
        x += piece.width();
    }
    return composite;
}

QImage LesionVisualizer::roundedImage(const QImage &image, qreal radius)
{
    if (image.isNull())
        return image;
    QImage out(image.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QBrush(image));
    painter.drawRoundedRect(QRectF(out.rect()), radius, radius);
    return out;
}

QByteArray LesionVisualizer::thumbnailBytesOf(const LesionVisualizer &lesion)
{
    const auto session = lesion.getSession();
    const QString id = lesion.getLastDermatoscopicId();
    if (!session || !lesion.hasDermatoscopicGroups())
        return QByteArray();
    return session->getDermatoscopicBytes(id + QLatin1Char('s'));
}

QImage LesionVisualizer::ownThumbnail() const
{
    return SessionVisualizer::decodeImage(thumbnailBytesOf(*this));
}

std::vector<std::pair<QByteArray, QString>> LesionVisualizer::compositeSources() const
{
    std::vector<std::pair<QByteArray, QString>> sources;
    sources.emplace_back(thumbnailBytesOf(*this), getLastDermatoscopicId());
    for (int slot : {m_firstHistoricShown, m_secondHistoricShown}) {
        if (slot == -1)
            continue;
        const auto historic = m_historicLesions.value(slot);
        if (!historic || !historic->hasDermatoscopicGroups())
            continue;
        sources.emplace_back(thumbnailBytesOf(*historic), historic->getLastDermatoscopicId());
    }
    return sources;
}

QImage LesionVisualizer::compositeFromSources(const std::vector<std::pair<QByteArray, QString>> &sources,
                                              int height)
{
    std::vector<std::pair<QImage, QString>> pieces;
    for (const auto &source : sources)
        pieces.emplace_back(SessionVisualizer::decodeImage(source.first), source.second);
    if (pieces.empty() || pieces.front().first.isNull())
        return QImage();
    return buildComposite(pieces, height);
}

void LesionVisualizer::startCompositeLoad()
{
    const auto sources = compositeSources();
    const int generation = ++m_compositeGeneration;
    m_compositePixmap = QPixmap();
    m_compositeFuture =
        QtConcurrent::run([sources]() { return roundedImage(compositeFromSources(sources, -1), 10); });
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, generation]() {
        if (generation == m_compositeGeneration && watcher->future().resultCount() > 0)
            m_compositePixmap = QPixmap::fromImage(watcher->future().result());
        watcher->deleteLater();
    });
    watcher->setFuture(m_compositeFuture);
}

QPixmap LesionVisualizer::getCompositePixmap()
{
    if (m_compositePixmap.isNull()) {
        QImage image;
        if (m_compositeFuture.isValid() || m_compositeFuture.isRunning()) {
            m_compositeFuture.waitForFinished();
            if (m_compositeFuture.resultCount() > 0)
                image = m_compositeFuture.result();
        }
        if (image.isNull())
            image = roundedImage(compositeFromSources(compositeSources(), -1), 10);
        m_compositePixmap = QPixmap::fromImage(image);
    }
    return m_compositePixmap;
}

void LesionVisualizer::setHistoricSlot(int value, int &slot, QMetaObject::Connection &connection)
{
    if (value == -2) {
        disconnect(connection);
        slot = -1;
        return;
    }
    // The same slot is connected again when its connection was dropped
    // (disconnectHistoricShown).
    if (value == -1 || (value == slot && connection) || !m_historicLesions.contains(value))
        return;
    disconnect(connection);
    slot = value;
    const auto historic = m_historicLesions.value(value);
    connection =
        connect(historic.data(), &LesionVisualizer::updated, this, &LesionVisualizer::refreshFromHistoric);
}

void LesionVisualizer::refreshFromHistoric(int role)
{
    // Two lesions may show each other; the guard ends the echo.
    if (role != ModelRole::Icon || m_refreshing)
        return;
    m_refreshing = true;
    changeHistoricLesionsToShow(-1, -1);
    m_refreshing = false;
}

void LesionVisualizer::changeHistoricLesionsToShow(int first, int second)
{
    if (!hasDermatoscopicGroups()) {
        disconnect(m_firstHistoricConnection);
        disconnect(m_secondHistoricConnection);
        m_firstHistoricShown = first == -2 ? -1 : first;
        m_secondHistoricShown = second == -2 ? -1 : second;
        return;
    }
    setHistoricSlot(first, m_firstHistoricShown, m_firstHistoricConnection);
    setHistoricSlot(second, m_secondHistoricShown, m_secondHistoricConnection);

    startCompositeLoad();

    const auto sources = compositeSources();
    const QImage own = SessionVisualizer::decodeImage(sources.front().first);
    if (own.isNull())
        return;
    const QImage composite = scaledToHeight(compositeFromSources(sources, 200), 200);
    m_compositeIcon = QIcon(QPixmap::fromImage(drawIdLabel(composite, getLesionIdText(), m_numericID != -1)));
    emit updated(ModelRole::Icon);
}

void LesionVisualizer::setIcon(const QImage &thumbnail)
{
    if (thumbnail.isNull())
        return;
    std::vector<std::pair<QImage, QString>> pieces{{thumbnail, getLastDermatoscopicId()}};
    const auto sources = compositeSources();
    for (size_t i = 1; i < sources.size(); ++i)
        pieces.emplace_back(SessionVisualizer::decodeImage(sources[i].first), sources[i].second);
    const QImage composite = scaledToHeight(buildComposite(pieces, 200), 200);
    const QImage own = scaledToHeight(thumbnail, 200);
    const bool withText = m_numericID != -1;
    m_compositeIcon = QIcon(QPixmap::fromImage(drawIdLabel(composite, getLesionIdText(), withText)));
    m_icon = QIcon(QPixmap::fromImage(drawIdLabel(own, getLesionIdText(), withText)));
    emit updated(ModelRole::Icon);
    pixmapChanged();
}

QImage LesionVisualizer::getDermatoscopicImage() const
{
    if (!hasDermatoscopicGroups()) {
        kelvaris::trace(QStringLiteral("No te image!"));
        return QImage();
    }
    const auto session = getSession();
    if (!session)
        return QImage();
    QImage image;
    int quality = 0;
    session->getDermatoscopicFile(getLastDermatoscopicId(), image, quality);
    return image;
}

void LesionVisualizer::pixmapChanged()
{
    kelvaris::trace(QStringLiteral("LesionVisualizer::pixmapChanged"));
    const int generation = ++m_pixmapGeneration;
    m_dermatoscopicPixmap = QPixmap();
    m_pixmapFuture = QFuture<QImage>();
    m_pixmapFutureId.clear();
    const auto session = getSession();
    if (!session || !hasDermatoscopicGroups())
        return;
    const QString id = getLastDermatoscopicId();
    const QByteArray bytes = session->getDermatoscopicBytes(id);
    if (bytes.isEmpty())
        return;
    const QSize bound = m_previewSize;
    m_pixmapFutureId = id;
    m_pixmapFuture = QtConcurrent::run([bytes, bound]() { return decodePreview(bytes, bound); });
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, generation]() {
        if (generation == m_pixmapGeneration && watcher->future().resultCount() > 0)
            m_dermatoscopicPixmap = QPixmap::fromImage(watcher->future().result());
        watcher->deleteLater();
    });
    watcher->setFuture(m_pixmapFuture);
}

std::pair<QPixmap, QByteArray> LesionVisualizer::getDermatoscopicPixmap()
{
    const auto session = getSession();
    if (!session || !hasDermatoscopicGroups())
        return {m_dermatoscopicPixmap, QByteArray()};
    const QString id = getLastDermatoscopicId();
    const QByteArray bytes = session->getDermatoscopicBytes(id);
    if (m_dermatoscopicPixmap.isNull()) {
        QImage image;
        // A load started for another image is stale.
        if (m_pixmapFutureId == id && (m_pixmapFuture.isValid() || m_pixmapFuture.isRunning())) {
            m_pixmapFuture.waitForFinished();
            if (m_pixmapFuture.resultCount() > 0)
                image = m_pixmapFuture.result();
        }
        if (image.isNull())
            image = decodePreview(bytes, m_previewSize);
        m_dermatoscopicPixmap = QPixmap::fromImage(image);
    }
    return {m_dermatoscopicPixmap, bytes};
}

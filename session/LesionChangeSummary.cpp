#include "session/LesionChangeSummary.h"

#include "session/LesionVisualizer.h"
#include "session/SessionVisualizer.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("LesionChangeSummary", text);
}

QString tr(const char *text, int n)
{
    return QCoreApplication::translate("LesionChangeSummary", text, nullptr, n);
}

// Radii come with three decimals; comparisons at a threshold must not hinge
// on the last bit of a double.
constexpr double kTolerance = 1e-9;

// Where a session stands in time: undated sessions first, then by date, ties
// by id, so that "the most recent earlier session" is always one session.
struct SessionKey
{
    bool dated = false;
    qint64 msecs = 0;
    int id = -1;

    bool operator<(const SessionKey &other) const
    {
        return std::tie(dated, msecs, id) < std::tie(other.dated, other.msecs, other.id);
    }
};

SessionKey keyOf(const SessionVisualizer &session)
{
    const QDateTime date = session.getDate();
    const bool dated = date.isValid();
    return {dated, dated ? date.toMSecsSinceEpoch() : 0, session.getSessionId()};
}

bool isMeasured(double radius)
{
    return std::isfinite(radius) && radius > 0.0;
}

QString positionNameOf(const SessionVisualizer &session, int position)
{
    if (position == SessionVisualizer::externalPosition)
        return QStringLiteral("External");
    const std::vector<QString> &names = session.getPositionNames();
    return position >= 0 && position < int(names.size()) ? names[size_t(position)]
                                                         : QString::number(position);
}

// Every lesion reachable from start through historic links, start excluded.
// Links may be one-sided or go through lesions of the same session; each
// lesion is visited once.
std::vector<LesionVisualizer *> twinsOf(LesionVisualizer *start)
{
    std::vector<LesionVisualizer *> found;
    QSet<const LesionVisualizer *> seen{start};
    std::vector<LesionVisualizer *> queue{start};
    while (!queue.empty()) {
        LesionVisualizer *current = queue.back();
        queue.pop_back();
        for (const QSharedPointer<LesionVisualizer> &next : current->getHistoricLesions()) {
            if (!next || seen.contains(next.data()))
                continue;
            seen.insert(next.data());
            found.push_back(next.data());
            queue.push_back(next.data());
        }
    }
    return found;
}

// The lesions of a session in list order (body position, then number), each
// with its place among them for ties.
std::vector<QSharedPointer<LesionVisualizer>> orderedLesions(const SessionVisualizer &session)
{
    std::vector<QSharedPointer<LesionVisualizer>> lesions;
    for (const SessionVisualizer::LesionList &list : session.getLesions())
        for (const QSharedPointer<LesionVisualizer> &lesion : list)
            if (lesion)
                lesions.push_back(lesion);
    std::stable_sort(lesions.begin(), lesions.end(),
                     [](const auto &a, const auto &b) { return a->getSortKey() < b->getSortKey(); });
    return lesions;
}

bool readThreshold(const QJsonObject &object, const char *name, double &value, QStringList *problems)
{
    const QJsonValue entry = object.value(QLatin1String(name));
    if (entry.isUndefined())
        return true;
    const double number = entry.toDouble(-1.0);
    if (!entry.isDouble() || !std::isfinite(number) || number < 0.0) {
        if (problems)
            *problems << tr("The configuration value \"changeThresholds\" has an invalid \"%1\" (a number "
                            "of at least 0 is needed); the default %2 is used.")
                             .arg(QLatin1String(name))
                             .arg(value);
        return false;
    }
    value = number;
    return true;
}

} // namespace

LesionChangeSummary::Thresholds LesionChangeSummary::Thresholds::fromConfiguration(const QJsonObject &root,
                                                                                   QStringList *problems)
{
    Thresholds thresholds;
    const QJsonValue entry = root.value(QLatin1String(configurationKey));
    if (entry.isUndefined())
        return thresholds;
    if (!entry.isObject()) {
        if (problems)
            *problems << tr("The configuration value \"changeThresholds\" is not an object with \"relative\" "
                            "and \"absolute\"; the defaults (0.2 and 0.5) are used.");
        return thresholds;
    }
    const QJsonObject object = entry.toObject();
    readThreshold(object, "relative", thresholds.relative, problems);
    readThreshold(object, "absolute", thresholds.absolute, problems);
    return thresholds;
}

LesionChangeSummary LesionChangeSummary::compute(const QSharedPointer<SessionVisualizer> &principal,
                                                 const SessionList &sessions, const Thresholds &thresholds)
{
    LesionChangeSummary summary;
    summary.m_thresholds = thresholds;
    if (!principal)
        return summary;
    summary.m_principalId = principal->getSessionId();
    const SessionKey principalKey = keyOf(*principal);

    // The sessions before the principal, by id, with their place in time.
    QHash<int, std::pair<SessionKey, const SessionVisualizer *>> earlier;
    const SessionVisualizer *reference = nullptr;
    SessionKey referenceKey;
    for (const QSharedPointer<SessionVisualizer> &session : sessions) {
        if (!session || session->getSessionId() == summary.m_principalId)
            continue;
        const SessionKey key = keyOf(*session);
        if (!(key < principalKey))
            continue;
        earlier.insert(session->getSessionId(), {key, session.data()});
        if (!reference || referenceKey < key) {
            reference = session.data();
            referenceKey = key;
        }
    }

    // Within one session, the first lesion in list order is the twin taken.
    QHash<const LesionVisualizer *, int> order;
    std::vector<QSharedPointer<LesionVisualizer>> referenceLesions;
    for (const auto &entry : earlier) {
        const std::vector<QSharedPointer<LesionVisualizer>> lesions = orderedLesions(*entry.second);
        for (int i = 0; i < int(lesions.size()); ++i)
            order.insert(lesions[size_t(i)].data(), i);
        if (entry.second == reference)
            referenceLesions = lesions;
    }
    if (reference) {
        summary.m_referenceId = reference->getSessionId();
        summary.m_referenceDate = reference->getDate();
    }

    for (const QSharedPointer<LesionVisualizer> &lesion : orderedLesions(*principal)) {
        Change change;
        change.lesion = lesion;
        change.date = principal->getDate();
        change.radiusNow = lesion->getRadius();
        change.idText = lesion->getLesionIdText();
        change.positionName = positionNameOf(*principal, lesion->getPosition());
        change.sortKey = lesion->getSortKey();
        if (reference) {
            LesionVisualizer *twin = nullptr;
            SessionKey twinKey;
            for (LesionVisualizer *candidate : twinsOf(lesion.data())) {
                const auto found = earlier.constFind(candidate->getSessionId());
                if (found == earlier.constEnd())
                    continue;
                const SessionKey key = found->first;
                if (!twin || twinKey < key ||
                    (!(key < twinKey) && order.value(candidate) < order.value(twin))) {
                    twin = candidate;
                    twinKey = key;
                }
            }
            if (!twin) {
                change.status = Status::New;
            } else {
                change.twin = twin->sharedFromThis();
                change.twinSessionId = twin->getSessionId();
                change.twinDate = earlier.value(twin->getSessionId()).second->getDate();
                change.radiusThen = twin->getRadius();
                if (!isMeasured(change.radiusThen) || !isMeasured(change.radiusNow)) {
                    change.status = Status::Unmeasured;
                } else {
                    change.absoluteChange = change.radiusNow - change.radiusThen;
                    change.relativeChange = change.absoluteChange / change.radiusThen;
                    const double size = std::abs(change.absoluteChange);
                    const bool beyond = size >= thresholds.absolute - kTolerance &&
                                        std::abs(change.relativeChange) >= thresholds.relative - kTolerance &&
                                        size > 0.0;
                    change.status = !beyond                       ? Status::Stable
                                    : change.absoluteChange > 0.0 ? Status::Grown
                                                                  : Status::Shrunk;
                }
            }
        }
        summary.m_index.insert(lesion.data(), int(summary.m_changes.size()));
        summary.m_changes.push_back(change);
    }

    for (const QSharedPointer<LesionVisualizer> &lesion : referenceLesions) {
        bool present = false;
        for (LesionVisualizer *twin : twinsOf(lesion.data()))
            present = present || twin->getSessionId() == summary.m_principalId;
        if (present)
            continue;
        Gone gone;
        gone.lesion = lesion;
        gone.sessionId = reference->getSessionId();
        gone.date = reference->getDate();
        gone.excised = lesion->getLabel() == QLatin1String("Exeresis");
        gone.radius = lesion->getRadius();
        gone.idText = lesion->getLesionIdText();
        gone.positionName = positionNameOf(*reference, lesion->getPosition());
        gone.sortKey = lesion->getSortKey();
        summary.m_gone.push_back(gone);
    }
    return summary;
}

LesionChangeSummary LesionChangeSummary::compute(const QSharedPointer<SessionVisualizer> &principal,
                                                 const SessionList &sessions)
{
    return compute(principal, sessions, Thresholds());
}

int LesionChangeSummary::count(Status status) const
{
    return int(std::count_if(m_changes.begin(), m_changes.end(),
                             [status](const Change &change) { return change.status == status; }));
}

int LesionChangeSummary::goneCount() const
{
    return int(std::count_if(m_gone.begin(), m_gone.end(), [](const Gone &gone) { return !gone.excised; }));
}

int LesionChangeSummary::excisedCount() const
{
    return int(m_gone.size()) - goneCount();
}

const LesionChangeSummary::Change *LesionChangeSummary::changeOf(const LesionVisualizer *lesion) const
{
    const auto found = m_index.constFind(lesion);
    if (found == m_index.constEnd())
        return nullptr;
    const Change &change = m_changes[size_t(*found)];
    // Another lesion made later at the address of one that is gone is not it.
    return change.lesion.toStrongRef().data() == lesion ? &change : nullptr;
}

LesionChangeSummary::Status LesionChangeSummary::statusOf(const LesionVisualizer *lesion) const
{
    const Change *change = changeOf(lesion);
    return change ? change->status : Status::None;
}

bool LesionChangeSummary::isChanged(Status status)
{
    return status == Status::New || status == Status::Grown || status == Status::Shrunk;
}

std::vector<QSharedPointer<LesionVisualizer>> LesionChangeSummary::changedLesions() const
{
    std::vector<QSharedPointer<LesionVisualizer>> lesions;
    for (const Change &change : m_changes)
        if (isChanged(change.status))
            if (QSharedPointer<LesionVisualizer> lesion = change.lesion.toStrongRef())
                lesions.push_back(lesion);
    return lesions;
}

QString LesionChangeSummary::dateText(const QDateTime &date)
{
    return date.isValid() ? date.date().toString(Qt::ISODate) : tr("no date");
}

QString LesionChangeSummary::radiusText(double radius)
{
    return isMeasured(radius) ? QString::number(radius, 'f', 2) : tr("not measured");
}

QString LesionChangeSummary::changeText(const Change &change)
{
    if (change.status != Status::Grown && change.status != Status::Shrunk && change.status != Status::Stable)
        return QString();
    const QChar minus(0x2212);
    auto signedText = [minus](double value, int decimals) {
        const QString digits = QString::number(std::abs(value), 'f', decimals);
        if (digits.toDouble() == 0.0)
            return digits;
        return (value < 0.0 ? QString(minus) : QStringLiteral("+")) + digits;
    };
    return QStringLiteral("%1 (%2 %)")
        .arg(signedText(change.absoluteChange, 2), signedText(change.relativeChange * 100.0, 0));
}

QString LesionChangeSummary::statusText(Status status)
{
    switch (status) {
    case Status::New:
        return tr("new");
    case Status::Grown:
        return tr("grown");
    case Status::Shrunk:
        return tr("shrunk");
    case Status::Stable:
        return tr("stable");
    case Status::Unmeasured:
        return tr("not measured");
    case Status::None:
        break;
    }
    return QString();
}

QString LesionChangeSummary::describe(const Change &change)
{
    const QString lesion = tr("Lesion %1").arg(change.idText);
    switch (change.status) {
    case Status::New:
        return tr("%1: new since the last visit").arg(lesion);
    case Status::Grown:
    case Status::Shrunk:
    case Status::Stable:
        return tr("%1: %2, radius %3 on %4, %5 now, %6")
            .arg(lesion, statusText(change.status), radiusText(change.radiusThen), dateText(change.twinDate),
                 radiusText(change.radiusNow), changeText(change));
    case Status::Unmeasured:
        return tr("%1: radius not measured (%2 on %3, %4 now)")
            .arg(lesion, radiusText(change.radiusThen), dateText(change.twinDate),
                 radiusText(change.radiusNow));
    case Status::None:
        break;
    }
    return lesion;
}

QString LesionChangeSummary::describe(const Gone &gone)
{
    return (gone.excised ? tr("Lesion %1 (%2): excised, last seen on %3, radius %4")
                         : tr("Lesion %1 (%2): gone, last seen on %3, radius %4"))
        .arg(gone.idText, gone.positionName, dateText(gone.date), radiusText(gone.radius));
}

QString LesionChangeSummary::text() const
{
    if (isEmpty())
        return QString();
    if (isFirstVisit())
        return tr("First visit");
    QStringList parts;
    const std::pair<int, const char *> counts[] = {
        {count(Status::New), QT_TRANSLATE_NOOP("LesionChangeSummary", "%n new")},
        {count(Status::Grown), QT_TRANSLATE_NOOP("LesionChangeSummary", "%n grown")},
        {count(Status::Shrunk), QT_TRANSLATE_NOOP("LesionChangeSummary", "%n shrunk")},
        {goneCount(), QT_TRANSLATE_NOOP("LesionChangeSummary", "%n gone")},
        {excisedCount(), QT_TRANSLATE_NOOP("LesionChangeSummary", "%n excised")},
    };
    for (const auto &[n, text] : counts)
        if (n > 0)
            parts << tr(text, n);
    if (parts.isEmpty())
        parts << tr("no change");
    const QString counted = parts.join(QStringLiteral(", "));
    if (!m_referenceDate.isValid())
        return tr("Since the visit without a date: %1").arg(counted);
    return tr("Since %1: %2").arg(dateText(m_referenceDate), counted);
}

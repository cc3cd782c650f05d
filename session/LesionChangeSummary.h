#pragma once

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QWeakPointer>

#include <vector>

class LesionVisualizer;
class SessionVisualizer;

// What changed in the principal session since the patient's previous visit:
// which lesions are new, which grew or shrank against their twin in an
// earlier session, and which lesions of the previous visit are no longer
// there. Pure: it reads sessions and their lesions' historic links (made by
// grouping and pairing) and changes nothing; no widgets.
//
// Sessions are ordered by date, then by id; a session without a valid date
// comes before every dated one. The reference ("the last visit") is the most
// recent session before the principal. A lesion's twins are every lesion
// reachable through historic links, however many hops away, except itself.
// Lesions are held weakly: a summary never keeps a released patient alive.
class LesionChangeSummary
{
public:
    enum class Status : int
    {
        None = 0,   // no earlier session to compare with
        New,        // no twin in any earlier session
        Grown,      // at least both thresholds larger than its twin
        Shrunk,     // at least both thresholds smaller
        Stable,     // measured on both sides, within the thresholds
        Unmeasured, // no measured radius (-1, marked by hand) on either side
    };

    // A lesion grew or shrank when its radius changed by at least `relative`
    // of the earlier radius and by at least `absolute` (the radius's unit).
    struct Thresholds
    {
        double relative = 0.2;
        double absolute = 0.5;

        static constexpr const char *configurationKey = "changeThresholds";
        // From the optional "changeThresholds" object of the configuration
        // file's root. A missing key or member gives its default; an invalid
        // one (not an object, not a finite number of at least 0) too, and is
        // named in problems.
        static Thresholds fromConfiguration(const QJsonObject &root, QStringList *problems = nullptr);
    };

    // One lesion of the principal session.
    struct Change
    {
        QWeakPointer<LesionVisualizer> lesion;
        Status status = Status::None;
        // The twin compared with: in the most recent earlier session that has one.
        QWeakPointer<LesionVisualizer> twin;
        int twinSessionId = -1;
        QDateTime twinDate;
        QDateTime date;
        double radiusThen = -1.0;
        double radiusNow = -1.0;
        // Now minus then; a fraction of then (0.25 is 25 %). 0 when unmeasured.
        double absoluteChange = 0.0;
        double relativeChange = 0.0;
        // Copied, so that texts can be made after the lesion is gone.
        QString idText;
        QString positionName;
        qint64 sortKey = 0;
    };

    // A lesion of the last visit with no twin in the principal session.
    struct Gone
    {
        QWeakPointer<LesionVisualizer> lesion;
        int sessionId = -1;
        QDateTime date;
        // Labelled "Exeresis": taken out, not missing.
        bool excised = false;
        double radius = -1.0;
        QString idText;
        QString positionName;
        qint64 sortKey = 0;
    };

    using SessionList = std::vector<QSharedPointer<SessionVisualizer>>;

    // sessions: the patient's sessions (the principal among them or not; null
    // entries are skipped).
    static LesionChangeSummary compute(const QSharedPointer<SessionVisualizer> &principal,
                                       const SessionList &sessions, const Thresholds &thresholds);
    // With the default thresholds.
    static LesionChangeSummary compute(const QSharedPointer<SessionVisualizer> &principal,
                                       const SessionList &sessions);

    // No principal session.
    bool isEmpty() const { return m_principalId == -1; }
    // A principal and no session before it: no statuses.
    bool isFirstVisit() const { return !isEmpty() && m_referenceId == -1; }
    int principalSessionId() const { return m_principalId; }
    int referenceSessionId() const { return m_referenceId; }
    QDateTime referenceDate() const { return m_referenceDate; }
    Thresholds thresholds() const { return m_thresholds; }

    // Every lesion of the principal session, by body position and number.
    const std::vector<Change> &changes() const { return m_changes; }
    // The last visit's lesions missing now, excised ones included, by body
    // position and number.
    const std::vector<Gone> &gone() const { return m_gone; }

    int count(Status status) const;
    int goneCount() const;
    int excisedCount() const;
    // Status::None for a lesion that is not of the principal session.
    Status statusOf(const LesionVisualizer *lesion) const;
    const Change *changeOf(const LesionVisualizer *lesion) const;

    // New, grown and shrunk: what the list marks, filters and steps through.
    static bool isChanged(Status status);
    // The changed lesions that still exist, in list order.
    std::vector<QSharedPointer<LesionVisualizer>> changedLesions() const;

    // "Since 2025-10-14: 3 new, 2 grown, 1 gone"; "First visit"; empty
    // without a principal.
    QString text() const;
    // One word per status ("new", "grown", ...); empty for None.
    static QString statusText(Status status);
    // A sentence for screen readers and tool tips, e.g. "Lesion 2_5: grown
    // from 2.00 to 2.80 (+40 %) since 2026-03-31".
    static QString describe(const Change &change);
    static QString describe(const Gone &gone);
    // The day of a session as yyyy-MM-dd, "no date" when it has none.
    static QString dateText(const QDateTime &date);
    static QString radiusText(double radius);
    // "+0.80 (+40 %)", "−0.50 (−20 %)"; empty when unmeasured or new.
    static QString changeText(const Change &change);

private:
    int m_principalId = -1;
    int m_referenceId = -1;
    QDateTime m_referenceDate;
    Thresholds m_thresholds;
    std::vector<Change> m_changes;
    std::vector<Gone> m_gone;
    QHash<const LesionVisualizer *, int> m_index;
};

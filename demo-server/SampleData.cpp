#include "demo-server/SampleData.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QTimeZone>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace {

const QStringList positionNames = {QStringLiteral("frontal"), QStringLiteral("right"), QStringLiteral("back"),
                                   QStringLiteral("left")};

// Camera window of a device image, in body millimetres (its aspect is that of
// the part of the image the viewer shows).
constexpr double windowWidth = 480.0;
constexpr double windowHeight = windowWidth * SampleData::clinicalHeight / SampleData::clipWidth;
constexpr double rowPitch = 300.0;
constexpr double canvasWidth = 900.0;
// Close-ups of the external position.
constexpr double externalWindowWidth = 160.0;
constexpr double externalWindowHeight =
    externalWindowWidth * SampleData::externalHeight / SampleData::externalWidth;

double uniform(QRandomGenerator &rng, double low, double high)
{
    return low + (high - low) * rng.generateDouble();
}

int pick(QRandomGenerator &rng, int low, int high) // inclusive
{
    return low + int(rng.bounded(quint32(high - low + 1)));
}

// A lesion outline of roughly unit radius: an irregular, slightly elongated
// blob, as pigmented lesions look.
QPolygonF unitShape(QRandomGenerator &rng)
{
    const double stretch = uniform(rng, 0.72, 1.0);
    const double turn = uniform(rng, 0, M_PI);
    const double p1 = uniform(rng, 0, 2 * M_PI), p2 = uniform(rng, 0, 2 * M_PI);
    const double a1 = uniform(rng, 0.04, 0.14), a2 = uniform(rng, 0.02, 0.08);
    QPolygonF shape;
    const int points = 20;
    for (int i = 0; i < points; ++i) {
        const double t = 2 * M_PI * i / points;
        const double r =
            1.0 + a1 * std::cos(2 * t + p1) + a2 * std::cos(5 * t + p2) + uniform(rng, -0.03, 0.03);
        const double x = r * std::cos(t), y = r * std::sin(t) * stretch;
        shape << QPointF(x * std::cos(turn) - y * std::sin(turn), x * std::sin(turn) + y * std::cos(turn));
    }
    return shape;
}

QPolygonF placed(const QPolygonF &unit, const QPointF &centre, double radius)
{
    QPolygonF out;
    out.reserve(unit.size());
    for (const QPointF &p : unit)
        out << centre + p * radius;
    return out;
}

QJsonObject poseJson(const SampleData::Pose &p)
{
    return {{QStringLiteral("x"), p.x},
            {QStringLiteral("y"), p.y},
            {QStringLiteral("z"), p.z},
            {QStringLiteral("alpha"), p.alpha},
            {QStringLiteral("beta"), p.beta}};
}

QJsonObject rectJson(const QRect &r)
{
    return {{QStringLiteral("x"), r.x()},
            {QStringLiteral("y"), r.y()},
            {QStringLiteral("w"), r.width()},
            {QStringLiteral("h"), r.height()}};
}

QJsonArray pointsJson(const QPolygonF &polygon)
{
    QJsonArray out;
    for (const QPointF &p : polygon)
        out.append(QJsonObject{{QStringLiteral("x"), qRound(p.x())}, {QStringLiteral("y"), qRound(p.y())}});
    return out;
}

// Body millimetres to pixels of a full-size image.
QTransform imageTransform(const SampleData::ClinicalImage &image)
{
    if (image.external) {
        const double s = SampleData::externalWidth / image.window.width();
        return QTransform(s, 0, 0, s, -image.window.left() * s, -image.window.top() * s);
    }
    const double s = SampleData::clipWidth / image.window.width();
    return QTransform(s, 0, 0, s, SampleData::clipLeft - image.window.left() * s, -image.window.top() * s);
}

// The area of an image in which a lesion is reported: inside the part the
// viewer shows, with room for the marker's frame and its number above it.
QRectF reportableArea(const SampleData::ClinicalImage &image)
{
    if (image.external)
        return QRectF(QPointF(40, 90),
                      QPointF(SampleData::externalWidth - 40, SampleData::externalHeight - 40));
    return QRectF(QPointF(SampleData::clipLeft + 70, 110),
                  QPointF(SampleData::clinicalWidth - 70, SampleData::clinicalHeight - 70));
}

QRect pixelBox(const QPolygonF &imageOutline)
{
    const QRectF b = imageOutline.boundingRect();
    return QRect(QPoint(int(std::floor(b.left())), int(std::floor(b.top()))),
                 QPoint(int(std::ceil(b.right())), int(std::ceil(b.bottom()))));
}

struct PatientPlan
{
    QString first, last, centerId, tag, birthdate, email;
    int skinType;
    QStringList dates;      // one per session
    bool large = false;     // 3 rows of 3 on every position, every lesion looked at closer
    int id = 0;             // 0: the next patient id
    int firstSessionId = 0; // 0: the next session id
};

struct PlannedLesion
{
    int position = 0;
    int number = 0;
    QPointF centre;
    QPolygonF unit;
    double radius0 = 1;
    double growth = 0;
    // A change of size in the newest session alone, on top of the growth.
    double newestFactor = 1.0;
    QString label;
    bool labelMissing = false;
    bool twoGroups = false;
    int priority = 3;
    int first = 0;
    int last = 0;
    QColor core, rim;
    quint32 seed = 0;
    double classifierScore = 0;
    double radiusAt(int k) const { return std::max(0.4, radius0 * (1.0 + growth * (k - first))); }
};

QColor skinColour(int type)
{
    static const QColor tones[] = {QColor(243, 214, 196), QColor(230, 190, 163), QColor(205, 160, 126),
                                   QColor(172, 123, 90), QColor(128, 88, 62)};
    return tones[std::clamp(type, 0, 4)];
}

QColor lesionCore(QRandomGenerator &rng, const QColor &skin, bool reddish)
{
    if (reddish)
        return QColor::fromHsv(pick(rng, 2, 12), pick(rng, 120, 170), pick(rng, 120, 160));
    const int value = std::clamp(skin.value() / 3 + pick(rng, 5, 45), 25, 105);
    return QColor::fromHsv(pick(rng, 12, 24), pick(rng, 150, 215), value);
}

QString isoDate(const QDateTime &dt)
{
    return dt.toString(Qt::ISODateWithMs);
}

} // namespace

QString SampleData::clinicalImageName(const Pose &pose, int position, int version)
{
    // int() truncates toward zero, as the device names its images.
    QString name =
        QStringLiteral("%1_%2_%3_%4").arg(int(pose.y)).arg(int(pose.x)).arg(int(pose.z)).arg(position);
    if (version >= 1)
        name += QStringLiteral("_%1_%2").arg(int(pose.alpha)).arg(int(pose.beta));
    return name;
}

std::vector<SampleData::BodyPart> SampleData::bodyParts(int position, const QSizeF &canvas)
{
    const double w = canvas.width(), h = canvas.height();
    if (position < 0)
        return {{QRectF(-50, -50, w + 100, h + 100), 0}};
    if (position == 0 || position == 2)
        return {{QRectF(62, -60, 140, h * 0.72 + 60), 70},
                {QRectF(698, -60, 140, h * 0.72 + 60), 70},
                {QRectF(235, h * 0.52, 205, h * 0.48 + 80), 90},
                {QRectF(460, h * 0.52, 205, h * 0.48 + 80), 90},
                {QRectF(225, -80, 450, h * 0.64 + 80), 130}};
    const bool mirrored = position == 3;
    const double armLeft = mirrored ? w - 535 : 395;
    return {{QRectF(305, h * 0.55, 270, h * 0.45 + 80), 100},
            {QRectF(290, -80, 320, h * 0.66 + 80), 120},
            {QRectF(armLeft, -60, 140, h * 0.70 + 60), 70}};
}

QPainterPath SampleData::silhouette(int position, const QSizeF &canvas)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (const BodyPart &part : bodyParts(position, canvas))
        path.addRoundedRect(part.rect, part.radius, part.radius);
    return path;
}

const SampleData &SampleData::instance(bool withLargeExamination, bool withVersionsExamination)
{
    if (withLargeExamination && withVersionsExamination) {
        static const SampleData both(true, true);
        return both;
    }
    if (withVersionsExamination) {
        static const SampleData versions(false, true);
        return versions;
    }
    if (withLargeExamination) {
        static const SampleData large(true, false);
        return large;
    }
    static const SampleData data(false, false);
    return data;
}

const SampleData::Session *SampleData::findSession(int id)
{
    // The plain set first, so that servers without the added patients never make them.
    const Session *found = instance().session(id);
    if (!found && (id == versionsOlderSessionId || id == versionsNewerSessionId))
        return instance(false, true).session(id);
    return found ? found : instance(true).session(id);
}

const SampleData::Patient *SampleData::findPatient(int id)
{
    const Patient *found = instance().patient(id);
    if (!found && id == versionsPatientId)
        return instance(false, true).patient(id);
    return found ? found : instance(true).patient(id);
}

const SampleData::Session *SampleData::session(int id) const
{
    const auto it = sessions.find(id);
    return it == sessions.end() ? nullptr : &it->second;
}

const SampleData::Patient *SampleData::patient(int id) const
{
    for (const Patient &p : patients) {
        if (p.id == id)
            return &p;
    }
    return nullptr;
}

SampleData::SampleData(bool withLargeExamination, bool withVersionsExamination)
{
    std::vector<PatientPlan> plans = {
        {QStringLiteral("Marta"),
         QStringLiteral("Puig Soler"),
         QStringLiteral("KV-1001"),
         QStringLiteral(" (research)"),
         QStringLiteral("1968-04-12"),
         QStringLiteral("marta.puig@example.org"),
         1,
         {QStringLiteral("2024-11-05T09:12:31.250Z"), QStringLiteral("2025-04-22T10:40:05.000Z"),
          QStringLiteral("2025-10-14T08:55:47.500Z"), QStringLiteral("2026-03-31T11:20:13.125Z"),
          QStringLiteral("2026-11-17T09:03:58.750Z")}},
        {QStringLiteral("Jordi"),
         QStringLiteral("Ferrer Vila"),
         QStringLiteral("KV-1002"),
         {},
         QStringLiteral("1955-09-30"),
         QStringLiteral("jordi.ferrer@example.org"),
         2,
         {QStringLiteral("2025-06-10T12:01:00.000Z"), QStringLiteral("2026-01-20T15:33:21.000Z"),
          QStringLiteral("2026-09-08T10:10:10.100Z")}},
        {QStringLiteral("Núria"),
         QStringLiteral("Castellà i Roig"),
         QStringLiteral("KV-1003"),
         {},
         QStringLiteral("1982-02-17"),
         QStringLiteral("nuria.castella@example.org"),
         0,
         {QStringLiteral("2026-02-03T09:30:00.000Z"), QStringLiteral("2026-07-15T16:45:00.000Z")}},
        {QStringLiteral("Øystein"),
         QStringLiteral("Åsgård"),
         QStringLiteral("KV-1004"),
         {},
         QStringLiteral("1990-07-01"),
         QStringLiteral("oystein.asgard@example.org"),
         3,
         {QStringLiteral("2026-10-02T13:14:15.000Z")}},
        {QStringLiteral("Anna"),
         QStringLiteral("Lindqvist"),
         QStringLiteral("KV-1005"),
         {},
         QStringLiteral("1975-12-24"),
         QStringLiteral("anna.lindqvist@example.org"),
         0,
         {}},
        {QStringLiteral("Pau"),
         QStringLiteral("Martí Serra"),
         QStringLiteral("KV-1006"),
         {},
         {},
         QStringLiteral("pau.marti@example.org"),
         4,
         {QStringLiteral("2026-05-19T08:00:00.000Z")}},
        {QStringLiteral("Laura"),
         QStringLiteral("Gómez Ruiz"),
         QStringLiteral("KV-1007"),
         {},
         QStringLiteral("1979-02-30"),
         QStringLiteral("laura.gomez@example.org"),
         2,
         {}},
        {QStringLiteral("Zoë"),
         QStringLiteral("Brontë-Łukasiewicz"),
         QStringLiteral("KV-1008"),
         QStringLiteral(" · follow-up"),
         QStringLiteral("2001-11-09"),
         QStringLiteral("zoe.bronte@example.org"),
         1,
         {}},
        {QStringLiteral("Test"),
         QStringLiteral("Patient"),
         QStringLiteral("KV-9999"),
         QStringLiteral(" [TEST]"),
         QStringLiteral("2000-01-01"),
         QStringLiteral("test.patient@example.org"),
         2,
         {}},
    };

    // After the others, so that their ids and documents stay as they are.
    if (withLargeExamination)
        plans.push_back({QStringLiteral("Gerard"),
                         QStringLiteral("Vidal Prat"),
                         QStringLiteral("KV-1010"),
                         QStringLiteral(" (large)"),
                         QStringLiteral("1963-06-08"),
                         QStringLiteral("gerard.vidal@example.org"),
                         1,
                         {QStringLiteral("2026-11-24T09:30:00.000Z")},
                         true});
    if (withVersionsExamination)
        plans.push_back(
            {QStringLiteral("Helena"),
             QStringLiteral("Rius Camps"),
             QStringLiteral("KV-1011"),
             QStringLiteral(" (versions)"),
             QStringLiteral("1971-03-15"),
             QStringLiteral("helena.rius@example.org"),
             2,
             {QStringLiteral("2026-02-10T10:00:00.000Z"), QStringLiteral("2026-12-01T10:00:00.000Z")},
             false,
             versionsPatientId,
             versionsOlderSessionId});

    // No "Detected": every lesion of the large examination has dermatoscopic images.
    const QStringList largeLabelCycle = {QStringLiteral("Captured"), QStringLiteral("Follow up"),
                                         QStringLiteral("Exeresis"), QStringLiteral("Custom 1"),
                                         QStringLiteral("Custom 2")};
    const QStringList labelCycle = {QStringLiteral("Captured"),  QStringLiteral("Detected"),
                                    QStringLiteral("Follow up"), QStringLiteral("Exeresis"),
                                    QStringLiteral("Custom 1"),  QStringLiteral("Captured"),
                                    QStringLiteral("Custom 2"),  QStringLiteral("Detected"),
                                    QStringLiteral("Follow up"), QStringLiteral("Captured")};
    const std::vector<std::vector<int>> rowPatterns = {{3, 3}, {4, 3}, {4, 4}, {3, 3, 3}, {3, 4}};

    int nextSessionId = 101;
    for (size_t pi = 0; pi < plans.size(); ++pi) {
        const PatientPlan &plan = plans[pi];
        Patient patient;
        patient.id = plan.id ? plan.id : int(11 + pi);
        if (plan.firstSessionId)
            nextSessionId = plan.firstSessionId;
        patient.centerId = plan.centerId;
        patient.firstName = plan.first;
        patient.lastName = plan.last;
        patient.tag = plan.tag;
        patient.birthdate = plan.birthdate;
        patient.email = plan.email;
        patient.skin = skinColour(plan.skinType);
        const int sessionCount = int(plan.dates.size());
        const bool isFirstPatient = pi == 0, isSecondPatient = pi == 1, isThirdPatient = pi == 2;

        QRandomGenerator rng(quint32(0x4B560000u + 7919u * quint32(patient.id)));

        // Camera poses per position: identical for all of the patient's sessions.
        struct Camera
        {
            Pose pose;
            QRectF window;
        };
        std::map<int, std::vector<Camera>> cameras;
        std::map<int, QSizeF> canvases;
        for (int p = 0; p < 4; ++p) {
            static const std::vector<int> nine = {3, 3, 3};
            const std::vector<int> &rows =
                plan.large ? nine : rowPatterns[rng.bounded(quint32(rowPatterns.size()))];
            const int rowCount = int(rows.size());
            const QSizeF canvas(canvasWidth, 40 + (rowCount - 1) * rowPitch + windowHeight + 40);
            canvases[p] = canvas;
            for (int r = 0; r < rowCount; ++r) {
                const int columns = rows[size_t(r)];
                std::vector<int> order(static_cast<size_t>(columns));
                for (int c = 0; c < columns; ++c)
                    order[size_t(c)] = (r % 2 == 0) ? c : columns - 1 - c;
                for (int c : order) {
                    // Column offsets are whole and distinct once truncated, so
                    // that names stay unique even without the angles.
                    int xc = c - columns / 2;
                    if (columns % 2 == 0 && c >= columns / 2)
                        xc += 1;
                    Camera cam;
                    cam.pose.x = xc + (xc >= 0 ? 0.25 : -0.25);
                    cam.pose.y = (rowCount - 1 - r) + 0.25;
                    cam.pose.z = 1.25 + 0.5 * r;
                    cam.pose.alpha = 18.0 * xc + (xc >= 0 ? 0.5 : -0.5);
                    cam.pose.beta = 12.25 - 12.0 * r;
                    // Side views look at a narrower body: their cameras
                    // stay closer together.
                    const double spanLeft = (p % 2 == 0) ? 0.0 : 100.0;
                    const double span = (p % 2 == 0) ? canvasWidth - windowWidth : 220.0;
                    const double wx =
                        columns == 1 ? spanLeft + span / 2 : spanLeft + span * c / (columns - 1);
                    cam.window = QRectF(wx, 40 + r * rowPitch, windowWidth, windowHeight);
                    cameras[p].push_back(cam);
                }
            }
        }

        // Lesions of the patient, in body millimetres; sessions show them with
        // their size of the day.
        std::vector<PlannedLesion> lesions;
        std::map<int, int> lastNumber;
        int labelIndex = int(pi) * 3;
        auto place = [&](int position, int first, int last, const QString &label) {
            PlannedLesion lesion;
            lesion.position = position;
            lesion.first = first;
            lesion.last = last;
            lesion.label = label;
            lesion.unit = unitShape(rng);
            // Radii spread over the histogram's range, most of them small.
            lesion.radius0 = 0.55 + 7.6 * std::pow(rng.generateDouble(), 1.6);
            lesion.growth = uniform(rng, -0.03, 0.11);
            lesion.priority = pick(rng, 1, 4);
            lesion.seed = rng.generate();
            lesion.classifierScore = std::round(uniform(rng, 0.05, 0.98) * 1000) / 1000;
            lesion.core =
                lesionCore(rng, patient.skin, label == QStringLiteral("Exeresis") && rng.bounded(2) == 0);
            lesion.rim = QColor::fromHsv(lesion.core.hsvHue(), lesion.core.hsvSaturation() * 3 / 5,
                                         std::min(255, lesion.core.value() + 70));
            const double maxRadius = lesion.radiusAt(std::max(first, sessionCount - 1)) + 1.0;
            const QPainterPath body = silhouette(position, canvases[position]);
            for (int attempt = 0; attempt < 400; ++attempt) {
                const QPointF c(uniform(rng, 60, canvasWidth - 60),
                                uniform(rng, 40, canvases[position].height() - 40));
                bool onSkin = body.contains(c);
                for (int i = 0; onSkin && i < 8; ++i) {
                    const double t = M_PI * i / 4;
                    onSkin = body.contains(c + QPointF(std::cos(t), std::sin(t)) * (maxRadius + 6));
                }
                if (!onSkin)
                    continue;
                bool seen = false;
                const QPolygonF outline = placed(lesion.unit, c, maxRadius);
                for (const Camera &cam : cameras[position]) {
                    ClinicalImage probe;
                    probe.window = cam.window;
                    if (reportableArea(probe).contains(imageTransform(probe).map(outline).boundingRect()))
                        seen = true;
                }
                bool apart = true;
                for (const PlannedLesion &other : lesions) {
                    if (other.position == position &&
                        QLineF(other.centre, c).length() < other.radiusAt(sessionCount - 1) + maxRadius + 14)
                        apart = false;
                }
                if (seen && apart) {
                    lesion.centre = c;
                    break;
                }
            }
            if (lesion.centre.isNull())
                return;
            lesion.number = ++lastNumber[position];
            lesions.push_back(lesion);
        };

        if (sessionCount > 0) {
            for (int p = 0; p < 4; ++p) {
                if (plan.large) {
                    // A spot can fail to find room: try again until the position has its count.
                    for (int tries = 0; lastNumber[p] < largeLesionsPerPosition && tries < 100; ++tries)
                        place(p, 0, sessionCount - 1, largeLabelCycle[labelIndex++ % largeLabelCycle.size()]);
                    continue;
                }
                const int base = pick(rng, 6, 8);
                for (int i = 0; i < base; ++i)
                    place(p, 0, sessionCount - 1, labelCycle[labelIndex++ % labelCycle.size()]);
            }
            if (sessionCount > 1) {
                // New spots in later sessions, and an excised lesion that is gone
                // from the last one.
                for (int p = 0; p < 4; ++p) {
                    const int extra = (p == 0 && sessionCount > 2) ? 2 : 1;
                    for (int i = 0; i < extra; ++i)
                        place(p, std::min(sessionCount - 1, 1 + i + p % 2), sessionCount - 1,
                              i == 0 ? QStringLiteral("Detected") : QStringLiteral("Custom 1"));
                }
                for (PlannedLesion &l : lesions) {
                    if (l.label == QStringLiteral("Exeresis") && l.first == 0) {
                        l.last = sessionCount - 2;
                        break;
                    }
                }
            }
            // One label outside the set, one lesion without a label, one lesion
            // with two dermatoscopic groups.
            int marked = 0;
            for (PlannedLesion &l : lesions) {
                if (l.label != QStringLiteral("Captured") || l.first != 0 || l.last != sessionCount - 1)
                    continue;
                if (marked == 0)
                    l.label = QStringLiteral("Biopsy");
                else if (marked == 1)
                    l.labelMissing = true;
                else if (marked == 2)
                    l.twoGroups = true;
                else
                    break;
                ++marked;
            }
        }

        // In the first patient's newest session one lesion is 1.3 times and
        // one 0.7 times the size it would have: since the visit before they
        // grew by 40 % and shrank by 29 %, well past what a follow-up flags
        // (20 % and 0.5). Set after every lesion is placed, so that nothing
        // else moves; only that session's pictures of them change.
        if (isFirstPatient && sessionCount > 1) {
            for (PlannedLesion &l : lesions) {
                if (l.position == 1 && l.number == 3)
                    l.newestFactor = 1.3;
                if (l.position == 3 && l.number == 3)
                    l.newestFactor = 0.7;
            }
        }

        // External close-ups in the patient's newest session (first patient only).
        const bool withExternal = isFirstPatient;
        std::vector<Camera> externalCameras;
        std::vector<PlannedLesion> externalLesions;
        const QSizeF externalCanvas(600, 300);
        if (withExternal) {
            for (int i = 0; i < 3; ++i) {
                Camera cam;
                cam.pose.x = -i; // external images fill rows of four: x = 0, -1, -2, -3
                cam.pose.y = 0;
                cam.window = QRectF(60 + i * 120, 60, externalWindowWidth, externalWindowHeight);
                externalCameras.push_back(cam);
            }
            const QPointF centres[] = {QPointF(165, 110), QPointF(300, 130)};
            int n = 0;
            for (const QPointF &c : centres) {
                PlannedLesion l;
                l.position = -1;
                l.number = ++n;
                l.centre = c;
                l.unit = unitShape(rng);
                l.radius0 = uniform(rng, 2.5, 4.5);
                l.label = n == 1 ? QStringLiteral("Follow up") : QStringLiteral("Captured");
                l.priority = 3;
                l.first = l.last = sessionCount - 1;
                l.seed = rng.generate();
                l.core = lesionCore(rng, patient.skin, false);
                l.rim = QColor::fromHsv(l.core.hsvHue(), l.core.hsvSaturation() * 3 / 5,
                                        std::min(255, l.core.value() + 70));
                externalLesions.push_back(l);
            }
        }

        for (int k = 0; k < sessionCount; ++k) {
            Session session;
            session.id = nextSessionId++;
            session.patientId = patient.id;
            session.date = QDateTime::fromString(plan.dates[k], Qt::ISODateWithMs);
            session.version = (isFirstPatient && k == 0) ? 0 : 1;
            session.hasDocument = !(isThirdPatient && k == 1);
            session.skin = patient.skin;
            session.seed = quint32(0x5E550000u + quint32(session.id));
            session.canvas = canvases;
            session.canvas[-1] = externalCanvas;
            patient.sessions.push_back(session.id);
            if (!session.hasDocument) {
                sessions.emplace(session.id, std::move(session));
                continue;
            }
            const bool newest = k == sessionCount - 1;
            const QString day = session.date.toString(QStringLiteral("yyyyMMdd"));

            QJsonObject cameraPositions;
            std::map<int, std::vector<const ClinicalImage *>> imagesOf;
            for (int p = 0; p < 4; ++p) {
                QJsonArray poses;
                for (const Camera &cam : cameras[p]) {
                    ClinicalImage image;
                    image.position = p;
                    image.pose = cam.pose;
                    image.window = cam.window;
                    image.name = clinicalImageName(cam.pose, p, session.version);
                    session.images.push_back(image);
                    poses.append(poseJson(cam.pose));
                }
                cameraPositions.insert(QString::number(p), poses);
            }
            QJsonArray externalPoses;
            if (withExternal && newest) {
                for (const Camera &cam : externalCameras) {
                    ClinicalImage image;
                    image.position = -1;
                    image.pose = cam.pose;
                    image.window = cam.window;
                    image.external = true;
                    image.name = clinicalImageName(cam.pose, -1, session.version);
                    session.images.push_back(image);
                    externalPoses.append(poseJson(cam.pose));
                }
            }
            cameraPositions.insert(QStringLiteral("-1"), externalPoses);

            std::vector<const PlannedLesion *> present;
            for (const PlannedLesion &l : lesions) {
                if (l.first <= k && k <= l.last)
                    present.push_back(&l);
            }
            if (withExternal && newest) {
                for (const PlannedLesion &l : externalLesions)
                    present.push_back(&l);
            }

            QJsonObject lesionsJson;
            for (int p = -1; p < 4; ++p)
                lesionsJson.insert(QString::number(p), QJsonArray());
            int dermatoCounter = 0;
            bool noThumbnailDone = false, unlistedDone = false;
            for (const PlannedLesion *l : present) {
                const double radius = l->radiusAt(k) * (k == sessionCount - 1 ? l->newestFactor : 1.0);
                LesionPaint paint;
                paint.position = l->position;
                paint.numericId = l->number;
                paint.centre = l->centre;
                paint.radius = radius;
                paint.outline = placed(l->unit, l->centre, radius);
                paint.core = l->core;
                paint.rim = l->rim;
                paint.seed = l->seed ^ quint32(k * 2654435761u);
                session.lesions.push_back(paint);

                // Instances: every image of the position on which the whole
                // lesion lies in the reported area.
                QJsonArray boxes, boxesR, poses, contours;
                QRect mainBox;
                Pose mainPose;
                double bestDistance = 1e18;
                for (const ClinicalImage &image : session.images) {
                    if (image.position != l->position)
                        continue;
                    const QPolygonF onImage = imageTransform(image).map(paint.outline);
                    const QRectF area = reportableArea(image);
                    if (!area.contains(onImage.boundingRect()))
                        continue;
                    const QRect box = pixelBox(onImage);
                    boxes.append(rectJson(box));
                    boxesR.append(rectJson(box.adjusted(-box.width() / 4, -box.height() / 4, box.width() / 4,
                                                        box.height() / 4)));
                    poses.append(poseJson(image.pose));
                    contours.append(pointsJson(onImage));
                    const double d = QLineF(QRectF(box).center(), area.center()).length();
                    if (d < bestDistance) {
                        bestDistance = d;
                        mainBox = box;
                        mainPose = image.pose;
                    }
                }

                QJsonObject lesion;
                lesion.insert(QStringLiteral("bbox"), rectJson(mainBox));
                lesion.insert(QStringLiteral("instancesBbox"), boxes);
                lesion.insert(QStringLiteral("instancesBboxR"), boxesR);
                lesion.insert(QStringLiteral("instancesPosition"), poses);
                lesion.insert(QStringLiteral("instancesContours"), contours);
                lesion.insert(QStringLiteral("mainPose"), poseJson(mainPose));
                lesion.insert(QStringLiteral("radius"), std::round(radius * 1000) / 1000);
                lesion.insert(QStringLiteral("numericID"), l->number);
                lesion.insert(QStringLiteral("lesionPriority"), l->priority);
                if (!l->labelMissing)
                    lesion.insert(QStringLiteral("lesionLabel"), l->label);
                const double depth = l->position == 0 ? 120 : l->position == 2 ? -120 : 0;
                lesion.insert(QStringLiteral("centre3d"),
                              QJsonObject{{QStringLiteral("x"), std::round(l->centre.x() - 450)},
                                          {QStringLiteral("y"), std::round(1400 - l->centre.y())},
                                          {QStringLiteral("z"), depth}});
                const double nx = std::round(std::sin((l->centre.x() - 450) / 400.0) * 1000) / 1000;
                lesion.insert(
                    QStringLiteral("plane"),
                    QJsonObject{{QStringLiteral("x"), nx},
                                {QStringLiteral("y"), -0.05},
                                {QStringLiteral("z"), std::sqrt(std::max(0.0, 1 - nx * nx - 0.0025))}});
                lesion.insert(QStringLiteral("mesure"), QJsonArray{std::round(radius * 2.1 * 100) / 100,
                                                                   std::round(radius * 1.8 * 100) / 100});
                for (const char *key : {"contour2D", "contour3D", "historicFeatures", "historicSession"})
                    lesion.insert(QLatin1String(key), QJsonArray());
                // Keys of the device that the viewer does not interpret.
                lesion.insert(QStringLiteral("classifierScore"), l->classifierScore);
                lesion.insert(QStringLiteral("detectorModel"), QStringLiteral("tbs-det-4.2"));

                // Dermatoscopic images: every lesion that was looked at closer.
                const bool withDermatoscopic = l->labelMissing || l->label != QStringLiteral("Detected");
                if (withDermatoscopic) {
                    const int groups = l->twoGroups ? 2 : 1;
                    QJsonArray ids, outlines;
                    for (int g = 0; g < groups; ++g) {
                        const int members = g == 1 ? 2 : 1;
                        QJsonArray groupIds, groupOutlines;
                        for (int m = 0; m < members; ++m) {
                            Dermatoscopic d;
                            d.id = QStringLiteral("%1_%2_%3_%4")
                                       .arg(day)
                                       .arg(l->position < 0 ? 4 : l->position)
                                       .arg(l->number)
                                       .arg(++dermatoCounter);
                            QRandomGenerator drng(l->seed ^
                                                  quint32(0x9E3779B9u * quint32(dermatoCounter + 31 * k)));
                            const double pixels = std::clamp(radius * 140.0, 260.0, 780.0);
                            QTransform turn;
                            turn.rotate(uniform(drng, -25, 25));
                            const QPointF centre(dermatoscopicWidth / 2 + uniform(drng, -160, 160),
                                                 dermatoscopicHeight / 2 + uniform(drng, -110, 110));
                            d.contour = placed(turn.map(l->unit), centre, pixels);
                            d.core = l->core;
                            d.rim = l->rim;
                            d.seed = drng.generate();
                            if (isSecondPatient && newest && !noThumbnailDone && g == 0) {
                                d.hasThumbnail = false;
                                noThumbnailDone = true;
                            } else if (isSecondPatient && newest && !unlistedDone && g == 0) {
                                d.listed = false;
                                unlistedDone = true;
                            }
                            session.dermatoscopic.push_back(d);
                            groupIds.append(d.id);
                            groupOutlines.append(pointsJson(d.contour));
                        }
                        // Both forms of a group occur: a plain text for some
                        // one-image groups, an array for the others.
                        if (members == 1 && (l->number + g) % 2 == 0)
                            ids.append(groupIds.at(0));
                        else
                            ids.append(groupIds);
                        outlines.append(members == 1 ? groupOutlines.at(0) : QJsonValue(groupOutlines));
                    }
                    lesion.insert(QStringLiteral("dermatoscopicIds"), ids);
                    lesion.insert(QStringLiteral("dermatoscopicContour"), outlines);
                } else {
                    lesion.insert(QStringLiteral("dermatoscopicIds"), QJsonArray());
                    lesion.insert(QStringLiteral("dermatoscopicContour"), QJsonArray());
                }
                const QString key = QString::number(l->position);
                QJsonArray list = lesionsJson.value(key).toArray();
                list.append(lesion);
                lesionsJson.insert(key, list);
            }

            QJsonObject document;
            document.insert(QStringLiteral("PositionNames"), QJsonArray::fromStringList(positionNames));
            document.insert(QStringLiteral("CameraPositions"), cameraPositions);
            document.insert(QStringLiteral("Lesions"), lesionsJson);
            document.insert(QStringLiteral("Version"), session.version);
            if (!(isSecondPatient && k == 1)) {
                // Counters never go down: a lesion that is gone keeps its number.
                QJsonArray counters;
                for (int p = 0; p < 4; ++p) {
                    int top = 0;
                    for (const PlannedLesion &l : lesions) {
                        if (l.position == p && l.first <= k)
                            top = std::max(top, l.number);
                    }
                    counters.append(top);
                }
                counters.append(withExternal && newest ? int(externalLesions.size()) : 0);
                document.insert(QStringLiteral("LastLesionID"), counters);
            }
            // Keys of the device that the viewer carries along untouched.
            document.insert(QStringLiteral("DeviceSerial"), QStringLiteral("KV-TBS-0042"));
            document.insert(QStringLiteral("AcquisitionSoftware"), QStringLiteral("tbs-scan 3.4.1"));
            document.insert(QStringLiteral("Calibration"),
                            QJsonObject{{QStringLiteral("pixelsPerMm"),
                                         std::round(clipWidth / windowWidth * 1000) / 1000},
                                        {QStringLiteral("date"), isoDate(session.date.addDays(-30))}});
            session.document = document;
            sessions.emplace(session.id, std::move(session));
        }
        patients.push_back(patient);
    }
    if (withVersionsExamination)
        addVersions();

    // Two finished reports of the first patient.
    const Patient &first = patients.front();
    for (size_t index : {size_t(2), size_t(4)}) {
        const Session *s = session(first.sessions[index]);
        reports.push_back({first.id, s->id, s->date.date().addDays(3)});
    }

    // Report templates of two clinics, covering every section type.
    auto svgSource = [](const QString &svg) {
        return QStringLiteral("data:image/svg+xml;base64,") + QString::fromLatin1(svg.toUtf8().toBase64());
    };
    const QString logoA = svgSource(QStringLiteral(
        "<svg xmlns='http://www.w3.org/2000/svg' width='240' height='80' viewBox='0 0 240 80'>"
        "<rect width='240' height='80' rx='16' fill='#2f4f4f'/>"
        "<circle cx='40' cy='40' r='24' fill='#ffdac3'/><circle cx='40' cy='40' r='10' fill='#9e7b9b'/>"
        "<rect x='80' y='30' width='140' height='8' rx='4' fill='#ffdac3'/>"
        "<rect x='80' y='46' width='100' height='6' rx='3' fill='#9dbf9e'/></svg>"));
    const QString logoB = svgSource(QStringLiteral(
        "<svg xmlns='http://www.w3.org/2000/svg' width='240' height='80' viewBox='0 0 240 80'>"
        "<rect width='240' height='80' rx='16' fill='#1c2a3a'/>"
        "<path d='M20 60 L40 20 L60 60 Z' fill='#6794a7'/><path d='M45 60 L65 28 L85 60 Z' fill='#f0ad6d'/>"
        "<rect x='100' y='34' width='120' height='10' rx='5' fill='#e0e8f0'/></svg>"));
    const QString photo = svgSource(QStringLiteral(
        "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='200' viewBox='0 0 200 200'>"
        "<rect width='200' height='200' rx='100' fill='#e6bea3'/>"
        "<ellipse cx='100' cy='100' rx='38' ry='30' fill='#6b4630'/>"
        "<ellipse cx='96' cy='98' rx='18' ry='14' fill='#3b2618'/></svg>"));
    auto section = [](const QString &type, const QString &title) {
        return QJsonObject{{QStringLiteral("type"), type}, {QStringLiteral("title"), title}};
    };
    auto withText = [](QJsonObject s, const QString &text) {
        s.insert(QStringLiteral("text"), text);
        return s;
    };
    auto withItems = [](QJsonObject s, const QStringList &items) {
        s.insert(QStringLiteral("items"), QJsonArray::fromStringList(items));
        return s;
    };
    {
        QJsonArray sections;
        sections.append(withText(section(QStringLiteral("0"), QStringLiteral("Clinical history")),
                                 QStringLiteral("Total body examination requested for follow-up of multiple "
                                                "naevi.\nNo personal history of melanoma.")));
        sections.append(
            withItems(section(QStringLiteral("1"), QStringLiteral("Risk factors")),
                      {QStringLiteral("More than 50 naevi"), QStringLiteral("Family history of melanoma"),
                       QStringLiteral("Phototype I-II"), QStringLiteral("History of sunburn")}));
        sections.append(section(QStringLiteral("2"), QStringLiteral("Examination summary")));
        sections.append(withItems(section(QStringLiteral("3"), QStringLiteral("Recommendation")),
                                  {QStringLiteral("Routine follow-up in 12 months"),
                                   QStringLiteral("Follow-up in 6 months"),
                                   QStringLiteral("Excision of the marked lesions")}));
        QJsonObject withPhoto = withText(
            section(QStringLiteral("4"), QStringLiteral("Self-examination")),
            QStringLiteral(
                "Check your skin once a month.\nLook for new spots or changes in size, shape or colour."));
        withPhoto.insert(QStringLiteral("photo"), photo);
        sections.append(withPhoto);
        // A section type the editor does not know is skipped by it.
        sections.append(withText(section(QStringLiteral("9"), QStringLiteral("Internal notes")),
                                 QStringLiteral("not for the report")));
        templates.push_back(
            {QStringLiteral("Clínica Dermatològica Demo"), QStringLiteral("Total body examination.json"),
             QJsonObject{{QStringLiteral("logo"), logoA}, {QStringLiteral("sections"), sections}}});
        QJsonArray short_;
        short_.append(section(QStringLiteral("2"), QStringLiteral("Summary")));
        short_.append(withText(section(QStringLiteral("0"), QStringLiteral("Comments")), QString()));
        templates.push_back(
            {QStringLiteral("Clínica Dermatològica Demo"), QStringLiteral("Short follow-up.json"),
             QJsonObject{{QStringLiteral("logo"), logoA}, {QStringLiteral("sections"), short_}}});
    }
    {
        QJsonArray sections;
        sections.append(withItems(section(QStringLiteral("3"), QStringLiteral("Reason for visit")),
                                  {QStringLiteral("Screening"), QStringLiteral("Changing lesion"),
                                   QStringLiteral("Post-surgical control")}));
        sections.append(section(QStringLiteral("2"), QStringLiteral("Lesion statistics")));
        sections.append(withText(section(QStringLiteral("0"), QStringLiteral("Findings")),
                                 QStringLiteral("Describe the relevant findings here.")));
        sections.append(withItems(section(QStringLiteral("1"), QStringLiteral("Actions")),
                                  {QStringLiteral("Dermoscopy of flagged lesions"),
                                   QStringLiteral("Photographs stored"), QStringLiteral("Biopsy")}));
        QJsonObject withPhoto =
            withText(section(QStringLiteral("4"), QStringLiteral("About dermoscopy")),
                     QStringLiteral("Dermoscopy shows structures below the skin surface."));
        withPhoto.insert(QStringLiteral("photo"), photo);
        sections.append(withPhoto);
        templates.push_back(
            {QStringLiteral("Nordic Skin Centre"), QStringLiteral("Screening report.json"),
             QJsonObject{{QStringLiteral("logo"), logoB}, {QStringLiteral("sections"), sections}}});
        templates.push_back(
            {QStringLiteral("Nordic Skin Centre"), QStringLiteral("Empty template.json"),
             QJsonObject{{QStringLiteral("logo"), logoB}, {QStringLiteral("sections"), QJsonArray()}}});
    }
}

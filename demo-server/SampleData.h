#pragma once

#include <QColor>
#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QString>

#include <map>
#include <vector>

// The sample examinations, made from a fixed seed: the same on every machine
// and every run. Documents and images are derived from one body model per
// patient and position, so that a lesion painted on a clinical image lies
// exactly where the session document says it is.
class SampleData
{
public:
    // Pixel geometry of the device's clinical images and of the part of them
    // that the viewer shows (it clips from x = 900).
    static constexpr int clinicalWidth = 5472;
    static constexpr int clinicalHeight = 3648;
    static constexpr int clipLeft = 900;
    static constexpr int clipWidth = 4572;
    static constexpr int externalWidth = 1600;
    static constexpr int externalHeight = 1200;
    static constexpr int dermatoscopicWidth = 2400;
    static constexpr int dermatoscopicHeight = 1800;
    static constexpr int thumbnailWidth = 400;
    static constexpr int thumbnailHeight = 300;
    // Bumped whenever the generator changes what it makes.
    static constexpr int generatorVersion = 1;

    struct Pose
    {
        double x = 0, y = 0, z = 0, alpha = 0, beta = 0;
    };

    // One painted lesion of one session, in body millimetres.
    struct LesionPaint
    {
        int position = 0;
        int numericId = 0;
        QPolygonF outline;
        QPointF centre;
        double radius = 0;
        QColor core;
        QColor rim;
        quint32 seed = 0;
    };

    // One clinical image: the window of the body map (millimetres) that the
    // shown part of the image covers.
    struct ClinicalImage
    {
        QString name;
        int position = 0;
        Pose pose;
        QRectF window;
        bool external = false;
    };

    struct Dermatoscopic
    {
        QString id;
        QPolygonF contour; // pixels of a full-size dermatoscopic image
        QColor core;
        QColor rim;
        quint32 seed = 0;
        bool hasThumbnail = true;
        bool listed = true;
        // The full size when it is not the usual dermatoscopicWidth x
        // dermatoscopicHeight (invalid: the usual size).
        QSize size;
        bool greyscale = false; // stored as a one-channel JPEG
        QSize fullSize() const
        {
            return size.isValid() ? size : QSize(dermatoscopicWidth, dermatoscopicHeight);
        }
    };

    struct Session
    {
        int id = 0;
        int patientId = 0;
        QDateTime date;
        int version = 1;
        bool hasDocument = true;
        QJsonObject document;
        std::vector<ClinicalImage> images;
        std::vector<LesionPaint> lesions;
        std::vector<Dermatoscopic> dermatoscopic;
        QColor skin;
        quint32 seed = 0;
        std::map<int, QSizeF> canvas; // body map size per position, millimetres
    };

    struct Patient
    {
        int id = 0;
        QString centerId;
        QString firstName;
        QString lastName;
        QString tag;
        QString birthdate; // as the server keeps it; may be empty or impossible
        QString email;
        QColor skin;
        std::vector<int> sessions;
        QString name() const { return firstName + QLatin1Char(' ') + lastName; }
    };

    struct Report
    {
        int patientId = 0;
        int sessionId = 0;
        QDate date;
    };

    struct Template
    {
        QString clinic;
        QString filename;
        QJsonObject document;
    };

    // The sample data; with the large examination, the same plus one more
    // patient (largePatientId) whose one session is device-sized: 4 positions
    // of 9 poses, 40 lesions, every one with dermatoscopic images.
    // With the versions examination, one more patient (versionsPatientId)
    // whose lesion was looked at closer many times: one group of ten
    // 6000 x 4000 images in the older session, three groups of other shapes
    // (3000 x 1000, 1500 x 2500, a greyscale JPEG) for its twin in the newer.
    static const SampleData &instance(bool withLargeExamination = false,
                                      bool withVersionsExamination = false);
    static constexpr int largePatientId = 20;
    static constexpr int largeSessionId = 113;
    static constexpr int largeLesionsPerPosition = 10;
    static constexpr int versionsPatientId = 21;
    static constexpr int versionsOlderSessionId = 114;
    static constexpr int versionsNewerSessionId = 115;
    static constexpr int versionsCount = 10;
    // The lesion of the versions examination that holds them (position 0).
    int versionsLesionNumber = 0;
    // A session or patient by id in either set (their common part is the
    // same, and ids never overlap); null when there is none.
    static const Session *findSession(int id);
    static const Patient *findPatient(int id);

    std::vector<Patient> patients;
    std::map<int, Session> sessions;
    std::vector<Report> reports;
    std::vector<Template> templates;

    const Session *session(int id) const;
    const Patient *patient(int id) const;

    // The body of a position as rounded shapes (torso, arms, legs), in body
    // millimetres; "-1" is the external close-up canvas, skin everywhere.
    struct BodyPart
    {
        QRectF rect;
        double radius = 0;
    };
    static std::vector<BodyPart> bodyParts(int position, const QSizeF &canvas);
    static QPainterPath silhouette(int position, const QSizeF &canvas);
    // The clinical image name of a pose (y before x, truncated toward zero).
    static QString clinicalImageName(const Pose &pose, int position, int version);

private:
    SampleData(bool withLargeExamination, bool withVersionsExamination);
    // Gives one lesion of the versions patient its many dermatoscopic images.
    void addVersions();
};

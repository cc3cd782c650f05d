#pragma once

#include "session/CameraPose.h"

#include <QColor>
#include <QDate>
#include <QEnableSharedFromThis>
#include <QFuture>
#include <QIcon>
#include <QImage>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QMetaObject>
#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSharedPointer>
#include <QSize>
#include <QStringList>
#include <QVector3D>
#include <QWeakPointer>

#include <utility>
#include <vector>

class SessionVisualizer;
class ClinicalPixmapItem;
class QGraphicsScene;

// One lesion of one session: its appearances on the clinical images, its
// dermatoscopic groups, label, priority and number, its links to the same
// lesion in the patient's other sessions, and the icons the views show.
//
// Always held by QSharedPointer; it refers to its session weakly and every
// operation that needs the session does nothing once the session is gone.
//
// Writing back starts from the object that was read, so whatever the program
// does not interpret survives; values that are rebuilt from memory are
// written in their original JSON form as long as they were not changed.
class LesionVisualizer : public QObject, public QEnableSharedFromThis<LesionVisualizer>
{
    Q_OBJECT

public:
    // From an element of a "Lesions" array (any JSON value; a non-object
    // gives a lesion with all defaults and is written back as it was unless
    // the lesion is edited).
    LesionVisualizer(const QJsonValue &lesionObject, int position,
                     const QSharedPointer<SessionVisualizer> &session);
    // A lesion marked by the user on a clinical image: one main instance.
    LesionVisualizer(const CameraPose &pose, double alpha, double beta, int position, const QRect &rect,
                     int numericId, const QSharedPointer<SessionVisualizer> &session);
    ~LesionVisualizer() override;

    // The label set, in menu order.
    static QStringList labelNames();
    static QColor labelColor(const QString &label);
    static QString legendIconPath(const QString &label, bool coloured);
    // The legend icon rendered into a 22 by 22 pixmap (GUI thread only).
    static QPixmap legendIcon(const QString &label, bool coloured);
    // The capture date that starts a dermatoscopic id ("yyyyMMdd_...").
    static QDate dateOfDermatoscopicId(const QString &id);
    static QString defaultLabel(bool hasDermatoscopic);

    // The lesion object for writing.
    QJsonObject toJson() const;
    // As toJson, except that an element that was not an object and was never
    // edited is returned as it was read.
    QJsonValue toJsonValue() const;

    QString getLabel() const { return m_label; }
    int getPriority() const { return m_priority; }
    int getNumericID() const { return m_numericID; }
    int getPosition() const { return m_position; }
    // Position + "_" + number; the external position is written as 4.
    QString getLesionIdText() const;
    // (position, or 10 for the external one) * 1000 + number.
    qint64 getSortKey() const;
    double getRadius() const { return m_radius; }
    CameraPose getMainPose() const { return m_mainPose; }
    const std::vector<QRect> &getInstancesBbox() const { return m_instancesBbox; }
    const std::vector<QRect> &getInstancesBboxR() const { return m_instancesBboxR; }
    const std::vector<CameraPose> &getInstancesPosition() const { return m_instancesPosition; }
    const std::vector<std::vector<QPoint>> &getInstancesContours() const { return m_instancesContours; }
    const std::vector<bool> &getMainFlags() const { return m_mainFlags; }
    std::vector<std::vector<QString>> getDermatosopicIds() const { return m_dermatoscopicIds; }
    bool hasDermatoscopicGroups() const { return !m_dermatoscopicIds.empty(); }
    // The first id of the last group, or an empty text when there is none.
    QString getLastDermatoscopicId() const;
    // Index of the first instance flagged main, or -1.
    int getMainInstanceIndex() const;
    bool hasMainInstance() const { return getMainInstanceIndex() >= 0; }
    // The main instance's rectangle; a null rectangle when there is none.
    QRect getMainRect() const;
    std::pair<double, double> getMesure() const { return {m_mesure0, m_mesure1}; }
    QVector3D getPlane() const { return m_plane; }
    QVector3D getCentre() const { return m_centre; }
    // In degrees: the second angle first.
    std::pair<double, double> getPlaneAngles() const;
    QSharedPointer<SessionVisualizer> getSession() const { return m_session.toStrongRef(); }
    // The identifier of the session the lesion was created in (kept even when
    // the session is gone).
    int getSessionId() const { return m_sessionId; }
    QIcon getIcon() const { return m_icon; }
    QIcon getCompositeIcon() const { return m_compositeIcon; }

    // A stored priority is clamped into this range when read or set, so that
    // what is drawn from it (a pen of 3 x priority) stays sane; the stored
    // value itself is written back unchanged while it is not edited.
    static constexpr int minPriority = 0;
    static constexpr int maxPriority = 10;

    void setLabel(const QString &label);
    void setPriority(int priority);
    // Appends a group holding only id; "Detected" becomes "Captured".
    void addDermatoscopicImage(const QString &id);
    // For a retake: only the group list shrinks; the caller resets the label.
    void removeLastDermatoscopicGroup();
    // A marker moved or resized an appearance (it emits changesToSave itself).
    void setInstanceRect(int index, const QRect &rect);
    void renumber();
    void changeNumericID(int numericId);

    // Set by the visualization widget when it builds the scene of the
    // lesion's body position; not owned. The item is held together with its
    // scene and reads as null once that scene is gone, since a session can
    // be shown in two widgets and either may rebuild. An item outside any
    // scene is not kept.
    void setPrincipalClinicalItem(ClinicalPixmapItem *item, int sceneIndex);
    ClinicalPixmapItem *getPrincipalClinicalItem() const;
    int getSceneIndex() const { return m_sceneIndex; }

    void addHistoricLesion(const QSharedPointer<LesionVisualizer> &lesion, int sessionId);
    const QMap<int, QSharedPointer<LesionVisualizer>> &getHistoricLesions() const
    {
        return m_historicLesions;
    }
    // Unlinks this lesion from every historic lesion in both directions and
    // clears the shown historic slots, so that sessions that are released
    // free their lesions and pixmaps.
    void dropHistoricLinks();
    // Drops only the connections to the shown historic lesions' `updated`
    // signals; the links and the shown slots stay, and the next
    // changeHistoricLesionsToShow connects them again.
    void disconnectHistoricShown();
    // Takes over the other lesion's instances and dermatoscopic groups, with
    // their outlines (which would otherwise be lost with the other lesion).
    void mergeLesion(const QSharedPointer<LesionVisualizer> &other);
    std::pair<int, int> getHistoricSessionsShown() const
    {
        return {m_firstHistoricShown, m_secondHistoricShown};
    }

    // Rebuilds both icons from a dermatoscopic thumbnail.
    void setIcon(const QImage &thumbnail);
    // The full image of the last group's first id; null without group or session.
    QImage getDermatoscopicImage() const;
    // The preview (at most 300 by 200) and the JPEG bytes it comes from.
    std::pair<QPixmap, QByteArray> getDermatoscopicPixmap();
    QPixmap getCompositePixmap();
    std::vector<QPoint> getDermatoscopicContour(const QString &id) const;
    QRect getDermatoscopicRegion(const QString &id, const QSize &imageSize) const;
    bool isInPrincipalSession() const;
    QSharedPointer<LesionVisualizer> getPrincipalLesion();
    // Historic lesions of sessions with a greater identifier, in session order.
    std::vector<QSharedPointer<LesionVisualizer>> getNewerHistoricLesions() const;
    // Sum of absolute radius changes and the historic radii; -1 and none
    // without historic lesions.
    std::pair<double, std::vector<double>> getRadiusChanges() const;
    void selectLesion();
    bool hasDermatoscopicFile(const QString &id) const;

    static const QSize previewBound;
    // Pure image helpers; they touch only their arguments and are used by
    // background tasks.
    static QImage decodePreview(const QByteArray &jpeg, const QSize &bound);
    static QImage drawDateLabel(const QImage &image, const QString &dermatoscopicId);
    static QImage drawIdLabel(const QImage &image, const QString &idText, bool withText);
    // Pieces side by side at height h (-1: the first piece's height), each
    // scaled and given its date label, on white.
    static QImage buildComposite(const std::vector<std::pair<QImage, QString>> &pieces, int height);
    static QImage roundedImage(const QImage &image, qreal radius);

public slots:
    void changeHistoricLesionsToShow(int first, int second);
    // Starts loading the dermatoscopic preview in the background.
    void pixmapChanged();

signals:
    void updated(int role);
    void highlight();
    void removeHighlight();
    void changesToSave();
    void requestDeletion();
    void newDermatoImage(QString dermatoscopicName);
    void requestChange(QSharedPointer<LesionVisualizer> newLesion);
    void download(QString dermatoscopicID, int quality);
    void downloadDone(QString filename, int quality);

private:
    void readObject(const QJsonValue &value);
    void markEdited() { m_edited = true; }
    // Thumbnail bytes (id + "s", falling back to the full image) of a
    // lesion's last group, read on the GUI thread for a background task.
    static QByteArray thumbnailBytesOf(const LesionVisualizer &lesion);
    QImage ownThumbnail() const;
    std::vector<std::pair<QByteArray, QString>> compositeSources() const;
    static QImage compositeFromSources(const std::vector<std::pair<QByteArray, QString>> &sources,
                                       int height);
    void startCompositeLoad();
    void refreshFromHistoric(int role);
    void setHistoricSlot(int value, int &slot, QMetaObject::Connection &connection);
    void forgetHistoricSession(int sessionId);

    std::vector<QRect> m_instancesBbox;
    std::vector<QRect> m_instancesBboxR;
    std::vector<CameraPose> m_instancesPosition;
    QMap<int, QSharedPointer<LesionVisualizer>> m_historicLesions;
    std::vector<std::vector<QString>> m_dermatoscopicIds;
    std::vector<std::vector<std::vector<QPoint>>> m_dermatoscopicContours;
    CameraPose m_mainPose;
    std::vector<std::vector<QPoint>> m_instancesContours;
    QString m_label;
    double m_radius = 0.0;
    int m_priority = 3;
    QJsonObject m_json;
    int m_numericID = -1;
    int m_position = -1;
    QIcon m_icon;
    QIcon m_compositeIcon;
    QWeakPointer<SessionVisualizer> m_session;
    ClinicalPixmapItem *m_principalClinicalItem = nullptr;
    QPointer<QGraphicsScene> m_principalScene;
    int m_sceneIndex = -1;
    QPixmap m_dermatoscopicPixmap;
    QFuture<QImage> m_pixmapFuture;
    QPixmap m_compositePixmap;
    QFuture<QImage> m_compositeFuture;
    QSize m_previewSize = previewBound;
    std::vector<bool> m_mainFlags;
    int m_firstHistoricShown = -1;
    QMetaObject::Connection m_firstHistoricConnection;
    int m_secondHistoricShown = -1;
    QMetaObject::Connection m_secondHistoricConnection;
    QVector3D m_plane;
    QVector3D m_centre;
    double m_mesure0 = 0.0;
    double m_mesure1 = 0.0;

    // The JSON each element was read from (undefined for elements made in
    // memory), parallel to the vectors above; unchanged elements are written
    // back in their original form.
    std::vector<QJsonValue> m_instancesBboxJson;
    std::vector<QJsonValue> m_instancesBboxRJson;
    std::vector<QJsonValue> m_instancesPositionJson;
    std::vector<QJsonValue> m_instancesContoursJson;
    std::vector<QJsonValue> m_dermatoscopicIdsJson;
    // Set when outlines of a merged lesion were added: "dermatoscopicContour"
    // is then written from memory after its original elements.
    bool m_contoursMerged = false;
    size_t m_originalContourCount = 0;
    QJsonValue m_sourceValue;
    bool m_sourceWasObject = true;
    bool m_edited = false;
    bool m_labelEdited = false;
    bool m_priorityEdited = false;
    bool m_numberEdited = false;
    int m_sessionId = -1;
    // Which load the running futures belong to; stale results are dropped.
    int m_pixmapGeneration = 0;
    QString m_pixmapFutureId;
    int m_compositeGeneration = 0;
    QStringList m_compositeFutureIds;
    bool m_refreshing = false;
};

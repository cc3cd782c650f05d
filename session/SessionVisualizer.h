#pragma once

#include "session/CameraPose.h"
#include "session/LesionVisualizer.h"

#include <QByteArray>
#include <QDateTime>
#include <QEnableSharedFromThis>
#include <QHash>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QRect>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWeakPointer>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

// One loaded session of the current patient: its identity, its in-memory
// session folder (documents and JPEG files keyed by virtual paths under the
// folder path; nothing is written to disk), its camera poses and lesions.
//
// Always held by QSharedPointer (lesions refer back to it weakly). Every
// member is used on the GUI thread only; background decodes receive copies of
// the bytes they need.
class SessionVisualizer : public QObject, public QEnableSharedFromThis<SessionVisualizer>
{
    Q_OBJECT

public:
    using DocumentStore = QHash<QString, QJsonDocument>;
    // Path to (JPEG bytes, quality code).
    using FileStore = QHash<QString, std::pair<QByteArray, int>>;
    using LesionList = std::vector<QSharedPointer<LesionVisualizer>>;

    static constexpr int externalPosition = -1;
    static constexpr int maxExternalImages = 36;

    SessionVisualizer(const QString &folderPath, int patientId, int sessionId,
                      const QJsonDocument &sessionJson, const QDateTime &date);
    ~SessionVisualizer() override;

    QString getFolderPath() const { return m_folderPath; }
    int getPatientId() const { return m_patientId; }
    int getSessionId() const { return m_sessionId; }
    QDateTime getDate() const { return m_date; }
    QString getSessionName() const;
    const std::vector<QString> &getPositionNames() const { return m_positionNames; }
    std::vector<CameraPose> getCameraPoses(int position) const { return m_cameraPoses.value(position); }
    const QMap<int, std::vector<CameraPose>> &getAllCameraPoses() const { return m_cameraPoses; }
    int getVersion() const { return m_version; }
    const std::vector<int> &getLesionCounters() const { return m_lesionCounters; }

    bool isPrincipalSession() const { return m_principal; }
    void setPrincipalSession(bool principal) { m_principal = principal; }
    bool getEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool hasChangesToSave() const { return m_changesToSave.load(); }

    // Parses the stored document; called once, right after construction,
    // while the session is already held by a QSharedPointer.
    void readSessionJson();
    // The stored document with "CameraPositions", "Lesions" and
    // "LastLesionID" rebuilt; clears the changes-to-save flag.
    QJsonDocument getSessionJson();

    QString clinicalImageName(const CameraPose &pose, int position) const;
    std::pair<CameraPose, int> parseClinicalImageName(const QString &name) const;
    // The file key of a clinical image.
    QString clinicalImagePath(const CameraPose &pose, int position) const;
    QString dermatoscopicPath(const QString &id) const;

    // Decodes the file under path (a missing thumbnail "...s.jpg" falls back
    // to the full-size image). Leaves image and quality untouched when nothing
    // is stored; returns whether an image was decoded.
    bool getFile(const QString &path, QImage &image, int &quality) const;
    // quality -1 accepts any code.
    bool hasFile(const QString &path, int quality) const;
    bool getDermatoscopicFile(const QString &id, QImage &image, int &quality) const;
    // The bytes getDermatoscopicFile would decode, for background tasks.
    QByteArray getDermatoscopicBytes(const QString &id, int *quality = nullptr) const;
    // The bytes under a key; a name outside the folder is taken relative to it.
    QByteArray getRawFile(const QString &name) const;
    // Stores (replacing) a file under a full key.
    void storeFile(const QString &path, const QByteArray &bytes, int quality);
    void addDermatoscopicFile(const QString &fileName, const QByteArray &bytes, int quality);
    CameraPose newClinicalPosition() const;
    // Stores a hand-added clinical image on the external position and returns
    // its file name, or "Ple" when the external position is full.
    QString addClinicalImage(const QByteArray &jpeg);

    const QMap<int, LesionList> &getLesions() const { return m_lesions; }
    LesionList getLesions(const QStringList &labels, bool withDermatoscopic) const;
    LesionList getLesions(const QString &positionName, int numericId) const;
    QSharedPointer<LesionVisualizer> createLesion(const CameraPose &pose, double alpha, double beta,
                                                  int position, const QRect &rect);
    void deleteLesion(const QSharedPointer<LesionVisualizer> &lesion);
    // Advances the counter of a position and returns the new lesion number.
    // A number already used on the position is never handed out again.
    int takeNextLesionNumber(int position);

    void downloadOneDermatoscopicPetition(const QString &id, const QSharedPointer<LesionVisualizer> &lesion,
                                          int quality);
    // Drops the historic links of every lesion (both directions), for the
    // main window to call when it releases the patient's sessions.
    void releaseHistoricLinks();

    // Decodes JPEG bytes; with a bound, scaled to fit it keeping the aspect
    // ratio. Pure, used by background tasks.
    static QImage decodeImage(const QByteArray &bytes, const QSize &fitWithin = QSize());

signals:
    void addedNewDermatoscopicImage(QString filename, QImage img, bool hadDermato);
    void newLesionCaptured(QSharedPointer<LesionVisualizer>);
    void downloadImage(int patientID, int sessionID, QString filename, QString url, QString type);
    void progressBarUpdateValue(int value, int maximum);
    void downloadSessionDone();
    void updated(int role);
    void changeHistoricLesionsToShow(int, int);
    void downloadSessionImage(int patientId, int sessionID, QString ID, QString type = QStringLiteral("D"),
                              int quality = 0);
    void requestManualImageSignal(QString imgName, QString type);
    void newClinicalExternalImageArrived();
    void closeRequestDialog();
    void cancelImageRequest(std::vector<std::pair<QString, QString>> parametres = {});
    void changeDermatoImage(QSharedPointer<LesionVisualizer> lesion);

private:
    void connectLesion(const QSharedPointer<LesionVisualizer> &lesion);
    bool lookupFile(const QString &path, QByteArray *bytes, int *quality) const;
    QJsonValue buildLesions() const;
    QJsonArray buildCounters() const;
    QJsonValue buildCameraPositions() const;

    QString m_folderPath;
    QDateTime m_date;
    std::vector<QString> m_positionNames;
    QMap<int, std::vector<CameraPose>> m_cameraPoses;
    int m_version = 0;
    int m_patientId = -1;
    int m_sessionId = -1;
    QMap<int, LesionList> m_lesions;
    QJsonObject m_sessionJson;
    std::shared_ptr<DocumentStore> m_documents;
    std::shared_ptr<FileStore> m_files;
    std::atomic<bool> m_changesToSave{false};
    std::vector<int> m_lesionCounters;
    bool m_principal = false;
    std::atomic<bool> m_silently{false};
    QHash<QString, QWeakPointer<LesionVisualizer>> m_pendingDermatoscopic;
    QTimer m_downloadCheckTimer;
    bool m_enabled = true;

    // The JSON each counter and external pose was read from, so that values
    // that did not change are written back exactly as they came.
    std::vector<QJsonValue> m_counterJson;
    std::vector<QJsonValue> m_externalPoseJson;
};

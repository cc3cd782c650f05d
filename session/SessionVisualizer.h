#pragma once

#include "session/CameraPose.h"
#include "session/LesionVisualizer.h"

#include <QByteArray>
#include <QDateTime>
#include <QEnableSharedFromThis>
#include <QFuture>
#include <QHash>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWeakPointer>

#include <atomic>
#include <memory>
#include <utility>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QHBoxLayout;
class QLabel;
class QMenu;
class QWidget;
class QWidgetAction;
class qtExternalManualDialog;

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

    // Download state. A type is downloaded once every image its listing
    // named has arrived (or the listing named none still missing).
    bool isDownloaded() const;
    bool areDermatosDownloaded() const;
    bool areClinicalDownloaded() const;
    // True from a listing taken until its images are in, or until the
    // download is cancelled or fails.
    bool isDownloading() const;

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
    // Also drops the lesion's historic links (both directions), so that no
    // other session keeps showing or pairing a deleted lesion.
    void deleteLesion(const QSharedPointer<LesionVisualizer> &lesion);
    bool containsLesion(const QSharedPointer<LesionVisualizer> &lesion) const;
    // Advances the counter of a position and returns the new lesion number.
    // A number already used on the position is never handed out again.
    int takeNextLesionNumber(int position);

    void downloadOneDermatoscopicPetition(const QString &id, const QSharedPointer<LesionVisualizer> &lesion,
                                          int quality);
    // Drops the historic links of every lesion (both directions). The
    // destructor does it too, so releasing a session is enough.
    void releaseHistoricLinks();
    // Drops only the connections this session's lesions hold to the
    // `updated` signal of the historic lesions they show; the links and the
    // other sessions' own connections stay.
    void disconnectHistoricLesions();
    // Connects changeHistoricLesionsToShow to every lesion and gives each
    // lesion with dermatoscopic images its icon.
    void addDermatoscopicToLesion();

    // The clinical image of the lesion's main pose, with the main rectangle
    // drawn on it, cut to the square of getCenteredSquareImage. Decodes on
    // the calling thread; views use lesionImageAsync.
    QImage getLesionImage(const QSharedPointer<LesionVisualizer> &lesion) const;
    // The same, decoded on the global thread pool from a copy of the bytes;
    // attach a continuation with a context object.
    QFuture<QImage> lesionImageAsync(const QSharedPointer<LesionVisualizer> &lesion) const;
    // Pure: decodes the JPEG (only the part the square needs) and draws rect.
    static QImage lesionImageFromJpeg(const QByteArray &jpeg, const QRect &rect);
    // The square around rect (at least half the image height), moved inside
    // the image and cut to it; a null image for a null image.
    static QImage getCenteredSquareImage(const QImage &image, const QRect &rect);
    static QRect centeredSquare(const QSize &imageSize, const QRect &rect);

    // ---- lesion context menu and editing --------------------------------
    // Builds the lesion menu once (later calls do nothing). The session owns
    // the menu.
    void createContextMenu();
    // The menu prepared for the lesion (its label checked, its information
    // filled); null for a null lesion. The caller pops it up; the menu stays
    // the session's.
    QMenu *getContextMenu(const QSharedPointer<LesionVisualizer> &lesion);
    // A new row of label buttons and image buttons; the caller owns the
    // layout and its widgets. Only the newest row is kept in step with the
    // current lesion.
    QHBoxLayout *createContextMenuLayout();
    // Makes the lesion current and returns a new row with its label checked;
    // null for a null lesion.
    QHBoxLayout *getContextMenuLayout(const QSharedPointer<LesionVisualizer> &lesion);
    QSharedPointer<LesionVisualizer> getCurrentLesion() const { return m_currentLesion; }
    // Applies the checked label of a group to the current lesion (deferred:
    // when the menu closes), asking first for a lesion of an older session
    // that the principal session does not have.
    void changeLabel(QButtonGroup *group, const QMap<QString, QAbstractButton *> &buttons, bool deferred);
    QString getPendingLabel() const { return m_pendingLabel; }
    // The menu's information entry (position, radius of the current lesion),
    // hidden until shown; the main window shows it for the demonstration user.
    QWidget *getExtraInfoWidget() const;
    void setExtraInfoVisible(bool visible);
    bool isExtraInfoVisible() const { return m_extraInfoVisible; }
    // Adds a dermatoscopic image from a JPEG file to the current lesion: read
    // and decoded in the background; a file that does not decode as a
    // complete JPEG is refused with "Warning: The image is corrupt" and
    // changes nothing. No questions asked (addExternal asks them).
    void addExternalFile(const QString &path);
    // Pure: bytes that are a complete JPEG image (start and end markers in
    // place) and decode.
    static bool isCompleteJpeg(const QByteArray &bytes);
    // The id an image added from a file gets: local date, "_", milliseconds
    // since 1970, "e".
    static QString newExternalDermatoscopicId(const QDateTime &now);

    // ---- device image requests ------------------------------------------
    // Asks a paired device for a dermatoscopic image of the lesion, showing
    // the waiting dialog until it arrives or the request ends.
    void requestManualImageD(QSharedPointer<LesionVisualizer> lesion);
    // Asks a paired device for an external clinical image; refused ("Full
    // capacity") when the external position, pending requests counted, is full.
    void requestManualImageC();
    // The modal waiting dialog of the open request; not opened when the
    // request already ended while it was being sent.
    void requestDialog();
    // Files an image a device sent for a request of this session; an image
    // of no open request only closes the waiting dialog.
    void recievedRequestedImage(QString name, QString type, QString filename, QByteArray bytes, QImage image,
                                int quality);
    // The waiting dialog while it is open.
    qtExternalManualDialog *getRequestDialog() const;
    bool hasPendingDeviceRequest() const
    {
        return !m_pendingDevice.isEmpty() || !m_pendingClinical.isEmpty();
    }

    // Decodes JPEG bytes; with a bound, scaled to fit it keeping the aspect
    // ratio. Pure, used by background tasks.
    static QImage decodeImage(const QByteArray &bytes, const QSize &fitWithin = QSize());

public slots:
    void sessionDownloadReply(const QJsonDocument &listing, bool silently);
    void imageDownloaded(const QString &fileName, const QByteArray &bytes, const QString &type, int quality);
    void downloadCheckStatus();
    // A failed listing or image: both types return to not requested, their
    // counts are reset, and downloadSessionFailed() is emitted.
    void errorDownloadingSession();
    // The cancel handler (connected to the server's cancelDownload()): the
    // same as a failure; completion is never announced for a cancelled round.
    void cancelDownload();
    // Runs the menu's applying of the pending label.
    void aboutToHideContextMenu();
    // Asks (older session: "Update Image"), lets the user choose a file and
    // runs addExternalFile.
    void addExternal();
    // Asks for confirmation and deletes the current lesion.
    void deleteCurrentLesion();
    // Shows the menu's information entry from now on and runs the help dialog.
    void showLesionsExtraInfo();

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
    // After errorDownloadingSession() or cancelDownload(): a waiting caller
    // stops waiting for downloadSessionDone().
    void downloadSessionFailed();
    // The end of an addExternalFile: whether an image was added.
    void externalImageFinished(bool added);

private:
    void connectLesion(const QSharedPointer<LesionVisualizer> &lesion);
    void addExternalFileTo(const QSharedPointer<LesionVisualizer> &lesion, const QString &path);
    void fillExtraInfo(const QSharedPointer<LesionVisualizer> &lesion);
    QWidgetAction *createMenuEntry(const QString &iconPath, const QString &text);
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

    // Download bookkeeping per image type ("D" and "C").
    struct DownloadState
    {
        std::atomic<int> expected{0};
        std::atomic<int> received{0};
        std::atomic<bool> requested{false};
        std::atomic<bool> downloaded{false};
        // Names still awaited (as the server client delivers them), so that a
        // duplicate or a stray arrival does not count.
        QSet<QString> awaited;
    };
    DownloadState m_dermatos;
    DownloadState m_clinical;
    // A listing started a round of checks that has not ended: completion is
    // announced once per round, never after a cancel or a failure.
    bool m_roundActive = false;

    // Context menu (built by createContextMenu).
    std::unique_ptr<QMenu> m_menu;
    QSharedPointer<LesionVisualizer> m_currentLesion;
    QButtonGroup *m_menuGroup = nullptr;
    QMap<QString, QAbstractButton *> m_menuButtons;
    QPointer<QButtonGroup> m_rowGroup;
    QMap<QString, QPointer<QAbstractButton>> m_rowButtons;
    QString m_pendingLabel;
    QWidgetAction *m_infoAction = nullptr;
    QWidget *m_infoWidget = nullptr;
    QLabel *m_positionLabel = nullptr;
    QLabel *m_radiusLabel = nullptr;
    QLabel *m_anglesLabel = nullptr;
    QLabel *m_mesureLabel = nullptr;
    bool m_extraInfoVisible = false;
    int m_externalGeneration = 0;

    // Device requests: the open one, by lesion id text ("D") or clinical
    // image name ("C"); clinical names once asked for are never asked again,
    // so that a late picture of a cancelled request cannot replace another.
    QHash<QString, QWeakPointer<LesionVisualizer>> m_pendingDevice;
    QMap<QString, CameraPose> m_pendingClinical;
    QSet<QString> m_usedClinicalNames;
    QString m_requestName;
    QPointer<QObject> m_requestDialog;
    bool m_requestClosedEarly = false;
    void forgetRequest();

    // The JSON each counter and external pose was read from, so that values
    // that did not change are written back exactly as they came.
    std::vector<QJsonValue> m_counterJson;
    std::vector<QJsonValue> m_externalPoseJson;
};

#pragma once

#include "server/Patient.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QJsonDocument>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <map>
#include <unordered_map>
#include <vector>

class CustomComboBox;
class CustomIconSessionProxyModel;
class LesionVisualizer;
class QButtonGroup;
class QEventLoop;
class QLabel;
class QSplitter;
class QWidget;
class QtVisualizationWidgets;
class ServerVisualizer;
class SessionVisualizer;
class SessionsModel;
class kelvarisVisualizer;

// Loading a patient's sessions and the view modes: the session documents
// arrive and become sessions, the selectors list them, the principal session
// is downloaded and built in the primary view, further sessions are fetched
// quietly for the comparison and dermoscopic views.
//
// Owned by the main window, whose slots of this flow forward here. The loader
// builds the session page, the label legend and the selectors into the
// window's form and drives the window's top bar buttons.
class SessionLoader : public QObject
{
    Q_OBJECT

public:
    enum ViewMode
    {
        HybridView = 0,
        ClinicalView = 1,
        DermoscopicView = 2,
    };
    enum Selector
    {
        PrincipalSelector = 0,
        LeftSelector = 1,
        MidSelector = 2,
        DermatosLeftSelector = 3,
    };
    static constexpr int sessionPageIndex = 3;
    static constexpr int arrivalPollMilliseconds = 500;
    static constexpr int downloadWaitMilliseconds = 180000;

    explicit SessionLoader(kelvarisVisualizer *window);
    ~SessionLoader() override;

    // Builds the session page, the legend and the selectors (once).
    void buildSessionPage(const QStringList &positionNames);
    // The panel of the chosen patient, shown with the patient's session.
    void setPatientPanel(QWidget *panel);
    // Every connection of the flow to the server client.
    void connectTo(ServerVisualizer *server);

    // --- what the window and later flows read ---------------------------------
    const std::map<int, QSharedPointer<SessionVisualizer>> &sessions() const { return m_sessions; }
    const std::vector<int> &sessionIds() const { return m_sessionIds; }
    QSharedPointer<SessionVisualizer> principalSession() const { return m_principalSession; }
    QSharedPointer<SessionVisualizer> secondarySession() const { return m_secondarySession; }
    QtVisualizationWidgets *primaryView() const { return m_primaryView; }
    QtVisualizationWidgets *secondaryView() const { return m_secondaryView; }
    SessionsModel *sessionsModel() const { return m_sessionsModel; }
    CustomComboBox *selector(Selector which) const { return m_selectors[which]; }
    QLabel *selectorLabel(Selector which) const { return m_selectorLabels[which]; }
    QWidget *selectorWidget(Selector which) const { return m_selectorWidgets[which]; }
    QButtonGroup *labelButtons() const { return m_labelButtons; }
    QProgressDialog *loadingDialog() const { return m_loadingDialog; }
    int viewMode() const { return m_viewMode; }
    bool isLoading() const { return m_receiveTimer.isActive(); }
    // Splitter states of the clinical view: vertical, scheme, horizontal.
    QByteArray *splitterStates() { return m_splitterStates; }
    // Links the lesions of the same body position and number across the
    // sessions (each to every other one of its group); number -1 is none.
    static void linkSameLesions(const std::map<int, QSharedPointer<SessionVisualizer>> &sessions);
    bool isWaiting() const { return !m_waitLoop.isNull(); }
    // The longest wait for a session that a view needs (tests shorten it).
    void setDownloadWaitLimit(int milliseconds) { m_downloadWaitLimit = milliseconds; }

public slots:
    void loadPatient(const Patient &patient);
    void initializeProgressDialog(QString title, QString labelText, int value);
    void updateProgressBar(int value, int maximum);
    void recievedSessionJson(QJsonDocument sessionJson, QString patientID, QString sessionID,
                             QDateTime sessionDate, int nJsonToDownload);
    void sessionArrivalCheck();
    void groupLesionsByID();
    void changeHistoricLesions(QSharedPointer<LesionVisualizer> lesion);
    void sessionSelectorChanged(int index, int sectorID);
    void dermatoSessionSelectorChanged(int index, int selectorID);
    void checkDisabledButtons();
    bool ensureSessionDownloaded(int patientId, int sessionId, bool withClinical, bool silently);
    bool buildViewFromDisk();
    bool buildSecondaryView();
    void viewModeButtonClicked(int mode);
    void leaveTwoSessionView();
    void showHybridView();
    void showClinicalView();
    void showDermatosView();
    void downloadCanceled();
    void addNewClinicalImage();
    // What addNewClinicalImage does with the chosen file: read and checked
    // in the background, then stored; ends with clinicalImageAdded.
    void addClinicalImageFile(const QString &path);
    // Releases every session of the patient and ends any wait at once
    // (another patient, back to the menu, cancel, logout).
    void releasePatient();
    // The loader's part of going back to the menu.
    void backToMenu();
    // Page Down / Page Up: the next or previous clinical image of the shown position.
    void showNextImage();
    void showPreviousImage();

signals:
    void labelsSelectionChanged(std::unordered_map<QString, bool> labelsSelected);
    // The loading of a patient ended: with its principal session shown, or not.
    void patientLoaded(bool shown);
    // The end of addClinicalImageFile: whether an image was added.
    void clinicalImageAdded(bool added);
    // The lesions' links across sessions were made again (after loading, a
    // pairing, an undo or a merge): whatever reads twins reads them anew.
    void lesionsRegrouped();
    // A principal session was built in the primary view (the first of a
    // patient, or another one chosen).
    void principalSessionShown();
    // The sessions of the patient are about to be let go (another patient,
    // back to the menu, a cancelled download, logout): the last moment at
    // which their edits can still be saved.
    void sessionsAboutToBeReleased();
    // An image was added to a session by hand and goes to the server with
    // that session's own document: type 'D' (dermatoscopic, to a lesion) or
    // 'G' (clinical, external position). jpeg: the bytes stored for it.
    void imageAdded(QSharedPointer<SessionVisualizer> session, char type, QString fileName, QImage image,
                    QByteArray jpeg);

private:
    bool storeClinicalImage(const QByteArray &bytes);
    static void showMessage(const QString &message, const QString &title, QWidget *parent);
    void buildLegend();
    void buildSelectors();
    void legendButtonClicked();
    void legendDoubleClicked();
    void midSelectorChanged(int index);
    void dermatosLeftSelectorChanged(int index);
    void secondaryDownloadDone();
    void setSelectorsBlocked(bool blocked);
    void setSelectorStyle(CustomComboBox *box, char closed, char open);
    void closeLoadingDialog();
    void checkArrivalSoon();
    void sessionListFailed(QString patientID);
    void sessionDocumentsRequested(QString patientID, int count);
    void sessionDocumentFailed(QString patientID, QString sessionID);
    void endLoadingWithoutSessions(const QString &message);
    void forwardDownloadReply(int patientId, int sessionID, QJsonDocument responseWithUrls, bool silently);
    void forwardImage(int patientId, int sessionId, QString filename, QByteArray buffer, QString type,
                      int typeQuality);
    void connectSession(const QSharedPointer<SessionVisualizer> &session);
    void restoreButtonIcon(int mode);
    void resetViewModes();
    void showHistoricSessions();
    void showPatientPanel(bool shown);
    void stopLoadingAnimation();
    void showSessionChrome();
    QSharedPointer<SessionVisualizer> sessionOfRow(int row) const;
    QSharedPointer<SessionVisualizer> sessionOfSelector(Selector which) const;
    int rowOfSession(int sessionId) const;
    bool isCurrentPatient(const QString &patientID) const;

    kelvarisVisualizer *m_window = nullptr;
    ServerVisualizer *m_server = nullptr;

    std::map<int, QSharedPointer<SessionVisualizer>> m_sessions;
    std::vector<int> m_sessionIds;
    std::atomic<int> m_receivedCount{0};
    std::atomic<int> m_expectedCount{-1};
    // Sessions whose document did not come, for the notification.
    QStringList m_missingSessions;
    QString m_loadingPatient;
    QPointer<QProgressDialog> m_loadingDialog;
    qint64 m_lastProgressUpdate = 0;
    QTimer m_receiveTimer;

    QSharedPointer<SessionVisualizer> m_principalSession;
    QSharedPointer<SessionVisualizer> m_secondarySession;
    SessionsModel *m_sessionsModel = nullptr;
    QtVisualizationWidgets *m_primaryView = nullptr;
    QtVisualizationWidgets *m_secondaryView = nullptr;
    QSplitter *m_verticalSplitter = nullptr;
    QSplitter *m_horizontalSplitter = nullptr;
    QSplitter *m_schemeSplitter = nullptr;
    QButtonGroup *m_labelButtons = nullptr;
    CustomComboBox *m_selectors[4] = {};
    QLabel *m_selectorLabels[4] = {};
    QWidget *m_selectorWidgets[4] = {};
    CustomIconSessionProxyModel *m_dermatosProxies[2] = {};
    // The patient search's panel of the chosen patient.
    QPointer<QWidget> m_patientPanel;
    QWidget *m_schemeWidget = nullptr;

    int m_principalIndex = -1;
    int m_secondaryIndex = -1;
    int m_midIndex = -1;
    int m_dermatosLeftIndex = -1;
    int m_viewMode = HybridView;
    QByteArray m_splitterStates[3];
    QMetaObject::Connection m_secondaryDownloadConnection;
    QMetaObject::Connection m_dermatosDownloadConnection;

    // Raised by every release, so that a wait or a reply of an earlier
    // patient knows it is stale.
    quint64 m_generation = 0;
    QPointer<QEventLoop> m_waitLoop;
    int m_downloadWaitLimit = downloadWaitMilliseconds;
};

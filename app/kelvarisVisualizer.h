#pragma once

#include "app/AppConfiguration.h"
#include "app/ui_kelvarisVisualizer.h"

#include <QButtonGroup>
#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QJsonDocument>
#include <QMainWindow>
#include <QMetaObject>
#include <QModelIndex>
#include <QPointer>
#include <QRect>
#include <QSharedPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <QDate>
#include <QUrl>

#include <atomic>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

class ChangeSummaryFlow;
class CustomHoverButton;
class LesionVisualizer;
class LoginFlow;
class PatientRegistration;
class PatientSearch;
class QImage;
class QMovie;
class QScreen;
class QSplitter;
class QSvgRenderer;
class QtVisualizationWidgets;
class ReportsFlow;
class SavingFlow;
class ServerVisualizer;
class SessionLoader;
class SessionVisualizer;

// The program's single top-level window: a frameless, maximised frame with its
// own title bar, the top bar (application button, patient search, label
// legend, view-mode and action buttons, progress bar) and a stacked central
// area (background page, registration page, session page). It is also the hub
// through which the server client, the sessions and the views are connected,
// and the entry point for notifications from any component.
class kelvarisVisualizer : public QMainWindow
{
    Q_OBJECT

public:
    explicit kelvarisVisualizer(QWidget *parent = nullptr);
    ~kelvarisVisualizer() override;

    // Empty when the configuration file was read; otherwise what was wrong
    // with it (the window then shows only its frame).
    QString configurationError() const { return configError; }
    const QStringList &positionNames() const { return positions; }
    QSize currentButtonIconSize() const { return buttonIconSize; }
    // How many text changes of the search field the search has handled: one
    // per change, however the field is wired.
    int searchTextChangeCount() const { return searchTextChanges; }
    // The flows attached to this frame (null without a configuration); the
    // window's slots forward to them.
    ServerVisualizer *server() const { return serverVisualizer; }
    SessionLoader *sessionLoader() const { return m_sessionLoader; }
    LoginFlow *loginFlow() const { return m_login; }
    PatientSearch *patientSearch() const { return m_search; }
    ChangeSummaryFlow *changeSummaryFlow() const { return m_changes; }
    SavingFlow *savingFlow() const { return m_saving; }
    PatientRegistration *patientRegistration() const { return m_registration; }

signals:
    void pairModeLesionsDone();
    void labelsSelectionChanged(std::unordered_map<QString, bool> labelsSelected);

public slots:
    void on_labelButton_clicked(bool force);
    void on_labelButton_clicked();
    void errorRegisteringPatient(QString message);
    void setMaximumProgressBar(int max);
    void setValueProgressBar(int val);
    void allDoneProgressBar();
    void exitButton_clicked();
    void logoutButton_clicked();
    void on_registerNewPatientButton_clicked();
    void downloadCanceled();
    void saveSessionButton_clicked();
    void recievedSessionJson(QJsonDocument sessionJson, QString patientID, QString sessionID,
                             QDateTime sessionDate, int nJsonToDownload);
    void groupLesionsByID();
    void undoLesionPair();
    bool doLesionPair(bool ask);
    void screenChanged(QScreen *screen);
    void onScreenChangedTimeout();
    void addNewClinicalImage();
    void pairModeLesionSelected(QSharedPointer<LesionVisualizer> lesion, int visualizationID);
    void sessionSelectorChanged(int index, int sectorID);
    void checkDisabledButtons();
    void dermatoSessionSelectorChanged(int index, int selectorID);
    void changeHistoricLesions(QSharedPointer<LesionVisualizer> lesion);
    static void showNotification(QString message, int timeout);
    static void showNotification(QString message);
    void compareClinicalImages();
    void syncSessionCreated(QString id);
    void on_labelQRcodeButton_clicked();
    void saveSplitterStates();
    void loadSplitterStates();
    void on_searchLineEdit_returnPressed();
    void on_searchLineEdit_textChanged(QString text);
    void patientSelected(QModelIndex index);
    bool buildSecondaryView();
    // Queues an upload of every session with changes (also at the end of a
    // capture round).
    void saveSessions();
    void syncManualDermatosDone(std::unordered_map<QString, QSharedPointer<LesionVisualizer>> map);

    // --- reports: forwarded to the reports flow ---------------------------------
    void openReportEditor(QJsonDocument templatesList);
    void reportsListRecieved(std::vector<std::pair<std::pair<QDate, QDate>, QUrl>> list);
    void reconnectReportSignals();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The autosave timer.
    void timerEvent(QTimerEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void applyConfiguration(const AppConfiguration &config);
    void buildTopBarButtons();
    CustomHoverButton *makeTopBarButton(const QString &objectName, const QString &icon,
                                        const QString &hoverIcon, QSize size, const QString &toolTip);
    void buildBackgroundPage();
    void renderBackground();
    void fitMaximizedWithoutWindowManager();
    void showConfigurationError();
    void startLogin();
    // Reports: the flow, its buttons and its notifications. The flow's server
    // connections are made by reportsFlow->connectTo(serverVisualizer) once
    // the server client exists.
    void setUpReports();
    // The name shown in the patient panel (the loaded patient's).
    QString currentPatientName() const;
    void attachFlows(const AppConfiguration &config);

    // The session loading flow keeps its state itself and drives the frame's
    // top bar, session page and selectors.
    friend class SessionLoader;
    SessionLoader *m_sessionLoader = nullptr;

    Ui::kelvarisVisualizerClass ui;

    ServerVisualizer *serverVisualizer = nullptr;
    // Each flow keeps its own state; the slots above forward to them.
    // The login flow holds serverName, userName, isPatientAdmin and loggedIn,
    // the patient search the two style sheets of searchLineEdit.
    LoginFlow *m_login = nullptr;
    PatientSearch *m_search = nullptr;
    // What changed since the last visit (summary, N / Shift+N, gone lesions).
    ChangeSummaryFlow *m_changes = nullptr;
    // Saving, back to the menu, logout, close and the splitter layout file.
    SavingFlow *m_saving = nullptr;
    PatientRegistration *m_registration = nullptr;
    // Sessions, selectors, views, splitters, the legend and the view mode
    // are the session loader's (sessionLoader()).
    QButtonGroup *viewButtons = nullptr;
    QMovie *loadingMovie = nullptr;
    QMetaObject::Connection compareMovieConnection;
    QMetaObject::Connection dermatosMovieConnection;
    QTimer *screenTimer = nullptr;
    int autosaveTimerId = 0;
    QImage *qrImage = nullptr;
    QSize buttonIconSize = QSize(40, 40);
    QColor accentColor = QColor(255, 218, 195);
    int currentPatientId = -1;
    ReportsFlow *reportsFlow = nullptr;
    std::shared_ptr<std::atomic<bool>> captureFlag;

    // The view-mode and action buttons of the top bar.
    CustomHoverButton *setHybridViewButton = nullptr;
    CustomHoverButton *setCompareViewButton = nullptr;
    CustomHoverButton *setDermatosViewButton = nullptr;
    CustomHoverButton *saveSessionButton = nullptr;
    CustomHoverButton *manualButton = nullptr;
    CustomHoverButton *reportListButton = nullptr;
    CustomHoverButton *reportButton = nullptr;
    CustomHoverButton *newPatientButton = nullptr;
    CustomHoverButton *exitButton = nullptr;
    CustomHoverButton *logoutButton = nullptr;

    QStringList positions;
    QString warning;
    QString configError;
    QSvgRenderer *backgroundRenderer = nullptr;
    QRect geometryBeforeFit;
    int searchTextChanges = 0;
};

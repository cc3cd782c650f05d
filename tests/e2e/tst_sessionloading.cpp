// Loading a patient's sessions in the real main window against the stand-in
// server in process: selectors, labels and style sheets for one, two and
// three sessions, the legend, cancelling, waiting, failures, view modes.

#include "app/SessionLoader.h"
#include "app/kelvarisVisualizer.h"
#include "server/StandIn.h"
#include "session/SessionVisualizer.h"
#include "session/SessionsModel.h"
#include "visualization/GraphicsScene.h"
#include "visualization/ImageItemRect.h"
#include "visualization/ListView.h"
#include "visualization/QtVisualizationWidgets.h"
#include "widgets/CustomComboBox.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/QtNotificationWidget.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QLabel>
#include <QMouseEvent>
#include <QMovie>
#include <QProgressDialog>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

namespace {

Patient patient(int id)
{
    Patient p;
    p.patientID = std::to_string(id);
    p.name = "Patient " + std::to_string(id);
    return p;
}

// The texts of the notifications on screen now.
QStringList notifications()
{
    QStringList texts;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QtNotificationWidget *>(widget) && widget->isVisible())
            for (QLabel *label : widget->findChildren<QLabel *>())
                if (!label->text().isEmpty())
                    texts << label->text();
    return texts;
}

void closeNotifications()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QtNotificationWidget *>(widget))
            widget->close();
}

int sessionIdOf(SessionLoader *loader, SessionLoader::Selector which)
{
    const QSharedPointer<SessionVisualizer> s =
        loader->sessionsModel()->sessionAt(loader->selector(which)->currentIndex());
    return s ? s->getSessionId() : -1;
}

// Runs fn once from inside whatever event loop is running when ready() holds,
// also a wait of the loader that blocks the test function.
class WhenReady : public QObject
{
public:
    WhenReady(std::function<bool()> ready, std::function<void()> fn)
    {
        connect(&poll, &QTimer::timeout, this, [this, ready, fn] {
            if (!ready())
                return;
            poll.stop();
            fired = true;
            fn();
        });
        poll.start(5);
    }
    bool fired = false;

private:
    QTimer poll;
};

} // namespace

class tst_SessionLoading : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void selectors_data();
    void selectors();
    void primaryViewBuilt();
    void legendDoubleClick();
    void noSessions();
    void listFailed();
    void cancelWhileListing();
    void cancelWhileWaitingForPrincipal();
    void anotherPatientWhileWaiting();
    void waitTimesOut();
    void slowServer();
    void replyForSessionNotHeld();
    void previousPatientReleased();
    void viewModes();
    void addClinicalImage_data();
    void addClinicalImage();

private:
    bool load(int patientId, int timeout = 15000);

    StandIn standIn;
    QTemporaryDir workDir;
    QString previousDir;
    std::unique_ptr<kelvarisVisualizer> window;
    SessionLoader *loader = nullptr;
    std::unique_ptr<QSignalSpy> loaded;
};

void tst_SessionLoading::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    QVERIFY(workDir.isValid());
    QDir(workDir.path()).mkpath(QStringLiteral("matrius"));
    QJsonObject configuration = standIn.configuration();
    configuration.insert(QStringLiteral("server"), QStringLiteral("demo"));
    configuration.insert(
        QStringLiteral("gui"),
        QJsonObject{{QStringLiteral("names"), QJsonArray{"frontal", "right", "back", "left"}}});
    QFile file(workDir.filePath(QStringLiteral("matrius/configuration.json")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(configuration).toJson());
    file.close();
    previousDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());

    window = std::make_unique<kelvarisVisualizer>();
    QVERIFY(window->configurationError().isEmpty());
    window->resize(1600, 900);
    window->show();
    loader = window->sessionLoader();
    QVERIFY(loader);
    loader->setDownloadWaitLimit(8000);

    ServerVisualizer *server = window->server();
    QSignalSpy endpoint(server, &ServerVisualizer::correctServerName);
    server->getEndpoint(QStringLiteral("demo"));
    QTRY_COMPARE_WITH_TIMEOUT(endpoint.count(), 1, 10000);
    QVERIFY(logIn(*server, *standIn.server, QStringLiteral("doctor")));
    // What the login flow shows once the permissions are known.
    window->findChild<QWidget *>(QStringLiteral("topBarWidget"))->show();
    loaded = std::make_unique<QSignalSpy>(loader, &SessionLoader::patientLoaded);
}

void tst_SessionLoading::init()
{
    loaded->clear();
}

void tst_SessionLoading::cleanup()
{
    standIn->clearFaults();
    window->on_labelButton_clicked(false);
    closeNotifications();
    QTest::qWait(20);
}

bool tst_SessionLoading::load(int patientId, int timeout)
{
    loaded->clear();
    loader->loadPatient(patient(patientId));
    return QTest::qWaitFor([&] { return !loaded->isEmpty(); }, timeout) && loaded->first().first().toBool();
}

void tst_SessionLoading::selectors_data()
{
    QTest::addColumn<int>("patientId");
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<int>("principal");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("mid");
    QTest::addColumn<int>("dermatosLeft");
    QTest::addColumn<QString>("midLabel");
    QTest::addColumn<QString>("midStyles"); // closed and open style letters
    QTest::addColumn<QString>("missing");   // named in a notification, or empty

    QTest::newRow("one session") << 14 << QString() << 111 << -1 << -1 << -1 << "Displayed Left"
                                 << "EF" << QString();
    // The stand-in's first document request fails: announced three, two delivered.
    QTest::newRow("two sessions, one of three documents failed")
        << 12 << "storage-get:fail=1,status=500" << 107 << 108 << 108 << -1 << "Displayed Left"
        << "EF"
        << "106";
    QTest::newRow("three sessions") << 12 << QString() << 106 << 107 << 107 << 108 << "Displayed Mid"
                                    << "GG" << QString();
}

void tst_SessionLoading::selectors()
{
    QFETCH(int, patientId);
    QFETCH(QString, faultText);
    QFETCH(int, principal);
    QFETCH(int, left);
    QFETCH(int, mid);
    QFETCH(int, dermatosLeft);
    QFETCH(QString, midLabel);
    QFETCH(QString, midStyles);
    QFETCH(QString, missing);

    if (!faultText.isEmpty()) {
        QString group;
        DemoFaults::Fault fault;
        QString error;
        QVERIFY(DemoFaults::parseFault(faultText, &group, &fault, &error));
        standIn->setFault(group, fault);
    }
    QVERIFY(load(patientId));
    QVERIFY(!loader->loadingDialog() || !loader->loadingDialog()->isVisible());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(),
             SessionLoader::sessionPageIndex);
    QCOMPARE(loader->principalSession()->getSessionId(), principal);
    QVERIFY(loader->principalSession()->isDownloaded());
    QCOMPARE(sessionIdOf(loader, SessionLoader::PrincipalSelector), principal);
    QCOMPARE(sessionIdOf(loader, SessionLoader::LeftSelector), left);
    QCOMPARE(sessionIdOf(loader, SessionLoader::MidSelector), mid);
    QCOMPARE(sessionIdOf(loader, SessionLoader::DermatosLeftSelector), dermatosLeft);
    QCOMPARE(loader->selectorLabel(SessionLoader::MidSelector)->text(), midLabel);
    QCOMPARE(loader->selectorLabel(SessionLoader::DermatosLeftSelector)->text(), QStringLiteral("Left"));
    CustomComboBox *midBox = loader->selector(SessionLoader::MidSelector);
    QCOMPARE(midBox->closedStyleSheet, CustomComboBox::styleSheetById(midStyles.at(0).toLatin1()));
    QCOMPARE(midBox->openStyleSheet, CustomComboBox::styleSheetById(midStyles.at(1).toLatin1()));
    CustomComboBox *principalBox = loader->selector(SessionLoader::PrincipalSelector);
    QCOMPARE(principalBox->closedStyleSheet, CustomComboBox::styleSheetById('A'));
    QCOMPARE(principalBox->styleSheet(), CustomComboBox::styleSheetById('A'));
    QCOMPARE(loader->selectorLabel(SessionLoader::PrincipalSelector)->text(),
             QStringLiteral("Displayed Session"));
    QVERIFY(loader->selectorWidget(SessionLoader::PrincipalSelector)->isVisible());
    QVERIFY(!loader->selectorWidget(SessionLoader::DermatosLeftSelector)->isVisible());

    auto *compare = window->findChild<CustomHoverButton *>(QStringLiteral("setCompareViewButton"));
    auto *dermatos = window->findChild<CustomHoverButton *>(QStringLiteral("setDermatosViewButton"));
    if (left == -1) {
        // Nothing to compare: both stay disabled and the animation stops.
        QTest::qWait(300);
        QVERIFY(!compare->isEnabled());
        QVERIFY(!dermatos->isEnabled());
        QCOMPARE(window->findChild<QMovie *>()->state(), QMovie::NotRunning);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(compare->isEnabled(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(dermatos->isEnabled(), 15000);
        QVERIFY(loader->secondarySession());
        QCOMPARE(loader->secondarySession()->getSessionId(), left);
    }
    if (missing.isEmpty())
        QVERIFY2(notifications().isEmpty(), qPrintable(notifications().join('|')));
    else
        QVERIFY2(notifications().join('|').contains(missing), qPrintable(notifications().join('|')));
}

void tst_SessionLoading::primaryViewBuilt()
{
    // Session 111 of the sample data: 26 lesions with 80 instances on the
    // device positions (16, 30, 11, 23), none on the external one; 21 of
    // the lesions have dermatoscopic images and are listed.
    QVERIFY(load(14));
    QtVisualizationWidgets *view = loader->primaryView();
    QCOMPARE(view->getSession(), loader->principalSession());
    QVERIFY(view->isBuilt());
    QCOMPARE(view->getSceneCount(), 5);
    const int perScene[5] = {0, 16, 30, 11, 23};
    for (int scene = 0; scene < 5; ++scene) {
        int markers = 0;
        for (QGraphicsItem *item : view->getScene(scene)->items())
            markers += item->type() == ImageItemRect::Type ? 1 : 0;
        QCOMPARE(markers, perScene[scene]);
    }
    auto *proxy = qobject_cast<QAbstractProxyModel *>(view->getListView()->model());
    QVERIFY(proxy);
    QCOMPARE(proxy->sourceModel()->rowCount(), 21);
}

void tst_SessionLoading::legendDoubleClick()
{
    QVERIFY(load(14));
    std::unordered_map<QString, bool> last;
    int maps = 0;
    connect(window.get(), &kelvarisVisualizer::labelsSelectionChanged, this,
            [&](std::unordered_map<QString, bool> map) {
                last = map;
                ++maps;
            });
    QAbstractButton *exeresis = nullptr;
    for (QAbstractButton *button : loader->labelButtons()->buttons())
        if (button->property("originalText").toString() == QLatin1String("Exeresis"))
            exeresis = button;
    QVERIFY(exeresis);
    QVERIFY(exeresis->isVisible());
    // As a mouse delivers a double click: press, release, double click, release.
    const QPoint centre = exeresis->rect().center();
    QTest::mousePress(exeresis, Qt::LeftButton, {}, centre);
    QTest::mouseRelease(exeresis, Qt::LeftButton, {}, centre);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, centre, exeresis->mapToGlobal(centre),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(exeresis, &doubleClick);
    QTest::mouseRelease(exeresis, Qt::LeftButton, {}, centre);
    QVERIFY(maps >= 2);
    QCOMPARE(int(last.size()), 6);
    for (const auto &[label, shown] : last)
        QCOMPARE(shown, label == QLatin1String("Exeresis"));
    for (QAbstractButton *button : loader->labelButtons()->buttons())
        QCOMPARE(button->isChecked(), button == exeresis);

    // A single click adds a label back.
    QAbstractButton *detected = loader->labelButtons()->buttons().first();
    QTest::mouseClick(detected, Qt::LeftButton);
    QCOMPARE(last.at(QStringLiteral("Detected")), true);
    QCOMPARE(last.at(QStringLiteral("Exeresis")), true);
    QCOMPARE(last.at(QStringLiteral("Captured")), false);
    for (QAbstractButton *button : loader->labelButtons()->buttons())
        button->setChecked(true);
}

void tst_SessionLoading::noSessions()
{
    // Patient 15 has no session: the wait ends at once.
    QVERIFY(!load(15, 5000));
    QCOMPARE(loaded->count(), 1);
    QVERIFY(!loader->isLoading());
    QVERIFY(!loader->loadingDialog());
    QVERIFY(loader->sessions().empty());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(), 0);
    QVERIFY2(notifications().contains(QStringLiteral("This patient has no sessions yet")),
             qPrintable(notifications().join('|')));
}

void tst_SessionLoading::listFailed()
{
    standIn->setFault(QStringLiteral("sessions"), [] {
        DemoFaults::Fault f;
        f.failNext = 1;
        f.failStatus = 500;
        return f;
    }());
    QVERIFY(!load(12, 5000));
    QVERIFY(!loader->isLoading());
    QVERIFY(!loader->loadingDialog());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(), 0);
    QVERIFY2(notifications().contains(QStringLiteral("The sessions of this patient could not be downloaded")),
             qPrintable(notifications().join('|')));
}

void tst_SessionLoading::cancelWhileListing()
{
    DemoFaults::Fault hang;
    hang.hang = true;
    standIn->setFault(QStringLiteral("sessions"), hang);
    loader->loadPatient(patient(12));
    QTRY_VERIFY_WITH_TIMEOUT(loader->loadingDialog() && loader->loadingDialog()->isVisible(), 5000);
    auto *cancel =
        loader->loadingDialog()->findChild<QPushButton *>(QStringLiteral("ProgressDialogCancelButton"));
    QVERIFY(cancel);
    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(!loader->isLoading());
    QVERIFY(!loader->loadingDialog());
    QVERIFY(loader->sessions().empty());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(), 0);

    // Nothing of the cancelled load is left behind to stop the next one.
    standIn->clearFaults();
    QVERIFY(load(14));
    QCOMPARE(loader->principalSession()->getSessionId(), 111);
}

void tst_SessionLoading::cancelWhileWaitingForPrincipal()
{
    // The listings hang once the documents are in: the principal is waited for.
    WhenReady hang([this] { return loader->sessions().size() == 3; },
                   [this] {
                       DemoFaults::Fault f;
                       f.hang = true;
                       standIn->setFault(QStringLiteral("sessions"), f);
                   });
    bool waitedWhenCancelled = false;
    WhenReady cancel([this] { return loader->isWaiting(); },
                     [&] {
                         waitedWhenCancelled = true;
                         QTest::mouseClick(loader->loadingDialog()->findChild<QPushButton *>(
                                               QStringLiteral("ProgressDialogCancelButton")),
                                           Qt::LeftButton);
                     });
    QElapsedTimer clock;
    clock.start();
    loader->loadPatient(patient(12));
    QTRY_VERIFY_WITH_TIMEOUT(cancel.fired, 10000);
    QVERIFY(waitedWhenCancelled);
    // Ended at once, not at the wait's limit.
    QTRY_VERIFY_WITH_TIMEOUT(!loader->isWaiting(), 1000);
    QVERIFY(clock.elapsed() < 6000);
    QVERIFY(loader->sessions().empty());
    QVERIFY(!loader->principalSession());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(), 0);
}

void tst_SessionLoading::anotherPatientWhileWaiting()
{
    WhenReady hang([this] { return loader->sessions().size() == 3; },
                   [this] {
                       DemoFaults::Fault f;
                       f.hang = true;
                       standIn->setFault(QStringLiteral("sessions"), f);
                   });
    WhenReady other([this] { return loader->isWaiting(); },
                    [this] {
                        standIn->clearFaults();
                        loader->loadPatient(patient(14));
                    });
    loader->loadPatient(patient(12));
    QTRY_VERIFY_WITH_TIMEOUT(other.fired, 10000);
    // The first patient's load ends without a view; the second one loads.
    QTRY_VERIFY_WITH_TIMEOUT(loader->principalSession(), 15000);
    QCOMPARE(loader->principalSession()->getSessionId(), 111);
    QCOMPARE(loader->primaryView()->getSession(), loader->principalSession());
    QCOMPARE(int(loader->sessions().size()), 1);
}

void tst_SessionLoading::waitTimesOut()
{
    loader->setDownloadWaitLimit(700);
    WhenReady hang([this] { return loader->sessions().size() == 1; },
                   [this] {
                       DemoFaults::Fault f;
                       f.hang = true;
                       standIn->setFault(QStringLiteral("sessions"), f);
                   });
    QVERIFY(!load(14, 8000));
    loader->setDownloadWaitLimit(8000);
    QVERIFY(!loader->principalSession());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(), 0);
    QVERIFY2(notifications().contains(QStringLiteral("The session could not be downloaded")),
             qPrintable(notifications().join('|')));
}

void tst_SessionLoading::slowServer()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 60;
    standIn->setFault(QStringLiteral("sessions"), slow);
    standIn->setFault(QStringLiteral("storage-get"), slow);
    QVERIFY(load(14, 20000));
    QVERIFY(loader->principalSession()->isDownloaded());
}

void tst_SessionLoading::replyForSessionNotHeld()
{
    QVERIFY(load(14));
    ServerVisualizer *server = window->server();
    // Replies of a session that is not (or no longer) held are dropped.
    emit server->sessionDownloadReply(14, 999, QJsonDocument(QJsonObject{}), true);
    emit server->imgDownloadDone(14, 999, QStringLiteral("a.jpg"), QByteArray("x"), QStringLiteral("C"), 1);
    QCOMPARE(int(loader->sessions().size()), 1);
    QCOMPARE(loader->sessions().count(999), size_t(0));
}

void tst_SessionLoading::previousPatientReleased()
{
    QVERIFY(load(12));
    std::vector<QWeakPointer<SessionVisualizer>> sessions;
    std::vector<QWeakPointer<LesionVisualizer>> lesions;
    for (const auto &[id, s] : loader->sessions()) {
        sessions.push_back(s);
        for (const auto &[position, list] : s->getLesions().toStdMap())
            for (const auto &lesion : list)
                lesions.push_back(lesion);
    }
    QVERIFY(lesions.size() > 10);
    QVERIFY(load(14));
    QTest::qWait(50);
    for (const auto &s : sessions)
        QVERIFY(s.isNull());
    for (const auto &l : lesions)
        QVERIFY(l.isNull());
}

void tst_SessionLoading::viewModes()
{
    QVERIFY(load(12));
    auto *compare = window->findChild<CustomHoverButton *>(QStringLiteral("setCompareViewButton"));
    auto *dermatos = window->findChild<CustomHoverButton *>(QStringLiteral("setDermatosViewButton"));
    auto *hybrid = window->findChild<CustomHoverButton *>(QStringLiteral("setHybridViewButton"));
    QTRY_VERIFY_WITH_TIMEOUT(compare->isEnabled() && dermatos->isEnabled(), 15000);
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR");
    QDir().mkpath(dir);
    QTest::qWait(200);
    window->grab().save(dir + QStringLiteral("/sessionloading_hybrid.png"));

    QTest::mouseClick(dermatos, Qt::LeftButton);
    QCOMPARE(loader->viewMode(), int(SessionLoader::DermoscopicView));
    QCOMPARE(loader->selectorLabel(SessionLoader::PrincipalSelector)->text(),
             QStringLiteral("Displayed Right"));
    QCOMPARE(loader->selector(SessionLoader::PrincipalSelector)->closedStyleSheet,
             CustomComboBox::styleSheetById('C'));
    QVERIFY(loader->selectorWidget(SessionLoader::MidSelector)->isVisible());
    QVERIFY(loader->selectorWidget(SessionLoader::DermatosLeftSelector)->isVisible());
    QVERIFY(!loader->selectorWidget(SessionLoader::LeftSelector)->isVisible());
    QTest::qWait(200);
    window->grab().save(dir + QStringLiteral("/sessionloading_dermoscopic.png"));

    QTest::mouseClick(compare, Qt::LeftButton);
    QCOMPARE(loader->viewMode(), int(SessionLoader::ClinicalView));
    QVERIFY(loader->secondaryView()->isVisible());
    QVERIFY(loader->selectorWidget(SessionLoader::LeftSelector)->isVisible());
    QVERIFY(!loader->selectorWidget(SessionLoader::MidSelector)->isVisible());
    QCOMPARE(loader->secondaryView()->getSession(), loader->secondarySession());
    QTest::qWait(200);
    window->grab().save(dir + QStringLiteral("/sessionloading_clinical.png"));

    QTest::mouseClick(hybrid, Qt::LeftButton);
    QCOMPARE(loader->viewMode(), int(SessionLoader::HybridView));
    QVERIFY(!loader->secondaryView()->isVisible());
    QCOMPARE(loader->selectorLabel(SessionLoader::PrincipalSelector)->text(),
             QStringLiteral("Displayed Session"));
}

void tst_SessionLoading::addClinicalImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("added");
    QTest::addColumn<QString>("message");

    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(180, 120, 100));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    QTest::newRow("a JPEG") << jpeg << true << QString();
    QTest::newRow("cut short") << jpeg.left(jpeg.size() / 2) << false << "Warning: The image is corrupt";
    QTest::newRow("not an image") << QByteArray("plain text, not a picture") << false
                                  << "Warning: The image is corrupt";
    QTest::newRow("empty file") << QByteArray() << false << "Warning: The image is corrupt";
}

void tst_SessionLoading::addClinicalImage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, added);
    QFETCH(QString, message);

    QVERIFY(load(14));
    const QSharedPointer<SessionVisualizer> session = loader->principalSession();
    const int externalBefore = int(session->getCameraPoses(SessionVisualizer::externalPosition).size());
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(bytes);
    file.close();

    QSignalSpy done(loader, &SessionLoader::clinicalImageAdded);
    loader->addClinicalImageFile(file.fileName());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(done.first().first().toBool(), added);
    QCOMPARE(int(session->getCameraPoses(SessionVisualizer::externalPosition).size()),
             externalBefore + (added ? 1 : 0));
    QCOMPARE(session->hasChangesToSave(), added);

    QString shown;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<CustomMessageBox *>(widget); box && box->isVisible()) {
            shown = box->messageLabel->text();
            box->close();
        }
    QCOMPARE(shown, message);
}

QTEST_MAIN(tst_SessionLoading)
#include "tst_sessionloading.moc"

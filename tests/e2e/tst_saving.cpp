// Saving, back to the menu, logout and close in the real main window against
// the stand-in: what reaches the server, which questions are asked, and what
// a logout leaves behind.

#include "e2e/SessionLoadingFixture.h"

#include "app/PatientSearch.h"
#include "app/SavingFlow.h"
#include "app/SplitterStateFile.h"
#include "session/LesionVisualizer.h"

#include <QProgressBar>
#include <QProgressDialog>

namespace {

struct LesionRef
{
    int position = -1;
    int number = -1;
};

QString documentObject(int session)
{
    return QStringLiteral("sessions/%1/%2/session.json").arg(session < 110 ? 11 : 14).arg(session);
}

QSharedPointer<LesionVisualizer> findLesion(const QSharedPointer<SessionVisualizer> &session, LesionRef ref)
{
    for (const auto &lesion : session->getLesions().value(ref.position))
        if (lesion->getNumericID() == ref.number)
            return lesion;
    return {};
}

// Gives a lesion of the session a label it does not have yet.
LesionRef relabel(const QSharedPointer<SessionVisualizer> &session, const QString &label, int skip = 0)
{
    for (const auto &list : session->getLesions())
        for (const auto &lesion : list)
            if (lesion->getLabel() != label && skip-- <= 0) {
                lesion->setLabel(label);
                return {lesion->getPosition(), lesion->getNumericID()};
            }
    return {};
}

QString screenshotPath(const QString &name)
{
    return QString::fromLocal8Bit(qgetenv("KELVARIS_SCREENSHOT_DIR")) + QLatin1Char('/') + name +
           QStringLiteral(".png");
}

QString titleOf(CustomMessageBox *box)
{
    for (QLabel *label : box->findChildren<QLabel *>())
        if (label != box->messageLabel && !label->text().isEmpty())
            return label->text();
    return {};
}

QByteArray jpegFile(QTemporaryDir &dir, const QString &name, QColor colour)
{
    QImage picture(320, 240, QImage::Format_RGB32);
    picture.fill(colour);
    const QString path = dir.filePath(name);
    picture.save(path, "JPG", 90);
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace

class tst_Saving : public QObject, public SessionLoadingFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void saveButtonSavesChangedSessionsOnly();
    void imagesGoWithTheirOwnSession();
    void anotherPatientSavesTheFirst();
    void backAsks_data();
    void backAsks();
    void loaderGoesBackWithoutAsking();
    void serverTimeoutLogsOutThroughTheSave();
    void logoutWithPutInFlight();
    void closeWithJobsLeftCanBeCancelled();
    void closeRightAfterAnEdit();

private:
    QSharedPointer<SessionVisualizer> session(int id) const { return loader->sessions().at(id); }
    // The stored document of a session, read as the program reads it.
    QSharedPointer<SessionVisualizer> stored(int id) const;
    qsizetype versions(int id) const { return standIn->storedHistory(documentObject(id)).size(); }
    CustomMessageBox *question() const { return window->savingFlow()->question(); }
    bool drained() const
    {
        return QTest::qWaitFor([this] { return window->server()->uploadQueueSize() == 0; }, 20000);
    }
    void setLatency(const QString &group, int milliseconds);
    QProgressBar *bar() const { return window->findChild<QProgressBar *>(QStringLiteral("progressBar")); }
    int page() const
    {
        return window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex();
    }
    bool patientShown(int id);

    QTemporaryDir files;
};

void tst_Saving::initTestCase()
{
    // The screenshots show the dialogs as the program styles them.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    setUp();
    QVERIFY(window->savingFlow());
}

void tst_Saving::init()
{
    clear();
    window->savingFlow()->setDrainWaitLimit(SavingFlow::drainWaitMilliseconds);
    if (!window->loginFlow()->isLoggedIn())
        QVERIFY(logInAs(*window, QStringLiteral("doctor")));
}

void tst_Saving::cleanup()
{
    // A failed case leaves no question and no job to the next one.
    if (CustomMessageBox *box = question())
        box->reject();
    standIn->clearFaults();
    QVERIFY(drained());
}

QSharedPointer<SessionVisualizer> tst_Saving::stored(int id) const
{
    const QJsonDocument document = QJsonDocument::fromJson(standIn->storedObject(documentObject(id)));
    auto session = QSharedPointer<SessionVisualizer>::create(QStringLiteral("stored/%1").arg(id), 0, id,
                                                             document, QDateTime::currentDateTime());
    session->readSessionJson();
    return session;
}

void tst_Saving::setLatency(const QString &group, int milliseconds)
{
    DemoFaults::Fault slow;
    slow.latencyMs = milliseconds;
    standIn->setFault(group, slow);
}

bool tst_Saving::patientShown(int id)
{
    const QSharedPointer<SessionVisualizer> shown = loader->principalSession();
    if (shown && shown->getPatientId() == id && page() == SessionLoader::sessionPageIndex)
        return true;
    return load(id, 20000);
}

// The save button queues one job per changed session, shows the bar while
// they are queued, and writes the splitter layout; a session without
// changes sends nothing.
void tst_Saving::saveButtonSavesChangedSessionsOnly()
{
    QVERIFY(patientShown(11));
    const qsizetype before101 = versions(101), before102 = versions(102), before103 = versions(103);
    const LesionRef a = relabel(session(101), QStringLiteral("Exeresis"));
    const LesionRef b = relabel(session(103), QStringLiteral("Follow up"));
    QVERIFY(a.number >= 0 && b.number >= 0);
    QFile::remove(SplitterStateFile::writtenFileName());

    auto *save = window->findChild<QPushButton *>(QStringLiteral("saveSessionButton"));
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(window->server()->uploadQueueSize(), 2);
    QVERIFY(!bar()->isHidden());
    QVERIFY(drained());
    QVERIFY(bar()->isHidden());
    QCOMPARE(versions(101), before101 + 1);
    QCOMPARE(versions(102), before102);
    QCOMPARE(versions(103), before103 + 1);
    QCOMPARE(findLesion(stored(101), a)->getLabel(), QStringLiteral("Exeresis"));
    QCOMPARE(findLesion(stored(103), b)->getLabel(), QStringLiteral("Follow up"));
    const auto layout = SplitterStateFile::load(SplitterStateFile::writtenFileName());
    QVERIFY(layout);
    QCOMPARE(layout->viewStates, loader->primaryView()->getSplitterStates());

    // Nothing changed since: nothing is sent.
    RequestLog requests(window->server());
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(window->server()->uploadQueueSize(), 0);
    QTest::qWait(300);
    QCOMPARE(requests.withOperation(QStringLiteral("assignExternalDermato")).size(), size_t(0));
}

// A dermatoscopic image added to a lesion of an older session goes up with
// that session's document and leaves the principal's edits unsaved; a
// clinical image goes with the principal's. Both go as the bytes chosen.
void tst_Saving::imagesGoWithTheirOwnSession()
{
    QVERIFY(patientShown(11));
    const QSharedPointer<SessionVisualizer> principal = session(101), older = session(102);
    const LesionRef edited = relabel(principal, QStringLiteral("Custom 1"));
    const qsizetype before101 = versions(101), before102 = versions(102);

    const QByteArray dermatoscopic = jpegFile(files, QStringLiteral("d.jpg"), QColor(150, 90, 70));
    QSharedPointer<LesionVisualizer> lesion;
    for (const auto &list : older->getLesions())
        if (!lesion && !list.empty())
            lesion = list.front();
    QVERIFY(lesion);
    const LesionRef target{lesion->getPosition(), lesion->getNumericID()};
    {
        QWidget holder; // the menu row that makes the lesion current
        holder.setLayout(older->getContextMenuLayout(lesion));
    }
    QSignalSpy finished(older.data(), &SessionVisualizer::externalImageFinished);
    older->addExternalFile(files.filePath(QStringLiteral("d.jpg")));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QVERIFY(finished.first().first().toBool());
    QVERIFY(drained());
    const QString id = lesion->getLastDermatoscopicId();
    QCOMPARE(versions(102), before102 + 1);
    QCOMPARE(findLesion(stored(102), target)->getLastDermatoscopicId(), id);
    QCOMPARE(
        standIn->storedObject(QStringLiteral("sessions/11/102/dermatoscopic/") + id + QStringLiteral(".jpg")),
        dermatoscopic);
    QCOMPARE(versions(101), before101);
    QVERIFY(principal->hasChangesToSave());

    const QByteArray clinical = jpegFile(files, QStringLiteral("c.jpg"), QColor(200, 160, 140));
    const size_t external = principal->getCameraPoses(SessionVisualizer::externalPosition).size();
    QSignalSpy added(loader, &SessionLoader::clinicalImageAdded);
    loader->addClinicalImageFile(files.filePath(QStringLiteral("c.jpg")));
    QTRY_COMPARE_WITH_TIMEOUT(added.count(), 1, 10000);
    QVERIFY(added.first().first().toBool());
    QVERIFY(drained());
    QCOMPARE(versions(101), before101 + 1);
    const QSharedPointer<SessionVisualizer> saved = stored(101);
    QCOMPARE(saved->getCameraPoses(SessionVisualizer::externalPosition).size(), external + 1);
    QCOMPARE(findLesion(saved, edited)->getLabel(), QStringLiteral("Custom 1"));
    const QString name =
        principal->clinicalImageName(principal->getCameraPoses(SessionVisualizer::externalPosition).back(),
                                     SessionVisualizer::externalPosition);
    QCOMPARE(standIn->storedObject(QStringLiteral("sessions/11/101/imgL/") + name + QStringLiteral("e.jpg")),
             clinical);
    QVERIFY(!principal->hasChangesToSave());
}

// The sessions are saved before they are let go for another patient.
void tst_Saving::anotherPatientSavesTheFirst()
{
    QVERIFY(patientShown(11));
    const LesionRef edited = relabel(session(104), QStringLiteral("Custom 2"));
    const qsizetype before = versions(104);
    QVERIFY(load(14));
    QVERIFY(drained());
    QCOMPARE(versions(104), before + 1);
    QCOMPARE(findLesion(stored(104), edited)->getLabel(), QStringLiteral("Custom 2"));
}

void tst_Saving::backAsks_data()
{
    QTest::addColumn<bool>("sessionShown");
    QTest::addColumn<int>("storageLatency"); // > 0: an edit is on its way when asked
    QTest::addColumn<QString>("asked");      // empty: no question
    QTest::newRow("session shown") << true << 0 << "Going back to the menu";
    QTest::newRow("changes on their way")
        << true << 1500 << "Server is saving your last changes, exiting might lose data.";
    QTest::newRow("on the menu") << false << 0 << "";
}

// Cancel keeps everything as it was; OK goes back, and what is queued is
// still stored (going back is no logout).
void tst_Saving::backAsks()
{
    QFETCH(bool, sessionShown);
    QFETCH(int, storageLatency);
    QFETCH(QString, asked);
    LesionRef edited;
    qsizetype before = 0;
    if (sessionShown) {
        QVERIFY(patientShown(14));
        if (storageLatency) {
            setLatency(QStringLiteral("storage-put"), storageLatency);
            before = versions(111);
            edited = relabel(session(111), QStringLiteral("Exeresis"));
        }
    } else {
        window->on_labelButton_clicked(true);
    }
    const int pageBefore = page();
    auto *labelButton = window->findChild<QPushButton *>(QStringLiteral("labelButton"));
    QTest::mouseClick(labelButton, Qt::LeftButton);
    if (asked.isEmpty()) {
        QVERIFY(!question());
        QCOMPARE(page(), 0);
        return;
    }
    QVERIFY(question() && question()->isVisible());
    QCOMPARE(question()->messageLabel->text(), asked);
    QCOMPARE(titleOf(question()), QStringLiteral("Back"));
    question()->grab().save(
        screenshotPath(QStringLiteral("back-") + QString::fromLatin1(QTest::currentDataTag())));
    QTest::mouseClick(question()->cancelButton(), Qt::LeftButton);
    QTRY_VERIFY(!question());
    QCOMPARE(page(), pageBefore);
    QVERIFY(loader->principalSession());

    QTest::mouseClick(labelButton, Qt::LeftButton);
    QVERIFY(question());
    QTest::mouseClick(question()->okButton(), Qt::LeftButton);
    QTRY_VERIFY(!question());
    QCOMPARE(page(), 0);
    QVERIFY(loader->sessions().empty());
    if (storageLatency) {
        QVERIFY(drained());
        QCOMPARE(versions(111), before + 1);
        QCOMPARE(findLesion(stored(111), edited)->getLabel(), QStringLiteral("Exeresis"));
    }
}

// A patient without sessions chosen while another one is shown: the loader
// lets the first go (saving its edits) and returns to the menu itself,
// without a question that would leave the released patient's page showing.
void tst_Saving::loaderGoesBackWithoutAsking()
{
    QVERIFY(patientShown(14));
    const qsizetype before = versions(111);
    relabel(session(111), QStringLiteral("Custom 1"), 4);
    QVERIFY(!load(15, 10000));
    QVERIFY(!question());
    QCOMPARE(page(), 0);
    QVERIFY(window->findChild<QWidget *>(QStringLiteral("widget_doctor"))->isVisible());
    QVERIFY(drained());
    QCOMPARE(versions(111), before + 1);
}

// The server's time-out is a logout: the edit is saved first, and with the
// queue drained no question is asked. Once logged out, further time-outs
// change nothing.
void tst_Saving::serverTimeoutLogsOutThroughTheSave()
{
    QVERIFY(patientShown(14));
    setLatency(QStringLiteral("storage-put"), 300);
    const qsizetype before = versions(111);
    const LesionRef edited = relabel(session(111), QStringLiteral("Follow up"));
    QSignalSpy loggedOut(window->loginFlow(), &LoginFlow::loggedOut);
    emit window->server()->serverTimeout();
    QVERIFY(window->savingFlow()->drainDialog());
    QTRY_VERIFY_WITH_TIMEOUT(window->loginFlow()->dialog() && window->loginFlow()->dialog()->isVisible(),
                             15000);
    QVERIFY(!question());
    QCOMPARE(loggedOut.count(), 1);
    QCOMPARE(versions(111), before + 1);
    QCOMPARE(findLesion(stored(111), edited)->getLabel(), QStringLiteral("Follow up"));
    QVERIFY(loader->sessions().empty());

    QtAuthDialog *dialog = window->loginFlow()->dialog();
    emit window->server()->serverTimeout();
    QTest::qWait(200);
    QVERIFY(!question() && !window->savingFlow()->drainDialog());
    QCOMPARE(window->loginFlow()->dialog(), dialog);
    QCOMPARE(loggedOut.count(), 1);
    // Closing from the login dialog asks nothing.
    QVERIFY(window->savingFlow()->closeRequested());
    QVERIFY(!question());
}

// Edits saved on the way back are still on the wire when the user logs out:
// the wait gives up, the warning is accepted, and nothing of that login is
// sent afterwards, not even once another user has logged in and saved.
void tst_Saving::logoutWithPutInFlight()
{
    QVERIFY(patientShown(14));
    window->savingFlow()->setDrainWaitLimit(400);
    setLatency(QStringLiteral("storage-put"), 1500);
    const qsizetype before = versions(111);
    relabel(session(111), QStringLiteral("Custom 1"));
    {
        RequestLog requests(window->server());
        window->on_labelButton_clicked(true);
        QCOMPARE(window->server()->uploadQueueSize(), 1);
        // Announced: the document PUT is on its way.
        QTRY_COMPARE_WITH_TIMEOUT(requests.withOperation(QStringLiteral("assignExternalDermato")).size(),
                                  size_t(1), 5000);
    }
    RequestLog afterLogout(window->server());
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("logoutButton")), Qt::LeftButton);
    QProgressDialog *wait = window->savingFlow()->drainDialog();
    QVERIFY(wait && wait->isVisible());
    QCOMPARE(wait->labelText(), QStringLiteral("Saving your last changes…"));
    wait->grab().save(screenshotPath(QStringLiteral("saving-last-changes")));
    QTRY_VERIFY_WITH_TIMEOUT(question(), 5000);
    QCOMPARE(titleOf(question()), QStringLiteral("Logout"));
    QCOMPARE(question()->messageLabel->text(),
             QStringLiteral(
                 "Server is still saving your last changes, if you logout all changes could be lost.\n"));
    question()->grab().save(screenshotPath(QStringLiteral("logout-warning")));
    QTest::mouseClick(question()->okButton(), Qt::LeftButton);
    QTRY_VERIFY(window->loginFlow()->dialog() && window->loginFlow()->dialog()->isVisible());
    QCOMPARE(window->server()->uploadQueueSize(), 0);
    QVERIFY(bar()->isHidden());
    QCOMPARE(window->patientSearch()->knownPatients().size(), size_t(0));

    standIn->clearFaults();
    QVERIFY(logInAs(*window, QStringLiteral("chief")));
    QVERIFY(load(14));
    const QSharedPointer<SessionVisualizer> next = session(111);
    const LesionRef edited = relabel(next, QStringLiteral("Custom 2"), 3);
    window->saveSessionButton_clicked();
    QVERIFY(drained());
    QTest::qWait(1700); // past the latency of the PUT that was on its way
    // At most the PUT already on the wire landed, and the next login's save.
    const QList<QByteArray> history = standIn->storedHistory(documentObject(111));
    QVERIFY2(history.size() - before <= 2 && history.size() - before >= 1,
             qPrintable(QString::number(history.size() - before)));
    QCOMPARE(findLesion(stored(111), edited)->getLabel(), QStringLiteral("Custom 2"));
    int puts = 0;
    for (const SentRequest &r : afterLogout.requests)
        puts += r.verb == "PUT" && r.error == QNetworkReply::NoError ? 1 : 0;
    QCOMPARE(puts, 1); // the next login's document only
}

// Leaving with jobs still queued after the wait: the warning, and Cancel
// keeps the window and lets the job finish.
void tst_Saving::closeWithJobsLeftCanBeCancelled()
{
    QVERIFY(patientShown(14));
    window->savingFlow()->setDrainWaitLimit(300);
    setLatency(QStringLiteral("storage-put"), 1500);
    const qsizetype before = versions(111);
    relabel(session(111), QStringLiteral("Exeresis"), 1);
    QVERIFY(!window->close());
    QTRY_VERIFY_WITH_TIMEOUT(question(), 5000);
    QCOMPARE(titleOf(question()), QStringLiteral("Close"));
    QCOMPARE(question()->messageLabel->text(),
             QStringLiteral(
                 "Server is still saving your last changes, if you close all changes could be lost.\n"));
    question()->grab().save(screenshotPath(QStringLiteral("close-warning")));
    QTest::mouseClick(question()->cancelButton(), Qt::LeftButton);
    QTRY_VERIFY(!question());
    QVERIFY(window->isVisible());
    QVERIFY(drained());
    QCOMPARE(versions(111), before + 1);
}

// Closing right after an edit, with a slow storage: the edit is stored
// while "Saving your last changes…" shows, no warning comes, only "Closing
// app.", whose OK closes the window.
void tst_Saving::closeRightAfterAnEdit()
{
    QVERIFY(patientShown(14));
    setLatency(QStringLiteral("storage-put"), 2000);
    const qsizetype before = versions(111);
    const LesionRef edited = relabel(session(111), QStringLiteral("Follow up"), 2);
    QStringList asked;
    QObject context;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &context, [&] {
        if (question() && (asked.isEmpty() || asked.last() != question()->messageLabel->text()))
            asked << question()->messageLabel->text();
    });
    watch.start(10);
    QVERIFY(!window->close());
    QVERIFY(window->savingFlow()->drainDialog());
    QTRY_VERIFY_WITH_TIMEOUT(question(), 15000);
    QCOMPARE(asked, QStringList{QStringLiteral("Closing app.\n")});
    QCOMPARE(titleOf(question()), QStringLiteral("Close"));
    QCOMPARE(versions(111), before + 1);
    QCOMPARE(findLesion(stored(111), edited)->getLabel(), QStringLiteral("Follow up"));
    question()->grab().save(screenshotPath(QStringLiteral("close-closing-app")));
    QTest::mouseClick(question()->okButton(), Qt::LeftButton);
    QTRY_VERIFY(!window->isVisible());
}

QTEST_MAIN(tst_Saving)
#include "tst_saving.moc"

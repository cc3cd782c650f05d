// Loading a patient when things go wrong: no sessions, a failed list,
// Cancel while listing or waiting, another patient while waiting, a wait
// that times out, a slow server.

#include "e2e/SessionLoadingFixture.h"

class tst_SessionLoadingFaults : public QObject, public SessionLoadingFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { setUp(); }
    void init() { clear(); }

    void noSessions();
    void listFailed();
    void cancelWhileListing();
    void cancelWhileWaitingForPrincipal();
    void anotherPatientWhileWaiting();
    void waitTimesOut();
    void slowServer();
};

void tst_SessionLoadingFaults::noSessions()
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

void tst_SessionLoadingFaults::listFailed()
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

void tst_SessionLoadingFaults::cancelWhileListing()
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

void tst_SessionLoadingFaults::cancelWhileWaitingForPrincipal()
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

void tst_SessionLoadingFaults::anotherPatientWhileWaiting()
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

void tst_SessionLoadingFaults::waitTimesOut()
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

void tst_SessionLoadingFaults::slowServer()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 40;
    standIn->setFault(QStringLiteral("sessions"), slow);
    standIn->setFault(QStringLiteral("storage-get"), slow);
    QVERIFY(load(14, 20000));
    QVERIFY(loader->principalSession()->isDownloaded());
}

QTEST_MAIN(tst_SessionLoadingFaults)
#include "tst_sessionloadingfaults.moc"

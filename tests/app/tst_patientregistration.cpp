// Patient registration in the main window, against the stand-in: a late
// confirmation, refusals, a second click while waiting, the page reopened,
// and what the trace never holds.

#include "MainWindowLogin.h"

#include "app/PatientRegistration.h"

#include <QLabel>
#include <QStackedWidget>

class tst_PatientRegistration : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup() { standIn->clearFaults(); }
    void lateConfirmationIsShown();
    void refusals_data();
    void refusals();
    void reopeningEmptiesThePage();
    void cleanupTestCase();

private:
    template <typename T> T *w(const char *name) { return window->findChild<T *>(QString::fromLatin1(name)); }
    void fill(const QString &first, const QString &last, const QString &id, const QString &email);
    bool messageShown() const;

    StandIn standIn;
    std::unique_ptr<StandInWorkingDirectory> directory;
    std::unique_ptr<kelvarisVisualizer> window;
};

void tst_PatientRegistration::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    directory = std::make_unique<StandInWorkingDirectory>(standIn);
    window = std::make_unique<kelvarisVisualizer>();
    window->resize(1400, 900);
    window->show();
    QVERIFY(logInAs(*window, QStringLiteral("admin")));
    QVERIFY(window->patientRegistration());
}

void tst_PatientRegistration::cleanupTestCase()
{
    window.reset();
    directory.reset();
}

void tst_PatientRegistration::fill(const QString &first, const QString &last, const QString &id,
                                   const QString &email)
{
    QTest::mouseClick(w<QPushButton>("newPatientButton"), Qt::LeftButton);
    QCOMPARE(w<QStackedWidget>("stackedWidget")->currentIndex(), 2);
    // Typed where the key events allow it (plain ASCII).
    w<QLineEdit>("lineEditFNAME")->setText(first);
    w<QLineEdit>("lineEditLNAME")->setText(last);
    QTest::keyClicks(w<QLineEdit>("lineEditID"), id);
    QTest::keyClicks(w<QLineEdit>("lineEditEMAIL"), email);
}

bool tst_PatientRegistration::messageShown() const
{
    return window->findChild<QWidget *>(QStringLiteral("messageWidget"))->isVisible();
}

// The answer takes longer than the 2 s the page used to wait: it is shown
// when it comes, and Register cannot send the patient a second time meanwhile.
void tst_PatientRegistration::lateConfirmationIsShown()
{
    DemoFaults::Fault slow;
    slow.latencyMs = 2500;
    standIn->setFault(QStringLiteral("patients"), slow);
    TraceCapture trace;
    RequestLog requests(window->server());
    fill(QStringLiteral("Núria"), QStringLiteral("Vidal Roca"), QStringLiteral("KV-2001"),
         QStringLiteral("nuria.vidal@example.org"));
    auto *button = w<QPushButton>("registerNewPatientButton");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton); // ignored while disabled
    QTest::keyClick(w<QLineEdit>("lineEditEMAIL"), Qt::Key_Return);
    QTest::qWait(2200);
    QVERIFY(!button->isEnabled());
    QVERIFY(!w<QLabel>("textBrowser")->text().contains(QStringLiteral("Correctly")));
    QTRY_COMPARE_WITH_TIMEOUT(w<QLabel>("textBrowser")->text(),
                              QStringLiteral("Correctly registered patient."), 15000);
    QVERIFY(button->isEnabled());
    QVERIFY(messageShown());
    QCOMPARE(w<QLabel>("textBrowser")->styleSheet(), PatientRegistration::successStyle());
    QCOMPARE(requests.withOperation(QStringLiteral("registerPatient")).size(), size_t(1));
    // The fields stay, for the user to see what was registered.
    QCOMPARE(w<QLineEdit>("lineEditID")->text(), QStringLiteral("KV-2001"));
    w<QWidget>("stackedWidget")
        ->grab()
        .save(QString::fromLocal8Bit(qgetenv("KELVARIS_SCREENSHOT_DIR")) +
              QStringLiteral("/registration-confirmed.png"));
    for (const QString &secret : {QStringLiteral("Núria"), QStringLiteral("Vidal"), QStringLiteral("KV-2001"),
                                  QStringLiteral("nuria.vidal")})
        QVERIFY2(!trace.text().contains(secret), qPrintable(secret));
}

void tst_PatientRegistration::refusals_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("code"); // in the server's answer, shown without its quotes
    QTest::newRow("identifier in use") << "KV-1001"
                                       << "someone@example.org"
                                       << "duplicate_center_id";
    QTest::newRow("no e-mail address") << "KV-2002"
                                       << "not-an-address"
                                       << "invalid_email";
}

void tst_PatientRegistration::refusals()
{
    QFETCH(QString, id);
    QFETCH(QString, email);
    QFETCH(QString, code);
    fill(QStringLiteral("Pere"), QStringLiteral("Serra"), id, email);
    QTest::mouseClick(w<QPushButton>("registerNewPatientButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w<QLabel>("textBrowser")->text().contains(code), 10000);
    const QString shown = w<QLabel>("textBrowser")->text();
    QVERIFY2(!shown.contains(QLatin1Char('"')), qPrintable(shown));
    QCOMPARE(w<QLabel>("textBrowser")->styleSheet(), PatientRegistration::refusalStyle());
    QVERIFY(w<QPushButton>("registerNewPatientButton")->isEnabled());
    w<QWidget>("stackedWidget")
        ->grab()
        .save(QString::fromLocal8Bit(qgetenv("KELVARIS_SCREENSHOT_DIR")) +
              QStringLiteral("/registration-refused.png"));
}

void tst_PatientRegistration::reopeningEmptiesThePage()
{
    fill(QStringLiteral("Anna"), QStringLiteral("Pons"), QStringLiteral("KV-1001"),
         QStringLiteral("anna@example.org"));
    QTest::mouseClick(w<QPushButton>("registerNewPatientButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(messageShown(), 10000);
    QTRY_VERIFY(w<QPushButton>("registerNewPatientButton")->isEnabled());
    QTest::mouseClick(w<QPushButton>("newPatientButton"), Qt::LeftButton);
    QVERIFY(!messageShown());
    for (const char *field : {"lineEditFNAME", "lineEditLNAME", "lineEditID", "lineEditEMAIL"})
        QVERIFY2(w<QLineEdit>(field)->text().isEmpty(), field);
}

QTEST_MAIN(tst_PatientRegistration)
#include "tst_patientregistration.moc"

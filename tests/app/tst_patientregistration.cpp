// Patient registration in the main window, against the stand-in: a late
// confirmation, refusals, a second click while waiting, the page reopened,
// and what the trace never holds.

#include "MainWindowLogin.h"

#include "app/PatientRegistration.h"

#include <QApplication>
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
    void refusalTexts_data();
    void refusalTexts();
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
    // The screenshots show the page as the program styles it.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    if (sheet.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
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
    QTest::addColumn<QString>("shown"); // the server's message, not its error object
    QTest::newRow("identifier in use") << "KV-1001"
                                       << "someone@example.org"
                                       << "A patient with this identifier already exists.";
    QTest::newRow("no e-mail address") << "KV-2002"
                                       << "not-an-address"
                                       << "The e-mail address is not valid.";
}

void tst_PatientRegistration::refusals()
{
    QFETCH(QString, id);
    QFETCH(QString, email);
    QFETCH(QString, shown);
    fill(QStringLiteral("Pere"), QStringLiteral("Serra"), id, email);
    QTest::mouseClick(w<QPushButton>("registerNewPatientButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w<QLabel>("textBrowser")->text(), shown, 10000);
    QCOMPARE(w<QLabel>("textBrowser")->styleSheet(), PatientRegistration::refusalStyle());
    QVERIFY(w<QPushButton>("registerNewPatientButton")->isEnabled());
    w<QWidget>("stackedWidget")
        ->grab()
        .save(QString::fromLocal8Bit(qgetenv("KELVARIS_SCREENSHOT_DIR")) +
              QStringLiteral("/registration-refused.png"));
}

void tst_PatientRegistration::refusalTexts_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain, with quotes") << R"(Patient "KV-1" exists)"
                                        << "Patient KV-1 exists";
    QTest::newRow("error object") << R"({"errors":[{"code":"x","message":"Say \"no\""},{"message":"Two"}]})"
                                  << "Say no\nTwo";
    QTest::newRow("top-level message") << R"({"message":"Not allowed"})"
                                       << "Not allowed";
    QTest::newRow("object without messages") << R"({"status":500})"
                                             << "{status:500}";
}

void tst_PatientRegistration::refusalTexts()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(PatientRegistration::refusalText(message), shown);
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

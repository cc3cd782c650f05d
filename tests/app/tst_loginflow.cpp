// The main window's login against the stand-in, typed into the login dialog:
// what each role shows, an account without a role, giving up, the server's
// time-out, and the keys for doctors who work from the keyboard.

#include "MainWindowLogin.h"

#include "app/PatientSearch.h"
#include "app/SavingFlow.h"
#include "widgets/CustomMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStackedWidget>
#include <QStandardItemModel>

class tst_LoginFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(standIn.start(), qPrintable(standIn->errorString())); }
    void rolesShowTheirControls_data();
    void rolesShowTheirControls();
    void accountWithoutRoleThenCancel();
    void serverTimeoutLogsOut();
    // These share one doctor's window, in this order.
    void focusAfterLogin();
    void shortcutsPressTheirButtons_data();
    void shortcutsPressTheirButtons();
    void everyButtonHasAName();
    void cleanupTestCase() { shared.reset(); }

private:
    QWidget *w(const char *name) { return window->findChild<QWidget *>(QString::fromLatin1(name)); }
    void open()
    {
        window.reset();
        directory.reset(); // gives the previous working directory back first
        directory = std::make_unique<StandInWorkingDirectory>(standIn);
        window = std::make_unique<kelvarisVisualizer>();
        window->show();
    }

    StandIn standIn;
    std::unique_ptr<StandInWorkingDirectory> directory;
    std::unique_ptr<kelvarisVisualizer> window;
    std::unique_ptr<kelvarisVisualizer> shared;
};

void tst_LoginFlow::rolesShowTheirControls_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<bool>("doctor");
    QTest::addColumn<bool>("patientAdmin");
    QTest::newRow("doctor") << "doctor" << true << false;
    QTest::newRow("chief: doctor and administrator") << "chief" << true << true;
    QTest::newRow("administrator only") << "admin" << false << true;
}

void tst_LoginFlow::rolesShowTheirControls()
{
    QFETCH(QString, account);
    QFETCH(bool, doctor);
    QFETCH(bool, patientAdmin);
    open();
    QSignalSpy loggedIn(window->loginFlow(), &LoginFlow::loggedIn);
    RequestLog requests(window->server());
    QVERIFY(!w("topBarWidget")->isVisible());
    QVERIFY(logInAs(*window, account));
    QCOMPARE(loggedIn.count(), 1);
    QCOMPARE(loggedIn.at(0).at(0).toBool(), doctor);
    QCOMPARE(loggedIn.at(0).at(1).toBool(), patientAdmin);
    QCOMPARE(w("searchLineEdit")->isVisible(), doctor);
    QCOMPARE(w("widget_admin")->isVisible(), doctor);
    QCOMPARE(w("newPatientButton")->isVisible(), patientAdmin);
    QVERIFY(w("logoutButton")->isVisible());
    QVERIFY(!w("saveSessionButton")->isVisible() && !w("exitButton")->isVisible());
    // The confirmed API URL replaces the configuration's server name.
    QCOMPARE(window->loginFlow()->serverName(), standIn->baseUrl());
    // Only a doctor's login asks for the patient list.
    QTRY_COMPARE(requests.withOperation(QStringLiteral("checkPermissions")).size(), size_t(1));
    QTest::qWait(100);
    QCOMPARE(requests.withOperation(QStringLiteral("listPatients")).size(), size_t(doctor ? 1 : 0));
}

void tst_LoginFlow::accountWithoutRoleThenCancel()
{
    open();
    QSignalSpy loggedIn(window->loginFlow(), &LoginFlow::loggedIn);
    RequestLog requests(window->server());
    QVERIFY(typeLogin(*window, QStringLiteral("visitor")));
    QTRY_COMPARE(requests.withOperation(QStringLiteral("checkPermissions")).size(), size_t(1));
    // Sent back to a new login dialog that says why, the window kept.
    QTRY_VERIFY(window->loginFlow()->dialog() && window->loginFlow()->dialog()->isVisible());
    QCOMPARE(window->loginFlow()->dialog()->ui.errorMessage->text(),
             QStringLiteral("This account has no access"));
    QVERIFY(!window->loginFlow()->isLoggedIn() && !w("topBarWidget")->isVisible() && window->isVisible());
    QCOMPARE(loggedIn.count(), 0);
    // Giving up closes the program without a question.
    QTest::mouseClick(window->loginFlow()->dialog()->ui.cancelButton, Qt::LeftButton);
    QTRY_VERIFY(!window->isVisible());
    QVERIFY(!window->loginFlow()->dialog());
}

void tst_LoginFlow::serverTimeoutLogsOut()
{
    open();
    QSignalSpy loggedOut(window->loginFlow(), &LoginFlow::loggedOut);
    QVERIFY(logInAs(*window, QStringLiteral("chief")));
    QTRY_COMPARE(window->patientSearch()->knownPatients().size(), size_t(9));
    // The next search meets an authentication challenge: the session is over.
    DemoFaults::Fault fault;
    fault.failNext = 1;
    fault.failStatus = 401;
    fault.challenge = true;
    standIn->setFault(QStringLiteral("patients"), fault);
    QSignalSpy timeouts(window->server(), &ServerVisualizer::serverTimeout);
    QTest::keyClick(w("searchLineEdit"), Qt::Key_K);
    QTRY_COMPARE(timeouts.count(), 1);
    standIn->clearFaults();
    QTRY_VERIFY(window->loginFlow()->dialog() && window->loginFlow()->dialog()->isVisible());
    QCOMPARE(loggedOut.count(), 1);
    QVERIFY(!window->loginFlow()->isLoggedIn() && !w("topBarWidget")->isVisible());
    QCOMPARE(static_cast<QStackedWidget *>(w("stackedWidget"))->currentIndex(), 0);
    // Nothing of the first account's patients stays for the next one.
    QVERIFY(static_cast<QLineEdit *>(w("searchLineEdit"))->text().isEmpty());
    QCOMPARE(window->patientSearch()->knownPatients().size(), size_t(0));
    QCOMPARE(window->patientSearch()->model()->rowCount(), 0);
    // The next login shows what the new account may do.
    QVERIFY(logInAs(*window, QStringLiteral("admin")));
    QVERIFY(!w("widget_doctor")->isVisible() && !w("widget_admin")->isVisible());
    QVERIFY(w("newPatientButton")->isVisible() && w("logoutButton")->isVisible());
}

void tst_LoginFlow::focusAfterLogin()
{
    open();
    QVERIFY(logInAs(*window, QStringLiteral("doctor")));
    shared = std::move(window);
    auto *field = shared->findChild<QLineEdit *>(QStringLiteral("searchLineEdit"));
    QTRY_COMPARE(QApplication::focusWidget(), field);
    // Ctrl+F brings the keyboard back from anywhere in the window, text selected.
    QTest::keyClicks(field, QStringLiteral("Marta"));
    auto *logout = shared->findChild<QWidget *>(QStringLiteral("logoutButton"));
    logout->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), logout);
    QTest::keyClick(shared.get(), Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("Marta"));
    // On the menu the view buttons are hidden: their keys do nothing.
    auto *clinical = shared->findChild<QAbstractButton *>(QStringLiteral("setCompareViewButton"));
    clinical->setEnabled(true);
    QSignalSpy clicked(clinical, &QAbstractButton::clicked);
    QTest::keyClick(shared.get(), Qt::Key_3, Qt::ControlModifier);
    QTest::qWait(300);
    QCOMPARE(clicked.count(), 0);
}

void tst_LoginFlow::shortcutsPressTheirButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("shownBefore"); // the view checked before the key
    // clang-format off
    QTest::newRow("hybrid") << "setHybridViewButton" << QKeySequence("Ctrl+1") << "Hybrid View (Ctrl+1)" << "setCompareViewButton";
    QTest::newRow("dermoscopic") << "setDermatosViewButton" << QKeySequence("Ctrl+2") << "Dermoscopic View (Ctrl+2)" << "setHybridViewButton";
    QTest::newRow("clinical") << "setCompareViewButton" << QKeySequence("Ctrl+3") << "Clinical View (Ctrl+3)" << "setHybridViewButton";
    QTest::newRow("back to the menu") << "labelButton" << QKeySequence("Alt+Left") << "Back to the menu (Alt+Left)" << "setHybridViewButton";
    QTest::newRow("search") << "searchButton" << QKeySequence("Ctrl+F") << "Search a patient (Ctrl+F)" << "setHybridViewButton";
    // clang-format on
}

void tst_LoginFlow::shortcutsPressTheirButtons()
{
    QFETCH(QString, button);
    QFETCH(QKeySequence, key);
    QFETCH(QString, toolTip);
    QFETCH(QString, shownBefore);
    QVERIFY(shared);
    // As with a session shown: the view buttons visible and usable.
    for (const char *name : {"setHybridViewButton", "setCompareViewButton", "setDermatosViewButton"}) {
        shared->findChild<QWidget *>(name)->show();
        shared->findChild<QWidget *>(name)->setEnabled(true);
    }
    auto *target = shared->findChild<QAbstractButton *>(button);
    QCOMPARE(target->toolTip(), toolTip);
    shared->findChild<QAbstractButton *>(shownBefore)->setChecked(true);
    QSignalSpy clicked(target, &QAbstractButton::clicked);
    QTest::keySequence(shared.get(), key);
    QTRY_COMPARE(clicked.count(), 1);
    // A view button stays pressed; the other buttons are not checkable.
    QCOMPARE(target->isChecked(), target->isCheckable());
    // Leaving the session page (shown here by the clinical view's key) asks first.
    if (QPointer<CustomMessageBox> question = shared->savingFlow()->question()) {
        QTest::mouseClick(question->okButton(), Qt::LeftButton);
        QTRY_VERIFY(!question);
        shared->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(shared.get()));
    }
}

void tst_LoginFlow::everyButtonHasAName()
{
    QVERIFY(shared);
    const QList<QAbstractButton *> buttons = shared->findChildren<QAbstractButton *>();
    QVERIFY2(buttons.size() >= 17, qPrintable(QString::number(buttons.size())));
    for (QAbstractButton *button : buttons)
        QVERIFY2(
            !button->accessibleName().isEmpty(),
            qPrintable(QStringLiteral("%1 %2 in %3")
                           .arg(QLatin1String(button->metaObject()->className()), button->objectName(),
                                button->parentWidget() ? button->parentWidget()->objectName() : QString())));
    // What the button does, without its key.
    QCOMPARE(shared->findChild<QAbstractButton *>("setHybridViewButton")->accessibleName(), "Hybrid View");
    QCOMPARE(shared->findChild<QAbstractButton *>("labelButton")->accessibleName(), "Back to the menu");
}

QTEST_MAIN(tst_LoginFlow)
#include "tst_loginflow.moc"

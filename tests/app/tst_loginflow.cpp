// The main window's login against the stand-in, driven through the login
// dialog's widgets: what each role shows, an account without a role, giving
// up, the server's time-out, and the keys for doctors who work from the
// keyboard.

#include "MainWindowLogin.h"

#include "app/PatientSearch.h"
#include "widgets/CustomHoverButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QStackedWidget>
#include <QStandardItemModel>

namespace {

template <typename T> T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

} // namespace

class tst_LoginFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void rolesShowTheirControls_data();
    void rolesShowTheirControls();
    void accountWithoutRole();
    void cancelClosesTheWindow();
    void serverTimeoutLogsOut();
    // These three share one doctor's window, in this order.
    void focusAfterLogin();
    void hiddenButtonsIgnoreTheirKeys();
    void shortcutsPressTheirButtons_data();
    void shortcutsPressTheirButtons();
    void everyButtonHasAName();
    void cleanupTestCase();

private:
    kelvarisVisualizer *doctorWindow();

    StandIn standIn;
    std::unique_ptr<StandInWorkingDirectory> sharedDirectory;
    std::unique_ptr<kelvarisVisualizer> shared;
};

kelvarisVisualizer *tst_LoginFlow::doctorWindow()
{
    if (!shared) {
        sharedDirectory = std::make_unique<StandInWorkingDirectory>(standIn);
        shared = std::make_unique<kelvarisVisualizer>();
        shared->show();
        if (!logInAs(*shared, QStringLiteral("doctor")))
            shared.reset();
    }
    return shared.get();
}

void tst_LoginFlow::cleanupTestCase()
{
    shared.reset();
    sharedDirectory.reset();
}

void tst_LoginFlow::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
}

void tst_LoginFlow::cleanup()
{
    standIn->clearFaults();
}

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
    StandInWorkingDirectory wd(standIn);
    kelvarisVisualizer window;
    window.show();
    QSignalSpy loggedIn(window.loginFlow(), &LoginFlow::loggedIn);
    RequestLog requests(window.server());

    // Before the login nothing of the top bar shows.
    QVERIFY(!child<QWidget>(window, "topBarWidget")->isVisible());
    QVERIFY(logInAs(window, account));
    QCOMPARE(loggedIn.count(), 1);
    QCOMPARE(loggedIn.at(0).at(0).toBool(), doctor);
    QCOMPARE(loggedIn.at(0).at(1).toBool(), patientAdmin);

    QCOMPARE(child<QWidget>(window, "widget_doctor")->isVisible(), doctor);
    QCOMPARE(child<QWidget>(window, "searchLineEdit")->isVisible(), doctor);
    QCOMPARE(child<QWidget>(window, "widget_admin")->isVisible(), doctor);
    QCOMPARE(child<QWidget>(window, "newPatientButton")->isVisible(), patientAdmin);
    QVERIFY(child<QWidget>(window, "logoutButton")->isVisible());
    // Nothing of a session shows on the menu.
    QVERIFY(!child<QWidget>(window, "saveSessionButton")->isVisible());
    QVERIFY(!child<QWidget>(window, "exitButton")->isVisible());
    QVERIFY(window.loginFlow()->isLoggedIn());
    QCOMPARE(window.loginFlow()->isPatientAdmin(), patientAdmin);
    // The confirmed API URL replaces the configuration's server name.
    QCOMPARE(window.loginFlow()->serverName(), standIn->baseUrl());

    // Only a doctor's login asks for the patient list.
    QTRY_COMPARE(int(requests.withOperation(QStringLiteral("checkPermissions")).size()), 1);
    if (doctor)
        QTRY_COMPARE(int(requests.withOperation(QStringLiteral("listPatients")).size()), 1);
    QTest::qWait(100);
    QCOMPARE(int(requests.withOperation(QStringLiteral("listPatients")).size()), doctor ? 1 : 0);
}

void tst_LoginFlow::accountWithoutRole()
{
    StandInWorkingDirectory wd(standIn);
    kelvarisVisualizer window;
    window.show();
    QSignalSpy loggedIn(window.loginFlow(), &LoginFlow::loggedIn);
    RequestLog requests(window.server());

    QVERIFY(typeLogin(window, QStringLiteral("visitor")));
    QTRY_COMPARE(int(requests.withOperation(QStringLiteral("checkPermissions")).size()), 1);
    // Sent back to a new login dialog that says why.
    QTRY_VERIFY(window.loginFlow()->dialog() && window.loginFlow()->dialog()->isVisible());
    QtAuthDialog *dialog = window.loginFlow()->dialog();
    QCOMPARE(dialog->ui.errorMessage->text(), QStringLiteral("This account has no access"));
    QVERIFY(!window.loginFlow()->isLoggedIn());
    QVERIFY(!child<QWidget>(window, "topBarWidget")->isVisible());
    QVERIFY(window.isVisible());
    QCOMPARE(loggedIn.count(), 0);
    // Asked once, not over and over.
    QTest::qWait(200);
    QCOMPARE(int(requests.withOperation(QStringLiteral("checkPermissions")).size()), 1);

    // The same window lets a doctor in afterwards.
    QVERIFY(logInAs(window, QStringLiteral("doctor")));
    QCOMPARE(loggedIn.count(), 1);
    QVERIFY(child<QWidget>(window, "widget_doctor")->isVisible());
}

void tst_LoginFlow::cancelClosesTheWindow()
{
    StandInWorkingDirectory wd(standIn);
    kelvarisVisualizer window;
    window.show();
    QTRY_VERIFY(window.loginFlow()->dialog() && window.loginFlow()->dialog()->isVisible());
    QTest::mouseClick(window.loginFlow()->dialog()->ui.cancelButton, Qt::LeftButton);
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(!window.loginFlow()->dialog());
    QVERIFY(!window.loginFlow()->isLoggedIn());
}

void tst_LoginFlow::serverTimeoutLogsOut()
{
    StandInWorkingDirectory wd(standIn);
    kelvarisVisualizer window;
    window.show();
    QSignalSpy loggedOut(window.loginFlow(), &LoginFlow::loggedOut);
    QVERIFY(logInAs(window, QStringLiteral("chief")));
    auto *field = child<QLineEdit>(window, "searchLineEdit");
    QTRY_COMPARE(window.patientSearch()->knownPatients().size(), size_t(9));

    // The server answers the next search with an authentication challenge:
    // the client reports it as a time-out of the session.
    DemoFaults::Fault fault;
    fault.failNext = 1;
    fault.failStatus = 401;
    fault.challenge = true;
    standIn->setFault(QStringLiteral("patients"), fault);
    QSignalSpy timeouts(window.server(), &ServerVisualizer::serverTimeout);
    // One character: a second one would abort the first search.
    QTest::keyClicks(field, QStringLiteral("K"));
    QTRY_COMPARE(timeouts.count(), 1);

    QTRY_VERIFY(window.loginFlow()->dialog() && window.loginFlow()->dialog()->isVisible());
    QCOMPARE(loggedOut.count(), 1);
    QVERIFY(!window.loginFlow()->isLoggedIn());
    QVERIFY(!child<QWidget>(window, "topBarWidget")->isVisible());
    QCOMPARE(child<QStackedWidget>(window, "stackedWidget")->currentIndex(), 0);
    // Nothing of the first account's patients stays for the next one.
    QVERIFY(field->text().isEmpty());
    QCOMPARE(window.patientSearch()->knownPatients().size(), size_t(0));
    QCOMPARE(window.patientSearch()->model()->rowCount(), 0);

    // The next login shows what the new account may do.
    QVERIFY(logInAs(window, QStringLiteral("admin")));
    QVERIFY(!child<QWidget>(window, "widget_doctor")->isVisible());
    QVERIFY(!child<QWidget>(window, "widget_admin")->isVisible());
    QVERIFY(child<QWidget>(window, "newPatientButton")->isVisible());
    QVERIFY(child<QWidget>(window, "logoutButton")->isVisible());
}

void tst_LoginFlow::focusAfterLogin()
{
    QVERIFY(doctorWindow());
    kelvarisVisualizer &window = *doctorWindow();
    auto *field = child<QLineEdit>(window, "searchLineEdit");
    QTRY_COMPARE(QApplication::focusWidget(), field);

    // Ctrl+F brings the focus back from anywhere in the window, text selected.
    QTest::keyClicks(field, QStringLiteral("Marta"));
    auto *logout = child<QPushButton>(window, "logoutButton");
    logout->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), logout);
    QTest::keyClick(&window, Qt::Key_F, Qt::ControlModifier);
    QTRY_COMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("Marta"));
    QVERIFY(child<QPushButton>(window, "searchButton")->toolTip().contains(QLatin1String("Ctrl+F")));
}

void tst_LoginFlow::shortcutsPressTheirButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<QString>("checkedBefore"); // the view shown before the key
    QTest::newRow("Ctrl+1 hybrid") << "setHybridViewButton" << int(Qt::Key_1) << int(Qt::ControlModifier)
                                   << "Hybrid View (Ctrl+1)"
                                   << "setCompareViewButton";
    QTest::newRow("Ctrl+2 dermoscopic") << "setDermatosViewButton" << int(Qt::Key_2)
                                        << int(Qt::ControlModifier) << "Dermoscopic View (Ctrl+2)"
                                        << "setHybridViewButton";
    QTest::newRow("Ctrl+3 clinical") << "setCompareViewButton" << int(Qt::Key_3) << int(Qt::ControlModifier)
                                     << "Clinical View (Ctrl+3)"
                                     << "setHybridViewButton";
    QTest::newRow("Alt+Left back to the menu")
        << "labelButton" << int(Qt::Key_Left) << int(Qt::AltModifier) << "Back to the menu (Alt+Left)"
        << "setHybridViewButton";
}

void tst_LoginFlow::shortcutsPressTheirButtons()
{
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, toolTip);
    QFETCH(QString, checkedBefore);
    QVERIFY(doctorWindow());
    kelvarisVisualizer &window = *doctorWindow();
    // As with a session shown: the view buttons visible and usable.
    for (const char *name : {"setHybridViewButton", "setCompareViewButton", "setDermatosViewButton"}) {
        child<QAbstractButton>(window, name)->show();
        child<QAbstractButton>(window, name)->setEnabled(true);
    }
    auto *target = window.findChild<QAbstractButton *>(button);
    QVERIFY(target);
    QCOMPARE(target->toolTip(), toolTip);
    window.findChild<QAbstractButton *>(checkedBefore)->setChecked(true);
    QSignalSpy clicked(target, &QAbstractButton::clicked);

    QTest::keyClick(&window, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_COMPARE(clicked.count(), 1);
    // A view button stays pressed; the menu button is not checkable.
    QCOMPARE(target->isChecked(), target->isCheckable());
}

void tst_LoginFlow::hiddenButtonsIgnoreTheirKeys()
{
    QVERIFY(doctorWindow());
    kelvarisVisualizer &window = *doctorWindow();
    // On the menu the view buttons are hidden: their keys do nothing.
    auto *clinical = child<QAbstractButton>(window, "setCompareViewButton");
    clinical->setEnabled(true);
    QVERIFY(!clinical->isVisible());
    QSignalSpy clicked(clinical, &QAbstractButton::clicked);
    QTest::keyClick(&window, Qt::Key_3, Qt::ControlModifier);
    QTest::qWait(300);
    QCOMPARE(clicked.count(), 0);
    QVERIFY(child<QAbstractButton>(window, "setHybridViewButton")->isChecked());
}

void tst_LoginFlow::everyButtonHasAName()
{
    StandInWorkingDirectory wd(standIn);
    kelvarisVisualizer window;
    const QList<QAbstractButton *> buttons = window.findChildren<QAbstractButton *>();
    // Title bar (3), top bar (10 + label, QR, search), registration (1).
    QVERIFY2(buttons.size() >= 17, qPrintable(QString::number(buttons.size())));
    for (QAbstractButton *button : buttons)
        QVERIFY2(!button->accessibleName().isEmpty(),
                 qPrintable(button->objectName() + QLatin1Char(' ') + button->metaObject()->className()));
    // The name is what the button does, without its key.
    QCOMPARE(child<QAbstractButton>(window, "setHybridViewButton")->accessibleName(),
             QStringLiteral("Hybrid View"));
    QCOMPARE(child<QAbstractButton>(window, "labelButton")->accessibleName(),
             QStringLiteral("Back to the menu"));
    QCOMPARE(child<QAbstractButton>(window, "logoutButton")->accessibleName(), QStringLiteral("Log out"));
}

QTEST_MAIN(tst_LoginFlow)
#include "tst_loginflow.moc"

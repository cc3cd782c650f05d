// The login dialog: the server list file, its pages driven by the real server
// client against the stand-in server, failures that give the button back,
// Return pressed while a step is under way, and how the dialog looks.

#include "StandIn.h"

#include "demo-server/DemoFaults.h"
#include "server/QtAuthDialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QStringListModel>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

void saveShot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(dir);
    QVERIFY(widget->grab().save(dir + QLatin1Char('/') + name));
}

QStringList completerOptions(QtAuthDialog &dialog)
{
    auto *model = qobject_cast<QStringListModel *>(dialog.ui.serverName->completer()->model());
    return model ? model->stringList() : QStringList{QStringLiteral("<no model>")};
}

} // namespace

class tst_QtAuthDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void serversFile_data();
    void serversFile();
    void savingServers_data();
    void savingServers();

    void loginFlow_data();
    void loginFlow();
    void failures_data();
    void failures();
    void returnWhileBusy();
    void backAndCancel_data();
    void backAndCancel();
    void painting();

private:
    // A dialog wired to a client of the stand-in, shown but not executed.
    std::unique_ptr<QtAuthDialog> wiredDialog(ServerVisualizer *server, const QString &account,
                                              const QString &password = DemoServer::password());

    StandIn standIn;
    std::unique_ptr<QTemporaryDir> workDir;
    QString previousDir;
};

void tst_QtAuthDialog::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    // The program's own look, as main() applies it.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    if (sheet.open(QIODevice::ReadOnly | QIODevice::Text))
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    previousDir = QDir::currentPath();
}

void tst_QtAuthDialog::init()
{
    // servers.json lives under the working directory.
    workDir = std::make_unique<QTemporaryDir>();
    QVERIFY(workDir->isValid());
    QVERIFY(QDir::setCurrent(workDir->path()));
}

void tst_QtAuthDialog::cleanup()
{
    QDir::setCurrent(previousDir);
    workDir.reset();
    standIn->clearFaults();
}

std::unique_ptr<QtAuthDialog> tst_QtAuthDialog::wiredDialog(ServerVisualizer *server, const QString &account,
                                                            const QString &password)
{
    auto dialog = std::make_unique<QtAuthDialog>();
    dialog->connectTo(server);
    dialog->ui.serverName->setText(QStringLiteral("demo"));
    dialog->ui.username->setText(account);
    dialog->ui.password->setText(password);
    dialog->show();
    return dialog;
}

// --- servers.json ------------------------------------------------------------------------------

void tst_QtAuthDialog::serversFile_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("recent");

    QTest::newRow("no file") << QByteArray() << QStringList() << QString();
    QTest::newRow("options and recent")
        << QByteArray(R"({"options":["demo","clinic-b"],"recent":"clinic-b"})")
        << QStringList{"demo", "clinic-b"} << "clinic-b";
    QTest::newRow("odd entries") << QByteArray(R"({"options":["demo",5,"","demo"],"recent":7})")
                                 << QStringList{"demo", "5"} << QString();
    QTest::newRow("recent only") << QByteArray(R"({"recent":"demo"})") << QStringList() << "demo";
    QTest::newRow("not an object") << QByteArray(R"(["demo"])") << QStringList() << QString();
    QTest::newRow("not JSON") << QByteArray("options = demo") << QStringList() << QString();
}

void tst_QtAuthDialog::serversFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    QFETCH(QString, recent);

    if (!content.isNull())
        writeFile(QtAuthDialog::serversFilePath(), content);
    QtAuthDialog dialog;
    QCOMPARE(dialog.serverOptions(), options);
    QCOMPARE(dialog.recentServer(), recent);
    QCOMPARE(dialog.ui.serverName->text(), recent);
    QCOMPARE(completerOptions(dialog), options);

    QCompleter *completer = dialog.ui.serverName->completer();
    QCOMPARE(completer->objectName(), QStringLiteral("completerServerName"));
    QCOMPARE(completer->popup()->objectName(), QStringLiteral("serverCompleterView"));
    QCOMPARE(completer->caseSensitivity(), Qt::CaseInsensitive);
    QCOMPARE(completer->filterMode(), Qt::MatchContains);
    QCOMPARE(dialog.ui.stackedWidget->currentIndex(), 0);
    QVERIFY(!dialog.correct());
}

void tst_QtAuthDialog::savingServers_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("rewritten");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("recent");

    const QByteArray compact = R"({"options":["demo","clinic-b"],"recent":"demo"})";
    QTest::newRow("same server again")
        << compact << "demo" << false << QStringList{"demo", "clinic-b"} << "demo";
    QTest::newRow("same server, spaces around")
        << compact << "  demo " << false << QStringList{"demo", "clinic-b"} << "demo";
    QTest::newRow("known server becomes recent")
        << compact << "clinic-b" << true << QStringList{"demo", "clinic-b"} << "clinic-b";
    QTest::newRow("new server appended")
        << compact << "clinic-c" << true << QStringList{"demo", "clinic-b", "clinic-c"} << "clinic-c";
    QTest::newRow("other letter case is another server")
        << compact << "Demo" << true << QStringList{"demo", "clinic-b", "Demo"} << "Demo";
    QTest::newRow("no file yet") << QByteArray() << "demo" << true << QStringList{"demo"} << "demo";
}

void tst_QtAuthDialog::savingServers()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, typed);
    QFETCH(bool, rewritten);
    QFETCH(QStringList, options);
    QFETCH(QString, recent);

    QDir().mkpath(QStringLiteral("matrius"));
    if (!content.isNull())
        writeFile(QtAuthDialog::serversFilePath(), content);
    QtAuthDialog dialog;
    QSignalSpy endpoint(&dialog, &QtAuthDialog::getEndpoint);
    QSignalSpy login(&dialog, &QtAuthDialog::login);
    dialog.ui.serverName->setText(typed);
    dialog.ui.username->setText(QStringLiteral("doctor"));
    dialog.ui.password->setText(QStringLiteral("secret"));
    dialog.on_loginButton_clicked();
    QCOMPARE(endpoint.count(), 1);
    QCOMPARE(endpoint.at(0).at(0).toString(), typed.trimmed());
    QVERIFY(!dialog.ui.loginButton->isEnabled());

    dialog.endpointCorrect();
    QCOMPARE(login.count(), 1);
    QCOMPARE(login.at(0).at(0).toString(), QStringLiteral("doctor"));
    QCOMPARE(login.at(0).at(1).toString(), QStringLiteral("secret"));

    const QByteArray after = readFile(QtAuthDialog::serversFilePath());
    QCOMPARE(after != content, rewritten);
    const QJsonObject saved = QJsonDocument::fromJson(after).object();
    QStringList savedOptions;
    for (const QJsonValue &v : saved.value("options").toArray())
        savedOptions << v.toString();
    QCOMPARE(savedOptions, options);
    QCOMPARE(saved.value("recent").toString(), recent);
    QCOMPARE(completerOptions(dialog), options);
    // Nothing but the list was written.
    QCOMPARE(QDir(QStringLiteral("matrius")).entryList(QDir::Files), QStringList{"servers.json"});
}

// --- against the stand-in ----------------------------------------------------------------------

void tst_QtAuthDialog::loginFlow_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<int>("codePage");

    QTest::newRow("no second factor") << "doctor" << 0;
    QTest::newRow("authenticator code") << "doctor.totp" << 1;
    QTest::newRow("e-mailed code") << "doctor.mail" << 2;
    QTest::newRow("finished code flow, then authenticator") << "doctor.flows" << 1;
}

void tst_QtAuthDialog::loginFlow()
{
    QFETCH(QString, account);
    QFETCH(int, codePage);

    auto server = standIn.client();
    auto dialog = wiredDialog(server.get(), account);
    const QString tag = QString(account).replace(QLatin1Char('.'), QLatin1Char('-'));
    saveShot(dialog.get(), QStringLiteral("authdialog-login-%1.png").arg(tag));

    QTest::mouseClick(dialog->ui.loginButton, Qt::LeftButton);
    if (codePage == 0) {
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isHidden(), 20000);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(dialog->ui.stackedWidget->currentIndex(), codePage, 20000);
        QVERIFY(dialog->ui.errorMessage->text().isEmpty());
        saveShot(dialog.get(), QStringLiteral("authdialog-code-%1.png").arg(tag));
        QLineEdit *field = codePage == 1 ? dialog->ui.totpCode : dialog->ui.mailCode;
        const QString code =
            codePage == 1 ? standIn->freshTotpCode(account) : standIn->lastMailedCode(account);
        // Pasted with a space in the middle, as codes often are.
        QTest::keyClicks(field, code.left(3) + QLatin1Char(' ') + code.mid(3));
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(dialog->isHidden(), 20000);
    }
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QVERIFY(dialog->correct());
    QCOMPARE(dialog->recentServer(), QStringLiteral("demo"));

    // Logged in for real: the permissions request is authorised.
    SignalLog log(server.get());
    server->checkPermissions();
    QTRY_COMPARE_WITH_TIMEOUT(log.count("userPermissions"), 1, 10000);
}

void tst_QtAuthDialog::failures_data()
{
    QTest::addColumn<QString>("serverName");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown server") << "elsewhere"
                                    << "doctor"
                                    << "demo-password" << QString() << 0 << "Incorrect Server";
    QTest::newRow("wrong password") << "demo"
                                    << "admin"
                                    << "wrong" << QString() << 0
                                    << "The username and/or password you specified are not correct.";
    QTest::newRow("server not answering") << "demo"
                                          << "doctor"
                                          << "demo-password"
                                          << "auth:hang" << 0 << "Server not reachable";
    QTest::newRow("wrong authenticator code") << "demo"
                                              << "doctor.totp"
                                              << "demo-password" << QString() << 1 << "Incorrect code.";
    QTest::newRow("wrong e-mailed code") << "demo"
                                         << "doctor.mail"
                                         << "demo-password" << QString() << 2 << "Incorrect code.";
}

void tst_QtAuthDialog::failures()
{
    QFETCH(QString, serverName);
    QFETCH(QString, account);
    QFETCH(QString, password);
    QFETCH(QString, faultText);
    QFETCH(int, page);
    QFETCH(QString, message);

    auto server = standIn.client();
    // Short only where the server is made not to answer: on a loaded machine a
    // password check alone can take longer than a second.
    if (faultText.contains(QLatin1String("hang")))
        server->setTransferTimeouts(1000, 1000);
    if (!faultText.isEmpty()) {
        QString group, error;
        DemoFaults::Fault fault;
        QVERIFY(DemoFaults::parseFault(faultText, &group, &fault, &error));
        standIn->setFault(group, fault);
    }
    auto dialog = wiredDialog(server.get(), account, password);
    dialog->ui.serverName->setText(serverName);
    QTest::mouseClick(dialog->ui.loginButton, Qt::LeftButton);

    if (page == 0) {
        QTRY_COMPARE_WITH_TIMEOUT(dialog->ui.errorMessage->text(), message, 20000);
        QVERIFY(dialog->ui.loginButton->isEnabled());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(dialog->ui.stackedWidget->currentIndex(), page, 20000);
        QLineEdit *field = page == 1 ? dialog->ui.totpCode : dialog->ui.mailCode;
        QPushButton *send = page == 1 ? dialog->ui.verifyTOTP : dialog->ui.verifyCode;
        // Derived from the right code, so that it is never the right one by chance.
        const QString right = page == 1 ? standIn->freshTotpCode(account) : standIn->lastMailedCode(account);
        QVERIFY(!right.isEmpty());
        QTest::keyClicks(field, wrongCode(right));
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(!send->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(dialog->ui.errorMessage->text(), message, 20000);
        QVERIFY(send->isEnabled());
    }
    QCOMPARE(dialog->ui.stackedWidget->currentIndex(), page);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->correct());
    const QString tag =
        QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
    saveShot(dialog.get(), QStringLiteral("authdialog-failure-%1.png").arg(tag));
}

void tst_QtAuthDialog::returnWhileBusy()
{
    auto server = standIn.client();
    DemoFaults::Fault slow;
    slow.latencyMs = 600;
    standIn->setFault(QStringLiteral("directory"), slow);
    standIn->setFault(QStringLiteral("auth"), slow);

    auto dialog = wiredDialog(server.get(), QStringLiteral("doctor.totp"));
    QSignalSpy endpoint(dialog.get(), &QtAuthDialog::getEndpoint);
    QSignalSpy login(dialog.get(), &QtAuthDialog::login);
    QSignalSpy verify(dialog.get(), &QtAuthDialog::verifyTOTP);

    for (QLineEdit *field :
         {dialog->ui.password, dialog->ui.password, dialog->ui.username, dialog->ui.serverName})
        QTest::keyClick(field, Qt::Key_Return);
    QTest::mouseClick(dialog->ui.loginButton, Qt::LeftButton);
    QCOMPARE(endpoint.count(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(dialog->ui.stackedWidget->currentIndex(), 1, 20000);
    QCOMPARE(login.count(), 1);

    // While the code is on its way, Return posts nothing more.
    QTest::keyClicks(dialog->ui.totpCode, standIn->freshTotpCode(QStringLiteral("doctor.totp")));
    QTest::keyClick(dialog->ui.totpCode, Qt::Key_Return);
    QTest::keyClick(dialog->ui.totpCode, Qt::Key_Return);
    QTest::keyClick(dialog->ui.totpCode, Qt::Key_Enter);
    QCOMPARE(verify.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isHidden(), 20000);
    QVERIFY(dialog->correct());
    QCOMPARE(endpoint.count(), 1);
    QCOMPARE(login.count(), 1);
    QCOMPARE(verify.count(), 1);
}

void tst_QtAuthDialog::backAndCancel_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("closes");

    QTest::newRow("back from the authenticator page") << "otpBack" << false;
    QTest::newRow("back from the mail page") << "mailBack" << false;
    QTest::newRow("cancel button") << "cancelButton" << true;
    QTest::newRow("escape") << "escape" << true;
    QTest::newRow("close button of the title row") << "closeButton" << true;
}

void tst_QtAuthDialog::backAndCancel()
{
    QFETCH(QString, action);
    QFETCH(bool, closes);

    QtAuthDialog dialog;
    dialog.show();
    QSignalSpy endpoint(&dialog, &QtAuthDialog::getEndpoint);
    dialog.ui.serverName->setText(QStringLiteral("demo"));
    dialog.on_loginButton_clicked();
    dialog.endpointCorrect();
    if (action == QLatin1String("otpBack"))
        dialog.totpNeeded();
    else if (action == QLatin1String("mailBack"))
        dialog.mailCodeNeeded();
    dialog.codeTOTPincorrect(QStringLiteral("Incorrect code."));

    if (action == QLatin1String("escape")) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
        auto *button = dialog.findChild<QPushButton *>(action);
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QCOMPARE(dialog.isHidden(), closes);
    QVERIFY(!dialog.correct());
    if (closes) {
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        return;
    }
    QCOMPARE(dialog.ui.stackedWidget->currentIndex(), 0);
    QVERIFY(dialog.ui.errorMessage->text().isEmpty());
    QVERIFY(dialog.ui.loginButton->isEnabled());
    // The user may try again at once.
    QTest::keyClick(dialog.ui.password, Qt::Key_Return);
    QCOMPARE(endpoint.count(), 2);
}

void tst_QtAuthDialog::painting()
{
    QtAuthDialog dialog;
    dialog.ui.serverName->setText(QStringLiteral("demo"));
    dialog.ui.username->setText(QStringLiteral("doctor"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QImage image = dialog.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    saveShot(&dialog, QStringLiteral("authdialog-painting.png"));

    // The logo fits: the dialog grew to hold it.
    QVERIFY(dialog.width() >= 500);
    const int midY = image.height() / 2;
    // Inside the panel: its fill.
    QCOMPARE(image.pixelColor(12, midY), QColor(33, 33, 36));
    // On the outline, 3 px in: the accent colour.
    QCOMPARE(image.pixelColor(3, midY), QColor(255, 218, 195));
    // Outside the rounded corner: nothing painted.
    QCOMPARE(image.pixelColor(1, 1).alpha(), 0);
}

QTEST_MAIN(tst_QtAuthDialog)
#include "tst_qtauthdialog.moc"

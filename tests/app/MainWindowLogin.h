#pragma once

// Shared by the tests of the main window's flows against the stand-in: a
// working directory whose configuration trusts the stand-in, and a driver that
// logs in through the login dialog's own widgets.

#include "server/StandIn.h"

#include "app/LoginFlow.h"
#include "app/kelvarisVisualizer.h"
#include "server/QtAuthDialog.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>

// The program's working directory for one test: "matrius/configuration.json"
// naming the stand-in's directory server and certificate.
class StandInWorkingDirectory
{
public:
    explicit StandInWorkingDirectory(const StandIn &standIn)
    {
        previous = QDir::currentPath();
        QDir(dir.path()).mkpath(QStringLiteral("matrius"));
        QJsonObject configuration = standIn.configuration();
        configuration.insert(QStringLiteral("server"), QStringLiteral("demo"));
        configuration.insert(
            QStringLiteral("gui"),
            QJsonObject{{QStringLiteral("names"), QJsonArray{"frontal", "right", "back", "left"}}});
        QFile file(dir.filePath(QStringLiteral("matrius/configuration.json")));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(configuration).toJson());
        QDir::setCurrent(dir.path());
    }
    ~StandInWorkingDirectory() { QDir::setCurrent(previous); }
    StandInWorkingDirectory(const StandInWorkingDirectory &) = delete;
    StandInWorkingDirectory &operator=(const StandInWorkingDirectory &) = delete;

private:
    QTemporaryDir dir;
    QString previous;
};

// Waits for the login dialog of the window and fills it as a user would,
// then presses its login button. False when no dialog appeared.
inline bool typeLogin(kelvarisVisualizer &window, const QString &account)
{
    QtAuthDialog *dialog = nullptr;
    if (!QTest::qWaitFor(
            [&] {
                dialog = window.loginFlow()->dialog();
                return dialog && dialog->isVisible() && dialog->ui.loginButton->isEnabled();
            },
            5000))
        return false;
    dialog->ui.serverName->setText(QStringLiteral("demo"));
    dialog->ui.username->setText(account);
    dialog->ui.password->setText(DemoServer::password());
    QTest::mouseClick(dialog->ui.loginButton, Qt::LeftButton);
    return true;
}

// Logs in with an account that has a role and waits for its top bar.
inline bool logInAs(kelvarisVisualizer &window, const QString &account)
{
    if (!typeLogin(window, account))
        return false;
    auto *topBar = window.findChild<QWidget *>(QStringLiteral("topBarWidget"));
    return QTest::qWaitFor([&] { return !window.loginFlow()->dialog() && topBar->isVisible(); }, 20000);
}

#pragma once

// The main window against the stand-in: a working directory whose
// configuration trusts it, and a login typed into the login dialog.

#include "server/StandIn.h"

#include "app/LoginFlow.h"
#include "app/kelvarisVisualizer.h"
#include "server/QtAuthDialog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPushButton>

class StandInWorkingDirectory
{
public:
    explicit StandInWorkingDirectory(const StandIn &standIn) : previous(QDir::currentPath())
    {
        QDir(dir.path()).mkpath(QStringLiteral("matrius"));
        QJsonObject configuration = standIn.configuration();
        configuration.insert(QStringLiteral("server"), QStringLiteral("demo"));
        configuration.insert(QStringLiteral("gui"),
                             QJsonObject{{"names", QJsonArray{"frontal", "right", "back", "left"}}});
        QFile file(dir.filePath(QStringLiteral("matrius/configuration.json")));
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(configuration).toJson());
        QDir::setCurrent(dir.path());
    }
    ~StandInWorkingDirectory() { QDir::setCurrent(previous); }

private:
    QTemporaryDir dir;
    QString previous;
};

// Fills the window's login dialog as a user would and presses its button.
inline bool typeLogin(kelvarisVisualizer &window, const QString &account)
{
    QtAuthDialog *d = nullptr;
    if (!QTest::qWaitFor(
            [&] { return (d = window.loginFlow()->dialog()) && d->ui.loginButton->isEnabled(); }))
        return false;
    d->ui.serverName->setText(QStringLiteral("demo"));
    d->ui.username->setText(account);
    d->ui.password->setText(DemoServer::password());
    QTest::mouseClick(d->ui.loginButton, Qt::LeftButton);
    return true;
}

// Logs in with an account that has a role and waits for its top bar.
inline bool logInAs(kelvarisVisualizer &window, const QString &account)
{
    auto *topBar = window.findChild<QWidget *>(QStringLiteral("topBarWidget"));
    return typeLogin(window, account) &&
           QTest::qWaitFor([&] { return !window.loginFlow()->dialog() && topBar->isVisible(); }, 20000);
}

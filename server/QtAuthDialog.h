#pragma once

#include "server/ui_QtAuthDialog.h"

#include <QColor>
#include <QDialog>
#include <QStringList>

class QCompleter;
class QStringListModel;
class ServerVisualizer;

// The login dialog: server name, user name and password, then, when the
// account asks for it, an authenticator code or an e-mailed code. It only
// shows pages and messages; ServerVisualizer does the network work. Server
// names confirmed before are offered by a completer and kept in
// "./matrius/servers.json". After exec(), correct() tells whether the user
// is logged in.
class QtAuthDialog : public QDialog
{
    Q_OBJECT

public:
    explicit QtAuthDialog(QWidget *parent = nullptr);

    // Makes the connections between this dialog and the server client for one
    // run of the dialog (they end with the dialog). The caller adds its own
    // receiver of correctServerName when it needs the confirmed URL.
    void connectTo(ServerVisualizer *server);

    QStringList serverOptions() const { return options; }
    QString recentServer() const { return recent; }

    static QString serversFilePath();

    Ui::QtAuthDialogClass ui;

signals:
    void login(QString username, QString password);
    void verifyTOTP(QString totp);
    void verifyMailCode(QString code);
    void getEndpoint(QString name);

public slots:
    void on_loginButton_clicked();
    void endpointCorrect();
    void endpointIncorrect();
    void on_cancelButton_clicked();
    bool correct();
    void paintEvent(QPaintEvent *event) override;
    void totpNeeded();
    void mailCodeNeeded();
    void incorrect(QString message);
    void correctLogin();
    void userPasswordIncorrect(QString message);
    void codeTOTPincorrect(QString message);
    void codeMailIncorrect(QString message);

private slots:
    void on_verifyTOTP_clicked();
    void on_verifyCode_clicked();
    void on_otpBack_clicked();
    void on_mailBack_clicked();

private:
    void readServers();
    void saveServers(const QString &name);
    void backToLogin();
    QString typedServerName() const;

    QColor accentColor = QColor(255, 218, 195);
    int borderWidth = 3;
    bool correctFlag = false;
    // True from the login button until the name lookup answered.
    bool resolving = false;
    QStringList options;
    QString recent;
    QStringListModel *optionsModel = nullptr;
    QCompleter *completer = nullptr;
};

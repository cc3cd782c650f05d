#pragma once

#include <QObject>
#include <QString>

class LoginFlow;
class QAbstractButton;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QWidget;
class ServerVisualizer;

// Patient registration for patient administrators: the new patient button
// opens the registration page with empty fields, Register sends the fields
// and the server's answer is shown above the form, in green or in red,
// whenever it arrives. Register stays disabled until that answer, so that a
// slow server does not lead to the same patient registered twice.
class PatientRegistration : public QObject
{
    Q_OBJECT

public:
    struct Widgets
    {
        QStackedWidget *pages = nullptr;
        QWidget *messageWidget = nullptr;
        QLabel *message = nullptr; // "textBrowser"
        QLineEdit *firstName = nullptr;
        QLineEdit *lastName = nullptr;
        QLineEdit *identifier = nullptr;
        QLineEdit *email = nullptr;
        QAbstractButton *registerButton = nullptr;
    };
    static constexpr int registrationPage = 2;

    PatientRegistration(QWidget *window, const Widgets &widgets);

    // Every connection of this flow: the server's answers and the end of a login.
    void connectTo(ServerVisualizer *server, LoginFlow *login);

    bool isWaiting() const { return m_waiting; }

    static QString successStyle() { return QStringLiteral("font:20px;font-weight: bold;color:green"); }
    static QString refusalStyle() { return QStringLiteral("font:20px;font-weight: bold;color:red"); }
    // What a refusal shows: the messages of a JSON error answer, else the
    // text as it came; without double quotes either way.
    static QString refusalText(const QString &message);

public slots:
    // The new patient button: the page, with empty fields and no message.
    void openPage();
    // Register: sends the four fields.
    void registerPatient();
    void registeredCorrectly();
    // A refusal, shown without double quotes.
    void errorRegisteringPatient(const QString &message);

private:
    void showMessage(const QString &text, const QString &style);
    // Takes the answer of the request under way; false for an answer that
    // belongs to no request of this login.
    bool takeAnswer();
    void loggedOut();

    Widgets m_ui;
    ServerVisualizer *m_server = nullptr;
    bool m_waiting = false;
    // The answer of a request sent before the last logout is not shown.
    bool m_ignoreNextAnswer = false;
};

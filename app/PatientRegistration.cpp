#include "app/PatientRegistration.h"

#include "app/LoginFlow.h"
#include "server/ServerVisualizer.h"
#include "widgets/Trace.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QStringList>

PatientRegistration::PatientRegistration(QWidget *window, const Widgets &widgets)
    : QObject(window), m_ui(widgets)
{
    // Return in the last field registers, as the button does.
    connect(m_ui.email, &QLineEdit::returnPressed, this, [this] {
        if (m_ui.registerButton->isEnabled())
            m_ui.registerButton->click();
    });
}

void PatientRegistration::connectTo(ServerVisualizer *server, LoginFlow *login)
{
    m_server = server;
    connect(server, &ServerVisualizer::registeredPatientCorrectly, this,
            &PatientRegistration::registeredCorrectly);
    connect(server, &ServerVisualizer::registeredPatientIncorrectly, this,
            &PatientRegistration::errorRegisteringPatient);
    connect(login, &LoginFlow::loggedOut, this, &PatientRegistration::loggedOut);
}

void PatientRegistration::openPage()
{
    m_ui.pages->setCurrentIndex(registrationPage);
    for (QLineEdit *field : {m_ui.identifier, m_ui.email, m_ui.firstName, m_ui.lastName})
        field->clear();
    // A request still under way keeps its answer coming (and Register off).
    if (!m_waiting)
        m_ui.messageWidget->hide();
    m_ui.firstName->setFocus(Qt::OtherFocusReason);
}

void PatientRegistration::registerPatient()
{
    if (!m_server || m_waiting)
        return;
    // Spaces around a pasted value are no part of it.
    const QString firstName = m_ui.firstName->text().trimmed();
    const QString lastName = m_ui.lastName->text().trimmed();
    const QString identifier = m_ui.identifier->text().trimmed();
    const QString email = m_ui.email->text().trimmed();
    // Names, identifier and address are the patient's: never traced.
    kelvaris::trace(QStringLiteral("Trying to register a patient"));
    m_waiting = true;
    m_ui.registerButton->setEnabled(false);
    showMessage(tr("Registering the patient…"), QStringLiteral("font:20px;font-weight: bold;color:white"));
    m_server->registerPatient(firstName, lastName, identifier, email);
}

bool PatientRegistration::takeAnswer()
{
    if (m_ignoreNextAnswer) {
        m_ignoreNextAnswer = false;
        return false;
    }
    m_waiting = false;
    m_ui.registerButton->setEnabled(true);
    return true;
}

void PatientRegistration::registeredCorrectly()
{
    if (takeAnswer())
        showMessage(tr("Correctly registered patient."), successStyle());
}

QString PatientRegistration::refusalText(const QString &message)
{
    // A server's error object says in its messages what was wrong: those,
    // rather than the object's syntax, are what the user reads.
    QStringList said;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8());
    if (document.isObject()) {
        const QJsonObject object = document.object();
        for (const QJsonValue &error : object.value(QStringLiteral("errors")).toArray()) {
            const QString text = error.toObject().value(QStringLiteral("message")).toString().trimmed();
            if (!text.isEmpty())
                said << text;
        }
        const QString text = object.value(QStringLiteral("message")).toString().trimmed();
        if (said.isEmpty() && !text.isEmpty())
            said << text;
    }
    QString shown = said.isEmpty() ? message : said.join(QLatin1Char('\n'));
    shown.remove(QLatin1Char('"'));
    return shown;
}

void PatientRegistration::errorRegisteringPatient(const QString &message)
{
    if (takeAnswer())
        showMessage(refusalText(message), refusalStyle());
}

void PatientRegistration::showMessage(const QString &text, const QString &style)
{
    m_ui.message->setTextFormat(Qt::PlainText);
    m_ui.message->setStyleSheet(style);
    m_ui.message->setText(text);
    m_ui.messageWidget->show();
}

void PatientRegistration::loggedOut()
{
    // What the previous user asked for is not told to the next one.
    if (m_waiting)
        m_ignoreNextAnswer = true;
    m_waiting = false;
    m_ui.registerButton->setEnabled(true);
    m_ui.messageWidget->hide();
    for (QLineEdit *field : {m_ui.identifier, m_ui.email, m_ui.firstName, m_ui.lastName})
        field->clear();
}

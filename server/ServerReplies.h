#pragma once

#include "server/Patient.h"

#include <QByteArray>
#include <QDate>
#include <QNetworkReply>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>
#include <vector>

// Readers of the server's reply bodies. They take untrusted bytes, never
// throw, and fall back to the stated defaults for missing or mistyped keys.
namespace ServerReplies {

// What one login step's reply asks the login dialog to do.
struct LoginStep
{
    enum Outcome
    {
        Correct,                   // logged in
        TotpNeeded,                // ask for the authenticator code
        MailCodeNeeded,            // ask for the e-mailed code
        UsernamePasswordIncorrect, // wrong credentials: stay on the login page
        CodeIncorrect,             // wrong code: stay on the code page
        Incorrect,                 // anything else: back to the login page
    };
    Outcome outcome = Incorrect;
    QString message;   // shown to the user for the failing outcomes
    QString token;     // a new session token; empty keeps the current one
    QString errorCode; // the server's error code, for the trace
};

// The reply to the credentials post. status 0 means no HTTP answer arrived;
// error then says why.
LoginStep loginReply(int status, const QByteArray &body, QNetworkReply::NetworkError error);
// The reply to an authenticator code (mfa) or e-mailed code post.
LoginStep secondFactorReply(int status, const QByteArray &body, QNetworkReply::NetworkError error);
// The plain message for a login step that got no usable answer.
QString failureMessage(int status, QNetworkReply::NetworkError error);

// The message shown for a refused registration: the server's own short text,
// or a plain message when the body is empty or too long to be one (an error page).
QString registrationRefusal(int status, const QByteArray &body, QNetworkReply::NetworkError error);

// The directory's answer: the API base URL (https, no trailing slash), or
// empty when the answer names none.
QString endpoint(const QByteArray &body);
// An https URL with a host, trailing slashes removed; empty when unusable.
QString httpsBase(const QString &text);

struct Permissions
{
    bool isDoctor = false;
    bool isPatientAdmin = false;
    QString name;
};
// Empty when the body is no JSON object.
std::optional<Permissions> permissions(const QByteArray &body);

// The patients of a list or search reply in reply order, each patient id once
// (the first occurrence wins).
std::vector<Patient> patientList(const QByteArray &body);

// One session document to fetch from storage.
struct SessionDocument
{
    QUrl url;
    QString patientID;
    QString sessionID;
    QString date;
};
// The documents of a patient's session list that can be requested.
std::vector<SessionDocument> sessionList(const QByteArray &body);
// Whether the body is a session list at all (an object with "patientID" and
// a "sessions_patient" array), however many documents it names.
bool isSessionList(const QByteArray &body);

// --- reports ---------------------------------------------------------------------

// One finished report: (report date, session date) and the PDF's URL.
using ReportEntry = std::pair<std::pair<QDate, QDate>, QUrl>;
// The entries of a report list reply, in reply order; each URL is
// baseUrl + "/getReport/" + the entry's "url". Missing keys give null dates and
// that prefix alone. Empty when the body is no JSON array.
std::optional<std::vector<ReportEntry>> reportList(const QByteArray &body, const QString &baseUrl);
// The storage target of a report upload reply: "url"."url" when "url"."fields"
// is an object; an empty URL otherwise.
QUrl reportUploadTarget(const QByteArray &body);

} // namespace ServerReplies

#include "server/ServerReplies.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <set>
#include <string>

namespace ServerReplies {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ServerVisualizer", text);
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

QJsonObject object(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

QString sessionToken(const QJsonObject &body)
{
    const QJsonValue token =
        body.value(QStringLiteral("meta")).toObject().value(QStringLiteral("session_token"));
    return token.isString() ? token.toString() : QString();
}

QJsonObject firstError(const QJsonObject &body)
{
    const QJsonArray errors = body.value(QStringLiteral("errors")).toArray();
    return errors.isEmpty() ? QJsonObject() : errors.first().toObject();
}

LoginStep step(LoginStep::Outcome outcome, const QString &message = {}, const QString &token = {})
{
    LoginStep result;
    result.outcome = outcome;
    result.message = message;
    result.token = token;
    return result;
}

// Decimal text of a JSON number holding an id; other values give an empty text.
QString idText(const QJsonValue &value)
{
    if (!value.isDouble())
        return {};
    const double number = value.toDouble();
    if (!(number >= -9.0e15 && number <= 9.0e15) || number != double(qint64(number)))
        return {};
    return QString::number(qint64(number));
}

} // namespace

QString failureMessage(int status, QNetworkReply::NetworkError error)
{
    if (status)
        return tr("Unexpected answer from the server (HTTP %1)").arg(status);
    if (error == QNetworkReply::SslHandshakeFailedError)
        return tr("Secure connection to the server failed");
    return tr("Server not reachable");
}

QString registrationRefusal(int status, const QByteArray &body, QNetworkReply::NetworkError error)
{
    constexpr int longestMessage = 199;
    if (!body.trimmed().isEmpty() && body.size() <= longestMessage)
        return QString::fromUtf8(body);
    return failureMessage(status, error);
}

LoginStep loginReply(int status, const QByteArray &body, QNetworkReply::NetworkError error)
{
    const QJsonObject reply = object(body);
    const QString token = sessionToken(reply);

    if (status == 401) {
        const QJsonArray flows =
            reply.value(QStringLiteral("data")).toObject().value(QStringLiteral("flows")).toArray();
        for (const QJsonValue &entry : flows) {
            const QJsonObject flow = entry.toObject();
            const QString id = flow.value(QStringLiteral("id")).toString();
            if (id == QLatin1String("login_by_code") && flow.value(QStringLiteral("is_pending")).toBool())
                return step(LoginStep::MailCodeNeeded, {}, token);
            if (id == QLatin1String("mfa_authenticate"))
                return step(LoginStep::TotpNeeded, {}, token);
        }
        return step(LoginStep::Incorrect, failureMessage(status, error), token);
    }

    if (!isSuccess(status)) {
        const QJsonObject first = firstError(reply);
        const QJsonValue message = first.value(QStringLiteral("message"));
        LoginStep result = step(LoginStep::Incorrect, failureMessage(status, error));
        result.errorCode = first.value(QStringLiteral("code")).toString();
        if (message.isString()) {
            result.message = message.toString();
            if (result.errorCode == QLatin1String("username_password_mismatch"))
                result.outcome = LoginStep::UsernamePasswordIncorrect;
        }
        return result;
    }

    // An account without a second factor gets its token right here.
    return step(LoginStep::Correct, {}, token);
}

LoginStep secondFactorReply(int status, const QByteArray &body, QNetworkReply::NetworkError error)
{
    const QJsonObject reply = object(body);
    const QString token = sessionToken(reply);
    if (reply.contains(QStringLiteral("meta")) && isSuccess(status))
        return step(LoginStep::Correct, {}, token);

    // A step that did not complete the login still hands over its token.
    LoginStep result = step(LoginStep::Incorrect, failureMessage(status, error), token);
    if (reply.contains(QStringLiteral("errors"))) {
        const QJsonObject first = firstError(reply);
        result.errorCode = first.value(QStringLiteral("code")).toString();
        const QJsonValue message = first.value(QStringLiteral("message"));
        if (message.isString()) {
            result.message = message.toString();
            if (result.errorCode == QLatin1String("incorrect_code"))
                result.outcome = LoginStep::CodeIncorrect;
        }
    }
    return result;
}

QString httpsBase(const QString &text)
{
    QString base = text.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty() || url.hasQuery() ||
        url.hasFragment() || !url.userInfo().isEmpty())
        return {};
    return base;
}

QString endpoint(const QByteArray &body)
{
    const QJsonValue value = object(body).value(QStringLiteral("endpoint"));
    return value.isString() ? httpsBase(value.toString()) : QString();
}

std::optional<Permissions> permissions(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject me = document.object();
    const QJsonValue doctor = me.value(QStringLiteral("isDoctor"));
    const QJsonValue admin = me.value(QStringLiteral("isPatientAdmin"));
    const QJsonValue name = me.value(QStringLiteral("name"));
    Permissions result;
    result.isDoctor = doctor.isBool() && doctor.toBool();
    result.isPatientAdmin = admin.isBool() && admin.toBool();
    result.name = name.isString() ? name.toString() : QString();
    return result;
}

std::vector<Patient> patientList(const QByteArray &body)
{
    std::vector<Patient> result;
    const QJsonValue results = object(body).value(QStringLiteral("results"));
    if (!results.isArray())
        return result;
    std::set<std::string> seen;
    for (const QJsonValue &entry : results.toArray()) {
        if (!entry.isObject())
            continue;
        Patient patient = Patient::fromJson(entry.toObject());
        if (!seen.insert(patient.patientID).second)
            continue;
        result.push_back(std::move(patient));
    }
    return result;
}

bool isSessionList(const QByteArray &body)
{
    const QJsonObject list = object(body);
    return list.contains(QStringLiteral("patientID")) && list.value(QStringLiteral("sessions_patient")).isArray();
}

std::vector<SessionDocument> sessionList(const QByteArray &body)
{
    std::vector<SessionDocument> result;
    const QJsonObject list = object(body);
    const QJsonValue sessions = list.value(QStringLiteral("sessions_patient"));
    if (!list.contains(QStringLiteral("patientID")) || !sessions.isArray())
        return result;
    const QJsonValue patient = list.value(QStringLiteral("patientID"));
    const QString patientID = patient.isString() ? patient.toString() : idText(patient);

    for (const QJsonValue &entry : sessions.toArray()) {
        const QJsonObject session = entry.toObject();
        const QJsonValue pk = session.value(QStringLiteral("pk"));
        const QJsonValue url = session.value(QStringLiteral("jsonUrl"));
        const QJsonValue date = session.value(QStringLiteral("date"));
        if (!url.isString() || !date.isString() || idText(pk).isEmpty())
            continue;
        const QUrl documentUrl(url.toString(), QUrl::StrictMode);
        if (!documentUrl.isValid() || documentUrl.isRelative() || documentUrl.host().isEmpty())
            continue;
        result.push_back({documentUrl, patientID, idText(pk), date.toString()});
    }
    return result;
}

std::optional<std::vector<ReportEntry>> reportList(const QByteArray &body, const QString &baseUrl)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (!document.isArray())
        return std::nullopt;
    std::vector<ReportEntry> entries;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject entry = value.toObject();
        const QDate date = QDate::fromString(entry.value(QStringLiteral("date")).toString(), Qt::ISODate);
        const QDate sessionDate =
            QDate::fromString(entry.value(QStringLiteral("session_date")).toString(), Qt::ISODate);
        const QUrl url(baseUrl + QStringLiteral("/getReport/") +
                       entry.value(QStringLiteral("url")).toString());
        entries.push_back({{date, sessionDate}, url});
    }
    return entries;
}

QUrl reportUploadTarget(const QByteArray &body)
{
    const QJsonObject target = object(body).value(QStringLiteral("url")).toObject();
    if (!target.value(QStringLiteral("fields")).isObject())
        return QUrl();
    const QJsonValue url = target.value(QStringLiteral("url"));
    return url.isString() ? QUrl(url.toString()) : QUrl();
}

} // namespace ServerReplies

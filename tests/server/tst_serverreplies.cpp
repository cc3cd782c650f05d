// Readers of the server's reply bodies: every branch of the login steps, the
// directory answer, permissions, patient and session lists, image names.

#include "server/ServerReplies.h"
#include "server/ServerVisualizer.h"

#include <QJsonDocument>
#include <QTest>

using ServerReplies::LoginStep;

Q_DECLARE_METATYPE(LoginStep::Outcome)

namespace {

const QByteArray kMfaFlows = R"({"data":{"flows":[{"id":"login"},{"id":"mfa_authenticate"}]},
                                 "meta":{"session_token":"pending-1"}})";

QString describe(const std::vector<Patient> &patients)
{
    QStringList rows;
    for (const Patient &p : patients)
        rows << QString::fromStdString(p.patientID + "|" + p.centerID + "|" + p.name + "|") +
                    (p.birthdate.isNull() ? QStringLiteral("null") : p.birthdate.toString(Qt::ISODate));
    return rows.join(QLatin1Char(';'));
}

QString describe(const std::vector<ServerReplies::SessionDocument> &documents)
{
    QStringList rows;
    for (const auto &d : documents)
        rows << d.patientID + QLatin1Char('|') + d.sessionID + QLatin1Char('|') + d.date + QLatin1Char('|') +
                    d.url.toString();
    return rows.join(QLatin1Char(';'));
}

} // namespace

class tst_ServerReplies : public QObject
{
    Q_OBJECT

private slots:
    void loginReply_data();
    void loginReply();
    void secondFactorReply_data();
    void secondFactorReply();
    void registrationRefusal_data();
    void registrationRefusal();
    void endpoint_data();
    void endpoint();
    void permissions_data();
    void permissions();
    void patientList_data();
    void patientList();
    void patientFields();
    void sessionList_data();
    void sessionList();
    void imageQuality_data();
    void imageQuality();
};

void tst_ServerReplies::loginReply_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<LoginStep::Outcome>("outcome");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("token");

    const auto none = QNetworkReply::NoError;
    QTest::newRow("2xx with token") << 200 << QByteArray(R"({"meta":{"session_token":"t-full"}})") << none
                                    << LoginStep::Correct << QString() << "t-full";
    QTest::newRow("2xx without meta")
        << 200 << QByteArray(R"({"data":{}})") << none << LoginStep::Correct << QString() << QString();
    QTest::newRow("2xx token not a string") << 201 << QByteArray(R"({"meta":{"session_token":17}})") << none
                                            << LoginStep::Correct << QString() << QString();
    QTest::newRow("401 authenticator flow") << 401 << kMfaFlows << QNetworkReply::AuthenticationRequiredError
                                            << LoginStep::TotpNeeded << QString() << "pending-1";
    QTest::newRow("401 pending mail flow")
        << 401 << QByteArray(R"({"data":{"flows":[{"id":"login_by_code","is_pending":true}]}})") << none
        << LoginStep::MailCodeNeeded << QString() << QString();
    QTest::newRow("401 mail flow not pending, then authenticator")
        << 401
        << QByteArray(
               R"({"data":{"flows":[{"id":"login_by_code","is_pending":false},{"id":"mfa_authenticate"}]}})")
        << none << LoginStep::TotpNeeded << QString() << QString();
    QTest::newRow("401 first known flow wins")
        << 401
        << QByteArray(
               R"({"data":{"flows":[{"id":"mfa_authenticate"},{"id":"login_by_code","is_pending":true}]}})")
        << none << LoginStep::TotpNeeded << QString() << QString();
    QTest::newRow("401 with no known flow")
        << 401
        << QByteArray(
               R"({"data":{"flows":[{"id":"login_by_code","is_pending":false}]},"meta":{"session_token":"p"}})")
        << none << LoginStep::Incorrect << "Unexpected answer from the server (HTTP 401)"
        << "p";
    QTest::newRow("401 without a body") << 401 << QByteArray() << none << LoginStep::Incorrect
                                        << "Unexpected answer from the server (HTTP 401)" << QString();
    QTest::newRow("wrong credentials")
        << 400
        << QByteArray(R"({"errors":[{"code":"username_password_mismatch","message":"Wrong password."}]})")
        << QNetworkReply::ProtocolInvalidOperationError << LoginStep::UsernamePasswordIncorrect
        << "Wrong password." << QString();
    QTest::newRow("other refusal with message")
        << 429 << QByteArray(R"({"errors":[{"code":"too_many_attempts","message":"Too many."}]})") << none
        << LoginStep::Incorrect << "Too many." << QString();
    QTest::newRow("only the first error counts")
        << 400
        << QByteArray(R"({"errors":[{"code":"x","message":"First."},{"code":"username_password_mismatch",)"
                      R"("message":"Second."}]})")
        << none << LoginStep::Incorrect << "First." << QString();
    QTest::newRow("refusal without message")
        << 403 << QByteArray(R"({"errors":[{"code":"username_password_mismatch"}]})") << none
        << LoginStep::Incorrect << "Unexpected answer from the server (HTTP 403)" << QString();
    QTest::newRow("empty error list") << 400 << QByteArray(R"({"errors":[]})") << none << LoginStep::Incorrect
                                      << "Unexpected answer from the server (HTTP 400)" << QString();
    QTest::newRow("error page") << 502 << QByteArray("<html>Bad gateway</html>") << none
                                << LoginStep::Incorrect << "Unexpected answer from the server (HTTP 502)"
                                << QString();
    QTest::newRow("connection refused") << 0 << QByteArray() << QNetworkReply::ConnectionRefusedError
                                        << LoginStep::Incorrect << "Server not reachable" << QString();
    QTest::newRow("timed out") << 0 << QByteArray() << QNetworkReply::OperationCanceledError
                               << LoginStep::Incorrect << "Server not reachable" << QString();
    QTest::newRow("untrusted certificate")
        << 0 << QByteArray() << QNetworkReply::SslHandshakeFailedError << LoginStep::Incorrect
        << "Secure connection to the server failed" << QString();
}

void tst_ServerReplies::loginReply()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(LoginStep::Outcome, outcome);
    QFETCH(QString, message);
    QFETCH(QString, token);

    const LoginStep step = ServerReplies::loginReply(status, body, error);
    QCOMPARE(step.outcome, outcome);
    QCOMPARE(step.message, message);
    QCOMPARE(step.token, token);
}

void tst_ServerReplies::secondFactorReply_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<LoginStep::Outcome>("outcome");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("token");

    const auto none = QNetworkReply::NoError;
    QTest::newRow("2xx with token") << 200 << QByteArray(R"({"meta":{"session_token":"t-full"}})") << none
                                    << LoginStep::Correct << QString() << "t-full";
    QTest::newRow("2xx with meta but no token")
        << 200 << QByteArray(R"({"meta":{}})") << none << LoginStep::Correct << QString() << QString();
    QTest::newRow("2xx without meta") << 200 << QByteArray(R"({"data":{}})") << none << LoginStep::Incorrect
                                      << "Unexpected answer from the server (HTTP 200)" << QString();
    QTest::newRow("2xx not JSON") << 200 << QByteArray("<html/>") << none << LoginStep::Incorrect
                                  << "Unexpected answer from the server (HTTP 200)" << QString();
    QTest::newRow("wrong code")
        << 400 << QByteArray(R"({"errors":[{"code":"incorrect_code","message":"Incorrect code."}]})")
        << QNetworkReply::ProtocolInvalidOperationError << LoginStep::CodeIncorrect << "Incorrect code."
        << QString();
    QTest::newRow("wrong code keeps the new token")
        << 400
        << QByteArray(
               R"({"meta":{"session_token":"again"},"errors":[{"code":"incorrect_code","message":"No."}]})")
        << none << LoginStep::CodeIncorrect << "No."
        << "again";
    QTest::newRow("expired code") << 400
                                  << QByteArray(
                                         R"({"errors":[{"code":"code_expired","message":"Expired."}]})")
                                  << none << LoginStep::Incorrect << "Expired." << QString();
    QTest::newRow("error without message")
        << 400 << QByteArray(R"({"errors":[{"code":"incorrect_code"}]})") << none << LoginStep::Incorrect
        << "Unexpected answer from the server (HTTP 400)" << QString();
    QTest::newRow("error page") << 500 << QByteArray("oops") << none << LoginStep::Incorrect
                                << "Unexpected answer from the server (HTTP 500)" << QString();
    QTest::newRow("no answer") << 0 << QByteArray() << QNetworkReply::RemoteHostClosedError
                               << LoginStep::Incorrect << "Server not reachable" << QString();
}

void tst_ServerReplies::secondFactorReply()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(LoginStep::Outcome, outcome);
    QFETCH(QString, message);
    QFETCH(QString, token);

    const LoginStep step = ServerReplies::secondFactorReply(status, body, error);
    QCOMPARE(step.outcome, outcome);
    QCOMPARE(step.message, message);
    QCOMPARE(step.token, token);
}

void tst_ServerReplies::registrationRefusal_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<QString>("message");

    const QByteArray short199 = QByteArray(199, 'a');
    QTest::newRow("short refusal") << 409 << QByteArray("{\"detail\":\"Duplicate\"}")
                                   << QNetworkReply::ContentConflictError << "{\"detail\":\"Duplicate\"}";
    QTest::newRow("199 bytes") << 400 << short199 << QNetworkReply::ProtocolInvalidOperationError
                               << QString::fromLatin1(short199);
    QTest::newRow("200 bytes") << 400 << QByteArray(200, 'a') << QNetworkReply::ProtocolInvalidOperationError
                               << "Unexpected answer from the server (HTTP 400)";
    QTest::newRow("non-ASCII text") << 400 << QString::fromUtf8("Ja existeix: Núria").toUtf8()
                                    << QNetworkReply::ProtocolInvalidOperationError
                                    << QString::fromUtf8("Ja existeix: Núria");
    QTest::newRow("empty body") << 500 << QByteArray() << QNetworkReply::InternalServerError
                                << "Unexpected answer from the server (HTTP 500)";
    QTest::newRow("no answer") << 0 << QByteArray() << QNetworkReply::ConnectionRefusedError
                               << "Server not reachable";
}

void tst_ServerReplies::registrationRefusal()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(QString, message);
    QCOMPARE(ServerReplies::registrationRefusal(status, body, error), message);
}

void tst_ServerReplies::endpoint_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("base");

    QTest::newRow("https URL") << QByteArray(R"({"endpoint":"https://api.example.org"})")
                               << "https://api.example.org";
    QTest::newRow("with port and path")
        << QByteArray(R"({"endpoint":"https://127.0.0.1:8443/clinic"})") << "https://127.0.0.1:8443/clinic";
    QTest::newRow("trailing slashes removed")
        << QByteArray(R"({"endpoint":"https://api.example.org//"})") << "https://api.example.org";
    QTest::newRow("plain http") << QByteArray(R"({"endpoint":"http://api.example.org"})") << QString();
    QTest::newRow("number") << QByteArray(R"({"endpoint":42})") << QString();
    QTest::newRow("null") << QByteArray(R"({"endpoint":null})") << QString();
    QTest::newRow("empty") << QByteArray(R"({"endpoint":""})") << QString();
    QTest::newRow("no host") << QByteArray(R"({"endpoint":"https://"})") << QString();
    QTest::newRow("user info") << QByteArray(R"({"endpoint":"https://a:b@api.example.org"})") << QString();
    QTest::newRow("query") << QByteArray(R"({"endpoint":"https://api.example.org?x=1"})") << QString();
    QTest::newRow("missing key") << QByteArray(R"({"name":"demo"})") << QString();
    QTest::newRow("array") << QByteArray(R"(["https://api.example.org"])") << QString();
    QTest::newRow("not JSON") << QByteArray("<html/>") << QString();
}

void tst_ServerReplies::endpoint()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, base);
    QCOMPARE(ServerReplies::endpoint(body), base);
}

void tst_ServerReplies::permissions_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<bool>("isDoctor");
    QTest::addColumn<bool>("isPatientAdmin");
    QTest::addColumn<QString>("name");

    QTest::newRow("doctor") << QByteArray(R"({"isDoctor":true,"isPatientAdmin":false,"name":"Dr. A"})")
                            << true << true << false << "Dr. A";
    QTest::newRow("administrator only")
        << QByteArray(R"({"isDoctor":false,"isPatientAdmin":true})") << true << false << true << QString();
    QTest::newRow("neither role") << QByteArray(R"({"isDoctor":false,"isPatientAdmin":false,"name":"V"})")
                                  << true << false << false << "V";
    QTest::newRow("flag as text") << QByteArray(R"({"isDoctor":"yes","name":7})") << true << false << false
                                  << QString();
    QTest::newRow("empty object") << QByteArray("{}") << true << false << false << QString();
    QTest::newRow("array") << QByteArray(R"([{"isDoctor":true}])") << false << false << false << QString();
    QTest::newRow("not JSON") << QByteArray("<html/>") << false << false << false << QString();
    QTest::newRow("empty body") << QByteArray() << false << false << false << QString();
}

void tst_ServerReplies::permissions()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, usable);
    QFETCH(bool, isDoctor);
    QFETCH(bool, isPatientAdmin);
    QFETCH(QString, name);

    const auto me = ServerReplies::permissions(body);
    QCOMPARE(me.has_value(), usable);
    if (!usable)
        return;
    QCOMPARE(me->isDoctor, isDoctor);
    QCOMPARE(me->isPatientAdmin, isPatientAdmin);
    QCOMPARE(me->name, name);
}

void tst_ServerReplies::patientList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("patients");

    QTest::newRow("two patients in order")
        << QByteArray(R"({"results":[{"patientID":12,"centerID":"KV-1","name":"Ada","birthdate":"1970-01-31"},
                                       {"patientID":3,"centerID":"KV-2","name":"Bo"}]})")
        << "12|KV-1|Ada|1970-01-31;3|KV-2|Bo|null";
    QTest::newRow("name followed by tag")
        << QByteArray(R"j({"results":[{"patientID":1,"name":"Marta Puig","tag":" (research)"}]})j")
        << "1||Marta Puig (research)|null";
    QTest::newRow("tag alone") << QByteArray(R"({"results":[{"patientID":1,"tag":"VIP"}]})") << "1||VIP|null";
    QTest::newRow("non-ASCII name")
        << QString::fromUtf8(R"({"results":[{"patientID":4,"name":"Øystein Åsgård"}]})").toUtf8()
        << QString::fromUtf8("4||Øystein Åsgård|null");
    QTest::newRow("impossible date") << QByteArray(
                                            R"({"results":[{"patientID":1,"birthdate":"1990-02-30"}]})")
                                     << "1|||null";
    QTest::newRow("other date format")
        << QByteArray(R"({"results":[{"patientID":1,"birthdate":"30/01/1990"}]})") << "1|||null";
    QTest::newRow("missing id twice: first kept")
        << QByteArray(R"({"results":[{"name":"First"},{"name":"Second"}]})") << "||First|null";
    QTest::newRow("duplicate id: first kept")
        << QByteArray(
               R"({"results":[{"patientID":5,"name":"A"},{"patientID":5,"name":"B"},{"patientID":6}]})")
        << "5||A|null;6|||null";
    QTest::newRow("id not a whole number")
        << QByteArray(R"({"results":[{"patientID":5.5,"name":"A"},{"patientID":"5","name":"B"}]})")
        << "||A|null";
    QTest::newRow("elements that are no objects skipped")
        << QByteArray(R"({"results":[1,"x",null,[],{"patientID":9}]})") << "9|||null";
    QTest::newRow("paging keys ignored")
        << QByteArray(R"({"count":1,"next":"https://x/?page=2","results":[{"patientID":2}]})") << "2|||null";
    QTest::newRow("results not an array") << QByteArray(R"({"results":{"patientID":2}})") << QString();
    QTest::newRow("empty results") << QByteArray(R"({"results":[]})") << QString();
    QTest::newRow("array body") << QByteArray(R"([{"patientID":2}])") << QString();
    QTest::newRow("not JSON") << QByteArray("<html/>") << QString();
}

void tst_ServerReplies::patientList()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, patients);
    QCOMPARE(describe(ServerReplies::patientList(body)), patients);
}

void tst_ServerReplies::patientFields()
{
    const Patient patient = Patient::fromJson(
        QJsonDocument::fromJson(R"({"patientID":77,"centerID":"KV-77","name":"N","email":"n@example.org"})")
            .object());
    // The e-mail is not read from the list; the clinic identifier is kept twice.
    QCOMPARE(patient.email, std::string());
    QCOMPARE(patient.clinicIdentifier, std::string("KV-77"));
    QCOMPARE(patient.centerID, std::string("KV-77"));
}

void tst_ServerReplies::sessionList_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("documents");

    QTest::newRow("two sessions") << QByteArray(R"({"patientID":7,"sessions_patient":[
               {"pk":1,"jsonUrl":"https://s.example/a/session.json?sig=1","date":"2025-01-02T03:04:05.006Z"},
               {"pk":2,"jsonUrl":"https://s.example/b/session.json","date":"2026-01-02T03:04:05.006Z"}]})")
                                  << "7|1|2025-01-02T03:04:05.006Z|https://s.example/a/session.json?sig=1;"
                                     "7|2|2026-01-02T03:04:05.006Z|https://s.example/b/session.json";
    QTest::newRow("null document skipped")
        << QByteArray(R"({"patientID":7,"sessions_patient":[{"pk":1,"jsonUrl":null,"date":"d"},
               {"pk":2,"jsonUrl":"https://s.example/b","date":"d"}]})")
        << "7|2|d|https://s.example/b";
    QTest::newRow("missing pk, date or URL skipped")
        << QByteArray(R"({"patientID":7,"sessions_patient":[{"jsonUrl":"https://s.example/a","date":"d"},
               {"pk":2,"jsonUrl":"https://s.example/b"},{"pk":3,"date":"d"},
               {"pk":4,"jsonUrl":"https://s.example/d","date":"d"}]})")
        << "7|4|d|https://s.example/d";
    QTest::newRow("unparsable date still requested")
        << QByteArray(
               R"({"patientID":7,"sessions_patient":[{"pk":1,"jsonUrl":"https://s.example/a","date":"yesterday"}]})")
        << "7|1|yesterday|https://s.example/a";
    QTest::newRow("pk not a number or URL not absolute skipped")
        << QByteArray(
               R"({"patientID":7,"sessions_patient":[{"pk":"1","jsonUrl":"https://s.example/a","date":"d"},
               {"pk":2,"jsonUrl":"session.json","date":"d"},{"pk":3,"jsonUrl":"","date":"d"}, 5]})")
        << QString();
    QTest::newRow("patient id as text") << QByteArray(R"({"patientID":"7","sessions_patient":[{"pk":1,
               "jsonUrl":"https://s.example/a","date":"d"}]})")
                                        << "7|1|d|https://s.example/a";
    QTest::newRow("no patient id") << QByteArray(
                                          R"({"sessions_patient":[{"pk":1,"jsonUrl":"https://s.example/a",
               "date":"d"}]})") << QString();
    QTest::newRow("sessions not an array")
        << QByteArray(R"({"patientID":7,"sessions_patient":{}})") << QString();
    QTest::newRow("not JSON") << QByteArray("<html/>") << QString();
}

void tst_ServerReplies::sessionList()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, documents);
    QCOMPARE(describe(ServerReplies::sessionList(body)), documents);
}

void tst_ServerReplies::imageQuality_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("delivered");
    QTest::addColumn<int>("code");

    QTest::newRow("plain") << "0_12_3.jpg"
                           << "0_12_3.jpg" << 1;
    QTest::newRow("l removed") << "0_12_3l.jpg"
                               << "0_12_3.jpg" << 0;
    QTest::newRow("s") << "4_7s.jpg"
                       << "4_7s.jpg" << -2;
    QTest::newRow("m") << "4_7m.jpg"
                       << "4_7m.jpg" << -3;
    QTest::newRow("e") << "4_7e.jpg"
                       << "4_7e.jpg" << -4;
    QTest::newRow("ml: l removed, then m") << "4_7ml.jpg"
                                           << "4_7m.jpg" << -3;
    QTest::newRow("sl: l removed, then s") << "4_7sl.jpg"
                                           << "4_7s.jpg" << -2;
    QTest::newRow("el: l removed, then e") << "4_7el.jpg"
                                           << "4_7e.jpg" << -4;
    QTest::newRow("upper case is plain") << "4_7L.jpg"
                                         << "4_7L.jpg" << 1;
    QTest::newRow("other extension") << "4_7s.png"
                                     << "4_7s.png" << 1;
    QTest::newRow("with folder") << "sessions/1/2/imgL/0_3l.jpg"
                                 << "sessions/1/2/imgL/0_3.jpg" << 0;
    QTest::newRow("only the suffix") << "l.jpg"
                                     << ".jpg" << 0;
    QTest::newRow("empty") << ""
                           << "" << 1;
}

void tst_ServerReplies::imageQuality()
{
    QFETCH(QString, name);
    QFETCH(QString, delivered);
    QFETCH(int, code);
    QCOMPARE(ServerVisualizer::imageQuality(name), code);
    QCOMPARE(name, delivered);
}

QTEST_GUILESS_MAIN(tst_ServerReplies)
#include "tst_serverreplies.moc"

#include "DemoTestSupport.h"

#include "demo-server/DemoStorage.h"
#include "demo-server/SampleData.h"

#include <QBuffer>
#include <QImageReader>
#include <QJsonArray>
#include <QSignalSpy>
#include <QSslSocket>
#include <QUrlQuery>

namespace {

QSize jpegSize(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, "jpeg").size();
}

QByteArray smallJpeg()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 150, 120));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    return bytes;
}

QStringList names(const QJsonArray &entries)
{
    QStringList out;
    for (const QJsonValue &e : entries)
        out << e.toObject().value(QStringLiteral("name")).toString();
    return out;
}

QString urlOf(const QJsonArray &entries, const QString &name)
{
    for (const QJsonValue &e : entries) {
        if (e.toObject().value(QStringLiteral("name")).toString() == name)
            return e.toObject().value(QStringLiteral("url")).toString();
    }
    return {};
}

const SampleData::Session *newestOf(int patient)
{
    return SampleData::instance().session(SampleData::instance().patient(patient)->sessions.back());
}

} // namespace

class tst_DemoApi : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void directory_data();
    void directory();
    void patientList();
    void search_data();
    void search();
    void registration_data();
    void registration();
    void sessionList_data();
    void sessionList();
    void listing_data();
    void listing();
    void singleDermatoscopic_data();
    void singleDermatoscopic();
    void singleClinical_data();
    void singleClinical();
    void storageServesWhatTheListingNames();
    void refusedStorageUrls_data();
    void refusedStorageUrls();
    void uploadShowsInTheNextListing_data();
    void uploadShowsInTheNextListing();
    void uploadRules_data();
    void uploadRules();
    void reportTemplates();
    void reports();
    void errors_data();
    void errors();
    void logLinesCarryNoSecrets();
    void hugeBodyIsRefusedEarly_data();
    void hugeBodyIsRefusedEarly();
    void warmUpMakesPicturesUnasked();

private:
    HttpResult listing(int patient, int session, const QString &suffix = {});
    std::unique_ptr<TestServer> server;
    TestClient client;
};

void tst_DemoApi::initTestCase()
{
    server = std::make_unique<TestServer>();
    QVERIFY2(server->started, qPrintable(server->server->errorString()));
    client.token = loginToken(client, *server, QStringLiteral("chief"));
    QVERIFY(!client.token.isEmpty());
}

HttpResult tst_DemoApi::listing(int patient, int session, const QString &suffix)
{
    return client.get(
        server->url(QStringLiteral("/api/patients/%1/sessions/%2/%3").arg(patient).arg(session).arg(suffix)));
}

void tst_DemoApi::directory_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("status");
    QTest::newRow("demo") << "demo" << 200;
    QTest::newRow("other letter case") << "Demo" << 404;
    QTest::newRow("unknown") << "hospital" << 404;
}

void tst_DemoApi::directory()
{
    QFETCH(QString, name);
    QFETCH(int, status);
    TestClient anonymous;
    const HttpResult r =
        anonymous.get(server->server->directoryUrl() + QStringLiteral("/api/server/%1/").arg(name), false);
    QCOMPARE(r.status, status);
    if (status == 200)
        QCOMPARE(r.object().value(QStringLiteral("endpoint")).toString(), server->server->baseUrl());
    else
        QVERIFY(!r.object().contains(QStringLiteral("endpoint")));
}

void tst_DemoApi::patientList()
{
    const HttpResult r = client.get(server->url(QStringLiteral("/api/patients/")));
    QCOMPARE(r.status, 200);
    QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
    const QJsonArray results = r.object().value(QStringLiteral("results")).toArray();
    QVERIFY(results.size() >= int(SampleData::instance().patients.size()));
    int withoutBirthdate = 0, tagged = 0, impossible = 0;
    for (const QJsonValue &v : results) {
        const QJsonObject p = v.toObject();
        QVERIFY(p.value(QStringLiteral("patientID")).isDouble());
        QVERIFY(p.value(QStringLiteral("centerID")).isString());
        QVERIFY(p.value(QStringLiteral("name")).isString());
        if (!p.contains(QStringLiteral("birthdate")))
            ++withoutBirthdate;
        else if (!QDate::fromString(p.value(QStringLiteral("birthdate")).toString(),
                                    QStringLiteral("yyyy-MM-dd"))
                      .isValid())
            ++impossible;
        if (p.contains(QStringLiteral("tag")))
            ++tagged;
    }
    QVERIFY(withoutBirthdate >= 1);
    QVERIFY(impossible >= 1);
    QVERIFY(tagged >= 1);
}

void tst_DemoApi::search_data()
{
    QTest::addColumn<QString>("text"); // appended as typed, as the program does
    QTest::addColumn<QStringList>("centerIds");
    QTest::newRow("identifier") << "KV-1003" << QStringList{"KV-1003"};
    QTest::newRow("identifier, lower case") << "kv-1002" << QStringList{"KV-1002"};
    QTest::newRow("part of a name") << "ferrer vi" << QStringList{"KV-1002"};
    QTest::newRow("non-ASCII, other case") << "NÚRIA" << QStringList{"KV-1003"};
    QTest::newRow("percent-encoded") << "%C3%85sg" << QStringList{"KV-1004"};
    QTest::newRow("plus stays a plus") << "Puig+Soler" << QStringList{};
    QTest::newRow("nothing found") << "zzz" << QStringList{};
}

void tst_DemoApi::search()
{
    QFETCH(QString, text);
    QFETCH(QStringList, centerIds);
    const HttpResult r = client.get(server->url(QStringLiteral("/api/patients/?id=") + text));
    QCOMPARE(r.status, 200);
    QStringList found;
    for (const QJsonValue &v : r.object().value(QStringLiteral("results")).toArray())
        found << v.toObject().value(QStringLiteral("centerID")).toString();
    QCOMPARE(found, centerIds);
}

void tst_DemoApi::registration_data()
{
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    auto patient = [](const QString &center, const QString &email, const QString &first,
                      const QString &last) {
        return QJsonObject{{QStringLiteral("CenterID"), center},
                           {QStringLiteral("Email"), email},
                           {QStringLiteral("FirstName"), first},
                           {QStringLiteral("LastName"), last}};
    };
    QTest::newRow("new patient") << patient("NEW-001", "new@clinic.example", "Jana", "Nováková") << 201 << "";
    QTest::newRow("same identifier") << patient("NEW-001", "x@clinic.example", "Other", "Person") << 409
                                     << "duplicate_center_id";
    QTest::newRow("sample identifier in other case")
        << patient("kv-1001", "x@clinic.example", "Other", "Person") << 409 << "duplicate_center_id";
    QTest::newRow("bad e-mail") << patient("NEW-002", "not-an-address", "A", "B") << 400 << "invalid_email";
    QTest::newRow("empty first name")
        << patient("NEW-003", "a@clinic.example", "  ", "B") << 400 << "invalid_name";
    QTest::newRow("identifier with a space")
        << patient("NEW 004", "a@clinic.example", "A", "B") << 400 << "invalid_center_id";
    QJsonObject missing = patient("NEW-005", "a@clinic.example", "A", "B");
    missing.remove(QStringLiteral("LastName"));
    QTest::newRow("field missing") << missing << 400 << "missing_field";
    QJsonObject number = patient("NEW-006", "a@clinic.example", "A", "B");
    number.insert(QStringLiteral("CenterID"), 6);
    QTest::newRow("identifier a number") << number << 400 << "missing_field";
}

void tst_DemoApi::registration()
{
    QFETCH(QJsonObject, body);
    QFETCH(int, status);
    QFETCH(QString, code);
    const HttpResult r = client.postJson(server->url(QStringLiteral("/api/patients/")), body);
    QCOMPARE(r.status, status);
    if (status == 201) {
        const HttpResult found = client.get(server->url(QStringLiteral("/api/patients/?id=") +
                                                        body.value(QStringLiteral("CenterID")).toString()));
        const QJsonArray results = found.object().value(QStringLiteral("results")).toArray();
        QCOMPARE(results.size(), 1);
        QCOMPARE(results[0].toObject().value(QStringLiteral("patientID")),
                 r.object().value(QStringLiteral("patientID")));
    } else {
        QCOMPARE(r.errorCode(), code);
        // The program shows rejections shorter than 200 bytes to the user.
        QVERIFY2(r.body.size() < 200, r.body.constData());
    }
}

void tst_DemoApi::sessionList_data()
{
    QTest::addColumn<int>("patient");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("sessions");
    QTest::addColumn<int>("withoutDocument");
    QTest::newRow("five sessions") << 11 << 200 << 5 << 0;
    QTest::newRow("one without document") << 13 << 200 << 2 << 1;
    QTest::newRow("no session") << 15 << 200 << 0 << 0;
    QTest::newRow("unknown patient") << 999 << 404 << 0 << 0;
}

void tst_DemoApi::sessionList()
{
    QFETCH(int, patient);
    QFETCH(int, status);
    QFETCH(int, sessions);
    QFETCH(int, withoutDocument);
    const HttpResult r = client.get(server->url(QStringLiteral("/api/patients/%1/json/").arg(patient)));
    QCOMPARE(r.status, status);
    if (status != 200)
        return;
    const QJsonObject body = r.object();
    QCOMPARE(body.value(QStringLiteral("patientID")).toInt(), patient);
    const QJsonArray list = body.value(QStringLiteral("sessions_patient")).toArray();
    QCOMPARE(list.size(), sessions);
    int nulls = 0;
    for (const QJsonValue &v : list) {
        const QJsonObject s = v.toObject();
        QVERIFY(s.value(QStringLiteral("pk")).isDouble());
        QVERIFY(
            QDateTime::fromString(s.value(QStringLiteral("date")).toString(), Qt::ISODateWithMs).isValid());
        if (s.value(QStringLiteral("jsonUrl")).isNull()) {
            ++nulls;
            continue;
        }
        const QUrl url(s.value(QStringLiteral("jsonUrl")).toString());
        QCOMPARE(url.fileName(), QStringLiteral("session.json"));
        QVERIFY(QUrlQuery(url).hasQueryItem(QStringLiteral("signature")));
    }
    QCOMPARE(nulls, withoutDocument);
}

void tst_DemoApi::listing_data()
{
    QTest::addColumn<int>("patient");
    QTest::addColumn<int>("session");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("dermatos");
    QTest::addColumn<bool>("generals");
    const SampleData::Session *s = newestOf(11);
    QTest::newRow("whole session") << 11 << s->id << "" << true << true;
    QTest::newRow("dermatoscopic part") << 11 << s->id << "dermatoscopic/" << true << false;
    QTest::newRow("clinical part") << 11 << s->id << "clinical/" << false << true;
    const SampleData::Patient *twoSessions = SampleData::instance().patient(13);
    QTest::newRow("session without document") << 13 << twoSessions->sessions.back() << "" << false << false;
}

void tst_DemoApi::listing()
{
    QFETCH(int, patient);
    QFETCH(int, session);
    QFETCH(QString, suffix);
    QFETCH(bool, dermatos);
    QFETCH(bool, generals);
    const HttpResult r = listing(patient, session, suffix);
    QCOMPARE(r.status, 200);
    const QJsonObject body = r.object();
    // The list of each part asked for is there, empty when there is
    // nothing; the other part's is not.
    QCOMPARE(body.value(QStringLiteral("dermatos")).isArray(), suffix != QLatin1String("clinical/"));
    QCOMPARE(body.value(QStringLiteral("generals")).isArray(), suffix != QLatin1String("dermatoscopic/"));
    QCOMPARE(!body.value(QStringLiteral("dermatos")).toArray().isEmpty(), dermatos);
    QCOMPARE(!body.value(QStringLiteral("generals")).toArray().isEmpty(), generals);
    const QString folder = QStringLiteral("sessions/%1/%2/").arg(patient).arg(session);
    for (const QJsonValue &v : body.value(QStringLiteral("generals")).toArray()) {
        const QString name = v.toObject().value(QStringLiteral("name")).toString();
        QVERIFY2(name.startsWith(folder + QStringLiteral("imgL/")) && name.endsWith(QLatin1String(".jpg")),
                 qPrintable(name));
        const QString stem = name.section(QLatin1Char('/'), -1).chopped(4);
        // The stored file name with its variant: the large one.
        QCOMPARE(QUrl(v.toObject().value(QStringLiteral("url")).toString()).fileName(),
                 stem + QStringLiteral("l.jpg"));
    }
    for (const QJsonValue &v : body.value(QStringLiteral("dermatos")).toArray()) {
        const QString name = v.toObject().value(QStringLiteral("name")).toString();
        QVERIFY(name.startsWith(folder + QStringLiteral("dermatoscopic/")));
        QCOMPARE(QUrl(v.toObject().value(QStringLiteral("url")).toString()).fileName(),
                 name.section(QLatin1Char('/'), -1));
    }
    if (generals) {
        const SampleData::Session *s = SampleData::instance().session(session);
        QCOMPARE(body.value(QStringLiteral("generals")).toArray().size(), qsizetype(s->images.size()));
    }
}

void tst_DemoApi::singleDermatoscopic_data()
{
    QTest::addColumn<int>("session");
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("thumbnail");
    QTest::addColumn<bool>("inFullListing");
    const SampleData::Session *newest = newestOf(12);
    for (const SampleData::Dermatoscopic &d : newest->dermatoscopic) {
        if (!d.hasThumbnail)
            QTest::newRow("without thumbnail") << newest->id << d.id << false << true;
        else if (!d.listed)
            QTest::newRow("left out of the listing") << newest->id << d.id << true << false;
    }
    const SampleData::Dermatoscopic &plain = newest->dermatoscopic.back();
    QTest::newRow("ordinary") << newest->id << plain.id << true << true;
    QTest::newRow("ordinary, with extension") << newest->id << plain.id + ".jpg" << true << true;
}

void tst_DemoApi::singleDermatoscopic()
{
    QFETCH(int, session);
    QFETCH(QString, id);
    QFETCH(bool, thumbnail);
    QFETCH(bool, inFullListing);
    const HttpResult r = listing(12, session, QStringLiteral("dermatoscopic/") + id);
    QCOMPARE(r.status, 200);
    const QString bare = id.endsWith(QLatin1String(".jpg")) ? id.chopped(4) : id;
    const QString folder = QStringLiteral("sessions/12/%1/dermatoscopic/").arg(session);
    QStringList expected{folder + bare + ".jpg"};
    if (thumbnail)
        expected << folder + bare + "s.jpg";
    QCOMPARE(names(r.object().value(QStringLiteral("dermatos")).toArray()), expected);
    QCOMPARE(names(r.object().value(QStringLiteral("images")).toArray()), expected);
    QCOMPARE(r.object().value(QStringLiteral("generals")).toArray().size(), 0);
    const QStringList full = names(listing(12, session).object().value(QStringLiteral("dermatos")).toArray());
    QCOMPARE(full.contains(folder + bare + ".jpg"), inFullListing);
    // The picture is there either way.
    const HttpResult picture = client.get(
        urlOf(r.object().value(QStringLiteral("images")).toArray(), folder + bare + ".jpg"), false);
    QCOMPARE(picture.status, 200);
    QVERIFY(jpegSize(picture.body).isValid());
}

void tst_DemoApi::singleClinical_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("variant");
    QTest::addColumn<int>("status");
    QTest::newRow("default") << ""
                             << "l" << 200;
    QTest::newRow("high quality") << "?quality=h"
                                  << "" << 200;
    QTest::newRow("small") << "?quality=s"
                           << "s" << 200;
    QTest::newRow("unknown quality") << "?quality=x"
                                     << "" << 400;
}

void tst_DemoApi::singleClinical()
{
    QFETCH(QString, query);
    QFETCH(QString, variant);
    QFETCH(int, status);
    const SampleData::Session *s = newestOf(11);
    const QString name = s->images[1].name;
    const HttpResult r =
        listing(11, s->id, QStringLiteral("clinical/") + name + QStringLiteral(".jpg") + query);
    QCOMPARE(r.status, status);
    if (status != 200)
        return;
    const QJsonArray images = r.object().value(QStringLiteral("images")).toArray();
    QCOMPARE(names(images), QStringList{QStringLiteral("sessions/11/%1/imgL/%2.jpg").arg(s->id).arg(name)});
    const QUrl url(images[0].toObject().value(QStringLiteral("url")).toString());
    QCOMPARE(url.fileName(), name + variant + QStringLiteral(".jpg"));
    QCOMPARE(client.get(url.toString(), false).status, 200);
    QCOMPARE(listing(11, s->id, QStringLiteral("clinical/no_such_image")).status, 404);
}

void tst_DemoApi::storageServesWhatTheListingNames()
{
    const SampleData::Session *s = newestOf(11);
    const QJsonArray sessions = client.get(server->url(QStringLiteral("/api/patients/11/json/")))
                                    .object()
                                    .value(QStringLiteral("sessions_patient"))
                                    .toArray();
    QString jsonUrl;
    for (const QJsonValue &v : sessions) {
        if (v.toObject().value(QStringLiteral("pk")).toInt() == s->id)
            jsonUrl = v.toObject().value(QStringLiteral("jsonUrl")).toString();
    }
    HttpResult doc = client.get(jsonUrl, false);
    QCOMPARE(doc.status, 200);
    QCOMPARE(doc.object(), s->document);

    const QJsonObject body = listing(11, s->id).object();
    const QString general =
        urlOf(body.value(QStringLiteral("generals")).toArray(),
              QStringLiteral("sessions/11/%1/imgL/%2.jpg").arg(s->id).arg(s->images.front().name));
    const HttpResult image = client.get(general, false);
    QCOMPARE(image.status, 200);
    QCOMPARE(image.header("Content-Type"), QByteArray("image/jpeg"));
    QCOMPARE(jpegSize(image.body), QSize(SampleData::clinicalWidth / 8, SampleData::clinicalHeight / 8));
    // Made once and kept: the second answer is the same picture.
    QCOMPARE(client.get(general, false).body, image.body);
    const QJsonArray dermatos = body.value(QStringLiteral("dermatos")).toArray();
    const QString thumbnail =
        urlOf(dermatos,
              QStringLiteral("sessions/11/%1/dermatoscopic/%2s.jpg").arg(s->id).arg(s->dermatoscopic[0].id));
    QCOMPARE(jpegSize(client.get(thumbnail, false).body), QSize(100, 75));
}

void tst_DemoApi::refusedStorageUrls_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("raw"); // the target is sent as written
    const SampleData::Session *s = newestOf(11);
    const QString object = QStringLiteral("sessions/11/%1/session.json").arg(s->id);
    const QString good = server->server->presignedUrl(QStringLiteral("GET"), object);
    QUrl url(good);
    QUrlQuery query(url);

    QString otherPath = good;
    otherPath.replace(QStringLiteral("/%1/session.json").arg(s->id),
                      QStringLiteral("/%1/session.json").arg(s->id - 1));
    QTest::newRow("other object") << QByteArray("GET") << otherPath << "bad_signature" << false;

    QUrlQuery later = query;
    later.removeQueryItem(QStringLiteral("expires"));
    later.addQueryItem(QStringLiteral("expires"),
                       QString::number(query.queryItemValue(QStringLiteral("expires")).toLongLong() + 3600));
    QUrl extended = url;
    extended.setQuery(later);
    QTest::newRow("expiry moved") << QByteArray("GET") << extended.toString() << "bad_signature" << false;

    QString signature = query.queryItemValue(QStringLiteral("signature"));
    signature[0] = signature[0] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
    QUrlQuery forged = query;
    forged.removeQueryItem(QStringLiteral("signature"));
    forged.addQueryItem(QStringLiteral("signature"), signature);
    QUrl tampered = url;
    tampered.setQuery(forged);
    QTest::newRow("signature changed")
        << QByteArray("GET") << tampered.toString() << "bad_signature" << false;

    QUrl bare = url;
    bare.setQuery(QString());
    QTest::newRow("no signature") << QByteArray("GET") << bare.toString() << "bad_signature" << false;
    QTest::newRow("expired") << QByteArray("GET")
                             << server->server->presignedUrl(QStringLiteral("GET"), object,
                                                             QDateTime::currentSecsSinceEpoch() - 5)
                             << "expired" << false;
    QTest::newRow("GET URL used for PUT") << QByteArray("PUT") << good << "bad_signature" << false;
    QTest::newRow("report through storage")
        << QByteArray("GET")
        << server->server->presignedUrl(QStringLiteral("GET"), QStringLiteral("reports/11/103/1.pdf"))
        << "not_found" << false;
    // Signed as it is, so that only the store's own check can refuse it.
    QTest::newRow("path outside the store")
        << QByteArray("GET")
        << server->server->presignedUrl(QStringLiteral("GET"), QStringLiteral("../demo.sqlite"))
        << "not_found" << true;
}

void tst_DemoApi::refusedStorageUrls()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, url);
    QFETCH(QString, code);
    QFETCH(bool, raw);
    TestClient anonymous;
    const HttpResult r =
        raw ? rawRequest(server->server->port(), verb,
                         url.mid(url.indexOf(QLatin1String("/storage/"))).toLatin1())
            : anonymous.send(verb, url, verb == "PUT" ? QByteArray("{}") : QByteArray(), false, {});
    QCOMPARE(r.status, code == QLatin1String("not_found") ? 404 : 403);
    QCOMPARE(r.errorCode(), code);
    if (code == QLatin1String("not_found"))
        QCOMPARE(r.object()
                     .value(QStringLiteral("errors"))
                     .toArray()
                     .at(0)
                     .toObject()
                     .value(QStringLiteral("message"))
                     .toString(),
                 QStringLiteral("No such object."));
}

void tst_DemoApi::uploadShowsInTheNextListing_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<QString>("listKey");
    QTest::addColumn<QString>("listedName"); // after the session folder
    QTest::newRow("dermatoscopic") << "D"
                                   << "20261209_1765270000000e.jpg"
                                   << "dermatos"
                                   << "dermatoscopic/20261209_1765270000000e.jpg";
    QTest::newRow("dermatoscopic, upper-case extension") << "D"
                                                         << "20261209_1765270000001e.JPG"
                                                         << "dermatos"
                                                         << "dermatoscopic/20261209_1765270000001e.jpg";
    QTest::newRow("clinical") << "G"
                              << "0_-3_0_-1_0_0.jpg"
                              << "generals"
                              << "imgL/0_-3_0_-1_0_0.jpg";
    QTest::newRow("document only") << "L"
                                   << ""
                                   << ""
                                   << "";
}

void tst_DemoApi::uploadShowsInTheNextListing()
{
    QFETCH(QString, type);
    QFETCH(QString, filename);
    QFETCH(QString, listKey);
    QFETCH(QString, listedName);
    const SampleData::Session *s = newestOf(11);
    const int before = int(server->server->uploads().size());
    const HttpResult assign = client.postJson(
        server->url(QStringLiteral("/api/patients/11/sessions/%1/assign_external/").arg(s->id)),
        {{QStringLiteral("filename"), filename}, {QStringLiteral("type"), type}});
    QCOMPARE(assign.status, 201);
    const QJsonObject targets = assign.object();
    QVERIFY(targets.value(QStringLiteral("json")).toObject().contains(QStringLiteral("fields")));
    QCOMPARE(targets.contains(QStringLiteral("file")), type != QLatin1String("L"));
    TestClient storage;
    if (type != QLatin1String("L")) {
        const QJsonObject file = targets.value(QStringLiteral("file")).toObject();
        QVERIFY(file.value(QStringLiteral("fields")).isObject());
        QCOMPARE(storage.put(file.value(QStringLiteral("url")).toString(), smallJpeg()).status, 200);
    }
    QJsonObject edited = s->document;
    edited.insert(QStringLiteral("EditedBy"), QStringLiteral("test %1").arg(type));
    QCOMPARE(
        storage
            .put(targets.value(QStringLiteral("json")).toObject().value(QStringLiteral("url")).toString(),
                 QJsonDocument(edited).toJson(QJsonDocument::Indented))
            .status,
        200);

    // The next listing and the next document carry the upload.
    if (!listKey.isEmpty()) {
        const QJsonArray list = listing(11, s->id).object().value(listKey).toArray();
        const QString name = QStringLiteral("sessions/11/%1/").arg(s->id) + listedName;
        QVERIFY2(names(list).contains(name), qPrintable(name));
        QCOMPARE(client.get(urlOf(list, name), false).body, smallJpeg());
    }
    const QJsonArray sessions = client.get(server->url(QStringLiteral("/api/patients/11/json/")))
                                    .object()
                                    .value(QStringLiteral("sessions_patient"))
                                    .toArray();
    for (const QJsonValue &v : sessions) {
        if (v.toObject().value(QStringLiteral("pk")).toInt() == s->id)
            QCOMPARE(client.get(v.toObject().value(QStringLiteral("jsonUrl")).toString(), false)
                         .object()
                         .value(QStringLiteral("EditedBy"))
                         .toString(),
                     QStringLiteral("test %1").arg(type));
    }
    const QList<DemoServer::Upload> uploads = server->server->uploads();
    QCOMPARE(int(uploads.size()), before + (type == QLatin1String("L") ? 1 : 2));
    QCOMPARE(uploads.last().purpose, QStringLiteral("session"));
    QCOMPARE(uploads.last().username, QStringLiteral("chief"));
}

void tst_DemoApi::uploadRules_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("filename");
    QTest::addColumn<int>("assignStatus");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("putStatus");
    QTest::newRow("unknown type") << "X"
                                  << "a.jpg" << 400 << QByteArray() << 0;
    QTest::newRow("path in the file name") << "D"
                                           << "../a.jpg" << 400 << QByteArray() << 0;
    QTest::newRow("not a JPEG name") << "D"
                                     << "a.png" << 400 << QByteArray() << 0;
    QTest::newRow("no file name") << "G"
                                  << "" << 400 << QByteArray() << 0;
    QTest::newRow("image that is not a JPEG") << "D"
                                              << "20261209_1e.jpg" << 201 << QByteArray("GIF89a....") << 400;
    QTest::newRow("document that is not JSON") << "L"
                                               << "" << 201 << QByteArray("{ broken") << 400;
    QTest::newRow("document that is a JSON array") << "L"
                                                   << "" << 201 << QByteArray("[]") << 400;
}

void tst_DemoApi::uploadRules()
{
    QFETCH(QString, type);
    QFETCH(QString, filename);
    QFETCH(int, assignStatus);
    QFETCH(QByteArray, body);
    QFETCH(int, putStatus);
    const SampleData::Session *s = newestOf(14);
    const HttpResult assign = client.postJson(
        server->url(QStringLiteral("/api/patients/14/sessions/%1/assign_external/").arg(s->id)),
        {{QStringLiteral("filename"), filename}, {QStringLiteral("type"), type}});
    QCOMPARE(assign.status, assignStatus);
    if (assignStatus != 201)
        return;
    const QString target = (type == QLatin1String("L") ? assign.object().value(QStringLiteral("json"))
                                                       : assign.object().value(QStringLiteral("file")))
                               .toObject()
                               .value(QStringLiteral("url"))
                               .toString();
    TestClient storage;
    QCOMPARE(storage.put(target, body).status, putStatus);
    // What was refused did not replace the document.
    QCOMPARE(QJsonDocument::fromJson(
                 server->server->storedObject(QStringLiteral("sessions/14/%1/session.json").arg(s->id)))
                 .object(),
             s->document);
}

void tst_DemoApi::reportTemplates()
{
    const HttpResult r = client.get(server->url(QStringLiteral("/api/me/reportTemplate/")));
    QCOMPARE(r.status, 200);
    const QJsonArray clinics = r.json().array();
    QCOMPARE(clinics.size(), 2);
    QSet<QString> types;
    int files = 0;
    for (const QJsonValue &c : clinics) {
        QVERIFY(!c.toObject().value(QStringLiteral("name")).toString().isEmpty());
        for (const QJsonValue &f : c.toObject().value(QStringLiteral("files")).toArray()) {
            ++files;
            QVERIFY(!f.toObject().value(QStringLiteral("filename")).toString().isEmpty());
            const HttpResult t = client.get(f.toObject().value(QStringLiteral("url")).toString(), false);
            QCOMPARE(t.status, 200);
            QVERIFY(t.object().value(QStringLiteral("logo")).isString());
            for (const QJsonValue &section : t.object().value(QStringLiteral("sections")).toArray())
                types.insert(section.toObject().value(QStringLiteral("type")).toString());
        }
    }
    QCOMPARE(files, 4);
    for (const QString &type : {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                QStringLiteral("3"), QStringLiteral("4")})
        QVERIFY2(types.contains(type), qPrintable(type));
}

void tst_DemoApi::reports()
{
    const QString list = server->url(QStringLiteral("/api/patients/11/reports/"));
    HttpResult r = client.get(list);
    QCOMPARE(r.status, 200);
    QJsonArray reports = r.json().array();
    QCOMPARE(reports.size(), 2);
    for (const QJsonValue &v : reports) {
        QVERIFY(
            QDate::fromString(v.toObject().value(QStringLiteral("date")).toString(), Qt::ISODate).isValid());
        QVERIFY(QDate::fromString(v.toObject().value(QStringLiteral("session_date")).toString(), Qt::ISODate)
                    .isValid());
        // The program opens it in a browser: no token.
        TestClient browser;
        const HttpResult pdf = browser.get(
            server->url(QStringLiteral("/getReport/") + v.toObject().value(QStringLiteral("url")).toString()),
            false);
        QCOMPARE(pdf.status, 200);
        QVERIFY(pdf.body.startsWith("%PDF-"));
        QCOMPARE(pdf.header("Content-Type"), QByteArray("application/pdf"));
    }
    const QString path = reports[0].toObject().value(QStringLiteral("url")).toString();
    QCOMPARE(
        client.get(server->url(QStringLiteral("/getReport/") + path.section(QLatin1Char('?'), 0, 0)), false)
            .status,
        403);

    const SampleData::Session *s = newestOf(11);
    const QString upload = server->url(QStringLiteral("/api/patients/11/sessions/%1/reports/").arg(s->id));
    r = client.post(upload, QByteArray());
    QCOMPARE(r.status, 201);
    const QJsonObject target = r.object().value(QStringLiteral("url")).toObject();
    QVERIFY(target.contains(QStringLiteral("fields")));
    TestClient storage;
    QCOMPARE(storage.put(target.value(QStringLiteral("url")).toString(), QByteArray("not a pdf")).status,
             400);
    QCOMPARE(client.get(list).json().array().size(), 2); // not stored
    QCOMPARE(
        storage.put(target.value(QStringLiteral("url")).toString(), QByteArray("%PDF-1.4\n%%EOF\n")).status,
        200);
    reports = client.get(list).json().array();
    QCOMPARE(reports.size(), 3);
    QCOMPARE(reports.last().toObject().value(QStringLiteral("session_date")).toString(),
             s->date.date().toString(Qt::ISODate));
}

void tst_DemoApi::errors_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown endpoint") << QByteArray("GET") << "/api/nothing/" << QByteArray() << 404;
    QTest::newRow("wrong method") << QByteArray("DELETE") << "/api/me/" << QByteArray() << 405;
    QTest::newRow("session of another patient")
        << QByteArray("GET") << "/api/patients/12/sessions/101/" << QByteArray() << 404;
    QTest::newRow("identifier not a number")
        << QByteArray("GET") << "/api/patients/abc/json/" << QByteArray() << 404;
    QTest::newRow("body too large") << QByteArray("POST") << "/api/patients/" << QByteArray(2 << 20, ' ')
                                    << 413;
    QTest::newRow("assign body not JSON")
        << QByteArray("POST") << "/api/patients/11/sessions/101/assign_external/" << QByteArray("type=D")
        << 400;
}

void tst_DemoApi::errors()
{
    QFETCH(QByteArray, verb);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    const HttpResult r =
        client.send(verb, server->url(path), body, true, QByteArrayLiteral("application/json"));
    QCOMPARE(r.status, status);
    QVERIFY(!r.errorCode().isEmpty());
    if (status == 405)
        QCOMPARE(r.header("Allow"), QByteArray("GET"));
}

void tst_DemoApi::logLinesCarryNoSecrets()
{
    QSignalSpy spy(server->server.get(), &DemoServer::requestFinished);
    const SampleData::Session *s = newestOf(11);
    const QJsonArray generals = listing(11, s->id).object().value(QStringLiteral("generals")).toArray();
    client.get(generals[0].toObject().value(QStringLiteral("url")).toString(), false);
    client.get(server->url(QStringLiteral("/api/patients/?id=Marta")));
    QVERIFY(spy.size() >= 3);
    for (const QList<QVariant> &call : spy) {
        const QString path = call.at(1).toString();
        QVERIFY2(!path.contains(QLatin1Char('?')) && !path.contains(QLatin1String("signature")) &&
                     !path.contains(QLatin1String("Marta")),
                 qPrintable(path));
    }
}

void tst_DemoApi::hugeBodyIsRefusedEarly_data()
{
    QTest::addColumn<QByteArray>("requestLine");
    QTest::addColumn<qint64>("length");
    QTest::newRow("API") << QByteArray("POST /api/patients/ HTTP/1.1") << qint64(64);
    QTest::newRow("storage")
        << QByteArray("PUT /storage/sessions/11/101/session.json?expires=1&signature=x HTTP/1.1")
        << qint64(1);
}

// A body announced far beyond the limits is refused before it is sent.
void tst_DemoApi::hugeBodyIsRefusedEarly()
{
    QFETCH(QByteArray, requestLine);
    QFETCH(qint64, length);
    QSslSocket socket;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    QFile ca(DemoServer::caCertificatePath());
    QVERIFY(ca.open(QIODevice::ReadOnly));
    config.addCaCertificates(QSslCertificate::fromData(ca.readAll()));
    socket.setSslConfiguration(config);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), server->server->port());
    // The server answers on this thread: wait without blocking it.
    QTRY_VERIFY_WITH_TIMEOUT(socket.isEncrypted(), 10000);
    const qint64 announced = length << 30; // GiB
    socket.write(requestLine + "\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\nContent-Length: " +
                 QByteArray::number(announced) + "\r\n\r\n" + QByteArray(4096, '{'));
    QByteArray answer;
    QTRY_VERIFY_WITH_TIMEOUT((answer += socket.readAll(), answer.contains("\r\n\r\n")), 10000);
    QVERIFY2(answer.startsWith("HTTP/1.1 413"), answer.constData());
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 10000);
    // The server goes on serving.
    QCOMPARE(client.get(server->url(QStringLiteral("/api/me/"))).status, 200);
}

void tst_DemoApi::warmUpMakesPicturesUnasked()
{
    DemoServer::Options options;
    options.warmUp = true;
    TestServer warm(options);
    QVERIFY(warm.started);
    // The first picture the viewer is likely to ask for is made without a request.
    const QString first = DemoStorage::sampleImageObjects().first();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(warm.dir.filePath(QStringLiteral("objects/") + first)), 60000);
}

QTEST_MAIN(tst_DemoApi)
#include "tst_demoapi.moc"

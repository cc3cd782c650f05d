#include "demo-server/DemoReports.h"

#include "demo-server/DemoDatabase.h"
#include "demo-server/DemoLinks.h"
#include "demo-server/DemoObjects.h"
#include "demo-server/DemoSessions.h"
#include "demo-server/DemoStorage.h"
#include "demo-server/UrlSigner.h"

#include <QDate>
#include <QJsonArray>
#include <QRegularExpression>

#include <map>

DemoReports::DemoReports(DemoDatabase &db, DemoStorage &storage, const UrlSigner &signer, DemoLinks &links,
                         const DemoObjects &objects)
    : m_db(db), m_storage(storage), m_signer(signer), m_links(links), m_objects(objects)
{
}

void DemoReports::templates(const ExchangePtr &exchange)
{
    QJsonArray clinics;
    QStringList order;
    std::map<QString, QJsonArray> files;
    for (const QVariantMap &t : m_db.select(QStringLiteral("SELECT * FROM report_templates ORDER BY id"))) {
        const QString clinic = t.value(QStringLiteral("clinic")).toString();
        if (!order.contains(clinic))
            order << clinic;
        files[clinic].append(QJsonObject{
            {QStringLiteral("filename"), t.value(QStringLiteral("filename")).toString()},
            {QStringLiteral("url"),
             m_links.signedUrl(QStringLiteral("GET"), t.value(QStringLiteral("object")).toString())}});
    }
    for (const QString &clinic : order)
        clinics.append(
            QJsonObject{{QStringLiteral("name"), clinic}, {QStringLiteral("files"), files[clinic]}});
    exchange->replyJson(200, QJsonDocument(clinics));
}

void DemoReports::newReport(const ExchangePtr &exchange, const QStringList &c, const DemoAuth::Identity &who)
{
    const auto session = DemoSessions::sessionOf(m_db, exchange, c[1], c[2]);
    if (!session)
        return;
    const int patientId = c[1].toInt(), sessionId = c[2].toInt();
    qint64 id = 0;
    m_db.exec(QStringLiteral("INSERT INTO reports(patient_id, session_id, date, object, state, username) "
                             "VALUES(?, ?, ?, '', 'pending', ?)"),
              {patientId, sessionId, QDate::currentDate().toString(Qt::ISODate), who.username}, &id);
    const QString object = QStringLiteral("reports/%1/%2/%3.pdf").arg(patientId).arg(sessionId).arg(id);
    m_db.exec(QStringLiteral("UPDATE reports SET object = ? WHERE id = ?"), {object, id});
    exchange->replyJson(
        201, QJsonObject{{QStringLiteral("id"), id},
                         {QStringLiteral("url"),
                          m_links.uploadTarget(object, QStringLiteral("report"), patientId, sessionId,
                                               QString(), id, who.username, !exchange->fault.noFields)}});
}

void DemoReports::reportList(const ExchangePtr &exchange, const QStringList &c)
{
    const int patientId = c[1].toInt();
    if (!m_db.selectOne(QStringLiteral("SELECT id FROM patients WHERE id = ?"), {patientId})) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such patient."));
        return;
    }
    QJsonArray list;
    for (const QVariantMap &r :
         m_db.select(QStringLiteral("SELECT r.*, s.date AS session_date FROM reports r JOIN sessions s "
                                    "ON s.id = r.session_id WHERE r.patient_id = ? AND r.state = 'stored' "
                                    "ORDER BY r.date, r.id"),
                     {patientId})) {
        // The path is appended to "/getReport/" by the viewer and opened in a
        // browser, which has no token: it carries its own signature.
        const QString path =
            QStringLiteral("%1/%2.pdf").arg(patientId).arg(r.value(QStringLiteral("id")).toLongLong());
        const qint64 expires = m_links.expiresFromNow();
        list.append(QJsonObject{
            {QStringLiteral("date"), r.value(QStringLiteral("date")).toString()},
            {QStringLiteral("session_date"), r.value(QStringLiteral("session_date")).toString().left(10)},
            {QStringLiteral("url"),
             path + QLatin1Char('?') +
                 m_signer.query(QStringLiteral("GET"), QStringLiteral("/getReport/") + path, expires)}});
    }
    exchange->replyJson(200, QJsonDocument(list));
}

void DemoReports::reportFile(const ExchangePtr &exchange, const QStringList &c)
{
    if (!m_objects.signatureValid(exchange, QStringLiteral("GET"), QStringLiteral("/getReport/") + c[1]))
        return;
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})/(\\d{1,12})\\.pdf$"));
    const QRegularExpressionMatch m = pattern.match(c[1]);
    const auto report =
        m.hasMatch() ? m_db.selectOne(
                           QStringLiteral(
                               "SELECT * FROM reports WHERE id = ? AND patient_id = ? AND state = 'stored'"),
                           {m.captured(2).toLongLong(), m.captured(1).toInt()})
                     : std::nullopt;
    const QByteArray bytes =
        report ? m_storage.read(report->value(QStringLiteral("object")).toString()) : QByteArray();
    if (bytes.isEmpty()) {
        exchange->replyError(404, QStringLiteral("not_found"), QStringLiteral("No such report."));
        return;
    }
    exchange->replyBytes(
        200, bytes, QByteArrayLiteral("application/pdf"),
        {{QByteArrayLiteral("Content-Disposition"), QByteArrayLiteral("inline; filename=\"report.pdf\"")}});
}

// A small one-page PDF with lines of text, written by hand so that it needs
// no window system and stays the same from run to run.
QByteArray DemoReports::simplePdf(const QStringList &lines)
{
    QByteArray content = "BT /F1 14 Tf 56 780 Td 18 TL\n";
    for (const QString &line : lines) {
        QByteArray text = line.toLatin1();
        text.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
        content += "(" + text + ") Tj T*\n";
    }
    content += "ET\n";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

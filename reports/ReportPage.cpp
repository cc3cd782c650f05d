#include "reports/ReportPage.h"

#include "widgets/Trace.h"

#include <QBuffer>
#include <QImage>

QString ReportPage::escapeText(const QString &text)
{
    QString escaped = text.toHtmlEscaped();
    escaped.replace(QLatin1Char('['), QLatin1String("&#91;"));
    escaped.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    return escaped;
}

QString ReportPage::safeImageSource(const QString &source)
{
    const QString trimmed = source.trimmed();
    const bool allowed = trimmed.startsWith(QLatin1String("data:image/"), Qt::CaseInsensitive) ||
                         trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
                         trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
    if (!allowed)
        return QString();
    QString escaped = trimmed.toHtmlEscaped();
    escaped.replace(QLatin1Char('['), QLatin1String("&#91;"));
    return escaped;
}

QString ReportPage::sectionStart(const QString &title)
{
    return QStringLiteral("<div class=\"section\"><h2>%1</h2>").arg(escapeText(title));
}

QString ReportPage::sectionEnd()
{
    return QStringLiteral("</div>");
}

QString ReportPage::paragraph(const QString &text)
{
    return QStringLiteral("<p>%1</p>").arg(escapeText(text));
}

QString ReportPage::listItem(const QString &text)
{
    return QStringLiteral("<li>%1</li>").arg(escapeText(text));
}

QString ReportPage::textAndPhoto(const QString &photo, const QString &text)
{
    // One arg() call: a "%2" inside the photo source must not take the text's place.
    return QStringLiteral("<div class=\"flexDiv\"><img  src = \"%1\" class = \"roundIMG\"  ><p align = "
                          "\"justify\">%2</p>")
               .arg(safeImageSource(photo), escapeText(text)) +
           QStringLiteral("</div></div>");
}

QString ReportPage::table(const QStringList &header, const QList<QStringList> &rows)
{
    const auto row = [](const QStringList &cells, const QLatin1String &tag) {
        QString html = QStringLiteral("<tr>");
        for (const QString &cell : cells)
            html += QLatin1Char('<') + tag + QLatin1Char('>') + escapeText(cell) + QLatin1String("</") + tag +
                    QLatin1Char('>');
        return html + QStringLiteral("</tr>");
    };
    QString html = QStringLiteral("<table class=\"reportTable\">");
    if (!header.isEmpty())
        html += QStringLiteral("<thead>") + row(header, QLatin1String("th")) + QStringLiteral("</thead>");
    html += QStringLiteral("<tbody>");
    for (const QStringList &cells : rows)
        html += row(cells, QLatin1String("td"));
    return html + QStringLiteral("</tbody></table>");
}

QString ReportPage::imagesBlock()
{
    return QStringLiteral("<div class = \"pagina-a4\">[dermatoscopicImgs]</div>");
}

QString ReportPage::imageElement(const QByteArray &base64Jpeg)
{
    return QStringLiteral("<img  src=\"data:image/jpg;base64,") + QString::fromLatin1(base64Jpeg) +
           QStringLiteral("\" width=\"100%\" >");
}

QString ReportPage::encodeImage(const QByteArray &jpeg)
{
    const QImage image = QImage::fromData(jpeg, "JPG");
    if (image.isNull()) {
        kelvaris::trace(QStringLiteral("No s'ha pogut carregar la imatge"));
        return QString();
    }
    const QImage scaled = image.scaled(2000, 2000, Qt::KeepAspectRatio, Qt::FastTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!scaled.save(&buffer, "JPG"))
        return QString();
    return imageElement(bytes.toBase64());
}

QString ReportPage::assemble(const QString &pageTemplate, const Fields &fields, const QString &sectionsHtml,
                             bool withImages, const QStringList &imageElements)
{
    QString page = pageTemplate;
    page.replace(QLatin1String("[logo]"), safeImageSource(fields.logo));
    page.replace(QLatin1String("[Current Date]"), escapeText(fields.date));
    page.replace(QLatin1String("[patientName]"), escapeText(fields.patientName));
    page.replace(QLatin1String("[doctorName]"), escapeText(fields.doctorName));
    page.replace(QLatin1String("[serverName]"), escapeText(fields.serverName));
    page.replace(QLatin1String("[sections]"), sectionsHtml);
    if (withImages) {
        page += imagesBlock();
        page.replace(QLatin1String("[dermatoscopicImgs]"), imageElements.join(QString()));
    }
    return page;
}

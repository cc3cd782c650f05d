#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The report's HTML, assembled from the page template ("report.html"), the
// sections' fragments and the embedded dermatoscopic images. Pure functions:
// no widgets, no files, safe on any thread.
//
// Every text that comes from the server, the patient record or the user goes
// through escapeText() before it is put into markup, so that it can neither
// add markup nor fill a placeholder ("[" is written as "&#91;").
class ReportPage
{
public:
    struct Fields
    {
        QString logo; // an image source; only data:image/ and http(s) are kept
        QString date; // already formatted
        QString patientName;
        QString doctorName;
        QString serverName;
    };

    // toHtmlEscaped, "[" as "&#91;", then "\n" as "<br>".
    static QString escapeText(const QString &text);
    // The escaped source when it is a data:image/ or http(s) URL; empty
    // otherwise (no local file, script or other scheme is ever loaded).
    static QString safeImageSource(const QString &source);

    // The fragments of a section.
    static QString sectionStart(const QString &title);
    static QString sectionEnd();
    static QString paragraph(const QString &text);
    static QString listItem(const QString &text);
    static QString textAndPhoto(const QString &photo, const QString &text);
    // A table of texts for a section: an optional header row, then one row
    // per entry; every cell goes through escapeText(). Class "reportTable".
    static QString table(const QStringList &header, const QList<QStringList> &rows);
    static QString imagesBlock();
    // One embedded image from Base64 JPEG text.
    static QString imageElement(const QByteArray &base64Jpeg);

    // Decodes a JPEG, scales it to the largest size fitting 2000 x 2000
    // (smaller pictures are enlarged), encodes it as JPEG and returns its
    // image element; empty for bytes that do not decode. For the thread pool.
    static QString encodeImage(const QByteArray &jpeg);

    // The page: the fields and "[sections]" replaced, and, when withImages, the
    // images block appended with "[dermatoscopicImgs]" replaced by the images.
    static QString assemble(const QString &pageTemplate, const Fields &fields, const QString &sectionsHtml,
                            bool withImages, const QStringList &imageElements);
};

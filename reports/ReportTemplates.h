#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>
#include <vector>

// Readers of the server's report template documents (untrusted input; they
// never throw).
class ReportTemplates
{
public:
    struct Clinic
    {
        QString name;
        std::vector<std::pair<QString, QUrl>> files; // (file name, URL)
    };

    // The clinics of a template list in array order; a clinic named twice
    // keeps the place of its first entry and the files of its last. Empty when
    // the document is no array.
    static std::optional<std::vector<Clinic>> clinics(const QJsonDocument &templatesList);

    struct Template
    {
        QString logo;
        std::vector<QJsonObject> sections; // only those of a known type, in order
    };
    // Empty when the document is no object.
    static std::optional<Template> parseTemplate(const QJsonDocument &document);

    // The section types the editor knows: "0" to "4".
    static bool isKnownType(const QString &type);
};

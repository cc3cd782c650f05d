#include "app/AppConfiguration.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("AppConfiguration", text);
}

} // namespace

AppConfiguration AppConfiguration::load(const QString &path)
{
    AppConfiguration config;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        config.errorMessage = tr("The configuration file \"%1\" could not be opened: %2.")
                                  .arg(path, file.exists() ? file.errorString() : tr("the file is missing"));
        return config;
    }
    config.document = file.readAll();

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(config.document, &parseError);
    if (doc.isNull()) {
        config.errorMessage = tr("The configuration file \"%1\" is not valid JSON: %2 at offset %3.")
                                  .arg(path, parseError.errorString())
                                  .arg(parseError.offset);
        return config;
    }
    if (!doc.isObject()) {
        config.errorMessage = tr("The configuration file \"%1\" must hold a JSON object.").arg(path);
        return config;
    }

    const QJsonObject root = doc.object();
    config.serverName = root.value(QStringLiteral("server")).toString();
    const QJsonObject gui = root.value(QStringLiteral("gui")).toObject();
    for (const QJsonValue &name : gui.value(QStringLiteral("names")).toArray())
        config.positionNames.append(name.toVariant().toString());
    config.warning = gui.value(QStringLiteral("warning")).toString();
    config.changeThresholds = LesionChangeSummary::Thresholds::fromConfiguration(root, &config.problems);
    config.valid = true;
    return config;
}

#pragma once

#include "session/LesionChangeSummary.h"

#include <QString>
#include <QStringList>

// The start-up configuration file ("./matrius/configuration.json"): the
// initial server name and the body position names. Keys that are missing give
// an empty string or list; a file that cannot be read, is not JSON or is not a
// JSON object is invalid, and errorMessage says which file and what is wrong.
class AppConfiguration
{
public:
    static constexpr const char *defaultPath = "./matrius/configuration.json";

    static AppConfiguration load(const QString &path = QString::fromLatin1(defaultPath));

    bool valid = false;
    QString errorMessage;

    // The whole document, for the settings that other components read themselves.
    QByteArray document;
    QString serverName;
    QStringList positionNames;
    QString warning;
    // From the optional "changeThresholds"; the defaults when missing or invalid.
    LesionChangeSummary::Thresholds changeThresholds;
    // Settings that were invalid and replaced by their defaults, for the
    // configuration message.
    QStringList problems;
};

#pragma once

#include <QDate>
#include <QJsonObject>

#include <string>

// One patient of the server's patient list, copied by value into the
// patient list signal. Texts are UTF-8.
struct Patient
{
    std::string patientID;        // the server's key of the patient, decimal text
    std::string centerID;         // the clinic's own patient identifier
    std::string name;             // the server's "name" followed by its "tag"
    std::string email;            // not part of the list reply; left empty there
    std::string clinicIdentifier; // the clinic identifier again
    QDate birthdate;              // null when absent or not a calendar date

    // Builds a patient from one element of the list reply's "results".
    static Patient fromJson(const QJsonObject &object);
};

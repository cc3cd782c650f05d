#pragma once

#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

// Faults injected per endpoint group, for tests of the program's failure
// handling. Nothing is injected unless asked for.
class DemoFaults
{
public:
    struct Fault
    {
        int latencyMs = 0; // added before the answer
        int failNext = 0;  // the next N requests answer failStatus
        int failStatus = 503;
        double failRate = 0; // after those, this share of the requests answers failStatus
        double rate = 1;     // the share of the requests that hang, truncate, notJson, noFields hit
        quint32 seed = 1;    // the group's generator for failRate and rate starts from it
        // The failure (failNext, failRate) or hang comes after the request was
        // carried out: a storage PUT is stored and its acknowledgement lost.
        bool afterStore = false;
        bool hang = false;     // never answer
        bool truncate = false; // announce the whole body, send half, close
        bool notJson = false;  // a body that is not JSON in place of the JSON one
        bool noFields = false; // upload targets without "fields"
        // The injected failures carry an HTTP authentication challenge
        // (WWW-Authenticate), which the real server never sends.
        bool challenge = false;
        // Answer "302 Found" with an HTML page in place of the real answer.
        bool redirect = false;
        // Sync: pictures the phone finished are reported without their "url".
        bool noUrl = false;

        bool isEmpty() const;
        QJsonObject toJson() const;
        // Merges the keys present in json; false with a reason on bad input.
        bool apply(const QJsonObject &json, QString *error);
    };

    // The groups faults are set for: "directory", "auth", "patients",
    // "sessions", "storage-get", "storage-put", "assign", "sync", "reports".
    static const QStringList &groups();
    static bool isKnownStatus(int status);
    // "GROUP:key=value,key,..." as given on the command line, for example
    // "storage-get:latency=400" or "assign:fail=2,status=500".
    static bool parseFault(const QString &faultText, QString *group, Fault *fault, QString *error);

    void set(const QString &group, const Fault &fault);
    void clear(const QString &group = {});
    Fault get(const QString &group) const;
    // The fault that applies to one request of the group: counts down
    // failNext, draws failRate and rate from the group's generator, and
    // leaves failNext at 1 exactly when this request fails.
    Fault take(const QString &group);
    QJsonObject toJson() const;

private:
    QMap<QString, Fault> faults;
    // One generator per group, restarted from the fault's seed when it is set,
    // so that a run with the same settings draws the same requests.
    QMap<QString, QRandomGenerator> generators;
};

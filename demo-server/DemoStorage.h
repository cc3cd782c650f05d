#pragma once

#include "demo-server/SampleData.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <functional>
#include <map>
#include <memory>

// The stored objects (documents, images, templates, reports) as files under
// the data folder. Sample images are made on their first request and kept:
// full-size images for every sample session would take long to make and much
// room, while a session that is opened costs a few seconds once.
class DemoStorage
{
public:
    struct Sizes
    {
        QSize clinical;
        QSize external;
        QSize dermatoscopic;
        QSize thumbnail;
    };

    DemoStorage(QString root, bool small);
    ~DemoStorage();

    static Sizes sizesFor(bool small);
    Sizes sizes() const { return sizesFor(small); }
    bool isSmall() const { return small; }
    void setSmall(bool s) { small = s; }
    // Whether the data folder holds the large examination, whose pictures
    // the warm-up and makeAll then make as well.
    void setLarge(bool l) { large = l; }
    // The same for the versions examination.
    void setVersions(bool v) { versions = v; }

    // Object names are relative paths of plain segments ([A-Za-z0-9._-], no
    // "..", no empty segment).
    static bool isValidObject(const QString &object);
    QString filePath(const QString &object) const;
    QString root() const { return rootDir; }

    bool exists(const QString &object) const;
    bool canMake(const QString &object) const;
    QByteArray read(const QString &object) const;
    bool write(const QString &object, const QByteArray &bytes, QString *error = nullptr);
    bool remove(const QString &object);
    // History, in the object's folder under "history/": before the first
    // accepted upload replaces an object, its content is kept as
    // "original-<name>"; every accepted upload is kept as "000001-<name>",
    // "000002-<name>", ... in the order accepted.
    void keepHistory(const QString &object);
    bool addVersion(const QString &object, const QByteArray &bytes);
    // Every accepted version of an object, oldest first (the original not included).
    QList<QByteArray> history(const QString &object) const;

    // The bytes of an object, read on a worker thread, or made first when it is
    // a sample image not made yet; an empty result when there is no such
    // object. Requests for the same object share one job.
    QFuture<QByteArray> fetch(const QString &object);
    // Makes every sample image that does not exist yet, using every core.
    int makeAll(const std::function<void(int done, int total)> &progress = {});
    // Makes the sample images in the background, one at a time at low
    // priority, in the order the viewer is likely to ask for them (first
    // patient first), so that a session is ready when it is opened.
    void startWarmUp();
    void stopWarmUp();
    void waitForJobs();

    // What a sample image object shows; exposed for the tests of the pictures.
    struct Recipe
    {
        enum Kind
        {
            None,
            Clinical,
            Dermatoscopic
        } kind = None;
        const SampleData::Session *session = nullptr;
        const SampleData::ClinicalImage *image = nullptr;
        const SampleData::Dermatoscopic *dermatoscopic = nullptr;
        QChar variant; // clinical: '\0' plain, 'l', 'm', 's', 'e'; dermatoscopic: 's' thumbnail
    };
    static Recipe recipe(const QString &object);
    static QByteArray make(const Recipe &recipe, const Sizes &sizes);
    static QStringList sampleImageObjects(bool withLargeExamination = false,
                                          bool withVersionsExamination = false);

private:
    QStringList versionFiles(const QString &object) const;

    QString rootDir;
    bool small = false;
    bool large = false;
    bool versions = false;
    std::map<QString, QFuture<QByteArray>> jobs;
    std::unique_ptr<QThreadPool> warmUpPool;
};

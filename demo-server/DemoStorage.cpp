#include "demo-server/DemoStorage.h"

#include "demo-server/SampleImages.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QtConcurrent>

DemoStorage::DemoStorage(QString r, bool s) : rootDir(std::move(r)), small(s) {}

DemoStorage::~DemoStorage()
{
    stopWarmUp();
    waitForJobs();
}

void DemoStorage::startWarmUp()
{
    stopWarmUp();
    warmUpPool = std::make_unique<QThreadPool>();
    warmUpPool->setMaxThreadCount(1);
    warmUpPool->setThreadPriority(QThread::LowestPriority);
    const Sizes s = sizes();
    const QString base = rootDir;
    for (const QString &object : sampleImageObjects(large, versions)) {
        warmUpPool->start([object, s, base] {
            const QString path = base + QLatin1Char('/') + object;
            if (QFileInfo::exists(path))
                return;
            const QByteArray bytes = make(recipe(object), s);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QSaveFile file(path);
            if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
                file.commit();
        });
    }
}

void DemoStorage::stopWarmUp()
{
    if (!warmUpPool)
        return;
    warmUpPool->clear();
    warmUpPool->waitForDone();
    warmUpPool.reset();
}

DemoStorage::Sizes DemoStorage::sizesFor(bool small)
{
    if (small)
        return {QSize(SampleData::clinicalWidth / 8, SampleData::clinicalHeight / 8),
                QSize(SampleData::externalWidth / 4, SampleData::externalHeight / 4),
                QSize(SampleData::dermatoscopicWidth / 4, SampleData::dermatoscopicHeight / 4),
                QSize(SampleData::thumbnailWidth / 4, SampleData::thumbnailHeight / 4)};
    return {QSize(SampleData::clinicalWidth, SampleData::clinicalHeight),
            QSize(SampleData::externalWidth, SampleData::externalHeight),
            QSize(SampleData::dermatoscopicWidth, SampleData::dermatoscopicHeight),
            QSize(SampleData::thumbnailWidth, SampleData::thumbnailHeight)};
}

bool DemoStorage::isValidObject(const QString &object)
{
    static const QRegularExpression segment(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,127}$"));
    if (object.isEmpty() || object.size() > 512)
        return false;
    const QStringList parts = object.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".") || part == QLatin1String("..") || !segment.match(part).hasMatch())
            return false;
    }
    return true;
}

QString DemoStorage::filePath(const QString &object) const
{
    return rootDir + QLatin1Char('/') + object;
}

bool DemoStorage::exists(const QString &object) const
{
    return isValidObject(object) && QFileInfo(filePath(object)).isFile();
}

bool DemoStorage::canMake(const QString &object) const
{
    return recipe(object).kind != Recipe::None;
}

QByteArray DemoStorage::read(const QString &object) const
{
    if (!isValidObject(object))
        return {};
    QFile file(filePath(object));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool DemoStorage::write(const QString &object, const QByteArray &bytes, QString *error)
{
    if (!isValidObject(object)) {
        if (error)
            *error = QStringLiteral("invalid object name");
        return false;
    }
    const QString path = filePath(object);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool DemoStorage::remove(const QString &object)
{
    return isValidObject(object) && QFile::remove(filePath(object));
}

namespace {

// Versions are numbered, not time-stamped: two uploads within one
// millisecond must not share a name, and the order must be readable back.
const QRegularExpression &versionName()
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{6})-(.+)$"));
    return pattern;
}

} // namespace

QStringList DemoStorage::versionFiles(const QString &object) const
{
    if (!isValidObject(object))
        return {};
    const QFileInfo info(filePath(object));
    QStringList names;
    const QStringList entries =
        QDir(info.absolutePath() + QStringLiteral("/history")).entryList(QDir::Files, QDir::Name);
    for (const QString &entry : entries) {
        const QRegularExpressionMatch m = versionName().match(entry);
        if (m.hasMatch() && m.captured(2) == info.fileName())
            names << info.absolutePath() + QStringLiteral("/history/") + entry;
    }
    return names;
}

void DemoStorage::keepHistory(const QString &object)
{
    if (!exists(object) || !versionFiles(object).isEmpty())
        return;
    const QFileInfo info(filePath(object));
    const QString target = info.absolutePath() + QStringLiteral("/history/original-") + info.fileName();
    if (QFileInfo::exists(target))
        return;
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::copy(info.absoluteFilePath(), target);
}

bool DemoStorage::addVersion(const QString &object, const QByteArray &bytes)
{
    if (!isValidObject(object))
        return false;
    const QFileInfo info(filePath(object));
    const QString target =
        info.absolutePath() + QStringLiteral("/history/") +
        QString::number(versionFiles(object).size() + 1).rightJustified(6, QLatin1Char('0')) +
        QLatin1Char('-') + info.fileName();
    QDir().mkpath(QFileInfo(target).absolutePath());
    QSaveFile file(target);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QList<QByteArray> DemoStorage::history(const QString &object) const
{
    QList<QByteArray> versions;
    for (const QString &path : versionFiles(object)) {
        QFile file(path);
        versions << (file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return versions;
}

DemoStorage::Recipe DemoStorage::recipe(const QString &object)
{
    Recipe r;
    // sessions/<patient>/<session>/imgL/<name>[variant].jpg
    // sessions/<patient>/<session>/dermatoscopic/<id>[s].jpg
    const QStringList parts = object.split(QLatin1Char('/'));
    if (parts.size() != 5 || parts[0] != QLatin1String("sessions") ||
        !parts[4].endsWith(QLatin1String(".jpg")))
        return r;
    bool okPatient = false, okSession = false;
    const int patientId = parts[1].toInt(&okPatient);
    const int sessionId = parts[2].toInt(&okSession);
    const SampleData::Session *session =
        okPatient && okSession ? SampleData::findSession(sessionId) : nullptr;
    if (!session || session->patientId != patientId || !session->hasDocument)
        return r;
    const QString stem = parts[4].chopped(4);
    if (parts[3] == QLatin1String("imgL")) {
        for (const SampleData::ClinicalImage &image : session->images) {
            if (stem == image.name) {
                r.variant = QChar();
            } else if (stem.size() == image.name.size() + 1 && stem.startsWith(image.name) &&
                       QStringLiteral("lmse").contains(stem.back())) {
                r.variant = stem.back();
            } else {
                continue;
            }
            r.kind = Recipe::Clinical;
            r.session = session;
            r.image = &image;
            return r;
        }
    } else if (parts[3] == QLatin1String("dermatoscopic")) {
        for (const SampleData::Dermatoscopic &d : session->dermatoscopic) {
            if (stem == d.id) {
                r.variant = QChar();
            } else if (stem == d.id + QLatin1Char('s') && d.hasThumbnail) {
                r.variant = QLatin1Char('s');
            } else {
                continue;
            }
            r.kind = Recipe::Dermatoscopic;
            r.session = session;
            r.dermatoscopic = &d;
            return r;
        }
    }
    return r;
}

QByteArray DemoStorage::make(const Recipe &r, const Sizes &sizes)
{
    if (r.kind == Recipe::Clinical) {
        QSize size = r.image->external ? sizes.external : sizes.clinical;
        int quality = 80;
        if (r.variant.isNull())
            quality = 92;
        else if (r.variant == QLatin1Char('m'))
            size /= 2;
        else if (r.variant == QLatin1Char('s'))
            size /= 4;
        else if (r.variant == QLatin1Char('e'))
            size /= 8;
        return SampleImages::jpeg(SampleImages::clinical(*r.session, *r.image, size.expandedTo(QSize(8, 8))),
                                  quality);
    }
    if (r.kind == Recipe::Dermatoscopic) {
        const bool thumbnail = r.variant == QLatin1Char('s');
        QSize size = thumbnail ? sizes.thumbnail : sizes.dermatoscopic;
        const QSize frame = r.dermatoscopic->fullSize();
        if (r.dermatoscopic->size.isValid()) {
            // Other shapes: the full size scaled as the usual one is, the
            // thumbnail at the usual thumbnail's width.
            const double scale = double(sizes.dermatoscopic.width()) / SampleData::dermatoscopicWidth;
            size = thumbnail
                       ? QSize(sizes.thumbnail.width(), std::max(1, qRound(double(sizes.thumbnail.width()) *
                                                                           frame.height() / frame.width())))
                       : QSize(std::max(8, qRound(frame.width() * scale)),
                               std::max(8, qRound(frame.height() * scale)));
        }
        QImage image = SampleImages::dermatoscopic(*r.dermatoscopic, size);
        if (r.dermatoscopic->greyscale)
            image = image.convertToFormat(QImage::Format_Grayscale8);
        return SampleImages::jpeg(image, thumbnail ? 85 : 90);
    }
    return {};
}

QFuture<QByteArray> DemoStorage::fetch(const QString &object)
{
    if (!isValidObject(object))
        return QtFuture::makeReadyFuture(QByteArray());
    const auto running = jobs.find(object);
    if (running != jobs.end()) {
        if (!running->second.isFinished())
            return running->second;
        jobs.erase(running);
    }
    const QString path = filePath(object);
    QFuture<QByteArray> job;
    if (QFileInfo(path).isFile()) {
        job = QtConcurrent::run([path] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        });
    } else {
        const Recipe r = recipe(object);
        if (r.kind == Recipe::None)
            return QtFuture::makeReadyFuture(QByteArray());
        const Sizes s = sizes();
        job = QtConcurrent::run([r, s, path] {
            const QByteArray bytes = make(r, s);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QSaveFile file(path);
            if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
                file.commit();
            return bytes;
        });
    }
    // Finished jobs are dropped on the next request; only a few are kept.
    for (auto it = jobs.begin(); it != jobs.end();) {
        if (it->second.isFinished())
            it = jobs.erase(it);
        else
            ++it;
    }
    jobs[object] = job;
    return job;
}

void DemoStorage::waitForJobs()
{
    for (auto &job : jobs)
        job.second.waitForFinished();
    jobs.clear();
}

QStringList DemoStorage::sampleImageObjects(bool withLargeExamination, bool withVersionsExamination)
{
    QStringList objects;
    for (const auto &entry : SampleData::instance(withLargeExamination, withVersionsExamination).sessions) {
        const SampleData::Session &s = entry.second;
        if (!s.hasDocument)
            continue;
        const QString folder = QStringLiteral("sessions/%1/%2/").arg(s.patientId).arg(s.id);
        for (const SampleData::ClinicalImage &image : s.images)
            objects << folder + QStringLiteral("imgL/") + image.name + QStringLiteral("l.jpg");
        for (const SampleData::Dermatoscopic &d : s.dermatoscopic) {
            objects << folder + QStringLiteral("dermatoscopic/") + d.id + QStringLiteral(".jpg");
            if (d.hasThumbnail)
                objects << folder + QStringLiteral("dermatoscopic/") + d.id + QStringLiteral("s.jpg");
        }
    }
    return objects;
}

int DemoStorage::makeAll(const std::function<void(int, int)> &progress)
{
    QStringList missing;
    for (const QString &object : sampleImageObjects(large, versions)) {
        if (!exists(object))
            missing << object;
    }
    const Sizes s = sizes();
    const QString base = rootDir;
    QAtomicInt done = 0;
    const int total = int(missing.size());
    QFuture<void> all = QtConcurrent::map(missing, [&](const QString &object) {
        const QByteArray bytes = make(recipe(object), s);
        const QString path = base + QLatin1Char('/') + object;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            file.commit();
        done.fetchAndAddRelaxed(1);
    });
    while (!all.isFinished()) {
        all.waitForFinished();
    }
    if (progress)
        progress(done.loadRelaxed(), total);
    return total;
}

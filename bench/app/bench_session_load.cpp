// Loading the large examination (patient 20, session 113: 36 device clinical
// images of 5472 x 3648, 40 lesions with dermatoscopic images) in the real
// main window against the stand-in in process, and, in the same run, the same
// bytes fetched by plain parallel GETs and decoded at the same sizes on the
// thread pool. Prints figures only; never fails on time.
//
// The stand-in runs on a thread of its own, so that its serving and picture
// making are not counted as stalls of the viewer's GUI thread. Its data folder
// is kept beside the program (bench-session-load-data), and a first load,
// not measured, makes the pictures the viewer asks for.

#include "app/MainWindowLogin.h"
#include "app/PatientSearch.h"
#include "app/SessionLoader.h"
#include "app/kelvarisVisualizer.h"
#include "demo-server/DemoServer.h"
#include "session/ClinicalPixmapItem.h"
#include "session/SessionVisualizer.h"
#include "visualization/GraphicsScene.h"
#include "visualization/QtVisualizationWidgets.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int largePatient = 20;

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s: %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

// Peak resident memory of the process in MiB (Linux only; -1 elsewhere).
double peakMiB()
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
#endif
    return -1;
}

double residentMiB()
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
#endif
    return -1;
}

// Starts the peak over from the present resident size, so that the peak read
// later belongs to the measured load alone.
void resetPeak()
{
#ifdef Q_OS_LINUX
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
#endif
}

Patient patient(int id)
{
    Patient p;
    p.patientID = std::to_string(id);
    p.name = "Patient " + std::to_string(id);
    return p;
}

// The longest gap between ticks of a 1 ms timer while it runs.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(1);
        connect(&m_ticker, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            if (now - m_last > m_longest) {
                m_longest = now - m_last;
                m_longestEndedAt = now;
            }
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_longestEndedAt = 0;
        m_ticker.start();
    }
    // When the longest gap ended, from start().
    qint64 longestEndedAt() const { return m_longestEndedAt; }
    qint64 stop()
    {
        m_ticker.stop();
        return m_longest;
    }

private:
    QTimer m_ticker;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
    qint64 m_longestEndedAt = 0;
};

// The clinical items of the principal view that are shown.
QList<ClinicalPixmapItem *> shownItems(SessionLoader *loader)
{
    QList<ClinicalPixmapItem *> items;
    QtVisualizationWidgets *view = loader->primaryView();
    if (!view)
        return items;
    for (int scene = 0; scene < view->getSceneCount(); ++scene)
        if (GraphicsScene *s = view->getScene(scene))
            for (QGraphicsItem *item : s->items())
                if (auto *clinical = dynamic_cast<ClinicalPixmapItem *>(item))
                    if (clinical->isShown())
                        items << clinical;
    return items;
}

bool everythingIn(SessionLoader *loader)
{
    const QSharedPointer<SessionVisualizer> s = loader->principalSession();
    if (!s || s->getSessionId() != 113 || !s->isDownloaded() || ClinicalPixmapItem::pendingDecodes() > 0)
        return false;
    for (ClinicalPixmapItem *item : shownItems(loader))
        if (!item->hasFullImage() && !item->isUnreadable())
            return false;
    return true;
}

struct Fetched
{
    QUrl url;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The viewer's debug chatter would bury the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QApplication app(argc, argv);

    // ---- the stand-in on its own thread ---------------------------------
    DemoServer::Options options;
    options.dataDir = QCoreApplication::applicationDirPath() + QStringLiteral("/bench-session-load-data");
    options.largeExamination = true;
    options.logRequests = false;
    options.warmUp = false;
    QThread serverThread;
    auto *serverContext = new QObject;
    serverContext->moveToThread(&serverThread);
    serverThread.start();
    DemoServer *server = nullptr;
    bool started = false;
    QMetaObject::invokeMethod(
        serverContext,
        [&] {
            server = new DemoServer(options);
            started = server->start();
        },
        Qt::BlockingQueuedConnection);
    auto stopServer = qScopeGuard([&] {
        QMetaObject::invokeMethod(
            serverContext, [&] { delete server; }, Qt::BlockingQueuedConnection);
        serverThread.quit();
        serverThread.wait();
        delete serverContext; // its thread has ended
    });
    if (!started) {
        std::fprintf(stderr, "bench_session_load: the stand-in did not start: %s\n",
                     qPrintable(server ? server->errorString() : QString()));
        return 1;
    }

    QTemporaryDir workDir;
    QDir(workDir.path()).mkpath(QStringLiteral("matrius"));
    QJsonObject configuration{
        {QStringLiteral("directory"), server->directoryUrl()},
        {QStringLiteral("caCertificates"), QJsonArray{DemoServer::caCertificatePath()}},
        {QStringLiteral("server"), QStringLiteral("demo")},
        {QStringLiteral("gui"),
         QJsonObject{{QStringLiteral("names"), QJsonArray{"frontal", "right", "back", "left"}}}}};
    {
        QFile file(workDir.filePath(QStringLiteral("matrius/configuration.json")));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(QJsonDocument(configuration).toJson());
    }
    QDir::setCurrent(workDir.path());

    // ---- the main window, logged in ---------------------------------------
    auto window = std::make_unique<kelvarisVisualizer>();
    if (!window->configurationError().isEmpty()) {
        std::fprintf(stderr, "bench_session_load: %s\n", qPrintable(window->configurationError()));
        return 1;
    }
    window->resize(1600, 900);
    window->show();
    SessionLoader *loader = window->sessionLoader();
    loader->setDownloadWaitLimit(600000);
    auto *topBar = window->findChild<QWidget *>(QStringLiteral("topBarWidget"));
    if (!typeLogin(*window, QStringLiteral("doctor")) ||
        !QTest::qWaitFor([&] { return !window->loginFlow()->dialog() && topBar->isVisible(); }, 30000)) {
        std::fprintf(stderr, "bench_session_load: login failed\n");
        return 1;
    }
    QSignalSpy loaded(loader, &SessionLoader::patientLoaded);

    // ---- warm-up: the pictures the viewer asks for are made ---------------
    {
        QElapsedTimer warm;
        warm.start();
        emit window->patientSearch()->patientChosen(patient(largePatient));
        if (!QTest::qWaitFor([&] { return !loaded.isEmpty() && everythingIn(loader); }, 600000)) {
            std::fprintf(stderr, "bench_session_load: the warm-up load did not finish\n");
            return 1;
        }
        figure("session load warm-up (pictures made)", warm.elapsed() / 1000.0, "s");
        window->on_labelButton_clicked(true);
        QTest::qWait(200);
        loaded.clear();
    }

    // ---- the measured load ------------------------------------------------
    std::vector<Fetched> fetched;
    const auto record = QObject::connect(window->server()->network(), &QNetworkAccessManager::finished,
                                         window.get(), [&](QNetworkReply *reply) {
                                             const QString path = reply->url().path();
                                             if (reply->operation() == QNetworkAccessManager::GetOperation &&
                                                 reply->error() == QNetworkReply::NoError &&
                                                 path.endsWith(QLatin1String(".jpg")))
                                                 fetched.push_back({reply->url()});
                                         });
    const double residentBefore = residentMiB();
    resetPeak();
    StallMeter stalls;
    QElapsedTimer clock;
    stalls.start();
    clock.start();
    emit window->patientSearch()->patientChosen(patient(largePatient));
    qint64 shownAt = -1;
    const bool done = QTest::qWaitFor(
        [&] {
            if (shownAt < 0 && !loaded.isEmpty())
                shownAt = clock.elapsed();
            return shownAt >= 0 && everythingIn(loader);
        },
        600000);
    const qint64 allInAt = clock.elapsed();
    const qint64 longestStall = stalls.stop();
    const double peak = peakMiB();
    QObject::disconnect(record);
    if (!done || !loaded.first().first().toBool()) {
        std::fprintf(stderr, "bench_session_load: the measured load did not finish\n");
        return 1;
    }

    // Sizes the view decoded at, for the baseline.
    QList<std::pair<QRect, QSize>> decodes;
    for (ClinicalPixmapItem *item : shownItems(loader))
        decodes.push_back({item->getClip(), item->getTargetSize()});

    // ---- the baseline: plain parallel GETs, decodes on the thread pool ------
    QNetworkAccessManager plain;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslCertificate::fromPath(DemoServer::caCertificatePath()));
    QList<QByteArray> bodies;
    int failed = 0;
    int finished = 0;
    QElapsedTimer baseline;
    baseline.start();
    for (const Fetched &f : fetched) {
        QNetworkRequest request(f.url);
        request.setSslConfiguration(ssl);
        QNetworkReply *reply = plain.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply] {
            ++finished;
            if (reply->error() == QNetworkReply::NoError)
                bodies << reply->readAll();
            else
                ++failed;
            reply->deleteLater();
        });
    }
    if (!QTest::qWaitFor([&] { return finished == int(fetched.size()); }, 600000))
        std::fprintf(stderr, "bench_session_load: baseline requests still running\n");
    qint64 baselineBytes = 0;
    QList<QByteArray> clinical;
    for (const QByteArray &b : bodies) {
        baselineBytes += b.size();
        QByteArray copy = b;
        QBuffer buffer(&copy);
        if (QImageReader(&buffer).size().width() >= 5000)
            clinical << b;
    }
    QList<QFuture<int>> jobs;
    for (int i = 0; i < decodes.size() && !clinical.isEmpty(); ++i) {
        const QByteArray bytes = clinical.at(i % clinical.size());
        const auto [clip, size] = decodes.at(i);
        jobs << QtConcurrent::run([bytes, clip = clip, size = size] {
            return int(ClinicalPixmapItem::decodeLevels(bytes, clip, size).size());
        });
    }
    for (auto &job : jobs)
        job.waitForFinished();
    const qint64 baselineMs = baseline.elapsed();

    // A likely part of the longest stall: the lesions' dermatoscopic icons are
    // decoded on the GUI thread during the load; timed again here alone.
    QElapsedTimer icons;
    icons.start();
    loader->principalSession()->addDermatoscopicToLesion();
    const qint64 iconsMs = icons.elapsed();

    figure("session load principal shown", double(shownAt), "ms");
    figure("session load all stored and shown decoded", double(allInAt), "ms");
    figure("session load images fetched", double(fetched.size()), "files");
    figure("session load shown images decoded", double(decodes.size()), "images");
    figure("session load baseline fetch and decode", double(baselineMs), "ms");
    figure("session load compressed bytes", baselineBytes / 1048576.0, "MiB");
    figure("session load baseline failed requests", double(failed), "requests");
    figure("session load ratio", baselineMs > 0 ? double(allInAt) / double(baselineMs) : 0.0, "x");
    figure("session load longest GUI stall", double(longestStall), "ms");
    figure("session load longest GUI stall ended at", double(stalls.longestEndedAt()), "ms");
    figure("session load dermatoscopic icons on the GUI thread", double(iconsMs), "ms");
    figure("session load resident before", residentBefore, "MiB");
    figure("session load peak memory", peak, "MiB");
    // The viewer holds the compressed bytes of exactly these files.
    figure("session load peak memory over compressed", peak - baselineBytes / 1048576.0, "MiB");
    figure("session load peak memory over resident before", peak - residentBefore, "MiB");
    return 0;
}

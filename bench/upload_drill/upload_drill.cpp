// The upload reliability drill: the real main window, offscreen, makes 50
// seeded edits across three sessions of patient 11 against the stand-in
// with a fault profile, saves every 10 edits and at the end, and waits for
// the queue to drain. Then every stored version of the three documents is
// read back and each edit looked for.
//
//   upload_drill --pregenerate                  the stand-in's data, pictures made
//   upload_drill flaky|hangs|lostack|outage|kill
//
// One line per figure: "upload drill <profile> <figure>: <value> <unit>".
// The exit status is non-zero when a figure that must hold is broken
// (nothing missing, nothing twice in one document, nothing in another
// session, nothing out of order); times are figures only.
//
// kill runs the viewer as a child process of this program (the same
// program, "--child"), which prints its edits, the jobs acknowledged and
// the bar's state; it is killed at five seeded moments, once per round.

#include "DrillCheck.h"
#include "DrillEdits.h"

#include "app/MainWindowLogin.h"
#include "app/PatientSearch.h"
#include "app/SessionLoader.h"
#include "app/kelvarisVisualizer.h"
#include "demo-server/DemoServer.h"
#include "server/ServerVisualizer.h"
#include "session/SessionVisualizer.h"
#include "widgets/Trace.h"

#include <QApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QProcess>
#include <QProgressBar>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>

namespace {

constexpr quint32 kSeed = 20240611; // the edits and the kill moments
constexpr quint32 kFaultSeed = 7;   // which requests the stand-in's faults hit
constexpr int kPatient = 11;
constexpr int kOutageMs = 90000;

QString g_profile;

void figure(const char *name, double value, const char *unit)
{
    std::printf("upload drill %s %s: %g %s\n", qPrintable(g_profile), name, value, unit);
    std::fflush(stdout);
}

void note(const QString &text)
{
    std::fprintf(stderr, "upload_drill: %s\n", qPrintable(text));
    std::fflush(stderr);
}

qint64 now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

bool copyFolder(const QString &from, const QString &to)
{
    QDir source(from);
    QDirIterator it(from, QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(file);
        QDir().mkpath(QFileInfo(target).absolutePath());
        if (!QFile::copy(file, target))
            return false;
    }
    return true;
}

QString pristineFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/upload-drill-data");
}

// The stand-in on a thread of its own, so that its serving never counts as
// a stall or idle time of the viewer.
class ServerHost
{
public:
    ~ServerHost() { stop(); }

    bool start(const QString &dataDir, bool fresh)
    {
        stop();
        DemoServer::Options options;
        options.dataDir = dataDir;
        options.small = true;
        options.reset = fresh;
        options.logRequests = qEnvironmentVariableIntValue("UPLOAD_DRILL_VERBOSE") != 0;
        options.warmUp = false;
        m_context = new QObject;
        m_context->moveToThread(&m_thread);
        m_thread.start();
        bool started = false;
        call([&] {
            m_server = new DemoServer(options);
            started = m_server->start();
            if (!started)
                m_error = m_server->errorString();
        });
        return started;
    }

    void stop()
    {
        if (!m_context)
            return;
        call([&] {
            delete m_server;
            m_server = nullptr;
        });
        m_thread.quit();
        m_thread.wait();
        delete m_context;
        m_context = nullptr;
    }

    template <typename F> void call(F &&f)
    {
        QMetaObject::invokeMethod(m_context, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }

    bool setFault(const QString &text)
    {
        QString group, error;
        DemoFaults::Fault fault;
        if (!DemoFaults::parseFault(text, &group, &fault, &error)) {
            note(error);
            return false;
        }
        call([&] { m_server->setFault(group, fault); });
        return true;
    }
    void clearFaults()
    {
        call([&] { m_server->clearFaults(); });
    }
    QList<QByteArray> history(int session)
    {
        QList<QByteArray> versions;
        call([&] {
            versions = m_server->storedHistory(
                QStringLiteral("sessions/%1/%2/session.json").arg(kPatient).arg(session));
        });
        return versions;
    }
    QByteArray object(const QString &name)
    {
        QByteArray bytes;
        call([&] { bytes = m_server->storedObject(name); });
        return bytes;
    }
    int makeAllImages()
    {
        int made = 0;
        call([&] { made = m_server->makeAllImages(); });
        return made;
    }
    QString directoryUrl()
    {
        QString url;
        call([&] { url = m_server->directoryUrl(); });
        return url;
    }
    QString error() const { return m_error; }

private:
    QThread m_thread;
    QObject *m_context = nullptr;
    DemoServer *m_server = nullptr;
    QString m_error;
};

bool pregenerate()
{
    ServerHost host;
    QElapsedTimer clock;
    clock.start();
    if (!host.start(pristineFolder(), true)) {
        note(QStringLiteral("the stand-in did not start: ") + host.error());
        return false;
    }
    const int made = host.makeAllImages();
    host.stop();
    note(QStringLiteral("%1 pictures made in %2 s").arg(made).arg(clock.elapsed() / 1000.0));
    return true;
}

// A fresh copy of the pristine data: every run starts from the sample data.
bool startFresh(ServerHost &host, QTemporaryDir &data)
{
    if (!QFileInfo::exists(pristineFolder() + QStringLiteral("/demo.sqlite"))) {
        note(QStringLiteral("no pregenerated data; making it now (upload_drill --pregenerate)"));
        if (!pregenerate())
            return false;
    }
    if (!copyFolder(pristineFolder(), data.path())) {
        note(QStringLiteral("the data could not be copied"));
        return false;
    }
    if (!host.start(data.path(), false)) {
        note(QStringLiteral("the stand-in did not start: ") + host.error());
        return false;
    }
    return true;
}

bool writeConfiguration(const QString &dir, const QString &directoryUrl)
{
    QDir(dir).mkpath(QStringLiteral("matrius"));
    const QJsonObject configuration{
        {QStringLiteral("directory"), directoryUrl},
        {QStringLiteral("caCertificates"), QJsonArray{DemoServer::caCertificatePath()}},
        {QStringLiteral("server"), QStringLiteral("demo")},
        {QStringLiteral("gui"),
         QJsonObject{{QStringLiteral("names"), QJsonArray{"frontal", "right", "back", "left"}}}}};
    QFile file(QDir(dir).filePath(QStringLiteral("matrius/configuration.json")));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QJsonDocument(configuration).toJson());
    return true;
}

// The main window, logged in as a doctor, with patient 11's principal
// session (101) shown.
std::unique_ptr<kelvarisVisualizer> openViewer()
{
    auto window = std::make_unique<kelvarisVisualizer>();
    if (!window->configurationError().isEmpty()) {
        note(window->configurationError());
        return nullptr;
    }
    window->resize(1600, 900);
    window->show();
    auto *topBar = window->findChild<QWidget *>(QStringLiteral("topBarWidget"));
    if (!typeLogin(*window, QStringLiteral("doctor")) ||
        !QTest::qWaitFor([&] { return !window->loginFlow()->dialog() && topBar->isVisible(); }, 60000)) {
        note(QStringLiteral("login failed"));
        return nullptr;
    }
    SessionLoader *loader = window->sessionLoader();
    loader->setDownloadWaitLimit(120000);
    QSignalSpy loaded(loader, &SessionLoader::patientLoaded);
    Patient patient;
    patient.patientID = std::to_string(kPatient);
    emit window->patientSearch()->patientChosen(patient);
    if (!QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 120000) || !loaded.first().first().toBool() ||
        loader->sessions().size() < 3) {
        note(QStringLiteral("patient 11 was not shown"));
        return nullptr;
    }
    // The other sessions come quietly in the background: the drill starts
    // once they are in and the window has built what they need.
    const bool settled = QTest::qWaitFor(
        [&] {
            for (const auto &entry : loader->sessions())
                if (entry.second && entry.second->isDownloading())
                    return false;
            return true;
        },
        60000);
    if (!settled)
        note(QStringLiteral("the other sessions are still coming; the drill starts anyway"));
    QTest::qWait(1000);
    return window;
}

bool uploadInFlight(ServerVisualizer *server)
{
    const auto replies = server->network()->findChildren<QNetworkReply *>(Qt::FindDirectChildrenOnly);
    for (QNetworkReply *reply : replies)
        if (reply->property("uploadJob").isValid() && reply->isRunning())
            return true;
    return false;
}

// Counts of what the queue sent and how it was answered, and the time the
// queue held jobs with nothing on its way and no back-off to wait for.
class QueueMeter : public QObject
{
public:
    explicit QueueMeter(kelvarisVisualizer *window)
        : m_window(window), m_bar(window->findChild<QProgressBar *>(QStringLiteral("progressBar")))
    {
        ServerVisualizer *server = window->server();
        connect(server->network(), &QNetworkAccessManager::finished, this, [this](QNetworkReply *reply) {
            const QString operation = reply->property("operation").toString();
            const bool ok = reply->error() == QNetworkReply::NoError;
            if (m_verbose)
                note(QStringLiteral("%1 ms: %2 %3 %4")
                         .arg(now())
                         .arg(operation)
                         .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
                         .arg(reply->url().path().section(QLatin1Char('/'), 0, 5)));
            if (operation == QLatin1String("assignExternalDermato")) {
                ++postsSent;
                postsAccepted += ok ? 1 : 0;
            } else if (operation == QLatin1String("post")) {
                ++putsSent;
                putsAccepted += ok ? 1 : 0;
            }
        });
        connect(server, &ServerVisualizer::uploadQueueChanged, this, [this](int jobs) {
            if (jobs > m_jobs)
                queued += jobs - m_jobs;
            m_jobs = jobs;
        });
        connect(server, &ServerVisualizer::uploadNotice, this, [this] { ++notifications; });
        connect(server, &ServerVisualizer::uploadRetryScheduled, this,
                [this](int delayMs, int) { m_waitUntil = now() + delayMs; });
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(5);
        connect(&m_ticker, &QTimer::timeout, this, &QueueMeter::tick);
        m_last = now();
        m_ticker.start();
    }

    void startIdle()
    {
        idleMs = 0;
        m_counting = true;
    }

    int queued = 0;
    int postsSent = 0, postsAccepted = 0, putsSent = 0, putsAccepted = 0;
    int notifications = 0;
    qint64 idleMs = 0;
    int barMismatches = 0;

private:
    void tick()
    {
        const qint64 t = now();
        const qint64 dt = t - m_last;
        m_last = t;
        if (m_verbose && dt > 20)
            note(QStringLiteral("%1 ms: the window was busy for %2 ms").arg(t).arg(dt));
        ServerVisualizer *server = m_window->server();
        const int jobs = server->uploadQueueSize();
        QProgressBar *bar = m_bar;
        if (bar && bar->isHidden() == (jobs > 0))
            ++barMismatches;
        if (m_counting && jobs > 0 && t >= m_waitUntil && !uploadInFlight(server))
            idleMs += dt;
    }

    kelvarisVisualizer *m_window;
    // Looked up once: a search of the whole window every few milliseconds
    // would itself keep the window busy.
    QPointer<QProgressBar> m_bar;
    // UPLOAD_DRILL_VERBOSE=1: every finished request of the viewer on the error output.
    const bool m_verbose = qEnvironmentVariableIntValue("UPLOAD_DRILL_VERBOSE") != 0;
    QTimer m_ticker;
    qint64 m_last = 0;
    qint64 m_waitUntil = 0;
    int m_jobs = 0;
    bool m_counting = false;
};

std::map<int, QList<QByteArray>> storedVersions(ServerHost &host)
{
    std::map<int, QList<QByteArray>> versions;
    for (int session : DrillScript::sessions)
        versions[session] = host.history(session);
    return versions;
}

bool printChecks(const DrillFigures &f)
{
    figure("edits made", f.made, "edits");
    figure("edits stored", f.stored, "edits");
    figure("edits missing", f.missing, "edits");
    figure("edits duplicated", f.duplicated, "edits");
    figure("edits in another session", f.foreign, "edits");
    figure("edits out of order", f.outOfOrder, "edits");
    figure("versions stored", f.versions, "versions");
    figure("versions not whole", f.notWhole, "versions");
    return f.duplicated == 0 && f.foreign == 0 && f.outOfOrder == 0 && f.notWhole == 0;
}

// --- the profiles run in this process -------------------------------------------------------

QStringList faultsOf(const QString &profile)
{
    const QString seed = QString::number(kFaultSeed);
    if (profile == QLatin1String("flaky"))
        return {QStringLiteral("storage-put:failRate=0.3,latency=200,seed=") + seed,
                QStringLiteral("assign:noFields,rate=0.1,seed=") + seed};
    if (profile == QLatin1String("hangs"))
        return {QStringLiteral("storage-put:hang,rate=0.1,seed=") + seed};
    if (profile == QLatin1String("lostack"))
        return {QStringLiteral("storage-put:failRate=0.3,afterStore,seed=") + seed};
    if (profile == QLatin1String("outage"))
        return {QStringLiteral("assign:failRate=1,status=503"),
                QStringLiteral("storage-put:failRate=1,status=503")};
    return {};
}

int runInProcess(const QString &profile)
{
    ServerHost host;
    QTemporaryDir data, work, files;
    if (!startFresh(host, data) || !writeConfiguration(work.path(), host.directoryUrl()))
        return 2;
    QDir::setCurrent(work.path());
    std::unique_ptr<kelvarisVisualizer> window = openViewer();
    if (!window)
        return 2;
    ServerVisualizer *server = window->server();
    if (profile == QLatin1String("hangs"))
        server->setTransferTimeouts(3000, 3000);
    QueueMeter meter(window.get());
    DrillScript script(window.get(), kSeed, files.path());

    // A save of three sessions with nothing going wrong.
    const qint64 baselineAt = now();
    if (qEnvironmentVariableIntValue("UPLOAD_DRILL_VERBOSE"))
        note(QStringLiteral("%1 ms: the fault-free save").arg(baselineAt));
    script.baselineSave();
    if (!QTest::qWaitFor([&] { return server->uploadQueueSize() == 0; }, 30000)) {
        note(QStringLiteral("the fault-free save did not drain"));
        return 2;
    }
    const qint64 faultFreeMs = now() - baselineAt;

    for (const QString &fault : faultsOf(profile))
        if (!host.setFault(fault))
            return 2;
    qint64 recoveredAt = -1;
    QTimer outage;
    outage.setSingleShot(true);
    if (profile == QLatin1String("outage")) {
        QObject::connect(&outage, &QTimer::timeout, [&] {
            host.clearFaults();
            recoveredAt = now();
        });
        outage.start(kOutageMs);
    }

    bool finished = false;
    qint64 lastSaveAt = 0;
    QObject::connect(&script, &DrillScript::finished, [&] {
        finished = true;
        lastSaveAt = now();
        meter.startIdle();
    });
    script.start();
    if (!QTest::qWaitFor([&] { return finished; }, 120000)) {
        note(QStringLiteral("the edits did not finish"));
        return 2;
    }
    const bool drained = QTest::qWaitFor([&] { return server->uploadQueueSize() == 0; }, 300000);
    const qint64 drainedAt = now();
    host.clearFaults();
    QTest::qWait(300);

    const DrillFigures f = checkStored(script.edits(), storedVersions(host),
                                       [&](const QString &object) { return host.object(object); });
    bool ok = printChecks(f) && f.missing == 0 && drained;
    figure("jobs", meter.queued, "jobs");
    figure("POSTs sent", meter.postsSent, "requests");
    figure("POSTs accepted", meter.postsAccepted, "requests");
    figure("PUTs sent", meter.putsSent, "requests");
    figure("PUTs accepted", meter.putsAccepted, "requests");
    figure("notifications", meter.notifications, "notifications");
    figure("drain time", double(drainedAt - lastSaveAt), "ms");
    figure("idle", double(meter.idleMs), "ms");
    if (recoveredAt >= 0)
        figure("drained after recovery", double(drainedAt - recoveredAt), "ms");
    figure("fault-free three-session save", double(faultFreeMs), "ms");
    figure("bar not following the queue", meter.barMismatches + script.barMismatches(), "samples");
    figure("queue not as the drill expects", script.mirrorMismatches(), "times");
    ok = ok && meter.barMismatches + script.barMismatches() == 0 && script.mirrorMismatches() == 0;
    if (!drained)
        note(QStringLiteral("the queue did not drain"));
    return ok ? 0 : 1;
}

// --- kill: the viewer as a child process ---------------------------------------------------

int runChild(const QString &directoryUrl, quint32 seed)
{
    kelvaris::setTraceSink([](const QString &) {});
    auto out = [](const QString &line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };
    QTemporaryDir work, files;
    if (!writeConfiguration(work.path(), directoryUrl))
        return 2;
    QDir::setCurrent(work.path());
    std::unique_ptr<kelvarisVisualizer> window = openViewer();
    if (!window)
        return 2;
    DrillScript script(window.get(), seed, files.path());
    script.print = out;
    QObject::connect(&script, &DrillScript::finished, [&] { out(QStringLiteral("finished")); });
    out(QStringLiteral("start"));
    script.start();
    // Runs until killed; the limit only ends a child whose parent is gone.
    QTest::qWait(120000);
    return 0;
}

struct RoundResult
{
    DrillFigures stored;
    int acknowledged = 0;
    int acknowledgedMissing = 0;
    int barMismatches = 0;
    int mirrorMismatches = 0;
    qint64 killedAfterMs = 0;
    bool ran = false;
};

RoundResult killRound(int round, quint32 seed, qint64 killAfterMs)
{
    RoundResult result;
    ServerHost host;
    QTemporaryDir data;
    if (!startFresh(host, data) || !host.setFault(QStringLiteral("storage-put:latency=500")))
        return result;

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    std::vector<DrillEdit> edits(DrillScript::editCount);
    for (int i = 0; i < DrillScript::editCount; ++i)
        edits[size_t(i)].index = i;
    QList<DrillJob> acks;
    QByteArray pending;
    qint64 startedAt = -1;
    QTimer killer;
    killer.setSingleShot(true);
    QObject::connect(&killer, &QTimer::timeout, [&] {
        result.killedAfterMs = now() - startedAt;
        child.kill(); // SIGKILL: no handler, no flush, as a crash or a power cut
    });
    QObject::connect(&child, &QProcess::readyReadStandardOutput, [&] {
        pending += child.readAllStandardOutput();
        int end;
        while ((end = int(pending.indexOf('\n'))) >= 0) {
            const QString line = QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
            DrillEdit edit;
            if (DrillEdit::fromLine(line, &edit) && edit.index >= 0 && edit.index < DrillScript::editCount) {
                edits[size_t(edit.index)] = edit;
            } else if (line.startsWith(QLatin1String("ack "))) {
                const QStringList parts = line.split(QLatin1Char(' '));
                DrillJob job;
                job.session = parts.value(1).toInt();
                for (const QString &e : parts.value(2).split(QLatin1Char(','), Qt::SkipEmptyParts))
                    job.edits << e.toInt();
                acks << job;
            } else if (line.startsWith(QLatin1String("bar "))) {
                ++result.barMismatches;
            } else if (line.startsWith(QLatin1String("mirror "))) {
                ++result.mirrorMismatches;
            } else if (line == QLatin1String("start")) {
                startedAt = now();
                killer.start(int(killAfterMs));
            }
        }
    });
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), host.directoryUrl(), QString::number(seed)});
    if (!child.waitForStarted(30000)) {
        note(QStringLiteral("the viewer did not start"));
        return result;
    }
    if (!QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 180000)) {
        note(QStringLiteral("round %1: the viewer did not end").arg(round));
        child.kill();
        child.waitForFinished(5000);
        return result;
    }
    // What the server received before the kill is handled by now.
    QTest::qWait(2000);

    result.stored =
        checkStored(edits, storedVersions(host), [&](const QString &o) { return host.object(o); });
    QSet<int> acknowledged;
    for (const DrillJob &job : acks)
        for (int e : job.edits)
            acknowledged.insert(e);
    result.acknowledged = int(acknowledged.size());
    for (int e : acknowledged)
        result.acknowledgedMissing += result.stored.present.contains(e) ? 0 : 1;
    result.ran = startedAt >= 0;
    return result;
}

int runKill()
{
    QRandomGenerator moments(kSeed);
    RoundResult total;
    bool ok = true;
    for (int round = 0; round < 5; ++round) {
        const qint64 killAfter = 1000 + moments.bounded(16000);
        const RoundResult r = killRound(round, kSeed + quint32(round), killAfter);
        if (!r.ran) {
            note(QStringLiteral("round %1 did not run").arg(round));
            ok = false;
            continue;
        }
        std::printf("upload drill kill round %d killed after: %lld ms, edits made %d, acknowledged %d, "
                    "acknowledged missing %d, stored %d\n",
                    round, static_cast<long long>(r.killedAfterMs), r.stored.made, r.acknowledged,
                    r.acknowledgedMissing, r.stored.stored);
        std::fflush(stdout);
        total.stored.made += r.stored.made;
        total.stored.stored += r.stored.stored;
        total.stored.duplicated += r.stored.duplicated;
        total.stored.foreign += r.stored.foreign;
        total.stored.outOfOrder += r.stored.outOfOrder;
        total.stored.versions += r.stored.versions;
        total.stored.notWhole += r.stored.notWhole;
        total.acknowledged += r.acknowledged;
        total.acknowledgedMissing += r.acknowledgedMissing;
        total.barMismatches += r.barMismatches;
        total.mirrorMismatches += r.mirrorMismatches;
    }
    figure("rounds", 5, "rounds");
    figure("edits made", total.stored.made, "edits");
    figure("edits stored", total.stored.stored, "edits");
    // Edits made but never acknowledged died with the queue in memory.
    figure("edits not acknowledged, lost with the process", total.stored.made - total.stored.stored, "edits");
    figure("edits acknowledged", total.acknowledged, "edits");
    figure("acknowledged edits missing", total.acknowledgedMissing, "edits");
    figure("edits duplicated", total.stored.duplicated, "edits");
    figure("edits in another session", total.stored.foreign, "edits");
    figure("edits out of order", total.stored.outOfOrder, "edits");
    figure("versions stored", total.stored.versions, "versions");
    figure("versions not whole", total.stored.notWhole, "versions");
    figure("bar not following the queue", total.barMismatches, "changes");
    // Acknowledgements are matched to edits through the child's mirror of the queue.
    figure("queue not as the drill expects", total.mirrorMismatches, "times");
    ok = ok && total.acknowledgedMissing == 0 && total.stored.duplicated == 0 && total.stored.foreign == 0 &&
         total.stored.outOfOrder == 0 && total.stored.notWhole == 0 && total.barMismatches == 0 &&
         total.mirrorMismatches == 0;
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The viewer's chatter would bury the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    kelvaris::setTraceSink([](const QString &) {});
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    if (args.value(0) == QLatin1String("--child"))
        return runChild(args.value(1), quint32(args.value(2).toUInt()));
    if (args.value(0) == QLatin1String("--pregenerate"))
        return pregenerate() ? 0 : 2;
    g_profile = args.value(0);
    if (g_profile == QLatin1String("kill"))
        return runKill();
    if (!faultsOf(g_profile).isEmpty())
        return runInProcess(g_profile);
    std::fprintf(stderr, "usage: upload_drill --pregenerate | flaky | hangs | lostack | outage | kill\n");
    return 2;
}

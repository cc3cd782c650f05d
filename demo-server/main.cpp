// demo-server: the stand-in clinical server with sample examinations.
//
//   demo-server [--data DIR] [--port N] [--small] [--reset] [--large] [--versions] [--phone auto|manual]
//   [--control] ... demo-server totp USER        prints the current authenticator code of USER demo-server
//   generate ...     makes the sample data and every picture, then exits demo-server configure FILE [BASE]
//   [--port N]
//                                writes the viewer's configuration FILE (keys of BASE kept) so
//                                that it finds this server and trusts its certificate authority

#include "demo-server/DemoServer.h"

#include <QCommandLineParser>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "demo-server: %s\n", qPrintable(message));
    return 2;
}

// The viewer's configuration with the optional keys that point it at this
// server: "directory" (where server names are looked up) and
// "caCertificates" (PEM files trusted besides the system's).
int configure(const QString &target, const QString &base, quint16 port)
{
    QJsonObject config;
    if (!base.isEmpty()) {
        QFile in(base);
        if (in.open(QIODevice::ReadOnly)) {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &error);
            if (!doc.isObject())
                return fail(QStringLiteral("%1 is not a JSON object: %2").arg(base, error.errorString()));
            config = doc.object();
        }
    }
    const QString url = QStringLiteral("https://127.0.0.1:%1").arg(port);
    config.insert(QStringLiteral("server"), url);
    config.insert(QStringLiteral("directory"), url);
    config.insert(QStringLiteral("caCertificates"), QJsonArray{DemoServer::caCertificatePath()});
    if (!config.value(QStringLiteral("gui")).isObject())
        config.insert(QStringLiteral("gui"),
                      QJsonObject{{QStringLiteral("names"),
                                   QJsonArray{QStringLiteral("frontal"), QStringLiteral("right"),
                                              QStringLiteral("back"), QStringLiteral("left")}},
                                  {QStringLiteral("warning"), QString()}});
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(QJsonDocument(config).toJson(QJsonDocument::Indented)) < 0 || !out.commit())
        return fail(QStringLiteral("cannot write %1").arg(target));
    return 0;
}

qint64 folderSize(const QString &path)
{
    qint64 total = 0;
    QDirIterator it(path, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

} // namespace

int main(int argc, char **argv)
{
    // The pictures are painted without a window system.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("demo-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in clinical server (directory, API, storage, paired phone) with sample examinations.\n"
        "Commands: (none) serve; \"totp USER\" print an authenticator code; "
        "\"generate\" make the data and every picture, then exit."));
    parser.addHelpOption();
    const QCommandLineOption data(
        QStringLiteral("data"), QStringLiteral("Data folder (default %1).").arg(DemoServer::defaultDataDir()),
        QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port on 127.0.0.1 (default 8443, 0 = any free one)."),
                                  QStringLiteral("N"), QStringLiteral("8443"));
    const QCommandLineOption small(QStringLiteral("small"),
                                   QStringLiteral("Small pictures, for fast tests (when the data is made)."));
    const QCommandLineOption reset(QStringLiteral("reset"), QStringLiteral("Start from fresh sample data."));
    const QCommandLineOption large(
        QStringLiteral("large"),
        QStringLiteral(
            "Add patient 20, one large examination (36 clinical images, 40 lesions), to the data."));
    const QCommandLineOption phone(QStringLiteral("phone"),
                                   QStringLiteral("Simulated phone: auto or manual (default manual)."),
                                   QStringLiteral("MODE"), QStringLiteral("manual"));
    const QCommandLineOption joinDelay(QStringLiteral("phone-join-delay"),
                                       QStringLiteral("Milliseconds before the auto phone joins (1500)."),
                                       QStringLiteral("MS"), QStringLiteral("1500"));
    const QCommandLineOption captureDelay(
        QStringLiteral("phone-delay"),
        QStringLiteral("Milliseconds the auto phone takes per picture (2500)."), QStringLiteral("MS"),
        QStringLiteral("2500"));
    const QCommandLineOption tokenLifetime(
        QStringLiteral("token-lifetime"),
        QStringLiteral("Idle seconds before a session token expires (14400)."), QStringLiteral("S"),
        QStringLiteral("14400"));
    const QCommandLineOption urlLifetime(QStringLiteral("url-lifetime"),
                                         QStringLiteral("Seconds a presigned storage URL is valid (3600)."),
                                         QStringLiteral("S"), QStringLiteral("3600"));
    const QCommandLineOption faultOption(
        QStringLiteral("fault"),
        QStringLiteral("Inject a fault, GROUP:key=value,... (repeatable); keys latency, fail, status, "
                       "hang, truncate, notJson, noFields, challenge, redirect, failRate, rate, seed, "
                       "afterStore, noUrl."),
        QStringLiteral("FAULT"));
    const QCommandLineOption pregenerate(QStringLiteral("pregenerate"),
                                         QStringLiteral("Make every picture before serving."));
    const QCommandLineOption noWarmUp(
        QStringLiteral("no-warm-up"),
        QStringLiteral("Do not make pictures in the background; only when asked for."));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("No request log."));
    const QCommandLineOption control(
        QStringLiteral("control"),
        QStringLiteral("Serve the test controls under /control/ (they hand out login codes)."));
    const QCommandLineOption versions(
        QStringLiteral("versions"),
        QStringLiteral("Add patient 21, one lesion with ten 6000 x 4000 dermatoscopic images, to the data."));
    parser.addOptions({data, port, small, reset, large, versions, phone, joinDelay, captureDelay,
                       tokenLifetime, urlLifetime, faultOption, pregenerate, noWarmUp, quiet, control});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("totp USER | generate"),
                                 QStringLiteral("[command]"));
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (!args.isEmpty() && args.first() == QLatin1String("totp")) {
        if (args.size() != 2)
            return fail(QStringLiteral("usage: demo-server totp USER"));
        const QString code = DemoServer::totpCode(args[1]);
        if (code.isEmpty())
            return fail(
                QStringLiteral("%1 has no authenticator (accounts with one: doctor.totp, doctor.flows)")
                    .arg(args[1]));
        std::fprintf(stdout, "%s\n", qPrintable(code));
        return 0;
    }
    if (!args.isEmpty() && args.first() == QLatin1String("configure")) {
        bool ok = false;
        const quint16 p = quint16(parser.value(port).toUInt(&ok));
        if (args.size() < 2 || args.size() > 3 || !ok || p == 0)
            return fail(QStringLiteral("usage: demo-server configure FILE [BASE] [--port N]"));
        return configure(args[1], args.value(2), p);
    }
    const bool generateOnly = !args.isEmpty() && args.first() == QLatin1String("generate");
    if (!args.isEmpty() && !generateOnly)
        return fail(QStringLiteral("unknown command %1").arg(args.first()));

    DemoServer::Options options;
    options.dataDir = parser.value(data);
    bool ok = true;
    options.port = quint16(parser.value(port).toUInt(&ok));
    if (!ok)
        return fail(QStringLiteral("--port needs a number"));
    options.small = parser.isSet(small);
    options.largeExamination = parser.isSet(large);
    options.versionsExamination = parser.isSet(versions);
    options.reset = parser.isSet(reset);
    options.phone = parser.value(phone);
    options.phoneJoinDelayMs = parser.value(joinDelay).toInt();
    options.phoneCaptureDelayMs = parser.value(captureDelay).toInt();
    options.tokenLifetimeSeconds = parser.value(tokenLifetime).toInt();
    options.urlLifetimeSeconds = parser.value(urlLifetime).toInt();
    options.logRequests = !parser.isSet(quiet);
    options.control = parser.isSet(control);
    options.warmUp =
        !parser.isSet(noWarmUp) && !parser.isSet(pregenerate) && !args.contains(QLatin1String("generate"));
    if (options.tokenLifetimeSeconds <= 0 || options.urlLifetimeSeconds <= 0)
        return fail(QStringLiteral("lifetimes must be positive"));
    for (const QString &faultText : parser.values(faultOption)) {
        // Parsed once for its group, then again over what that group already
        // has, so that repeated --fault options of one group add up.
        QString group, why;
        DemoFaults::Fault parsed;
        if (!DemoFaults::parseFault(faultText, &group, &parsed, &why))
            return fail(why);
        DemoFaults::Fault merged = options.faults.value(group);
        if (!DemoFaults::parseFault(faultText, &group, &merged, &why))
            return fail(why);
        options.faults.insert(group, merged);
    }
    if (generateOnly)
        options.port = 0;

    QElapsedTimer timer;
    timer.start();
    DemoServer server(options);
    if (!server.start())
        return fail(server.errorString());
    const qint64 dataMs = timer.elapsed();
    const QString folder = options.dataDir.isEmpty() ? DemoServer::defaultDataDir() : options.dataDir;
    if (generateOnly || parser.isSet(pregenerate)) {
        timer.restart();
        const int made = server.makeAllImages();
        std::fprintf(stdout,
                     "demo-server: data ready in %lld ms; %d pictures made in %lld ms; data folder %.1f MB\n",
                     dataMs, made, timer.elapsed(), folderSize(folder) / 1048576.0);
        std::fflush(stdout);
        if (generateOnly)
            return 0;
    }
    std::fprintf(stdout, "demo-server: listening on %s (server name \"demo\", data %s, phone %s)\n",
                 qPrintable(server.baseUrl()), qPrintable(folder), qPrintable(options.phone));
    std::fflush(stdout);
    return app.exec();
}

// Session documents come from the device through the server: any bytes may
// arrive. Reading and writing one back must not crash, must keep whatever the
// program does not interpret, and must be stable on a second round.

#include "session/RoundTripCheck.h"
#include "session/SessionVisualizer.h"

#include <QGuiApplication>
#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

static QJsonObject roundTrip(const QJsonObject &input)
{
    auto session = QSharedPointer<SessionVisualizer>::create(QStringLiteral("sessions/1/2"), 1, 2,
                                                             QJsonDocument(input), QDateTime());
    session->readSessionJson();
    return session->getSessionJson().object();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    if (!document.isObject())
        return 0;
    const QJsonObject input = document.object();
    const QJsonObject output = roundTrip(input);
    const QStringList problems = RoundTripCheck::problems(input, output);
    if (!problems.isEmpty()) {
        std::fprintf(stderr, "round trip lost data:\n%s\n", qPrintable(problems.join(QLatin1Char('\n'))));
        std::abort();
    }
    const QJsonObject reread = QJsonDocument::fromJson(QJsonDocument(output).toJson()).object();
    const QJsonObject second = roundTrip(reread);
    if (second != reread) {
        std::fprintf(stderr, "second round trip changed the document:\n%s\n%s\n",
                     QJsonDocument(reread).toJson(QJsonDocument::Compact).constData(),
                     QJsonDocument(second).toJson(QJsonDocument::Compact).constData());
        std::abort();
    }
    return 0;
}

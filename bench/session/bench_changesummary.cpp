// Prints how long the summary of what changed since the last visit takes for
// a patient of 5 sessions of 200 lesions each. Figures only; nothing passes
// or fails.

#include "app/SessionLoader.h"
#include "session/LesionChangeSummary.h"
#include "session/SessionVisualizer.h"
#include "widgets/Trace.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <vector>

namespace {

constexpr int kSessions = 5;
constexpr int kPerPosition = 50; // 4 positions: 200 lesions per session

// Session k of the patient: most lesions in every session, growing a little;
// some appear late, some are gone early, some are marked by hand (-1).
QJsonObject document(int k)
{
    QJsonObject lesions;
    for (int p = 0; p < 4; ++p) {
        QJsonArray list;
        for (int n = 1; n <= kPerPosition; ++n) {
            const bool late = n % 10 == 0 && k < 2;
            const bool early = n % 13 == 0 && k > 2;
            const int number = late || early ? 1000 + 100 * k + n : n;
            // Most grow a little; every fifth grows and the next one shrinks
            // clearly from visit to visit.
            const double base = 2.0 + 0.1 * n;
            const double radius = n % 17 == 0  ? -1.0
                                  : n % 5 == 0 ? base * std::pow(1.3, k)
                                  : n % 5 == 1 ? base * std::pow(0.7, k)
                                               : base * (1.0 + 0.02 * k);
            const QJsonObject box{{"x", 100 + n}, {"y", 200}, {"w", 30}, {"h", 30}};
            list.append(QJsonObject{{"numericID", number},
                                    {"radius", radius},
                                    {"lesionLabel", n % 7 == 0 ? "Exeresis" : "Follow up"},
                                    {"bbox", box},
                                    {"instancesBbox", QJsonArray{box}}});
        }
        lesions.insert(QString::number(p), list);
    }
    return QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                       {"Version", 1},
                       {"Lesions", lesions}};
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The program's trace lines would drown the figures.
    std::cout.setstate(std::ios::failbit);
    kelvaris::setTraceSink([](const QString &) {});

    std::map<int, QSharedPointer<SessionVisualizer>> sessions;
    LesionChangeSummary::SessionList list;
    for (int k = 0; k < kSessions; ++k) {
        const int id = 500 + k;
        auto session = QSharedPointer<SessionVisualizer>::create(
            QStringLiteral("sessions/9/%1").arg(id), 9, id, QJsonDocument(document(k)),
            QDateTime(QDate(2022, 1, 10).addMonths(6 * k), QTime(9, 0)));
        session->readSessionJson();
        sessions.emplace(id, session);
        list.push_back(session);
    }
    SessionLoader::linkSameLesions(sessions);

    std::vector<double> times;
    LesionChangeSummary summary;
    for (int run = 0; run < 25; ++run) {
        QElapsedTimer timer;
        timer.start();
        summary = LesionChangeSummary::compute(sessions.rbegin()->second, list);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("summary: %s\n", qPrintable(summary.text()));
    std::printf("change summary 5x200 fastest: %.3f ms\n", times.front());
    std::printf("change summary 5x200 slowest: %.3f ms\n", times.back());
    std::printf("change summary 5x200: %.3f ms\n", times[times.size() / 2]);
    for (const auto &entry : sessions)
        entry.second->releaseHistoricLinks();
    return 0;
}

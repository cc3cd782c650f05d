// From "Preview Report" to the shown PDF, with a real editor: 20 lesions
// whose 2400 x 1800 dermatoscopic JPEGs are ticked and a long template.
// Prints image encoding, page load, printing to PDF, PDF load, total and per
// page, the longest stall of the GUI thread and the memory over five renders;
// then printing the PDF on a PDF printer, with the GUI thread's longest stall.
//
//   QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 build/bench/reports/bench_report_render
//   (run from the source tree's top, or with report.html in the working directory)

#include "reports/QtReportWidget.h"
#include "reports/ReportSchemeHandler.h"
#include "session/SessionVisualizer.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QPainter>
#include <QPdfDocument>
#include <QPdfView>
#include <QPrinter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

QByteArray photograph(int seed)
{
    QImage image(2400, 1800, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(24u));
            line[x] = qRgb(150 + (x * 60) / 2400 + n, 100 + (y * 50) / 1800 + n, 80 + n);
        }
    }
    QPainter painter(&image);
    painter.setBrush(QColor(90, 50, 30));
    painter.drawEllipse(QPoint(1200, 900), 400 + seed * 7, 300);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes;
}

QJsonObject pose(double x)
{
    return QJsonObject{{"x", x}, {"y", 0}, {"z", 0}, {"alpha", 10}, {"beta", 0}};
}

QSharedPointer<SessionVisualizer> session()
{
    QJsonObject lesions;
    QJsonObject cameras;
    for (int position = 0; position < 4; ++position) {
        QJsonArray list;
        for (int i = 1; i <= 5; ++i)
            list.append(QJsonObject{
                {"numericID", i},
                {"lesionLabel", "Follow up"},
                {"mainPose", pose(1)},
                {"instancesBbox", QJsonArray{QJsonObject{{"x", 1200}, {"y", 800}, {"w", 40}, {"h", 40}}}},
                {"instancesPosition", QJsonArray{pose(1)}},
                {"dermatoscopicIds", QJsonArray{QStringLiteral("20240301_%1_%2").arg(position).arg(i)}}});
        lesions.insert(QString::number(position), list);
        cameras.insert(QString::number(position), QJsonArray{pose(1), pose(2), pose(3)});
    }
    auto result = QSharedPointer<SessionVisualizer>::create(
        "sessions/11/105", 11, 105,
        QJsonDocument(QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                                  {"Version", 1},
                                  {"CameraPositions", cameras},
                                  {"Lesions", lesions},
                                  {"LastLesionID", QJsonArray{5, 5, 5, 5, 0}}}),
        QDateTime::currentDateTime());
    result->readSessionJson();
    int seed = 0;
    for (int position = 0; position < 4; ++position)
        for (int i = 1; i <= 5; ++i)
            result->storeFile(
                result->dermatoscopicPath(QStringLiteral("20240301_%1_%2").arg(position).arg(i)),
                photograph(++seed), 1);
    return result;
}

QJsonDocument longTemplate()
{
    QJsonArray sections;
    const QString paragraph = QStringLiteral(
        "The examination covered the whole skin surface under standard lighting. Every lesion above two "
        "millimetres was photographed and measured; changes against the previous session were reviewed.\n");
    for (int i = 0; i < 12; ++i) {
        sections.append(QJsonObject{{"type", "0"},
                                    {"title", QStringLiteral("Finding %1").arg(i + 1)},
                                    {"text", paragraph.repeated(4)}});
        if (i % 3 == 0)
            sections.append(QJsonObject{{"type", "2"}, {"title", "Lesion statistics"}});
    }
    return QJsonDocument(QJsonObject{{"logo", ""}, {"sections", sections}});
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ReportSchemeHandler::registerScheme();
    QApplication app(argc, argv);
    if (!QFile::exists("report.html") && QFile::exists("resources/report.html"))
        QDir::setCurrent("resources");

    QtReportWidget dialog("Dr Ferran", "Bench Patient", "demo", session());
    dialog.recievedReportJson(longTemplate());
    dialog.imageButtons.at("Follow up")->setChecked(true);
    dialog.resize(1100, 800);
    dialog.show();

    // The GUI thread's longest gap between 2 ms ticks while a render runs.
    QElapsedTimer tick;
    qint64 longestStall = 0;
    QTimer ticker;
    ticker.setInterval(2);
    qint64 stallEndedAt = 0;
    QElapsedTimer clock;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 gap = tick.restart();
        if (gap > longestStall) {
            longestStall = gap;
            stallEndedAt = clock.elapsed();
        }
    });

    std::vector<double> totals, assembled, loads, pdfLoads;
    std::vector<long> memory;
    std::vector<qint64> stalls;
    int pages = 0;
    qint64 assembledAt = 0;
    qint64 loadedAt = 0;
    QObject::connect(&dialog, &QtReportWidget::pageAssembled, [&](int) { assembledAt = clock.elapsed(); });
    QObject::connect(&dialog, &QtReportWidget::pageLoaded, [&] { loadedAt = clock.elapsed(); });
    for (int run = 0; run < 5; ++run) {
        bool ready = false;
        const auto connection =
            QObject::connect(&dialog, &QtReportWidget::previewReady, [&] { ready = true; });
        longestStall = 0;
        tick.start();
        ticker.start();
        clock.start();
        dialog.previewReportButton->click();
        if (!QTest::qWaitFor([&] { return ready; }, 120000)) {
            std::printf("report render: no PDF\n");
            return 1;
        }
        const qint64 total = clock.elapsed();
        ticker.stop();
        QObject::disconnect(connection);
        totals.push_back(double(total));
        assembled.push_back(double(assembledAt));
        loads.push_back(double(loadedAt - assembledAt));
        pages = dialog.pdfView->document()->pageCount();
        QElapsedTimer pdfClock;
        pdfClock.start();
        QBuffer buffer;
        buffer.setData(dialog.pdf);
        buffer.open(QIODevice::ReadOnly);
        QPdfDocument document;
        document.load(&buffer);
        pdfLoads.push_back(double(pdfClock.nsecsElapsed()) / 1e6);
        QTest::qWait(200);
        memory.push_back(residentKiB());
        stalls.push_back(longestStall);
        if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
            std::printf(
                "run %d: assembled %lld ms, total %lld ms, longest stall so far %lld ms ending at %lld ms, "
                "%ld KiB\n",
                run, static_cast<long long>(assembledAt), static_cast<long long>(total),
                static_cast<long long>(longestStall), static_cast<long long>(stallEndedAt), memory.back());
        dialog.stackedWidget->setCurrentIndex(QtReportWidget::EditorPage);
    }
    auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double total = median(totals);
    std::printf("report render pages: %d pages\n", pages);
    std::printf("report render image encoding and page assembly (20 images): %.0f ms\n", median(assembled));
    std::printf("report render page load: %.0f ms\n", median(loads));
    std::printf("report render printToPdf and preview: %.0f ms\n", total - median(assembled) - median(loads));
    std::printf("report render PDF load: %.1f ms\n", median(pdfLoads));
    std::printf("report render total: %.0f ms\n", total);
    std::printf("report render per page: %.0f ms\n", pages ? total / pages : 0.0);
    // The first render also starts the web engine on the GUI thread, once per run of the program.
    std::printf("report render first render longest GUI stall: %lld ms\n",
                static_cast<long long>(stalls.front()));
    std::printf("report render longest GUI stall: %lld ms\n",
                static_cast<long long>(*std::max_element(stalls.begin() + 1, stalls.end())));
    std::printf("report render memory after render 1: %ld KiB\n", memory.front());
    std::printf("report render memory after render 5: %ld KiB\n", memory.back());

    // Printing the last PDF on a PDF printer at 300 dpi, as from the print dialog.
    const QString target =
        QDir::tempPath() +
        QStringLiteral("/bench-report-print-%1.pdf").arg(QCoreApplication::applicationPid());
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    printer->setResolution(300);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(target);
    bool printed = false;
    QObject::connect(&dialog, &QtReportWidget::printFinished, [&](bool) { printed = true; });
    longestStall = 0;
    tick.start();
    ticker.start();
    clock.start();
    dialog.printTo(printer);
    printer.reset();
    if (!QTest::qWaitFor([&] { return printed; }, 300000)) {
        std::printf("report print: not finished\n");
        return 1;
    }
    const qint64 printing = clock.elapsed();
    ticker.stop();
    QFile::remove(target);
    std::printf("report print per page: %.0f ms\n", pages ? double(printing) / pages : 0.0);
    std::printf("report print longest GUI stall: %lld ms\n", static_cast<long long>(longestStall));
    return 0;
}

// One slider step of the brightness and sharpness adjustment on dermatoscopic
// images of two sizes, at full resolution (the step as first specified) and
// on the copy at display resolution that the viewer adjusts while a slider
// moves, plus the background full-resolution adjustment after a release.
#include "dermoscopy/DermatoImageAdjuster.h"
#include "dermoscopy/ImageAdjustments.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// Skin-like tones with a smooth gradient and fine noise, as a photograph has.
QImage textured(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(42);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(random.bounded(24u));
            const int r = 150 + (x * 60) / width + n;
            const int g = 100 + (y * 50) / height + n;
            const int b = 80 + n;
            line[x] = qRgb(std::min(r, 255), std::min(g, 255), b);
        }
    }
    return image;
}

struct Figure
{
    double wallMs = 0;
    double cpuMs = 0;
};

// Medians of the wall-clock time and of the processor time the process used
// (all its threads); on a shared machine the second shows the work itself.
template <typename Step> Figure medianMs(int runs, Step step)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        const std::clock_t start = std::clock();
        timer.start();
        step();
        wall.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(double(std::clock() - start) * 1000.0 / CLOCKS_PER_SEC);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void print(const char *figure, Figure f)
{
    std::printf("%s: %.1f ms\n", figure, f.wallMs);
    std::printf("%s cpu: %.1f ms\n", figure, f.cpuMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // A pane of the maximised viewer on a 1920 by 1080 screen.
    const QSize display(1600, 1000);
    const int runs = 7;
    for (const QSize size : {QSize(2400, 1800), QSize(6000, 4000)}) {
        const QImage source = textured(size.width(), size.height());
        const QByteArray name = QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height());
        int position = 40;
        // Each step has other parameters, as a moving slider gives.
        auto step = [&](double sharpness) {
            QImage image = source;
            adjustImage(image, {adjustmentFromSlider(position++ % 100), sharpness});
        };
        print(("adjust step " + name).constData(), medianMs(runs, [&] { step(0.0); }));
        print(("adjust step " + name + " clahe").constData(), medianMs(runs, [&] { step(1.2); }));

        DermatoImageAdjuster adjuster;
        adjuster.setImage(source, display);
        const QImage shown = adjuster.displayImage();
        const QByteArray displayName =
            QByteArray::number(shown.width()) + 'x' + QByteArray::number(shown.height());
        print(
            ("adjust step " + name + " while moving (display " + displayName + ")").constData(),
            medianMs(runs, [&] { adjuster.adjustWhileMoving(adjustmentFromSlider(position++ % 100), 0.0); }));
        print(
            ("adjust step " + name + " clahe while moving (display " + displayName + ")").constData(),
            medianMs(runs, [&] { adjuster.adjustWhileMoving(adjustmentFromSlider(position++ % 100), 1.2); }));

        // After a release the full image is adjusted off the GUI thread; this
        // is the time until the result arrives, not a stall.
        const Figure release = medianMs(3, [&] {
            QEventLoop loop;
            QObject::connect(&adjuster, &DermatoImageAdjuster::fullAdjusted, &loop, &QEventLoop::quit);
            adjuster.adjustFull(adjustmentFromSlider(position++ % 100), 1.2);
            loop.exec();
        });
        print(("adjust release " + name + " clahe full image in background").constData(), release);
    }
    return 0;
}

// The longest stall of the GUI thread while a shown device clinical image
// (5472 x 3648, shown clipped to 4572 x 3648) is decoded: a 1 ms timer
// records the longest gap between its ticks while the item goes from hidden
// to placeholder to full image and the view repaints. Prints figures only;
// never fails on time.

#include "session/ClinicalPixmapItem.h"
#include "visualization/GraphicsScene.h"
#include "visualization/GraphicsView.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

// CPU time of the calling thread: on a loaded machine the wall-clock gaps
// include time the GUI thread was runnable but not scheduled, this does not.
qint64 threadCpuMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

qint64 longestBusy = 0;

QByteArray devicePicture()
{
    QImage image(5472, 3648, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient skin(0, 0, image.width(), image.height());
    skin.setColorAt(0, QColor(224, 178, 150));
    skin.setColorAt(1, QColor(170, 120, 95));
    painter.fillRect(image.rect(), skin);
    // Texture, so that the JPEG has realistic detail to decode.
    for (int y = 0; y < image.height(); y += 7)
        for (int x = (y * 13) % 11; x < image.width(); x += 11)
            image.setPixel(x, y, qRgb(150 + (x * y) % 60, 110, 90));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 92);
    return bytes;
}

// Runs the event loop until done() holds, recording the longest gap between
// ticks of a 1 ms timer; action runs from inside a tick, so its own time on
// the GUI thread counts too.
qint64 longestGap(const std::function<void()> &action, const std::function<bool()> &done, qint64 settleMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 lastCpu = threadCpuMicroseconds();
    qint64 longest = 0;
    qint64 doneAt = -1;
    bool started = false;
    QEventLoop loop;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        const qint64 cpu = threadCpuMicroseconds();
        longestBusy = std::max(longestBusy, cpu - lastCpu);
        lastCpu = cpu;
        if (!started) {
            started = true;
            action();
            return;
        }
        if (doneAt < 0 && done())
            doneAt = now;
        if (doneAt >= 0 && now - doneAt >= settleMs)
            loop.quit();
        if (now > 60000)
            loop.quit();
    });
    last = clock.elapsed();
    ticker.start();
    loop.exec();
    return longest;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QByteArray bytes = devicePicture();

    GraphicsScene scene(0, QSharedPointer<SessionVisualizer>(), nullptr);
    auto *item = new ClinicalPixmapItem(bytes, QRect(QPoint(900, 0), QPoint(5471, 3647)), QSize());
    scene.addItem(item);
    item->setOpacity(0.0);
    GraphicsView view(nullptr, GraphicsView::CloseUp, QStringLiteral("bench"));
    view.resize(1200, 900);
    view.setCurrentScene(&scene);
    view.setSceneRect(0, 0, 4572, 3648);
    view.show();
    QCoreApplication::processEvents();
    view.fitScene();

    const qint64 idle = longestGap([] {}, [] { return true; }, 500);

    longestBusy = 0;
    constexpr int rounds = 5;
    qint64 worst = 0;
    qint64 total = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer decode;
        qint64 decodeMs = 0;
        const qint64 gap = longestGap(
            [&] {
                decode.start();
                item->setOpacity(1.0);
            },
            [&] {
                if (item->hasFullImage() && decodeMs == 0)
                    decodeMs = decode.elapsed();
                return item->hasFullImage();
            },
            300);
        worst = std::max(worst, gap);
        total += decodeMs;
        // Hidden again: the large pixmap is dropped.
        longestGap([&] { item->setOpacity(0.0); }, [&] { return item->pixmap().isNull(); }, 50);
    }

    std::printf("clinical decode longest GUI stall: %lld ms\n", static_cast<long long>(worst));
    std::printf("clinical decode longest GUI thread busy: %.1f ms\n", longestBusy / 1000.0);
    std::printf("clinical decode idle longest timer gap: %lld ms\n", static_cast<long long>(idle));
    std::printf("clinical decode time to full image: %lld ms\n", static_cast<long long>(total / rounds));
    return 0;
}

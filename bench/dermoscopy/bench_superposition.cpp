// Superposition and the dermatoscopic viewer: setImages on pairs of the sizes
// the stand-in serves, opacity steps repainted in a 1920 x 1080 view, and the
// viewer of the ten 6000 x 4000 versions (time to the first pane, peak
// memory). Prints figures; never fails on time.
//
// Run under Xvfb with a 1920 x 1080 screen for the previews the viewer makes
// on such a screen:  xvfb-run -a -s "-screen 0 1920x1080x24" bench_superposition

#include "VersionsPatient.h"
#include "dermoscopy/DermatoDialogListView.h"
#include "dermoscopy/DermatoImageBudget.h"
#include "dermoscopy/QtDermatoscopicDialog.h"
#include "dermoscopy/QtImageComparisonWidget.h"
#include "dermoscopy/QtMovableListView.h"
#include "dermoscopy/SuperpositionView.h"
#include "session/DermatoscopicItemModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSlider>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

#ifdef Q_OS_LINUX
#include <time.h>
#endif

namespace {

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s: %.1f %s\n", name, value, unit);
    std::fflush(stdout);
}

double statusMiB(const char *key)
{
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith(key))
                return line.mid(int(qstrlen(key))).trimmed().split(' ').first().toDouble() / 1024.0;
#endif
    return -1;
}

void resetPeak()
{
#ifdef Q_OS_LINUX
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
#endif
}

// CPU time of the calling thread in ms: the work itself, whatever else the
// shared machine runs meanwhile (wall time is printed as well).
double threadCpuMs()
{
#ifdef Q_OS_LINUX
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
#else
    return 0;
#endif
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QImage decoded(const QByteArray &jpeg)
{
    return QImage::fromData(jpeg, "JPG");
}

// The median of five setImages on a fresh dialog each.
double setImagesMs(const QImage &a, const QImage &b)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QtImageComparisonWidget dialog;
        QElapsedTimer timer;
        timer.start();
        if (!dialog.setImages(a, b, QIcon(), QIcon()))
            return -1;
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const VersionsPatient::Loaded loaded = VersionsPatient::load();
    const SampleData &data = VersionsPatient::data();
    const std::vector<QString> ten = loaded.lesion->getDermatosopicIds().front();
    const std::vector<std::vector<QString>> twin = loaded.twin->getDermatosopicIds();

    // Pairs as the viewer hands them over: decoded JPEGs.
    const SampleData::Session *plain = data.session(101);
    const QImage usualA = decoded(
        SampleImages::jpeg(SampleImages::dermatoscopic(plain->dermatoscopic[0], QSize(2400, 1800)), 90));
    const QImage usualB = decoded(
        SampleImages::jpeg(SampleImages::dermatoscopic(plain->dermatoscopic[1], QSize(2400, 1800)), 90));
    const QImage largeA = decoded(loaded.older->getDermatoscopicBytes(ten[0]));
    const QImage largeB = decoded(loaded.older->getDermatoscopicBytes(ten[1]));
    const QImage tall = decoded(loaded.newer->getDermatoscopicBytes(twin[1].front()));
    const QImage clinicalA = SampleImages::clinical(
        *plain, plain->images[0], QSize(SampleData::clinicalWidth, SampleData::clinicalHeight));
    const QImage clinicalB =
        SampleImages::clinical(*data.session(105), data.session(105)->images[0],
                               QSize(SampleData::clinicalWidth, SampleData::clinicalHeight));
    figure("setImages 2400x1800", setImagesMs(usualA, usualB), "ms");
    figure("setImages 6000x4000", setImagesMs(largeA, largeB), "ms");
    figure("setImages 6000x4000 with 1500x2500", setImagesMs(largeA, tall), "ms");
    figure("setImages clinical 5472x3648", setImagesMs(clinicalA, clinicalB), "ms");

    // Opacity: each value set and the 1920 x 1080 view repainted at once.
    {
        QtImageComparisonWidget dialog;
        dialog.setImages(largeA, largeB, QIcon(), QIcon());
        dialog.setWindowState(Qt::WindowNoState);
        dialog.show();
        dialog.view()->setFixedSize(1920, 1080);
        QTest::qWaitForWindowExposed(&dialog);
        QTest::qWait(100);
        for (int warm = 0; warm < 3; ++warm)
            dialog.view()->viewport()->repaint();
        std::vector<double> steps;
        std::vector<double> cpu;
        for (int value = 0; value < 100; ++value) {
            QElapsedTimer timer;
            timer.start();
            const double cpuStart = threadCpuMs();
            dialog.slider()->setValue(value % 2 == 0 ? value : 100 - value);
            dialog.view()->viewport()->repaint();
            cpu.push_back(threadCpuMs() - cpuStart);
            steps.push_back(timer.nsecsElapsed() / 1e6);
        }
        figure("opacity step median", median(steps), "ms");
        figure("opacity step median CPU", median(cpu), "ms");
        figure("opacity step worst CPU", *std::max_element(cpu.begin(), cpu.end()), "ms");
        figure("opacity step worst", *std::max_element(steps.begin(), steps.end()), "ms");
    }

    // The viewer of the ten versions.
    double compressed = 0;
    for (const QString &id : ten)
        compressed += loaded.older->getDermatoscopicBytes(id).size();
    for (const auto &group : twin)
        compressed += loaded.newer->getDermatoscopicBytes(group.front()).size();
    compressed /= 1048576.0;
    const QSize bound = DermatoscopicItem::previewBound();
    figure("preview bound width", bound.width(), "px");
    figure("compressed dermatoscopic bytes", compressed, "MiB");
    const double residentBefore = statusMiB("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QtDermatoscopicDialog> dialog(QtDermatoscopicDialog::create(loaded.lesion, nullptr));
    dialog->show();
    const double built = timer.nsecsElapsed() / 1e6;
    // The ten versions on the left pane: the first pane the user sees of them.
    const DermatoscopicItemModel *model = dialog->itemModel();
    int tenRow = 0;
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->itemAt(row)->getIds().front() == ten[0])
            tenRow = row;
    const QSharedPointer<DermatoscopicItem> first = dialog->shownItem(QtDermatoscopicDialog::leftSide);
    QTest::qWaitFor([&] { return first->isPreviewLoaded(first->getCurrentVersion()); }, 60000);
    figure("viewer built", built, "ms");
    figure("viewer first pane", timer.nsecsElapsed() / 1e6, "ms");
    QTest::qWaitFor([&] { return dialog->showsFullImage(first->getIds().front(), 0); }, 60000);
    figure("viewer first pane full image", timer.nsecsElapsed() / 1e6, "ms");

    QListView *left = dialog->itemList(QtDermatoscopicDialog::leftSide);
    timer.restart();
    left->selectionModel()->setCurrentIndex(left->model()->index(tenRow, 0),
                                            QItemSelectionModel::ClearAndSelect);
    const QSharedPointer<DermatoscopicItem> versions = model->itemAt(tenRow);
    QTest::qWaitFor([&] { return versions->isPreviewLoaded(0); }, 60000);
    figure("viewer ten versions first preview", timer.nsecsElapsed() / 1e6, "ms");
    QTest::qWaitFor([&] { return dialog->showsFullImage(ten[0], 0); }, 60000);
    figure("viewer ten versions first full image", timer.nsecsElapsed() / 1e6, "ms");
    // Every version in turn on the right pane, each decoded at full size.
    QtMovableListView *list = dialog->versionList(QtDermatoscopicDialog::rightSide);
    std::vector<double> switches;
    for (int v = 0; v < 10; ++v) {
        timer.restart();
        const QModelIndex index = list->model()->index(v, 0);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
        QTest::qWaitFor([&] { return dialog->showsFullImage(ten[0], v); }, 60000);
        switches.push_back(timer.nsecsElapsed() / 1e6);
    }
    figure("viewer version to full image median", median(switches), "ms");
    const double peak = statusMiB("VmHWM:");
    figure("viewer resident before", residentBefore, "MiB");
    figure("viewer peak memory over resident before", peak - residentBefore, "MiB");
    figure("viewer peak memory bound (compressed + 400)", compressed + 400, "MiB");
    figure("viewer full images at most", DermatoImageBudget::shared()->peak(), "images");
    dialog.reset();
    return 0;
}

#include "app/ChangeSummaryFlow.h"
#include "app/LoginFlow.h"
#include "app/ScreenMetrics.h"
#include "app/SessionLoader.h"
#include "app/SplitterStateFile.h"
#include "app/kelvarisVisualizer.h"
#include "server/QtAuthDialog.h"
#include "server/ServerVisualizer.h"
#include "visualization/QtVisualizationWidgets.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/CustomMessageBox.h"
#include "widgets/CustomTitleBar.h"
#include "widgets/QtNotificationWidget.h"
#include "widgets/Trace.h"

#include <QDir>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray kFourNames = R"({"server":"demo","gui":{"names":["frontal","right","back","left"]}})";

// Runs the test in a working directory holding the given configuration file
// (or none), as the program runs in its installation folder.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QByteArray *configuration)
    {
        previous = QDir::currentPath();
        QDir(dir.path()).mkpath(QStringLiteral("matrius"));
        if (configuration) {
            QFile file(dir.filePath(QStringLiteral("matrius/configuration.json")));
            if (file.open(QIODevice::WriteOnly))
                file.write(*configuration);
        }
        QDir::setCurrent(dir.path());
    }
    ~WorkingDirectory() { QDir::setCurrent(previous); }

private:
    QTemporaryDir dir;
    QString previous;
};

template <typename T> T *child(QWidget &window, const char *name)
{
    return window.findChild<T *>(QString::fromLatin1(name));
}

QStringList namesIn(QLayout *layout)
{
    QStringList names;
    for (int i = 0; layout && i < layout->count(); ++i)
        if (QWidget *w = layout->itemAt(i)->widget())
            names << w->objectName();
    return names;
}

// Closes the first message box that appears and keeps its text.
class MessageBoxCatcher : public QObject
{
public:
    QString text;
    QString title;

    MessageBoxCatcher()
    {
        connect(&poll, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<CustomMessageBox *>(w);
                if (box && box->isVisible()) {
                    text = box->messageLabel->text();
                    for (QLabel *label : box->findChildren<QLabel *>())
                        if (label != box->messageLabel && !label->text().isEmpty())
                            title = label->text();
                    box->reject();
                    poll.stop();
                }
            }
        });
        poll.start(20);
    }

private:
    QTimer poll;
};

} // namespace

class tst_kelvarisVisualizer : public QObject
{
    Q_OBJECT

private slots:
    void frameWithConfiguration_data();
    void frameWithConfiguration();
    void topBarButtons();
    void iconSizesFollowTheScreen();
    void screenChangesAreDebounced();
    void progressBarSlots_data();
    void progressBarSlots();
    void formSlotsRunOncePerSignal();
    void invalidConfigurationExplained_data();
    void invalidConfigurationExplained();
    void invalidChangeThresholdsNamedAtLogin();
    void notificationsFromAnywhere_data();
    void notificationsFromAnywhere();
    void notificationsDoNotKeepTheProgramRunning();
    void splitterLayoutFiles_data();
    void splitterLayoutFiles();
    void looksRight();
};

void tst_kelvarisVisualizer::frameWithConfiguration_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("positions");
    QTest::newRow("standard") << kFourNames << QStringList{"frontal", "right", "back", "left"};
    QTest::newRow("other order") << QByteArray(
                                        R"({"server":"s","gui":{"names":["back","left","frontal","right"]}})")
                                 << QStringList{"back", "left", "frontal", "right"};
}

void tst_kelvarisVisualizer::frameWithConfiguration()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, positions);
    WorkingDirectory wd(&json);
    kelvarisVisualizer window;

    QVERIFY(window.configurationError().isEmpty());
    QCOMPARE(window.positionNames(), positions);
    QCOMPARE(window.objectName(), QStringLiteral("MainWindows"));
    QCOMPARE(window.windowTitle(), QStringLiteral("kelvarisVisualizer"));
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.windowState() & Qt::WindowMaximized);
    QCOMPARE(window.palette().color(QPalette::Window), QColor(28, 28, 30));

    auto *bar = qobject_cast<CustomTitleBar *>(window.menuWidget());
    QVERIFY(bar);
    QCOMPARE(bar->titleLabel->text(), QStringLiteral("Tessaline Solutions - Sovindel"));
    QVERIFY(bar->minimizeButton && bar->maximizeButton && bar->closeButton);

    auto *stacked = child<QStackedWidget>(window, "stackedWidget");
    QCOMPARE(stacked->currentIndex(), 0);
    QCOMPARE(stacked->widget(2)->objectName(), QStringLiteral("registerPage"));
    auto *fons = child<QLabel>(window, "fons");
    QVERIFY(fons);
    QCOMPARE(fons->parentWidget(), stacked->widget(0));
    QVERIFY(!fons->pixmap().isNull());
    QCOMPARE(child<QLabel>(window, "labelLogoRegisterPatient")->size(), QSize(600, 400));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Nothing of the top bar shows before the user's permissions are known.
    QVERIFY(!child<QWidget>(window, "topBarWidget")->isVisible());
    QVERIFY(!child<QWidget>(window, "labelQRcodeButton")->isVisibleTo(&window));
    QVERIFY(!child<QProgressBar>(window, "progressBar")->isVisibleTo(&window));
    // The picture follows the page: about 0.7 of its width.
    QTRY_VERIFY(std::abs(fons->pixmap().width() - int(stacked->width() * 0.7)) <= 2 ||
                fons->pixmap().height() <= int(int(0.9 * stacked->height()) * 0.7) + 1);
}

void tst_kelvarisVisualizer::topBarButtons()
{
    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;

    auto *tight = child<QWidget>(window, "widgetTopBarRight")->findChild<QHBoxLayout *>("tightLayoutTopBar");
    QCOMPARE(namesIn(tight),
             (QStringList{"setHybridViewButton", "setCompareViewButton", "setDermatosViewButton"}));
    auto *right =
        child<QWidget>(window, "widgetTopBarRight")->findChild<QHBoxLayout *>("layoutButtonsTopRight");
    QCOMPARE(namesIn(right), (QStringList{"saveSessionButton", "reportButton", "reportButton",
                                          "newPatientButton", "exitButton", "logoutButton"}));
    auto *left = child<QWidget>(window, "widgetToBarLeft")->layout();
    QCOMPARE(left->itemAt(3)->widget()->objectName(), QStringLiteral("manualButton"));
    QCOMPARE(left->itemAt(2)->widget()->objectName(), QStringLiteral("labelQRcodeButton"));

    // The two report buttons share an object name but are two buttons with two icons.
    const QList<CustomHoverButton *> reports = window.findChildren<CustomHoverButton *>("reportButton");
    QCOMPARE(reports.size(), 2);
    QVERIFY(reports[0]->normalIcon.cacheKey() != reports[1]->normalIcon.cacheKey());
    QVERIFY(reports[0]->normalIcon.pixmap(QSize(40, 40)).toImage() !=
            reports[1]->normalIcon.pixmap(QSize(40, 40)).toImage());

    auto *hybrid = child<CustomHoverButton>(window, "setHybridViewButton");
    auto *clinical = child<CustomHoverButton>(window, "setCompareViewButton");
    auto *dermo = child<CustomHoverButton>(window, "setDermatosViewButton");
    QVERIFY(hybrid->isChecked() && hybrid->isEnabled());
    QVERIFY(!clinical->isEnabled() && !dermo->isEnabled());
    // Each tool tip names the button's key.
    QCOMPARE(hybrid->toolTip(), QStringLiteral("Hybrid View (Ctrl+1)"));
    QCOMPARE(clinical->toolTip(), QStringLiteral("Clinical View (Ctrl+3)"));
    QCOMPARE(dermo->toolTip(), QStringLiteral("Dermoscopic View (Ctrl+2)"));
    // Exclusive: checking one view unchecks the others.
    clinical->setEnabled(true);
    clinical->click();
    QVERIFY(clinical->isChecked() && !hybrid->isChecked());
    QVERIFY(hybrid->icon().cacheKey() == hybrid->normalIcon.cacheKey());

    for (CustomHoverButton *button : window.findChildren<CustomHoverButton *>())
        QVERIFY2(!button->isVisibleTo(&window), qPrintable(button->objectName()));
}

void tst_kelvarisVisualizer::iconSizesFollowTheScreen()
{
    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;
    window.show();
    // The offscreen platform's screen is 800 pixels wide at ratio 1.
    QScreen *screen = window.screen();
    QCOMPARE(screen->availableSize().width(), 800);
    QCOMPARE(screen->devicePixelRatio(), 1.0);
    // By hand: buttons int(800 x 0.0078 + 20) = 26, label int(800 x 0.025) = 20,
    // legend int(800 / 128 + 30) = 36.
    QCOMPARE(window.currentButtonIconSize(), QSize(26, 26));
    const QList<CustomHoverButton *> buttons = window.findChildren<CustomHoverButton *>();
    QCOMPARE(buttons.size(), 10);
    for (CustomHoverButton *button : buttons)
        QCOMPARE(button->iconSize(), QSize(26, 26));
    QCOMPARE(child<QPushButton>(window, "labelButton")->iconSize(), QSize(20, 20));
    QCOMPARE(child<QPushButton>(window, "labelQRcodeButton")->iconSize(), QSize(26, 26));
    QCOMPARE(child<QWidget>(window, "widgetLegendTopBar")->height(), 36);
}

void tst_kelvarisVisualizer::screenChangesAreDebounced()
{
    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;
    auto *save = child<CustomHoverButton>(window, "saveSessionButton");
    const QSize right = save->iconSize();
    save->setIconSize(QSize(3, 3));

    // Each adaptation writes one "Window Changed" trace line.
    int adaptations = 0;
    const kelvaris::TraceSink previous = kelvaris::setTraceSink([&adaptations](const QString &line) {
        adaptations += line.startsWith(QLatin1String("Window Changed: "));
    });
    // A burst of changes (a window dragged across screens) adapts once, later.
    for (int i = 0; i < 3; ++i)
        window.screenChanged(window.screen());
    QCOMPARE(save->iconSize(), QSize(3, 3));
    QCOMPARE(adaptations, 0);
    QTRY_COMPARE_WITH_TIMEOUT(save->iconSize(), right, 5000);
    QCOMPARE(adaptations, 1);
    // Nothing else is pending: the debounce timer was single shot and restarted, not stacked.
    QTimer *debounce = nullptr;
    for (QTimer *timer : window.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly))
        if (timer->interval() == 200)
            debounce = timer;
    QVERIFY(debounce);
    QVERIFY(debounce->isSingleShot());
    QVERIFY(!debounce->isActive());
    kelvaris::setTraceSink(previous);
}

void tst_kelvarisVisualizer::progressBarSlots_data()
{
    // m<n> maximum, v<n> value, d all done, q<n> the upload queue holds n jobs
    QTest::addColumn<QString>("steps");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("value");
    // The bar shows exactly while jobs are queued; the slots only move it.
    QTest::newRow("maximum starts at 0") << "q1 m10" << true << 0;
    QTest::newRow("below maximum") << "q1 m10 v4" << true << 4;
    QTest::newRow("a job done, others queued") << "q2 m10 v4 v10" << true << 10;
    QTest::newRow("past maximum") << "q1 m10 v12" << true << 0; // out of range: value kept
    QTest::newRow("new maximum restarts") << "q2 m10 v10 m5" << true << 0;
    QTest::newRow("all done fills it") << "q1 m10 v3 d" << true << 10;
    QTest::newRow("queue emptied") << "q1 m3 v1 v2 q0" << false << 2;
    QTest::newRow("no jobs, no bar") << "m10 v4" << false << 4;
}

void tst_kelvarisVisualizer::progressBarSlots()
{
    QFETCH(QString, steps);
    QFETCH(bool, visible);
    QFETCH(int, value);
    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;
    window.show();
    auto *bar = child<QProgressBar>(window, "progressBar");
    child<QWidget>(window, "topBarWidget")->show();
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const int n = step.mid(1).toInt();
        switch (step.at(0).toLatin1()) {
        case 'm':
            window.setMaximumProgressBar(n);
            break;
        case 'v':
            window.setValueProgressBar(n);
            break;
        case 'd':
            window.allDoneProgressBar();
            break;
        case 'q':
            emit window.server()->uploadQueueChanged(n);
            break;
        }
    }
    QCOMPARE(bar->isVisible(), visible);
    QCOMPARE(bar->value(), value);
    QVERIFY(!bar->isTextVisible());
}

void tst_kelvarisVisualizer::formSlotsRunOncePerSignal()
{
    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;
    // By name, both overloads would answer the one click; only clicked(bool) may.
    auto *labelButton = child<QPushButton>(window, "labelButton");
    QVERIFY(!QObject::disconnect(labelButton, SIGNAL(clicked()), &window, SLOT(on_labelButton_clicked())));
    QVERIFY(
        QObject::disconnect(labelButton, SIGNAL(clicked(bool)), &window, SLOT(on_labelButton_clicked(bool))));
    // One typed character, one search; one programmatic change, one more.
    auto *search = child<QLineEdit>(window, "searchLineEdit");
    QCOMPARE(window.searchTextChangeCount(), 0);
    QTest::keyClick(search, Qt::Key_4);
    QCOMPARE(search->text(), QStringLiteral("4"));
    QCOMPARE(window.searchTextChangeCount(), 1);
    search->setText(QStringLiteral("12345 | Name"));
    QCOMPARE(window.searchTextChangeCount(), 2);
}

void tst_kelvarisVisualizer::invalidConfigurationExplained_data()
{
    QTest::addColumn<bool>("present");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("missing") << false << QByteArray() << "missing";
    QTest::newRow("not JSON") << true << QByteArray(R"({"server": "demo", "gui": )") << "offset";
    QTest::newRow("not an object") << true << QByteArray(R"(["frontal"])") << "JSON object";
}

void tst_kelvarisVisualizer::invalidConfigurationExplained()
{
    QFETCH(bool, present);
    QFETCH(QByteArray, content);
    QFETCH(QString, mentions);
    WorkingDirectory wd(present ? &content : nullptr);

    MessageBoxCatcher catcher;
    kelvarisVisualizer window;
    window.show();
    QTRY_VERIFY_WITH_TIMEOUT(!catcher.text.isEmpty(), 3000);
    QVERIFY2(catcher.text.contains(QLatin1String("./matrius/configuration.json")), qPrintable(catcher.text));
    QVERIFY2(catcher.text.contains(mentions), qPrintable(catcher.text));
    QCOMPARE(catcher.title, QStringLiteral("Configuration error"));
    QVERIFY(window.configurationError().contains(mentions));

    // Only the frame and the background page: no registration form, no top bar.
    QVERIFY(qobject_cast<CustomTitleBar *>(window.menuWidget()));
    auto *stacked = child<QStackedWidget>(window, "stackedWidget");
    QCOMPARE(stacked->currentWidget()->objectName(), QStringLiteral("page"));
    auto *fons = child<QLabel>(window, "fons");
    QVERIFY(fons && fons->isVisible());
    QVERIFY(!fons->pixmap().isNull());
    QVERIFY(!child<QWidget>(window, "registerPage")->isVisible());
    QVERIFY(!child<QPushButton>(window, "registerNewPatientButton")->isVisible());
    QVERIFY(window.findChildren<CustomHoverButton *>().isEmpty());
    QVERIFY(window.positionNames().isEmpty());
    QVERIFY(!child<QWidget>(window, "topBarWidget")->isVisible());
    QCOMPARE(window.palette().color(QPalette::Window), QColor(28, 28, 30));
    QVERIFY(window.isVisible());
    QVERIFY(window.grab().save(qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) +
                               QStringLiteral("/mainwindow-bad-configuration.png")));
    // The save flow remakes the report connections whatever the window holds.
    window.reconnectReportSignals();
    window.reportsListRecieved({});
}

void tst_kelvarisVisualizer::invalidChangeThresholdsNamedAtLogin()
{
    // One invalid setting: the program starts with its default, and the
    // login dialog says which.
    const QByteArray json = R"({"server":"demo","gui":{"names":["frontal","right","back","left"]},)"
                            R"("changeThresholds":{"relative":"a fifth","absolute":0.7}})";
    WorkingDirectory wd(&json);
    kelvarisVisualizer window;
    QVERIFY(window.configurationError().isEmpty());
    QCOMPARE(window.changeSummaryFlow()->thresholds().relative, 0.2);
    QCOMPARE(window.changeSummaryFlow()->thresholds().absolute, 0.7);
    window.show();
    QTRY_VERIFY(window.loginFlow()->dialog() && window.loginFlow()->dialog()->isVisible());
    const QString message = window.loginFlow()->dialog()->ui.errorMessage->text();
    QVERIFY2(message.contains(QLatin1String("\"changeThresholds\"")) &&
                 message.contains(QLatin1String("\"relative\"")),
             qPrintable(message));
}

void tst_kelvarisVisualizer::notificationsFromAnywhere_data()
{
    QTest::addColumn<int>("timeout");
    QTest::newRow("short, precise") << 150;
    QTest::newRow("long, coarse") << 2000;
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
}

void tst_kelvarisVisualizer::notificationsFromAnywhere()
{
    // No main window is needed: components call the static entry point.
    QFETCH(int, timeout);
    kelvarisVisualizer::showNotification(QStringLiteral("Session saved"), timeout);
    QPointer<QtNotificationWidget> shown;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *n = qobject_cast<QtNotificationWidget *>(w))
            shown = n;
    QVERIFY(shown);
    QVERIFY(shown->isVisible());
    QCOMPARE(shown->findChild<QLabel *>("messageLabel")->text(), QStringLiteral("Session saved"));
    QTRY_VERIFY_WITH_TIMEOUT(shown.isNull(),
                             std::max(0, timeout) + QtNotificationWidget::fadeDurationMs + 2000);
}

void tst_kelvarisVisualizer::notificationsDoNotKeepTheProgramRunning()
{
    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    kelvarisVisualizer::showNotification(QStringLiteral("Still on screen"), 60000);
    QPointer<QtNotificationWidget> shown;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *n = qobject_cast<QtNotificationWidget *>(w))
            shown = n;
    QVERIFY(shown && shown->isVisible());

    // Closing the main window must end the event loop at once, as in main();
    // the guard ends it only if the notification keeps the program alive.
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    bool keptRunning = false;
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, this, [&keptRunning] {
        keptRunning = true;
        QCoreApplication::quit();
    });
    guard.start(15000);
    QTimer::singleShot(0, &window, &QWidget::close);
    QApplication::exec();
    QVERIFY(!keptRunning);
    // Quitting closes the remaining windows, the notification included.
    QTRY_VERIFY(shown.isNull());
}

void tst_kelvarisVisualizer::splitterLayoutFiles_data()
{
    // The file read at start-up, as 32-bit big-endian lengths (ffffffff:
    // null) and bytes: six states of the primary view, then vertical,
    // scheme and horizontal.
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("used");
    QTest::newRow("nine states, one null")
        << QByteArray("00000002 7631 00000002 7632 00000002 7633 00000002 7634 "
                      "00000002 7635 00000002 7636 ffffffff 00000001 73 "
                      "00000001 68")
        << true;
    QTest::newRow("cut short") << QByteArray("00000002 7631 00000002 7632 00000002 7633 00000002 7634 "
                                             "00000002 7635 00000002 7636 ffffffff 00000001 73 000000")
                               << false;
}

// "splitters.cfg" is read at start-up into the primary view and the window's
// three states (in that order); the save button writes them, unchanged, to
// "splittersNew.cfg". A damaged file changes nothing.
void tst_kelvarisVisualizer::splitterLayoutFiles()
{
    QFETCH(QByteArray, hex);
    QFETCH(bool, used);
    WorkingDirectory wd(&kFourNames);
    {
        QFile file(SplitterStateFile::readFileName());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromHex(hex));
    }
    QList<QByteArray> defaults;
    {
        QFile::rename(SplitterStateFile::readFileName(), QStringLiteral("aside.cfg"));
        kelvarisVisualizer plain;
        defaults = plain.sessionLoader()->primaryView()->getSplitterStates();
        QFile::rename(QStringLiteral("aside.cfg"), SplitterStateFile::readFileName());
    }
    kelvarisVisualizer window;
    SessionLoader *loader = window.sessionLoader();
    const QByteArray *states = loader->splitterStates();
    if (used) {
        QCOMPARE(loader->primaryView()->getSplitterStates(),
                 (QList<QByteArray>{"v1", "v2", "v3", "v4", "v5", "v6"}));
        QVERIFY(states[0].isNull());
        QCOMPARE(states[1], QByteArray("s"));
        QCOMPARE(states[2], QByteArray("h"));
    } else {
        QCOMPARE(loader->primaryView()->getSplitterStates(), defaults);
        QVERIFY(states[0].isEmpty() && states[1].isEmpty() && states[2].isEmpty());
    }
    QVERIFY(!QFile::exists(SplitterStateFile::writtenFileName()));
    window.saveSessionButton_clicked();
    QFile written(SplitterStateFile::writtenFileName());
    QVERIFY(written.open(QIODevice::ReadOnly));
    if (used)
        QCOMPARE(written.readAll(), QByteArray::fromHex(hex));
    else
        QCOMPARE(SplitterStateFile::decode(written.readAll())->size(), defaults.size() + 3);
}

void tst_kelvarisVisualizer::looksRight()
{
    const QString source = qEnvironmentVariable("KELVARIS_SOURCE_DIR");
    QFile sheet(source + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));

    WorkingDirectory wd(&kFourNames);
    kelvarisVisualizer window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The background follows the page once it is laid out.
    auto *fons = child<QLabel>(window, "fons");
    auto *page = child<QWidget>(window, "page");
    QTRY_VERIFY(std::abs(fons->pixmap().width() - int(page->width() * 0.7)) <= 2 ||
                std::abs(fons->pixmap().height() - int(int(0.9 * page->height()) * 0.7)) <= 2);
    const QImage image = window.grab().toImage();
    QVERIFY(image.save(qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) +
                       QStringLiteral("/mainwindow.png")));

    // The title bar is a darker strip than the window background.
    const int barHeight = window.menuWidget()->height();
    QVERIFY(barHeight >= 32);
    QCOMPARE(image.pixelColor(image.width() / 2, barHeight / 2), QColor(0x14, 0x14, 0x16));
    QCOMPARE(image.pixelColor(5, image.height() - 5), QColor(28, 28, 30));
    QCOMPARE(image.pixelColor(image.width() - 5, barHeight + 20), QColor(28, 28, 30));
    // The background picture sits in the middle, in the accent colour.
    int accent = 0;
    for (int y = image.height() / 3; y < 2 * image.height() / 3; ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            accent += c.red() > 240 && c.green() > 200 && c.green() < 230 && c.blue() > 180 && c.blue() < 210;
        }
    QVERIFY2(accent > 500, qPrintable(QString::number(accent)));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_kelvarisVisualizer)
#include "tst_mainwindow.moc"

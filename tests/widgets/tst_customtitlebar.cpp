#include "widgets/CustomTitleBar.h"

#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

namespace {

// A mouse event at a global position, as the window system would deliver it.
void sendMouse(QWidget *target, QEvent::Type type, const QPoint &global, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, QPointF(target->mapFromGlobal(global)), QPointF(global), button, held,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QList<QPushButton *> windowButtons(const CustomTitleBar *bar)
{
    QList<QPushButton *> buttons = bar->findChildren<QPushButton *>();
    std::sort(buttons.begin(), buttons.end(), [bar](QPushButton *a, QPushButton *b) {
        return a->mapTo(bar, QPoint()).x() < b->mapTo(bar, QPoint()).x();
    });
    return buttons;
}

} // namespace

class tst_CustomTitleBar : public QObject
{
    Q_OBJECT

private slots:
    void buttonsFollowWindowFlags_data();
    void buttonsFollowWindowFlags();
    void titleAndObjectNames();
    void buttonsActOnTheirWindow();
    void doubleClickTogglesMaximized();
    void dragMovesWithLeftButtonOnly_data();
    void dragMovesWithLeftButtonOnly();
};

void tst_CustomTitleBar::buttonsFollowWindowFlags_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("withParent");
    QTest::addColumn<QStringList>("expected");

    const QStringList all{"minimizeButton", "maximizeButton", "closeButton"};
    const QStringList closeOnly{"closeButton"};
    QTest::newRow("main window") << int(Qt::Window | Qt::FramelessWindowHint) << true << all;
    QTest::newRow("dialog") << int(Qt::Dialog | Qt::FramelessWindowHint) << true << closeOnly;
    QTest::newRow("tool window") << int(Qt::Tool) << true << closeOnly;
    QTest::newRow("splash screen") << int(Qt::SplashScreen) << true << closeOnly;
    QTest::newRow("popup") << int(Qt::Popup) << true << all;
    QTest::newRow("no parent") << 0 << false << all;
}

void tst_CustomTitleBar::buttonsFollowWindowFlags()
{
    QFETCH(int, flags);
    QFETCH(bool, withParent);
    QFETCH(QStringList, expected);

    QWidget window(nullptr, Qt::WindowFlags(flags));
    CustomTitleBar *bar = new CustomTitleBar(QStringLiteral("Title"), withParent ? &window : nullptr);
    std::unique_ptr<CustomTitleBar> owned(withParent ? nullptr : bar);

    QStringList names;
    for (QPushButton *button : windowButtons(bar))
        names << button->objectName();
    QCOMPARE(names, expected);
    for (QPushButton *button : windowButtons(bar))
        QCOMPARE(button->size(), QSize(32, 32));
}

void tst_CustomTitleBar::titleAndObjectNames()
{
    QMainWindow window;
    auto *bar = new CustomTitleBar(QStringLiteral("A <b>title</b>"), &window);
    auto *title = bar->findChild<QLabel *>(QStringLiteral("titleLabelBar"));
    QVERIFY(title);
    QCOMPARE(title->text(), QStringLiteral("A <b>title</b>"));
    QCOMPARE(title->textFormat(), Qt::PlainText);
    QVERIFY(!bar->iconLabel->pixmap().isNull());
    QCOMPARE(bar->iconLabel->pixmap().size(), QSize(16, 16));
}

void tst_CustomTitleBar::buttonsActOnTheirWindow()
{
    QMainWindow window;
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    auto *bar = new CustomTitleBar(QStringLiteral("Title"), &window);
    window.setMenuWidget(bar);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    bar->maximizeButton->click();
    QTRY_VERIFY(window.isMaximized());
    bar->maximizeButton->click();
    QTRY_VERIFY(!window.isMaximized());
    bar->minimizeButton->click();
    QTRY_VERIFY(window.isMinimized());
    window.showNormal();
    bar->closeButton->click();
    QTRY_VERIFY(!window.isVisible());
}

void tst_CustomTitleBar::doubleClickTogglesMaximized()
{
    // Also on a dialog, which has no maximise button.
    QDialog dialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&dialog);
    auto *bar = new CustomTitleBar(QStringLiteral("Dialog"), &dialog);
    layout->addWidget(bar);
    dialog.resize(400, 300);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    QTRY_VERIFY(dialog.isMaximized());
    QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(100, 10));
    QTRY_VERIFY(!dialog.isMaximized());
    QTest::mouseDClick(bar, Qt::RightButton, Qt::NoModifier, QPoint(100, 10));
    QTest::qWait(50);
    QVERIFY(!dialog.isMaximized());
}

void tst_CustomTitleBar::dragMovesWithLeftButtonOnly_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("travel");
    QTest::addColumn<QPoint>("expectedMove");
    QTest::newRow("left") << int(Qt::LeftButton) << QPoint(40, 25) << QPoint(40, 25);
    QTest::newRow("left, up and back") << int(Qt::LeftButton) << QPoint(-15, -30) << QPoint(-15, -30);
    QTest::newRow("right") << int(Qt::RightButton) << QPoint(40, 25) << QPoint(0, 0);
    QTest::newRow("middle") << int(Qt::MiddleButton) << QPoint(40, 25) << QPoint(0, 0);
}

void tst_CustomTitleBar::dragMovesWithLeftButtonOnly()
{
    QFETCH(int, button);
    QFETCH(QPoint, travel);
    QFETCH(QPoint, expectedMove);

    QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
    auto *layout = new QVBoxLayout(&window);
    auto *bar = new CustomTitleBar(QStringLiteral("Drag me"), &window);
    layout->addWidget(bar);
    layout->addStretch();
    window.setGeometry(200, 200, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint start = window.pos();

    const auto b = Qt::MouseButton(button);
    const QPoint press = bar->mapToGlobal(QPoint(120, 12));
    sendMouse(bar, QEvent::MouseButtonPress, press, b, b);
    // The window follows the cursor's travel since the press, in any number of steps.
    sendMouse(bar, QEvent::MouseMove, press + travel / 2, Qt::NoButton, b);
    sendMouse(bar, QEvent::MouseMove, press + travel, Qt::NoButton, b);
    sendMouse(bar, QEvent::MouseButtonRelease, press + travel, b, Qt::NoButton);
    QCOMPARE(window.pos() - start, expectedMove);

    // After the release, moving does nothing.
    const QPoint after = window.pos();
    sendMouse(bar, QEvent::MouseMove, press + QPoint(60, 60), Qt::NoButton, Qt::NoButton);
    QCOMPARE(window.pos(), after);
}

QTEST_MAIN(tst_CustomTitleBar)
#include "tst_customtitlebar.moc"

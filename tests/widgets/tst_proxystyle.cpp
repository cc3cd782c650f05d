#include "widgets/MyProxyStyle.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QStyleFactory>
#include <QTest>

class tst_MyProxyStyle : public QObject
{
    Q_OBJECT

private slots:
    void answersLikeItsBase_data();
    void answersLikeItsBase();
    void neverTakesOverTheApplicationStyle_data();
    void neverTakesOverTheApplicationStyle();
};

void tst_MyProxyStyle::answersLikeItsBase_data()
{
    QTest::addColumn<int>("hint");
    QTest::newRow("menu bar alt key") << int(QStyle::SH_MenuBar_AltKeyNavigation);
    QTest::newRow("combo popup") << int(QStyle::SH_ComboBox_Popup);
    QTest::newRow("tool tip delay") << int(QStyle::SH_ToolTip_WakeUpDelay);
    QTest::newRow("dialog buttons") << int(QStyle::SH_DialogButtonLayout);
    QTest::newRow("scroll bar middle click") << int(QStyle::SH_ScrollBar_MiddleClickAbsolutePosition);
}

void tst_MyProxyStyle::answersLikeItsBase()
{
    QFETCH(int, hint);
    QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion"));
    QVERIFY(fusion);
    const int expected = fusion->styleHint(QStyle::StyleHint(hint));
    MyProxyStyle proxy(fusion);
    QCOMPARE(proxy.baseStyle(), fusion);
    QCOMPARE(proxy.styleHint(QStyle::StyleHint(hint)), expected);
}

void tst_MyProxyStyle::neverTakesOverTheApplicationStyle_data()
{
    QTest::addColumn<bool>("withStyleSheet");
    QTest::newRow("plain application") << false;
    QTest::newRow("with a style sheet") << true;
}

void tst_MyProxyStyle::neverTakesOverTheApplicationStyle()
{
    // A proxy owns and re-parents its base. Wrapping the application's style
    // (as a window wrapping "its current style" does) must leave that style
    // where it was, or destroying the proxy destroys the application's style.
    QFETCH(bool, withStyleSheet);
    qApp->setStyleSheet(withStyleSheet ? QStringLiteral("QPushButton { color: red; }") : QString());
    QWidget window;
    QStyle *current = window.style();
    QPointer<QStyle> guard(current);
    QObject *parentBefore = current->parent();
    const QStyle *proxyBefore = current->proxy();
    {
        MyProxyStyle proxy(current);
        QCOMPARE(current->parent(), parentBefore);
        QCOMPARE(current->proxy(), proxyBefore);
        QVERIFY(proxy.baseStyle() != current);
        window.setStyle(&proxy);
        QPushButton button(QStringLiteral("OK"), &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.setStyle(nullptr);
    }
    // Still alive and usable after the proxy is gone.
    QVERIFY(!guard.isNull());
    QCOMPARE(current->parent(), parentBefore);
    QPushButton later(QStringLiteral("Later"));
    later.show();
    QVERIFY(later.sizeHint().isValid());
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_MyProxyStyle)
#include "tst_proxystyle.moc"

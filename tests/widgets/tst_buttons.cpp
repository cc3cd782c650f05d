#include "widgets/ButtonContainer.h"
#include "widgets/CustomHoverButton.h"
#include "widgets/DoubleClickButton.h"

#include <QEnterEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QSignalSpy>
#include <QTest>

namespace {

void hover(QWidget *w)
{
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), w->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(w, &enter);
}

void leave(QWidget *w)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(w, &event);
}

bool shows(const QPushButton &button, const QIcon &icon)
{
    return button.icon().cacheKey() == icon.cacheKey();
}

// The colour of the icon's most opaque pixel.
QColor glyphColour(const QIcon &icon)
{
    const QImage image = icon.pixmap(icon.availableSizes().value(0)).toImage();
    QColor best(Qt::transparent);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() > best.alpha())
                best = image.pixelColor(x, y);
    return best;
}

} // namespace

class tst_Buttons : public QObject
{
    Q_OBJECT

private slots:
    void hoverButtonRecolourMode();
    void hoverButtonTwoFileMode();
    void hoverButtonIcons_data();
    void hoverButtonIcons();
    void doubleClickSignalsBeforeTheToggle();
    void doubleClickWithOtherButtonsIsSilent();
    void captionsDropBelowTheirShare_data();
    void captionsDropBelowTheirShare();
    void containerWithoutButtonsIsLeftAlone();
    void topBarButtonsLookRight();
};

void tst_Buttons::hoverButtonRecolourMode()
{
    CustomHoverButton button(QStringLiteral(":/icon/save"), QString(), QSize(20, 20));
    QCOMPARE(button.normalIcon.availableSizes().value(0), QSize(40, 40));
    const QColor rest = glyphColour(button.normalIcon);
    QCOMPARE(rest.rgb(), QColor(255, 218, 195).rgb());
    QCOMPARE(glyphColour(button.hoverIcon).rgb(), QColor(0, 0, 0).rgb());
    QVERIFY(shows(button, button.normalIcon));
}

void tst_Buttons::hoverButtonTwoFileMode()
{
    // Two files with their own colours: the accent arrow, then the accent chip.
    CustomHoverButton button(QStringLiteral(":/topBarIcons/returnC"), QStringLiteral(":/icon/return"),
                             QSize(20, 20));
    const QImage rest = button.normalIcon.pixmap(QSize(40, 40)).toImage();
    const QImage hovered = button.hoverIcon.pixmap(QSize(40, 40)).toImage();
    QCOMPARE(qAlpha(rest.pixel(3, 3)), 0);
    QCOMPARE(hovered.pixelColor(3, 20).rgb(), QColor(255, 218, 195).rgb());
}

void tst_Buttons::hoverButtonIcons_data()
{
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("steps");    // e enter, l leave, c check, u uncheck
    QTest::addColumn<QString>("expected"); // n normal, h hover, after each step

    QTest::newRow("hover and leave") << false << true << "el"
                                     << "hn";
    QTest::newRow("checked keeps hover icon on leave") << true << true << "ecl"
                                                       << "hhh";
    QTest::newRow("unchecking shows normal at once") << true << true << "cu"
                                                     << "hn";
    QTest::newRow("unchecking while hovered") << true << true << "ecu"
                                              << "hhn";
    QTest::newRow("checked without hover") << true << true << "cl"
                                           << "hh";
    QTest::newRow("disabled ignores hover") << false << false << "el"
                                            << "nn";
    QTest::newRow("disabled still follows check") << true << false << "ceu"
                                                  << "hhn";
}

void tst_Buttons::hoverButtonIcons()
{
    QFETCH(bool, checkable);
    QFETCH(bool, enabled);
    QFETCH(QString, steps);
    QFETCH(QString, expected);

    CustomHoverButton button(QStringLiteral(":/icon/iconHybrid"), QString(), QSize(34, 34));
    button.setCheckable(checkable);
    button.setEnabled(enabled);
    button.show();
    for (int i = 0; i < steps.size(); ++i) {
        switch (steps.at(i).toLatin1()) {
        case 'e':
            hover(&button);
            break;
        case 'l':
            leave(&button);
            break;
        case 'c':
            button.setChecked(true);
            break;
        case 'u':
            button.setChecked(false);
            break;
        }
        const QIcon &want = expected.at(i) == QLatin1Char('h') ? button.hoverIcon : button.normalIcon;
        QVERIFY2(shows(button, want), qPrintable(QStringLiteral("after step %1").arg(i + 1)));
    }
}

void tst_Buttons::doubleClickSignalsBeforeTheToggle()
{
    DoubleClickButton button(QIcon(), QStringLiteral("Detected"));
    QCOMPARE(button.fullText, QStringLiteral("Detected"));
    button.setCheckable(true);
    button.show();
    QVERIFY(QTest::qWaitForWindowExposed(&button));

    QList<bool> stateAtSignal;
    connect(&button, &DoubleClickButton::doubleClicked, &button,
            [&] { stateAtSignal << button.isChecked(); });
    QSignalSpy toggled(&button, &QPushButton::toggled);

    // A real double click: a click, then the double-click press and its release.
    const QPoint at = button.rect().center();
    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, at);
    QVERIFY(button.isChecked());
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(at), QPointF(button.mapToGlobal(at)), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &dbl);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), QPointF(button.mapToGlobal(at)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&button, &release);
    QCOMPARE(stateAtSignal.size(), 1);
    QCOMPARE(stateAtSignal.first(), true);
    // The double click's own press toggles the button once more after the signal.
    QCOMPARE(button.isChecked(), !stateAtSignal.first());
    QVERIFY(toggled.count() >= 1);
    QCOMPARE(toggled.last().first().toBool(), button.isChecked());
}

void tst_Buttons::doubleClickWithOtherButtonsIsSilent()
{
    DoubleClickButton button;
    QVERIFY(button.fullText.isEmpty());
    button.show();
    QSignalSpy spy(&button, &DoubleClickButton::doubleClicked);
    QTest::mouseDClick(&button, Qt::RightButton);
    QTest::mouseDClick(&button, Qt::MiddleButton);
    QCOMPARE(spy.count(), 0);
}

void tst_Buttons::captionsDropBelowTheirShare_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("share");
    QTest::addColumn<bool>("captions");
    for (int n : {1, 6}) {
        for (int share : {60, 109, 110, 111, 250}) {
            QTest::addRow("%d buttons, share %d", n, share) << n << share << (share >= 110);
        }
    }
}

void tst_Buttons::captionsDropBelowTheirShare()
{
    QFETCH(int, buttons);
    QFETCH(int, share);
    QFETCH(bool, captions);

    ButtonContainer container;
    QCOMPARE(container.objectName(), QStringLiteral("widgetLegendTopBar"));
    const QStringList names{"Detected", "Captured", "Exeresis", "Follow up", "Custom 1", "Custom 2"};
    for (int i = 0; i < buttons; ++i) {
        auto *button = new DoubleClickButton(QIcon(), names.at(i), &container);
        container.buttons.append(button);
        container.layout->addWidget(button);
    }
    const QMargins m = container.layout->contentsMargins();
    const int width = share * buttons + m.left() + m.right() + container.layout->spacing() * (buttons - 1);
    container.show();

    auto check = [&](bool expectCaptions) {
        for (int i = 0; i < buttons; ++i)
            if (container.buttons.at(i)->text() != (expectCaptions ? names.at(i) : QString()))
                return false;
        return true;
    };
    // Start from the opposite state, so the resize has to change something.
    container.resize(captions ? 40 : 2000, 60);
    QVERIFY(check(!captions));
    container.resize(width, 60);
    QVERIFY2(check(captions), qPrintable(QStringLiteral("width %1").arg(width)));
    // And back: every caption returns, or drops, together.
    container.resize(captions ? 40 : 2000, 60);
    QVERIFY(check(!captions));
}

void tst_Buttons::containerWithoutButtonsIsLeftAlone()
{
    ButtonContainer container;
    auto *stray = new DoubleClickButton(QIcon(), QStringLiteral("Not listed"), &container);
    container.layout->addWidget(stray);
    container.show();
    container.resize(30, 30);
    QCOMPARE(stray->text(), QStringLiteral("Not listed"));
}

void tst_Buttons::topBarButtonsLookRight()
{
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));

    QWidget bar;
    bar.setObjectName(QStringLiteral("topBarWidget"));
    bar.setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QHBoxLayout(&bar);
    QList<CustomHoverButton *> buttons;
    for (const char *icon :
         {":/icon/iconHybrid", ":/icon/iconCompare", ":/icon/iconDermatoCompare", ":/icon/save",
          ":/icon/iconReportList", ":/icon/iconReport", ":/icon/addPatient", ":/icon/logout"}) {
        auto *button = new CustomHoverButton(QString::fromLatin1(icon), QString(), QSize(34, 34));
        button->setIconSize(QSize(34, 34));
        button->setCheckable(true);
        layout->addWidget(button);
        buttons << button;
    }
    auto *exit = new CustomHoverButton(QStringLiteral(":/topBarIcons/returnC"),
                                       QStringLiteral(":/icon/return"), QSize(34, 34));
    exit->setIconSize(QSize(34, 34));
    layout->addWidget(exit);
    buttons[0]->setChecked(true);
    buttons[2]->setEnabled(false);
    bar.show();
    // Hovered: the glyph turns black (the accent background comes from the
    // style sheet's :hover, which needs a real pointer).
    hover(buttons[3]);
    hover(exit);

    const QImage image = bar.grab().toImage();
    QVERIFY(image.save(qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) +
                       QStringLiteral("/hoverbuttons.png")));
    // Checked: accent background behind a black glyph. At rest: the panel shows through.
    const QPoint checkedCorner = buttons[0]->geometry().topLeft() + QPoint(4, buttons[0]->height() / 2);
    QCOMPARE(image.pixelColor(checkedCorner), QColor(255, 218, 195));
    QCOMPARE(glyphColour(QIcon(buttons[0]->icon())).rgb(), QColor(Qt::black).rgb());
    const QPoint restCorner = buttons[1]->geometry().topLeft() + QPoint(4, buttons[1]->height() / 2);
    QCOMPARE(image.pixelColor(restCorner), QColor(33, 33, 36));
    QCOMPARE(glyphColour(QIcon(buttons[3]->icon())).rgb(), QColor(Qt::black).rgb());
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_Buttons)
#include "tst_buttons.moc"

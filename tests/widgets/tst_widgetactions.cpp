#include "widgets/DoubleClickButton.h"
#include "widgets/QButtonAction.h"
#include "widgets/QToolButtonAction.h"

#include <QButtonGroup>
#include <QSignalSpy>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

class tst_WidgetActions : public QObject
{
    Q_OBJECT

private slots:
    void buttonCopyMirrorsTemplate_data();
    void buttonCopyMirrorsTemplate();
    void buttonCopyDrivesTemplate();
    void buttonCopyFollowsExclusiveGroup();
    void buttonActionWithoutTemplateMakesNothing();
    void toolButtonCopyMirrorsAndDrives();
    void toolButtonIconSizeReachesEveryCopy();
    void hiddenToolButtonActionMakesNoWidget();
    void copiesOutliveTheirTemplate();
};

namespace {

struct ButtonActionFixture
{
    QToolBar first;
    QToolBar second;
    QButtonAction *action = nullptr;
    DoubleClickButton *templateButton = nullptr;

    explicit ButtonActionFixture(bool checkable = true)
    {
        action = new QButtonAction(&first);
        templateButton =
            new DoubleClickButton(QIcon(QStringLiteral(":/icon/filter")), QStringLiteral("Detected"));
        templateButton->setObjectName(QStringLiteral("ButtonFilter"));
        templateButton->setCheckable(checkable);
        templateButton->setIconSize(QSize(27, 27));
        action->templateButton = templateButton;
        action->setDefaultWidget(templateButton);
        first.addAction(action);
    }

    DoubleClickButton *addCopy()
    {
        second.addAction(action);
        const QList<DoubleClickButton *> copies = second.findChildren<DoubleClickButton *>();
        return copies.isEmpty() ? nullptr : copies.last();
    }
};

} // namespace

void tst_WidgetActions::buttonCopyMirrorsTemplate_data()
{
    QTest::addColumn<bool>("checkable");
    QTest::addColumn<bool>("initiallyChecked");
    QTest::newRow("checkable, unchecked") << true << false;
    QTest::newRow("checkable, checked") << true << true;
    QTest::newRow("plain") << false << false;
}

void tst_WidgetActions::buttonCopyMirrorsTemplate()
{
    QFETCH(bool, checkable);
    QFETCH(bool, initiallyChecked);
    ButtonActionFixture f(checkable);
    f.templateButton->setChecked(initiallyChecked);
    DoubleClickButton *copy = f.addCopy();
    QVERIFY(copy);
    QVERIFY(copy != f.templateButton);
    QCOMPARE(copy->text(), QStringLiteral("Detected"));
    QCOMPARE(copy->fullText, QStringLiteral("Detected"));
    QCOMPARE(copy->objectName(), QStringLiteral("ButtonFilter"));
    QCOMPARE(copy->iconSize(), QSize(27, 27));
    QCOMPARE(copy->isCheckable(), checkable);
    QCOMPARE(copy->isChecked(), initiallyChecked);
    if (checkable) {
        f.templateButton->setChecked(!initiallyChecked);
        QCOMPARE(copy->isChecked(), !initiallyChecked);
        f.templateButton->toggle();
        QCOMPARE(copy->isChecked(), initiallyChecked);
    }
}

void tst_WidgetActions::buttonCopyDrivesTemplate()
{
    ButtonActionFixture f;
    DoubleClickButton *copy = f.addCopy();
    QVERIFY(copy);
    QSignalSpy clicked(f.templateButton, &QPushButton::clicked);
    QSignalSpy doubleClicked(f.templateButton, &DoubleClickButton::doubleClicked);

    copy->click();
    QCOMPARE(clicked.count(), 1);
    QVERIFY(f.templateButton->isChecked());
    QVERIFY(copy->isChecked());

    emit copy->doubleClicked();
    QCOMPARE(doubleClicked.count(), 1);
}

void tst_WidgetActions::buttonCopyFollowsExclusiveGroup()
{
    // In an exclusive group a click on the checked template leaves it checked;
    // the copy, which toggled itself off, must come back on.
    ButtonActionFixture f;
    auto *other = new DoubleClickButton(QIcon(), QStringLiteral("Other"), &f.first);
    other->setCheckable(true);
    QButtonGroup group;
    group.setExclusive(true);
    group.addButton(f.templateButton);
    group.addButton(other);
    f.templateButton->setChecked(true);
    DoubleClickButton *copy = f.addCopy();
    QVERIFY(copy->isChecked());

    copy->click();
    QVERIFY(f.templateButton->isChecked());
    QVERIFY(copy->isChecked());

    other->click();
    QVERIFY(!f.templateButton->isChecked());
    QVERIFY(!copy->isChecked());
}

void tst_WidgetActions::buttonActionWithoutTemplateMakesNothing()
{
    QToolBar first;
    QToolBar second;
    auto *action = new QButtonAction(&first);
    auto *fallback = new DoubleClickButton(QIcon(), QStringLiteral("Default"));
    action->setDefaultWidget(fallback);
    first.addAction(action);
    second.addAction(action);
    QVERIFY(second.findChildren<DoubleClickButton *>().isEmpty());
}

void tst_WidgetActions::toolButtonCopyMirrorsAndDrives()
{
    QToolBar first;
    QToolBar second;
    auto *action = new QToolButtonAction(&first);
    auto *templateButton = new QToolButton();
    templateButton->setObjectName(QStringLiteral("basic"));
    templateButton->setIcon(QIcon(QStringLiteral(":/icon/edit")));
    templateButton->setIconSize(QSize(30, 30));
    templateButton->setCheckable(true);
    templateButton->setChecked(true);
    action->templateButton = templateButton;
    action->setDefaultWidget(templateButton);
    first.addAction(action);
    second.addAction(action);

    const QList<QToolButton *> copies = second.findChildren<QToolButton *>(QStringLiteral("basic"));
    QCOMPARE(copies.size(), 1);
    QToolButton *copy = copies.first();
    QVERIFY(copy != templateButton);
    QCOMPARE(copy->iconSize(), QSize(30, 30));
    QVERIFY(copy->isCheckable());
    QVERIFY(copy->isChecked());

    QSignalSpy clicked(templateButton, &QToolButton::clicked);
    copy->click();
    QCOMPARE(clicked.count(), 1);
    QVERIFY(!templateButton->isChecked());
    QVERIFY(!copy->isChecked());
    templateButton->setChecked(true);
    QVERIFY(copy->isChecked());
}

void tst_WidgetActions::toolButtonIconSizeReachesEveryCopy()
{
    QToolBar bars[3];
    auto *action = new QToolButtonAction(&bars[0]);
    auto *templateButton = new QToolButton();
    templateButton->setObjectName(QStringLiteral("zoomInButton"));
    action->templateButton = templateButton;
    action->setDefaultWidget(templateButton);
    for (QToolBar &bar : bars)
        bar.addAction(action);

    action->setIconSize(QSize(19, 19));
    QCOMPARE(templateButton->iconSize(), QSize(19, 19));
    int copies = 0;
    for (QToolBar &bar : bars) {
        for (QToolButton *button : bar.findChildren<QToolButton *>(QStringLiteral("zoomInButton"))) {
            QCOMPARE(button->iconSize(), QSize(19, 19));
            ++copies;
        }
    }
    QCOMPARE(copies, 3);
}

void tst_WidgetActions::hiddenToolButtonActionMakesNoWidget()
{
    struct Probe : QToolButtonAction
    {
        using QToolButtonAction::createWidget;
        using QToolButtonAction::QToolButtonAction;
    };
    QWidget container;
    Probe action(nullptr);
    auto *templateButton = new QToolButton();
    templateButton->setObjectName(QStringLiteral("pair"));
    action.templateButton = templateButton;
    action.setDefaultWidget(templateButton);

    std::unique_ptr<QWidget> made(action.createWidget(&container));
    QVERIFY(made);
    QCOMPARE(made->objectName(), QStringLiteral("pair"));
    made.reset();
    action.setVisible(false);
    QCOMPARE(action.createWidget(&container), nullptr);
}

void tst_WidgetActions::copiesOutliveTheirTemplate()
{
    // A template destroyed before its action leaves no dangling pointer
    // behind: the copies stay usable and new containers get nothing.
    ButtonActionFixture f;
    DoubleClickButton *copy = f.addCopy();
    QVERIFY(copy);
    delete f.templateButton;
    QVERIFY(f.action->templateButton.isNull());
    copy->click();
    QToolBar third;
    third.addAction(f.action);
    QVERIFY(third.findChildren<DoubleClickButton *>().isEmpty());
}

QTEST_MAIN(tst_WidgetActions)
#include "tst_widgetactions.moc"

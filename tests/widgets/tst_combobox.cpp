#include "widgets/CustomComboBox.h"

#include <QAbstractItemView>
#include <QTest>

namespace {

QImage look(CustomComboBox &box)
{
    // Only the box itself, without the popup window.
    return box.grab().toImage();
}

} // namespace

class tst_CustomComboBox : public QObject
{
    Q_OBJECT

private slots:
    void sheetsFollowThePopup_data();
    void sheetsFollowThePopup();
    void lettersAreDistinct();
};

void tst_CustomComboBox::sheetsFollowThePopup_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("changesWhenOpen");
    QTest::newRow("stand-alone") << 0 << true;
    QTest::newRow("left end") << 1 << true;
    QTest::newRow("middle piece") << 2 << false;
    QTest::newRow("other value") << 7 << true;
    QTest::newRow("negative") << -1 << true;
}

void tst_CustomComboBox::sheetsFollowThePopup()
{
    QFETCH(int, position);
    QFETCH(bool, changesWhenOpen);

    CustomComboBox box(position);
    box.addItems({QStringLiteral("Session 12 - 2024-03-07"), QStringLiteral("Session 13 - 2024-09-02")});
    box.resize(220, 40);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.styleSheet(), box.closedStyleSheet);
    QVERIFY(!box.closedStyleSheet.isEmpty());
    const QImage closed = look(box);

    box.showPopup();
    QCOMPARE(box.styleSheet(), box.openStyleSheet);
    QTRY_VERIFY(box.view()->isVisible());
    const QImage open = look(box);
    QCOMPARE(open != closed, changesWhenOpen);

    box.hidePopup();
    QCOMPARE(box.styleSheet(), box.closedStyleSheet);
    QCOMPARE(look(box), closed);

    // A pair assigned later is used the same way.
    box.openStyleSheet = CustomComboBox::styleSheetById('D');
    box.closedStyleSheet = CustomComboBox::styleSheetById('C');
    box.showPopup();
    QCOMPARE(box.styleSheet(), CustomComboBox::styleSheetById('D'));
    box.hidePopup();
    QCOMPARE(box.styleSheet(), CustomComboBox::styleSheetById('C'));
}

void tst_CustomComboBox::lettersAreDistinct()
{
    QStringList sheets;
    for (char id : {'A', 'B', 'C', 'D', 'E', 'F', 'G'}) {
        const QString sheet = CustomComboBox::styleSheetById(id);
        QVERIFY(sheet.startsWith(QLatin1String("CustomComboBox {")));
        QVERIFY(sheet.endsWith(QLatin1Char('}')));
        QVERIFY(!sheets.contains(sheet));
        sheets << sheet;
    }
    QVERIFY(CustomComboBox::styleSheetById('H').isEmpty());
}

QTEST_MAIN(tst_CustomComboBox)
#include "tst_combobox.moc"

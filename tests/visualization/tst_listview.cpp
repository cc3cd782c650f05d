// The lesion list: row painting, the sort and filter controls, the label
// menu, hover and marker requests, and the highlighted row, which must never
// frame a lesion other than the one selected.

#include "session/LesionListFixture.h"

#include "visualization/CustomDelegate.h"
#include "visualization/ItemDelegate.h"
#include "visualization/ListView.h"
#include "widgets/DoubleClickButton.h"

#include <QButtonGroup>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace SessionTestSupport;

namespace {

QStringList idsOf(const QAbstractItemModel *model)
{
    QStringList ids;
    for (int row = 0; model && row < model->rowCount(); ++row)
        ids << LesionsModel::lesionOf(model->index(row, 0))->getLesionIdText();
    return ids;
}

QImage thumbnail(const QColor &colour)
{
    QImage image(300, 200, QImage::Format_RGB32);
    image.fill(colour);
    QPainter painter(&image);
    painter.setBrush(colour.darker(170));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRect(100, 50, 100, 100));
    return image;
}

void sendMove(QWidget *viewport, const QPoint &pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, viewport->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

} // namespace

class tst_ListView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void setUpAcceptsEverything();
    void rowPainting_data();
    void rowPainting();
    void screenshot();
    void sortControls_data();
    void sortControls();
    void highlightClearedByUserChange_data();
    void highlightClearedByUserChange();
    void highlightFollowsItsLesionWhenRowsMove();
    void unchangedFilterKeepsHighlight();
    void modelsReplacedForANewSession();
    void positionFilterButtons_data();
    void positionFilterButtons();
    void doubleClickUnchecksWithoutFiltering();
    void labelMenu();
    void labelsFromTheLegend();
    void hoverEmitsOncePerRow();
    void markerRequests();

private:
    QModelIndex indexOf(const QString &idText) const;
    QSharedPointer<SessionVisualizer> m_session;
    ListView *m_list = nullptr;
};

void tst_ListView::initTestCase()
{
    // The program's look, so that the screenshots show what a user sees.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + "/resources/styleSheet.qss");
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
}

void tst_ListView::init()
{
    m_session = makeSession(LesionListFixture::document());
    m_session->setPrincipalSession(true);
    m_list = new ListView();
    m_list->setSession(m_session);
    m_list->resetModels();
    const QColor colours[] = {QColor(190, 120, 90), QColor(160, 110, 80), QColor(200, 150, 120),
                              QColor(140, 90, 70)};
    int i = 0;
    for (const auto &lesion : LesionListFixture::lesionsInOrder(*m_session)) {
        lesion->setIcon(thumbnail(colours[i++ % 4]));
        m_list->addLesion(lesion);
    }
    m_list->setUpModels();
}

void tst_ListView::cleanup()
{
    delete m_list;
    m_list = nullptr;
    m_session->releaseHistoricLinks();
    m_session.reset();
}

QModelIndex tst_ListView::indexOf(const QString &idText) const
{
    const QAbstractItemModel *proxy = m_list->getProxyModel();
    for (int row = 0; row < proxy->rowCount(); ++row) {
        const QModelIndex index = proxy->index(row, 0);
        if (LesionsModel::lesionOf(index)->getLesionIdText() == idText)
            return index;
    }
    return QModelIndex();
}

void tst_ListView::setUpAcceptsEverything()
{
    QCOMPARE(m_list->model(), m_list->getProxyModel());
    QCOMPARE(m_list->viewMode(), QListView::IconMode);
    QCOMPARE(m_list->getProxyModel()->getAcceptedPositions(), QList<int>({-1, 0, 1, 2, 3, 4, 5}));
    QCOMPARE(m_list->getProxyModel()->getAcceptedLabels(),
             QStringList({"Detected", "Captured", "Exeresis", "Follow up", "Custom 1", "Custom 2"}));
    QCOMPARE(m_list->getProxyModel()->getUpperSizeBound(), 1000);
    QCOMPARE(m_list->model()->rowCount(), 8);
}

void tst_ListView::rowPainting_data()
{
    QTest::addColumn<QString>("lesion");
    QTest::addColumn<QString>("label"); // empty: the lesion loses its label
    QTest::addColumn<bool>("hovered");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("highlightedRow"); // -1: no highlight; 0: this row
    QTest::addColumn<bool>("labelFrame");
    QTest::addColumn<bool>("whiteFrame");
    QTest::addColumn<bool>("hoverFill");
    QTest::newRow("at rest: frame in the label colour")
        << "1_1"
        << "Exeresis" << false << false << -1 << true << false << false;
    QTest::newRow("no label: icon only") << "1_1"
                                         << "" << false << false << -1 << false << false << false;
    QTest::newRow("hovered") << "1_1"
                             << "Exeresis" << true << false << -1 << true << false << true;
    QTest::newRow("hovered and highlighted: white frame, no fill")
        << "1_1"
        << "Exeresis" << true << false << 0 << true << true << false;
    QTest::newRow("another row highlighted") << "1_1"
                                             << "Exeresis" << false << false << 5 << true << false << false;
    QTest::newRow("selected: no selection background")
        << "1_1"
        << "Exeresis" << false << true << -1 << true << false << false;
}

void tst_ListView::rowPainting()
{
    QFETCH(QString, lesion);
    QFETCH(QString, label);
    QFETCH(bool, hovered);
    QFETCH(bool, selected);
    QFETCH(int, highlightedRow);
    QFETCH(bool, labelFrame);
    QFETCH(bool, whiteFrame);
    QFETCH(bool, hoverFill);

    QModelIndex index = indexOf(lesion);
    QVERIFY(index.isValid());
    LesionsModel::lesionOf(index)->setLabel(label);
    index = indexOf(lesion);
    m_list->setHighlightedRow(highlightedRow == 0 ? index.row() : highlightedRow);
    if (highlightedRow < 0)
        m_list->clearHighlight();

    auto *delegate = qobject_cast<ItemDelegate *>(m_list->itemDelegate());
    QVERIFY(delegate);
    QImage canvas(200, 150, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QStyleOptionViewItem option;
    option.initFrom(m_list->viewport());
    option.rect = QRect(10, 10, 180, 130);
    option.decorationSize = QSize(60, 40);
    option.decorationPosition = QStyleOptionViewItem::Top;
    option.state = QStyle::State_Enabled;
    if (hovered)
        option.state |= QStyle::State_MouseOver;
    if (selected)
        option.state |= QStyle::State_Selected;
    option.palette.setColor(QPalette::Highlight, QColor(0, 0, 255));
    {
        QPainter painter(&canvas);
        delegate->paint(&painter, option, index);
    }
    canvas.save(screenshotPath(QStringLiteral("listview_row_%1.png")
                                   .arg(QTest::currentDataTag())
                                   .replace(QRegularExpression("[^A-Za-z0-9_.]+"), "_")));

    const QRect r = option.rect;
    const int midY = r.center().y();
    // The label frame: 3 pixels wide around left + 4.
    const QColor frame = canvas.pixelColor(r.left() + 4, midY);
    if (labelFrame)
        QCOMPARE(frame, QColor("#D17B74"));
    else
        QCOMPARE(frame.rgb() == QColor("#D17B74").rgb(), false);
    // The white frame: 4 pixels wide around left + 1.
    QCOMPARE(canvas.pixelColor(r.left() + 1, midY) == QColor(Qt::white), whiteFrame);
    // Below the icon only the hover fill (grey at alpha 50 over black) can show.
    const QColor fill = canvas.pixelColor(r.left() + 30, r.bottom() - 20);
    if (hoverFill)
        QVERIFY2(fill.red() >= 20 && fill.red() <= 30 && fill.blue() == fill.red(), qPrintable(fill.name()));
    else
        QCOMPARE(fill, QColor(Qt::black));
}

void tst_ListView::screenshot()
{
    m_list->resize(760, 330);
    m_list->setIconSize(QSize(150, 100));
    m_list->setGridSize(QSize(180, 150));
    m_list->setHighlightedRow(indexOf("1_1").row());
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list));
    const QImage shot = m_list->grab().toImage();
    QVERIFY(shot.save(screenshotPath("listview_rows.png")));

    const QPoint offset = m_list->viewport()->mapTo(m_list, QPoint(0, 0));
    const QRect highlighted = m_list->visualRect(indexOf("1_1")).translated(offset);
    const QRect captured = m_list->visualRect(indexOf("0_1")).translated(offset);
    QVERIFY(!highlighted.isEmpty());
    QCOMPARE(shot.pixelColor(highlighted.left() + 1, highlighted.center().y()), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(highlighted.left() + 4, highlighted.center().y()), QColor("#D17B74"));
    QCOMPARE(shot.pixelColor(captured.left() + 4, captured.center().y()), QColor("#9DBF9E"));
    QVERIFY(shot.pixelColor(captured.left() + 1, captured.center().y()) != QColor(Qt::white));
}

void tst_ListView::sortControls_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("position") << "buttonSortPosition" << false
                              << QStringList{"0_1", "0_2", "1_1", "1_5", "2_2", "2_4", "3_7", "4_3"};
    QTest::newRow("label") << "buttonSortLabel" << false
                           << QStringList{"0_1", "1_5", "3_7", "4_3", "0_2", "2_4", "1_1", "2_2"};
    QTest::newRow("priority") << "buttonSortPriority" << false
                              << QStringList{"0_2", "1_5", "2_2", "4_3", "0_1", "2_4", "1_1", "3_7"};
    QTest::newRow("priority, direction on")
        << "buttonSortPriority" << true
        << QStringList{"1_1", "3_7", "4_3", "0_1", "2_4", "0_2", "1_5", "2_2"};
}

void tst_ListView::sortControls()
{
    QFETCH(QString, button);
    QFETCH(bool, descending);
    QFETCH(QStringList, expected);
    QPushButton direction;
    direction.setCheckable(true);
    QButtonGroup group;
    for (const char *name : {"buttonSortPosition", "buttonSortLabel", "buttonSortPriority"}) {
        auto *b = new QPushButton(&direction);
        b->setObjectName(name);
        b->setCheckable(true);
        group.addButton(b);
    }
    m_list->connectSortControls(&direction, &group);
    group.buttons().at(0)->setChecked(true);
    for (QAbstractButton *b : group.buttons()) {
        if (b->objectName() == button)
            b->click();
    }
    if (descending)
        direction.click();
    QCOMPARE(idsOf(m_list->model()), expected);
    // Switching the direction back gives the ascending order again.
    if (descending) {
        direction.click();
        QCOMPARE(idsOf(m_list->model()).first(), QStringLiteral("0_2"));
    }
}

void tst_ListView::highlightClearedByUserChange_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("re-sort") << "sort";
    QTest::newRow("position filter") << "positions";
    QTest::newRow("size filter") << "sizes";
    QTest::newRow("label filter") << "labels";
    QTest::newRow("label menu row clicked") << "menu";
}

void tst_ListView::highlightClearedByUserChange()
{
    QFETCH(QString, change);
    QScopedPointer<QToolButton> filterButton(m_list->createLabelFilterButton(QSize(20, 20), nullptr));
    m_list->setHighlightedRow(indexOf("1_5").row());
    QVERIFY(m_list->isHighlighted());
    QSignalSpy cleared(m_list, &ListView::highlightCleared);

    if (change == "sort")
        m_list->reSort(LesionsModel::PriorityRole, false);
    else if (change == "positions")
        m_list->setPositionFilter({1, 2});
    else if (change == "sizes")
        m_list->setSizeFilter(5, 8);
    else if (change == "labels")
        m_list->setLabelFilter({"Captured", "Exeresis"});
    else
        m_list->getLabelFilterList()->item(2)->setData(CustomDelegate::CheckRole, int(Qt::Unchecked));

    // The lesion 1_5 is still listed in every case, but possibly on another row.
    QVERIFY(indexOf("1_5").isValid());
    QVERIFY(!m_list->isHighlighted());
    QCOMPARE(m_list->getHighlightedRow(), -1);
    QCOMPARE(cleared.size(), 1);
}

void tst_ListView::highlightFollowsItsLesionWhenRowsMove()
{
    m_list->reSort(LesionsModel::LabelRole, false);
    m_list->setHighlightedRow(indexOf("2_2").row());
    QCOMPARE(m_list->getHighlightedRow(), 7);
    QSignalSpy cleared(m_list, &ListView::highlightCleared);

    // Relabelled "Captured", 2_2 moves up to row 2; the frame moves with it.
    LesionsModel::lesionOf(indexOf("2_2"))->setLabel("Captured");
    QCOMPARE(idsOf(m_list->model()).mid(0, 3), QStringList({"0_1", "1_5", "2_2"}));
    QVERIFY(m_list->isHighlighted());
    QCOMPARE(m_list->getHighlightedRow(), 2);

    // A row above it goes: the highlight stays on 2_2.
    emit LesionsModel::lesionOf(indexOf("0_1"))->requestDeletion();
    QCOMPARE(m_list->getHighlightedRow(), 1);
    QCOMPARE(LesionsModel::lesionOf(m_list->model()->index(1, 0))->getLesionIdText(), QStringLiteral("2_2"));

    // The highlighted lesion itself goes: nothing is highlighted.
    emit LesionsModel::lesionOf(indexOf("2_2"))->requestDeletion();
    QVERIFY(!m_list->isHighlighted());
    QCOMPARE(cleared.size(), 0);
}

void tst_ListView::unchangedFilterKeepsHighlight()
{
    m_list->setHighlightedRow(3);
    QSignalSpy cleared(m_list, &ListView::highlightCleared);
    m_list->setPositionFilter({-1, 0, 1, 2, 3, 4, 5});
    m_list->setSizeFilter(0, 1000);
    m_list->setLabelFilter(LesionVisualizer::labelNames());
    QVERIFY(m_list->isHighlighted());
    QCOMPARE(m_list->getHighlightedRow(), 3);
    QCOMPARE(cleared.size(), 0);
}

void tst_ListView::modelsReplacedForANewSession()
{
    QPointer<LesionsModel> oldModel = m_list->getLesionsModel();
    QPointer<MultiRoleFilterProxyModel> oldProxy = m_list->getProxyModel();
    QPointer<QItemSelectionModel> oldSelection = m_list->selectionModel();
    m_list->setHighlightedRow(2);
    const auto next = makeSession(LesionListFixture::document(), 7, 12);
    next->setPrincipalSession(true);
    m_list->setSession(next);
    m_list->resetModels();
    QVERIFY(!m_list->isHighlighted());
    QCOMPARE(m_list->getProxyModel()->getUpperSizeBound(), 1000);
    const auto lesions = LesionListFixture::lesionsInOrder(*next);
    m_list->addLesion(lesions.front());
    m_list->addLesion(lesions.back());
    m_list->addLesion(lesions.back());
    m_list->setUpModels();
    QCOMPARE(idsOf(m_list->model()), QStringList({"4_3", "3_7"}));
    QTRY_VERIFY(!oldModel && !oldProxy && !oldSelection);
    // The old session's lesions no longer reach the list.
    QSignalSpy selected(m_list, &ListView::itemSelected);
    m_list->selectLesion(LesionListFixture::lesionsInOrder(*m_session).front(), true);
    QCOMPARE(selected.size(), 0);
    next->releaseHistoricLinks();
}

void tst_ListView::positionFilterButtons_data()
{
    QTest::addColumn<QStringList>("checked");
    QTest::addColumn<QList<int>>("positions");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("only External") << QStringList{"External"} << QList<int>{-1} << QStringList{"4_3"};
    QTest::newRow("frontal and back")
        << QStringList{"frontal", "back"} << QList<int>{0, 2} << QStringList{"0_1", "0_2", "2_4", "2_2"};
    QTest::newRow("a name the session lacks adds nothing")
        << QStringList{"arms", "left"} << QList<int>{3} << QStringList{"3_7"};
    QTest::newRow("none") << QStringList{} << QList<int>{} << QStringList{};
}

void tst_ListView::positionFilterButtons()
{
    QFETCH(QStringList, checked);
    QFETCH(QList<int>, positions);
    QFETCH(QStringList, expected);
    QWidget bar;
    QButtonGroup group;
    group.setExclusive(false);
    for (const char *name : {"frontal", "right", "back", "left", "arms", "External"}) {
        auto *button = new DoubleClickButton(&bar);
        button->setProperty("positionName", QString::fromLatin1(name));
        button->setCheckable(true);
        button->setChecked(true);
        group.addButton(button);
    }
    m_list->connectPositionFilter(&group);
    // Set every state but the last without signals, then click the last.
    const QList<QAbstractButton *> buttons = group.buttons();
    for (QAbstractButton *button : buttons)
        button->setChecked(checked.contains(button->property("positionName").toString()));
    QAbstractButton *last = buttons.last();
    last->setChecked(!last->isChecked());
    last->click();
    QCOMPARE(m_list->getProxyModel()->getAcceptedPositions(), positions);
    QCOMPARE(idsOf(m_list->model()), expected);
}

void tst_ListView::doubleClickUnchecksWithoutFiltering()
{
    QWidget bar;
    QButtonGroup group;
    group.setExclusive(false);
    QList<DoubleClickButton *> buttons;
    for (const char *name : {"frontal", "External"}) {
        auto *button = new DoubleClickButton(&bar);
        button->setProperty("positionName", QString::fromLatin1(name));
        button->setCheckable(true);
        button->setChecked(true);
        group.addButton(button);
        buttons << button;
    }
    m_list->connectPositionFilter(&group);
    emit buttons.first()->doubleClicked();
    QVERIFY(!buttons.at(0)->isChecked());
    QVERIFY(!buttons.at(1)->isChecked());
    QCOMPARE(m_list->model()->rowCount(), 8);
}

void tst_ListView::labelMenu()
{
    QScopedPointer<QToolButton> button(m_list->createLabelFilterButton(QSize(20, 20), nullptr));
    QCOMPARE(button->objectName(), QStringLiteral("filterButton"));
    QCOMPARE(button->popupMode(), QToolButton::InstantPopup);
    QVERIFY(button->menu());
    QCOMPARE(button->menu()->objectName(), QStringLiteral("menuFilter"));
    QListWidget *rows = m_list->getLabelFilterList();
    QVERIFY(rows);
    QCOMPARE(rows->parentWidget()->objectName(), QStringLiteral("widgetMenuFilter"));
    QStringList texts;
    for (int i = 0; i < rows->count(); ++i) {
        texts << rows->item(i)->text();
        QCOMPARE(rows->item(i)->data(CustomDelegate::CheckRole).toInt(), 2);
    }
    QCOMPARE(texts, QStringList({"Captured", "Exeresis", "Follow up", "Custom 1", "Custom 2"}));

    button->menu()->popup(QPoint(0, 0));
    QVERIFY(QTest::qWaitForWindowExposed(button->menu()));
    QVERIFY(rows->grab().save(screenshotPath("listview_label_menu_all.png")));

    // A click on "Captured" unchecks it; as the menu has no "Detected" row,
    // the Detected lesions go too.
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, rows->visualItemRect(rows->item(0)).center());
    QCOMPARE(rows->item(0)->data(CustomDelegate::CheckRole).toInt(), 0);
    QCOMPARE(idsOf(m_list->model()), QStringList({"4_3", "1_1", "2_2", "3_7"}));
    QVERIFY(rows->grab().save(screenshotPath("listview_label_menu_captured_off.png")));

    // A second click checks it again; any other value counts as unchecked.
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, rows->visualItemRect(rows->item(0)).center());
    QCOMPARE(rows->item(0)->data(CustomDelegate::CheckRole).toInt(), 2);
    rows->item(1)->setData(CustomDelegate::CheckRole, 1);
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, rows->visualItemRect(rows->item(1)).center());
    QCOMPARE(rows->item(1)->data(CustomDelegate::CheckRole).toInt(), 2);

    for (int i = 0; i < rows->count(); ++i)
        rows->item(i)->setData(CustomDelegate::CheckRole, 0);
    QCOMPARE(m_list->model()->rowCount(), 0);
}

void tst_ListView::labelsFromTheLegend()
{
    QScopedPointer<QToolButton> button(m_list->createLabelFilterButton(QSize(20, 20), nullptr));
    m_list->setLabelsShown(
        {{"Exeresis", false}, {"Custom 2", false}, {"Detected", false}, {"Captured", true}});
    QListWidget *rows = m_list->getLabelFilterList();
    QCOMPARE(rows->item(0)->data(CustomDelegate::CheckRole).toInt(), 2);
    QCOMPARE(rows->item(1)->data(CustomDelegate::CheckRole).toInt(), 0);
    QCOMPARE(rows->item(4)->data(CustomDelegate::CheckRole).toInt(), 0);
    QCOMPARE(m_list->getProxyModel()->getAcceptedLabels(),
             QStringList({"Captured", "Follow up", "Custom 1"}));
    QCOMPARE(idsOf(m_list->model()), QStringList({"0_1", "1_5", "2_2", "3_7"}));
}

void tst_ListView::hoverEmitsOncePerRow()
{
    m_list->resize(760, 330);
    m_list->setIconSize(QSize(150, 100));
    m_list->setGridSize(QSize(180, 150));
    m_list->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_list));
    QSignalSpy focus(m_list, &ListView::elementFocus);
    const QRect first = m_list->visualRect(m_list->model()->index(0, 0));
    const QRect second = m_list->visualRect(m_list->model()->index(1, 0));
    sendMove(m_list->viewport(), first.center());
    sendMove(m_list->viewport(), first.center() + QPoint(3, 2));
    sendMove(m_list->viewport(), first.center() + QPoint(-4, 1));
    QCOMPARE(focus.size(), 1);
    QCOMPARE(focus.at(0).at(0).toModelIndex().row(), 0);
    sendMove(m_list->viewport(), second.center());
    QCOMPARE(focus.size(), 2);
    QCOMPARE(focus.at(1).at(0).toModelIndex().row(), 1);
    sendMove(m_list->viewport(), first.center());
    QCOMPARE(focus.size(), 3);
}

void tst_ListView::markerRequests()
{
    m_list->reSort(LesionsModel::SortKeyRole, false);
    QSignalSpy selected(m_list, &ListView::itemSelected);
    QSignalSpy hovered(m_list, &ListView::generalElementMouseOver);
    const auto lesion = LesionsModel::lesionOf(indexOf("1_5"));

    m_list->selectLesion(lesion, true);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.at(0).at(0).toModelIndex().row(), 3);
    m_list->selectLesion(lesion, false);
    QCOMPARE(hovered.size(), 1);
    QCOMPARE(hovered.at(0).at(0).toModelIndex().row(), 3);

    // A lesion filtered out of the list, or of an older session, asks nothing here.
    m_list->setPositionFilter({0});
    m_list->selectLesion(lesion, true);
    m_session->setPrincipalSession(false);
    m_list->setPositionFilter({1});
    m_list->selectLesion(lesion, true);
    m_list->selectLesion(QSharedPointer<LesionVisualizer>(), true);
    QCOMPARE(selected.size(), 1);
    QCOMPARE(hovered.size(), 1);
}

QTEST_MAIN(tst_ListView)
#include "tst_listview.moc"

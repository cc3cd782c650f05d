// The item models over sessions and lesions, and the lesion filter: the role
// values the views read, row updates and removals, filtering by position,
// label and size, and sorting by the roles the lesion list sorts on.

#include "session/LesionListFixture.h"

#include "session/CustomIconSessionProxyModel.h"
#include "session/DermatoscopicItemModel.h"
#include "session/LesionsModel.h"
#include "session/MultiRoleFilterProxyModel.h"
#include "session/SessionsModel.h"

#include <QSignalSpy>
#include <QtTest>

using namespace SessionTestSupport;

namespace {

QStringList idsOf(const QAbstractItemModel &model)
{
    QStringList ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids << LesionsModel::lesionOf(model.index(row, 0))->getLesionIdText();
    return ids;
}

// The colour of the most opaque pixel of an icon's pixmap for a mode and state.
QColor markColour(const QIcon &icon, QIcon::Mode mode, QIcon::State state)
{
    const QImage image =
        icon.pixmap(QSize(80, 80), mode, state).toImage().convertToFormat(QImage::Format_ARGB32);
    QColor best(0, 0, 0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > best.alpha())
                best = c;
        }
    }
    return best;
}

// The stand-in's listing of a session whose dermatoscopic images are all in
// and whose one clinical image is still to come.
QJsonDocument listingWithClinicalPending()
{
    return QJsonDocument(QJsonObject{
        {"dermatos", QJsonArray()},
        {"generals",
         QJsonArray{QJsonObject{{"name", "0_0_0_0_0_0"}, {"url", "https://127.0.0.1/x?quality=h"}}}}});
}

} // namespace

class tst_ItemModels : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void lesionRoles_data();
    void lesionRoles();
    void invalidIndexes();
    void updateBecomesDataChangedForItsRow();
    void deletionRemovesTheRowFromEveryModel();
    void filter_data();
    void filter();
    void sort_data();
    void sort();
    void relabelReSorts();
    void sessionRoles();
    void disabledSessionCannotBeSelected();
    void downloadedMark();
    void onlyDermatosNeeded();
    void clearRemovesEveryRowAtOnce();
    void dermatoscopicInsertionByDate_data();
    void dermatoscopicInsertionByDate();
    void dermatoscopicRolesAndUpdates();

private:
    QSharedPointer<SessionVisualizer> m_session;
    LesionsModel *m_model = nullptr;
};

void tst_ItemModels::init()
{
    m_session = makeSession(LesionListFixture::document());
    m_model = new LesionsModel(this);
    for (const auto &lesion : LesionListFixture::lesionsInOrder(*m_session))
        m_model->addItem(lesion);
}

void tst_ItemModels::cleanup()
{
    delete m_model;
    m_model = nullptr;
    if (m_session)
        m_session->releaseHistoricLinks();
    m_session.reset();
}

void tst_ItemModels::lesionRoles_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<qint64>("sortKey");
    QTest::addColumn<int>("priority");
    QTest::addColumn<QString>("label");
    QTest::addColumn<double>("size");
    QTest::addColumn<int>("position");
    QTest::newRow("external 3 after every device position")
        << 0 << qint64(10003) << 2 << "Custom 2" << 2.0 << -1;
    QTest::newRow("frontal 1") << 1 << qint64(1) << 2 << "Captured" << 3.2 << 0;
    QTest::newRow("back 4 marked by hand") << 5 << qint64(2004) << 2 << "Detected" << -1.0 << 2;
    QTest::newRow("left 7") << 7 << qint64(3007) << 3 << "Custom 1" << 5.0 << 3;
}

void tst_ItemModels::lesionRoles()
{
    QFETCH(int, row);
    QFETCH(qint64, sortKey);
    QFETCH(int, priority);
    QFETCH(QString, label);
    QFETCH(double, size);
    QFETCH(int, position);
    const QModelIndex index = m_model->index(row, 0);
    QCOMPARE(index.data(257).toLongLong(), sortKey);
    QCOMPARE(index.data(258).toInt(), priority);
    QCOMPARE(index.data(259).toString(), label);
    QCOMPARE(index.data(260).toDouble(), size);
    QCOMPARE(index.data(262).toInt(), position);
    const auto lesion = index.data(261).value<QSharedPointer<LesionVisualizer>>();
    QVERIFY(lesion);
    QCOMPARE(m_model->indexOf(lesion), index);
    QCOMPARE(m_model->roleNames().value(257), QByteArray("Name"));
    QCOMPARE(m_model->roleNames().value(262), QByteArray("Position"));
}

void tst_ItemModels::invalidIndexes()
{
    QVERIFY(!m_model->data(QModelIndex(), 257).isValid());
    QVERIFY(!m_model->data(m_model->index(8, 0), 257).isValid());
    QVERIFY(!m_model->index(0, 0).data(Qt::DisplayRole).isValid());
    QVERIFY(!m_model->index(0, 0).data(263).isValid());
    QVERIFY(!m_model->indexOf(QSharedPointer<LesionVisualizer>()).isValid());
    // A lesion of another model is not found.
    const auto other = makeSession(LesionListFixture::document(), 7, 12);
    QVERIFY(!m_model->indexOf(LesionListFixture::lesionsInOrder(*other).front()).isValid());
}

void tst_ItemModels::updateBecomesDataChangedForItsRow()
{
    const auto lesion = m_model->lesionAt(3);
    QSignalSpy changed(m_model, &QAbstractItemModel::dataChanged);
    QSignalSpy layout(m_model, &QAbstractItemModel::layoutChanged);
    lesion->setPriority(1);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex().row(), 3);
    QCOMPARE(changed.at(0).at(1).toModelIndex().row(), 3);
    QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{LesionsModel::PriorityRole});
    QCOMPARE(layout.size(), 1);
    QCOMPARE(m_model->index(3, 0).data(258).toInt(), 1);
}

void tst_ItemModels::deletionRemovesTheRowFromEveryModel()
{
    LesionsModel second;
    const auto lesions = LesionListFixture::lesionsInOrder(*m_session);
    for (const auto &lesion : lesions)
        second.addItem(lesion);
    emit lesions[4]->requestDeletion();
    QCOMPARE(m_model->rowCount(), 7);
    QCOMPARE(second.rowCount(), 7);
    QVERIFY(!m_model->indexOf(lesions[4]).isValid());
    QCOMPARE(idsOf(*m_model), QStringList({"4_3", "0_1", "0_2", "1_1", "2_4", "2_2", "3_7"}));
    // A second request for the same lesion changes nothing.
    emit lesions[4]->requestDeletion();
    QCOMPARE(m_model->rowCount(), 7);
}

void tst_ItemModels::filter_data()
{
    QTest::addColumn<QList<int>>("positions");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::addColumn<QStringList>("expected");
    const QList<int> allPositions{-1, 0, 1, 2, 3, 4, 5};
    const QStringList allLabels = LesionVisualizer::labelNames();
    QTest::newRow("everything") << allPositions << allLabels << 0 << 1000
                                << QStringList{"4_3", "0_1", "0_2", "1_1", "1_5", "2_4", "2_2", "3_7"};
    QTest::newRow("size 5..8: 4.9 out, 5.0 and 8.0 in, -1 always")
        << allPositions << allLabels << 5 << 8 << QStringList{"1_1", "1_5", "2_4", "2_2", "3_7"};
    QTest::newRow("hand-marked Detected on back passes 5..8")
        << QList<int>{2} << QStringList{"Detected"} << 5 << 8 << QStringList{"2_4"};
    QTest::newRow("only External") << QList<int>{-1} << allLabels << 0 << 1000 << QStringList{"4_3"};
    QTest::newRow("labels of the menu (no Detected)")
        << allPositions << QStringList{"Captured", "Exeresis", "Follow up", "Custom 1", "Custom 2"} << 0
        << 1000 << QStringList{"4_3", "0_1", "1_1", "1_5", "2_2", "3_7"};
    QTest::newRow("labels are case-sensitive")
        << allPositions << QStringList{"captured", "Follow Up"} << 0 << 1000 << QStringList{};
    QTest::newRow("no label accepted") << allPositions << QStringList{} << 0 << 1000 << QStringList{};
    QTest::newRow("no position accepted") << QList<int>{} << allLabels << 0 << 1000 << QStringList{};
    QTest::newRow("empty interval") << allPositions << allLabels << 0 << 0 << QStringList{"2_4"};
}

void tst_ItemModels::filter()
{
    QFETCH(QList<int>, positions);
    QFETCH(QStringList, labels);
    QFETCH(int, lower);
    QFETCH(int, upper);
    QFETCH(QStringList, expected);
    MultiRoleFilterProxyModel proxy;
    proxy.setSourceModel(m_model);
    proxy.setAcceptedPositions(positions);
    proxy.setAcceptedLabels(labels);
    proxy.setLowerSizeBound(lower);
    proxy.setUpperSizeBound(upper);
    proxy.refilter();
    QCOMPARE(idsOf(proxy), expected);
}

void tst_ItemModels::sort_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("257 position and number")
        << 257 << false << QStringList{"0_1", "0_2", "1_1", "1_5", "2_2", "2_4", "3_7", "4_3"};
    QTest::newRow("257 descending") << 257 << true
                                    << QStringList{"4_3", "3_7", "2_4", "2_2", "1_5", "1_1", "0_2", "0_1"};
    // Equal priorities keep the model's order in both directions.
    QTest::newRow("258 priority") << 258 << false
                                  << QStringList{"0_2", "1_5", "2_2", "4_3", "0_1", "2_4", "1_1", "3_7"};
    QTest::newRow("258 descending") << 258 << true
                                    << QStringList{"1_1", "3_7", "4_3", "0_1", "2_4", "0_2", "1_5", "2_2"};
    QTest::newRow("259 label text") << 259 << false
                                    << QStringList{"0_1", "1_5", "3_7", "4_3", "0_2", "2_4", "1_1", "2_2"};
}

void tst_ItemModels::sort()
{
    QFETCH(int, role);
    QFETCH(bool, descending);
    QFETCH(QStringList, expected);
    MultiRoleFilterProxyModel proxy;
    proxy.setSourceModel(m_model);
    proxy.setAcceptedPositions({-1, 0, 1, 2, 3});
    proxy.setAcceptedLabels(LesionVisualizer::labelNames());
    proxy.setSortRole(role);
    proxy.sort(0, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    QCOMPARE(idsOf(proxy), expected);
}

void tst_ItemModels::relabelReSorts()
{
    MultiRoleFilterProxyModel proxy;
    proxy.setSourceModel(m_model);
    proxy.setAcceptedPositions({-1, 0, 1, 2, 3});
    proxy.setAcceptedLabels(LesionVisualizer::labelNames());
    proxy.setSortRole(LesionsModel::LabelRole);
    proxy.sort(0);
    m_model->lesionAt(1)->setLabel("Follow up"); // 0_1 was "Captured"
    QCOMPARE(idsOf(proxy), QStringList({"1_5", "3_7", "4_3", "0_2", "2_4", "1_1", "0_1", "2_2"}));
}

void tst_ItemModels::sessionRoles()
{
    SessionsModel model;
    const auto principal = makeSession(LesionListFixture::document(), 7, 11);
    principal->setPrincipalSession(true);
    const auto older = makeSession(LesionListFixture::document(), 7, 12);
    model.addItem(principal);
    model.addItem(older);
    QCOMPARE(model.rowCount(), 2);
    const QModelIndex first = model.index(0, 0);
    QCOMPARE(first.data(Qt::DisplayRole).toString(), QStringLiteral("07/03/2024"));
    QCOMPARE(first.data(257).toString(), QStringLiteral("07/03/2024"));
    QCOMPARE(first.data(32).toBool(), false);
    QCOMPARE(model.index(1, 0).data(32).toBool(), true);
    QCOMPARE(first.data(258).value<QSharedPointer<SessionVisualizer>>(), principal);
    QVERIFY(!first.data(259).isValid());
    QVERIFY(!model.index(2, 0).data(258).isValid());
    QCOMPARE(model.roleNames(), (QHash<int, QByteArray>{{257, "Name"}, {258, "Item"}}));
}

void tst_ItemModels::disabledSessionCannotBeSelected()
{
    SessionsModel model;
    const auto session = makeSession(LesionListFixture::document());
    model.addItem(session);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    session->setEnabled(false);
    QCOMPARE(model.flags(model.index(0, 0)), Qt::NoItemFlags);
    session->setEnabled(true);
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsSelectable);
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsEnabled);
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed.at(1).at(2).value<QList<int>>(), QList<int>{32});
}

void tst_ItemModels::downloadedMark()
{
    const QIcon three = SessionsModel::downloadedMark(QSize(40, 40), true);
    QCOMPARE(markColour(three, QIcon::Normal, QIcon::On), QColor(255, 255, 255));
    QCOMPARE(markColour(three, QIcon::Disabled, QIcon::On), QColor(125, 125, 125));
    QCOMPARE(markColour(three, QIcon::Disabled, QIcon::Off), QColor(125, 125, 125));
    // Rendered at twice the size asked for.
    QCOMPARE(three.availableSizes(QIcon::Normal, QIcon::On), QList<QSize>{QSize(80, 80)});

    const QIcon plain = SessionsModel::downloadedMark(QSize(40, 40), false);
    QCOMPARE(markColour(plain, QIcon::Normal, QIcon::Off), QColor(255, 255, 255));
    QVERIFY(plain.availableSizes(QIcon::Disabled, QIcon::Off).isEmpty());
}

void tst_ItemModels::onlyDermatosNeeded()
{
    SessionsModel model;
    const auto session = makeSession(LesionListFixture::document());
    model.addItem(session);
    CustomIconSessionProxyModel proxy;
    proxy.setSourceModel(&model);
    session->sessionDownloadReply(listingWithClinicalPending(), true);
    QTRY_VERIFY(session->areDermatosDownloaded());
    QVERIFY(!session->isDownloaded());

    // While the clinical images are coming the session shows the plain mark...
    auto icon = proxy.index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    QVERIFY(icon.availableSizes(QIcon::Disabled, QIcon::Off).isEmpty());
    // ...unless only its dermatoscopic images matter.
    QSignalSpy proxyChanged(&proxy, &QAbstractItemModel::dataChanged);
    QVERIFY(proxy.setProperty("onlyDermatosNeeded", 1));
    QCOMPARE(proxy.property("onlyDermatosNeeded").toInt(), 1);
    QCOMPARE(proxyChanged.size(), 1);
    icon = proxy.index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    QCOMPARE(icon.availableSizes(QIcon::Disabled, QIcon::Off), QList<QSize>{QSize(80, 80)});
    QCOMPARE(markColour(icon, QIcon::Disabled, QIcon::Off), QColor(125, 125, 125));
    // Other roles pass through.
    QCOMPARE(proxy.index(0, 0).data(257).toString(), QStringLiteral("07/03/2024"));
}

void tst_ItemModels::clearRemovesEveryRowAtOnce()
{
    SessionsModel model;
    const auto a = makeSession(LesionListFixture::document(), 7, 11);
    const auto b = makeSession(LesionListFixture::document(), 7, 12);
    model.addItem(a);
    model.addItem(b);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 0);
    QCOMPARE(removed.at(0).at(2).toInt(), 1);
    // A cleared session no longer reaches the model.
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    a->setEnabled(false);
    QCOMPARE(changed.size(), 0);
}

void tst_ItemModels::dermatoscopicInsertionByDate_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("same date goes after its equals") << QStringList{"20230105_a", "20220601_b", "20230105_c"}
                                                     << QStringList{"20230105_a", "20230105_c", "20220601_b"};
    QTest::newRow("oldest added first") << QStringList{"20210101_a", "20220101_b", "20230101_c"}
                                        << QStringList{"20230101_c", "20220101_b", "20210101_a"};
    QTest::newRow("newest added first") << QStringList{"20230101_a", "20220101_b", "20210101_c"}
                                        << QStringList{"20230101_a", "20220101_b", "20210101_c"};
    QTest::newRow("one day, in order added") << QStringList{"20230101_a", "20230101_b", "20230101_c"}
                                             << QStringList{"20230101_a", "20230101_b", "20230101_c"};
    QTest::newRow("into the middle") << QStringList{"20240101_a", "20200101_b", "20220101_c", "20220101_d"}
                                     << QStringList{"20240101_a", "20220101_c", "20220101_d", "20200101_b"};
}

void tst_ItemModels::dermatoscopicInsertionByDate()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, expected);
    DermatoscopicItemModel model;
    const auto lesion = m_model->lesionAt(1);
    for (const QString &id : added)
        model.addItem(QSharedPointer<DermatoscopicItem>::create(lesion, std::vector<QString>{id}));
    QStringList order;
    for (int row = 0; row < model.rowCount(); ++row)
        order << model.index(row, 0).data(257).toString();
    QCOMPARE(order, expected);
}

void tst_ItemModels::dermatoscopicRolesAndUpdates()
{
    DermatoscopicItemModel model;
    const auto item = QSharedPointer<DermatoscopicItem>::create(
        m_model->lesionAt(1), std::vector<QString>{"20230517_abc", "20230517_abd"});
    model.addItem(item);
    const QModelIndex index = model.index(0, 0);
    QCOMPARE(index.data(257).toString(), QStringLiteral("20230517_abc"));
    QCOMPARE(index.data(258).toDate(), QDate(2023, 5, 17));
    QCOMPARE(DermatoscopicItemModel::itemOf(index), item);
    QCOMPARE(model.indexOf(item), index);
    QVERIFY(!index.data(Qt::DecorationRole).value<QIcon>().isNull());
    QVERIFY(!model.index(1, 0).data(257).isValid());
    QCOMPARE(model.roleNames(), (QHash<int, QByteArray>{{257, "Name"}, {258, "Date"}, {259, "Item"}}));

    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    emit item->updated(DermatoscopicItem::IconUpdated);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(2).value<QList<int>>(), QList<int>{1});
}

QTEST_MAIN(tst_ItemModels)
#include "tst_itemmodels.moc"

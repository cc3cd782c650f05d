// What changed since the last visit, in the real main window against the
// stand-in's patient 11 (KV-1001): the summary line, the badges and the
// "Changed only" filter of the list, N / Shift+N, a lesion that is no longer
// there shown in the comparison layout, the report's table, and a pairing
// made and undone. The cases share one window and run in this order.

#include "e2e/SessionLoadingFixture.h"

#include "app/ChangeSummaryFlow.h"
#include "reports/QtReportWidget.h"
#include "reports/ReportChangesSection.h"
#include "reports/ReportsFlow.h"
#include "session/ClinicalPixmapItem.h"
#include "session/LesionChangeSummary.h"
#include "session/LesionsModel.h"
#include "session/SessionTestSupport.h"
#include "visualization/GraphicsView.h"
#include "visualization/ItemDelegate.h"

#include <QAccessible>
#include <QMenu>
#include <QToolButton>

namespace {

// Patient 11's newest session 105 against 104 (2026-03-31): the two external
// lesions are new, 1_3 grew by 40 % (2.938 to 4.106) and 3_3 shrank by 29 %
// (4.754 to 3.374); 0_4 ("Exeresis") is not in 105.
const QString kLine105 = QStringLiteral("Since 2026-03-31: 2 new, 1 grown, 1 shrunk, 1 excised");

QStringList idsOf(QAbstractItemModel *model)
{
    QStringList ids;
    for (int row = 0; model && row < model->rowCount(); ++row)
        if (const auto lesion = LesionsModel::lesionOf(model->index(row, 0)))
            ids << lesion->getLesionIdText();
    ids.sort();
    return ids;
}

} // namespace

class tst_ChangeSummary : public QObject, public SessionLoadingFixture
{
    Q_OBJECT

private slots:
    void initTestCase();
    void oldestSessionIsAFirstVisit();
    void newestSessionAgainstTheLastVisit();
    void changedOnlyListsExactlyTheChangedRows();
    void keysStepThroughTheChanges();
    void goneLesionShownWhereItWasLastSeen();
    void reportOffersTheTable();
    void nothingWasStoredOrFlagged();
    void pairingMadeThenUndone();

private:
    QtVisualizationWidgets *primary() const { return loader->primaryView(); }
    bool showPrincipal(int sessionId);
    ChangeSummaryFlow *flow() const { return window->changeSummaryFlow(); }
};

void tst_ChangeSummary::initTestCase()
{
    // The screenshots show the list as users see it, with the product's sheet.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    setUp();
}

bool tst_ChangeSummary::showPrincipal(int sessionId)
{
    CustomComboBox *box = loader->selector(SessionLoader::PrincipalSelector);
    for (int row = 0; row < loader->sessionsModel()->rowCount(); ++row)
        if (loader->sessionsModel()->sessionAt(row)->getSessionId() == sessionId)
            box->setCurrentIndex(row);
    return QTest::qWaitFor(
        [&] {
            return loader->principalSession() && loader->principalSession()->getSessionId() == sessionId &&
                   primary()->getSession() == loader->principalSession();
        },
        20000);
}

void tst_ChangeSummary::oldestSessionIsAFirstVisit()
{
    // The principal on opening is the session with the smallest id, here
    // the oldest: nothing to compare with.
    QVERIFY(load(11, 30000));
    QCOMPARE(loader->principalSession()->getSessionId(), 101);
    QVERIFY(primary()->getChangeSummaryLabel()->isVisible());
    QCOMPARE(primary()->getChangeSummaryLabel()->text(), QStringLiteral("First visit"));
    QVERIFY(!primary()->getChangedOnlyButton()->isEnabled());
    QVERIFY(!primary()->getGoneLesionsButton()->isVisible());
    const QVariant change = primary()->getListView()->model()->index(0, 0).data(LesionsModel::ChangeRole);
    QCOMPARE(change.toInt(), int(LesionChangeSummary::Status::None));
    // The secondary view never shows a summary of its own.
    QVERIFY(!loader->secondaryView()->changeSummary());

    QSignalSpy notifications(flow(), &ChangeSummaryFlow::showNotification);
    flow()->showNextChange();
    QCOMPARE(notifications.count(), 1);
    QVERIFY(notifications.first().first().toString().startsWith(QLatin1String("First visit")));
}

void tst_ChangeSummary::newestSessionAgainstTheLastVisit()
{
    // Its dermatoscopic images were fetched alone for the dermoscopic view;
    // as the principal it has its clinical images too.
    QTRY_VERIFY_WITH_TIMEOUT(loader->sessions().at(105)->areDermatosDownloaded(), 20000);
    QVERIFY(showPrincipal(105));
    const QSharedPointer<SessionVisualizer> newest = loader->principalSession();
    QVERIFY(newest->areClinicalDownloaded());
    const CameraPose pose = newest->getCameraPoses(0).front();
    QVERIFY(newest->hasFile(newest->clinicalImagePath(pose, 0), -1));
    QCOMPARE(primary()->getChangeSummaryLabel()->text(), kLine105);
    QVERIFY(primary()->getChangedOnlyButton()->isEnabled());
    // The excised lesion can be shown from the list of those not seen now.
    QVERIFY(primary()->getGoneLesionsButton()->isVisible());
    const QList<QAction *> gone = primary()->getGoneLesionsButton()->menu()->actions();
    QCOMPARE(gone.size(), 1);
    QCOMPARE(gone.first()->text(),
             QStringLiteral("Lesion 0_4 (frontal): excised, last seen on 2026-03-31, radius 5.64"));

    // Badges: the row's change and what a screen reader reads for it.
    ListView *list = primary()->getListView();
    QAbstractItemModel *model = list->model();
    QString grownText;
    int badges = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        const auto status = LesionChangeSummary::Status(index.data(LesionsModel::ChangeRole).toInt());
        badges += LesionChangeSummary::isChanged(status) ? 1 : 0;
        if (LesionsModel::lesionOf(index)->getLesionIdText() == QLatin1String("1_3")) {
            QCOMPARE(status, LesionChangeSummary::Status::Grown);
            QAccessibleInterface *view = QAccessible::queryAccessibleInterface(list);
            QVERIFY(view);
            for (int child = 0; child < view->childCount(); ++child)
                if (QAccessibleInterface *cell = view->child(child))
                    if (cell->text(QAccessible::Name).startsWith(QLatin1String("Lesion 1_3")))
                        grownText = cell->text(QAccessible::Name);
            QCOMPARE(index.data(Qt::ToolTipRole).toString(),
                     QStringLiteral("Lesion 1_3: grown, radius 2.94 on 2026-03-31, 4.11 now, +1.17 (+40 %)"));
        }
    }
    QCOMPARE(badges, 4);
    QCOMPARE(grownText, QStringLiteral("Lesion 1_3, Captured, grown"));
}

void tst_ChangeSummary::changedOnlyListsExactlyTheChangedRows()
{
    ListView *list = primary()->getListView();
    QCOMPARE(list->model()->rowCount(), 25);
    primary()->getChangedOnlyButton()->click();
    QCOMPARE(idsOf(list->model()), (QStringList{"1_3", "3_3", "4_1", "4_2"}));

    // Each badge is drawn where the delegate places it, in its colour.
    QTest::qWait(100);
    const QImage shot = list->viewport()->grab().toImage();
    for (int row = 0; row < list->model()->rowCount(); ++row) {
        const QModelIndex index = list->model()->index(row, 0);
        const auto status = LesionChangeSummary::Status(index.data(LesionsModel::ChangeRole).toInt());
        const QRect badge = ItemDelegate::badgeRect(list->visualRect(index));
        // Inside the shape; beside the plus of the round "new" badge.
        const QPoint probe = status == LesionChangeSummary::Status::New
                                 ? badge.center() + QPoint(badge.width() / 4, badge.height() / 4)
                                 : badge.center();
        const QColor seen = shot.pixelColor(probe * shot.devicePixelRatio());
        const QColor wanted = ItemDelegate::badgeColour(status);
        QVERIFY2(
            qAbs(seen.red() - wanted.red()) < 20 && qAbs(seen.green() - wanted.green()) < 20 &&
                qAbs(seen.blue() - wanted.blue()) < 20,
            qPrintable(QStringLiteral("row %1: %2 instead of %3").arg(row).arg(seen.name(), wanted.name())));
    }
    QVERIFY(primary()->getDermaFrame()->window()->grab().save(
        SessionTestSupport::screenshotPath(QStringLiteral("changes_window.png"))));
    QVERIFY(list->parentWidget()->grab().save(
        SessionTestSupport::screenshotPath(QStringLiteral("changes_list_changed_only.png"))));

    primary()->getChangedOnlyButton()->click();
    QCOMPARE(list->model()->rowCount(), 25);
    QVERIFY(list->parentWidget()->grab().save(
        SessionTestSupport::screenshotPath(QStringLiteral("changes_list.png"))));
}

void tst_ChangeSummary::keysStepThroughTheChanges()
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    // As after choosing the patient with Return: the search field lets go.
    if (QWidget *focused = QApplication::focusWidget())
        focused->clearFocus();
    auto highlighted = [this] {
        const auto lesion = primary()->getHighlightedLesion();
        return lesion ? lesion->getLesionIdText() : QString();
    };
    // In list order from the first; the lesion's image is shown and its row
    // highlighted.
    QTest::keyClick(window.get(), Qt::Key_N);
    QCOMPARE(highlighted(), QStringLiteral("1_3"));
    QCOMPARE(primary()->getCurrentSceneIndex(), 2);
    QGraphicsItem *tile = primary()->getOverviewView()->getShownTile();
    QVERIFY(tile);
    QCOMPARE(tile->childItems().first(),
             primary()->principalClinicalItemOf(primary()->getHighlightedLesion()));
    QVERIFY(primary()->getListView()->isHighlighted());
    QCOMPARE(LesionsModel::lesionOf(
                 primary()->getListView()->model()->index(primary()->getListView()->getHighlightedRow(), 0)),
             primary()->getHighlightedLesion());

    QTest::keyClick(window.get(), Qt::Key_N);
    QCOMPARE(highlighted(), QStringLiteral("3_3"));
    QCOMPARE(primary()->getCurrentSceneIndex(), 4);
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ShiftModifier);
    QCOMPARE(highlighted(), QStringLiteral("1_3"));
    // Around the ends.
    QTest::keyClick(window.get(), Qt::Key_N, Qt::ShiftModifier);
    QCOMPARE(highlighted(), QStringLiteral("4_2"));
    QCOMPARE(primary()->getCurrentSceneIndex(), 0);
    QTest::keyClick(window.get(), Qt::Key_N);
    QCOMPARE(highlighted(), QStringLiteral("1_3"));

    // A row clicked in the list is where the next step starts; rows the
    // pointer only passes over are not.
    ListView *list = primary()->getListView();
    const QModelIndex shrunk = list->proxyIndexOf(loader->principalSession()->getLesions().value(3).at(2));
    QCOMPARE(LesionsModel::lesionOf(shrunk)->getLesionIdText(), QStringLiteral("3_3"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(shrunk).center());
    QCOMPARE(highlighted(), QStringLiteral("3_3"));
    QTest::keyClick(window.get(), Qt::Key_N);
    QCOMPARE(highlighted(), QStringLiteral("4_1"));
    // Filtering drops the selection; the pointer then passes over 1_3.
    primary()->getChangedOnlyButton()->click();
    primary()->getChangedOnlyButton()->click();
    QCOMPARE(primary()->getSelectedRow(), -1);
    list->doItemsLayout();
    const QModelIndex grown = list->proxyIndexOf(loader->principalSession()->getLesions().value(1).at(2));
    const QPointF over = list->visualRect(grown).center();
    QMouseEvent move(QEvent::MouseMove, over, list->viewport()->mapToGlobal(over), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &move);
    QTRY_COMPARE(highlighted(), QStringLiteral("1_3"));
    QTest::keyClick(window.get(), Qt::Key_N);
    QCOMPARE(highlighted(), QStringLiteral("4_2"));
}

void tst_ChangeSummary::goneLesionShownWhereItWasLastSeen()
{
    auto *compare = window->findChild<CustomHoverButton *>(QStringLiteral("setCompareViewButton"));
    QTRY_VERIFY_WITH_TIMEOUT(compare->isEnabled(), 20000);
    QSignalSpy shown(flow(), &ChangeSummaryFlow::goneLesionShown);
    primary()->getGoneLesionsButton()->menu()->actions().first()->trigger();
    QVERIFY(shown.wait(20000) || shown.count() == 1);
    QVERIFY(shown.first().first().toBool());
    QCOMPARE(loader->viewMode(), int(SessionLoader::ClinicalView));
    QVERIFY(compare->isChecked());
    QCOMPARE(loader->secondarySession()->getSessionId(), 104);
    QCOMPARE(sessionIdOf(loader, SessionLoader::LeftSelector), 104);
    QtVisualizationWidgets *secondary = loader->secondaryView();
    QCOMPARE(secondary->getSession(), loader->secondarySession());
    QVERIFY(secondary->isVisible());
    const auto lesion = secondary->getHighlightedLesion();
    QVERIFY(lesion);
    QCOMPARE(lesion->getLesionIdText(), QStringLiteral("0_4"));
    QCOMPARE(lesion->getSessionId(), 104);
    QCOMPARE(secondary->getCurrentSceneIndex(), 1);
    QCOMPARE(secondary->getOverviewView()->getShownTile()->childItems().first(),
             secondary->principalClinicalItemOf(lesion));
    // The principal stays the newest session, with its summary.
    QCOMPARE(loader->principalSession()->getSessionId(), 105);
    QCOMPARE(primary()->getChangeSummaryLabel()->text(), kLine105);
    QTRY_COMPARE_WITH_TIMEOUT(ClinicalPixmapItem::pendingDecodes(), 0, 10000);
    QVERIFY(
        window->grab().save(SessionTestSupport::screenshotPath(QStringLiteral("changes_gone_lesion.png"))));

    window->findChild<CustomHoverButton *>(QStringLiteral("setHybridViewButton"))->click();
    QCOMPARE(loader->viewMode(), int(SessionLoader::HybridView));
}

void tst_ChangeSummary::reportOffersTheTable()
{
    auto *reports = window->findChild<ReportsFlow *>();
    QVERIFY(reports);
    int rows = -1;
    bool available = false;
    const QMetaObject::Connection opened =
        connect(reports, &ReportsFlow::dialogOpened, this, [&](QtReportWidget *dialog) {
            available = dialog->changesSection->isAvailable();
            dialog->changesSection->switchButton->setChecked(true);
            rows = dialog->sectionsHtml().count(QStringLiteral("<tr>"));
            QTimer::singleShot(0, dialog, &QDialog::reject);
        });
    reports->reportButtonClicked();
    QTRY_VERIFY_WITH_TIMEOUT(rows != -1, 15000);
    QTRY_VERIFY(!reports->dialog());
    disconnect(opened);
    QVERIFY(available);
    // The header, four changed lesions and the excised one.
    QCOMPARE(rows, 6);
}

void tst_ChangeSummary::nothingWasStoredOrFlagged()
{
    for (const auto &entry : loader->sessions())
        QVERIFY2(!entry.second->hasChangesToSave(), qPrintable(QString::number(entry.first)));
}

void tst_ChangeSummary::pairingMadeThenUndone()
{
    // A pairing as the comparison does it: the lesion takes another number
    // and the loader groups again; the summary and the badges follow.
    const QSharedPointer<SessionVisualizer> principal = loader->principalSession();
    QSharedPointer<LesionVisualizer> grown;
    for (const auto &lesion : principal->getLesions().value(1))
        if (lesion->getNumericID() == 3)
            grown = lesion;
    QVERIFY(grown);
    const QPersistentModelIndex source = primary()->getListView()->getLesionsModel()->indexOf(grown);
    QVERIFY(source.isValid());

    grown->changeNumericID(3000);
    loader->groupLesionsByID();
    QCOMPARE(primary()->getChangeSummaryLabel()->text(),
             QStringLiteral("Since 2026-03-31: 3 new, 1 shrunk, 1 gone, 1 excised"));
    QCOMPARE(source.data(LesionsModel::ChangeRole).toInt(), int(LesionChangeSummary::Status::New));
    QCOMPARE(primary()->getGoneLesionsButton()->menu()->actions().size(), 2);

    grown->changeNumericID(3);
    loader->groupLesionsByID();
    QCOMPARE(primary()->getChangeSummaryLabel()->text(), kLine105);
    QCOMPARE(source.data(LesionsModel::ChangeRole).toInt(), int(LesionChangeSummary::Status::Grown));

    // Back to the first visit with the filter on: nothing to filter by, so
    // the filter lets go instead of emptying the list.
    primary()->getChangedOnlyButton()->click();
    QCOMPARE(primary()->getListView()->model()->rowCount(), 4);
    QVERIFY(showPrincipal(101));
    QCOMPARE(primary()->getChangeSummaryLabel()->text(), QStringLiteral("First visit"));
    QVERIFY(!primary()->getChangedOnlyButton()->isChecked());
    QVERIFY(!primary()->getChangedOnlyButton()->isEnabled());
    // Session 101 lists 23 lesions (5, 7, 5 and 6 by position).
    QCOMPARE(primary()->getListView()->model()->rowCount(), 23);
}

QTEST_MAIN(tst_ChangeSummary)
#include "tst_changesummary.moc"

// The dermatoscopic viewer on a patient loaded from the stand-in server:
// images that are not downloaded yet, asked for from the viewer.

#include "SessionLoadingFixture.h"
#include "demo-server/SampleData.h"
#include "dermoscopy/DermatoDialogListView.h"
#include "dermoscopy/DermatoImageBudget.h"
#include "dermoscopy/QtDermatoscopicDialog.h"
#include "session/DermatoscopicItemModel.h"
#include "visualization/GraphicsView.h"

#include <QThreadPool>

namespace {

QString screenshotDir()
{
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QDir::tempPath());
    QDir().mkpath(dir);
    return dir;
}

// The id of the newest session of patient 12 that the listing leaves out.
QString unlistedId()
{
    const SampleData::Session *s = SampleData::instance().session(108);
    for (const SampleData::Dermatoscopic &d : s->dermatoscopic)
        if (!d.listed)
            return d.id;
    return {};
}

QSharedPointer<LesionVisualizer> lesionWith(const QSharedPointer<SessionVisualizer> &session,
                                            const QString &id)
{
    for (const auto &list : session->getLesions())
        for (const QSharedPointer<LesionVisualizer> &lesion : list)
            for (const auto &group : lesion->getDermatosopicIds())
                if (std::find(group.begin(), group.end(), id) != group.end())
                    return lesion;
    return {};
}

int rowOf(const DermatoscopicItemModel *model, const QString &firstId)
{
    for (int row = 0; row < model->rowCount(); ++row)
        if (model->itemAt(row)->getIds().front() == firstId)
            return row;
    return -1;
}

void pressRow(DermatoDialogListView *list, int row)
{
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

} // namespace

class tst_DermatoscopicViewerDownloads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void placeholderOnAPaneRefitsWhenItsImageArrives();
    void closedWhileTheDownloadIsOnItsWay();

private:
    // The viewer of the lesion holding id, with the item of id on the right pane.
    std::unique_ptr<QtDermatoscopicDialog> openOn(const QString &id);

    SessionLoadingFixture f;
    QSharedPointer<SessionVisualizer> m_newest;
};

void tst_DermatoscopicViewerDownloads::initTestCase()
{
    f.setUp();
}

// Each test starts from the patient loaded afresh: the left-out image is
// not in the session folder.
void tst_DermatoscopicViewerDownloads::init()
{
    m_newest.reset();
    QVERIFY(f.load(12, 60000));
    const auto it = f.loader->sessions().find(108);
    QVERIFY(it != f.loader->sessions().end());
    m_newest = it->second;
    // The newest session arrives in the background.
    QTRY_VERIFY_WITH_TIMEOUT(m_newest->areDermatosDownloaded(), 60000);
}

void tst_DermatoscopicViewerDownloads::cleanup()
{
    f.clear();
    QTRY_VERIFY_WITH_TIMEOUT(QThreadPool::globalInstance()->activeThreadCount() == 0, 30000);
}

void tst_DermatoscopicViewerDownloads::cleanupTestCase()
{
    m_newest.reset();
    f.window.reset();
}

std::unique_ptr<QtDermatoscopicDialog> tst_DermatoscopicViewerDownloads::openOn(const QString &id)
{
    const QSharedPointer<LesionVisualizer> lesion = lesionWith(m_newest, id);
    if (!lesion)
        return nullptr;
    std::unique_ptr<QtDermatoscopicDialog> dialog(QtDermatoscopicDialog::create(lesion, f.window.get()));
    if (!dialog)
        return nullptr;
    dialog->setWindowState(Qt::WindowNoState);
    dialog->resize(1500, 900);
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get()))
        return nullptr;
    const int row = rowOf(dialog->itemModel(), id);
    if (row < 0 || dialog->itemModel()->rowCount() < 2)
        return nullptr;
    // Selected by the program (a press would ask for the download): another
    // row on the left opens the right pane, where the item is then shown.
    DermatoDialogListView *left = dialog->itemList(QtDermatoscopicDialog::leftSide);
    const int other = row == dialog->itemModel()->rowCount() - 1 ? row - 1 : row + 1;
    left->selectionModel()->setCurrentIndex(left->model()->index(row == 0 ? other : row, 0),
                                            QItemSelectionModel::ClearAndSelect);
    DermatoDialogListView *right = dialog->itemList(QtDermatoscopicDialog::rightSide);
    if (!right)
        return nullptr;
    right->selectionModel()->setCurrentIndex(right->model()->index(row, 0),
                                             QItemSelectionModel::ClearAndSelect);
    return dialog;
}

void tst_DermatoscopicViewerDownloads::placeholderOnAPaneRefitsWhenItsImageArrives()
{
    const QString id = unlistedId();
    QVERIFY(!id.isEmpty());
    QVERIFY(!m_newest->hasFile(m_newest->dermatoscopicPath(id), -1));
    auto dialog = openOn(id);
    QVERIFY(dialog);
    GraphicsView *right = dialog->view(QtDermatoscopicDialog::rightSide);
    QVERIFY(right);
    const QSharedPointer<DermatoscopicItem> item = dialog->shownItem(QtDermatoscopicDialog::rightSide);
    QCOMPARE(item->getIds().front(), id);
    QVERIFY(!item->isDownloaded());
    // The placeholder's size, fitted: not a blank pane.
    QCOMPARE(right->sceneRect().size(), QSizeF(400, 100));
    QVERIFY(right->currentScale() > 0);

    // A press on the placeholder in the right list downloads the group's
    // first id and keeps the selection.
    DermatoDialogListView *list = dialog->itemList(QtDermatoscopicDialog::rightSide);
    const int selected = list->currentIndex().row();
    pressRow(list, rowOf(dialog->itemModel(), id));
    QCOMPARE(list->currentIndex().row(), selected);
    QTRY_VERIFY(notifications().contains(QStringLiteral("Downloading dermatoscopic image.")));

    // The image arrives: the pane takes its rectangle and is fitted to it
    // (the stand-in's small pictures are 600 x 450).
    QTRY_VERIFY_WITH_TIMEOUT(item->isDownloaded(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(right->sceneRect().size(), QSizeF(600, 450), 30000);
    QCOMPARE(right->sceneRect(), dialog->sceneRects(id).front());
    QTRY_VERIFY(std::abs(600 * right->currentScale() - right->viewport()->width()) < 6 ||
                std::abs(450 * right->currentScale() - right->viewport()->height()) < 6);
    QTRY_VERIFY_WITH_TIMEOUT(dialog->showsFullImage(id, 0), 30000);
    QVERIFY(dialog->grab().save(screenshotDir() + QStringLiteral("/dermatoscopic_viewer_downloaded.png")));
}

void tst_DermatoscopicViewerDownloads::closedWhileTheDownloadIsOnItsWay()
{
    const QString id = unlistedId();
    QVERIFY(!id.isEmpty());
    auto dialog = openOn(id);
    QVERIFY(dialog);
    QVERIFY(dialog->shownItem(QtDermatoscopicDialog::rightSide));
    QVERIFY(!dialog->shownItem(QtDermatoscopicDialog::rightSide)->isDownloaded());
    const QSharedPointer<LesionVisualizer> lesion = lesionWith(m_newest, id);
    QSignalSpy arrived(lesion.data(), &LesionVisualizer::downloadDone);
    f.standIn->setFault(QStringLiteral("storage-get"), [] {
        DemoFaults::Fault slow;
        slow.latencyMs = 1500;
        return slow;
    }());
    pressRow(dialog->itemList(QtDermatoscopicDialog::rightSide), rowOf(dialog->itemModel(), id));
    // The 50 ms refit and the download are pending: the dialog goes.
    dialog->close();
    dialog.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!arrived.isEmpty(), 30000);
    QTest::qWait(100);
    // The session keeps working: the image is in its folder.
    QVERIFY(m_newest->hasFile(m_newest->dermatoscopicPath(id), -1));
    QCOMPARE(DermatoImageBudget::shared()->count(), 0);
}

QTEST_MAIN(tst_DermatoscopicViewerDownloads)
#include "tst_dermatoscopicviewerdownloads.moc"

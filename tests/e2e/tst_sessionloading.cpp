// Loading a patient's sessions in the real main window against the stand-in
// server in process: selectors, labels and style sheets for one, two and
// three sessions, the built view, the legend, view modes, added images.

#include "app/PatientSearch.h"
#include "e2e/SessionLoadingFixture.h"
#include "server/ServerVisualizer.h"
#include "visualization/GraphicsView.h"
#include "visualization/QtVisualizationWidgets.h"

class tst_SessionLoading : public QObject, public SessionLoadingFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { setUp(); }
    void init() { clear(); }

    void selectors_data();
    void selectors();
    void chosenInTheSearch();
    void primaryViewBuilt();
    void legendDoubleClick();
    void replyForSessionNotHeld();
    void previousPatientReleased();
    void viewModes();
    void addClinicalImage_data();
    void addClinicalImage();
};

void tst_SessionLoading::selectors_data()
{
    QTest::addColumn<int>("patientId");
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<int>("principal");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("mid");
    QTest::addColumn<int>("dermatosLeft");
    QTest::addColumn<QString>("midLabel");
    QTest::addColumn<QString>("midStyles"); // closed and open style letters
    QTest::addColumn<QString>("missing");   // named in a notification, or empty
    QTest::addColumn<QString>("historic");  // sessions a lesion shows beside its own: left, mid

    QTest::newRow("one session") << 14 << QString() << 111 << -1 << -1 << -1 << "Displayed Left"
                                 << "EF" << QString() << "-1 -1";
    // The stand-in's first document request fails: announced three, two delivered.
    QTest::newRow("two sessions, one of three documents failed")
        << 12 << "storage-get:fail=1,status=500" << 107 << 108 << 108 << -1 << "Displayed Left"
        << "EF"
        << "106"
        << "-1 108";
    QTest::newRow("three sessions") << 12 << QString() << 106 << 107 << 107 << 108 << "Displayed Mid"
                                    << "GG" << QString() << "108 107";
}

void tst_SessionLoading::selectors()
{
    QFETCH(int, patientId);
    QFETCH(QString, faultText);
    QFETCH(int, principal);
    QFETCH(int, left);
    QFETCH(int, mid);
    QFETCH(int, dermatosLeft);
    QFETCH(QString, midLabel);
    QFETCH(QString, midStyles);
    QFETCH(QString, missing);
    QFETCH(QString, historic);

    if (!faultText.isEmpty()) {
        QString group;
        DemoFaults::Fault fault;
        QString error;
        QVERIFY(DemoFaults::parseFault(faultText, &group, &fault, &error));
        standIn->setFault(group, fault);
    }
    QVERIFY(load(patientId));
    // Shown for five seconds from the arrival of the documents.
    if (missing.isEmpty())
        QVERIFY2(notifications().isEmpty(), qPrintable(notifications().join('|')));
    else
        QVERIFY2(notifications().join('|').contains(missing), qPrintable(notifications().join('|')));
    QVERIFY(!loader->loadingDialog() || !loader->loadingDialog()->isVisible());
    QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(),
             SessionLoader::sessionPageIndex);
    QCOMPARE(loader->principalSession()->getSessionId(), principal);
    QVERIFY(loader->principalSession()->isDownloaded());
    QCOMPARE(sessionIdOf(loader, SessionLoader::PrincipalSelector), principal);
    QCOMPARE(sessionIdOf(loader, SessionLoader::LeftSelector), left);
    QCOMPARE(sessionIdOf(loader, SessionLoader::MidSelector), mid);
    QCOMPARE(sessionIdOf(loader, SessionLoader::DermatosLeftSelector), dermatosLeft);
    QCOMPARE(loader->selectorLabel(SessionLoader::MidSelector)->text(), midLabel);
    QCOMPARE(loader->selectorLabel(SessionLoader::DermatosLeftSelector)->text(), QStringLiteral("Left"));
    CustomComboBox *midBox = loader->selector(SessionLoader::MidSelector);
    QCOMPARE(midBox->closedStyleSheet, CustomComboBox::styleSheetById(midStyles.at(0).toLatin1()));
    QCOMPARE(midBox->openStyleSheet, CustomComboBox::styleSheetById(midStyles.at(1).toLatin1()));
    CustomComboBox *principalBox = loader->selector(SessionLoader::PrincipalSelector);
    QCOMPARE(principalBox->closedStyleSheet, CustomComboBox::styleSheetById('A'));
    QCOMPARE(principalBox->styleSheet(), CustomComboBox::styleSheetById('A'));
    QCOMPARE(loader->selectorLabel(SessionLoader::PrincipalSelector)->text(),
             QStringLiteral("Displayed Session"));
    QVERIFY(loader->selectorWidget(SessionLoader::PrincipalSelector)->isVisible());
    QVERIFY(!loader->selectorWidget(SessionLoader::DermatosLeftSelector)->isVisible());

    auto *compare = window->findChild<CustomHoverButton *>(QStringLiteral("setCompareViewButton"));
    auto *dermatos = window->findChild<CustomHoverButton *>(QStringLiteral("setDermatosViewButton"));
    if (left == -1) {
        // Nothing to compare: both stay disabled and the animation stops.
        QTest::qWait(300);
        QVERIFY(!compare->isEnabled());
        QVERIFY(!dermatos->isEnabled());
        QCOMPARE(window->findChild<QMovie *>()->state(), QMovie::NotRunning);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(compare->isEnabled(), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(dermatos->isEnabled(), 15000);
        QVERIFY(loader->secondarySession());
        QCOMPARE(loader->secondarySession()->getSessionId(), left);
    }
    {
        // The principal's lesions are told which sessions to show beside
        // them; a lesion shows a session where the same lesion exists.
        const QStringList ids = historic.split(QLatin1Char(' '));
        QSharedPointer<LesionVisualizer> lesion;
        for (const auto &list : loader->principalSession()->getLesions())
            for (const auto &candidate : list) {
                bool inBoth = true;
                for (const QString &id : ids)
                    inBoth = inBoth && (id == QLatin1String("-1") ||
                                        candidate->getHistoricLesions().contains(id.toInt()));
                if (inBoth && !lesion)
                    lesion = candidate;
            }
        QVERIFY(lesion);
        const auto shown = lesion->getHistoricSessionsShown();
        QCOMPARE(QStringLiteral("%1 %2").arg(shown.first).arg(shown.second), historic);
    }
}

void tst_SessionLoading::chosenInTheSearch()
{
    // The patient search hands its choice to the loader.
    loaded->clear();
    emit window->patientSearch()->patientChosen(patient(14));
    QTRY_COMPARE_WITH_TIMEOUT(loaded->count(), 1, 15000);
    QVERIFY(loaded->first().first().toBool());
    QCOMPARE(loader->principalSession()->getSessionId(), 111);
    QVERIFY(window->patientSearch()->patientPanel()->isVisible());
    QVERIFY(!window->findChild<QWidget *>(QStringLiteral("widget_doctor"))->isVisible());

    // Back to the menu: the search again, no session held.
    window->on_labelButton_clicked(true);
    QVERIFY(window->findChild<QWidget *>(QStringLiteral("widget_doctor"))->isVisible());
    QVERIFY(!window->patientSearch()->patientPanel()->isVisible());
    QVERIFY(loader->sessions().empty());
}

void tst_SessionLoading::primaryViewBuilt()
{
    // Session 111 of the sample data: 26 lesions with 80 instances on the
    // device positions (16, 30, 11, 23), none on the external one; 21 of
    // the lesions have dermatoscopic images and are listed.
    QVERIFY(load(14));
    QtVisualizationWidgets *view = loader->primaryView();
    QCOMPARE(view->getSession(), loader->principalSession());
    QVERIFY(view->isBuilt());
    QCOMPARE(view->getSceneCount(), 5);
    const int perScene[5] = {0, 16, 30, 11, 23};
    for (int scene = 0; scene < 5; ++scene) {
        int markers = 0;
        for (QGraphicsItem *item : view->getScene(scene)->items())
            markers += item->type() == ImageItemRect::Type ? 1 : 0;
        QCOMPARE(markers, perScene[scene]);
    }
    auto *proxy = qobject_cast<QAbstractProxyModel *>(view->getListView()->model());
    QVERIFY(proxy);
    QCOMPARE(proxy->sourceModel()->rowCount(), 21);
}

void tst_SessionLoading::legendDoubleClick()
{
    QVERIFY(oneSessionShown());
    std::unordered_map<QString, bool> last;
    int maps = 0;
    connect(window.get(), &kelvarisVisualizer::labelsSelectionChanged, this,
            [&](std::unordered_map<QString, bool> map) {
                last = map;
                ++maps;
            });
    QAbstractButton *exeresis = nullptr;
    for (QAbstractButton *button : loader->labelButtons()->buttons())
        if (button->property("originalText").toString() == QLatin1String("Exeresis"))
            exeresis = button;
    QVERIFY(exeresis);
    QVERIFY(exeresis->isVisible());
    // As a mouse delivers a double click: press, release, double click, release.
    const QPoint centre = exeresis->rect().center();
    QTest::mousePress(exeresis, Qt::LeftButton, {}, centre);
    QTest::mouseRelease(exeresis, Qt::LeftButton, {}, centre);
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, centre, exeresis->mapToGlobal(centre),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(exeresis, &doubleClick);
    QTest::mouseRelease(exeresis, Qt::LeftButton, {}, centre);
    QVERIFY(maps >= 2);
    QCOMPARE(int(last.size()), 6);
    for (const auto &[label, shown] : last)
        QCOMPARE(shown, label == QLatin1String("Exeresis"));
    for (QAbstractButton *button : loader->labelButtons()->buttons())
        QCOMPARE(button->isChecked(), button == exeresis);

    // A single click adds a label back.
    QAbstractButton *detected = loader->labelButtons()->buttons().first();
    QTest::mouseClick(detected, Qt::LeftButton);
    QCOMPARE(last.at(QStringLiteral("Detected")), true);
    QCOMPARE(last.at(QStringLiteral("Exeresis")), true);
    QCOMPARE(last.at(QStringLiteral("Captured")), false);
    for (QAbstractButton *button : loader->labelButtons()->buttons())
        button->setChecked(true);
}

void tst_SessionLoading::replyForSessionNotHeld()
{
    QVERIFY(oneSessionShown());
    ServerVisualizer *server = window->server();
    // Replies of a session that is not (or no longer) held are dropped.
    emit server->sessionDownloadReply(14, 999, QJsonDocument(QJsonObject{}), true);
    emit server->imgDownloadDone(14, 999, QStringLiteral("a.jpg"), QByteArray("x"), QStringLiteral("C"), 1);
    QCOMPARE(int(loader->sessions().size()), 1);
    QCOMPARE(loader->sessions().count(999), size_t(0));
}

void tst_SessionLoading::previousPatientReleased()
{
    QVERIFY(load(12));
    std::vector<QWeakPointer<SessionVisualizer>> sessions;
    std::vector<QWeakPointer<LesionVisualizer>> lesions;
    for (const auto &[id, s] : loader->sessions()) {
        sessions.push_back(s);
        for (const auto &[position, list] : s->getLesions().toStdMap())
            for (const auto &lesion : list)
                lesions.push_back(lesion);
    }
    QVERIFY(lesions.size() > 10);
    QVERIFY(load(14));
    QTest::qWait(50);
    for (const auto &s : sessions)
        QVERIFY(s.isNull());
    for (const auto &l : lesions)
        QVERIFY(l.isNull());
}

void tst_SessionLoading::viewModes()
{
    // The screenshots show the window as users see it, with the product's sheet.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    QVERIFY(load(12));
    auto *compare = window->findChild<CustomHoverButton *>(QStringLiteral("setCompareViewButton"));
    auto *dermatos = window->findChild<CustomHoverButton *>(QStringLiteral("setDermatosViewButton"));
    auto *hybrid = window->findChild<CustomHoverButton *>(QStringLiteral("setHybridViewButton"));
    QTRY_VERIFY_WITH_TIMEOUT(compare->isEnabled() && dermatos->isEnabled(), 15000);
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR");
    QDir().mkpath(dir);
    QTest::qWait(200);
    window->grab().save(dir + QStringLiteral("/sessionloading_hybrid.png"));

    QTest::mouseClick(dermatos, Qt::LeftButton);
    QCOMPARE(loader->viewMode(), int(SessionLoader::DermoscopicView));
    QCOMPARE(loader->selectorLabel(SessionLoader::PrincipalSelector)->text(),
             QStringLiteral("Displayed Right"));
    QCOMPARE(loader->selector(SessionLoader::PrincipalSelector)->closedStyleSheet,
             CustomComboBox::styleSheetById('C'));
    QVERIFY(loader->selectorWidget(SessionLoader::MidSelector)->isVisible());
    QVERIFY(loader->selectorWidget(SessionLoader::DermatosLeftSelector)->isVisible());
    QVERIFY(!loader->selectorWidget(SessionLoader::LeftSelector)->isVisible());
    QTest::qWait(200);
    window->grab().save(dir + QStringLiteral("/sessionloading_dermoscopic.png"));

    QTest::mouseClick(compare, Qt::LeftButton);
    QCOMPARE(loader->viewMode(), int(SessionLoader::ClinicalView));
    QVERIFY(loader->secondaryView()->isVisible());
    QVERIFY(loader->selectorWidget(SessionLoader::LeftSelector)->isVisible());
    QVERIFY(!loader->selectorWidget(SessionLoader::MidSelector)->isVisible());
    QCOMPARE(loader->secondaryView()->getSession(), loader->secondarySession());
    QTest::qWait(200);
    // Each close-up shows its selected clinical image filling the view, not
    // the whole row of the position's images shrunk into a corner.
    for (QtVisualizationWidgets *view : {loader->primaryView(), loader->secondaryView()}) {
        QGraphicsItem *shown = view->getOverviewView()->getShownTile();
        QVERIFY(shown && !shown->childItems().isEmpty());
        const QRectF image = shown->childItems().first()->sceneBoundingRect();
        GraphicsView *closeUp = view->getCloseUpView();
        const QRectF visible = closeUp->mapToScene(closeUp->viewport()->rect()).boundingRect();
        QVERIFY(image.width() >= 0.9 * visible.width() || image.height() >= 0.9 * visible.height());
    }
    window->grab().save(dir + QStringLiteral("/sessionloading_clinical.png"));

    QTest::mouseClick(hybrid, Qt::LeftButton);
    QCOMPARE(loader->viewMode(), int(SessionLoader::HybridView));
    QVERIFY(!loader->secondaryView()->isVisible());
    QCOMPARE(loader->selectorLabel(SessionLoader::PrincipalSelector)->text(),
             QStringLiteral("Displayed Session"));
    qApp->setStyleSheet(QString());
}

void tst_SessionLoading::addClinicalImage_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("added");
    QTest::addColumn<QString>("message");

    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(QColor(180, 120, 100));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    QTest::newRow("a JPEG") << jpeg << true << QString();
    QTest::newRow("cut short") << jpeg.left(jpeg.size() / 2) << false << "Warning: The image is corrupt";
    QTest::newRow("not an image") << QByteArray("plain text, not a picture") << false
                                  << "Warning: The image is corrupt";
    QTest::newRow("empty file") << QByteArray() << false << "Warning: The image is corrupt";
}

void tst_SessionLoading::addClinicalImage()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, added);
    QFETCH(QString, message);

    QVERIFY(oneSessionShown());
    const QSharedPointer<SessionVisualizer> session = loader->principalSession();
    const int externalBefore = int(session->getCameraPoses(SessionVisualizer::externalPosition).size());
    QTemporaryFile file;
    QVERIFY(file.open());
    file.write(bytes);
    file.close();

    const bool changedBefore = session->hasChangesToSave();
    QSignalSpy done(loader, &SessionLoader::clinicalImageAdded);
    QSignalSpy queued(window->server(), &ServerVisualizer::uploadQueueChanged);
    loader->addClinicalImageFile(file.fileName());
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(done.first().first().toBool(), added);
    QCOMPARE(int(session->getCameraPoses(SessionVisualizer::externalPosition).size()),
             externalBefore + (added ? 1 : 0));
    // An added image goes to the server at once, with the session's document
    // (which then holds every change); a refused one changes nothing.
    QCOMPARE(!queued.isEmpty(), added);
    QCOMPARE(session->hasChangesToSave(), changedBefore && !added);

    QString shown;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<CustomMessageBox *>(widget); box && box->isVisible()) {
            shown = box->messageLabel->text();
            box->close();
        }
    QCOMPARE(shown, message);
}

QTEST_MAIN(tst_SessionLoading)
#include "tst_sessionloading.moc"

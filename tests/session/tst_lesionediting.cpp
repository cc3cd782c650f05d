#include "SessionTestSupport.h"
#include "session/SessionVisualizer.h"
#include "widgets/CustomMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QtTest>

using namespace SessionTestSupport;

namespace {
QJsonObject lesionObject(int number, const QString &label = QString())
{
    QJsonObject o{{"numericID", number},
                  {"radius", 2.5},
                  {"bbox", QJsonObject{{"x", 10}, {"y", 10}, {"w", 20}, {"h", 20}}},
                  {"instancesBbox", QJsonArray{QJsonObject{{"x", 10}, {"y", 10}, {"w", 20}, {"h", 20}}}}};
    if (!label.isEmpty())
        o.insert("lesionLabel", label);
    return o;
}

QSharedPointer<SessionVisualizer> sessionWith(int sessionId, const QJsonArray &position0, bool principal)
{
    auto session = makeSession(QJsonObject{{"PositionNames", QJsonArray{"frontal", "right", "back", "left"}},
                                           {"Lesions", QJsonObject{{"0", position0}}}},
                               7, sessionId);
    session->setPrincipalSession(principal);
    session->createContextMenu();
    return session;
}

QSharedPointer<LesionVisualizer> first(const QSharedPointer<SessionVisualizer> &session)
{
    return session->getLesions().value(0).at(0);
}

void link(const QSharedPointer<LesionVisualizer> &a, const QSharedPointer<LesionVisualizer> &b)
{
    a->addHistoricLesion(b, b->getSessionId());
    b->addHistoricLesion(a, a->getSessionId());
}

// Answers the next modal dialog and returns its text through *text.
void answerNextModal(QObject *context, QString *text, bool accept)
{
    auto *timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, context, [timer, text, accept]() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer->stop();
        timer->deleteLater();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            *text = box->text();
            box->button(accept ? QMessageBox::Save : QMessageBox::Discard)->click();
        } else if (auto *custom = qobject_cast<CustomMessageBox *>(modal)) {
            *text = custom->messageLabel->text();
            accept ? custom->accept() : custom->reject();
        } else {
            qobject_cast<QDialog *>(modal)->reject();
        }
    });
    timer->start(10);
}

QByteArray pngBytes()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
} // namespace

class tst_LesionEditing : public QObject
{
    Q_OBJECT

private slots:
    void menuLabelIsSetWhenTheMenuCloses();
    void olderSessionLabelReachesNewerSessions();
    void olderSessionWithoutTwinAsksFirst_data();
    void olderSessionWithoutTwinAsksFirst();
    void addImageFromFile_data();
    void addImageFromFile();
    void lesionDeletedWhileItsFileIsRead();
    void deleteLesionDropsLinks();
    void releasedSessionUnlinksItsLesions();
    void priorityIsClampedOnRead_data();
    void priorityIsClampedOnRead();
    void menuAndRowLook();
};

void tst_LesionEditing::menuLabelIsSetWhenTheMenuCloses()
{
    auto session = sessionWith(11, QJsonArray{lesionObject(1)}, true);
    const auto lesion = first(session);
    QCOMPARE(lesion->getLabel(), QStringLiteral("Detected"));
    QMenu *menu = session->getContextMenu(lesion);
    QVERIFY(menu);
    QVERIFY(!session->getContextMenu(nullptr));
    auto *exeresis = menu->findChild<QAbstractButton *>("labelButtonExeresis");
    QVERIFY(exeresis);
    QVERIFY(menu->findChild<QAbstractButton *>("labelButtonDetected")->isChecked());

    QStringList events;
    connect(lesion.data(), &LesionVisualizer::updated, this, [&](int role) {
        events << QStringLiteral("updated %1 menu %2").arg(role).arg(menu->isVisible() ? "open" : "closed");
    });
    connect(lesion.data(), &LesionVisualizer::changesToSave, this, [&]() { events << "changesToSave"; });
    menu->popup(QPoint(10, 10));
    QTRY_VERIFY(menu->isVisible());
    exeresis->click();
    QCOMPARE(events, (QStringList{"updated 259 menu closed", "changesToSave"}));
    QCOMPARE(lesion->getLabel(), QStringLiteral("Exeresis"));
    QVERIFY(session->hasChangesToSave());
}

void tst_LesionEditing::olderSessionLabelReachesNewerSessions()
{
    auto older = sessionWith(5, QJsonArray{lesionObject(1)}, false);
    auto principal = sessionWith(9, QJsonArray{lesionObject(1)}, true);
    link(first(older), first(principal));
    QHBoxLayout *row = older->getContextMenuLayout(first(older));
    QWidget holder;
    holder.setLayout(row);
    QPushButton *followUp = nullptr;
    for (auto *button : holder.findChildren<QPushButton *>("labelButtonL"))
        if (button->text() == "Follow up")
            followUp = button;
    QVERIFY(followUp);
    // No question: the principal session has the lesion.
    followUp->click();
    QCOMPARE(first(older)->getLabel(), QStringLiteral("Follow up"));
    QCOMPARE(first(principal)->getLabel(), QStringLiteral("Follow up"));
}

void tst_LesionEditing::olderSessionWithoutTwinAsksFirst_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("label");
    QTest::newRow("discard") << false << "Detected";
    QTest::newRow("save") << true << "Custom 1";
}

void tst_LesionEditing::olderSessionWithoutTwinAsksFirst()
{
    QFETCH(bool, save);
    QFETCH(QString, label);
    auto older = sessionWith(5, QJsonArray{lesionObject(1)}, false);
    auto principal = sessionWith(9, QJsonArray{lesionObject(2)}, true);
    QWidget holder;
    holder.setLayout(older->getContextMenuLayout(first(older)));
    QPushButton *custom1 = nullptr;
    for (auto *button : holder.findChildren<QPushButton *>("labelButtonL"))
        if (button->text() == "Custom 1")
            custom1 = button;
    QString question;
    answerNextModal(this, &question, save);
    custom1->click();
    QCOMPARE(question, QStringLiteral("Warning: the lesion was not detected in the last session."));
    QCOMPARE(first(older)->getLabel(), label);
    QCOMPARE(older->hasChangesToSave(), save);
    QCOMPARE(custom1->isChecked(), save);
}

void tst_LesionEditing::addImageFromFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("added");
    const QByteArray good = jpeg(QSize(600, 400));
    QTest::newRow("jpg") << "picture.jpg" << good << true;
    QTest::newRow("capitalised extension") << "picture.JPG" << good << true;
    QTest::newRow("renamed png") << "picture.jpg" << pngBytes() << false;
    QTest::newRow("truncated jpeg") << "picture.jpg" << good.left(good.size() / 2) << false;
    QTest::newRow("empty file") << "picture.jpg" << QByteArray() << false;
    QTest::newRow("missing file") << "" << QByteArray() << false;
}

void tst_LesionEditing::addImageFromFile()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, added);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName.isEmpty() ? QStringLiteral("absent.jpg") : fileName);
    if (!fileName.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    auto session = sessionWith(11, QJsonArray{lesionObject(1)}, true);
    const auto lesion = first(session);
    session->getContextMenu(lesion);
    QSignalSpy finished(session.data(), &SessionVisualizer::externalImageFinished);
    QSignalSpy stored(session.data(), &SessionVisualizer::addedNewDermatoscopicImage);
    QSignalSpy captured(session.data(), &SessionVisualizer::newLesionCaptured);
    QString warning;
    if (!added)
        answerNextModal(this, &warning, true);

    const QDate today = QDate::currentDate();
    session->addExternalFile(path);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), added);
    if (!added) {
        QCOMPARE(warning, QStringLiteral("Warning: The image is corrupt"));
        QCOMPARE(stored.count(), 0);
        QVERIFY(!lesion->hasDermatoscopicGroups());
        QCOMPARE(lesion->getLabel(), QStringLiteral("Detected"));
        QVERIFY(!session->hasChangesToSave());
        return;
    }
    QCOMPARE(stored.count(), 1);
    const QString uploaded = stored.at(0).at(0).toString();
    const QString id = lesion->getLastDermatoscopicId();
    QVERIFY2(QRegularExpression("^\\d{8}_\\d{13}e$").match(id).hasMatch(), qPrintable(id));
    QVERIFY(id.startsWith(today.toString("yyyyMMdd")) ||
            id.startsWith(today.addDays(1).toString("yyyyMMdd")));
    // One name for the stored key and the uploaded file.
    QCOMPARE(uploaded, id + ".jpg");
    QCOMPARE(session->getRawFile(session->dermatoscopicPath(id)), bytes);
    QVERIFY(session->hasFile(session->dermatoscopicPath(id), -4));
    QCOMPARE(stored.at(0).at(1).value<QImage>().size(), QSize(600, 400));
    QCOMPARE(stored.at(0).at(2).toBool(), false);
    QCOMPARE(lesion->getLabel(), QStringLiteral("Captured"));
    QCOMPARE(captured.count(), 1);
    QVERIFY(!lesion->getIcon().isNull());
    QVERIFY(session->hasChangesToSave());
}

void tst_LesionEditing::lesionDeletedWhileItsFileIsRead()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("picture.jpg"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(jpeg(QSize(600, 400)));
    file.close();
    auto session = sessionWith(11, QJsonArray{lesionObject(1)}, true);
    QWeakPointer<LesionVisualizer> weak = first(session);
    session->getContextMenu(first(session));
    QSignalSpy finished(session.data(), &SessionVisualizer::externalImageFinished);
    QSignalSpy stored(session.data(), &SessionVisualizer::addedNewDermatoscopicImage);
    // The pool is kept busy so that the read cannot finish before the
    // deletion.
    QSemaphore gate;
    QThreadPool *pool = QThreadPool::globalInstance();
    const int blockers = pool->maxThreadCount();
    for (int i = 0; i < blockers; ++i)
        pool->start([&gate]() { gate.acquire(); });
    session->addExternalFile(file.fileName());
    session->deleteLesion(first(session));
    QVERIFY(weak.isNull());
    gate.release(blockers);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QCOMPARE(stored.count(), 0);
}

void tst_LesionEditing::deleteLesionDropsLinks()
{
    auto a = sessionWith(5, QJsonArray{lesionObject(1)}, false);
    auto b = sessionWith(9, QJsonArray{lesionObject(1)}, true);
    auto c = sessionWith(12, QJsonArray{lesionObject(1)}, false);
    link(first(a), first(b));
    link(first(a), first(c));
    link(first(b), first(c));
    QWeakPointer<LesionVisualizer> deleted = first(b);
    b->deleteLesion(first(b));
    QVERIFY(deleted.isNull());
    QCOMPARE(first(a)->getHistoricLesions().keys(), QList<int>{12});
    QCOMPARE(first(c)->getHistoricLesions().keys(), QList<int>{5});
    QVERIFY(!first(a)->getPrincipalLesion());
}

void tst_LesionEditing::releasedSessionUnlinksItsLesions()
{
    auto a = sessionWith(5, QJsonArray{lesionObject(1)}, false);
    auto b = sessionWith(9, QJsonArray{lesionObject(1)}, true);
    link(first(a), first(b));
    QWeakPointer<LesionVisualizer> released = first(b);
    b.reset();
    QVERIFY(released.isNull());
    QVERIFY(first(a)->getHistoricLesions().isEmpty());
}

void tst_LesionEditing::priorityIsClampedOnRead_data()
{
    QTest::addColumn<double>("stored");
    QTest::addColumn<int>("priority");
    QTest::newRow("usual") << 2.0 << 2;
    QTest::newRow("huge") << 1e12 << 10;
    QTest::newRow("negative") << -7.0 << 0;
}

void tst_LesionEditing::priorityIsClampedOnRead()
{
    QFETCH(double, stored);
    QFETCH(int, priority);
    QJsonObject o = lesionObject(1);
    o.insert("lesionPriority", stored);
    auto session = sessionWith(11, QJsonArray{o}, true);
    QCOMPARE(first(session)->getPriority(), priority);
    // What was stored travels back unchanged.
    QCOMPARE(first(session)->toJson().value("lesionPriority").toDouble(), stored);
}

void tst_LesionEditing::menuAndRowLook()
{
    // The program's own look, as main() applies it.
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly | QIODevice::Text));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    auto session = sessionWith(11, QJsonArray{lesionObject(1, "Follow up")}, true);
    session->setExtraInfoVisible(true);
    QMenu *menu = session->getContextMenu(first(session));
    menu->popup(QPoint(0, 0));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    // Every label button lies inside the menu.
    const auto labelButtons = menu->findChildren<QAbstractButton *>(QRegularExpression("^labelButton"));
    QCOMPARE(labelButtons.size(), 6);
    for (auto *button : labelButtons)
        QVERIFY2(menu->rect().contains(QRect(button->mapTo(menu, QPoint(0, 0)), button->size())),
                 qPrintable(button->objectName()));
    QVERIFY(menu->grab().save(screenshotPath("lesion_menu.png")));
    menu->close();
    QCOMPARE(session->getExtraInfoWidget()->findChildren<QLabel *>("labelInfoExtra").at(1)->text(),
             QStringLiteral("Radius: 2.5"));

    QWidget holder;
    holder.setObjectName("rowHolder");
    holder.setStyleSheet("#rowHolder { background-color: rgb(28, 28, 30); }");
    holder.setLayout(session->getContextMenuLayout(first(session)));
    holder.resize(1100, 70);
    holder.show();
    QVERIFY(QTest::qWaitForWindowExposed(&holder));
    for (auto *button : holder.findChildren<QPushButton *>("labelButtonL"))
        QCOMPARE(button->isChecked(), button->text() == "Follow up");
    QVERIFY(holder.grab().save(screenshotPath("lesion_row.png")));
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_LesionEditing)
#include "tst_lesionediting.moc"

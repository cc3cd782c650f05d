#include "widgets/CustomMessageBox.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

QString screenshotPath(const QString &name)
{
    return qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) + QLatin1Char('/') + name;
}

} // namespace

class tst_CustomMessageBox : public QObject
{
    Q_OBJECT

private slots:
    void endsWithTheRightResult_data();
    void endsWithTheRightResult();
    void neverSmallerThanMinimum_data();
    void neverSmallerThanMinimum();
    void showsMessageAsPlainText();
    void longLinesAreNotCut_data();
    void longLinesAreNotCut();
    void dragsWithLeftButton();
    void looksRight();
};

void tst_CustomMessageBox::endsWithTheRightResult_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");
    QTest::newRow("Enter") << "enter" << int(QDialog::Accepted);
    QTest::newRow("Return") << "return" << int(QDialog::Accepted);
    QTest::newRow("Escape") << "escape" << int(QDialog::Rejected);
    QTest::newRow("OK") << "ok" << int(QDialog::Accepted);
    QTest::newRow("Cancel") << "cancel" << int(QDialog::Rejected);
    QTest::newRow("title close button") << "close" << int(QDialog::Rejected);
}

void tst_CustomMessageBox::endsWithTheRightResult()
{
    QFETCH(QString, action);
    QFETCH(int, expected);

    QWidget parent;
    parent.show();
    CustomMessageBox box(QStringLiteral("Delete the lesion?"), QStringLiteral("Delete Lesion"), &parent);
    QTimer::singleShot(0, &box, [&box, action] {
        QVERIFY(box.isVisible());
        if (action == QLatin1String("enter"))
            QTest::keyClick(&box, Qt::Key_Enter);
        else if (action == QLatin1String("return"))
            QTest::keyClick(&box, Qt::Key_Return);
        else if (action == QLatin1String("escape"))
            QTest::keyClick(&box, Qt::Key_Escape);
        else if (action == QLatin1String("ok"))
            QTest::mouseClick(box.okButton(), Qt::LeftButton);
        else if (action == QLatin1String("cancel"))
            QTest::mouseClick(box.cancelButton(), Qt::LeftButton);
        else
            QTest::mouseClick(box.closeButton, Qt::LeftButton);
    });
    // Never left running if the action failed to end it.
    QTimer::singleShot(3000, &box, [&box] { box.done(-1); });
    QCOMPARE(box.exec(), expected);
}

void tst_CustomMessageBox::neverSmallerThanMinimum_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QString();
    QTest::newRow("one letter") << QStringLiteral("x");
    QTest::newRow("normal") << QStringLiteral("Are you sure you want to exit?");
}

void tst_CustomMessageBox::neverSmallerThanMinimum()
{
    QFETCH(QString, message);
    CustomMessageBox box(message, QStringLiteral("T"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QVERIFY(box.width() >= 300);
    QVERIFY(box.height() >= 200);
    box.resize(10, 10);
    QVERIFY(box.width() >= 300);
    QVERIFY(box.height() >= 200);
}

void tst_CustomMessageBox::showsMessageAsPlainText()
{
    // Text from files or the server is shown as it is, never as markup, and
    // short lines are not broken.
    const QString message = QStringLiteral("<img src=\"x\"> Session \"12\" not saved");
    CustomMessageBox box(message, QStringLiteral("<b>Error</b>"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QCOMPARE(box.messageLabel->text(), message);
    QCOMPARE(box.messageLabel->textFormat(), Qt::PlainText);
    const int oneLine = box.messageLabel->fontMetrics().height();
    QVERIFY(box.messageLabel->height() < 3 * oneLine + 16);
    bool titleShown = false;
    for (QLabel *label : box.findChildren<QLabel *>())
        titleShown |= label->text() == QLatin1String("<b>Error</b>") && label->textFormat() == Qt::PlainText;
    QVERIFY(titleShown);
}

void tst_CustomMessageBox::dragsWithLeftButton()
{
    CustomMessageBox box(QStringLiteral("Move me"), QStringLiteral("Drag"));
    box.move(300, 300);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QPoint start = box.pos();
    const QPoint press = box.mapToGlobal(QPoint(150, 100));
    auto send = [&box](QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(box.mapFromGlobal(global)), QPointF(global), button, held,
                      Qt::NoModifier);
        QApplication::sendEvent(&box, &e);
    };
    send(QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, press + QPoint(-50, 30), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, press + QPoint(-50, 30), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(box.pos() - start, QPoint(-50, 30));
    send(QEvent::MouseMove, press + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
    QCOMPARE(box.pos() - start, QPoint(-50, 30));

    // A press that a button takes is the button's: dragging from it moves nothing.
    QPushButton *ok = box.okButton();
    const QPoint onButton = ok->mapToGlobal(ok->rect().center());
    auto sendToButton = [ok](QEvent::Type type, QPoint global, Qt::MouseButton button,
                             Qt::MouseButtons held) {
        QMouseEvent e(type, QPointF(ok->mapFromGlobal(global)), QPointF(global), button, held,
                      Qt::NoModifier);
        QApplication::sendEvent(ok, &e);
    };
    sendToButton(QEvent::MouseButtonPress, onButton, Qt::LeftButton, Qt::LeftButton);
    sendToButton(QEvent::MouseMove, onButton + QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(box.pos() - start, QPoint(-50, 30));
}

void tst_CustomMessageBox::longLinesAreNotCut_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("one long line") << "Server is saving your last changes, exiting might lose data.";
    QTest::newRow("too long for one line")
        << "Server is still saving your last changes, if you logout all changes could be lost.\n";
    QTest::newRow("short") << "Closing app.\n";
}

// Every word of the message is inside the panel: the label lies within the
// box and its text, wrapped at the label's width, fits the label.
void tst_CustomMessageBox::longLinesAreNotCut()
{
    QFETCH(QString, message);
    QWidget parent;
    parent.resize(1200, 800);
    parent.show();
    CustomMessageBox box(message, QStringLiteral("Logout"), &parent);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QLabel *label = box.messageLabel;
    const QRect inBox = QRect(label->mapTo(&box, QPoint(0, 0)), label->size());
    QVERIFY2(box.rect().contains(inBox), qPrintable(QStringLiteral("label %1,%2 %3x%4 in a box %5 wide")
                                                        .arg(inBox.x())
                                                        .arg(inBox.y())
                                                        .arg(inBox.width())
                                                        .arg(inBox.height())
                                                        .arg(box.width())));
    const QRect text = QFontMetrics(label->font())
                           .boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                         Qt::TextWordWrap | Qt::AlignCenter, message);
    QVERIFY2(text.width() <= label->contentsRect().width(),
             qPrintable(QStringLiteral("%1 > %2").arg(text.width()).arg(label->contentsRect().width())));
    // One pixel of rounding between the metrics and the label's own layout.
    QVERIFY2(text.height() <= label->contentsRect().height() + 1,
             qPrintable(QStringLiteral("%1 > %2").arg(text.height()).arg(label->contentsRect().height())));
    box.grab().save(screenshotPath(QStringLiteral("custommessagebox-") +
                                   QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png")));
}

void tst_CustomMessageBox::looksRight()
{
    QWidget parent;
    parent.resize(800, 600);
    parent.show();
    CustomMessageBox box(QStringLiteral("Are you sure you want to delete the Lesion\n and all its images?"),
                         QStringLiteral("Delete Lesion"), &parent);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage image = box.grab().toImage();
    QVERIFY(image.save(screenshotPath(QStringLiteral("custommessagebox.png"))));
    // The panel fill just inside the accent border, and the border itself.
    QCOMPARE(image.pixelColor(8, image.height() / 2), QColor(33, 33, 36));
    const QColor border = image.pixelColor(2, image.height() / 2);
    QVERIFY2(border.red() > 200 && border.green() > 170 && border.blue() > 150, qPrintable(border.name()));
}

QTEST_MAIN(tst_CustomMessageBox)
#include "tst_custommessagebox.moc"

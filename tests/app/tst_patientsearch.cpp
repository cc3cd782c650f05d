// The patient search of the main window against the stand-in: a doctor logs
// in through the dialog, types identifiers and names, sees the matching
// patients in the completer's popup and chooses one from it or with Return.

#include "MainWindowLogin.h"

#include "app/PatientSearch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QLabel>
#include <QPainter>
#include <QStandardItemModel>
#include <QUrlQuery>

#include <cstdlib>

namespace {

QStringList shownEntries(QCompleter *completer)
{
    QStringList entries;
    QAbstractItemModel *rows = completer->completionModel();
    for (int r = 0; r < rows->rowCount(); ++r)
        entries << rows->index(r, 0).data().toString();
    return entries;
}

// The search texts the server was asked for, in order.
QStringList searchesSent(const RequestLog &requests)
{
    QStringList texts;
    for (const SentRequest &r : requests.withOperation(QStringLiteral("listPatientsSearch")))
        texts << QUrlQuery(r.url).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
    return texts;
}

} // namespace

class tst_PatientSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void searchText_data();
    void searchText();
    void firstListFillsTheCompleter();
    void completerShowsMatches_data();
    void completerShowsMatches();
    void chooseWithKeys();
    void chooseWithClick();
    void returnPressed_data();
    void returnPressed();
    void fieldJoinsItsPopup();
    void looksRight();

private:
    // Types as a user does: into the popup while it is open (it has the
    // keyboard then), else into the field.
    void type(const QString &text);
    void press(Qt::Key key);
    // Waits until the server answered a search for the text.
    bool searched(const QString &text);

    StandIn standIn;
    std::unique_ptr<StandInWorkingDirectory> wd;
    std::unique_ptr<kelvarisVisualizer> window;
    std::unique_ptr<RequestLog> requests;
    PatientSearch *search = nullptr;
    QLineEdit *field = nullptr;
};

void tst_PatientSearch::initTestCase()
{
    QVERIFY2(standIn.start(), qPrintable(standIn->errorString()));
    // One doctor's window for every case: a login costs the server a password hash.
    wd = std::make_unique<StandInWorkingDirectory>(standIn);
    window = std::make_unique<kelvarisVisualizer>();
    window->show();
    search = window->patientSearch();
    field = window->findChild<QLineEdit *>(QStringLiteral("searchLineEdit"));
    QVERIFY(logInAs(*window, QStringLiteral("doctor")));
    // The first list holds the nine patients of the sample data.
    QTRY_COMPARE(search->model()->rowCount(), 9);
    QTRY_COMPARE(QApplication::focusWidget(), field);
}

void tst_PatientSearch::init()
{
    // Back to an empty field with the keyboard, as after the login. A chosen
    // patient was loaded and hid the search: back to the menu first.
    window->on_labelButton_clicked(false);
    search->completer()->popup()->hide();
    {
        const QSignalBlocker quiet(field);
        field->clear();
    }
    search->resetPatientPanel();
    field->setFocus();
    QCOMPARE(window->focusWidget(), field);
    requests = std::make_unique<RequestLog>(window->server());
}

void tst_PatientSearch::cleanup()
{
    requests.reset();
}

void tst_PatientSearch::cleanupTestCase()
{
    window.reset();
    wd.reset();
}

void tst_PatientSearch::type(const QString &text)
{
    for (const QChar c : text) {
        QAbstractItemView *popup = search->completer()->popup();
        QTest::keyClick(popup->isVisible() ? static_cast<QWidget *>(popup) : field, c.toLatin1());
    }
}

void tst_PatientSearch::press(Qt::Key key)
{
    QAbstractItemView *popup = search->completer()->popup();
    QTest::keyClick(popup->isVisible() ? static_cast<QWidget *>(popup) : field, key);
}

bool tst_PatientSearch::searched(const QString &text)
{
    const bool answered = QTest::qWaitFor([&] { return searchesSent(*requests).contains(text); }, 10000);
    // The answer's handlers run in the same turn as the manager's signal.
    QTest::qWait(50);
    return answered;
}

void tst_PatientSearch::searchText_data()
{
    QTest::addColumn<QString>("fieldText");
    QTest::addColumn<QString>("searched");
    QTest::newRow("inserted entry") << "12345 | Name"
                                    << "12345";
    QTest::newRow("identifier with dash") << "KV-1001 | Marta Puig Soler (research)"
                                          << "KV-1001";
    QTest::newRow("separator first: whole text") << "|Ferrer"
                                                 << "|Ferrer";
    QTest::newRow("plain name") << "Anna Lindqvist"
                                << "Anna Lindqvist";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_PatientSearch::searchText()
{
    QFETCH(QString, fieldText);
    QFETCH(QString, searched);
    QCOMPARE(PatientSearch::searchTextFor(fieldText), searched);
}

void tst_PatientSearch::firstListFillsTheCompleter()
{
    QStandardItemModel *model = search->model();
    QCOMPARE(model->columnCount(), 3);
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Id | Name"));
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Id"));
    QCOMPARE(model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Name"));
    // Ordered by identifier; the name carries its tag.
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("KV-1001 | Marta Puig Soler (research)"));
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("11"));
    QCOMPARE(model->index(0, 2).data().toString(), QStringLiteral("Marta Puig Soler (research)"));
    QCOMPARE(model->index(8, 0).data().toString(), QStringLiteral("KV-9999 | Test Patient [TEST]"));
    QCOMPARE(model->index(8, 1).data().toString(), QStringLiteral("19"));
    // The first list opens no popup: nobody typed yet.
    QVERIFY(!search->completer()->popup()->isVisible());
}

void tst_PatientSearch::completerShowsMatches_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("identifier prefix") << "KV-100"
                                       << "KV-100"
                                       << QStringList{"KV-1001 | Marta Puig Soler (research)",
                                                      "KV-1002 | Jordi Ferrer Vila",
                                                      "KV-1003 | Núria Castellà i Roig",
                                                      "KV-1004 | Øystein Åsgård",
                                                      "KV-1005 | Anna Lindqvist",
                                                      "KV-1006 | Pau Martí Serra",
                                                      "KV-1007 | Laura Gómez Ruiz",
                                                      "KV-1008 | Zoë Brontë-Łukasiewicz · follow-up"};
    QTest::newRow("identifier, other case") << "kv-1005"
                                            << "kv-1005" << QStringList{"KV-1005 | Anna Lindqvist"};
    QTest::newRow("part of a name") << "lindq"
                                    << "lindq" << QStringList{"KV-1005 | Anna Lindqvist"};
    QTest::newRow("name with tag") << "Zo"
                                   << "Zo" << QStringList{"KV-1008 | Zoë Brontë-Łukasiewicz · follow-up"};
    QTest::newRow("inserted entry searches its identifier") << "KV-1004 | Oy"
                                                            << "KV-1004" << QStringList{};
    QTest::newRow("nobody") << "nobody"
                            << "nobody" << QStringList{};
}

void tst_PatientSearch::completerShowsMatches()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    QFETCH(QStringList, entries);
    QSignalSpy changes(field, &QLineEdit::textChanged);
    // Emitted once before every search.
    QSignalSpy searches(window->server(), &ServerVisualizer::cancelDownloadListPatients);
    type(typed);
    QCOMPARE(field->text(), typed);
    QVERIFY(searched(sent));
    // One search per change of the text; the last one is the text's.
    QCOMPARE(searches.count(), changes.count());
    QCOMPARE(searchesSent(*requests).last(), sent);
    QTRY_COMPARE(shownEntries(search->completer()), entries);
    QCOMPARE(search->completer()->popup()->isVisible(), !entries.isEmpty());
    // Answers overlapping the first list add no second row for a patient.
    QCOMPARE(search->model()->rowCount(), 9);
}

void tst_PatientSearch::chooseWithKeys()
{
    QSignalSpy chosen(search, &PatientSearch::patientChosen);
    type(QStringLiteral("KV-1004"));
    QVERIFY(searched(QStringLiteral("KV-1004")));
    QAbstractItemView *popup = search->completer()->popup();
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(shownEntries(search->completer()), QStringList{"KV-1004 | Øystein Åsgård"});
    press(Qt::Key_Down);
    press(Qt::Key_Return);
    QTRY_COMPARE(chosen.count(), 1);
    const Patient patient = chosen.at(0).at(0).value<Patient>();
    QCOMPARE(patient.patientID, std::string("14"));
    QCOMPARE(patient.centerID, std::string("KV-1004"));
    QCOMPARE(QString::fromStdString(patient.name), QStringLiteral("Øystein Åsgård"));
    QCOMPARE(patient.birthdate, QDate(1990, 7, 1));
    QCOMPARE(field->text(), QStringLiteral("KV-1004 | Øystein Åsgård"));
    QCOMPARE(search->nameLabel()->text(), QStringLiteral("Øystein Åsgård"));
    QCOMPARE(search->birthdayLabel()->text(), QStringLiteral("1990-07-01"));
    QVERIFY(!popup->isVisible());
    // The Return that chose the entry reaches the field too: still one choice.
    QTest::qWait(200);
    QCOMPARE(chosen.count(), 1);
    // The inserted entry searches its identifier once more.
    QTRY_COMPARE(searchesSent(*requests).count(QStringLiteral("KV-1004")), 2);
}

void tst_PatientSearch::chooseWithClick()
{
    QSignalSpy chosen(search, &PatientSearch::patientChosen);
    type(QStringLiteral("Puig"));
    QVERIFY(searched(QStringLiteral("Puig")));
    QAbstractItemView *popup = search->completer()->popup();
    QTRY_VERIFY(popup->isVisible());
    const QRect row = popup->visualRect(popup->model()->index(0, 0));
    QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, row.center());
    QTRY_COMPARE(chosen.count(), 1);
    const Patient patient = chosen.at(0).at(0).value<Patient>();
    QCOMPARE(patient.patientID, std::string("11"));
    QCOMPARE(search->nameLabel()->text(), QStringLiteral("Marta Puig Soler (research)"));
    QCOMPARE(search->birthdayLabel()->text(), QStringLiteral("1968-04-12"));
    QTest::qWait(200);
    QCOMPARE(chosen.count(), 1);
}

void tst_PatientSearch::returnPressed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosenId"); // empty: nobody chosen
    QTest::addColumn<QString>("fieldAfter");
    QTest::addColumn<QString>("birthday");
    QTest::addColumn<QString>("trace");
    QTest::newRow("the exact name") << "Anna Lindqvist"
                                    << "15"
                                    << "Anna Lindqvist"
                                    << "1975-12-24"
                                    << "";
    QTest::newRow("one match: its name is put in") << "KV-1006"
                                                   << "16"
                                                   << "Pau Martí Serra"
                                                   << ""
                                                   << ""; // no birth date on the server
    QTest::newRow("impossible birth date") << "KV-1007"
                                           << "17"
                                           << "Laura Gómez Ruiz"
                                           << ""
                                           << "";
    QTest::newRow("several matches") << "KV-100"
                                     << ""
                                     << "KV-100"
                                     << "Birthday"
                                     << "no unique match found";
    QTest::newRow("no match") << "nobody"
                              << ""
                              << "nobody"
                              << "Birthday"
                              << "no match found ";
}

void tst_PatientSearch::returnPressed()
{
    QFETCH(QString, typed);
    QFETCH(QString, chosenId);
    QFETCH(QString, fieldAfter);
    QFETCH(QString, birthday);
    QFETCH(QString, trace);
    QSignalSpy chosen(search, &PatientSearch::patientChosen);
    // The panel as the choice leaves it: a patient without sessions is sent
    // back to the menu by the session loader right after.
    QString birthdayWhenChosen = search->birthdayLabel()->text();
    QObject context;
    connect(search, &PatientSearch::patientChosen, &context,
            [&] { birthdayWhenChosen = search->birthdayLabel()->text(); });
    type(typed);
    QVERIFY(searched(PatientSearch::searchTextFor(typed)));
    TraceCapture traces;
    press(Qt::Key_Return);
    QTest::qWait(100);
    QCOMPARE(chosen.count(), chosenId.isEmpty() ? 0 : 1);
    const QString id =
        chosen.isEmpty() ? QString() : QString::fromStdString(chosen.at(0).at(0).value<Patient>().patientID);
    QCOMPARE(id, chosenId);
    QCOMPARE(field->text(), fieldAfter);
    QCOMPARE(birthdayWhenChosen, birthday);
    QCOMPARE(traces.lines.contains(trace), !trace.isEmpty());
    // Return gives the keyboard back to the window; Ctrl+F returns to the field.
    QVERIFY(!field->hasFocus());
}

void tst_PatientSearch::fieldJoinsItsPopup()
{
    // By hand, from the look of the top bar: the open field loses its lower
    // right rounding to join the popup below it.
    const QString closed = QStringLiteral(
        "QLineEdit#searchLineEdit{border: 1px solid rgb(255,218,195);border-radius: 18px;background-color: "
        "rgb(33, 33, 34);color: white;min-width: 18em;padding: 6px;font: 17px;border-top-left-radius: 0px;"
        "border-bottom-left-radius: 0px;border-left: 0px;}");
    const QString open = QStringLiteral(
        "QLineEdit#searchLineEdit{border: 1px solid rgb(255,218,195);border-radius: 18px;background-color: "
        "rgb(33, 33, 34);color: white;min-width: 18em;padding: 6px;font: 17px;border-top-left-radius: 0px;"
        "border-bottom-left-radius: 0px;border-bottom-right-radius: 0px;border-left: 0px;}");
    QCOMPARE(field->styleSheet(), closed);
    QAbstractItemView *popup = search->completer()->popup();
    QCOMPARE(popup->objectName(), QStringLiteral("completerPopup"));
    QCOMPARE(search->completer()->filterMode(), Qt::MatchContains);
    QCOMPARE(search->completer()->caseSensitivity(), Qt::CaseInsensitive);
    QCOMPARE(search->completer()->maxVisibleItems(), 8);

    type(QStringLiteral("KV"));
    QVERIFY(searched(QStringLiteral("KV")));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(field->styleSheet(), open);
    // The popup keeps its frameless look after every answer's new model.
    QVERIFY(popup->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(popup->windowFlags() & Qt::NoDropShadowWindowHint);
    QVERIFY(!popup->autoFillBackground());
    QCOMPARE(QByteArray(popup->itemDelegate()->metaObject()->className()), QByteArray("QStyledItemDelegate"));

    press(Qt::Key_Escape);
    QTRY_VERIFY(!popup->isVisible());
    QCOMPARE(field->styleSheet(), closed);
    // Typing on with the popup closed keeps the closed look until it opens.
    type(QStringLiteral("-"));
    QVERIFY(searched(QStringLiteral("KV-")));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(field->styleSheet(), open);
}

void tst_PatientSearch::looksRight()
{
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    type(QStringLiteral("KV-10"));
    QVERIFY(searched(QStringLiteral("KV-10")));
    QAbstractItemView *popup = search->completer()->popup();
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(shownEntries(search->completer()).size(), 8);

    // The window with its popup drawn where it is on the screen.
    QImage shot = window->grab().toImage();
    {
        QPainter painter(&shot);
        painter.drawPixmap(window->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
    }
    const QString dir = qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral("."));
    QVERIFY(shot.save(dir + QStringLiteral("/patientsearch-popup.png")));
    // The popup sits right below the field, as wide as it at least.
    const QPoint fieldBottom = field->mapToGlobal(QPoint(0, field->height()));
    QVERIFY(std::abs(popup->mapToGlobal(QPoint(0, 0)).y() - fieldBottom.y()) <= 2);
    QVERIFY(popup->width() >= field->width() - 2);
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(tst_PatientSearch)
#include "tst_patientsearch.moc"

// The patient search of the main window against the stand-in: a doctor types
// identifiers and names, sees the matching patients in the completer's popup
// and chooses one from it or with Return.

#include "MainWindowLogin.h"

#include "app/PatientSearch.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QLabel>
#include <QPainter>
#include <QStandardItemModel>
#include <QUrlQuery>

class tst_PatientSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase() { window.reset(); }
    void firstListFillsTheCompleter();
    void completerShowsMatches_data();
    void completerShowsMatches();
    void chooseFromThePopup();
    void returnPressed_data();
    void returnPressed();
    void fieldJoinsItsPopup();

private:
    // Keys go to the popup while it is open (it has the keyboard then).
    QWidget *keyboard() const
    {
        QAbstractItemView *popup = search->completer()->popup();
        return popup->isVisible() ? static_cast<QWidget *>(popup) : field;
    }
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(keyboard(), c.toLatin1());
    }
    QStringList sent() const
    {
        QStringList texts;
        for (const SentRequest &r : requests->withOperation(QStringLiteral("listPatientsSearch")))
            texts << QUrlQuery(r.url).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
        return texts;
    }
    // Waits for the server's answer to a search for the text.
    bool searched(const QString &text)
    {
        return QTest::qWaitFor([&] { return sent().contains(text); }, 10000) && (QTest::qWait(50), true);
    }
    QStringList shown() const
    {
        QStringList entries;
        for (int r = 0; r < search->completer()->completionModel()->rowCount(); ++r)
            entries << search->completer()->completionModel()->index(r, 0).data().toString();
        return entries;
    }

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
}

void tst_PatientSearch::init()
{
    // Back to an empty field with the keyboard, as after the login.
    search->completer()->popup()->hide();
    const QSignalBlocker quiet(field);
    field->clear();
    search->resetPatientPanel();
    field->setFocus();
    requests = std::make_unique<RequestLog>(window->server());
}

void tst_PatientSearch::firstListFillsTheCompleter()
{
    QStandardItemModel *model = search->model();
    QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Id | Name"));
    // Ordered by identifier; the name carries its tag.
    const QStringList first = {model->index(0, 0).data().toString(), model->index(0, 1).data().toString(),
                               model->index(0, 2).data().toString()};
    QCOMPARE(first,
             (QStringList{"KV-1001 | Marta Puig Soler (research)", "11", "Marta Puig Soler (research)"}));
    QCOMPARE(model->index(8, 0).data().toString(), QStringLiteral("KV-9999 | Test Patient [TEST]"));
    // The first list opens no popup: nobody typed yet.
    QVERIFY(!search->completer()->popup()->isVisible());
}

void tst_PatientSearch::completerShowsMatches_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("searchedFor");
    QTest::addColumn<QStringList>("entries");
    const QStringList all = {"KV-1001 | Marta Puig Soler (research)",
                             "KV-1002 | Jordi Ferrer Vila",
                             "KV-1003 | Núria Castellà i Roig",
                             "KV-1004 | Øystein Åsgård",
                             "KV-1005 | Anna Lindqvist",
                             "KV-1006 | Pau Martí Serra",
                             "KV-1007 | Laura Gómez Ruiz",
                             "KV-1008 | Zoë Brontë-Łukasiewicz · follow-up"};
    // clang-format off
    QTest::newRow("identifier prefix") << "KV-100" << "KV-100" << all;
    QTest::newRow("identifier, other case") << "kv-1005" << "kv-1005" << QStringList{all[4]};
    QTest::newRow("part of a name") << "lindq" << "lindq" << QStringList{all[4]};
    QTest::newRow("name with tag") << "Zo" << "Zo" << QStringList{all[7]};
    QTest::newRow("inserted entry: its identifier") << "KV-1004 | Oy" << "KV-1004" << QStringList{};
    QTest::newRow("separator first: the whole text") << "|Ferrer" << "|Ferrer" << QStringList{};
    QTest::newRow("nobody") << "nobody" << "nobody" << QStringList{};
    // clang-format on
}

void tst_PatientSearch::completerShowsMatches()
{
    QFETCH(QString, typed);
    QFETCH(QString, searchedFor);
    QFETCH(QStringList, entries);
    QSignalSpy changes(field, &QLineEdit::textChanged);
    // Emitted once before every search.
    QSignalSpy searches(window->server(), &ServerVisualizer::cancelDownloadListPatients);
    type(typed);
    QVERIFY(searched(searchedFor));
    QCOMPARE(searches.count(), changes.count());
    QCOMPARE(sent().last(), searchedFor);
    QTRY_COMPARE(shown(), entries);
    QCOMPARE(search->completer()->popup()->isVisible(), !entries.isEmpty());
    // Answers overlapping the first list add no second row for a patient.
    QCOMPARE(search->model()->rowCount(), 9);
}

void tst_PatientSearch::chooseFromThePopup()
{
    QSignalSpy chosen(search, &PatientSearch::patientChosen);
    type(QStringLiteral("KV-1004"));
    QVERIFY(searched(QStringLiteral("KV-1004")));
    QTRY_VERIFY(search->completer()->popup()->isVisible());
    QCOMPARE(shown(), QStringList{"KV-1004 | Øystein Åsgård"});
    QTest::keyClick(keyboard(), Qt::Key_Down);
    // The field sees this Return too, before the popup: still one choice.
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTest::qWait(200);
    QCOMPARE(chosen.count(), 1);
    const Patient patient = chosen.at(0).at(0).value<Patient>();
    QCOMPARE(patient.patientID, std::string("14"));
    QCOMPARE(patient.centerID, std::string("KV-1004"));
    QCOMPARE(field->text(), QStringLiteral("KV-1004 | Øystein Åsgård"));
    QCOMPARE(search->nameLabel()->text(), QStringLiteral("Øystein Åsgård"));
    QCOMPARE(search->birthdayLabel()->text(), QStringLiteral("1990-07-01"));
    // The inserted entry searches its identifier once more.
    QTRY_COMPARE(sent().count(QStringLiteral("KV-1004")), 2);
}

void tst_PatientSearch::returnPressed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosenId"); // empty: nobody chosen
    QTest::addColumn<QString>("fieldAfter");
    QTest::addColumn<QString>("birthday");
    QTest::addColumn<QString>("trace");
    // clang-format off
    QTest::newRow("the exact name") << "Anna Lindqvist" << "15" << "Anna Lindqvist" << "1975-12-24" << "";
    QTest::newRow("one match: its name put in") << "KV-1006" << "16" << "Pau Martí Serra" << "" << "";
    QTest::newRow("impossible birth date") << "KV-1007" << "17" << "Laura Gómez Ruiz" << "" << "";
    QTest::newRow("several") << "KV-100" << "" << "KV-100" << "Birthday" << "no unique match found";
    QTest::newRow("none") << "nobody" << "" << "nobody" << "Birthday" << "no match found ";
    // clang-format on
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
    QVERIFY(searched(typed));
    TraceCapture traces;
    QTest::keyClick(keyboard(), Qt::Key_Return);
    QTest::qWait(100);
    QStringList ids;
    for (const QList<QVariant> &args : chosen)
        ids << QString::fromStdString(args.at(0).value<Patient>().patientID);
    QCOMPARE(ids.join(','), chosenId);
    QCOMPARE(field->text(), fieldAfter);
    QCOMPARE(birthdayWhenChosen, birthday);
    QCOMPARE(traces.lines.filter(QStringLiteral("match found")).join(','), trace);
    QVERIFY(!field->hasFocus());
}

void tst_PatientSearch::fieldJoinsItsPopup()
{
    QFile sheet(qEnvironmentVariable("KELVARIS_SOURCE_DIR") + QStringLiteral("/resources/styleSheet.qss"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
    // Open, the field loses its lower right rounding to join the popup below.
    QCOMPARE(field->styleSheet(), PatientSearch::searchStyleClosed());
    QVERIFY(!field->styleSheet().contains(QLatin1String("border-bottom-right-radius")));
    QVERIFY(PatientSearch::searchStyleOpen().contains(
        QLatin1String("border-bottom-right-radius: 0px;border-left")));
    QAbstractItemView *popup = search->completer()->popup();
    type(QStringLiteral("KV-10"));
    QVERIFY(searched(QStringLiteral("KV-10")));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(field->styleSheet(), PatientSearch::searchStyleOpen());
    // Still configured after the answer's new model.
    QCOMPARE(popup->objectName(), QStringLiteral("completerPopup"));
    QVERIFY(popup->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(QByteArray(popup->itemDelegate()->metaObject()->className()), QByteArray("QStyledItemDelegate"));
    QVERIFY(std::abs(popup->mapToGlobal(QPoint(0, 0)).y() -
                     field->mapToGlobal(QPoint(0, field->height())).y()) <= 2);

    // The window with its popup drawn where it is on the screen.
    QImage shot = window->grab().toImage();
    QPainter(&shot).drawPixmap(window->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
    QVERIFY(shot.save(qEnvironmentVariable("KELVARIS_SCREENSHOT_DIR", QStringLiteral(".")) +
                      QStringLiteral("/patientsearch-popup.png")));
    qApp->setStyleSheet(QString());

    QTest::keyClick(keyboard(), Qt::Key_Escape);
    QTRY_VERIFY(!popup->isVisible());
    QCOMPARE(field->styleSheet(), PatientSearch::searchStyleClosed());
    type(QStringLiteral("0"));
    QVERIFY(searched(QStringLiteral("KV-100")));
    QTRY_VERIFY(popup->isVisible());
    QCOMPARE(field->styleSheet(), PatientSearch::searchStyleOpen());
}

QTEST_MAIN(tst_PatientSearch)
#include "tst_patientsearch.moc"

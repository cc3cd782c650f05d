// The report's HTML: escaping, fragments, page assembly, statistics and the
// template readers. No web engine, no network.

#include "ReportTestSupport.h"

#include "reports/ReportPage.h"
#include "reports/ReportTemplates.h"
#include "reports/SectionWidgetList.h"
#include "reports/SectionWidgetStats.h"
#include "reports/SectionWidgetText.h"
#include "reports/SectionWidgetTextAndPhoto.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>

class tst_ReportPage : public QObject
{
    Q_OBJECT

private slots:
    void escapeText_data();
    void escapeText();
    void safeImageSource_data();
    void safeImageSource();
    void assembleFillsOnlyTheTemplatesPlaceholders();
    void assembleImagesBlock_data();
    void assembleImagesBlock();
    void textSection_data();
    void textSection();
    void listSection_data();
    void listSection();
    void textAndPhotoSection_data();
    void textAndPhotoSection();
    void tableCellsAreText_data();
    void tableCellsAreText();
    void statisticsOfASession();
    void statisticsBlockCarriesTheCounts();
    void encodeImageBringsTheLongerSideTo2000_data();
    void encodeImageBringsTheLongerSideTo2000();
    void clinicsOfATemplateList();
    void templateSectionsOfKnownTypes();
};

void tst_ReportPage::escapeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("markup and placeholder") << "<&[sections]"
                                            << "&lt;&amp;&#91;sections]";
    QTest::newRow("attribute break-out") << "\"><img src=x>"
                                         << "&quot;&gt;&lt;img src=x&gt;";
    QTest::newRow("newlines") << "one\ntwo\n"
                              << "one<br>two<br>";
}

void tst_ReportPage::escapeText()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ReportPage::escapeText(text), expected);
}

void tst_ReportPage::safeImageSource_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");
    QTest::newRow("script") << "javascript:x"
                            << "";
    QTest::newRow("local file") << "file:///etc/passwd"
                                << "";
    QTest::newRow("html data") << "data:text/html,<script>x</script>"
                               << "";
    QTest::newRow("png data") << "data:image/png;base64,iVBO"
                              << "data:image/png;base64,iVBO";
    QTest::newRow("https with query") << "https://h.example/l.png?a=1&b=\"2\""
                                      << "https://h.example/l.png?a=1&amp;b=&quot;2&quot;";
    QTest::newRow("http") << "http://h.example/[x].png"
                          << "http://h.example/&#91;x].png";
}

void tst_ReportPage::safeImageSource()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    QCOMPARE(ReportPage::safeImageSource(source), expected);
}

void tst_ReportPage::assembleFillsOnlyTheTemplatesPlaceholders()
{
    ReportPage::Fields fields;
    fields.logo = QStringLiteral("javascript:x");
    fields.date = QStringLiteral("07/12/2026");
    fields.patientName = QStringLiteral("<&[sections]");
    fields.doctorName = QStringLiteral("\"><img src=x>");
    fields.serverName = QStringLiteral("demo [doctorName]");
    const QString page = ReportPage::assemble(
        QStringLiteral(
            "<img src=\"[logo]\">[Current Date]|[patientName]|[doctorName]|[serverName]|[sections]"),
        fields, QStringLiteral("<div>S</div>"), false, {});
    QCOMPARE(page, QStringLiteral("<img src=\"\">07/12/2026|&lt;&amp;&#91;sections]|&quot;&gt;&lt;img "
                                  "src=x&gt;|demo &#91;doctorName]|<div>S</div>"));
}

void tst_ReportPage::assembleImagesBlock_data()
{
    QTest::addColumn<bool>("withImages");
    QTest::addColumn<QStringList>("images");
    QTest::addColumn<QString>("expected");
    QTest::newRow("no label chosen: untouched") << false << QStringList{} << "<p>[dermatoscopicImgs]</p>";
    QTest::newRow("two images after the page")
        << true << QStringList{"<i1>", "<i2>"} << "<p><i1><i2></p><div class = \"pagina-a4\"><i1><i2></div>";
    QTest::newRow("chosen labels without pictures")
        << true << QStringList{} << "<p></p><div class = \"pagina-a4\"></div>";
}

void tst_ReportPage::assembleImagesBlock()
{
    QFETCH(bool, withImages);
    QFETCH(QStringList, images);
    QFETCH(QString, expected);
    QCOMPARE(ReportPage::assemble(QStringLiteral("<p>[dermatoscopicImgs]</p>"), {}, {}, withImages, images),
             expected);
}

void tst_ReportPage::textSection_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("switchedOn");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text with markup and newline")
        << "Notes %2"
        << "a\n<b>x</b>" << true
        << "<div class=\"section\"><h2>Notes %2</h2><p>a<br>&lt;b&gt;x&lt;/b&gt;</p></div>";
    QTest::newRow("script stays text")
        << "S"
        << "<script>document.title='x'</script>" << true
        << "<div class=\"section\"><h2>S</h2><p>&lt;script&gt;document.title='x'&lt;/script&gt;</p></div>";
    QTest::newRow("empty text disappears") << "Comments"
                                           << "" << true << "";
    QTest::newRow("switched off") << "Notes"
                                  << "text" << false << "";
}

void tst_ReportPage::textSection()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, switchedOn);
    QFETCH(QString, expected);
    QWidget parent;
    SectionWidgetText section(QJsonObject{{"type", "0"}, {"title", title}, {"text", text}}, &parent);
    section.switchButton->setChecked(switchedOn);
    QCOMPARE(section.html(), expected);
}

void tst_ReportPage::listSection_data()
{
    QTest::addColumn<bool>("exclusive");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QString>("expected");
    QTest::newRow("several ticked")
        << false << QList<int>{0, 2}
        << "<div "
           "class=\"section\"><h2>Risk</h2><ul><li>&#91;dermatoscopicImgs]</li><li>&lt;c&gt;</li></ul></div>";
    QTest::newRow("exclusive: a paragraph")
        << true << QList<int>{1} << "<div class=\"section\"><h2>Risk</h2><p>b</p></div>";
    QTest::newRow("exclusive: the last tick wins")
        << true << QList<int>{0, 1} << "<div class=\"section\"><h2>Risk</h2><p>b</p></div>";
    QTest::newRow("nothing ticked disappears") << false << QList<int>{} << "";
}

void tst_ReportPage::listSection()
{
    QFETCH(bool, exclusive);
    QFETCH(QList<int>, ticked);
    QFETCH(QString, expected);
    QWidget parent;
    SectionWidgetList section(QJsonObject{{"type", exclusive ? "3" : "1"},
                                          {"title", "Risk"},
                                          {"items", QJsonArray{"[dermatoscopicImgs]", "b", "<c>"}}},
                              &parent, exclusive);
    QCOMPARE(int(section.rows.size()), 3);
    for (int row : ticked)
        section.rows[row].first->click();
    QCOMPARE(section.html(), expected);
}

void tst_ReportPage::textAndPhotoSection_data()
{
    QTest::addColumn<QString>("photo");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("script photo dropped") << "javascript:x"
                                          << "t\nu"
                                          << "<div class=\"section\"><h2>P</h2><div class=\"flexDiv\"><img  "
                                             "src = \"\" class = \"roundIMG\"  ><p "
                                             "align = \"justify\">t<br>u</p></div></div>";
    QTest::newRow("image data kept, %1 in text")
        << "data:image/svg+xml;base64,QQ=="
        << "%1"
        << "<div class=\"section\"><h2>P</h2><div class=\"flexDiv\"><img  src = "
           "\"data:image/svg+xml;base64,QQ==\" "
           "class = \"roundIMG\"  ><p align = \"justify\">%1</p></div></div>";
    QTest::newRow("empty text disappears") << "data:image/png;base64,QQ=="
                                           << ""
                                           << "";
}

void tst_ReportPage::textAndPhotoSection()
{
    QFETCH(QString, photo);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QWidget parent;
    SectionWidgetTextAndPhoto section(
        QJsonObject{{"type", "4"}, {"title", "P"}, {"text", text}, {"photo", photo}}, &parent);
    QVERIFY(section.isHidden());
    QCOMPARE(section.html(), expected);
}

void tst_ReportPage::tableCellsAreText_data()
{
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QString>("expected");
    QTest::newRow("header and markup in cells")
        << QStringList{"Lesion", "Change"} << QList<QStringList>{{"0_3", "<b>grew</b> [sections]\n2 mm"}}
        << "<table class=\"reportTable\"><thead><tr><th>Lesion</th><th>Change</th></tr></thead><tbody><tr>"
           "<td>0_3</td><td>&lt;b&gt;grew&lt;/b&gt; &#91;sections]<br>2 mm</td></tr></tbody></table>";
    QTest::newRow("no header, two rows")
        << QStringList{} << QList<QStringList>{{"a"}, {"\"><img src=x>"}}
        << "<table class=\"reportTable\"><tbody><tr><td>a</td></tr><tr><td>&quot;&gt;&lt;img "
           "src=x&gt;</td></tr></tbody></table>";
}

void tst_ReportPage::tableCellsAreText()
{
    QFETCH(QStringList, header);
    QFETCH(QList<QStringList>, rows);
    QFETCH(QString, expected);
    QCOMPARE(ReportPage::table(header, rows), expected);
}

void tst_ReportPage::statisticsOfASession()
{
    const auto session = ReportTestSupport::makeSession();
    const SectionWidgetStats::Counts counts = SectionWidgetStats::countsOf(*session);
    QCOMPARE(counts.clinicalImages, 4);
    QCOMPARE(counts.lesions, 5);
    QCOMPARE(counts.dermatoscopicImages, 4);
    QCOMPARE(counts.exeresis, 1);
    QCOMPARE(counts.followUp, 1);
}

void tst_ReportPage::statisticsBlockCarriesTheCounts()
{
    SectionWidgetStats::Counts counts;
    counts.clinicalImages = 31;
    counts.dermatoscopicImages = 12;
    counts.lesions = 40;
    counts.exeresis = 2;
    counts.followUp = 7;
    const QString block = SectionWidgetStats::statisticsBlock(counts);
    QVERIFY(block.contains("Clinical Images:</div><div style=\"flex:0.5\"> 31</div>"));
    QVERIFY(block.contains("Dermatoscopic Images:</div><div style=\"flex:0.5\"> 12</div>"));
    QVERIFY(block.contains("Lesions detected:</div><div style=\"flex:0.5\"> 40</div>"));
    QVERIFY(block.contains("Exceresis:</div><div style=\"flex:0.5\"> 2</div>"));
    QVERIFY(block.contains("Follow up:</div><div style=\"flex:0.5\"> 7</div>"));
}

void tst_ReportPage::encodeImageBringsTheLongerSideTo2000_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("device picture") << QSize(2400, 1800) << QSize(2000, 1500);
    QTest::newRow("small picture enlarged") << QSize(400, 300) << QSize(2000, 1500);
}

void tst_ReportPage::encodeImageBringsTheLongerSideTo2000()
{
    QFETCH(QSize, size);
    QFETCH(QSize, expected);
    const QString element = ReportPage::encodeImage(ReportTestSupport::jpeg(size, Qt::red));
    const QString prefix = QStringLiteral("<img  src=\"data:image/jpg;base64,");
    const QString suffix = QStringLiteral("\" width=\"100%\" >");
    QVERIFY(element.startsWith(prefix));
    QVERIFY(element.endsWith(suffix));
    const QByteArray base64 =
        element.mid(prefix.size(), element.size() - prefix.size() - suffix.size()).toLatin1();
    QCOMPARE(QImage::fromData(QByteArray::fromBase64(base64), "JPG").size(), expected);
    QCOMPARE(ReportPage::encodeImage(QByteArray("not a jpeg")), QString());
}

void tst_ReportPage::clinicsOfATemplateList()
{
    const QJsonArray list{
        QJsonObject{{"name", "A"},
                    {"files", QJsonArray{QJsonObject{{"filename", "a1"}, {"url", "https://s/a1"}},
                                         QJsonObject{{"filename", "a2"}, {"url", "https://s/a2"}}}}},
        QJsonObject{{"name", "B"},
                    {"files", QJsonArray{QJsonObject{{"filename", "b1"}, {"url", "https://s/b1"}}}}},
        QJsonObject{{"name", "A"},
                    {"files", QJsonArray{QJsonObject{{"filename", "a3"}, {"url", "https://s/a3"}}}}},
        QJsonValue(7)};
    const auto clinics = ReportTemplates::clinics(QJsonDocument(list));
    QVERIFY(clinics.has_value());
    QCOMPARE(int(clinics->size()), 3);
    QCOMPARE(clinics->at(0).name, QString("A"));
    QCOMPARE(int(clinics->at(0).files.size()), 1);
    QCOMPARE(clinics->at(0).files[0].first, QString("a3"));
    QCOMPARE(clinics->at(1).files[0].second, QUrl("https://s/b1"));
    QCOMPARE(clinics->at(2).name, QString());
    QVERIFY(!ReportTemplates::clinics(QJsonDocument(QJsonObject{{"name", "A"}})).has_value());
    QVERIFY(!ReportTemplates::clinics(QJsonDocument()).has_value());
}

void tst_ReportPage::templateSectionsOfKnownTypes()
{
    const QJsonObject document{
        {"logo", "data:image/png;base64,QQ=="},
        {"sections",
         QJsonArray{QJsonObject{{"type", "0"}, {"title", "a"}}, QJsonObject{{"type", "9"}, {"title", "b"}},
                    QJsonObject{{"title", "c"}}, QJsonObject{{"type", 2}, {"title", "d"}},
                    QJsonObject{{"type", "4"}, {"title", "e"}}}}};
    const auto parsed = ReportTemplates::parseTemplate(QJsonDocument(document));
    QVERIFY(parsed.has_value());
    QCOMPARE(parsed->logo, QString("data:image/png;base64,QQ=="));
    QCOMPARE(int(parsed->sections.size()), 2);
    QCOMPARE(parsed->sections[0].value("title").toString(), QString("a"));
    QCOMPARE(parsed->sections[1].value("title").toString(), QString("e"));
    QVERIFY(!ReportTemplates::parseTemplate(QJsonDocument(QJsonArray{})).has_value());
}

QTEST_MAIN(tst_ReportPage)
#include "tst_reportpage.moc"

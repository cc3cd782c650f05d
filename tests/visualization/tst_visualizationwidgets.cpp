#include "visualization/QtVisualizationWidgets.h"

#include <QtTest>

class tst_VisualizationWidgets : public QObject
{
    Q_OBJECT

private slots:
    void constructs();
};

void tst_VisualizationWidgets::constructs()
{
    QtVisualizationWidgets widget({"frontal", "right", "back", "left"}, 0, nullptr);
    QVERIFY(!widget.isBuilt());
    QCOMPARE(widget.getCurrentSceneIndex(), int(QtVisualizationWidgets::noScene));
    widget.changeSceneRealIndex(7);
    widget.selectImageAt(3, 99);
    widget.setSplitterStates(widget.getSplitterStates());
    widget.rebuildExternalScene();
    widget.dermatoUpdatePreview();
    widget.addCapturedLesions({});
    widget.changeDermatoImage({});
    widget.focusLesion({});
    widget.showNextImage();
    widget.showPreviousImage();
    QCOMPARE(widget.currentImagePosition(), std::make_pair(QString(), -1));
}

QTEST_MAIN(tst_VisualizationWidgets)
#include "tst_visualizationwidgets.moc"

#include "visualization/QtVisualizationWidgets.h"

void QtVisualizationWidgets::showHybridLayout() {}
void QtVisualizationWidgets::showDermoscopicLayout() {}
void QtVisualizationWidgets::showClinicalLayout() {}
QList<QByteArray> QtVisualizationWidgets::getSplitterStates() const
{
    return QList<QByteArray>(m_splitterStates.begin(), m_splitterStates.end());
}
void QtVisualizationWidgets::setSplitterStates(QList<QByteArray>) {}
void QtVisualizationWidgets::focusLesion(QSharedPointer<LesionVisualizer>) {}

#include "visualization/QtVisualizationWidgets.h"

void QtVisualizationWidgets::rebuildExternalScene() {}

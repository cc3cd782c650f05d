#pragma once

#include "session/SessionVisualizer.h"
#include "visualization/ui_SchemeMultipleSessions.h"

#include <QGraphicsScene>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <utility>
#include <vector>

class SinglePositionScheme;

// The four body silhouettes of a session comparison, each with the camera
// positions of both sessions, so that a click on a camera position shows that
// image in both sessions. Session-1 rectangles stay almost invisible until the
// show-all button is checked.
class SchemeMultipleSessions : public QWidget
{
    Q_OBJECT

public:
    static constexpr int schemeHeight = 300;
    static constexpr double hiddenOpacity = 0.01;

    // height is not used: the silhouettes are always 300 high.
    SchemeMultipleSessions(std::vector<QSharedPointer<SessionVisualizer>> sessions, int height,
                           QWidget *parent = nullptr);

    // The names of the four views, in their order.
    static const std::array<QString, 4> &schemeNames();
    // The view of a silhouette ("frontal", "back", "left", "right"), or null.
    SinglePositionScheme *positionView(const QString &name) const;
    QGraphicsScene *positionScene(const QString &name) const;
    QPushButton *showAllButton() const { return ui.showAllButton; }

    // Adds the silhouette at path to scene, 300 high and centred in a box
    // boxWidth wide; an SVG that is missing or has no height adds nothing
    // (null).
    static QGraphicsItem *addSilhouette(QGraphicsScene *scene, const QString &path, int boxWidth);

    // Selects the session-0 rectangle of imageIndex in view as a click on its
    // centre would; nothing happens when there is none.
    void selectCameraRectangle(SinglePositionScheme *view, int imageIndex);

signals:
    void schemeClicked(std::vector<std::pair<int, int>> result);

public slots:
    void on_showAllButton_clicked(bool checked);

private:
    void buildScheme(int index);
    void addSessionRectangles(QGraphicsScene *scene, const QString &schemeName, int boxWidth,
                              int sessionIndex);
    void positionClicked(const QString &positionName, int session0Index, int session1Index);

    Ui::SchemeMultipleSessionsClass ui;
    std::vector<QSharedPointer<SessionVisualizer>> m_sessions;
    std::array<QGraphicsScene *, 4> m_scenes{};
    std::array<SinglePositionScheme *, 4> m_views{};
};

#pragma once

#include <QListView>

// The version list of a dermatoscopic viewer pane: the pointing hand over an
// entry, the arrow elsewhere; otherwise a plain list view.
class QtMovableListView : public QListView
{
    Q_OBJECT

public:
    explicit QtMovableListView(QWidget *parent = nullptr);

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
};

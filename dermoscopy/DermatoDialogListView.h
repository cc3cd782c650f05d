#pragma once

#include <QListView>

// The item lists of the dermatoscopic viewer: a press on an item whose
// images are not downloaded yet asks for them instead of selecting it.
class DermatoDialogListView : public QListView
{
    Q_OBJECT

public:
    explicit DermatoDialogListView(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};

#pragma once

#include <QIcon>
#include <QPushButton>

// A push button whose icon changes while hovered and while checked. Without a
// hover icon path the one SVG is shown in the accent colour at rest and in
// black when hovered or checked; otherwise two SVG files with their own
// colours are used. A disabled button keeps the icon it has.
class CustomHoverButton : public QPushButton
{
    Q_OBJECT

public:
    CustomHoverButton(const QString &iconPath, const QString &hoverIconPath, const QSize &size);

    QIcon normalIcon;
    QIcon hoverIcon;

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void checkStateSet() override;
};

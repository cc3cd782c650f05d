#include "widgets/CustomHoverButton.h"

#include "widgets/IconHelpers.h"

CustomHoverButton::CustomHoverButton(const QString &iconPath, const QString &hoverIconPath, const QSize &size)
    : QPushButton(nullptr)
{
    if (hoverIconPath.isEmpty()) {
        normalIcon = svgToIcon(recolorSvg(iconPath, QColor(255, 218, 195)), size);
        hoverIcon = svgToIcon(recolorSvg(iconPath, QColor(0, 0, 0)), size);
    } else {
        normalIcon = QIcon(svgFileToPixmap(iconPath, size));
        hoverIcon = QIcon(svgFileToPixmap(hoverIconPath, size));
    }
    connect(this, &QAbstractButton::toggled, this,
            [this](bool checked) { setIcon(checked ? hoverIcon : normalIcon); });
    setIcon(normalIcon);
}

void CustomHoverButton::enterEvent(QEnterEvent *event)
{
    if (isEnabled())
        setIcon(hoverIcon);
    QPushButton::enterEvent(event);
}

void CustomHoverButton::leaveEvent(QEvent *event)
{
    if (!isChecked() && isEnabled())
        setIcon(normalIcon);
    QPushButton::leaveEvent(event);
}

void CustomHoverButton::checkStateSet()
{
    setIcon(isChecked() ? hoverIcon : normalIcon);
    QPushButton::checkStateSet();
}

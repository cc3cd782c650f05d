#include "widgets/ButtonContainer.h"

#include "widgets/DoubleClickButton.h"

#include <QHBoxLayout>

ButtonContainer::ButtonContainer() : QWidget(nullptr)
{
    setObjectName(QStringLiteral("widgetLegendTopBar"));
    setContentsMargins(4, 4, 4, 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    layout = new QHBoxLayout(this);
    layout->setSpacing(5);
    layout->setContentsMargins(4, 0, 4, 0);
}

void ButtonContainer::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int n = buttons.size();
    if (n == 0)
        return;
    const QMargins margins = layout->contentsMargins();
    const int share = (width() - margins.left() - margins.right() - layout->spacing() * (n - 1)) / n;
    const bool showCaptions = share >= minimumCaptionWidth;
    for (DoubleClickButton *button : std::as_const(buttons)) {
        if (button)
            button->setText(showCaptions ? button->fullText : QString());
    }
}

#pragma once

#include <QProxyStyle>

// The main window's style: a proxy over the current style, the one place to
// adjust style hints for the whole window.
//
// A proxy owns its base style and re-parents it. The application's own style
// (and the style sheet style that wraps it) must never be handed over, so for
// those the proxy builds its own instance of the desktop style instead.
class MyProxyStyle : public QProxyStyle
{
    Q_OBJECT

public:
    explicit MyProxyStyle(QStyle *baseStyle = nullptr);

    int styleHint(StyleHint hint, const QStyleOption *option = nullptr, const QWidget *widget = nullptr,
                  QStyleHintReturn *returnData = nullptr) const override;
};

#include "widgets/MyProxyStyle.h"

#include <QApplication>

namespace {

QStyle *ownableBase(QStyle *style)
{
    if (!style || style == QApplication::style() || style->inherits("QStyleSheetStyle"))
        return nullptr;
    return style;
}

} // namespace

MyProxyStyle::MyProxyStyle(QStyle *baseStyle) : QProxyStyle(ownableBase(baseStyle)) {}

int MyProxyStyle::styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                            QStyleHintReturn *returnData) const
{
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

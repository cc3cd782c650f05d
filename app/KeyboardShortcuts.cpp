#include "app/KeyboardShortcuts.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QWidget>

namespace {

const char *const kPlainToolTip = "kelvarisPlainToolTip";

void bind(QAbstractButton *button, const QKeySequence &key)
{
    if (!button)
        return;
    button->setShortcut(key);
    button->setProperty(kPlainToolTip, button->toolTip());
    button->setToolTip(KeyboardShortcuts::toolTipWithShortcut(button->toolTip(), key));
}

} // namespace

QString KeyboardShortcuts::toolTipWithShortcut(const QString &toolTip, const QKeySequence &key)
{
    return QStringLiteral("%1 (%2)").arg(toolTip, key.toString(QKeySequence::NativeText));
}

void KeyboardShortcuts::install(const Buttons &buttons)
{
    bind(buttons.hybridView, QKeySequence(Qt::CTRL | Qt::Key_1));
    bind(buttons.dermoscopicView, QKeySequence(Qt::CTRL | Qt::Key_2));
    bind(buttons.clinicalView, QKeySequence(Qt::CTRL | Qt::Key_3));
    bind(buttons.backToMenu, QKeySequence(Qt::ALT | Qt::Key_Left));
    bind(buttons.search, QKeySequence(Qt::CTRL | Qt::Key_F));
}

void KeyboardShortcuts::nameButtons(QWidget *window)
{
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (!button->accessibleName().isEmpty())
            continue;
        const QVariant plain = button->property(kPlainToolTip);
        QString name = plain.isValid() ? plain.toString() : button->toolTip();
        if (name.isEmpty())
            name = button->text().remove(QLatin1Char('&'));
        // The clear button inside a line edit.
        if (name.isEmpty() && qobject_cast<QLineEdit *>(button->parentWidget()))
            name = QCoreApplication::translate("KeyboardShortcuts", "Clear the field");
        // The button a tool bar shows for the tools that do not fit.
        if (name.isEmpty() && button->objectName() == QLatin1String("qt_toolbar_ext_button"))
            name = QCoreApplication::translate("KeyboardShortcuts", "More tools");
        button->setAccessibleName(name);
    }
}

// The lesion context menu of a session and the editing it offers.
#include "session/SessionVisualizer.h"

#include "widgets/Trace.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QMenu>
#include <QWidgetAction>

void SessionVisualizer::createContextMenu()
{
    if (m_menu)
        return;
    m_menu = std::make_unique<QMenu>();
    m_menu->setObjectName(QStringLiteral("lesionMenu"));
}

QMenu *SessionVisualizer::getContextMenu(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion) {
        kelvaris::trace(QStringLiteral("NULL"));
        return nullptr;
    }
    createContextMenu();
    m_currentLesion = lesion;
    return m_menu.get();
}

QHBoxLayout *SessionVisualizer::createContextMenuLayout()
{
    return new QHBoxLayout;
}

QHBoxLayout *SessionVisualizer::getContextMenuLayout(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion) {
        kelvaris::trace(QStringLiteral("NULL"));
        return nullptr;
    }
    m_currentLesion = lesion;
    return createContextMenuLayout();
}

void SessionVisualizer::changeLabel(QButtonGroup *group, const QMap<QString, QAbstractButton *> &buttons,
                                    bool deferred)
{
    Q_UNUSED(group)
    Q_UNUSED(buttons)
    Q_UNUSED(deferred)
}

QWidget *SessionVisualizer::getExtraInfoWidget() const
{
    return m_infoWidget;
}

void SessionVisualizer::setExtraInfoVisible(bool visible)
{
    m_extraInfoVisible = visible;
}

void SessionVisualizer::addExternalFile(const QString &path)
{
    Q_UNUSED(path)
    emit externalImageFinished(false);
}

bool SessionVisualizer::isCompleteJpeg(const QByteArray &bytes)
{
    return bytes.startsWith("\xFF\xD8");
}

QString SessionVisualizer::newExternalDermatoscopicId(const QDateTime &now)
{
    return now.toString(QStringLiteral("yyyyMMdd")) + QLatin1Char('_') +
           QString::number(now.toMSecsSinceEpoch()) + QLatin1Char('e');
}

void SessionVisualizer::aboutToHideContextMenu()
{
    if (m_pendingLabel.isEmpty())
        return;
    const QString label = m_pendingLabel;
    m_pendingLabel.clear();
    if (m_currentLesion)
        m_currentLesion->setLabel(label);
}

void SessionVisualizer::addExternal() {}

void SessionVisualizer::deleteCurrentLesion() {}

void SessionVisualizer::showLesionsExtraInfo()
{
    kelvaris::trace(QStringLiteral("DINS SessionVisualizer::showLesionsExtraInfo"));
    setExtraInfoVisible(true);
}

// What changed since the last visit, as QtVisualizationWidgets shows it: the
// summary line and the "Changed only" filter above the lesion list, the list
// of lesions that are no longer there, and showing one lesion on its image.
#include "visualization/QtVisualizationWidgets.h"

#include "session/LesionsModel.h"
#include "session/MultiRoleFilterProxyModel.h"
#include "visualization/ListView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

QWidget *QtVisualizationWidgets::buildChangeHeader()
{
    m_changeHeader = new QWidget(m_listViewFrame);
    m_changeHeader->setObjectName(QStringLiteral("changeSummaryHeader"));
    auto *row = new QHBoxLayout(m_changeHeader);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(8);

    m_changeSummaryLabel = new QLabel(m_changeHeader);
    m_changeSummaryLabel->setObjectName(QStringLiteral("changeSummaryLabel"));
    m_changeSummaryLabel->setTextFormat(Qt::PlainText);
    m_changeSummaryLabel->setStyleSheet(QStringLiteral("color: rgb(255, 218, 195); font: 15px;"));
    row->addWidget(m_changeSummaryLabel, 1);

    m_goneButton = new QToolButton(m_changeHeader);
    m_goneButton->setObjectName(QStringLiteral("goneLesionsButton"));
    m_goneButton->setText(tr("Not seen now"));
    m_goneButton->setToolTip(tr("Show a lesion of the last visit that this session does not have"));
    m_goneButton->setAccessibleName(m_goneButton->text());
    m_goneButton->setPopupMode(QToolButton::InstantPopup);
    m_goneButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_goneButton->setStyleSheet(
        QStringLiteral("QToolButton { color: rgb(255, 218, 195); border: 1px solid rgb(130, 130, 136); "
                       "border-radius: 10px; padding: 2px 10px; background-color: transparent; font: 14px; }"
                       "QToolButton:hover { border-color: rgb(255, 218, 195); }"
                       "QToolButton::menu-indicator { image: none; width: 0px; }"));
    m_goneButton->setMenu(new QMenu(m_goneButton));
    m_goneButton->menu()->setObjectName(QStringLiteral("goneLesionsMenu"));
    row->addWidget(m_goneButton);

    m_changedOnlyButton = new QPushButton(tr("Changed only"), m_changeHeader);
    m_changedOnlyButton->setObjectName(QStringLiteral("changedOnlyButton"));
    m_changedOnlyButton->setCheckable(true);
    m_changedOnlyButton->setToolTip(tr("List only the lesions that are new, grown or shrunk since the last "
                                       "visit (N, Shift+N step through them)"));
    m_changedOnlyButton->setAccessibleName(m_changedOnlyButton->text());
    m_changedOnlyButton->setStyleSheet(QStringLiteral(
        "QPushButton { color: rgb(255, 218, 195); border: 1px solid rgb(255, 218, 195); "
        "border-radius: 10px; padding: 2px 10px; background-color: transparent; font: 14px; }"
        "QPushButton:checked { color: rgb(28, 28, 30); background-color: rgb(255, 218, 195); }"
        "QPushButton:disabled { color: rgb(110, 110, 110); border-color: rgb(110, 110, 110); }"));
    connect(m_changedOnlyButton, &QPushButton::toggled, m_listView, &ListView::setChangedOnly);
    row->addWidget(m_changedOnlyButton);

    m_changeHeader->hide();
    return m_changeHeader;
}

void QtVisualizationWidgets::setChangeSummary(std::shared_ptr<const LesionChangeSummary> summary)
{
    // Only a summary of the session shown here means anything for its rows.
    if (summary && (!m_session || summary->principalSessionId() != m_session->getSessionId()))
        summary.reset();
    m_changes = std::move(summary);
    m_listView->setChangeSummary(m_changes);
    updateChangeHeader();
}

void QtVisualizationWidgets::updateChangeHeader()
{
    const bool shown = m_changes && !m_changes->isEmpty();
    m_changeHeader->setVisible(shown);
    QMenu *menu = m_goneButton->menu();
    menu->clear();
    if (!shown) {
        m_changeSummaryLabel->clear();
        return;
    }
    const LesionChangeSummary &summary = *m_changes;
    m_changeSummaryLabel->setText(summary.text());
    m_changeSummaryLabel->setAccessibleName(summary.text());
    if (summary.isFirstVisit()) {
        m_changeSummaryLabel->setToolTip(tr("No earlier session of this patient to compare with"));
    } else {
        QString tip = tr("Compared with the session of %1. Grown or shrunk: the radius changed by at least "
                         "%2 % and by at least %3.")
                          .arg(LesionChangeSummary::dateText(summary.referenceDate()))
                          .arg(summary.thresholds().relative * 100.0)
                          .arg(summary.thresholds().absolute);
        if (const int unmeasured = summary.count(LesionChangeSummary::Status::Unmeasured))
            tip += QLatin1Char('\n') +
                   tr("%n lesion(s) without a measured radius on one side.", nullptr, unmeasured);
        m_changeSummaryLabel->setToolTip(tip);
    }
    // Nothing new, grown or shrunk: the filter would only empty the list.
    const bool anyChanged = !summary.changedLesions().empty();
    if (!anyChanged && m_changedOnlyButton->isChecked())
        m_changedOnlyButton->setChecked(false);
    m_changedOnlyButton->setEnabled(anyChanged);

    for (const LesionChangeSummary::Gone &gone : summary.gone()) {
        QAction *action = menu->addAction(LesionChangeSummary::describe(gone));
        const QWeakPointer<LesionVisualizer> lesion = gone.lesion;
        connect(action, &QAction::triggered, this, [this, lesion] {
            if (const QSharedPointer<LesionVisualizer> strong = lesion.toStrongRef())
                emit goneLesionActivated(strong);
        });
    }
    m_goneButton->setText(tr("Not seen now (%1)").arg(summary.gone().size()));
    m_goneButton->setAccessibleName(m_goneButton->text());
    m_goneButton->setVisible(!summary.gone().empty());
}

bool QtVisualizationWidgets::showLesionOnImage(const QSharedPointer<LesionVisualizer> &lesion)
{
    if (!lesion || !m_session || !m_session->containsLesion(lesion))
        return false;
    // A listed lesion is selected in the list as a click would; the others
    // (without dermatoscopic images) only on the image.
    const QModelIndex index = m_listView->proxyIndexOf(lesion);
    if (index.isValid()) {
        m_selectedRow = m_listView->getProxyModel()->mapToSource(index).row();
        m_listView->setHighlightedRow(index.row());
        m_listView->scrollTo(index);
        m_currentListIndex = index;
    } else {
        m_selectedRow = -1;
        m_listView->clearHighlight();
    }
    showLesion(lesion);
    highlightLesion(lesion);
    if (lesion->hasDermatoscopicGroups())
        changeDermatoImage(lesion);
    return true;
}

#include "app/ChangeSummaryFlow.h"

#include "app/SessionLoader.h"
#include "app/kelvarisVisualizer.h"
#include "session/LesionVisualizer.h"
#include "session/LesionsModel.h"
#include "session/SessionVisualizer.h"
#include "session/SessionsModel.h"
#include "visualization/ListView.h"
#include "visualization/QtVisualizationWidgets.h"
#include "widgets/CustomComboBox.h"

#include <QAbstractButton>
#include <QKeySequence>
#include <QShortcut>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kNotificationMilliseconds = 4000;
}

ChangeSummaryFlow::ChangeSummaryFlow(kelvarisVisualizer *window,
                                     const LesionChangeSummary::Thresholds &thresholds)
    : QObject(window), m_window(window), m_thresholds(thresholds)
{
}

void ChangeSummaryFlow::connectTo(SessionLoader *loader)
{
    m_loader = loader;
    // Every change of the links (loading, pairing, undo, merge) regroups.
    connect(loader, &SessionLoader::lesionsRegrouped, this, &ChangeSummaryFlow::recompute);
    connect(loader, &SessionLoader::principalSessionShown, this, &ChangeSummaryFlow::recompute);
    if (QtVisualizationWidgets *primary = loader->primaryView())
        connect(primary, &QtVisualizationWidgets::goneLesionActivated, this,
                &ChangeSummaryFlow::showGoneLesion);

    auto *next = new QShortcut(QKeySequence(Qt::Key_N), m_window);
    next->setObjectName(QStringLiteral("nextChangeShortcut"));
    connect(next, &QShortcut::activated, this, &ChangeSummaryFlow::showNextChange);
    auto *previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_N), m_window);
    previous->setObjectName(QStringLiteral("previousChangeShortcut"));
    connect(previous, &QShortcut::activated, this, &ChangeSummaryFlow::showPreviousChange);
}

void ChangeSummaryFlow::recompute()
{
    if (!m_loader)
        return;
    const QSharedPointer<SessionVisualizer> principal = m_loader->principalSession();
    if (!principal) {
        m_summary.reset();
    } else {
        LesionChangeSummary::SessionList sessions;
        for (const auto &entry : m_loader->sessions())
            sessions.push_back(entry.second);
        m_summary = std::make_shared<const LesionChangeSummary>(
            LesionChangeSummary::compute(principal, sessions, m_thresholds));
    }
    if (QtVisualizationWidgets *primary = m_loader->primaryView())
        primary->setChangeSummary(m_summary);
    emit summaryChanged();
}

bool ChangeSummaryFlow::sessionShown() const
{
    return m_loader && m_loader->principalSession() && m_loader->primaryView() &&
           m_loader->primaryView()->isVisible();
}

void ChangeSummaryFlow::showNextChange()
{
    step(1);
}

void ChangeSummaryFlow::showPreviousChange()
{
    step(-1);
}

void ChangeSummaryFlow::step(int direction)
{
    if (!sessionShown() || !m_summary)
        return;
    const QSharedPointer<SessionVisualizer> principal = m_loader->principalSession();
    std::vector<QSharedPointer<LesionVisualizer>> changed = m_summary->changedLesions();
    // A lesion deleted since the summary was made is skipped.
    changed.erase(std::remove_if(changed.begin(), changed.end(),
                                 [&](const auto &lesion) { return !principal->containsLesion(lesion); }),
                  changed.end());
    if (changed.empty()) {
        emit showNotification(m_summary->isFirstVisit()
                                  ? tr("First visit: there is no earlier session to compare with")
                                  : tr("No lesion is new, grown or shrunk since the last visit"),
                              kNotificationMilliseconds);
        return;
    }
    QtVisualizationWidgets *primary = m_loader->primaryView();
    // From the lesion selected in the list (stepping selects too), else the
    // one stepped to last; a row the pointer merely passes over does not count.
    QSharedPointer<LesionVisualizer> current;
    if (LesionsModel *rows = primary->getListView()->getLesionsModel())
        current = rows->lesionAt(primary->getSelectedRow());
    if (std::find(changed.begin(), changed.end(), current) == changed.end())
        current = m_stepped.toStrongRef();
    const auto found = std::find(changed.begin(), changed.end(), current);
    const int count = int(changed.size());
    int index = 0;
    if (found == changed.end())
        index = direction > 0 ? 0 : count - 1;
    else
        index = (int(found - changed.begin()) + direction + count) % count;
    m_stepped = changed[size_t(index)];
    primary->showLesionOnImage(changed[size_t(index)]);
}

void ChangeSummaryFlow::showGoneLesion(QSharedPointer<LesionVisualizer> lesion)
{
    SessionLoader *loader = m_loader;
    const QSharedPointer<SessionVisualizer> session = lesion ? lesion->getSession() : nullptr;
    // One at a time: the download it may wait for runs a nested event loop.
    if (!loader || !session || m_showingGone || !loader->principalSession() ||
        session == loader->principalSession()) {
        emit goneLesionShown(false);
        return;
    }
    int row = -1;
    for (int r = 0; r < loader->sessionsModel()->rowCount(); ++r)
        if (loader->sessionsModel()->sessionAt(r) == session)
            row = r;
    if (row < 0) {
        emit goneLesionShown(false);
        return;
    }
    if (loader->viewMode() != SessionLoader::ClinicalView) {
        auto *compare = m_window->findChild<QAbstractButton *>(QStringLiteral("setCompareViewButton"));
        if (!compare || !compare->isEnabled()) {
            emit showNotification(tr("The comparison view is not ready yet: the earlier sessions are still "
                                     "being downloaded"),
                                  kNotificationMilliseconds);
            emit goneLesionShown(false);
            return;
        }
        // The principal shows the same place, which the comparison layout
        // then shows in the secondary view too.
        const std::vector<CameraPose> poses =
            loader->principalSession()->getCameraPoses(lesion->getPosition());
        const auto pose = std::find(poses.begin(), poses.end(), lesion->getMainPose());
        if (pose != poses.end())
            loader->primaryView()->selectImageAt(lesion->getPosition(), int(pose - poses.begin()));
        compare->click();
    }

    QPointer<ChangeSummaryFlow> self(this);
    m_showingGone = true;
    CustomComboBox *left = loader->selector(SessionLoader::LeftSelector);
    // In the comparison layout this builds the secondary view, after waiting
    // for the session's download when it is not in yet.
    if (left->currentIndex() != row)
        left->setCurrentIndex(row);
    if (!self)
        return;
    m_showingGone = false;
    if (!m_loader || m_loader->secondarySession() != session) {
        emit showNotification(
            tr("The session of %1 could not be shown").arg(LesionChangeSummary::dateText(session->getDate())),
            kNotificationMilliseconds);
        emit goneLesionShown(false);
        return;
    }
    if (m_summary)
        for (const LesionChangeSummary::Gone &gone : m_summary->gone())
            if (gone.lesion.toStrongRef() == lesion)
                emit showNotification(LesionChangeSummary::describe(gone), kNotificationMilliseconds);

    // After the layout's own choice of images (50 ms after it opens).
    const QWeakPointer<LesionVisualizer> weak = lesion;
    const QPointer<QtVisualizationWidgets> view = m_loader->secondaryView();
    QTimer::singleShot(goneLesionDelayMs, this, [this, weak, view] {
        const QSharedPointer<LesionVisualizer> strong = weak.toStrongRef();
        emit goneLesionShown(view && strong && view->showLesionOnImage(strong));
    });
}

#pragma once

#include "session/LesionChangeSummary.h"

#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QWeakPointer>

#include <memory>

class LesionVisualizer;
class SessionLoader;
class kelvarisVisualizer;

// What changed since the last visit, for the main window: the summary of the
// principal session against the patient's earlier sessions, computed again
// whenever the lesions are grouped anew (loading, pairing, undo, merge) and
// whenever another principal session is shown, and handed to the primary
// view. N and Shift+N step through the changed lesions; a lesion of the last
// visit that is gone is shown in the comparison layout, in the session it was
// last seen in. Only reads: no document changes, no changes to save.
//
// Owned by the main window; connectTo() makes all of the flow's connections.
class ChangeSummaryFlow : public QObject
{
    Q_OBJECT

public:
    ChangeSummaryFlow(kelvarisVisualizer *window, const LesionChangeSummary::Thresholds &thresholds);

    void connectTo(SessionLoader *loader);

    // Null while no principal session is shown.
    std::shared_ptr<const LesionChangeSummary> summary() const { return m_summary; }
    LesionChangeSummary::Thresholds thresholds() const { return m_thresholds; }

    // How long showGoneLesion waits for the comparison layout to show its
    // first images before it shows the lesion.
    static constexpr int goneLesionDelayMs = 120;

public slots:
    void recompute();
    // N / Shift+N: the next or previous new, grown or shrunk lesion of the
    // principal session, shown on its clinical image; wraps around.
    void showNextChange();
    void showPreviousChange();
    // Opens the comparison layout with the lesion's session in the secondary
    // view (waiting for its download if needed) and shows the lesion there.
    void showGoneLesion(QSharedPointer<LesionVisualizer> lesion);

signals:
    void summaryChanged();
    void showNotification(QString message, int timeout);
    // The end of showGoneLesion: whether the lesion is shown.
    void goneLesionShown(bool shown);

private:
    void step(int direction);
    bool sessionShown() const;

    kelvarisVisualizer *m_window = nullptr;
    QPointer<SessionLoader> m_loader;
    LesionChangeSummary::Thresholds m_thresholds;
    std::shared_ptr<const LesionChangeSummary> m_summary;
    QWeakPointer<LesionVisualizer> m_stepped;
    bool m_showingGone = false;
};

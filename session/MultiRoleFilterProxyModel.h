#pragma once

#include <QList>
#include <QSortFilterProxyModel>
#include <QStringList>

// Filters a LesionsModel by body position, label, size and change. Empty position or
// label lists accept nothing. After changing a criterion the owner calls
// invalidateFilter() (or one of the setters' callers does), so several
// criteria can change at once for one re-evaluation.
class MultiRoleFilterProxyModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit MultiRoleFilterProxyModel(QObject *parent = nullptr);

    // -1 is the external position.
    void setAcceptedPositions(const QList<int> &positions) { m_positions = positions; }
    QList<int> getAcceptedPositions() const { return m_positions; }
    void setAcceptedLabels(const QStringList &labels) { m_labels = labels; }
    QStringList getAcceptedLabels() const { return m_labels; }
    void setUpperSizeBound(int bound) { m_upperSize = bound; }
    int getUpperSizeBound() const { return m_upperSize; }
    void setLowerSizeBound(int bound) { m_lowerSize = bound; }
    int getLowerSizeBound() const { return m_lowerSize; }
    // Only the lesions that are new, grown or shrunk since the last visit
    // (none while the source has no change summary).
    void setChangedOnly(bool on) { m_changedOnly = on; }
    bool isChangedOnly() const { return m_changedOnly; }

    // Re-evaluates the filter after the criteria changed.
    void refilter() { invalidateFilter(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QList<int> m_positions;
    QStringList m_labels;
    int m_upperSize = 1000;
    int m_lowerSize = 0;
    bool m_changedOnly = false;
};

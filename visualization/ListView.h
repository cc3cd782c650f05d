#pragma once

#include "session/LesionVisualizer.h"
#include "session/LesionsModel.h"
#include "session/MultiRoleFilterProxyModel.h"
#include "session/SessionVisualizer.h"

#include <QListView>
#include <QListWidget>
#include <QModelIndex>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSharedPointer>
#include <QSize>
#include <QStringList>

#include <atomic>
#include <memory>
#include <unordered_map>

class CustomDelegate;
class ItemDelegate;
class QAbstractButton;
class QButtonGroup;

class QListWidgetItem;
class QToolButton;

// The lesion list: the lesions of the shown session as icons, through a
// filtering and sorting proxy over a LesionsModel. It owns both models
// (replaced by resetModels()), paints rows with ItemDelegate, and keeps the
// highlighted row that the visualization widget sets when a lesion is selected.
//
// The highlighted row is a proxy row. It follows its lesion when rows move on
// their own (a relabelled lesion re-sorted, a deleted row), and is cleared when
// the user re-sorts or changes a filter; highlightCleared() then tells the
// owner to drop its selection as well.
class ListView : public QListView
{
    Q_OBJECT

public:
    explicit ListView(QWidget *parent = nullptr);
    ~ListView() override;

    void setSession(const QSharedPointer<SessionVisualizer> &session);
    QSharedPointer<SessionVisualizer> getSession() const { return m_session; }

    // New, empty models for a new session: a LesionsModel and the proxy over
    // it (upper size bound 1000). The model's dataChanged re-sorts the proxy.
    // The list shows the proxy once setUpModels() runs. The highlight is cleared.
    void resetModels();
    LesionsModel *getLesionsModel() const { return m_lesionsModel; }
    MultiRoleFilterProxyModel *getProxyModel() const { return m_proxyModel; }

    // Icon mode, the proxy as model, every position and label accepted.
    void setUpModels();
    // Composite icons (dermoscopic layout) or the lesions' own icons.
    void setIconMode(bool on);
    bool isIconMode() const;

    // Highlight of one proxy row (a white frame), set when a lesion is selected.
    void setHighlightedRow(int proxyRow);
    void clearHighlight();
    bool isHighlighted() const { return m_highlight->load(); }
    int getHighlightedRow() const { return m_highlightedRow->load(); }

    // Sorting. The sort role is one of LesionsModel's (SortKeyRole at first).
    // The role a sort button stands for, from its object name.
    static int sortRoleForButton(const QString &objectName);
    int getSortRole() const { return m_sortRole; }
    // Sorts column 0 by role, descending or ascending; clears the highlight.
    void reSort(int role, bool descending);
    // Again with the current role and direction (after lesions were added).
    void reSort() { reSort(m_sortRole, m_descending); }
    bool isSortDescending() const { return m_descending; }
    // Wires the list tool bar's sort-direction button and exclusive sort group.
    void connectSortControls(QAbstractButton *directionButton, QButtonGroup *sortGroup);

    // Filters; each that changes the accepted set re-evaluates the proxy and
    // clears the highlight.
    void setPositionFilter(const QList<int> &positions);
    // Accepted positions from the checked buttons, in button order, by their
    // "positionName" property ("External" is -1, other names the index of the
    // session position of that name).
    void applyPositionFilter(const QList<QAbstractButton *> &filterButtons);
    // Wires the position filter buttons (DoubleClickButton): a click filters,
    // a double click unchecks every button without filtering.
    void connectPositionFilter(QButtonGroup *filterButtons);
    void setLabelFilter(const QStringList &labels);
    void setSizeFilter(int lower, int upper);
    // What changed since the last visit: the rows' badges and the "Changed
    // only" filter read it. Kept for the models of later builds until
    // replaced; null for none.
    void setChangeSummary(std::shared_ptr<const LesionChangeSummary> summary);
    std::shared_ptr<const LesionChangeSummary> changeSummary() const { return m_changes; }
    // Only the new, grown and shrunk lesions; kept across builds.
    void setChangedOnly(bool on);
    bool isChangedOnly() const { return m_changedOnly; }

    // The hidden "filterButton" with its "Filter by label" menu (every label
    // but "Detected", checked). The list keeps a handle on the menu's rows.
    QToolButton *createLabelFilterButton(const QSize &iconSize, QWidget *parent);
    QListWidget *getLabelFilterList() const { return m_labelFilterList; }
    // Check states of the menu rows from the label legend; each change
    // reaches the proxy as a click on the row would.
    void setLabelsShown(const std::unordered_map<QString, bool> &labels);

    // A marker asks for its lesion: select = true emits itemSelected, false
    // generalElementMouseOver, with the lesion's proxy index. Lesions of
    // another session, or without dermatoscopic images, are passed on or ignored.
    void selectLesion(const QSharedPointer<LesionVisualizer> &lesion, bool select);

    // For tests and the owner: the proxy index of a lesion, or invalid.
    QModelIndex proxyIndexOf(const QSharedPointer<LesionVisualizer> &lesion) const;

public slots:
    void addLesion(QSharedPointer<LesionVisualizer> lesion);

signals:
    void elementFocus(QModelIndex index);
    void generalElementMouseOver(QModelIndex index);
    void itemSelected(QModelIndex index);
    void maxZoomReached();
    // The list dropped its highlight because the user re-sorted or filtered.
    void highlightCleared();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void replaceModel(QAbstractItemModel *newModel);
    void resortKeepingOrder();
    void syncHighlight();
    void dropHighlightForUser();
    void labelItemChanged(QListWidgetItem *item);

    QSharedPointer<SessionVisualizer> m_session;
    QPointer<LesionsModel> m_lesionsModel;
    QPointer<MultiRoleFilterProxyModel> m_proxyModel;
    std::shared_ptr<std::atomic<bool>> m_highlight = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int>> m_highlightedRow = std::make_shared<std::atomic<int>>(-1);
    // The highlighted lesion's proxy index, which the proxy keeps up to date.
    QPersistentModelIndex m_highlightedIndex;
    QPersistentModelIndex m_lastHovered;
    ItemDelegate *m_delegate = nullptr;
    int m_sortRole = LesionsModel::SortKeyRole;
    bool m_descending = false;
    QPointer<QListWidget> m_labelFilterList;
    std::shared_ptr<const LesionChangeSummary> m_changes;
    bool m_changedOnly = false;
};

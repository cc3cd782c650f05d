#include "visualization/ListView.h"

#include "visualization/CustomDelegate.h"
#include "visualization/ItemDelegate.h"
#include "widgets/DoubleClickButton.h"
#include "widgets/Trace.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCommonStyle>
#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

#include <exception>

namespace {

void plainScrollBar(QScrollBar *bar)
{
    auto *style = new QCommonStyle();
    style->setParent(bar);
    bar->setStyle(style);
    bar->setContextMenuPolicy(Qt::NoContextMenu);
}

} // namespace

ListView::ListView(QWidget *parent) : QListView(parent)
{
    m_delegate = new ItemDelegate(m_highlight, m_highlightedRow, this);
    setItemDelegate(m_delegate);
    setMovement(QListView::Static);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setFlow(QListView::LeftToRight);
    plainScrollBar(horizontalScrollBar());
    plainScrollBar(verticalScrollBar());
}

ListView::~ListView() = default;

void ListView::setSession(const QSharedPointer<SessionVisualizer> &session)
{
    m_session = session;
}

void ListView::resetModels()
{
    clearHighlight();
    m_lastHovered = QPersistentModelIndex();
    QPointer<LesionsModel> oldModel = m_lesionsModel;
    QPointer<MultiRoleFilterProxyModel> oldProxy = m_proxyModel;

    m_lesionsModel = new LesionsModel(this);
    m_proxyModel = new MultiRoleFilterProxyModel(this);
    m_proxyModel->setUpperSizeBound(1000);
    m_proxyModel->setSortRole(m_sortRole);
    m_proxyModel->setChangedOnly(m_changedOnly);
    m_lesionsModel->setChangeSummary(m_changes);
    m_proxyModel->setSourceModel(m_lesionsModel);
    connect(m_lesionsModel, &QAbstractItemModel::dataChanged, this, &ListView::resortKeepingOrder);
    connect(m_proxyModel, &QAbstractItemModel::layoutChanged, this, &ListView::syncHighlight);
    connect(m_proxyModel, &QAbstractItemModel::rowsRemoved, this, &ListView::syncHighlight);
    connect(m_proxyModel, &QAbstractItemModel::rowsInserted, this, &ListView::syncHighlight);
    connect(m_proxyModel, &QAbstractItemModel::modelReset, this, &ListView::syncHighlight);

    // The view lets go of the old proxy before it goes.
    if (model() == oldProxy)
        replaceModel(nullptr);
    if (oldProxy)
        oldProxy->deleteLater();
    if (oldModel)
        oldModel->deleteLater();
}

void ListView::setUpModels()
{
    if (!m_proxyModel)
        resetModels();
    setViewMode(QListView::IconMode);
    if (model() != m_proxyModel)
        replaceModel(m_proxyModel);
    m_proxyModel->setAcceptedPositions({-1, 0, 1, 2, 3, 4, 5});
    m_proxyModel->setAcceptedLabels(LesionVisualizer::labelNames());
    m_proxyModel->refilter();
    show();
}

void ListView::replaceModel(QAbstractItemModel *newModel)
{
    // setModel leaves the old selection model to its parent, this view:
    // without this one would pile up per session shown.
    QItemSelectionModel *oldSelection = selectionModel();
    setModel(newModel);
    if (oldSelection && oldSelection != selectionModel())
        oldSelection->deleteLater();
}

void ListView::setIconMode(bool on)
{
    if (!m_lesionsModel)
        return;
    m_lesionsModel->setIconMode(on ? LesionsModel::CompositeIcon : LesionsModel::OwnIcon);
    scheduleDelayedItemsLayout();
}

bool ListView::isIconMode() const
{
    return m_lesionsModel && m_lesionsModel->getIconMode() == LesionsModel::CompositeIcon;
}

void ListView::setHighlightedRow(int proxyRow)
{
    const QModelIndex index = m_proxyModel ? m_proxyModel->index(proxyRow, 0) : QModelIndex();
    if (!index.isValid()) {
        clearHighlight();
        return;
    }
    m_highlightedIndex = index;
    m_highlightedRow->store(proxyRow);
    m_highlight->store(true);
    viewport()->update();
}

void ListView::clearHighlight()
{
    m_highlightedIndex = QPersistentModelIndex();
    m_highlight->store(false);
    m_highlightedRow->store(-1);
    viewport()->update();
}

void ListView::syncHighlight()
{
    if (!m_highlight->load())
        return;
    if (!m_highlightedIndex.isValid()) {
        clearHighlight();
        return;
    }
    m_highlightedRow->store(m_highlightedIndex.row());
    viewport()->update();
}

void ListView::dropHighlightForUser()
{
    const bool was = m_highlight->load();
    clearHighlight();
    if (was)
        emit highlightCleared();
}

int ListView::sortRoleForButton(const QString &objectName)
{
    if (objectName.contains(QLatin1String("Label")))
        return LesionsModel::LabelRole;
    if (objectName.contains(QLatin1String("Priority")))
        return LesionsModel::PriorityRole;
    return LesionsModel::SortKeyRole;
}

void ListView::reSort(int role, bool descending)
{
    kelvaris::trace(QStringLiteral("SORT"));
    m_sortRole = role;
    m_descending = descending;
    dropHighlightForUser();
    if (!m_proxyModel)
        return;
    m_proxyModel->setSortRole(role);
    m_proxyModel->sort(0, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    viewport()->update();
}

void ListView::resortKeepingOrder()
{
    if (m_proxyModel && m_proxyModel->sortColumn() == 0)
        m_proxyModel->sort(0, m_proxyModel->sortOrder());
}

void ListView::connectSortControls(QAbstractButton *directionButton, QButtonGroup *sortGroup)
{
    if (!directionButton || !sortGroup)
        return;
    QPointer<QAbstractButton> direction(directionButton);
    connect(sortGroup, &QButtonGroup::buttonClicked, this, [this, direction](QAbstractButton *button) {
        const int role = sortRoleForButton(button->objectName());
        kelvaris::trace(QStringLiteral("Sort: %1").arg(role));
        reSort(role, direction && direction->isChecked());
    });
    connect(directionButton, &QAbstractButton::clicked, this,
            [this](bool checked) { reSort(m_sortRole, checked); });
}

void ListView::setPositionFilter(const QList<int> &positions)
{
    if (m_proxyModel && m_proxyModel->getAcceptedPositions() == positions)
        return;
    dropHighlightForUser();
    if (!m_proxyModel)
        return;
    m_proxyModel->setAcceptedPositions(positions);
    m_proxyModel->refilter();
}

void ListView::applyPositionFilter(const QList<QAbstractButton *> &filterButtons)
{
    QList<int> positions;
    for (QAbstractButton *button : filterButtons) {
        if (!button || !button->isChecked())
            continue;
        const QString name = button->property("positionName").toString();
        if (name == QLatin1String("External")) {
            positions.append(SessionVisualizer::externalPosition);
            continue;
        }
        if (!m_session)
            continue;
        const std::vector<QString> &names = m_session->getPositionNames();
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) {
                positions.append(int(i));
                break;
            }
        }
    }
    setPositionFilter(positions);
}

void ListView::connectPositionFilter(QButtonGroup *filterButtons)
{
    if (!filterButtons)
        return;
    QPointer<QButtonGroup> group(filterButtons);
    connect(filterButtons, &QButtonGroup::buttonClicked, this, [this, group](QAbstractButton *) {
        if (group)
            applyPositionFilter(group->buttons());
    });
    for (QAbstractButton *button : filterButtons->buttons()) {
        if (auto *doubleClick = qobject_cast<DoubleClickButton *>(button)) {
            connect(doubleClick, &DoubleClickButton::doubleClicked, this, [group] {
                if (!group)
                    return;
                for (QAbstractButton *each : group->buttons())
                    each->setChecked(false);
            });
        }
    }
}

void ListView::setLabelFilter(const QStringList &labels)
{
    if (m_proxyModel && m_proxyModel->getAcceptedLabels() == labels)
        return;
    dropHighlightForUser();
    if (!m_proxyModel)
        return;
    m_proxyModel->setAcceptedLabels(labels);
    m_proxyModel->refilter();
}

void ListView::setSizeFilter(int lower, int upper)
{
    if (m_proxyModel && m_proxyModel->getLowerSizeBound() == lower &&
        m_proxyModel->getUpperSizeBound() == upper)
        return;
    dropHighlightForUser();
    if (!m_proxyModel)
        return;
    m_proxyModel->setLowerSizeBound(lower);
    m_proxyModel->setUpperSizeBound(upper);
    m_proxyModel->refilter();
}

void ListView::setChangeSummary(std::shared_ptr<const LesionChangeSummary> summary)
{
    m_changes = std::move(summary);
    if (!m_lesionsModel)
        return;
    m_lesionsModel->setChangeSummary(m_changes);
    // Which rows are changed may be different now.
    if (m_proxyModel && m_changedOnly)
        m_proxyModel->refilter();
    viewport()->update();
}

void ListView::setChangedOnly(bool on)
{
    if (m_changedOnly == on)
        return;
    m_changedOnly = on;
    dropHighlightForUser();
    if (!m_proxyModel)
        return;
    m_proxyModel->setChangedOnly(on);
    m_proxyModel->refilter();
}

QToolButton *ListView::createLabelFilterButton(const QSize &iconSize, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QStringLiteral("filterButton"));
    button->setIcon(QIcon(QStringLiteral(":/icon/filter")));
    button->setIconSize(iconSize);
    button->setPopupMode(QToolButton::InstantPopup);

    auto *menu = new QMenu(button);
    menu->setObjectName(QStringLiteral("menuFilter"));
    menu->setWindowFlags(menu->windowFlags() | Qt::FramelessWindowHint | Qt::Popup);
    menu->setAttribute(Qt::WA_TranslucentBackground);
    menu->setContentsMargins(0, 0, 0, 0);

    auto *holder = new QWidget(menu);
    holder->setObjectName(QStringLiteral("widgetMenuFilter"));
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *list = new QListWidget(holder);
    list->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(0);
    list->setItemDelegate(new CustomDelegate(list));
    for (const QString &label : LesionVisualizer::labelNames()) {
        if (label == QLatin1String("Detected"))
            continue;
        auto *item = new QListWidgetItem(label, list);
        item->setData(CustomDelegate::CheckRole, int(Qt::Checked));
    }
    layout->addWidget(list);
    auto *action = new QWidgetAction(menu);
    action->setDefaultWidget(holder);
    menu->addAction(action);
    button->setMenu(menu);

    connect(list, &QListWidget::itemChanged, this, &ListView::labelItemChanged);
    m_labelFilterList = list;
    return button;
}

void ListView::labelItemChanged(QListWidgetItem *)
{
    kelvaris::trace(QStringLiteral("Item changed"));
    if (!m_proxyModel) {
        kelvaris::trace(QStringLiteral("error the proxy model does not exist \n"));
        return;
    }
    QStringList labels;
    if (m_labelFilterList) {
        for (int row = 0; row < m_labelFilterList->count(); ++row) {
            const QListWidgetItem *item = m_labelFilterList->item(row);
            if (item->data(CustomDelegate::CheckRole).toInt() == Qt::Checked)
                labels.append(item->text());
        }
    }
    setLabelFilter(labels);
}

void ListView::setLabelsShown(const std::unordered_map<QString, bool> &labels)
{
    if (!m_labelFilterList)
        return;
    for (int row = 0; row < m_labelFilterList->count(); ++row) {
        QListWidgetItem *item = m_labelFilterList->item(row);
        const auto found = labels.find(item->text());
        if (found == labels.end())
            continue;
        const int state = found->second ? int(Qt::Checked) : int(Qt::Unchecked);
        item->setCheckState(Qt::CheckState(state));
        item->setData(CustomDelegate::CheckRole, state);
    }
}

QModelIndex ListView::proxyIndexOf(const QSharedPointer<LesionVisualizer> &lesion) const
{
    if (!m_lesionsModel || !m_proxyModel)
        return QModelIndex();
    const QModelIndex source = m_lesionsModel->indexOf(lesion);
    return source.isValid() ? m_proxyModel->mapFromSource(source) : QModelIndex();
}

void ListView::selectLesion(const QSharedPointer<LesionVisualizer> &lesion, bool select)
{
    if (!lesion || !lesion->hasDermatoscopicGroups())
        return;
    if (!lesion->isInPrincipalSession()) {
        lesion->selectLesion();
        return;
    }
    const QModelIndex index = proxyIndexOf(lesion);
    if (!index.isValid())
        return;
    if (select) {
        kelvaris::trace(QStringLiteral("ListView::selectLesion item selected"));
        emit itemSelected(index);
    } else {
        emit generalElementMouseOver(index);
    }
}

void ListView::addLesion(QSharedPointer<LesionVisualizer> lesion)
{
    if (m_lesionsModel)
        m_lesionsModel->addItem(lesion);
}

void ListView::mouseMoveEvent(QMouseEvent *event)
{
    try {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid() && index != QModelIndex(m_lastHovered)) {
            m_lastHovered = index;
            emit elementFocus(index);
        }
        QListView::mouseMoveEvent(event);
    } catch (const std::exception &) {
        kelvaris::trace(QStringLiteral("ERROR"));
    } catch (...) {
        kelvaris::trace(QStringLiteral("ERROR"));
    }
}

void ListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    const QSharedPointer<LesionVisualizer> lesion = LesionsModel::lesionOf(index);
    if (!lesion)
        return;
    const QSharedPointer<SessionVisualizer> session = lesion->getSession();
    if (!session)
        return;
    if (QMenu *menu = session->getContextMenu(lesion))
        menu->popup(event->globalPos());
}

void ListView::resizeEvent(QResizeEvent *event)
{
    QListView::resizeEvent(event);
    doItemsLayout();
}

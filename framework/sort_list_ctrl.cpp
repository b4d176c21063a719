#include "framework/sort_list_ctrl.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QStackedLayout>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <algorithm>

namespace {

// The views' editing state is protected; these make it readable.
class CReportView : public QTreeView {
 public:
  using QTreeView::QTreeView;
  bool Editing() const { return state() == EditingState; }
};

class CIconView : public QListView {
 public:
  using QListView::QListView;
  bool Editing() const { return state() == EditingState; }
};

// Items of the icon view share one size (uniform sizes keep long folders fast). Taken
// from the first row, that size would fit ".." and cut every name to a few letters; this
// gives each item its grid cell, with room for two lines of name.
class CIconItemDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void SetItemSize(QSize size) { m_size = size; }
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return m_size.isValid() ? m_size : QStyledItemDelegate::sizeHint(option, index);
  }

 private:
  QSize m_size;
};

void ConfigureCommon(QAbstractItemView* view) {
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  view->setFrameShape(QFrame::StyledPanel);
}

void ApplyDragDrop(QAbstractItemView* view, bool on) {
  view->setDragEnabled(on);
  view->setDragDropMode(on ? QAbstractItemView::DragDrop : QAbstractItemView::NoDragDrop);
  view->setDefaultDropAction(Qt::IgnoreAction);
  view->viewport()->setAcceptDrops(on);
}

void PutInt32(QByteArray& out, qint32 v) {
  const auto u = static_cast<quint32>(v);
  for (int i = 0; i < 4; ++i) out.append(static_cast<char>((u >> (8 * i)) & 0xFF));
}

qint32 GetInt32(const QByteArray& in, qsizetype pos) {
  quint32 u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<quint32>(static_cast<uchar>(in[pos + i])) << (8 * i);
  return static_cast<qint32>(u);
}

}  // namespace

CSortListCtrl::CSortListCtrl(QWidget* parent) : QWidget(parent) {
  m_report = new CReportView(this);
  m_report->setRootIsDecorated(false);
  m_report->setItemsExpandable(false);
  m_report->setUniformRowHeights(true);
  m_report->setAllColumnsShowFocus(true);
  m_report->setSortingEnabled(false);  // sorting is the owner's; clicks come to ColumnClick
  m_report->header()->setSectionsClickable(true);
  m_report->header()->setSectionsMovable(true);
  m_report->header()->setStretchLastSection(false);
  m_report->header()->setSortIndicatorShown(false);
  ConfigureCommon(m_report);

  m_icons = new CIconView(this);
  m_icons->setItemDelegate(new CIconItemDelegate(m_icons));
  m_icons->setUniformItemSizes(true);
  m_icons->setLayoutMode(QListView::Batched);
  m_icons->setBatchSize(2000);
  m_icons->setMovement(QListView::Static);
  m_icons->setResizeMode(QListView::Adjust);
  ConfigureCommon(m_icons);

  m_stack = new QStackedLayout(this);
  m_stack->setContentsMargins(0, 0, 0, 0);
  m_stack->addWidget(m_icons);
  m_stack->addWidget(m_report);
  ConfigureIconView(VIEW_ICON);
  m_stack->setCurrentWidget(m_icons);
  setFocusProxy(m_icons);

  connect(m_report->header(), &QHeaderView::sectionClicked, this, &CSortListCtrl::ColumnClick);
  for (QAbstractItemView* view :
       {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_icons)}) {
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
      if (index.isValid()) emit RowDoubleClicked(index.row());
    });
    connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
      emit ContextMenuRequested(view->viewport()->mapToGlobal(pos));
    });
  }
}

CSortListCtrl::~CSortListCtrl() = default;

void CSortListCtrl::SetModel(QAbstractItemModel* model) {
  QItemSelectionModel* oldReport = m_report->selectionModel();
  QItemSelectionModel* oldIcons = m_icons->selectionModel();
  m_model = model;
  m_report->setModel(model);
  QItemSelectionModel* shared = m_report->selectionModel();
  m_icons->setModel(model);
  QItemSelectionModel* ownIcons = m_icons->selectionModel();
  m_icons->setSelectionModel(shared);
  m_icons->setModelColumn(0);
  // setModel leaves the previous selection models to their owner: free them here.
  if (ownIcons != shared) delete ownIcons;
  if (oldIcons && oldIcons != shared && oldIcons != ownIcons && oldIcons != oldReport)
    delete oldIcons;
  if (oldReport && oldReport != shared) delete oldReport;
  WireSelectionModel();
  ApplyArrow();
}

QItemSelectionModel* CSortListCtrl::SelectionModel() const {
  return m_report->selectionModel();
}

void CSortListCtrl::WireSelectionModel() {
  if (QItemSelectionModel* sm = SelectionModel()) {
    connect(sm, &QItemSelectionModel::selectionChanged, this, &CSortListCtrl::SelectionChanged,
            Qt::UniqueConnection);
  }
}

QAbstractItemView* CSortListCtrl::ActiveView() const {
  if (m_viewType == VIEW_REPORT) return m_report;
  return m_icons;
}

QHeaderView* CSortListCtrl::Header() const {
  return m_report->header();
}

void CSortListCtrl::ConfigureIconView(ViewType type) {
  const int small = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
  const int large = style()->pixelMetric(QStyle::PM_IconViewIconSize, nullptr, this);
  switch (type) {
    case VIEW_ICON:
      m_icons->setViewMode(QListView::IconMode);
      m_icons->setFlow(QListView::LeftToRight);
      m_icons->setWrapping(true);
      m_icons->setWordWrap(true);
      m_icons->setIconSize(QSize(large, large));
      m_icons->setGridSize(QSize(large * 3, large + 3 * fontMetrics().height()));
      m_icons->setTextElideMode(Qt::ElideRight);
      static_cast<CIconItemDelegate*>(m_icons->itemDelegate())
          ->SetItemSize(QSize(large * 3 - 6, large + 2 * fontMetrics().lineSpacing() + 8));
      break;
    case VIEW_SMALLICON:
    case VIEW_LIST:
      m_icons->setViewMode(QListView::ListMode);
      m_icons->setFlow(type == VIEW_LIST ? QListView::TopToBottom : QListView::LeftToRight);
      m_icons->setWrapping(true);
      m_icons->setWordWrap(false);
      m_icons->setIconSize(QSize(small, small));
      m_icons->setSpacing(1);
      static_cast<CIconItemDelegate*>(m_icons->itemDelegate())->SetItemSize(QSize());
      // Items share one size (the first item's) for speed; the grid gives every label the
      // room of the longest one.
      m_icons->setGridSize(m_labelWidth > 0 ? QSize(small + 12 + m_labelWidth,
                                                    std::max(small, fontMetrics().height()) + 4)
                                            : QSize());
      break;
    case VIEW_REPORT:
      break;
  }
  // setViewMode resets movement and layout mode; keep the ones that suit long lists.
  m_icons->setMovement(QListView::Static);
  m_icons->setResizeMode(QListView::Adjust);
  m_icons->setLayoutMode(QListView::Batched);
  m_icons->setUniformItemSizes(true);
  // setMovement switches dragging off and on by itself; the control's choice stands.
  ApplyDragDrop(m_icons, m_dragDrop);
}

void CSortListCtrl::SetLabelWidth(int pixels) {
  if (pixels == m_labelWidth) return;
  m_labelWidth = pixels;
  if (m_viewType == VIEW_SMALLICON || m_viewType == VIEW_LIST) ConfigureIconView(m_viewType);
}

void CSortListCtrl::SetDragDropEnabled(bool on) {
  m_dragDrop = on;
  ApplyDragDrop(m_report, on);
  ApplyDragDrop(m_icons, on);
}

void CSortListCtrl::SetViewType(ViewType type) {
  if (type != VIEW_ICON && type != VIEW_SMALLICON && type != VIEW_LIST && type != VIEW_REPORT)
    return;
  const bool hadFocus = ActiveView()->hasFocus();
  if (type != VIEW_REPORT) ConfigureIconView(type);
  m_viewType = type;
  QAbstractItemView* view = ActiveView();
  m_stack->setCurrentWidget(view);
  setFocusProxy(view);
  if (hadFocus) view->setFocus();
  if (const int row = FocusedRow(); row >= 0 && m_model) view->scrollTo(m_model->index(row, 0));
  emit ViewTypeChanged(type);
}

void CSortListCtrl::Sort(int column, int ascending) {
  SetSortArrow(column, ascending);
}

void CSortListCtrl::SetSortArrow(int column, int ascending) {
  m_sortColumn = column;
  m_ascending = ascending ? 1 : 0;
  ApplyArrow();
}

void CSortListCtrl::ApplyArrow() {
  QHeaderView* header = m_report->header();
  const bool show = m_sortColumn >= 0 && (!m_model || m_sortColumn < header->count());
  // The header flips its own indicator on a click; this puts back the stored state, so a
  // refused click leaves the arrow where it was.
  QSignalBlocker block(header);
  header->setSortIndicatorShown(show);
  if (show)
    header->setSortIndicator(m_sortColumn, m_ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void CSortListCtrl::ColumnClick(int column) {
  const int ascending = (column != m_sortColumn) ? 1 : (m_ascending ? 0 : 1);
  if (SortCallback && SortCallback(this, column, ascending) == 0) {
    ApplyArrow();
    return;
  }
  Sort(column, ascending);
  ApplyArrow();
}

QList<int> CSortListCtrl::SelectedRows() const {
  QList<int> rows;
  const QItemSelectionModel* sm = SelectionModel();
  if (!sm) return rows;
  for (const QItemSelectionRange& range : sm->selection()) {
    if (range.parent().isValid()) continue;
    for (int r = range.top(); r <= range.bottom(); ++r) rows.append(r);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

int CSortListCtrl::SelectedCount() const {
  return static_cast<int>(SelectedRows().size());
}

int CSortListCtrl::FocusedRow() const {
  const QItemSelectionModel* sm = SelectionModel();
  if (!sm) return -1;
  const QModelIndex current = sm->currentIndex();
  return current.isValid() ? current.row() : -1;
}

void CSortListCtrl::SetFocusedRow(int row) {
  QItemSelectionModel* sm = SelectionModel();
  if (!sm || !m_model) return;
  if (row < 0 || row >= m_model->rowCount()) {
    sm->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return;
  }
  sm->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

void CSortListCtrl::SelectRows(const QList<int>& rows) {
  QItemSelectionModel* sm = SelectionModel();
  if (!sm || !m_model) return;
  QList<int> sorted = rows;
  std::sort(sorted.begin(), sorted.end());
  const int count = m_model->rowCount();
  const int lastColumn = std::max(0, m_model->columnCount() - 1);
  QItemSelection selection;
  for (qsizetype i = 0; i < sorted.size();) {
    const int first = sorted[i];
    int last = first;
    ++i;
    while (i < sorted.size() && sorted[i] <= last + 1) last = std::max(last, sorted[i++]);
    if (first < 0 || last >= count) continue;
    selection.select(m_model->index(first, 0), m_model->index(last, lastColumn));
  }
  sm->select(selection, QItemSelectionModel::ClearAndSelect);
}

void CSortListCtrl::EditLabel(int row) {
  if (!m_model || row < 0 || row >= m_model->rowCount()) return;
  const QModelIndex index = m_model->index(row, 0);
  if (!(m_model->flags(index) & Qt::ItemIsEditable)) return;
  QAbstractItemView* view = ActiveView();
  view->setFocus();
  view->scrollTo(index);
  SelectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  view->edit(index);
}

bool CSortListCtrl::IsEditing() const {
  return static_cast<const CReportView*>(m_report)->Editing() ||
         static_cast<const CIconView*>(m_icons)->Editing();
}

QList<int> CSortListCtrl::ColumnWidths() const {
  QList<int> widths;
  const QHeaderView* header = m_report->header();
  for (int i = 0; i < header->count(); ++i) widths.append(header->sectionSize(i));
  return widths;
}

void CSortListCtrl::SetColumnWidths(const QList<int>& widths) {
  QHeaderView* header = m_report->header();
  const int n = std::min(static_cast<int>(widths.size()), header->count());
  for (int i = 0; i < n; ++i) {
    if (widths[i] > 0) header->resizeSection(i, widths[i]);
  }
}

QByteArray CSortListCtrl::SaveHeaderState() const {
  QByteArray out;
  const QList<int> widths = ColumnWidths();
  PutInt32(out, static_cast<qint32>(widths.size()));
  for (int w : widths) PutInt32(out, w);
  return out;
}

bool CSortListCtrl::LoadHeaderState(const QByteArray& state) {
  if (state.size() < 4) return false;
  const qint32 count = GetInt32(state, 0);
  QHeaderView* header = m_report->header();
  if (count != header->count() || state.size() < 4 + 4 * static_cast<qsizetype>(count))
    return false;
  for (int i = 0; i < count; ++i) {
    const qint32 w = GetInt32(state, 4 + 4 * i);
    if (w >= 0) header->resizeSection(i, w);
  }
  return true;
}

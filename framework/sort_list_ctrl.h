#pragma once
// A list control whose header turns clicks on a column heading into sort requests: a new
// column starts ascending, the same column toggles. The control remembers the sorted
// column and direction and shows them with the header's sort indicator; the sorting
// itself is done by the owner, either in a SortCallback or by overriding Sort.
//
// One item model is shown either as a report (a QTreeView with the header) or as large
// icons, small icons or a list (a QListView). Both views share one selection model, so
// the selection, the focused row and the model survive a change of view type. Rows are
// the unit of selection; column 0 is the label that the icon views show and that
// in-place editing changes.
#include <QByteArray>
#include <QList>
#include <QWidget>
#include <functional>

class QAbstractItemModel;
class QAbstractItemView;
class QHeaderView;
class QItemSelectionModel;
class QListView;
class QStackedLayout;
class QTreeView;

class CSortListCtrl : public QWidget {
  Q_OBJECT
 public:
  // The list view types, with the values of the list styles they stand for.
  enum ViewType : int { VIEW_ICON = 0, VIEW_REPORT = 1, VIEW_SMALLICON = 2, VIEW_LIST = 3 };
  // Asked before every sort request that comes from a heading click; 0 refuses it (nothing
  // is stored and the arrow stays), anything else lets Sort run.
  using SortCallbackFn = std::function<int(CSortListCtrl* ctrl, int column, int ascending)>;

  explicit CSortListCtrl(QWidget* parent = nullptr);
  ~CSortListCtrl() override;

  // The model shown by both views; not owned. Replaces the selection model.
  void SetModel(QAbstractItemModel* model);
  QAbstractItemModel* Model() const { return m_model; }
  QItemSelectionModel* SelectionModel() const;

  void SetViewType(ViewType type);
  ViewType GetViewType() const { return m_viewType; }
  QTreeView* ReportView() const { return m_report; }
  QListView* IconView() const { return m_icons; }
  QAbstractItemView* ActiveView() const;
  QHeaderView* Header() const;
  // Rows as drag source and the views as drop targets (off unless asked for); the model
  // supplies the drag data, the owner handles drops.
  void SetDragDropEnabled(bool on);
  // The width that labels get in the small-icon and list views, in pixels (the owner
  // measures its longest label); 0 lets every item take its own width.
  void SetLabelWidth(int pixels);

  SortCallbackFn SortCallback;
  // Sorts by column in the given direction. The base only shows the arrow.
  virtual void Sort(int column, int ascending);
  // Stores the sorted column and direction and shows them in the header (column -1: none).
  void SetSortArrow(int column, int ascending);
  int SortColumn() const { return m_sortColumn; }
  int IsAscending() const { return m_ascending; }
  // What a click on a column heading does (also callable directly, for example from tests).
  void ColumnClick(int column);

  // Selected rows in ascending order, each once.
  QList<int> SelectedRows() const;
  int SelectedCount() const;
  // The row with the focus rectangle (the current index), -1 when none.
  int FocusedRow() const;
  void SetFocusedRow(int row);
  // Selects exactly these rows (empty: clears the selection).
  void SelectRows(const QList<int>& rows);
  // Starts in-place editing of the label (column 0) of the row.
  void EditLabel(int row);
  bool IsEditing() const;

  // Widths of the header columns in order.
  QList<int> ColumnWidths() const;
  // Sets the first min(widths, columns) column widths; non-positive widths are skipped.
  void SetColumnWidths(const QList<int>& widths);
  // The header's stored form: the column count, then each width, as 4-byte little-endian
  // integers. LoadHeaderState applies the widths only when the stored count equals the
  // current column count; otherwise (or for a short or malformed block) it changes nothing
  // and returns false.
  QByteArray SaveHeaderState() const;
  bool LoadHeaderState(const QByteArray& state);

 signals:
  void SelectionChanged();
  // A double click on a row (not on empty space).
  void RowDoubleClicked(int row);
  // A context menu was asked for, by mouse or keyboard, at a global position.
  void ContextMenuRequested(const QPoint& globalPos);
  void ViewTypeChanged(int type);

 private:
  void ApplyArrow();
  void ConfigureIconView(ViewType type);
  void WireSelectionModel();

  QAbstractItemModel* m_model = nullptr;
  QStackedLayout* m_stack = nullptr;
  QTreeView* m_report = nullptr;
  QListView* m_icons = nullptr;
  ViewType m_viewType = VIEW_ICON;
  int m_sortColumn = -1;
  int m_ascending = 1;
  bool m_dragDrop = false;
  int m_labelWidth = 0;
};

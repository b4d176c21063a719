// The sortable list: heading clicks, direction toggling, a refusing callback, the header's
// indicator and its stored widths, and the shared selection of its views.
#include "framework/sort_list_ctrl.h"

#include <QApplication>
#include <QHeaderView>
#include <QListView>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>

namespace {

class CRecordingList : public CSortListCtrl {
 public:
  using CSortListCtrl::CSortListCtrl;
  void Sort(int column, int ascending) override {
    calls.append({column, ascending});
    CSortListCtrl::Sort(column, ascending);
  }
  QList<QPair<int, int>> calls;
};

QStandardItemModel* MakeModel(QObject* parent, int rows, int columns) {
  auto* model = new QStandardItemModel(rows, columns, parent);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c)
      model->setItem(r, c, new QStandardItem(QStringLiteral("%1:%2").arg(r).arg(c)));
  return model;
}

}  // namespace

class SortListCtrlTest : public QObject {
  Q_OBJECT
 private slots:
  void clicksToggleDirection() {
    CRecordingList list;
    list.SetModel(MakeModel(&list, 3, 3));
    QCOMPARE(list.SortColumn(), -1);
    QCOMPARE(list.IsAscending(), 1);
    list.ColumnClick(1);
    list.ColumnClick(1);
    list.ColumnClick(1);
    list.ColumnClick(2);
    list.ColumnClick(1);
    const QList<QPair<int, int>> expected = {{1, 1}, {1, 0}, {1, 1}, {2, 1}, {1, 1}};
    QCOMPARE(list.calls, expected);
    QCOMPARE(list.SortColumn(), 1);
    QCOMPARE(list.Header()->sortIndicatorSection(), 1);
    QCOMPARE(list.Header()->sortIndicatorOrder(), Qt::AscendingOrder);
    list.ColumnClick(1);
    QCOMPARE(list.Header()->sortIndicatorOrder(), Qt::DescendingOrder);
  }

  void refusingCallbackChangesNothing() {
    CRecordingList list;
    list.SetModel(MakeModel(&list, 3, 3));
    list.SetSortArrow(2, 0);
    QList<QPair<int, int>> asked;
    list.SortCallback = [&asked](CSortListCtrl*, int column, int ascending) {
      asked.append({column, ascending});
      return column == 0 ? 0 : 1;
    };
    list.ColumnClick(0);
    list.ColumnClick(0);
    QCOMPARE(asked, (QList<QPair<int, int>>{{0, 1}, {0, 1}}));  // same direction again
    QVERIFY(list.calls.isEmpty());
    QCOMPARE(list.SortColumn(), 2);
    QCOMPARE(list.IsAscending(), 0);
    QCOMPARE(list.Header()->sortIndicatorSection(), 2);
    QCOMPARE(list.Header()->sortIndicatorOrder(), Qt::DescendingOrder);
    list.ColumnClick(2);  // accepted: the same column toggles
    QCOMPARE(list.calls, (QList<QPair<int, int>>{{2, 1}}));
  }

  void realHeaderClick() {
    CRecordingList list;
    list.SetModel(MakeModel(&list, 3, 3));
    list.SetViewType(CSortListCtrl::VIEW_REPORT);
    list.resize(400, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QHeaderView* header = list.Header();
    const QPoint middle(header->sectionViewportPosition(1) + header->sectionSize(1) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
    QCOMPARE(list.calls, (QList<QPair<int, int>>{{1, 1}}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, middle);
    QCOMPARE(list.calls.last(), (QPair<int, int>{1, 0}));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
  }

  void storedWidthsNeedTheSameCount() {
    CSortListCtrl list;
    list.SetModel(MakeModel(&list, 1, 3));
    list.SetColumnWidths({120, 60, 90, 400});  // extra slots are ignored
    QCOMPARE(list.ColumnWidths(), (QList<int>{120, 60, 90}));
    const QByteArray state = list.SaveHeaderState();
    QCOMPARE(state.size(), 16);
    QCOMPARE(state.left(4), QByteArray("\x03\x00\x00\x00", 4));
    list.SetColumnWidths({10, 20, 30});
    QVERIFY(list.LoadHeaderState(state));
    QCOMPARE(list.ColumnWidths(), (QList<int>{120, 60, 90}));

    CSortListCtrl other;
    other.SetModel(MakeModel(&other, 1, 2));
    other.SetColumnWidths({33, 44});
    QVERIFY(!other.LoadHeaderState(state));  // three stored, two present
    QVERIFY(!other.LoadHeaderState(state.left(7)));
    QCOMPARE(other.ColumnWidths(), (QList<int>{33, 44}));
  }

  void viewsShareSelection() {
    CSortListCtrl list;
    list.SetModel(MakeModel(&list, 5, 2));
    list.SelectRows({3, 1});
    list.SetFocusedRow(3);
    QCOMPARE(list.SelectedRows(), (QList<int>{1, 3}));
    QCOMPARE(list.GetViewType(), CSortListCtrl::VIEW_ICON);
    QCOMPARE(list.ActiveView(), static_cast<QAbstractItemView*>(list.IconView()));
    list.SetViewType(CSortListCtrl::VIEW_REPORT);
    QCOMPARE(list.ActiveView(), static_cast<QAbstractItemView*>(list.ReportView()));
    QCOMPARE(list.SelectedRows(), (QList<int>{1, 3}));
    QCOMPARE(list.FocusedRow(), 3);
    QCOMPARE(list.IconView()->selectionModel(), list.ReportView()->selectionModel());
    list.SetViewType(CSortListCtrl::VIEW_LIST);
    QCOMPARE(list.IconView()->flow(), QListView::TopToBottom);
    list.SetViewType(CSortListCtrl::VIEW_SMALLICON);
    QCOMPARE(list.IconView()->flow(), QListView::LeftToRight);
    QCOMPARE(list.SelectedCount(), 2);
    list.SelectRows({});
    QCOMPARE(list.SelectedCount(), 0);
  }
};

QTEST_MAIN(SortListCtrlTest)
#include "sort_list_ctrl_test.moc"

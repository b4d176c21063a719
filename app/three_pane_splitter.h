#pragma once
// Three panes in one of six arrangements: an outer splitter and, for layouts 0 to 3, a
// nested splitter in one of its cells. The sizes given at creation place the dividers
// once the window has its size; the last pane of each splitter takes what remains.
//
//   0: [view 1 | (view 2 / view 3)]     1: [(view 2 / view 3) | view 1]
//   2: [view 1 / (view 2 | view 3)]     3: [(view 2 | view 3) / view 1]
//   4: [view 1 / view 2 / view 3]       5: [view 1 | view 2 | view 3]
#include <QSize>
#include <QSplitter>

class CThreePaneSplitter : public QSplitter {
  Q_OBJECT
 public:
  struct PaneSize {
    int current = 0;
    int minimum = 0;
  };

  explicit CThreePaneSplitter(QWidget* parent = nullptr);

  // Arranges the views; false for a layout outside 0..5 or a missing view.
  bool Create(int layout, QWidget* view1, QSize size1, QWidget* view2, QSize size2, QWidget* view3,
              QSize size3);
  int SplitterLayout() const { return m_layout; }
  QSplitter* Nested() const { return m_nested; }

  // What the user dragged, per layout: 2 reports the outer row 0 height and the nested
  // column 0 width, the others their own pair.
  PaneSize FirstSize() const;
  PaneSize SecondSize() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ApplyInitialSizes();
  static PaneSize SizeOf(const QSplitter* splitter, int index);

  int m_layout = -1;
  QSplitter* m_nested = nullptr;
  QSize m_size1, m_size2, m_size3;
  bool m_sizesPending = false;
};

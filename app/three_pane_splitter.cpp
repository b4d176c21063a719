#include "app/three_pane_splitter.h"

#include <QResizeEvent>
#include <algorithm>

CThreePaneSplitter::CThreePaneSplitter(QWidget* parent) : QSplitter(parent) {
  setChildrenCollapsible(false);
}

bool CThreePaneSplitter::Create(int layout, QWidget* view1, QSize size1, QWidget* view2,
                                QSize size2, QWidget* view3, QSize size3) {
  if (layout < 0 || layout > 5 || !view1 || !view2 || !view3 || m_layout >= 0) return false;
  m_layout = layout;
  m_size1 = size1;
  m_size2 = size2;
  m_size3 = size3;
  auto makeNested = [this](Qt::Orientation orientation) {
    m_nested = new QSplitter(orientation, this);
    m_nested->setChildrenCollapsible(false);
    return m_nested;
  };
  switch (layout) {
    case 0:
    case 1: {
      setOrientation(Qt::Horizontal);
      QSplitter* nested = makeNested(Qt::Vertical);
      nested->addWidget(view2);
      nested->addWidget(view3);
      if (layout == 0) {
        addWidget(view1);
        addWidget(nested);
      } else {
        addWidget(nested);
        addWidget(view1);
      }
      break;
    }
    case 2:
    case 3: {
      setOrientation(Qt::Vertical);
      QSplitter* nested = makeNested(Qt::Horizontal);
      nested->addWidget(view2);
      nested->addWidget(view3);
      if (layout == 2) {
        addWidget(view1);
        addWidget(nested);
      } else {
        addWidget(nested);
        addWidget(view1);
      }
      break;
    }
    case 4:
    case 5:
      setOrientation(layout == 4 ? Qt::Vertical : Qt::Horizontal);
      addWidget(view1);
      addWidget(view2);
      addWidget(view3);
      break;
  }
  // Growing the window widens or heightens the last pane of each splitter.
  for (int i = 0; i < count(); ++i) setStretchFactor(i, i == count() - 1 ? 1 : 0);
  if (m_nested) {
    m_nested->setStretchFactor(0, 0);
    m_nested->setStretchFactor(1, 1);
  }
  m_sizesPending = true;
  if (width() > 0 && height() > 0 && isVisible()) ApplyInitialSizes();
  return true;
}

void CThreePaneSplitter::resizeEvent(QResizeEvent* event) {
  QSplitter::resizeEvent(event);
  if (m_sizesPending && event->size().width() > 0 && event->size().height() > 0)
    ApplyInitialSizes();
}

void CThreePaneSplitter::ApplyInitialSizes() {
  m_sizesPending = false;
  const bool horizontal = orientation() == Qt::Horizontal;
  const int total = horizontal ? width() : height();
  auto rest = [](int all, int used) { return std::max(1, all - used); };
  switch (m_layout) {
    case 0: {
      setSizes({m_size1.width(), rest(total, m_size1.width())});
      m_nested->setSizes({m_size2.height(), rest(m_nested->height(), m_size2.height())});
      break;
    }
    case 1: {
      const int first = std::max(10, m_size2.width());
      setSizes({first, rest(total, first)});
      m_nested->setSizes({m_size2.height(), rest(m_nested->height(), m_size2.height())});
      break;
    }
    case 2: {
      setSizes({m_size1.height(), rest(total, m_size1.height())});
      m_nested->setSizes({m_size2.width(), rest(m_nested->width(), m_size2.width())});
      break;
    }
    case 3: {
      const int first = std::max(10, m_size2.height());
      setSizes({first, rest(total, first)});
      m_nested->setSizes({m_size2.width(), rest(m_nested->width(), m_size2.width())});
      break;
    }
    case 4:
      setSizes(
          {m_size1.height(), m_size2.height(), rest(total, m_size1.height() + m_size2.height())});
      break;
    case 5:
      setSizes({m_size1.width(), m_size2.width(), rest(total, m_size1.width() + m_size2.width())});
      break;
    default:
      break;
  }
}

CThreePaneSplitter::PaneSize CThreePaneSplitter::SizeOf(const QSplitter* splitter, int index) {
  PaneSize result;
  if (!splitter || index < 0 || index >= splitter->count()) return result;
  result.current = splitter->sizes().value(index);
  const QWidget* w = splitter->widget(index);
  const QSize minimum = w->minimumSizeHint().expandedTo(w->minimumSize());
  result.minimum = splitter->orientation() == Qt::Horizontal ? minimum.width() : minimum.height();
  return result;
}

CThreePaneSplitter::PaneSize CThreePaneSplitter::FirstSize() const {
  switch (m_layout) {
    case 0:
    case 2:
    case 4:
    case 5:
      return SizeOf(this, 0);
    case 1:
    case 3:
      return SizeOf(this, 1);
    default:
      return {};
  }
}

CThreePaneSplitter::PaneSize CThreePaneSplitter::SecondSize() const {
  switch (m_layout) {
    case 0:
    case 1:
    case 2:
    case 3:
      return SizeOf(m_nested, 0);
    case 4:
    case 5:
      return SizeOf(this, 1);
    default:
      return {};
  }
}

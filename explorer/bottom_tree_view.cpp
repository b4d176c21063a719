#include "explorer/bottom_tree_view.h"

CBottomTreeView::CBottomTreeView(INavigator* navigator, QWidget* parent)
    : CTreeFormView(navigator, parent) {}

bool CBottomTreeView::OnCommand(int id) {
  return CTreeFormView::OnCommand(id);
}

bool CBottomTreeView::OnUpdateCommand(int id, CommandUpdate& update) {
  return CTreeFormView::OnUpdateCommand(id, update);
}

void CBottomTreeView::paintEvent(QPaintEvent*) {}

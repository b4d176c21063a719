#include "explorer/shell_tree_item.h"

#include "explorer/shell_tree_ctrl.h"

CShellTreeItem::CShellTreeItem(TreeChildRecord&& record)
    : QTreeWidgetItem(kType),
      m_id(std::move(record.id)),
      m_name(std::move(record.name)),
      m_path(std::move(record.path)),
      m_kind(record.kind),
      m_loop(record.loop) {
  setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  CLazyTreeCtrl::SetChildrenFlag(this, record.hasChildren && !record.loop);
}

QVariant CShellTreeItem::data(int column, int role) const {
  if (column == 0) {
    switch (role) {
      case Qt::DisplayRole:
      case Qt::EditRole:
        return m_name;
      case Qt::ToolTipRole:
        return m_path.isEmpty() ? m_name : m_path;
      case Qt::DecorationRole:
        if (const auto* tree = qobject_cast<const ShellTreeCtrl*>(treeWidget())) {
          return tree->IconFor(m_kind);
        }
        return {};
      default:
        break;
    }
  }
  return QTreeWidgetItem::data(column, role);
}

const CShellTreeItem* AsShellItem(const QTreeWidgetItem* item) {
  return item && item->type() == CShellTreeItem::kType ? static_cast<const CShellTreeItem*>(item)
                                                       : nullptr;
}

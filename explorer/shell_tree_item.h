#pragma once
// One folder (or volume, or top-level entry) of the shell folder tree. Its icon is looked
// up by kind from the tree's shared set when drawn, so large folders store no icons.
#include <QString>
#include <QTreeWidgetItem>

#include "explorer/tree_folder_reader.h"

class CShellTreeItem : public QTreeWidgetItem {
 public:
  static constexpr int kType = QTreeWidgetItem::UserType + 0x5354;

  explicit CShellTreeItem(TreeChildRecord&& record);

  QVariant data(int column, int role) const override;

  const QString& Id() const { return m_id; }
  const QString& Path() const { return m_path; }
  TreeItemKind Kind() const { return m_kind; }
  bool IsLoop() const { return m_loop; }

 private:
  QString m_id;
  QString m_name;
  QString m_path;
  TreeItemKind m_kind;
  bool m_loop;
};

// The item as a shell tree item; nullptr for the placeholder and other foreign items.
const CShellTreeItem* AsShellItem(const QTreeWidgetItem* item);

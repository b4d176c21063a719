#pragma once
// The icons of the folder tree, one per item kind, from the desktop's icon theme with Qt's
// own icons as fallbacks. Made on first use and kept, so items store no icons.
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>

#include "explorer/tree_folder_reader.h"

class CTreeIconSet {
 public:
  QIcon IconFor(TreeItemKind kind) const;

 private:
  QIcon MakeIcon(TreeItemKind kind) const;
  // The theme's icon of that name, else the provider's icon of the fallback type.
  QIcon Themed(const char* name, QAbstractFileIconProvider::IconType fallback) const;
  // A folder that shows open when selected, where the theme has an open folder.
  QIcon FolderIcon() const;
  // The folder with a small arrow in its lower left corner, as links are marked.
  QIcon FolderLinkIcon() const;

  QFileIconProvider m_iconProvider;
  mutable QHash<int, QIcon> m_icons;
};

#pragma once
// The folder tree of the window. Its top level shows the home folder, the desktop folder
// when there is one, the file system root and "Computer" with the mounted volumes; below
// them the folders, each read the first time it is expanded (folders only unless files are
// asked for). Names come in natural order, folders before files; icons come from the
// desktop's icon theme. Hidden (dot) names are left out.
#include <QIcon>
#include <QSet>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "explorer/lazy_tree_ctrl.h"
#include "explorer/tree_folder_reader.h"
#include "explorer/tree_icon_set.h"

// An item's place in the tree, from the top: the id of the top-level entry it hangs below,
// then one id per level down to it. Ids: "/" for the file system root, "computer:///" for
// the computer, "home" and "desktop" for those two folders, a volume's mount point below
// the computer, and a folder's name everywhere else. A path parses to the list below the
// file system root: "/usr/share" is {"/", "usr", "share"}.
using TreeIdList = QStringList;

class QFileSystemWatcher;

class ShellTreeCtrl : public CLazyTreeCtrl {
  Q_OBJECT
 public:
  static const QString kComputerPath;  // "computer:///"

  explicit ShellTreeCtrl(QWidget* parent = nullptr);
  ~ShellTreeCtrl() override;

  // root: empty for the standard top level; otherwise the id list of a folder whose
  // children form the top level (the standard top level when it cannot be read). Reloads
  // the whole tree.
  void SetRoot(const TreeIdList& root, bool showFiles = false);
  TreeIdList Root() const { return m_root; }
  bool ShowFiles() const { return m_showFiles; }

  // Selects the item of a path, expanding each level on the way and reading what has not
  // been read yet; the selection is made when the last level is in, and raises the tree's
  // selection change like a user's click. False only when the path cannot be parsed; a
  // path outside the tree leaves it expanded as far as it matched, selection unchanged.
  bool SelectPath(const QString& path);
  bool SelectIdList(const TreeIdList& target);
  // The same, with the selection marked quiet: hosts do not report it back to the window.
  bool SelectPathQuietly(const QString& path);
  // True while a quiet selection changes the tree's selection.
  bool IsQuietSelection() const { return m_quietSelection; }
  // True while a selection waits for a level to be read.
  bool IsSelectionPending() const { return m_selection.has_value(); }

  // Empty when the text is neither an absolute path nor "computer:///".
  static TreeIdList ParsePath(const QString& path);
  TreeIdList IdListOf(const QTreeWidgetItem* item) const;
  // File-system path of an item; empty for the computer, the placeholder and foreign items.
  QString PathOf(const QTreeWidgetItem* item) const;
  bool IsLoopItem(const QTreeWidgetItem* item) const;
  QIcon IconFor(TreeItemKind kind) const;

  // Reads an item's folder again and brings its children in line with the disk: new
  // folders appear in their place, vanished ones go, the rest keep their own children and
  // state. Runs on this thread; a selection inside a vanished folder moves to the item
  // quietly. False when the item has no folder or is still being read.
  bool SyncChildren(QTreeWidgetItem* item);
  // F5: the selected item's children as the disk has them now.
  void RefreshSelected();
  // The folders watched for changes, at most kMaxWatches (the least recently expanded go
  // first).
  QStringList WatchedFolders() const;
  static constexpr int kMaxWatches = 64;

  // Called on the worker just before a folder is opened; a non-zero errno fails it.
  void SetOpenHook(std::function<int(const std::string& folder)> hook) {
    m_openHook = std::move(hook);
  }

 protected:
  bool NeedsReload(QTreeWidgetItem* item) override;
  std::shared_ptr<CChildReader> CreateReader(QTreeWidgetItem* item) override;
  bool PopulateChildren(QTreeWidgetItem* item, CChildReader* reader) override;
  // The user taking over ends a selection that is still waiting for a level.
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void updateGeometries() override;

 private:
  struct PendingSelection {
    TreeIdList target;
    bool quiet = false;
    int expandedDepth = -1;  // deepest level this selection expanded
    int syncedDepth = -1;    // deepest level this selection read again from the disk
    uint64_t serial = 0;
  };

  bool StartSelection(const TreeIdList& target, bool quiet);
  void Watch(const QString& folder);
  void OnFolderChanged();
  void CollectItemsOf(QTreeWidgetItem* parent, const QString& path,
                      QList<QTreeWidgetItem*>& items) const;
  // Keeps the item a selection ended on in view until the user scrolls or clicks: the
  // pane's size and the scroll bars settle only after the window is shown.
  void RevealCurrentLater();
  void RevealCurrent();
  void ContinueSelection();
  std::vector<TreeChildRecord> TopLevelRecords() const;

  TreeIdList m_root;
  TreeIdList m_topBase;  // id list above the top-level items as last read
  bool m_showFiles = false;
  CTreeIconSet m_iconSet;
  std::optional<PendingSelection> m_selection;
  bool m_quietSelection = false;
  bool m_continuing = false;
  uint64_t m_selectionSerial = 0;
  std::function<int(const std::string&)> m_openHook;
  QFileSystemWatcher* m_watcher = nullptr;
  QStringList m_watchOrder;  // least recently expanded first
  QSet<QString> m_changedFolders;
  QTimer* m_changeTimer = nullptr;  // gathers a burst of changes into one pass
  QTimer* m_revealTimer = nullptr;
  bool m_reveal = false;
};

#include "explorer/shell_tree_ctrl.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>
#include <utility>

#include "common/paths.h"
#include "explorer/explorer_paths.h"
#include "explorer/shell_child_reader.h"
#include "explorer/shell_tree_item.h"
#include "framework/native_path.h"

const QString ShellTreeCtrl::kComputerPath = QStringLiteral("computer:///");

namespace {

// Changes come in bursts (a copy of many folders): one pass after the burst.
constexpr int kChangeDelayMs = 150;

const QString kHomeId = QStringLiteral("home");
const QString kDesktopId = QStringLiteral("desktop");
const QString kFileSystemId = QStringLiteral("/");

QString PathOfIdList(const TreeIdList& ids) {
  if (ids.isEmpty() || ids.front() != kFileSystemId) return {};
  QString path;
  for (qsizetype i = 1; i < ids.size(); ++i) path += u'/' + ids[i];
  return path.isEmpty() ? kFileSystemId : path;
}

bool StartsWithList(const TreeIdList& list, const TreeIdList& prefix) {
  if (prefix.size() > list.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), list.begin());
}

}  // namespace

ShellTreeCtrl::ShellTreeCtrl(QWidget* parent) : CLazyTreeCtrl(parent) {
  setIconSize(QSize(16, 16));
  m_watcher = new QFileSystemWatcher(this);
  m_changeTimer = new QTimer(this);
  m_changeTimer->setSingleShot(true);
  m_changeTimer->setInterval(kChangeDelayMs);
  m_revealTimer = new QTimer(this);
  m_revealTimer->setSingleShot(true);
  m_revealTimer->setInterval(0);
  connect(m_revealTimer, &QTimer::timeout, this, &ShellTreeCtrl::RevealCurrent);
  connect(m_changeTimer, &QTimer::timeout, this, &ShellTreeCtrl::OnFolderChanged);
  connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& path) {
    m_changedFolders.insert(path);
    m_changeTimer->start();
  });
  connect(this, &CLazyTreeCtrl::ChildrenLoaded, this, [this](QTreeWidgetItem* item) {
    // The children of an open folder are in: from now on the folder is watched.
    if (item != invisibleRootItem() && item->isExpanded()) Watch(PathOf(item));
    if (m_selection) ContinueSelection();
    if (m_reveal) RevealCurrentLater();
  });
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    // Opened again after a while: what was read before may be out of date.
    if (item->childCount() > 0 && !IsLoading(item) && !IsPlaceholder(item->child(0))) {
      SyncChildren(item);
      Watch(PathOf(item));
    }
  });
  connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, [this] { m_reveal = false; });
  // The selected folder is watched too, so that it gets its button once it has subfolders.
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
    if (current && !IsLoopItem(current)) Watch(PathOf(current));
  });
}

void ShellTreeCtrl::Watch(const QString& folder) {
  if (folder.isEmpty()) return;
  if (m_watchOrder.removeOne(folder)) {
    m_watchOrder.append(folder);  // most recently expanded last
    return;
  }
  while (m_watchOrder.size() >= kMaxWatches) m_watcher->removePath(m_watchOrder.takeFirst());
  // Without inotify (or past its limits) the folder is simply not followed.
  if (m_watcher->addPath(folder)) m_watchOrder.append(folder);
}

QStringList ShellTreeCtrl::WatchedFolders() const {
  return m_watchOrder;
}

void ShellTreeCtrl::CollectItemsOf(QTreeWidgetItem* parent, const QString& path,
                                   QList<QTreeWidgetItem*>& items) const {
  // Only items on open branches: a closed folder is read again when it is opened.
  for (int i = 0, n = parent->childCount(); i < n; ++i) {
    QTreeWidgetItem* child = parent->child(i);
    if (PathOf(child) == path) items.append(child);
    if (child->isExpanded()) CollectItemsOf(child, path, items);
  }
}

void ShellTreeCtrl::OnFolderChanged() {
  const QSet<QString> changed = std::exchange(m_changedFolders, {});
  for (const QString& path : changed) {
    QList<QTreeWidgetItem*> items;
    CollectItemsOf(invisibleRootItem(), path, items);
    if (items.isEmpty() || !IsFolder(Native(path))) {
      m_watchOrder.removeOne(path);
      m_watcher->removePath(path);
    }
    // One item's sync may delete another of the list (the same folder seen twice, one
    // inside the other): look each up again before touching it.
    for (QTreeWidgetItem* item : items) {
      QList<QTreeWidgetItem*> still;
      CollectItemsOf(invisibleRootItem(), path, still);
      if (!still.contains(item)) continue;
      if (item->isExpanded()) {
        SyncChildren(item);
      } else if (item->childCount() == 0 && !IsLoading(item) && !IsLoopItem(item)) {
        // A closed folder that was never read: its button says whether it has any now.
        SetChildrenFlag(item, FolderHasSubfolders(Native(path)));
      }
    }
  }
}

bool ShellTreeCtrl::SyncChildren(QTreeWidgetItem* item) {
  if (!item || item == invisibleRootItem() || IsLoading(item)) return false;
  const CShellTreeItem* shellItem = AsShellItem(item);
  if (!shellItem || shellItem->IsLoop() || shellItem->Path().isEmpty()) return false;
  FolderReadRequest request;
  request.path = shellItem->Path();
  request.showFiles = m_showFiles;
  request.openHook = m_openHook;
  CLoadProgress progress(nullptr);
  FolderReadResult result = ReadFolderChildren(request, progress);
  // A folder that is gone leaves with its parent's next sync; an unreadable one keeps
  // what it showed.
  if (result.status != FolderReadStatus::kRead) return false;

  QSet<QString> fresh;
  for (const TreeChildRecord& record : result.children) fresh.insert(record.id);
  QTreeWidgetItem* current = currentItem();
  bool selectionGone = false;
  const bool quiet = m_quietSelection;
  m_quietSelection = true;  // the tree's own fix-ups of the selection are reported to nobody
  for (int i = item->childCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* child = item->child(i);
    const CShellTreeItem* shellChild = AsShellItem(child);
    if (shellChild && fresh.contains(shellChild->Id())) continue;
    for (QTreeWidgetItem* at = current; at; at = at->parent())
      if (at == child) selectionGone = true;
    delete item->takeChild(i);
  }
  int pos = 0;
  for (TreeChildRecord& record : result.children) {
    int found = -1;
    for (int i = pos, n = item->childCount(); i < n; ++i) {
      const CShellTreeItem* shellChild = AsShellItem(item->child(i));
      if (shellChild && shellChild->Id() == record.id) {
        found = i;
        break;
      }
    }
    if (found < 0) {
      item->insertChild(pos, new CShellTreeItem(std::move(record)));
    } else {
      QTreeWidgetItem* kept = item->child(found);
      if (found != pos) {
        const bool expanded = kept->isExpanded();
        item->insertChild(pos, item->takeChild(found));
        kept->setExpanded(expanded);
      }
      // An unread folder's button follows the disk too.
      if (kept->childCount() == 0 && !IsLoading(kept))
        SetChildrenFlag(kept, record.hasChildren && !record.loop);
    }
    ++pos;
  }
  SetChildrenFlag(item, item->childCount() > 0);
  if (selectionGone) setCurrentItem(item);
  m_quietSelection = quiet;
  return true;
}

void ShellTreeCtrl::RefreshSelected() {
  QTreeWidgetItem* item = currentItem();
  if (!item || IsLoading(item)) return;
  if (item->childCount() > 0 || item->isExpanded()) {
    SyncChildren(item);
  } else if (const QString path = PathOf(item); !path.isEmpty() && !IsLoopItem(item)) {
    // Not read yet: only its button can be out of date.
    SetChildrenFlag(item, FolderHasSubfolders(Native(path)));
  }
}

void ShellTreeCtrl::RevealCurrentLater() {
  m_reveal = true;
  m_revealTimer->start();
}

void ShellTreeCtrl::RevealCurrent() {
  QTreeWidgetItem* current = currentItem();
  if (!m_reveal || !current) return;
  executeDelayedItemsLayout();
  const QRect rect = visualItemRect(current);
  if (rect.isValid() && viewport()->rect().contains(rect)) return;
  const int keepX = horizontalScrollBar()->value();
  scrollToItem(current, QAbstractItemView::EnsureVisible);
  horizontalScrollBar()->setValue(keepX);
}

void ShellTreeCtrl::wheelEvent(QWheelEvent* event) {
  m_reveal = false;
  CLazyTreeCtrl::wheelEvent(event);
}

void ShellTreeCtrl::resizeEvent(QResizeEvent* event) {
  CLazyTreeCtrl::resizeEvent(event);
  if (m_reveal) m_revealTimer->start();
}

void ShellTreeCtrl::updateGeometries() {
  CLazyTreeCtrl::updateGeometries();
  // A horizontal scroll bar that appears covers the bottom row.
  if (m_reveal) m_revealTimer->start();
}

ShellTreeCtrl::~ShellTreeCtrl() = default;

void ShellTreeCtrl::SetRoot(const TreeIdList& root, bool showFiles) {
  m_showFiles = showFiles;
  m_root = root;
  RefreshItem(invisibleRootItem());
}

bool ShellTreeCtrl::NeedsReload(QTreeWidgetItem*) {
  return false;
}

std::vector<TreeChildRecord> ShellTreeCtrl::TopLevelRecords() const {
  auto record = [](const QString& id, const QString& name, const QString& path, TreeItemKind kind) {
    TreeChildRecord r;
    r.id = id;
    r.name = name;
    r.path = path;
    r.kind = kind;
    return r;
  };
  std::vector<TreeChildRecord> records;
  const QString home = QDir::homePath();
  records.push_back(record(kHomeId, QStandardPaths::displayName(QStandardPaths::HomeLocation), home,
                           TreeItemKind::kHome));
  const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (!desktop.isEmpty() && QDir::cleanPath(desktop) != QDir::cleanPath(home) &&
      QFileInfo(desktop).isDir()) {
    records.push_back(record(kDesktopId,
                             QStandardPaths::displayName(QStandardPaths::DesktopLocation), desktop,
                             TreeItemKind::kDesktop));
  }
  records.push_back(
      record(kFileSystemId, tr("File System"), kFileSystemId, TreeItemKind::kFileSystem));
  records.push_back(record(kComputerPath, tr("Computer"), QString(), TreeItemKind::kComputer));
  records.back().hasChildren = true;
  return records;
}

std::shared_ptr<CChildReader> ShellTreeCtrl::CreateReader(QTreeWidgetItem* item) {
  auto reader = std::make_shared<CShellChildReader>();
  reader->request.showFiles = m_showFiles;
  reader->request.openHook = m_openHook;
  if (item == invisibleRootItem()) {
    reader->topLevel = TopLevelRecords();
    const QString rootPath = PathOfIdList(m_root);
    if (rootPath.isEmpty()) {
      reader->mode = CShellChildReader::Mode::kTopLevel;
    } else {
      reader->mode = CShellChildReader::Mode::kFolder;
      reader->request.path = rootPath;
      reader->fallBackToTopLevel = true;
    }
    return reader;
  }
  const CShellTreeItem* shellItem = AsShellItem(item);
  if (!shellItem || shellItem->IsLoop()) return reader;  // reads nothing
  if (shellItem->Kind() == TreeItemKind::kComputer) {
    reader->mode = CShellChildReader::Mode::kComputer;
  } else if (!shellItem->Path().isEmpty()) {
    reader->mode = CShellChildReader::Mode::kFolder;
    reader->request.path = shellItem->Path();
  }
  return reader;
}

bool ShellTreeCtrl::PopulateChildren(QTreeWidgetItem* item, CChildReader* baseReader) {
  auto* reader = dynamic_cast<CShellChildReader*>(baseReader);
  const bool root = item == invisibleRootItem();
  if (root) m_topBase = (reader && !reader->readTopLevel) ? m_root : TreeIdList{};
  // A folder that is gone gets no children, and loses its button.
  if (!reader || reader->result.status == FolderReadStatus::kNotBound) return true;

  const QList<QTreeWidgetItem*> children = reader->TakeItems();
  if (!children.isEmpty()) item->addChildren(children);  // already in the tree's order

  // Whether the children flag follows what was inserted: not when nothing was (the user may
  // try again), not when the last child is a slow volume, and not for a folder that is not
  // the root of a fixed volume.
  if (children.isEmpty()) return false;
  const CShellTreeItem* last = AsShellItem(children.back());
  if (last && IsSlowKind(last->Kind())) return false;
  if (!root && !PathOf(item).isEmpty() && !reader->result.parentIsFixedRoot) return false;
  return true;
}

TreeIdList ShellTreeCtrl::ParsePath(const QString& path) {
  if (path == kComputerPath || path == QStringLiteral("computer:") ||
      path == QStringLiteral("computer://")) {
    return {kComputerPath};
  }
  if (!path.startsWith(u'/')) return {};
  TreeIdList ids{kFileSystemId};
  ids += QDir::cleanPath(path).split(u'/', Qt::SkipEmptyParts);
  return ids;
}

TreeIdList ShellTreeCtrl::IdListOf(const QTreeWidgetItem* item) const {
  TreeIdList ids;
  for (const QTreeWidgetItem* at = item; at && at != invisibleRootItem(); at = at->parent()) {
    const CShellTreeItem* shellItem = AsShellItem(at);
    if (!shellItem) return {};
    ids.prepend(shellItem->Id());
  }
  if (ids.isEmpty()) return {};
  return m_topBase + ids;
}

QString ShellTreeCtrl::PathOf(const QTreeWidgetItem* item) const {
  const CShellTreeItem* shellItem = AsShellItem(item);
  return shellItem ? shellItem->Path() : QString();
}

bool ShellTreeCtrl::IsLoopItem(const QTreeWidgetItem* item) const {
  const CShellTreeItem* shellItem = AsShellItem(item);
  return shellItem && shellItem->IsLoop();
}

bool ShellTreeCtrl::SelectPath(const QString& path) {
  const TreeIdList target = ParsePath(path);
  if (target.isEmpty()) return false;
  return StartSelection(target, false);
}

bool ShellTreeCtrl::SelectPathQuietly(const QString& path) {
  const TreeIdList target = ParsePath(path);
  if (target.isEmpty()) return false;
  return StartSelection(target, true);
}

bool ShellTreeCtrl::SelectIdList(const TreeIdList& target) {
  return StartSelection(target, false);
}

bool ShellTreeCtrl::StartSelection(const TreeIdList& target, bool quiet) {
  m_selection = PendingSelection{target, quiet, -1, -1, ++m_selectionSerial};
  ContinueSelection();
  return true;
}

void ShellTreeCtrl::ContinueSelection() {
  // Expanding may complete a load at once and report back here; the walk below goes on.
  if (!m_selection || m_continuing) return;
  QTreeWidgetItem* level = invisibleRootItem();
  if (IsLoading(level)) return;  // resumes when the top level is in
  m_continuing = true;
  const TreeIdList target = m_selection->target;
  const uint64_t serial = m_selection->serial;
  bool waiting = false;
  qsizetype depth = m_topBase.size();  // index in target of the ids of level's children
  if (StartsWithList(target, m_topBase) && depth < target.size()) {
    for (;;) {
      QTreeWidgetItem* match = nullptr;
      const QString& id = target[depth];
      for (int i = 0, n = level->childCount(); i < n; ++i) {
        const CShellTreeItem* child = AsShellItem(level->child(i));
        if (child && child->Id() == id) {
          match = level->child(i);
          break;
        }
      }
      if (!match && level != invisibleRootItem() && m_selection->syncedDepth < depth) {
        // Perhaps made after its folder was read: read that folder again, once.
        m_selection->syncedDepth = static_cast<int>(depth);
        if (SyncChildren(level)) continue;
      }
      if (!match) break;  // not in the tree: stop where the match ended
      if (depth + 1 == target.size()) {
        m_quietSelection = m_selection->quiet;
        setCurrentItem(match);  // raises the selection change like a click
        m_quietSelection = false;
        m_reveal = true;
        RevealCurrent();
        RevealCurrentLater();
        break;
      }
      if (!match->isExpanded() || match->childCount() == 0) {
        if (match->childCount() == 0) {
          if (m_selection->expandedDepth >= depth) break;  // read already: nothing there
          m_selection->expandedDepth = static_cast<int>(depth);
        }
        expandItem(match);  // reads its children unless they are in
        if (!m_selection || m_selection->serial != serial) break;
        if (IsLoading(match)) {
          waiting = true;  // resumes when its children are in
          break;
        }
      } else if (IsLoading(match)) {
        waiting = true;  // opened by an earlier selection and still being read
        break;
      }
      level = match;
      ++depth;
    }
  }
  m_continuing = false;
  if (!m_selection || waiting) return;
  if (m_selection->serial == serial) {
    m_selection.reset();
  } else {
    ContinueSelection();  // a new selection began while this one ran
  }
}

void ShellTreeCtrl::mousePressEvent(QMouseEvent* event) {
  m_selection.reset();
  m_reveal = false;
  CLazyTreeCtrl::mousePressEvent(event);
}

void ShellTreeCtrl::keyPressEvent(QKeyEvent* event) {
  m_selection.reset();
  m_reveal = false;
  if (event->key() == Qt::Key_F5 && event->modifiers() == Qt::NoModifier) {
    RefreshSelected();
    event->accept();
    return;
  }
  CLazyTreeCtrl::keyPressEvent(event);
}

QIcon ShellTreeCtrl::IconFor(TreeItemKind kind) const {
  return m_iconSet.IconFor(kind);
}

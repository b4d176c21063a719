#include "explorer/shell_child_reader.h"

#include <utility>

#include "explorer/explorer_paths.h"
#include "explorer/shell_tree_item.h"
#include "framework/native_path.h"

CShellChildReader::~CShellChildReader() {
  qDeleteAll(m_items);
}

void CShellChildReader::Read(CLoadProgress& progress) {
  result.status = FolderReadStatus::kNotBound;
  switch (mode) {
    case Mode::kNothing:
      break;
    case Mode::kFolder:
      result = ReadFolderChildren(request, progress);
      if (fallBackToTopLevel && result.status == FolderReadStatus::kNotBound) {
        ReadTopLevel(progress);
      }
      break;
    case Mode::kTopLevel:
      ReadTopLevel(progress);
      break;
    case Mode::kComputer:
      result.children = ReadComputerVolumes(progress);
      result.status = FolderReadStatus::kRead;
      break;
  }
}

bool CShellChildReader::BuildChildren(const QElapsedTimer& clock, int64_t budgetMs) {
  m_items.reserve(static_cast<qsizetype>(result.children.size()));
  while (m_next < result.children.size()) {
    m_items.append(new CShellTreeItem(std::move(result.children[m_next])));
    ++m_next;
    if ((m_next & 511) == 0 && clock.elapsed() >= budgetMs) break;
  }
  if (m_next < result.children.size()) return false;
  result.children.clear();
  return true;
}

QList<QTreeWidgetItem*> CShellChildReader::TakeItems() {
  return std::exchange(m_items, {});
}

void CShellChildReader::ReadTopLevel(CLoadProgress& progress) {
  progress.SetLoadProgress(0, 0);
  for (TreeChildRecord& record : topLevel) {
    // The computer is never probed: its volumes may be slow.
    if (record.kind != TreeItemKind::kComputer) {
      record.hasChildren = FolderHasSubfolders(Native(record.path));
    }
    progress.AddLoadProgress(1);
  }
  result = FolderReadResult{};
  result.status = FolderReadStatus::kRead;
  result.children = std::move(topLevel);
  readTopLevel = true;
  progress.SetLoadProgress(1, 1);
}

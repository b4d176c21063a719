#pragma once
// The reading behind one expansion of the shell folder tree: a folder's children, the
// standard top level, or the mounted volumes below "Computer". Read runs on the tree's
// worker; BuildChildren turns the records into items on the user-interface thread, a slice
// at a time.
#include <QList>
#include <cstddef>
#include <vector>

#include "explorer/lazy_tree_ctrl.h"
#include "explorer/tree_folder_reader.h"

class CShellChildReader : public CChildReader {
 public:
  enum class Mode { kNothing, kFolder, kTopLevel, kComputer };

  Mode mode = Mode::kNothing;
  FolderReadRequest request;
  std::vector<TreeChildRecord> topLevel;  // kTopLevel, and the fallback of a folder root
  bool fallBackToTopLevel = false;

  FolderReadResult result;  // status kNotBound until read
  bool readTopLevel = false;

  ~CShellChildReader() override;

  void Read(CLoadProgress& progress) override;
  bool BuildChildren(const QElapsedTimer& clock, int64_t budgetMs) override;
  // The items built, in the tree's order; the caller owns them.
  QList<QTreeWidgetItem*> TakeItems();

 private:
  // The top-level records with their expand buttons probed (all but the computer's).
  void ReadTopLevel(CLoadProgress& progress);

  size_t m_next = 0;
  QList<QTreeWidgetItem*> m_items;
};

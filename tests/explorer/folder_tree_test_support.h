#pragma once
// Helpers shared by the folder tree tests: building folder layouts in a temporary folder,
// waiting on reader threads, and looking at tree items.
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QStringList>
#include <QTreeWidgetItem>
#include <atomic>
#include <functional>
#include <mutex>

#include "explorer/lazy_tree_ctrl.h"

namespace folder_tree_test {

// Creates folders (names ending in "/") and small files below base.
inline bool MakeEntries(const QString& base, const QStringList& entries) {
  for (const QString& entry : entries) {
    const QString path = base + u'/' + entry;
    if (entry.endsWith(u'/')) {
      if (!QDir().mkpath(path)) return false;
    } else {
      if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
      QFile file(path);
      if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1) return false;
    }
  }
  return true;
}

inline QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& text) {
  if (!parent) return nullptr;
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == text) return parent->child(i);
  }
  return nullptr;
}

inline QStringList ChildTexts(const QTreeWidgetItem* parent) {
  QStringList texts;
  if (!parent) return texts;
  for (int i = 0; i < parent->childCount(); ++i) texts << parent->child(i)->text(0);
  return texts;
}

inline bool HasButton(const QTreeWidgetItem* item) {
  return item && CLazyTreeCtrl::HasChildrenFlag(item);
}

// Lets a test hold reader threads at chosen points and step them on.
class Gate {
 public:
  // Worker side: wait until the test lets one step pass (or the gate is opened for good).
  void Pass() {
    m_waiting.fetch_add(1);
    m_permits.acquire();
    m_waiting.fetch_sub(1);
    m_passed.release();
  }
  // Test side.
  void Step() { m_permits.release(); }
  bool WaitPassed(int timeoutMs = 5000) { return m_passed.tryAcquire(1, timeoutMs); }
  void OpenForGood() { m_permits.release(1 << 20); }
  int Waiting() const { return m_waiting.load(); }

 private:
  QSemaphore m_permits;
  QSemaphore m_passed;
  std::atomic<int> m_waiting{0};
};

}  // namespace folder_tree_test

#pragma once
// A tree control that reads an item's children only when the item is expanded. While the
// children are read it shows a "Loading..." placeholder child with a busy indicator beside
// it. The reading runs on a worker thread, so the window keeps drawing and answering input
// while a slow or hung mount is read; the children are inserted on the user-interface
// thread once they are read, a slice at a time for very large folders.
//
// A derived tree supplies the reading in two halves: CreateReader (user-interface thread)
// captures what the worker needs, CChildReader::Read (worker thread, no widgets) reads, and
// PopulateChildren (user-interface thread) inserts what was read.
#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class CLazyTreeCtrl;

// Wakes the control's thread when a load made progress. Shared by the control and its
// workers, so a worker that outlives the control finds the target gone instead of a
// dangling pointer.
class CLoadWaker {
 public:
  explicit CLoadWaker(CLazyTreeCtrl* target) : m_target(target) {}
  void Wake();
  void Detach();
  // Called by the control before it looks at the loads, so a later change wakes it again.
  void Rearm() { m_pending.store(false); }

 private:
  std::mutex m_mutex;
  CLazyTreeCtrl* m_target;
  std::atomic<bool> m_pending{false};
};

// Progress and stop state of one load, shared between the user-interface thread and the
// worker. Counts only grow or are reset by SetLoadProgress; a momentarily stale pair only
// draws a slightly older bar.
class CLoadProgress {
 public:
  explicit CLoadProgress(std::shared_ptr<CLoadWaker> waker) : m_waker(std::move(waker)) {}

  // total 0 means "not yet known"; the busy bar then approaches full length as done grows.
  void SetLoadProgress(int64_t total, int64_t done);
  void AddLoadProgress(int64_t n);
  // True once the control no longer wants the result (item deleted, control destroyed).
  bool IsCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }

  int64_t Total() const { return m_total.load(std::memory_order_relaxed); }
  int64_t Done() const { return m_done.load(std::memory_order_relaxed); }
  bool IsFinished() const { return m_finished.load(std::memory_order_acquire); }

  void Cancel() { m_cancelled.store(true); }
  // The worker is done with the reader; its results are visible after IsFinished().
  void MarkFinished();

 private:
  std::shared_ptr<CLoadWaker> m_waker;
  std::atomic<int64_t> m_total{1};
  std::atomic<int64_t> m_done{0};
  std::atomic<bool> m_cancelled{false};
  std::atomic<bool> m_finished{false};
};

// One expansion's reading. Made on the user-interface thread by CreateReader, run once on a
// worker thread, then handed to PopulateChildren on the user-interface thread.
class CChildReader {
 public:
  virtual ~CChildReader() = default;
  // Worker thread. Reads the children and reports through progress; must not touch widgets
  // or anything else that belongs to the user-interface thread. Should return soon after
  // progress.IsCancelled() turns true.
  virtual void Read(CLoadProgress& progress) = 0;
  // User-interface thread, after Read: prepares child items until clock has run budgetMs,
  // so that large folders never stall the window; returns true when everything is
  // prepared. Called again (after pending events were served) until it returns true.
  virtual bool BuildChildren(const QElapsedTimer&, int64_t /*budgetMs*/) { return true; }
};

class CLazyTreeCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  explicit CLazyTreeCtrl(QWidget* parent = nullptr);
  ~CLazyTreeCtrl() override;

  // Progress of the load that PopulateChildren is running on this thread (readers report
  // through their own CLoadProgress instead).
  void SetLoadProgress(int64_t total, int64_t done);
  void AddLoadProgress(int64_t n);

  // Reloads the children of an item, or the whole tree for the root (invisibleRootItem()),
  // dropping a read under way. False, doing nothing, for an item that is not the root and
  // has no children flag.
  bool RefreshItem(QTreeWidgetItem* item);
  void DeleteChildren(QTreeWidgetItem* item);
  void ReloadRoot();

  // Expansion protocol: BeginExpand puts the placeholder under the item (unless its children
  // stay), FinishExpand starts reading them. Both run when an item is expanded.
  void BeginExpand(QTreeWidgetItem* item);
  void FinishExpand(QTreeWidgetItem* item);

  bool IsLoading(QTreeWidgetItem* item) const;
  bool IsPlaceholder(const QTreeWidgetItem* item) const;
  int LoadsInProgress() const { return static_cast<int>(m_loads.size()); }
  // Whether the item shows an expand button even before its children are known.
  static bool HasChildrenFlag(const QTreeWidgetItem* item);
  static void SetChildrenFlag(QTreeWidgetItem* item, bool on);

  void SetPlaceholderText(const QString& text) { m_placeholderText = text; }
  QString PlaceholderText() const { return m_placeholderText; }
  void SetPlaceholderIcon(const QIcon& icon) { m_placeholderIcon = icon; }
  void SetShowBusyIndicator(bool on) { m_showBusyIndicator = on; }
  bool ShowBusyIndicator() const { return m_showBusyIndicator; }
  // Period of the indicator's tick in milliseconds; 0 (the default) draws only on progress.
  void SetTickPeriod(int ms) { m_tickPeriod = ms; }

 signals:
  // An item's children were inserted (or found missing); the root is invisibleRootItem().
  void ChildrenLoaded(QTreeWidgetItem* item);

 protected:
  // Busy indicator hooks, all on the user-interface thread; placeholder tells concurrent
  // loads apart. DrawBusyIndicator runs when the load starts (once as a tick, once as
  // progress), whenever its progress changed, and on every tick.
  virtual void PrepareBusyIndicator(QTreeWidgetItem* placeholder);
  virtual void DrawBusyIndicator(QTreeWidgetItem* placeholder, bool tick, int64_t total,
                                 int64_t done);
  virtual void EndBusyIndicator(QTreeWidgetItem* placeholder);
  // Whether an item that already has children reads them again when it is expanded.
  virtual bool NeedsReload(QTreeWidgetItem* item);
  // The reading of an item's children; null when there is nothing to read on a worker
  // (PopulateChildren then runs at once with a null reader).
  virtual std::shared_ptr<CChildReader> CreateReader(QTreeWidgetItem* item);
  // Inserts the item's children from what reader read, and returns whether the item's
  // children flag is to be set from what was inserted: true makes an item that got no
  // children lose its expand button; false collapses it but keeps the button, so the user
  // can try again.
  virtual bool PopulateChildren(QTreeWidgetItem* item, CChildReader* reader);

 private:
  friend class CLoadWaker;
  friend class CPlaceholderItem;
  struct Load;

  void OnItemExpanded(QTreeWidgetItem* item);
  void OnLoadWake();
  void ServeLoads();
  void OnTick();
  void StartWorker(Load& load);
  void CompleteLoad(QTreeWidgetItem* placeholder);
  void OnPlaceholderDestroyed(QTreeWidgetItem* placeholder);
  Load* FindLoad(const QTreeWidgetItem* item) const;
  Load* FindLoadByPlaceholder(const QTreeWidgetItem* placeholder) const;
  // Removes the load of placeholder from the running loads and hands it over; null when none.
  std::unique_ptr<Load> TakeLoad(const QTreeWidgetItem* placeholder);
  void ScrollRootIntoView();

  std::shared_ptr<CLoadWaker> m_waker;
  std::vector<std::unique_ptr<Load>> m_loads;
  QTreeWidgetItem* m_loadingItem = nullptr;      // set by BeginExpand for FinishExpand
  QTreeWidgetItem* m_placeholderItem = nullptr;  // the newest placeholder
  CLoadProgress* m_syncProgress = nullptr;       // the load PopulateChildren runs in place
  QString m_placeholderText;
  QIcon m_placeholderIcon;
  bool m_showBusyIndicator = false;
  int m_tickPeriod = 0;
  QTimer m_serveTimer;  // serves wake-ups at most every few milliseconds
  QTimer m_tickTimer;
  QElapsedTimer m_sinceServe;
  bool m_serveQueued = false;
  bool m_scrollRootPending = false;
  std::optional<int> m_keepScrollX;  // horizontal scroll position kept over a root reload
};

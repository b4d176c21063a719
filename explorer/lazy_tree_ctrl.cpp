#include "explorer/lazy_tree_ctrl.h"

#include <QHeaderView>
#include <QScrollBar>
#include <algorithm>
#include <system_error>
#include <thread>

namespace {

// Wake-ups from workers are served at most this often, so a worker reporting every child
// of a huge folder cannot flood the event queue.
constexpr int kServeIntervalMs = 10;
// Longest stretch the user-interface thread spends preparing children before it serves
// pending input again.
constexpr int64_t kBuildSliceMs = 8;

}  // namespace

// The "Loading..." child. Deleting it (with its item, or by DeleteChildren) cancels its load.
class CPlaceholderItem : public QTreeWidgetItem {
 public:
  static constexpr int kType = QTreeWidgetItem::UserType + 0x4c54;
  explicit CPlaceholderItem(CLazyTreeCtrl* owner) : QTreeWidgetItem(kType), m_owner(owner) {}
  ~CPlaceholderItem() override {
    if (m_owner) m_owner->OnPlaceholderDestroyed(this);
  }
  void Detach() { m_owner = nullptr; }

 private:
  CLazyTreeCtrl* m_owner;
};

struct CLazyTreeCtrl::Load {
  enum class Stage { kPrepared, kReading, kBuilding };
  QTreeWidgetItem* item = nullptr;  // whose children are read; invisibleRootItem() for the root
  CPlaceholderItem* placeholder = nullptr;
  std::shared_ptr<CLoadProgress> progress;
  std::shared_ptr<CChildReader> reader;
  Stage stage = Stage::kPrepared;
  bool built = false;  // the reader's BuildChildren is through
  int64_t drawnTotal = -1;
  int64_t drawnDone = -1;
};

void CLoadWaker::Wake() {
  if (m_pending.exchange(true)) return;  // a wake-up is already on its way
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_target) return;
  CLazyTreeCtrl* target = m_target;
  // Queued to the control's thread; Qt drops the call if the control is destroyed first.
  QMetaObject::invokeMethod(
      target, [target] { target->OnLoadWake(); }, Qt::QueuedConnection);
}

void CLoadWaker::Detach() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_target = nullptr;
}

void CLoadProgress::SetLoadProgress(int64_t total, int64_t done) {
  m_total.store(total, std::memory_order_relaxed);
  m_done.store(done, std::memory_order_relaxed);
  if (m_waker) m_waker->Wake();
}

void CLoadProgress::AddLoadProgress(int64_t n) {
  m_done.fetch_add(n, std::memory_order_relaxed);
  if (m_waker) m_waker->Wake();
}

void CLoadProgress::MarkFinished() {
  m_finished.store(true, std::memory_order_release);
  if (m_waker) m_waker->Wake();
}

CLazyTreeCtrl::CLazyTreeCtrl(QWidget* parent)
    : QTreeWidget(parent),
      m_waker(std::make_shared<CLoadWaker>(this)),
      m_placeholderText(QStringLiteral("Loading...")) {
  setColumnCount(1);
  setHeaderHidden(true);
  setUniformRowHeights(true);  // keeps folders of many thousand children cheap to lay out
  setSelectionMode(QAbstractItemView::SingleSelection);
  setDragDropMode(QAbstractItemView::NoDragDrop);
  setRootIsDecorated(true);
  // A horizontal scroll bar for long names instead of eliding them.
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  // Widths from the rows on screen only: measuring every row of a folder of many thousand
  // children would stall the window.
  header()->setResizeContentsPrecision(0);

  m_serveTimer.setSingleShot(true);
  connect(&m_serveTimer, &QTimer::timeout, this, &CLazyTreeCtrl::ServeLoads);
  connect(&m_tickTimer, &QTimer::timeout, this, &CLazyTreeCtrl::OnTick);
  connect(this, &QTreeWidget::itemExpanded, this, &CLazyTreeCtrl::OnItemExpanded);
  m_sinceServe.start();
}

CLazyTreeCtrl::~CLazyTreeCtrl() {
  // Workers still reading keep their own references to progress and reader and finish
  // on their own; they find no control to wake.
  m_waker->Detach();
  for (auto& load : m_loads) {
    load->progress->Cancel();
    load->placeholder->Detach();
  }
  m_loads.clear();
}

void CLazyTreeCtrl::SetLoadProgress(int64_t total, int64_t done) {
  if (m_syncProgress) m_syncProgress->SetLoadProgress(total, done);
}

void CLazyTreeCtrl::AddLoadProgress(int64_t n) {
  if (m_syncProgress) m_syncProgress->AddLoadProgress(n);
}

bool CLazyTreeCtrl::HasChildrenFlag(const QTreeWidgetItem* item) {
  return item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator || item->childCount() > 0;
}

void CLazyTreeCtrl::SetChildrenFlag(QTreeWidgetItem* item, bool on) {
  item->setChildIndicatorPolicy(on ? QTreeWidgetItem::ShowIndicator
                                   : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

bool CLazyTreeCtrl::IsPlaceholder(const QTreeWidgetItem* item) const {
  return item && item->type() == CPlaceholderItem::kType;
}

bool CLazyTreeCtrl::IsLoading(QTreeWidgetItem* item) const {
  return FindLoad(item) != nullptr;
}

CLazyTreeCtrl::Load* CLazyTreeCtrl::FindLoad(const QTreeWidgetItem* item) const {
  for (const auto& load : m_loads) {
    if (load->item == item) return load.get();
  }
  return nullptr;
}

CLazyTreeCtrl::Load* CLazyTreeCtrl::FindLoadByPlaceholder(
    const QTreeWidgetItem* placeholder) const {
  for (const auto& load : m_loads) {
    if (load->placeholder == placeholder) return load.get();
  }
  return nullptr;
}

std::unique_ptr<CLazyTreeCtrl::Load> CLazyTreeCtrl::TakeLoad(const QTreeWidgetItem* placeholder) {
  auto it = std::find_if(m_loads.begin(), m_loads.end(),
                         [placeholder](const auto& l) { return l->placeholder == placeholder; });
  if (it == m_loads.end()) return nullptr;
  std::unique_ptr<Load> load = std::move(*it);
  m_loads.erase(it);
  return load;
}

void CLazyTreeCtrl::PrepareBusyIndicator(QTreeWidgetItem*) {}
void CLazyTreeCtrl::DrawBusyIndicator(QTreeWidgetItem*, bool, int64_t, int64_t) {}
void CLazyTreeCtrl::EndBusyIndicator(QTreeWidgetItem*) {}
bool CLazyTreeCtrl::NeedsReload(QTreeWidgetItem*) {
  return false;
}
std::shared_ptr<CChildReader> CLazyTreeCtrl::CreateReader(QTreeWidgetItem*) {
  return nullptr;
}
bool CLazyTreeCtrl::PopulateChildren(QTreeWidgetItem*, CChildReader*) {
  return false;
}

void CLazyTreeCtrl::OnItemExpanded(QTreeWidgetItem* item) {
  if (IsPlaceholder(item)) return;
  if (item->childCount() == 0 && !HasChildrenFlag(item)) {
    collapseItem(item);  // nothing below it, and nothing to read
    return;
  }
  BeginExpand(item);
  FinishExpand(item);
}

void CLazyTreeCtrl::BeginExpand(QTreeWidgetItem* item) {
  m_loadingItem = nullptr;
  if (!item || IsPlaceholder(item)) return;
  // A read under way stays the only one: expanding again while it runs changes nothing.
  if (FindLoad(item)) return;
  if (item->childCount() > 0) {
    if (!NeedsReload(item)) return;  // an item's children are read once
    DeleteChildren(item);
  }
  m_loadingItem = item;

  auto* placeholder = new CPlaceholderItem(this);
  placeholder->setText(0, m_placeholderText);
  if (!m_placeholderIcon.isNull()) placeholder->setIcon(0, m_placeholderIcon);
  placeholder->setFlags(Qt::ItemIsEnabled);
  item->addChild(placeholder);
  m_placeholderItem = placeholder;

  auto load = std::make_unique<Load>();
  load->item = item;
  load->placeholder = placeholder;
  load->progress = std::make_shared<CLoadProgress>(m_waker);  // total 1, done 0
  m_loads.push_back(std::move(load));
}

void CLazyTreeCtrl::FinishExpand(QTreeWidgetItem* item) {
  QTreeWidgetItem* loading = m_loadingItem;
  m_loadingItem = nullptr;
  if (!loading || loading != item) return;
  Load* load = FindLoad(item);
  if (!load || load->stage != Load::Stage::kPrepared) return;
  if (m_showBusyIndicator) scrollToItem(load->placeholder);
  StartWorker(*load);
}

void CLazyTreeCtrl::StartWorker(Load& load) {
  QTreeWidgetItem* placeholder = load.placeholder;
  PrepareBusyIndicator(placeholder);
  std::shared_ptr<CChildReader> reader = CreateReader(load.item);
  Load* current = FindLoadByPlaceholder(placeholder);  // the hooks may have changed the tree
  if (!current) return;
  current->reader = reader;
  if (!reader) {
    // Nothing to read on a worker: populate in place.
    CLoadProgress* previous = m_syncProgress;
    m_syncProgress = current->progress.get();
    current->stage = Load::Stage::kBuilding;
    CompleteLoad(placeholder);
    m_syncProgress = previous;
    return;
  }

  current->stage = Load::Stage::kReading;
  std::shared_ptr<CLoadProgress> progress = current->progress;
  // The worker starts by drawing once as a tick and once as progress.
  DrawBusyIndicator(placeholder, true, progress->Total(), progress->Done());
  DrawBusyIndicator(placeholder, false, progress->Total(), progress->Done());
  try {
    // Detached: a read stuck on a hung mount must never keep the window or the program's
    // exit waiting. The worker owns its references and only touches progress and reader.
    std::thread([progress, reader]() mutable {
      reader->Read(*progress);
      reader.reset();  // from here on the reader belongs to the user-interface thread
      progress->MarkFinished();
    }).detach();
  } catch (const std::system_error&) {
    progress->MarkFinished();  // no thread: the reader read nothing, the item gets nothing
  }
  if (m_tickPeriod > 0 && !m_tickTimer.isActive()) m_tickTimer.start(m_tickPeriod);
}

void CLazyTreeCtrl::OnLoadWake() {
  if (m_serveTimer.isActive()) return;  // already due
  const int64_t wait = kServeIntervalMs - m_sinceServe.elapsed();
  m_serveTimer.start(static_cast<int>(std::max<int64_t>(0, wait)));
}

void CLazyTreeCtrl::ServeLoads() {
  m_waker->Rearm();  // before looking, so any later change wakes us again
  m_sinceServe.restart();
  QElapsedTimer clock;
  clock.start();

  std::vector<QTreeWidgetItem*> placeholders;
  placeholders.reserve(m_loads.size());
  for (const auto& load : m_loads) placeholders.push_back(load->placeholder);

  bool moreToBuild = false;
  for (QTreeWidgetItem* placeholder : placeholders) {
    Load* load = FindLoadByPlaceholder(placeholder);  // earlier completions may have gone
    if (!load) continue;
    if (load->stage == Load::Stage::kReading) {
      const int64_t total = load->progress->Total();
      const int64_t done = load->progress->Done();
      const bool finished = load->progress->IsFinished();
      if (total != load->drawnTotal || done != load->drawnDone) {
        load->drawnTotal = total;
        load->drawnDone = done;
        DrawBusyIndicator(placeholder, false, total, done);
        load = FindLoadByPlaceholder(placeholder);
        if (!load) continue;
      }
      if (finished) load->stage = Load::Stage::kBuilding;
    }
    if (load->stage != Load::Stage::kBuilding) continue;
    if (clock.elapsed() >= kBuildSliceMs) {
      moreToBuild = true;  // serve input first, then come back
      continue;
    }
    if (!load->built) load->built = load->reader->BuildChildren(clock, kBuildSliceMs);
    // Inserting the children is a step of its own: it starts with a fresh slice.
    if (!load->built || clock.elapsed() > kBuildSliceMs / 4) {
      moreToBuild = true;
      continue;
    }
    CompleteLoad(placeholder);
  }
  if (moreToBuild) m_serveTimer.start(0);
}

void CLazyTreeCtrl::OnTick() {
  if (m_loads.empty()) {
    m_tickTimer.stop();
    return;
  }
  std::vector<QTreeWidgetItem*> placeholders;
  for (const auto& load : m_loads) {
    if (load->stage == Load::Stage::kReading) placeholders.push_back(load->placeholder);
  }
  for (QTreeWidgetItem* placeholder : placeholders) {
    if (Load* load = FindLoadByPlaceholder(placeholder)) {
      DrawBusyIndicator(placeholder, true, load->progress->Total(), load->progress->Done());
    }
  }
}

void CLazyTreeCtrl::CompleteLoad(QTreeWidgetItem* placeholder) {
  std::unique_ptr<Load> load = TakeLoad(placeholder);
  if (!load) return;
  QTreeWidgetItem* item = load->item;

  const bool updates = updatesEnabled();
  setUpdatesEnabled(false);  // one repaint for the whole insertion
  EndBusyIndicator(placeholder);
  load->placeholder->Detach();
  delete load->placeholder;
  load->placeholder = nullptr;
  if (m_placeholderItem == placeholder) m_placeholderItem = nullptr;

  const bool result = PopulateChildren(item, load->reader.get());
  if (item != invisibleRootItem()) {
    if (result) {
      SetChildrenFlag(item, item->childCount() > 0);
    } else if (item->childCount() == 0) {
      collapseItem(item);  // keeps its button, so a later expansion tries again
    }
  }
  setUpdatesEnabled(updates);
  if (item == invisibleRootItem() && m_scrollRootPending) ScrollRootIntoView();
  if (m_loads.empty()) m_tickTimer.stop();
  load.reset();
  emit ChildrenLoaded(item);
}

void CLazyTreeCtrl::OnPlaceholderDestroyed(QTreeWidgetItem* placeholder) {
  std::unique_ptr<Load> load = TakeLoad(placeholder);
  if (!load) return;
  load->progress->Cancel();
  if (m_placeholderItem == placeholder) m_placeholderItem = nullptr;
  if (m_loadingItem == load->item) m_loadingItem = nullptr;
  if (load->stage != Load::Stage::kPrepared) EndBusyIndicator(placeholder);
  if (m_loads.empty()) m_tickTimer.stop();
}

void CLazyTreeCtrl::DeleteChildren(QTreeWidgetItem* item) {
  if (!item) return;
  const QList<QTreeWidgetItem*> children = item->takeChildren();
  qDeleteAll(children);
}

bool CLazyTreeCtrl::RefreshItem(QTreeWidgetItem* item) {
  if (!item) return false;
  const bool root = item == invisibleRootItem();
  if (!root && !HasChildrenFlag(item)) return false;
  // Deleting the children drops a read under way (its placeholder goes with them).
  if (root && !m_keepScrollX) m_keepScrollX = horizontalScrollBar()->value();
  const bool updates = updatesEnabled();
  setUpdatesEnabled(false);
  DeleteChildren(item);
  if (root) {
    ReloadRoot();
  } else {
    BeginExpand(item);
    FinishExpand(item);
  }
  setUpdatesEnabled(updates);
  return true;
}

void CLazyTreeCtrl::ReloadRoot() {
  QTreeWidgetItem* root = invisibleRootItem();
  if (!m_keepScrollX) m_keepScrollX = horizontalScrollBar()->value();
  BeginExpand(root);
  FinishExpand(root);
  m_scrollRootPending = true;
  if (!IsLoading(root)) ScrollRootIntoView();
}

void CLazyTreeCtrl::ScrollRootIntoView() {
  m_scrollRootPending = false;
  QScrollBar* horizontal = horizontalScrollBar();
  const int keep = m_keepScrollX.value_or(horizontal->value());
  m_keepScrollX.reset();
  if (topLevelItemCount() == 0) return;
  executeDelayedItemsLayout();  // so that the scroll range fits the new items
  scrollToItem(topLevelItem(0));
  horizontal->setValue(keep);
}

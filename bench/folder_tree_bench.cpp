// The folder tree on a folder of 50,000 subfolders: the time from expanding it until all
// its children are in the tree and drawn, and the longest stretch during that time in
// which the user-interface thread served no events (a 1 ms heartbeat timer measures it).
// Goals: shown within 1 s, no stall above 50 ms.
//
//   cmake -S . -B build-tree-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_BENCH=ON
//   cmake --build build-tree-bench --target folder_tree_bench
//   build-tree-bench/bench/folder_tree_bench [folders] [runs]
//
// The folders go to a scratch folder below $TMPDIR (or /tmp) and are removed afterwards.
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "explorer/tree_form_view.h"

namespace {

// Records the longest gap between heartbeats of a 1 ms timer on this thread.
class StallMeter {
 public:
  StallMeter() {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      const qint64 now = m_clock.nsecsElapsed();
      m_longest = std::max(m_longest, now - m_last);
      m_last = now;
    });
  }
  void Start() {
    m_clock.start();
    m_last = 0;
    m_longest = 0;
    m_timer.start();
  }
  double Stop() {
    m_timer.stop();
    // The stretch since the last beat counts as well.
    m_longest = std::max(m_longest, m_clock.nsecsElapsed() - m_last);
    return m_longest / 1e6;
  }

 private:
  QTimer m_timer;
  QElapsedTimer m_clock;
  qint64 m_last = 0;
  qint64 m_longest = 0;
};

bool MakeFolders(const QString& parent, int count) {
  const QByteArray base = QFile::encodeName(parent);
  if (::mkdir(base.constData(), 0755) != 0) {
    std::fprintf(stderr, "cannot create %s: %s\n", base.constData(), std::strerror(errno));
    return false;
  }
  for (int i = 0; i < count; ++i) {
    const QByteArray path = base + "/folder " + QByteArray::number(i);
    if (::mkdir(path.constData(), 0755) != 0) {
      std::fprintf(stderr, "cannot create %s: %s\n", path.constData(), std::strerror(errno));
      return false;
    }
  }
  return true;
}

// Serves events until done() holds or timeoutMs passed; false on timeout.
template <typename Done>
bool ServeUntil(Done done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50000;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  QTemporaryDir scratch;
  if (!scratch.isValid()) {
    std::fprintf(stderr, "cannot create a scratch folder: %s\n", qPrintable(scratch.errorString()));
    return 1;
  }
  const QString big = scratch.path() + QStringLiteral("/big");
  QElapsedTimer clock;
  clock.start();
  if (!MakeFolders(big, count)) return 1;
  std::printf("created %d folders in %lld ms\n", count, static_cast<long long>(clock.elapsed()));

  CPaneTreeCtrl tree;  // the pane's tree, with its busy bar
  tree.resize(300, 700);
  tree.show();
  tree.SetRoot(ShellTreeCtrl::ParsePath(scratch.path()));
  if (!ServeUntil(
          [&] {
            return tree.topLevelItemCount() == 1 && !tree.IsLoading(tree.invisibleRootItem());
          },
          10000)) {
    std::fprintf(stderr, "the top level did not load\n");
    return 1;
  }
  QTreeWidgetItem* item = tree.topLevelItem(0);

  StallMeter stalls;
  std::vector<double> shownMs;
  std::vector<double> stallMs;
  std::printf("%-4s %12s %14s\n", "run", "shown (ms)", "longest stall (ms)");
  for (int run = 0; run < runs; ++run) {
    // Forget what was read, so that each run reads and inserts everything again.
    tree.collapseItem(item);
    tree.DeleteChildren(item);
    CLazyTreeCtrl::SetChildrenFlag(item, true);
    QCoreApplication::processEvents();

    stalls.Start();
    clock.restart();
    tree.expandItem(item);
    const bool loaded =
        ServeUntil([&] { return !tree.IsLoading(item) && item->childCount() == count; }, 30000);
    tree.viewport()->repaint();  // on screen, not just in the tree
    const double shown = clock.nsecsElapsed() / 1e6;
    const double stall = stalls.Stop();
    if (!loaded) {
      std::fprintf(stderr, "run %d: %d of %d children after 30 s\n", run, item->childCount(),
                   count);
      return 1;
    }
    shownMs.push_back(shown);
    stallMs.push_back(stall);
    std::printf("%-4d %12.1f %14.1f\n", run + 1, shown, stall);
  }

  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double worstShown = *std::max_element(shownMs.begin(), shownMs.end());
  const double worstStall = *std::max_element(stallMs.begin(), stallMs.end());
  std::printf("median: shown %.1f ms, longest stall %.1f ms\n", median(shownMs), median(stallMs));
  std::printf("worst:  shown %.1f ms, longest stall %.1f ms\n", worstShown, worstStall);
  const bool ok = worstShown <= 1000.0 && worstStall <= 50.0;
  std::printf("%s (goals: shown within 1000 ms, no stall above 50 ms)\n", ok ? "met" : "MISSED");

  tree.DeleteChildren(item);
  if (!QDir(big).removeRecursively()) {
    std::fprintf(stderr, "cannot remove %s\n", qPrintable(big));
  }
  return ok ? 0 : 2;
}

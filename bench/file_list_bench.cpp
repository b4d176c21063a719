// The file list pane on a folder of 100,000 files: the time until the first rows are on
// screen, a sort by each column, the cost of the once-a-second refresh check while
// nothing changes (and of one check after a change), and the pane's memory.
//
//   cmake -S . -B build-explorer -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_BENCH=ON
//   cmake --build build-explorer --target file_list_bench
//   QT_QPA_PLATFORM=offscreen build-explorer/bench/file_list_bench
//
// VG_BENCH_FILES changes the number of files; VG_BENCH_IDLE_SECONDS the idle period.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

#include "explorer/bottom_list_view.h"
#include "explorer/file_list_model.h"
#include "explorer/shell_list_ctrl.h"
#include "framework/command_ids.h"

namespace {

int FileCount() {
  const char* env = std::getenv("VG_BENCH_FILES");
  return env ? std::max(1, std::atoi(env)) : 100000;
}

// A scratch folder of files with scattered names, extensions, sizes and times, and a
// hundred subfolders; sizes are sparse so the folder costs no disk space.
struct BigFolder {
  QTemporaryDir dir;
  QString path;
  BigFolder() {
    path = dir.path() + QLatin1Char('/');
    static const char* const kExt[] = {"txt", "doc",    "jpg", "pdf", "xls", "png",  "zip",
                                       "mp3", "cpp",    "h",   "odt", "csv", "html", "json",
                                       "xml", "tar.gz", "log", "ini", "svg", "~de"};
    const int n = FileCount();
    const QByteArray base = QFile::encodeName(path);
    for (int i = 0; i < 100; ++i) {
      const std::string d = base.toStdString() + "folder " + std::to_string((i * 37) % 100);
      if (::mkdir(d.c_str(), 0755) != 0) std::perror(d.c_str()), std::exit(1);
    }
    for (int i = 0; i < n; ++i) {
      const int k = static_cast<int>((static_cast<long long>(i) * 7919) % n);
      const std::string name =
          base.toStdString() + "file " + std::to_string(k) + "." + kExt[k % 20];
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (fd < 0) std::perror(name.c_str()), std::exit(1);
      if (::ftruncate(fd, (static_cast<off_t>(k) * 131) % 5000000) != 0)
        std::perror("ftruncate"), std::exit(1);
      const struct timespec times[2] = {{1700000000 + k * 17, 0},
                                        {1700000000 + (k * 7717) % 30000000, 0}};
      if (::futimens(fd, times) != 0) std::perror("futimens"), std::exit(1);
      if (::close(fd) != 0) std::perror("close"), std::exit(1);
    }
  }
};

BigFolder* g_folder = nullptr;

double RssMiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    std::getline(status, key);
  }
  return 0;
}

double CpuSeconds() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::unique_ptr<CBottomListView> MakePane(int viewMode) {
  auto pane = std::make_unique<CBottomListView>(nullptr, GuardUiFactory());
  pane->SetViewMode(viewMode);
  pane->resize(1000, 700);
  pane->show();
  if (!QTest::qWaitForWindowExposed(pane.get())) std::fprintf(stderr, "window not exposed\n");
  return pane;
}

// Until the view has laid out and painted its first rows.
void WaitForFirstRows(CBottomListView& pane) {
  QAbstractItemView* view = pane.List()->ActiveView();
  for (;;) {
    view->viewport()->repaint();
    if (view->indexAt(QPoint(4, 4)).isValid() || view->indexAt(QPoint(20, 20)).isValid()) return;
    QCoreApplication::processEvents();
  }
}

void BM_PaneMemory(benchmark::State& state) {
  for (auto _ : state) {
    const double before = RssMiB();
    auto pane = MakePane(ID_VIEW_DETAILS);
    pane->ShowFolder(g_folder->path);
    WaitForFirstRows(*pane);
    pane->List()->Sort(2, 1);  // every type text fetched
    pane->SetViewMode(ID_VIEW_LARGEICON);
    WaitForFirstRows(*pane);
    QTest::qWait(200);  // the icon view's batched layout
    state.counters["pane_MiB"] = RssMiB() - before;
    state.counters["rows"] = static_cast<double>(pane->List()->Entries().size());
  }
}

void BM_FirstRows(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  for (auto _ : state) {
    auto pane = MakePane(mode);
    QElapsedTimer clock;
    clock.start();
    pane->ShowFolder(g_folder->path);
    WaitForFirstRows(*pane);
    state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
  }
  state.SetLabel(mode == ID_VIEW_DETAILS ? "details" : "large icons");
}

void BM_SortByColumn(benchmark::State& state) {
  const int column = static_cast<int>(state.range(0));
  const int ascending = static_cast<int>(state.range(1));
  auto pane = MakePane(ID_VIEW_DETAILS);
  pane->ShowFolder(g_folder->path);
  WaitForFirstRows(*pane);
  EListCtrl* list = pane->List();
  for (auto _ : state) {
    list->Sort((column + 1) % 5, 1);  // start from another order each time
    QElapsedTimer clock;
    clock.start();
    list->Sort(column, ascending);
    list->ActiveView()->viewport()->repaint();
    state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
  }
  static const char* const kNames[] = {"name", "size", "type", "time", "attributes"};
  state.SetLabel(std::string(kNames[column]) + (ascending ? " ascending" : " descending"));
}

void BM_IdleRefreshCheck(benchmark::State& state) {
  const char* env = std::getenv("VG_BENCH_IDLE_SECONDS");
  const int seconds = env ? std::max(2, std::atoi(env)) : 20;
  auto pane = MakePane(ID_VIEW_DETAILS);
  pane->ShowFolder(g_folder->path);
  WaitForFirstRows(*pane);
  QTest::qWait(1500);  // let the folder's last change age past the trust window
  for (auto _ : state) {
    const double cpu0 = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    // A plain event loop: the process sleeps until a timer is due, as the program does.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    state.counters["cpu_percent"] = 100.0 * (CpuSeconds() - cpu0) / wall;
    state.SetIterationTime(wall);
  }
}

void BM_RefreshAfterChange(benchmark::State& state) {
  auto pane = MakePane(ID_VIEW_DETAILS);
  pane->ShowFolder(g_folder->path);
  WaitForFirstRows(*pane);
  EListCtrl* list = pane->List();
  const QString extra = g_folder->path + QStringLiteral("appeared.txt");
  bool present = false;
  for (auto _ : state) {
    // A new name (or one gone) in the folder; the watcher reports it, the check rereads.
    if (present) {
      QFile::remove(extra);
    } else {
      QFile f(extra);
      if (!f.open(QIODevice::WriteOnly)) std::abort();
    }
    present = !present;
    QCoreApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    list->RefreshCheck();
    list->ActiveView()->viewport()->repaint();
    state.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) / 1e9);
    if ((list->FindEntry(extra) >= 0) != present) state.SkipWithError("change not seen");
  }
  if (present) QFile::remove(extra);
}

BENCHMARK(BM_PaneMemory)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstRows)
    ->Arg(ID_VIEW_DETAILS)
    ->Arg(ID_VIEW_LARGEICON)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortByColumn)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 0}})
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IdleRefreshCheck)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshAfterChange)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  BigFolder folder;
  g_folder = &folder;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

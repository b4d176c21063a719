// The guard list with 10,000 items: opening the list file, showing it in the pane, and
// sorting it by a column heading. Each must stay well under 300 ms. Items are real files
// and folders in a scratch folder, so opening looks them up on disk as it does for a user.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_BENCH=ON
//   cmake --build build-bench --target guard_list_bench
//   build-bench/bench/guard_list_bench
// Without the Qt window (-DVG_BUILD_GUI=OFF) there is no pane to measure.
#if !__has_include(<QApplication>)
#include <cstdio>
int main() {
  std::puts("guard_list_bench: built without the Qt window; nothing to measure.");
  return 0;
}
#else
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>
#include <memory>

#include <benchmark/benchmark.h>

#include "framework/sort_list_ctrl.h"
#include "guardlist/ui/explorer_document.h"
#include "guardlist/ui/guard_list_model.h"
#include "guardlist/ui/top_view.h"

namespace {

constexpr int kItems = 10000;
constexpr int kFolders = 1000;

struct NoNavigator : INavigator {
  void NavigateTo(const QString&, NavSource) override {}
};

// A scratch folder with the items' files and folders and a saved list of them.
struct ListFixture {
  QTemporaryDir dir;
  QString listPath;

  ListFixture() {
    CExplorerDocument doc;
    doc.OnNewDocument();
    for (int i = 0; i < kItems; ++i) {
      // Names in no particular order, so that sorting has work to do.
      const int n = (i * 7919) % kItems;
      if (i < kFolders) {
        const QString path = dir.filePath(QStringLiteral("folder %1").arg(n));
        QDir().mkpath(path);
        CGuardItem item(path.toStdString(), 1);
        item.m_includeMask = "*.*|";
        item.m_excludeMask = "Vellum*.*|";
        doc.Items().push_back(item);
      } else {
        const char* ext[] = {"txt", "doc", "jpg", "pdf", "xls"};
        const QString path =
            dir.filePath(QStringLiteral("file %1.%2").arg(n).arg(QLatin1String(ext[n % 5])));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly)) qFatal("cannot create %s", qPrintable(path));
        doc.Items().push_back(CGuardItem(path.toStdString(), 0));
      }
    }
    listPath = dir.filePath(QStringLiteral("big.dlt"));
    if (!doc.OnSaveDocument(listPath)) qFatal("cannot save %s", qPrintable(listPath));
  }
};

ListFixture& Fixture() {
  static ListFixture fixture;
  return fixture;
}

void BM_OpenList(benchmark::State& state) {
  const QString path = Fixture().listPath;
  for (auto _ : state) {
    CExplorerDocument doc;
    doc.OnNewDocument();
    if (!doc.OnOpenDocument(path) || doc.Items().size() != size_t(kItems))
      state.SkipWithError("open failed");
    benchmark::DoNotOptimize(doc.Items().data());
  }
}

// Creating the pane over an open list, showing it and drawing it once.
void BM_ShowList(benchmark::State& state) {
  CExplorerDocument doc;
  doc.OnNewDocument();
  doc.OnOpenDocument(Fixture().listPath);
  NoNavigator nav;
  qint64 checks = 0;
  for (auto _ : state) {
    CTopView view(&doc, &nav, {});
    view.resize(900, 400);
    view.show();
    view.ListCtrl()->ReportView()->viewport()->repaint();
    QApplication::processEvents();
    checks = view.Model()->StatusChecks();
  }
  state.counters["disk_checks"] = double(checks);
}

// A click on a column heading: the document sorts, the pane reads it again and draws.
void BM_SortList(benchmark::State& state) {
  CExplorerDocument doc;
  doc.OnNewDocument();
  doc.OnOpenDocument(Fixture().listPath);
  NoNavigator nav;
  CTopView view(&doc, &nav, {});
  view.resize(900, 400);
  view.show();
  QApplication::processEvents();
  const int column = static_cast<int>(state.range(0));
  for (auto _ : state) {
    view.ListCtrl()->ColumnClick(column);
    view.ListCtrl()->ReportView()->viewport()->repaint();
  }
}

}  // namespace

BENCHMARK(BM_OpenList)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ShowList)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SortList)
    ->Arg(COL_NAME)
    ->Arg(COL_PATH)
    ->Arg(COL_TYPE)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  if (qEnvironmentVariableIsEmpty("VELLUMGUARD_HOME"))
    qputenv("VELLUMGUARD_HOME", home.path().toUtf8());
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  Fixture();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
#endif

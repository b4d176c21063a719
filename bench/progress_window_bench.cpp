// What the progress window costs a guard run: a 1 GiB run in 64 KiB chunks with a pass
// over each chunk standing in for the codec's work, once alone and once with the
// window's calls per chunk (SetBarStep, StepBar, PumpMessages, Show) as the guard
// operations make them; and single pumps with nothing to draw and with a moved bar.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVG_BUILD_BENCH=ON
//   cmake --build build-bench --target progress_window_bench
//   build-bench/bench/progress_window_bench
//   xvfb-run -a env QT_QPA_PLATFORM=xcb build-bench/bench/progress_window_bench
#if !__has_include(<QApplication>)
#include <cstdio>
int main() {
  std::puts("progress_window_bench: built without the Qt window; nothing to measure.");
  return 0;
}
#else
#include <QApplication>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/progress_window.h"

namespace {

constexpr uint64_t kChunk = 64 * 1024;
constexpr uint64_t kChunks = (uint64_t(1) << 30) / kChunk;

// The stand-in for the codec: one pass over the chunk.
uint64_t Work(std::vector<uint64_t>& chunk, uint64_t seed) {
  uint64_t h = seed;
  for (uint64_t& v : chunk) {
    v ^= h;
    h = h * 0x9E3779B97F4A7C15ull + v;
  }
  return h;
}

void BM_GigabyteAlone(benchmark::State& state) {
  std::vector<uint64_t> chunk(kChunk / 8, 1);
  for (auto _ : state) {
    uint64_t sink = 0;
    for (uint64_t i = 0; i < kChunks; ++i) sink += Work(chunk, i);
    benchmark::DoNotOptimize(sink);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kChunks * kChunk));
}
BENCHMARK(BM_GigabyteAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GigabyteWithProgressWindow(benchmark::State& state) {
  std::vector<uint64_t> chunk(kChunk / 8, 1);
  for (auto _ : state) {
    state.PauseTiming();
    CProgressWindow progress(nullptr, QStringLiteral("Encrypting"), true, true);
    progress.SetRememberPosition(false);
    progress.ResizeForText(2, 400);
    progress.BeginModal(QStringLiteral("Encrypting"));
    progress.SetBarRange(0, kChunks * kChunk * 10, 1);
    QCoreApplication::processEvents();  // the first picture is once per run
    state.ResumeTiming();
    uint64_t sink = 0;
    for (uint64_t i = 0; i < kChunks && !progress.IsCancelled(); ++i) {
      progress.SetBarStep(kChunk * 10);
      progress.StepBar();
      progress.PumpMessages(true);
      progress.Show();
      sink += Work(chunk, i);
    }
    benchmark::DoNotOptimize(sink);
    state.PauseTiming();
    progress.CloseProgress();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kChunks * kChunk));
}
BENCHMARK(BM_GigabyteWithProgressWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

// One pump after the 30 ms pause; range(0) 1 moves the bar by a visible step first.
void BM_Pump(benchmark::State& state) {
  CProgressWindow progress(nullptr, QStringLiteral("Encrypting"), true, true);
  progress.SetRememberPosition(false);
  progress.ResizeForText(2, 400);
  progress.BeginModal(QStringLiteral("Encrypting"));
  progress.SetBarRange(0, 1000, 1);
  QCoreApplication::processEvents();
  uint64_t position = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QThread::msleep(CProgressWindow::kPumpIntervalMs + 1);
    if (state.range(0)) progress.SetBarPos(position = (position + 7) % 1000);
    state.ResumeTiming();
    progress.PumpMessages(true);
  }
  progress.CloseProgress();
}
BENCHMARK(BM_Pump)->Arg(0)->Arg(1)->Iterations(60)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  if (qEnvironmentVariableIsEmpty("VELLUMGUARD_HOME"))
    qputenv("VELLUMGUARD_HOME", home.path().toUtf8());
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
#endif

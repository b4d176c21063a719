// Time from an editor's save to a durable protected file in an edit session: the save
// replaces the document by rename (untimed), then SaveNow hashes it, protects it into a
// temporary file beside the .~de, syncs it, renames it over, and syncs the folder. The
// owner adds its settle time (0.5 s) before this starts. The last benchmark reports the
// resident memory of ten open sessions.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/digest.h"
#include "engine/file_codec.h"
#include "guard/edit_place.h"
#include "guard/edit_session.h"

namespace {

std::string Scratch() {
  static std::string dir;
  if (dir.empty()) {
    const char* base = std::getenv("VG_BENCH_DIR");
    std::string tmpl = std::string(base ? base : "/var/tmp") + "/vg-edit-bench-XXXXXX";
    dir = ::mkdtemp(tmpl.data()) ? tmpl : "/var/tmp";
  }
  return dir;
}

std::string Runtime() {
  const std::string root =
      IsMemoryFileSystem("/dev/shm") ? "/dev/shm/vg-edit-bench/" : Scratch() + "/runtime/";
  (void)PrepareEditRoot(root);
  return root;
}

// Text-like content that compresses about as well as office documents' XML: words
// drawn from a small vocabulary with random numbers.
void WriteDocument(const std::string& path, size_t bytes, uint32_t seed) {
  std::mt19937 rng(seed);
  static const char* words[] = {"report", "budget", "the",  "of",    "quarter",
                                "value",  "<p>",    "</p>", "total", "and"};
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::string chunk;
  size_t written = 0;
  while (written < bytes) {
    chunk.clear();
    while (chunk.size() < 65536) {
      chunk += words[rng() % 10];
      chunk += ' ';
      chunk += std::to_string(rng() % 100000);
      chunk += ' ';
    }
    const size_t n = std::min(chunk.size(), bytes - written);
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    written += n;
  }
}

std::string Protect(const std::string& plain, const uint8_t key[32]) {
  CFileCodec codec;
  codec.m_usePasswordText = 0;
  std::copy(key, key + 32, codec.m_keyDigest);
  codec.m_source = plain;
  codec.m_destination = plain + ".~de";
  if (codec.Encode() != CODEC_OK) std::abort();
  ::unlink(plain.c_str());
  return codec.m_destination;
}

void BM_SaveToDurable(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(state.range(0)) << 20;
  SecretKey key;
  GuardKeyDigest(key.data(), "bench");
  const std::string plain = Scratch() + "/doc" + std::to_string(state.range(0)) + ".txt";
  WriteDocument(plain, bytes, 1);
  const std::string target = Protect(plain, key.data());
  CEditSession session;
  std::string error;
  if (session.Open(Runtime(), target, key.data(), 6, error) != CODEC_OK) {
    state.SkipWithError(error.c_str());
    return;
  }
  uint32_t seed = 2;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string temp = session.Folder() + ".goutputstream-bench";
    WriteDocument(temp, bytes, seed++);
    if (std::rename(temp.c_str(), session.DocumentPath().c_str()) != 0) std::abort();
    state.ResumeTiming();
    if (session.SaveNow().status != EditSaveStatus::Saved) std::abort();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
  std::vector<std::string> messages;
  (void)session.Finish(messages);
  ::unlink(target.c_str());
}
BENCHMARK(BM_SaveToDurable)
    ->Arg(1)
    ->Arg(50)
    ->Arg(500)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

void BM_TenSessionsMemory(benchmark::State& state) {
  SecretKey key;
  GuardKeyDigest(key.data(), "bench");
  for (auto _ : state) {
    const long before = ResidentKiB();
    std::vector<std::unique_ptr<CEditSession>> sessions;
    for (int i = 0; i < 10; ++i) {
      const std::string plain = Scratch() + "/ten" + std::to_string(i) + ".txt";
      WriteDocument(plain, 1 << 20, static_cast<uint32_t>(i));
      const std::string target = Protect(plain, key.data());
      auto session = std::make_unique<CEditSession>();
      std::string error;
      if (session->Open(Runtime(), target, key.data(), 6, error) != CODEC_OK) std::abort();
      sessions.push_back(std::move(session));
    }
    state.counters["rss_kib_ten_sessions"] = static_cast<double>(ResidentKiB() - before);
    for (auto& s : sessions) {
      std::vector<std::string> messages;
      (void)s->Finish(messages);
      ::unlink(s->TargetPath().c_str());
    }
  }
}
BENCHMARK(BM_TenSessionsMemory)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

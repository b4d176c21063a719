// Engine throughput: the block cipher on both paths, SHA-256, the encrypted stream, and
// Encode/Decode of 64 MiB files. Files go to $TMPDIR (or /tmp).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/block_cipher.h"
#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/file_codec.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;
constexpr size_t kFileSize = 64 * kMiB;

std::vector<uint8_t> RandomData(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i + 8 <= n; i += 8) {
    const uint64_t x = rng();
    std::memcpy(&v[i], &x, 8);
  }
  return v;
}

// Prose-like text: words of a vocabulary of a few thousand, lines of varying length.
// Deflate reaches about 2.4:1 on it at level 6.
std::vector<uint8_t> TextData(size_t n) {
  std::mt19937_64 rng(7);
  std::vector<std::string> vocabulary;
  const char* letters = "etaoinshrdlucmfwypvbgkjqxz";
  for (int i = 0; i < 4000; ++i) {
    std::string w(2 + rng() % 9, ' ');
    for (auto& ch : w) ch = letters[std::min<uint64_t>(rng() % 26, rng() % 26)];
    vocabulary.push_back(w);
  }
  std::vector<uint8_t> v;
  v.reserve(n);
  size_t line = 0;
  while (v.size() < n) {
    // Zipf-like choice: small indices are far more common.
    const size_t idx =
        static_cast<size_t>(vocabulary.size() * std::pow(double(rng() % 10000) / 10000.0, 3));
    for (char c : vocabulary[idx]) v.push_back(static_cast<uint8_t>(c));
    line += vocabulary[idx].size() + 1;
    if (line > 60 + rng() % 20) {
      v.push_back('\n');
      line = 0;
    } else {
      v.push_back(rng() % 15 == 0 ? ',' : ' ');
    }
  }
  v.resize(n);
  return v;
}

std::string Folder() {
  static const std::string folder = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vg-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return folder;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The 64 MiB plain files, made once.
const std::string& PlainFile(bool text) {
  static std::string paths[2];
  std::string& p = paths[text ? 1 : 0];
  if (p.empty()) {
    p = Folder() + (text ? "/text.plain" : "/random.plain");
    WriteFile(p, text ? TextData(kFileSize) : RandomData(kFileSize, 99));
  }
  return p;
}

void UsePath(benchmark::State& state, bool hardware) {
  if (hardware && !CBlockCipher::HardwareAvailable()) {
    state.SkipWithError("no AES instructions");
  }
  CBlockCipher::SetHardwareAllowed(hardware);
}

// ---- block cipher ----

void BM_Aes256Block(benchmark::State& state) {
  const bool hardware = state.range(0) != 0;
  UsePath(state, hardware);
  const auto key = RandomData(32, 1);
  const auto iv = RandomData(16, 2);
  CBlockCipher c;
  c.MakeKey(key.data(), iv.data(), 32, 16);
  uint8_t block[16] = {};
  for (auto _ : state) {
    c.EncryptBlock(block, block);
    benchmark::DoNotOptimize(block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 16);
  state.SetLabel(hardware ? "hardware" : "table");
  CBlockCipher::SetHardwareAllowed(true);
}
BENCHMARK(BM_Aes256Block)->Arg(0)->Arg(1);

void BM_Aes256Cbc(benchmark::State& state, bool encrypt) {
  const bool hardware = state.range(0) != 0;
  UsePath(state, hardware);
  const auto key = RandomData(32, 1);
  const auto iv = RandomData(16, 2);
  const auto in = RandomData(kMiB, 3);
  std::vector<uint8_t> out(kMiB);
  CBlockCipher c;
  c.MakeKey(key.data(), iv.data(), 32, 16);
  for (auto _ : state) {
    if (encrypt) {
      c.Encrypt(in.data(), out.data(), in.size(), CHAIN_CBC);
    } else {
      c.Decrypt(in.data(), out.data(), in.size(), CHAIN_CBC);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMiB));
  state.SetLabel(hardware ? "hardware" : "table");
  CBlockCipher::SetHardwareAllowed(true);
}
BENCHMARK_CAPTURE(BM_Aes256Cbc, encrypt_1MiB, true)->Arg(0)->Arg(1);
BENCHMARK_CAPTURE(BM_Aes256Cbc, decrypt_1MiB, false)->Arg(0)->Arg(1);

// ---- digest ----

void BM_Sha256(benchmark::State& state) {
  const auto in = RandomData(kMiB, 4);
  uint8_t out[32];
  for (auto _ : state) {
    ComputeDigest(out, in.data(), in.size(), 32);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kMiB));
}
BENCHMARK(BM_Sha256);

// Key derivation plus IV drawing: what every new stream costs before its first byte.
void BM_NewStreamAndKey(benchmark::State& state) {
  for (auto _ : state) {
    CEncryptedStream s(0);
    uint8_t key[32];
    GuardKeyDigest(key, "a password");
    benchmark::DoNotOptimize(key);
    benchmark::DoNotOptimize(s.Iv());
  }
}
BENCHMARK(BM_NewStreamAndKey);

// ---- encrypted stream alone: 64 MiB through the codec's 1040-byte buffer ----

void BM_StreamWrite(benchmark::State& state) {
  const auto data = RandomData(kFileSize, 5);
  const std::string path = Folder() + "/stream.bin";
  const size_t piece = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    CEncryptedStream s(static_cast<uint32_t>(piece));
    s.Open(path, STREAM_WRITE, CHAIN_CBC);
    s.SetPassword("pw");
    for (size_t at = 0; at < data.size(); at += piece) s.Write(data.data() + at, piece);
    s.Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kFileSize));
  ::unlink(path.c_str());
}
BENCHMARK(BM_StreamWrite)->Arg(1024)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_StreamRead(benchmark::State& state) {
  const std::string path = Folder() + "/stream.bin";
  {
    const auto data = RandomData(kFileSize, 5);
    CEncryptedStream s;
    s.Open(path, STREAM_WRITE, CHAIN_CBC);
    s.SetPassword("pw");
    s.Write(data.data(), data.size());
  }
  const size_t piece = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> buf(piece + 16);
  for (auto _ : state) {
    CEncryptedStream s(static_cast<uint32_t>(piece));
    s.Open(path, STREAM_READ, CHAIN_CBC);
    s.SetPassword("pw");
    while (s.Read(buf.data(), piece + 16) > 0) {
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kFileSize));
  ::unlink(path.c_str());
}
BENCHMARK(BM_StreamRead)->Arg(1024)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// ---- codec: Encode and Decode of 64 MiB ----
// Arguments: text (1) or random (0) data, zlib level, codec buffer size.

CFileCodec MakeCodec(uint32_t buffer) {
  CFileCodec c;
  c.m_bufferSize = buffer;
  c.m_usePasswordText = 0;
  GuardKeyDigest(c.m_keyDigest, "benchmark");
  return c;
}

void BM_Encode(benchmark::State& state) {
  const bool text = state.range(0) != 0;
  const auto level = static_cast<int32_t>(state.range(1));
  const auto buffer = static_cast<uint32_t>(state.range(2));
  const std::string& plain = PlainFile(text);
  const std::string protectedPath = Folder() + "/enc.~de";
  for (auto _ : state) {
    CFileCodec c = MakeCodec(buffer);
    c.m_level = level;
    c.m_source = plain;
    c.m_destination = protectedPath;
    if (c.Encode() != CODEC_OK) state.SkipWithError("Encode failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kFileSize));
  state.SetLabel(std::string(text ? "text" : "random") + " level " + std::to_string(level) +
                 " buffer " + std::to_string(buffer));
  ::unlink(protectedPath.c_str());
}

void BM_Decode(benchmark::State& state) {
  const bool text = state.range(0) != 0;
  const auto level = static_cast<int32_t>(state.range(1));
  const auto buffer = static_cast<uint32_t>(state.range(2));
  const std::string protectedPath = Folder() + "/dec.~de";
  const std::string restored = Folder() + "/dec.plain";
  {
    CFileCodec c = MakeCodec(buffer);
    c.m_level = level;
    c.m_source = PlainFile(text);
    c.m_destination = protectedPath;
    if (c.Encode() != CODEC_OK) state.SkipWithError("Encode failed");
  }
  for (auto _ : state) {
    CFileCodec c = MakeCodec(buffer);
    c.m_source = protectedPath;
    c.m_destination = restored;
    if (c.Decode() != CODEC_OK) state.SkipWithError("Decode failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(kFileSize));
  state.SetLabel(std::string(text ? "text" : "random") + " level " + std::to_string(level) +
                 " buffer " + std::to_string(buffer));
  ::unlink(protectedPath.c_str());
  ::unlink(restored.c_str());
}

void CodecArgs(benchmark::internal::Benchmark* b) {
  for (int text : {1, 0}) {
    for (int level : {6, 0}) {
      for (int buffer : {1024, 16384, 65536}) b->Args({text, level, buffer});
    }
  }
  b->Unit(benchmark::kMillisecond)->Iterations(3);
}
BENCHMARK(BM_Encode)->Apply(CodecArgs);
BENCHMARK(BM_Decode)->Apply(CodecArgs);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char* name : {"/text.plain", "/random.plain"}) ::unlink((Folder() + name).c_str());
  ::rmdir(Folder().c_str());
  return 0;
}

// Protect-then-restore of the guard core over a generated corpus: a text-like file, an
// incompressible file that matches the no-zip mask, and many small files. Reports MB/s,
// where the time of a protect goes (deflate, cipher, wipe, the rest: I/O and syncs),
// the wipe's share of a protect, the codec buffer size against larger ones, and the peak
// resident memory of each run. A plain timing program: every figure is one measured pass.
//
//   guard_bench [--text-mib N] [--noise-mib N] [--small N] [--dir PATH]
//               [--buffers 1024,4096,...] [--buffer-mib N]
//
//               [--parts main,small,buffers]
// Defaults: 1024, 1024, 20000 files, $TMPDIR or /tmp, 1024,4096,16384,65536, the buffer
// comparison on the full files, and all three parts.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/paths.h"
#include "engine/block_cipher.h"
#include "engine/digest.h"
#include "engine/file_codec.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"
#include "guard/file_list_driver.h"
#include "guard/single_file.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kMiB = 1024 * 1024;
constexpr const char* kPassword = "benchmark password";

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}
// CPU time of this process: the CPU-bound pieces are timed by it, so that other load on
// the machine does not inflate them.
double CpuNow() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}
double LoadAverage() {
  double load[1] = {0};
  return ::getloadavg(load, 1) == 1 ? load[0] : 0;
}
double MBps(uint64_t bytes, double seconds) {
  return seconds > 0 ? bytes / 1e6 / seconds : 0;
}

struct Options {
  uint64_t textMiB = 1024;
  uint64_t noiseMiB = 1024;
  int small = 20000;
  std::string dir;
  std::vector<uint32_t> buffers = {1024, 4096, 16384, 65536};
  uint64_t bufferMiB = 0;
  std::string parts = "main,small,buffers";
  bool Has(const char* part) const { return parts.find(part) != std::string::npos; }
};

// A user who answers everything and a progress window that only counts.
class BenchProgress : public IProgressWindow {
 public:
  bool IsCancelled() const override { return false; }
  void Hide() override {}
  void Show() override {}
  void SetBarRange(uint64_t, uint64_t, uint64_t) override {}
  uint64_t SetBarStep(uint64_t s) override { return std::exchange(m_step, s); }
  uint64_t StepBar() override { return std::exchange(m_pos, m_pos + m_step); }
  void SetStatusText(const std::string&) override {}
  void PumpMessages(bool) override {}
  void CloseProgress() override {}

 private:
  uint64_t m_step = 1, m_pos = 0;
};

class BenchUi : public IGuardUi {
 public:
  int ShowMessage(const std::string& text, MsgIcon, MsgButtons) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return MSG_YES;
  }
  bool AskPassword(const std::string&, std::string& password) override {
    password = kPassword;
    return true;
  }
  bool EditSettings(SettingsDialogData&) override { return false; }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string&) override {
    return std::make_unique<BenchProgress>();
  }
};

// ---- corpus ---------------------------------------------------------------------------

// Prose-like text from a vocabulary of a few thousand words with a skewed choice, written
// in 1 MiB pieces so that memory stays small. Deflate gets roughly 3:1 on it.
class TextSource {
 public:
  explicit TextSource(uint64_t seed) : m_rng(seed) {
    const char* letters = "etaoinshrdlucmfwypvbgkjqxz";
    for (int i = 0; i < 4000; ++i) {
      std::string w(2 + m_rng() % 9, ' ');
      for (auto& ch : w) ch = letters[std::min<uint64_t>(m_rng() % 26, m_rng() % 26)];
      m_words.push_back(w);
    }
  }
  void Fill(std::vector<uint8_t>& out, size_t n) {
    out.clear();
    while (out.size() < n) {
      const auto idx = static_cast<size_t>(m_words.size() * std::pow((m_rng() % 10000) / 1e4, 3));
      out.insert(out.end(), m_words[idx].begin(), m_words[idx].end());
      m_line += m_words[idx].size() + 1;
      if (m_line > 60 + m_rng() % 20) {
        out.push_back('\n');
        m_line = 0;
      } else {
        out.push_back(m_rng() % 15 == 0 ? ',' : ' ');
      }
    }
    out.resize(n);
  }

 private:
  std::mt19937_64 m_rng;
  std::vector<std::string> m_words;
  size_t m_line = 0;
};

void FillRandom(std::mt19937_64& rng, std::vector<uint8_t>& out, size_t n) {
  out.resize(n);
  for (size_t i = 0; i + 8 <= n; i += 8) {
    const uint64_t x = rng();
    std::memcpy(&out[i], &x, 8);
  }
}

void WriteAll(int fd, const std::vector<uint8_t>& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t w = ::write(fd, data.data() + done, data.size() - done);
    if (w <= 0) {
      std::perror("write");
      std::exit(1);
    }
    done += static_cast<size_t>(w);
  }
}

void MakeFile(const std::string& path, uint64_t bytes, bool text, uint64_t seed) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  TextSource source(seed);
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> piece;
  for (uint64_t done = 0; done < bytes; done += piece.size()) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kMiB, bytes - done));
    if (text)
      source.Fill(piece, n);
    else
      FillRandom(rng, piece, n);
    WriteAll(fd, piece);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) std::perror(path.c_str());
}

uint64_t MakeSmallFiles(const std::string& folder, int count) {
  TextSource source(99);
  std::mt19937_64 rng(5);
  std::vector<uint8_t> piece;
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    const std::string sub = JoinPath(folder, "d" + std::to_string(i / 1000));
    if (i % 1000 == 0) std::filesystem::create_directories(sub);
    const size_t n = 100 + rng() % 16000;  // 100 B .. 16 KB, 8 KB on average
    source.Fill(piece, n);
    const std::string path = JoinPath(sub, "f" + std::to_string(i) + ".txt");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    WriteAll(fd, piece);
    ::close(fd);
    total += n;
  }
  ::sync();
  return total;
}

// ---- measured pieces ------------------------------------------------------------------

// Runs fn in a child process and returns its seconds and peak RSS (KiB): each run starts
// from the same small parent, so the peak is the run's own.
struct ChildResult {
  double seconds = 0;
  double cpuSeconds = 0;
  long peakKiB = 0;
  int count = 0;
};

ChildResult InChild(const std::function<int()>& fn) {
  int pipefd[2];
  if (::pipe(pipefd) != 0) std::exit(1);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipefd[0]);
    ChildResult r;
    const auto t0 = Clock::now();
    r.count = fn();
    r.seconds = Seconds(t0);
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    r.peakKiB = ru.ru_maxrss;
    r.cpuSeconds = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
                   ru.ru_stime.tv_usec / 1e6;
    if (::write(pipefd[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) ::_exit(2);
    ::_exit(0);
  }
  ::close(pipefd[1]);
  ChildResult r;
  if (::read(pipefd[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) {
    std::fprintf(stderr, "child failed\n");
    std::exit(1);
  }
  ::close(pipefd[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return r;
}

// Deflate alone as the codec drives it (buffer-size input pieces, same level), over the
// file read from the page cache; reading and writing the scratch output are left out.
double DeflateSeconds(const std::string& path, int level, uint32_t buffer,
                      const std::string& scratch, uint64_t& compressed) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const int outFd = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  z_stream z{};
  deflateInit(&z, level);
  std::vector<uint8_t> chunk(kMiB), out(buffer), packed;
  double spent = 0;
  compressed = 0;
  auto drive = [&](int flush) {
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      packed.insert(packed.end(), out.begin(), out.end() - z.avail_out);
    } while (z.avail_out == 0);
  };
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    packed.clear();
    const double t0 = CpuNow();
    if (n <= 0) {
      z.avail_in = 0;
      drive(Z_FINISH);
    } else {
      for (size_t off = 0; off < static_cast<size_t>(n); off += buffer) {
        z.next_in = chunk.data() + off;
        z.avail_in = static_cast<uInt>(std::min<size_t>(buffer, n - off));
        drive(Z_NO_FLUSH);
      }
    }
    spent += CpuNow() - t0;
    compressed += packed.size();
    WriteAll(outFd, packed);
    if (n <= 0) break;
  }
  deflateEnd(&z);
  ::close(fd);
  ::close(outFd);
  return spent;
}

// Inflate alone, of the scratch output of DeflateSeconds, in buffer-size input pieces.
double InflateSeconds(const std::string& scratch, uint32_t buffer) {
  const int fd = ::open(scratch.c_str(), O_RDONLY | O_CLOEXEC);
  z_stream z{};
  inflateInit(&z);
  std::vector<uint8_t> chunk(kMiB), out(buffer);
  double spent = 0;
  bool ended = false;
  while (!ended) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n <= 0) break;
    const double t0 = CpuNow();
    for (size_t off = 0; off < static_cast<size_t>(n) && !ended; off += buffer) {
      z.next_in = chunk.data() + off;
      z.avail_in = static_cast<uInt>(std::min<size_t>(buffer, n - off));
      do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z, Z_NO_FLUSH) == Z_STREAM_END) ended = true;
      } while (z.avail_out == 0 && !ended);
    }
    spent += CpuNow() - t0;
  }
  inflateEnd(&z);
  ::close(fd);
  ::unlink(scratch.c_str());
  return spent;
}

// AES-256-CBC over bytes, in pieces of the stream buffer's size, as the stream does.
double CipherSeconds(uint64_t bytes, uint32_t buffer, bool decrypt) {
  CBlockCipher cipher;
  uint8_t key[32] = {1}, iv[16] = {2};
  cipher.MakeKey(key, iv, 32, 16);
  const size_t piece = (buffer / 16 + 1) * 16;
  std::vector<uint8_t> in(piece, 0x5a), out(piece);
  const double t0 = CpuNow();
  for (uint64_t done = 0; done < bytes; done += piece) {
    if (decrypt)
      cipher.Decrypt(in.data(), out.data(), piece, CHAIN_CBC);
    else
      cipher.Encrypt(in.data(), out.data(), piece, CHAIN_CBC);
  }
  return CpuNow() - t0;
}

// The wipe of a synced copy of the file: wall seconds, and CPU seconds into cpu.
double WipeSeconds(const std::string& path, double& cpu) {
  const std::string copy = path + ".wipe-copy";
  std::error_code ec;
  std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing, ec);
  const int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
  ::fsync(fd);
  ::close(fd);
  const auto t0 = Clock::now();
  const double c0 = CpuNow();
  if (WipeAndDeleteFile(copy, kWipeMarker, WipeStrideFor(path), nullptr, nullptr) != 1) {
    std::fprintf(stderr, "wipe failed\n");
  }
  cpu = CpuNow() - c0;
  return Seconds(t0);
}

// Encode and Decode with a given codec buffer, outside the drivers (no wipe).
void CodecRun(const std::string& path, int level, uint32_t buffer, double& encodeS,
              double& decodeS) {
  const std::string protectedPath = path + ".buffer.~de";
  const std::string restored = path + ".buffer.out";
  CFileCodec enc;
  enc.m_bufferSize = buffer;
  enc.m_usePasswordText = 0;
  GuardKeyDigest(enc.m_keyDigest, kPassword);
  enc.m_level = level;
  enc.m_source = path;
  enc.m_destination = protectedPath;
  auto t0 = Clock::now();
  if (enc.Encode() != CODEC_OK) std::fprintf(stderr, "encode failed\n");
  encodeS = Seconds(t0);
  CFileCodec dec;
  dec.m_bufferSize = buffer;
  dec.m_usePasswordText = 0;
  GuardKeyDigest(dec.m_keyDigest, kPassword);
  dec.m_source = protectedPath;
  dec.m_destination = restored;
  t0 = Clock::now();
  if (dec.Decode() != CODEC_OK) std::fprintf(stderr, "decode failed\n");
  decodeS = Seconds(t0);
  ::unlink(protectedPath.c_str());
  ::unlink(restored.c_str());
}

struct BigResult {
  std::string name;
  uint64_t bytes = 0, protectedBytes = 0;
  ChildResult protect, restore;
  double deflate = 0, cipherEnc = 0, wipe = 0, wipeCpu = 0, inflate = 0, cipherDec = 0;
};

BigResult RunBig(const std::string& name, const std::string& path, uint64_t bytes, bool text) {
  BigResult r;
  r.name = name;
  r.bytes = bytes;
  const int level = text ? 6 : 0;  // the no-zip mask stores the incompressible file
  std::fprintf(stderr, "%s: components...\n", name.c_str());
  uint64_t compressed = 0;
  const std::string scratch = path + ".zlib-scratch";
  r.deflate = DeflateSeconds(path, level, kCodecBufferSize, scratch, compressed);
  r.cipherEnc = CipherSeconds(compressed, kCodecBufferSize, false);
  r.wipe = WipeSeconds(path, r.wipeCpu);
  r.inflate = InflateSeconds(scratch, kCodecBufferSize);
  r.cipherDec = CipherSeconds(compressed, kCodecBufferSize, true);
  std::fprintf(stderr, "%s: protect and restore...\n", name.c_str());
  const auto key = [] {
    std::vector<uint8_t> k(32);
    GuardKeyDigest(k.data(), kPassword);
    return k;
  }();
  r.protect = InChild([&] {
    BenchUi ui;
    return EncryptFileList(ui, {path}, key.data(), 6, "");
  });
  r.protectedBytes = FileLength(ProtectedPathOf(path));
  r.restore = InChild([&] {
    BenchUi ui;
    return DecryptFileList(ui, {ProtectedPathOf(path)});
  });
  if (r.protect.count != 1 || r.restore.count != 1)
    std::fprintf(stderr, "%s: run failed\n", name.c_str());
  return r;
}

// Throughput by wall time and per CPU second (the machine may be shared), peak memory.
void PrintRates(const BigResult& r) {
  const ChildResult& p = r.protect;
  const ChildResult& d = r.restore;
  std::printf(
      "| %s | %.0f MiB | %.2f | %.1f s, CPU %.1f s | %.1f / %.1f | %.1f s, CPU %.1f s | "
      "%.1f / %.1f | %.1f / %.1f |\n",
      r.name.c_str(), r.bytes / double(kMiB), r.protectedBytes / double(r.bytes), p.seconds,
      p.cpuSeconds, MBps(r.bytes, p.seconds), MBps(r.bytes, p.cpuSeconds), d.seconds, d.cpuSeconds,
      MBps(r.bytes, d.seconds), MBps(r.bytes, d.cpuSeconds), p.peakKiB / 1024.0,
      d.peakKiB / 1024.0);
}

// Where the CPU time of a protect and a restore goes (deflate, inflate and the cipher timed
// alone by their CPU time), and what the wipe costs against the whole protect.
void PrintShares(const BigResult& r) {
  const double pc = r.protect.cpuSeconds, dc = r.restore.cpuSeconds;
  const double rest = std::max(pc - r.deflate - r.cipherEnc - r.wipeCpu, 0.0);
  const double restoreRest = std::max(dc - r.inflate - r.cipherDec, 0.0);
  std::printf(
      "| %s | %.0f%% / %.0f%% / %.0f%% / %.0f%% | %.1f s, CPU %.1f s | %.1f%% / %.1f%% | "
      "%.0f%% / %.0f%% / %.0f%% |\n",
      r.name.c_str(), 100 * r.deflate / pc, 100 * r.cipherEnc / pc, 100 * rest / pc,
      100 * r.wipeCpu / pc, r.wipe, r.wipeCpu, 100 * r.wipe / r.protect.seconds,
      100 * (r.wipe > r.wipeCpu ? r.wipe : r.wipeCpu) / pc, 100 * r.inflate / dc,
      100 * r.cipherDec / dc, 100 * restoreRest / dc);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i], v = argv[i + 1];
    if (a == "--text-mib")
      o.textMiB = std::stoull(v);
    else if (a == "--noise-mib")
      o.noiseMiB = std::stoull(v);
    else if (a == "--small")
      o.small = std::stoi(v);
    else if (a == "--dir")
      o.dir = v;
    else if (a == "--buffer-mib")
      o.bufferMiB = std::stoull(v);
    else if (a == "--parts")
      o.parts = v;
    else if (a == "--buffers") {
      o.buffers.clear();
      for (size_t p = 0; p < v.size();) {
        const size_t q = v.find(',', p);
        o.buffers.push_back(static_cast<uint32_t>(std::stoul(v.substr(p, q - p))));
        p = q == std::string::npos ? v.size() : q + 1;
      }
    } else {
      std::fprintf(stderr, "unknown option %s\n", a.c_str());
      return 2;
    }
  }
  if (o.dir.empty()) {
    const char* t = std::getenv("TMPDIR");
    o.dir = t && *t ? t : "/tmp";
  }
  std::string folder = JoinPath(o.dir, "vg-guard-bench-XXXXXX");
  if (!::mkdtemp(folder.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  std::fprintf(stderr, "corpus in %s\n", folder.c_str());
  const std::string text = JoinPath(folder, "text.txt");
  const std::string noise = JoinPath(folder, "noise.zip");
  const std::string small = JoinPath(folder, "small");
  if (o.Has("main") || (o.Has("buffers") && !o.bufferMiB)) {
    MakeFile(text, o.textMiB * kMiB, true, 1);
    MakeFile(noise, o.noiseMiB * kMiB, false, 2);
  }
  const uint64_t smallBytes = o.Has("small") ? MakeSmallFiles(small, o.small) : 0;
  rusage parent{};
  ::getrusage(RUSAGE_SELF, &parent);
  std::printf("(peak RSS of the parent process before the runs: %.0f MiB)\n\n",
              parent.ru_maxrss / 1024.0);

  if (o.Has("main")) {
    std::printf(
        "Guard core, protect then restore (EncryptFileList / DecryptFileList), codec buffer %u, "
        "load average %.1f at the start\n\n",
        kCodecBufferSize, LoadAverage());
    const BigResult text_ = RunBig("text-like", text, o.textMiB * kMiB, true);
    const BigResult noise_ = RunBig("incompressible, no-zip", noise, o.noiseMiB * kMiB, false);
    std::printf(
        "| corpus | size | protected / plain | protect | protect MB/s wall / per CPU s | "
        "restore | restore MB/s wall / per CPU s | peak RSS MiB protect / restore |\n"
        "|---|---|---|---|---|---|---|---|\n");
    PrintRates(text_);
    PrintRates(noise_);
    std::printf(
        "\n| corpus | protect CPU: deflate / cipher / I/O+other / wipe | wipe alone | wipe / "
        "protect, wall / worst case on CPU | restore CPU: inflate / cipher / I/O+other |\n"
        "|---|---|---|---|---|\n");
    PrintShares(text_);
    PrintShares(noise_);
    std::printf("\n(load average %.1f at the end)\n", LoadAverage());
    std::fflush(stdout);
  }

  if (o.Has("small")) {
    std::fprintf(stderr, "small files...\n");
    const auto key = [] {
      std::vector<uint8_t> k(32);
      GuardKeyDigest(k.data(), kPassword);
      return k;
    }();
    CGuardItem item(small, 1);
    item.m_includeMask = "*.*|";
    item.m_excludeMask = "Vellum*.*|";
    item.m_subfolders = 1;
    ChildResult sp = InChild([&] {
      std::vector<std::string> paths;
      CollectFilesToEncrypt(paths, item);
      BenchUi ui;
      return EncryptFileList(ui, paths, key.data(), 6, "");
    });
    ChildResult sr = InChild([&] {
      std::vector<std::string> paths;
      CollectFilesToDecrypt(paths, item);
      BenchUi ui;
      return DecryptFileList(ui, paths);
    });
    std::printf(
        "\n| %d small files (%.0f MiB) | protect %.1f s, %.0f files/s, %.1f MB/s | restore %.1f s, "
        "%.0f files/s, %.1f MB/s | peak RSS %.0f / %.0f MiB | done %d / %d |\n",
        o.small, smallBytes / double(kMiB), sp.seconds, o.small / sp.seconds,
        MBps(smallBytes, sp.seconds), sr.seconds, o.small / sr.seconds,
        MBps(smallBytes, sr.seconds), sp.peakKiB / 1024.0, sr.peakKiB / 1024.0, sp.count, sr.count);
    std::fflush(stdout);
  }

  if (o.Has("buffers") && !o.buffers.empty()) {
    std::string bt = text, bn = noise;
    if (o.bufferMiB) {
      bt = JoinPath(folder, "buffer.txt");
      bn = JoinPath(folder, "buffer.zip");
      MakeFile(bt, o.bufferMiB * kMiB, true, 3);
      MakeFile(bn, o.bufferMiB * kMiB, false, 4);
    }
    const uint64_t tb = FileLength(bt), nb = FileLength(bn);
    std::printf("\nCodec buffer (Encode + Decode, no wipe; %.0f MiB each)\n\n", tb / double(kMiB));
    std::printf(
        "| buffer | text encode MB/s | text decode MB/s | no-zip encode MB/s | no-zip decode MB/s "
        "| protect+restore time vs 1024 |\n|---|---|---|---|---|---|\n");
    double base = 0;
    for (uint32_t b : o.buffers) {
      std::fprintf(stderr, "buffer %u...\n", b);
      double te = 0, td = 0, ne = 0, nd = 0;
      CodecRun(bt, 6, b, te, td);
      CodecRun(bn, 0, b, ne, nd);
      const double total = te + td + ne + nd;
      if (base == 0) base = total;
      std::printf("| %u | %.1f | %.1f | %.1f | %.1f | %.2f |\n", b, MBps(tb, te), MBps(tb, td),
                  MBps(nb, ne), MBps(nb, nd), total / base);
      std::fflush(stdout);
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}

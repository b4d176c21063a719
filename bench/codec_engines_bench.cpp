// The deflate and inflate engines of the file codec (zlib and, when built in, ISA-L), timed
// apart. A plain timing program: every figure is the best of --runs passes.
//
//   codec_engines_bench levels FILE...   size and speed of each engine at levels 1 to 9
//                                         (512 KiB pieces with their dictionaries, one
//                                         core, as the codec deflates), and inflate speed
//   codec_engines_bench buffers FILE     restore loop (decrypt, inflate, write) with other
//                                         read and inflate buffer sizes
//   codec_engines_bench restore FILE     where a restore's time goes: decryption, inflate,
//                                         writing, syncing, against the whole Decode
//   [--runs N] [--dir PATH] (default 3, $TMPDIR or /tmp)
//
// Files are read whole into memory (at most 256 MiB of each).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/file_codec.h"
#include "engine/zlib_engines.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPiece = 512 * 1024;
constexpr size_t kDictionary = 32 * 1024;
int g_runs = 3;
std::string g_dir;

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Times {
  double wall = 1e30, cpu = 1e30;
};

// Best wall and CPU time of g_runs passes of fn.
Times Best(const std::function<void()>& fn) {
  Times best;
  for (int r = 0; r < g_runs; ++r) {
    const double w0 = WallSeconds(), c0 = CpuSeconds();
    fn();
    best.wall = std::min(best.wall, WallSeconds() - w0);
    best.cpu = std::min(best.cpu, CpuSeconds() - c0);
  }
  return best;
}

Bytes ReadAll(const std::string& path) {
  Bytes out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(2);
  }
  uint8_t buf[1 << 16];
  ssize_t n;
  while (out.size() < (256u << 20) && (n = ::read(fd, buf, sizeof buf)) > 0) {
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

void WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w <= 0) {
      std::perror("write");
      std::exit(2);
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// The zlib stream of plain at level, made the way the codec makes it.
Bytes DeflateLikeTheCodec(const Bytes& plain, int level, bool zlibOnly) {
  Bytes stream = {0x78, 0x01};
  Bytes out;
  uint32_t adler = 1;
  for (size_t at = 0;; at += kPiece) {
    const size_t n = std::min(kPiece, plain.size() - at);
    const bool last = at + n == plain.size();
    const size_t dict = std::min(at, kDictionary);
    if (vg::zengine::DeflatePiece(level, zlibOnly, plain.data() + at - dict, dict,
                                  plain.data() + at, n, last, out) != CODEC_OK) {
      std::fprintf(stderr, "deflate failed\n");
      std::exit(2);
    }
    stream.insert(stream.end(), out.begin(), out.end());
    adler = vg::zengine::Adler32(adler, plain.data() + at, n);
    if (last) break;
  }
  for (int s = 24; s >= 0; s -= 8) stream.push_back(static_cast<uint8_t>(adler >> s));
  return stream;
}

struct CountingSink final : vg::zengine::Sink {
  bool Take(const uint8_t*, size_t n) override {
    count += n;
    return true;
  }
  size_t count = 0;
};

// Inflates stream in pieces of `in` bytes; returns the plain size.
size_t Inflate(const Bytes& stream, bool zlibOnly, size_t in = 64 * 1024, size_t out = 256 * 1024) {
  auto inflater = vg::zengine::MakeInflater(stream.data(), stream.size(), zlibOnly, out);
  CountingSink sink;
  for (size_t at = 0; at < stream.size(); at += in) {
    const size_t n = std::min(in, stream.size() - at);
    const auto step = inflater->Feed(stream.data() + at, n, sink);
    if (step == vg::zengine::Step::kEnd) return sink.count;
    if (step != vg::zengine::Step::kMore) break;
  }
  std::fprintf(stderr, "inflate failed\n");
  std::exit(2);
}

uint64_t FileLengthOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

double Mbs(size_t bytes, double seconds) {
  return static_cast<double>(bytes) / 1e6 / seconds;
}

void Levels(const std::vector<std::string>& files) {
  std::printf(
      "| corpus | level | zlib size | zlib MB/s | ISA-L size | ISA-L MB/s | "
      "ISA-L / zlib size |\n|---|---|---|---|---|---|---|\n");
  for (const auto& path : files) {
    const Bytes plain = ReadAll(path);
    const std::string name = path.substr(path.find_last_of('/') + 1);
    Bytes level6;
    for (int level = 1; level <= 9; ++level) {
      Bytes z;
      const Times tz = Best([&] { z = DeflateLikeTheCodec(plain, level, true); });
      if (level == 6) level6 = z;
      std::printf("| %s (%.1f MiB) | %d | %.4f | %.1f |", name.c_str(),
                  static_cast<double>(plain.size()) / 1048576.0, level,
                  static_cast<double>(z.size()) / static_cast<double>(plain.size()),
                  Mbs(plain.size(), tz.cpu));
      if (vg::zengine::FastBuiltIn() && level <= 3) {
        Bytes f;
        const Times tf = Best([&] { f = DeflateLikeTheCodec(plain, level, false); });
        std::printf(" %.4f | %.1f | %.3f |\n",
                    static_cast<double>(f.size()) / static_cast<double>(plain.size()),
                    Mbs(plain.size(), tf.cpu),
                    static_cast<double>(f.size()) / static_cast<double>(z.size()));
      } else {
        std::printf(" | | |\n");
      }
    }
    const Times iz = Best([&] { Inflate(level6, true); });
    const Times is = Best([&] { Inflate(level6, false); });
    std::printf("| %s | inflate of level 6 | zlib %.1f MB/s | | ISA-L %.1f MB/s | | %.2fx |\n",
                name.c_str(), Mbs(plain.size(), iz.cpu), Mbs(plain.size(), is.cpu),
                iz.cpu / is.cpu);
  }
}

// A protected file of plain at level 6 in g_dir; returns its path.
std::string Protect(const Bytes& plain, const uint8_t* key) {
  const std::string src = g_dir + "/vg-engines-plain";
  const std::string dst = g_dir + "/vg-engines-plain.~de";
  const int fd = ::open(src.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  WriteAll(fd, plain.data(), plain.size());
  ::close(fd);
  CFileCodec c;
  c.m_usePasswordText = 0;
  std::memcpy(c.m_keyDigest, key, 32);
  c.m_bufferSize = 1024;
  c.m_source = src;
  c.m_destination = dst;
  if (c.Encode() != CODEC_OK) std::exit(2);
  ::unlink(src.c_str());
  return dst;
}

struct FileSink final : vg::zengine::Sink {
  bool Take(const uint8_t* p, size_t n) override {
    WriteAll(fd, p, n);
    return true;
  }
  int fd = -1;
};

// The restore loop with read pieces of `in` bytes and an inflate buffer of `out` bytes,
// without the sync (the same for every size).
void RestoreLoop(const std::string& protectedPath, const uint8_t* key, size_t in, size_t out) {
  CEncryptedStream s(0);
  if (s.Open(protectedPath, STREAM_READ, CHAIN_CBC) != 1 || s.SetKeyDigest(key) != 1) std::exit(2);
  s.SetBufferSize(1024);
  Bytes buf(in);
  uint8_t magic[4];
  s.Read(magic, 4);
  FileSink sink;
  const std::string target = g_dir + "/vg-engines-restored";
  sink.fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::unique_ptr<vg::zengine::Inflater> inflater;
  for (;;) {
    const int64_t c = s.Read(buf.data(), in);
    if (c <= 0) std::exit(2);
    if (!inflater) inflater = vg::zengine::MakeInflater(buf.data(), c, false, out);
    if (inflater->Feed(buf.data(), c, sink) == vg::zengine::Step::kEnd) break;
  }
  ::close(sink.fd);
  ::unlink(target.c_str());
}

void Buffers(const std::string& path) {
  const Bytes plain = ReadAll(path);
  uint8_t key[32];
  GuardKeyDigest(key, "bench");
  const std::string protectedPath = Protect(plain, key);
  std::printf(
      "| read piece | inflate buffer | CPU s | wall s | MB/s (wall) |\n|---|---|---|---|---|\n");
  for (const size_t in : {size_t{1040}, size_t{16384}, size_t{65536}, size_t{262144}}) {
    for (const size_t out : {size_t{65536}, size_t{262144}, size_t{1048576}}) {
      const Times t = Best([&] { RestoreLoop(protectedPath, key, in, out); });
      std::printf("| %zu | %zu | %.3f | %.3f | %.0f |\n", in, out, t.cpu, t.wall,
                  Mbs(plain.size(), t.wall));
    }
  }
  ::unlink(protectedPath.c_str());
}

void Restore(const std::string& path) {
  const Bytes plain = ReadAll(path);
  uint8_t key[32];
  GuardKeyDigest(key, "bench");
  const std::string protectedPath = Protect(plain, key);
  const std::string target = g_dir + "/vg-engines-restored";

  const Times whole = Best([&] {
    CFileCodec c;
    c.m_usePasswordText = 0;
    std::memcpy(c.m_keyDigest, key, 32);
    c.m_bufferSize = 1024;
    c.m_source = protectedPath;
    c.m_destination = target;
    if (c.Decode() != CODEC_OK) std::exit(2);
    ::unlink(target.c_str());
  });
  Bytes payload;
  const Times decrypt = Best([&] {
    CEncryptedStream s(0);
    if (s.Open(protectedPath, STREAM_READ, CHAIN_CBC) != 1 || s.SetKeyDigest(key) != 1)
      std::exit(2);
    s.SetBufferSize(1024);
    payload.assign(FileLengthOf(protectedPath), 0);
    const int64_t n = s.Read(payload.data(), payload.size());
    payload.resize(static_cast<size_t>(n));
  });
  const Bytes stream(payload.begin() + 4, payload.end());
  const Times inflate = Best([&] { Inflate(stream, false); });
  const Times write = Best([&] {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    for (size_t at = 0; at < plain.size(); at += 262144) {
      WriteAll(fd, plain.data() + at, std::min<size_t>(262144, plain.size() - at));
    }
    ::close(fd);
  });
  double fsyncBest = 1e30;
  for (int r = 0; r < g_runs; ++r) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    for (size_t at = 0; at < plain.size(); at += 262144) {
      WriteAll(fd, plain.data() + at, std::min<size_t>(262144, plain.size() - at));
    }
    const double w0 = WallSeconds();
    if (::fsync(fd) != 0) std::exit(2);
    fsyncBest = std::min(fsyncBest, WallSeconds() - w0);
    ::close(fd);
  }
  ::unlink(target.c_str());
  ::unlink(protectedPath.c_str());
  std::printf("Decode whole: wall %.3f s, CPU %.3f s (%.0f MB/s)\n", whole.wall, whole.cpu,
              Mbs(plain.size(), whole.wall));
  std::printf("read and decrypt the payload: wall %.3f s (%.0f%%)\n", decrypt.wall,
              100 * decrypt.wall / whole.wall);
  std::printf("inflate (ISA-L when built in): wall %.3f s (%.0f%%)\n", inflate.wall,
              100 * inflate.wall / whole.wall);
  std::printf("write the plain file, no sync: wall %.3f s (%.0f%%)\n", write.wall,
              100 * write.wall / whole.wall);
  std::printf("fsync of the written file: wall %.3f s (%.0f%%)\n", fsyncBest,
              100 * fsyncBest / whole.wall);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const char* tmp = std::getenv("TMPDIR");
  g_dir = tmp && *tmp ? tmp : "/tmp";
  std::vector<std::string> files;
  std::string part;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--runs" && i + 1 < args.size()) {
      g_runs = std::atoi(args[++i].c_str());
    } else if (args[i] == "--dir" && i + 1 < args.size()) {
      g_dir = args[++i];
    } else if (part.empty()) {
      part = args[i];
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.empty() || (part != "levels" && part != "buffers" && part != "restore")) {
    std::fprintf(stderr,
                 "usage: codec_engines_bench levels|buffers|restore FILE... "
                 "[--runs N] [--dir PATH]\n");
    return 2;
  }
  std::printf("ISA-L built in: %s\n", vg::zengine::FastBuiltIn() ? "yes" : "no");
  if (part == "levels") Levels(files);
  if (part == "buffers") Buffers(files[0]);
  if (part == "restore") Restore(files[0]);
  return 0;
}

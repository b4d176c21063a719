#include "engine/file_codec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "common/paths.h"
#include "common/safe_file.h"
#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/zlib_engines.h"

namespace {

// Plain-file reads and writes are gathered into pieces of this size: the codec's own
// buffers stay at the callers' 1040 bytes without one system call per buffer.
constexpr size_t kIoChunk = 64 * 1024;

// Restoring reads the payload in pieces of kDecodeChunk bytes and inflates into
// kInflateOut bytes at a time, whatever the callers' buffer size: ISA-L spends 75% more
// time on a stream fed in 1 KiB pieces (docs/PERFORMANCE.md). Progress is still reported
// in steps of the callers' buffer size. The file format does not depend on either.
constexpr size_t kDecodeChunk = 64 * 1024;
constexpr size_t kInflateOut = 256 * 1024;

// A work buffer that is wiped before it is freed (it holds plain text).
class SecretBuffer {
 public:
  explicit SecretBuffer(size_t n) : m_data(new (std::nothrow) uint8_t[n]), m_size(n) {}
  ~SecretBuffer() {
    if (m_data) SecureZero(m_data, m_size);
    delete[] m_data;
  }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;
  uint8_t* get() const { return m_data; }
  explicit operator bool() const { return m_data != nullptr; }

 private:
  uint8_t* m_data;
  size_t m_size;
};

// Takes an advisory lock without ever waiting. Only a lock held by someone else fails;
// a file system without flock support is accepted as it is.
bool LockNoWait(int fd, int kind) {
  for (;;) {
    if (::flock(fd, kind | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;
    errno = EBUSY;  // reads better in a message than "try again"
    return false;
  }
}

// The plain file that Encode reads, with read-ahead.
class SourceFile {
 public:
  ~SourceFile() {
    if (m_fd >= 0) ::close(m_fd);  // read-only: nothing can be lost on close
  }
  // Regular files only (a FIFO would block forever), never through a symbolic link,
  // locked against other writers. st receives the file as opened.
  bool Open(const std::string& path, struct stat& st) {
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (m_fd < 0) return false;
    if (::fstat(m_fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
      return false;
    }
    if (::fcntl(m_fd, F_SETFL, O_RDONLY) != 0) return false;
    if (!LockNoWait(m_fd, LOCK_EX)) return false;
    m_length = static_cast<uint64_t>(st.st_size);
    m_ahead = std::make_unique<SecretBuffer>(kIoChunk);
    if (!*m_ahead) errno = ENOMEM;
    return static_cast<bool>(*m_ahead);
  }
  uint64_t Length() const { return m_length; }
  // Fills n bytes unless the file ends first; -1 on a read error.
  int64_t Read(uint8_t* dst, size_t n) {
    size_t got = 0;
    while (got < n) {
      if (m_pos == m_fill) {
        if (m_ended) break;
        ssize_t r;
        do {
          r = ::read(m_fd, m_ahead->get(), kIoChunk);
        } while (r < 0 && errno == EINTR);
        if (r < 0) return -1;
        if (r == 0) {
          m_ended = true;
          break;
        }
        m_pos = 0;
        m_fill = static_cast<size_t>(r);
      }
      size_t take = m_fill - m_pos;
      if (take > n - got) take = n - got;
      std::memcpy(dst + got, m_ahead->get() + m_pos, take);
      m_pos += take;
      got += take;
    }
    return static_cast<int64_t>(got);
  }

 private:
  int m_fd = -1;
  uint64_t m_length = 0;
  std::unique_ptr<SecretBuffer> m_ahead;
  size_t m_pos = 0;
  size_t m_fill = 0;
  bool m_ended = false;
};

// Deflate of large files on several cores. The file is cut into pieces that are
// deflated at once, each primed with the 32 KiB before it as its dictionary and ended
// with a sync flush (the last with the finish), so that the pieces joined behind one
// zlib header, with the Adler-32 of the whole file behind them, are one zlib stream like
// any other: the file format does not change, only which bytes deflate picks.
constexpr size_t kParallelPiece = 512 * 1024;
constexpr size_t kDictionary = 32 * 1024;

struct DeflatePiece {
  std::vector<uint8_t> in = std::vector<uint8_t>(kParallelPiece);
  std::vector<uint8_t> out;
  std::vector<uint8_t> dictionary;
  size_t size = 0;
  bool last = false;
  uLong adler = 0;
  int result = CODEC_OK;

  void Deflate(int level, bool zlibOnly) {
    result = vg::zengine::DeflatePiece(level, zlibOnly, dictionary.data(), dictionary.size(),
                                       in.data(), size, last, out);
    if (result == CODEC_OK) adler = vg::zengine::Adler32(1, in.data(), size);
  }
};

// How many cores to deflate a file on in pieces: none (0) for stored files and for small
// files at the levels zlib deflates, which stream through one deflate instead; one for
// small files at the levels ISA-L deflates, whose deflate works in pieces only.
unsigned PieceDeflateThreads(int level, uint64_t total, bool zlibOnly) {
  if (level < 1 || level > 9) return 0;
  if (total < 4 * kParallelPiece) return !zlibOnly && vg::zengine::FastDeflates(level) ? 1 : 0;
  const unsigned cores = std::thread::hardware_concurrency();
  return std::max(1u, std::min(cores, 4u));
}

// The zlib header deflateInit writes for this level (no preset dictionary).
void ZlibHeader(int level, uint8_t out[2]) {
  unsigned header = (Z_DEFLATED + ((15 - 8) << 4)) << 8;
  const unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  header |= flags << 6;
  header += 31 - (header % 31);
  out[0] = static_cast<uint8_t>(header >> 8);
  out[1] = static_cast<uint8_t>(header & 0xFF);
}

struct ParallelOutcome {
  int result = CODEC_OK;
  int err = 0;
  bool sourceFailed = false;
};

ParallelOutcome DeflateInPieces(SourceFile& source, CEncryptedStream& stream, int level,
                                bool zlibOnly, uint64_t total, ProgressProc progress, void* user,
                                unsigned threads) {
  ParallelOutcome outcome;
  std::vector<DeflatePiece> pieces(threads);
  std::vector<uint8_t> tail;  // the last 32 KiB before the next piece
  auto wipe = [&] {
    for (auto& p : pieces) {
      SecureZero(p.in.data(), p.in.size());
      SecureZero(p.out.data(), p.out.size());
      SecureZero(p.dictionary.data(), p.dictionary.size());
    }
    SecureZero(tail.data(), tail.size());
  };
  auto fail = [&](int result, int err, bool sourceFailed) {
    wipe();
    outcome = {result, err, sourceFailed};
    return outcome;
  };
  uint8_t header[2];
  ZlibHeader(level, header);
  if (stream.Write(header, 2) != 2) return fail(CODEC_IO_ERROR, stream.CloseError(), false);
  uLong adler = adler32(0L, nullptr, 0);
  uint64_t done = 0;
  bool finished = false;
  while (!finished) {
    size_t count = 0;
    for (; count < pieces.size() && !finished; ++count) {
      DeflatePiece& piece = pieces[count];
      const int64_t n = source.Read(piece.in.data(), kParallelPiece);
      if (n < 0) return fail(CODEC_IO_ERROR, errno, true);
      piece.size = static_cast<size_t>(n);
      piece.last = piece.size < kParallelPiece;
      piece.dictionary = tail;
      if (piece.size > 0) {
        const size_t keep = std::min(piece.size, kDictionary);
        tail.assign(piece.in.begin() + static_cast<ptrdiff_t>(piece.size - keep),
                    piece.in.begin() + static_cast<ptrdiff_t>(piece.size));
      }
      finished = piece.last;
    }
    std::vector<std::thread> workers;
    try {
      for (size_t i = 1; i < count; ++i) {
        workers.emplace_back([&, i] { pieces[i].Deflate(level, zlibOnly); });
      }
    } catch (const std::system_error&) {
      // No thread to be had: the remaining pieces are deflated here, one after another.
      for (size_t i = workers.size() + 1; i < count; ++i) pieces[i].Deflate(level, zlibOnly);
    }
    pieces[0].Deflate(level, zlibOnly);
    for (auto& w : workers) w.join();
    for (size_t i = 0; i < count; ++i) {
      DeflatePiece& piece = pieces[i];
      if (piece.result != CODEC_OK) return fail(piece.result, 0, false);
      if (!piece.out.empty() && stream.Write(piece.out.data(), piece.out.size()) !=
                                    static_cast<int64_t>(piece.out.size())) {
        return fail(CODEC_IO_ERROR, stream.CloseError(), false);
      }
      adler = adler32_combine(adler, piece.adler, static_cast<z_off_t>(piece.size));
      done += piece.size;
      if (progress && progress(total, done, piece.size, user) == 0) {
        return fail(CODEC_CANCELLED, 0, false);
      }
    }
  }
  const uint8_t trailer[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                              static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
  if (stream.Write(trailer, 4) != 4) return fail(CODEC_IO_ERROR, stream.CloseError(), false);
  wipe();
  return outcome;
}

// The plain file that Decode writes: a temporary dot-name beside the destination,
// renamed over it only when complete and synced; removed on every other path.
// With direct set the target itself is the caller's fresh temporary name: it is created
// exclusively, and Commit neither syncs nor renames it (the caller does, for many files
// at once).
class RestoredFile {
 public:
  RestoredFile(std::string target, bool direct) : m_target(std::move(target)), m_direct(direct) {}
  ~RestoredFile() {
    if (m_fd >= 0) ::close(m_fd);  // failure path: the file is removed below anyway
    if (!m_temp.empty() && !m_committed) ::unlink(m_temp.c_str());
  }
  bool Create() {
    m_buffer = std::make_unique<SecretBuffer>(kIoChunk);
    if (!*m_buffer) {
      errno = ENOMEM;
      return false;
    }
    if (m_direct) {
      m_fd = ::open(m_target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (m_fd >= 0) m_temp = m_target;
    } else {
      m_fd = CreateTempFile(m_target, m_temp);
    }
    if (m_fd < 0) return false;
    if (::fstat(m_fd, &m_created) != 0) return false;
    return LockNoWait(m_fd, LOCK_EX);
  }
  const struct stat& Created() const { return m_created; }
  bool Write(const uint8_t* p, size_t n) {
    // Whole buffers of inflated bytes go straight to the file.
    if (m_used == 0 && n >= kIoChunk) return WriteAll(p, n);
    while (n > 0) {
      size_t take = kIoChunk - m_used;
      if (take > n) take = n;
      std::memcpy(m_buffer->get() + m_used, p, take);
      m_used += take;
      p += take;
      n -= take;
      if (m_used == kIoChunk && !Flush()) return false;
    }
    return true;
  }
  // Flush, take the attributes of from, fsync, close, rename over the target, sync the
  // folder. 0 or the errno.
  int Commit(const struct stat& from) {
    if (!Flush()) return errno;
    if (const SysError e = ApplyAttributes(m_fd, from, m_temp); !e.ok()) return e.err;
    if (!m_direct && ::fsync(m_fd) != 0) return errno;
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) return errno;
    if (m_direct) {
      m_committed = true;
      return 0;
    }
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0) return errno;
    m_committed = true;
    const SysError synced = SyncParentFolder(m_target);
    if (!synced.ok()) {
      // Without the folder synced the new name may not survive a crash: report the
      // failure and take the output back, so the caller keeps its protected file.
      ::unlink(m_target.c_str());
      return synced.err;
    }
    return 0;
  }

 private:
  bool Flush() {
    const size_t n = m_used;
    m_used = 0;
    return WriteAll(m_buffer->get(), n);
  }
  bool WriteAll(const uint8_t* p, size_t n) {
    while (n > 0) {
      const ssize_t w = ::write(m_fd, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w == 0) errno = EIO;
      if (w <= 0) return false;
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }

  std::string m_target;
  std::string m_temp;
  bool m_direct;
  int m_fd = -1;
  bool m_committed = false;
  struct stat m_created {};
  std::unique_ptr<SecretBuffer> m_buffer;
  size_t m_used = 0;
};

// Hands inflated bytes to the restored file, keeping the errno of a failed write.
class DestinationSink final : public vg::zengine::Sink {
 public:
  explicit DestinationSink(RestoredFile& file) : m_file(file) {}
  bool Take(const uint8_t* p, size_t n) override {
    if (m_file.Write(p, n)) return true;
    err = errno;
    return false;
  }
  int err = 0;

 private:
  RestoredFile& m_file;
};

// True when both paths name the same existing file (the same inode): writing one would
// destroy the other.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

class DeflateState {
 public:
  ~DeflateState() {
    if (m_live) deflateEnd(&m_z);
  }
  int Init(int level) {
    std::memset(&m_z, 0, sizeof m_z);
    const int r = deflateInit(&m_z, level);
    m_live = r == Z_OK;
    return r;
  }
  z_stream& z() { return m_z; }

 private:
  z_stream m_z;
  bool m_live = false;
};

}  // namespace

CFileCodec::~CFileCodec() {
  SecureZero(m_keyDigest, sizeof m_keyDigest);
  if (!m_password.empty()) SecureZero(m_password.data(), m_password.size());
}

int CFileCodec::IoError(const std::string& path, int err) {
  m_errno = err;
  m_errorPath = path;
  return CODEC_IO_ERROR;
}

int CFileCodec::Encode(ProgressProc progress, void* user) {
  m_errno = 0;
  m_errorPath.clear();
  try {
    if (SameFile(m_source, m_destination)) return IoError(m_destination, EEXIST);
    m_sourceStat = {};
    m_destinationStat = {};
    CEncryptedStream stream(0);
    stream.SetCreateNew(m_createNew);
    if (stream.Open(m_destination, STREAM_WRITE, CHAIN_CBC) != 1) {
      return IoError(m_destination, errno);
    }
    if (::fstat(stream.Descriptor(), &m_destinationStat) != 0) return IoError(m_destination, errno);
    int result = EncodeInto(stream, progress, user);
    if (result == CODEC_OK) stream.SetAttributesOnClose(m_sourceStat);
    // The last whole blocks and the tail reach the file only now; the result holds
    // only when they, the sync and the close all succeeded.
    stream.SetSyncOnClose(result == CODEC_OK && !m_deferSync);
    stream.Close();
    if (result == CODEC_OK && stream.CloseError() != 0) {
      result = IoError(m_destination, stream.CloseError());
    }
    return result;
  } catch (const std::bad_alloc&) {
    return CODEC_NO_MEMORY;
  } catch (...) {
    return IoError(m_destination, 0);
  }
}

// Keys the stream (writing or reading its header) and gives it the codec's buffer size,
// which is stored back rounded as the stream rounds it.
int CFileCodec::KeyStream(CEncryptedStream& stream) {
  const int keyed =
      m_usePasswordText ? stream.SetPassword(m_password) : stream.SetKeyDigest(m_keyDigest);
  if (keyed < 0) return CODEC_BAD_KEY;
  const int64_t size = stream.SetBufferSize(m_bufferSize);
  if (size < 0) return CODEC_NO_MEMORY;
  m_bufferSize = static_cast<uint32_t>(size);
  return CODEC_OK;
}

int CFileCodec::EncodeInto(CEncryptedStream& stream, ProgressProc progress, void* user) {
  if (const int keyed = KeyStream(stream); keyed != CODEC_OK) return keyed;
  if (stream.Write(kCodecMagic, sizeof kCodecMagic) != 4) {
    return IoError(m_destination, stream.CloseError());
  }

  SourceFile source;
  if (!source.Open(m_source, m_sourceStat)) return IoError(m_source, errno);
  const uint64_t total = source.Length();
  uint64_t done = 0;

  if (const unsigned threads = PieceDeflateThreads(m_level, total, m_zlibOnly); threads > 0) {
    const ParallelOutcome r =
        DeflateInPieces(source, stream, m_level, m_zlibOnly, total, progress, user, threads);
    if (r.result == CODEC_IO_ERROR)
      return IoError(r.sourceFailed ? m_source : m_destination, r.err);
    return r.result;
  }

  const size_t bufferSize = m_bufferSize;
  SecretBuffer in(bufferSize);
  SecretBuffer out(bufferSize);
  if (!in || !out) return CODEC_NO_MEMORY;

  DeflateState deflater;
  if (deflater.Init(m_level) != Z_OK) return CODEC_ZLIB_ERROR;
  z_stream& z = deflater.z();

  for (;;) {
    const int64_t n = source.Read(in.get(), bufferSize);
    if (n < 0) return IoError(m_source, errno);
    done += static_cast<uint64_t>(n);
    const int flush = static_cast<size_t>(n) < bufferSize ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = in.get();
    z.avail_in = static_cast<uInt>(n);
    int r;
    do {
      z.next_out = out.get();
      z.avail_out = static_cast<uInt>(bufferSize);
      r = deflate(&z, flush);
      if (r == Z_STREAM_ERROR) return CODEC_ZLIB_ERROR;
      const size_t produced = bufferSize - z.avail_out;
      if (produced > 0 && stream.Write(out.get(), produced) != static_cast<int64_t>(produced)) {
        return IoError(m_destination, stream.CloseError());
      }
    } while (z.avail_out == 0 && r != Z_STREAM_END);
    if (progress && progress(total, done, static_cast<uint64_t>(n), user) == 0) {
      return CODEC_CANCELLED;
    }
    if (flush == Z_FINISH) return r == Z_STREAM_END ? CODEC_OK : CODEC_ZLIB_ERROR;
  }
}

int CFileCodec::Decode(ProgressProc progress, void* user) {
  m_errno = 0;
  m_errorPath.clear();
  try {
    if (SameFile(m_source, m_destination)) return IoError(m_destination, EEXIST);
    m_destinationStat = {};
    CEncryptedStream stream(0);
    if (stream.Open(m_source, STREAM_READ, CHAIN_CBC) != 1) return IoError(m_source, errno);
    return DecodeFrom(stream, progress, user);
  } catch (const std::bad_alloc&) {
    return CODEC_NO_MEMORY;
  } catch (...) {
    return IoError(m_destination, 0);
  }
}

int CFileCodec::DecodeFrom(CEncryptedStream& stream, ProgressProc progress, void* user) {
  if (const int keyed = KeyStream(stream); keyed != CODEC_OK) return keyed;

  uint8_t magic[4];
  const int64_t got = stream.Read(magic, sizeof magic);
  if (got != 4) return IoError(m_source, got < 0 ? errno : 0);
  if (std::memcmp(magic, kCodecMagic, sizeof magic) != 0) return CODEC_BAD_KEY;

  SecretBuffer in(kDecodeChunk);
  if (!in) return CODEC_NO_MEMORY;
  RestoredFile destination(m_destination, m_deferSync);
  if (!destination.Create()) return IoError(m_destination, errno);
  if (m_deferSync) m_destinationStat = destination.Created();
  DestinationSink sink(destination);

  // The engine is picked by the stream's first bytes, once they are read.
  std::unique_ptr<vg::zengine::Inflater> inflater;
  const uint64_t total = FileLength(m_source);
  uint64_t reported = 0;
  for (;;) {
    const int64_t c = stream.Read(in.get(), kDecodeChunk);
    if (c < 0) return IoError(m_source, errno);
    if (c == 0) return CODEC_ZLIB_ERROR;  // the payload ended inside the zlib stream
    if (!inflater) {
      inflater =
          vg::zengine::MakeInflater(in.get(), static_cast<size_t>(c), m_zlibOnly, kInflateOut);
      if (!inflater) return CODEC_NO_MEMORY;
    }
    const vg::zengine::Step step = inflater->Feed(in.get(), static_cast<size_t>(c), sink);
    if (step == vg::zengine::Step::kBad) return CODEC_ZLIB_ERROR;
    if (step == vg::zengine::Step::kSinkFailed) return IoError(m_destination, sink.err);
    if (progress) {
      for (uint64_t at = 0; at < static_cast<uint64_t>(c); at += m_bufferSize) {
        const uint64_t n = std::min<uint64_t>(m_bufferSize, static_cast<uint64_t>(c) - at);
        reported += n;
        if (progress(total, reported, n, user) == 0) return CODEC_CANCELLED;
      }
    }
    if (step == vg::zengine::Step::kEnd) {
      struct stat from {};
      if (::fstat(stream.Descriptor(), &from) != 0) return IoError(m_source, errno);
      const int err = destination.Commit(from);
      return err == 0 ? CODEC_OK : IoError(m_destination, err);
    }
  }
}

bool CFileCodec::FastEngineBuiltIn() {
  return vg::zengine::FastBuiltIn();
}

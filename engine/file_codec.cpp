#include "engine/file_codec.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "common/paths.h"
#include "engine/codec_files.h"
#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/parallel_deflate.h"
#include "engine/zlib_engines.h"

using vg::codec::DeflateInPieces;
using vg::codec::DeflateOutcome;
using vg::codec::PieceDeflateThreads;
using vg::codec::RestoredFile;
using vg::codec::SecretBuffer;
using vg::codec::SourceFile;

namespace {

// Restoring reads the payload in pieces of kDecodeChunk bytes and inflates into
// kInflateOut bytes at a time, whatever the callers' buffer size: ISA-L spends 75% more
// time on a stream fed in 1 KiB pieces (docs/PERFORMANCE.md). Progress is still reported
// in steps of the callers' buffer size. The file format does not depend on either.
constexpr size_t kDecodeChunk = 64 * 1024;
constexpr size_t kInflateOut = 256 * 1024;

// Hands inflated bytes to the restored file, which keeps the reason of a failed write.
class DestinationSink final : public vg::zengine::Sink {
 public:
  explicit DestinationSink(RestoredFile& file) : m_file(file) {}
  bool Take(const uint8_t* p, size_t n) override { return m_file.Write(p, n); }

 private:
  RestoredFile& m_file;
};

// True when both paths name the same existing file (the same inode): writing one would
// destroy the other.
bool SameFile(int folder, const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::fstatat(folder, a.c_str(), &sa, 0) == 0 && ::fstatat(folder, b.c_str(), &sb, 0) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

class DeflateState {
 public:
  ~DeflateState() {
    if (m_live) deflateEnd(&m_z);
  }
  int Init(int level) {
    std::memset(&m_z, 0, sizeof m_z);
    m_z.zalloc = vg::zengine::WipingZalloc;
    m_z.zfree = vg::zengine::WipingZfree;
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

int CFileCodec::IoError(SysError error) {
  m_error = std::move(error);
  return CODEC_IO_ERROR;
}

int CFileCodec::Encode(ProgressProc progress, void* user) {
  m_error = {};
  try {
    // A destination created exclusively cannot be the source.
    if (!m_createNew && SameFile(m_folder, m_source, m_destination))
      return IoError({EEXIST, m_destination, "open"});
    m_sourceStat = {};
    m_destinationStat = {};
    CEncryptedStream stream(0);
    stream.SetCreateNew(m_createNew);
    stream.SetFolder(m_folder);
    if (stream.Open(m_destination, STREAM_WRITE, CHAIN_CBC) != 1) {
      return IoError(ErrnoError(m_destination, "create"));
    }
    m_destinationStat = stream.OpenedStatus();
    int result = EncodeInto(stream, progress, user);
    if (result == CODEC_OK) stream.SetAttributesOnClose(m_sourceStat);
    // The last whole blocks and the tail reach the file only now; the result holds
    // only when they, the sync and the close all succeeded.
    stream.SetSyncOnClose(result == CODEC_OK && !m_deferSync);
    stream.Close();
    if (result == CODEC_OK && stream.CloseError() != 0) {
      result = IoError({stream.CloseError(), m_destination, "close"});
    }
    return result;
  } catch (const std::bad_alloc&) {
    return CODEC_NO_MEMORY;
  } catch (...) {
    return IoError({0, m_destination, ""});
  }
}

// Keys the stream (writing or reading its header) and gives it the codec's buffer size,
// which is stored back rounded as the stream rounds it.
int CFileCodec::KeyStream(CEncryptedStream& stream, bool reading) {
  const int keyed =
      m_usePasswordText ? stream.SetPassword(m_password) : stream.SetKeyDigest(m_keyDigest);
  // A header that could not be read or written is the disk's failure, not the key's: the
  // user must not be asked for the password again and told it is wrong.
  if (keyed < 0 && stream.HeaderError() != 0) {
    return reading ? IoError({stream.HeaderError(), m_source, "read"})
                   : IoError({stream.HeaderError(), m_destination, "write"});
  }
  if (keyed < 0) return CODEC_BAD_KEY;
  const int64_t size = stream.SetBufferSize(m_bufferSize);
  if (size < 0) return CODEC_NO_MEMORY;
  m_bufferSize = static_cast<uint32_t>(size);
  return CODEC_OK;
}

int CFileCodec::EncodeInto(CEncryptedStream& stream, ProgressProc progress, void* user) {
  if (const int keyed = KeyStream(stream, false); keyed != CODEC_OK) return keyed;
  if (stream.Write(kCodecMagic, sizeof kCodecMagic) != 4) {
    return IoError({stream.CloseError(), m_destination, "write"});
  }
  SourceFile source;
  if (SysError e = source.Open(m_source, m_sourceStat, m_folder); !e.ok()) {
    return IoError(std::move(e));
  }
  if (const unsigned threads = PieceDeflateThreads(m_level, source.Length(), m_zlibOnly);
      threads > 0) {
    DeflateOutcome r = DeflateInPieces(source, stream, m_destination, m_level, m_zlibOnly, progress,
                                       user, threads);
    return r.result == CODEC_IO_ERROR ? IoError(std::move(r.error)) : r.result;
  }
  if (!m_zlibOnly && vg::zengine::WholeDeflateBuiltIn() && m_level >= 1 && m_level <= 9 &&
      source.Length() > 0 && source.Length() <= vg::zengine::kWholeDeflateMax) {
    return DeflateWhole(source, stream, progress, user);
  }
  return DeflateStreaming(source, stream, progress, user);
}

// A small file is read whole and deflated in one call, the fastest way for the many small
// files of a folder. One that grew since it was opened goes on through the streaming
// deflate, with what was read so far first.
int CFileCodec::DeflateWhole(SourceFile& source, CEncryptedStream& stream, ProgressProc progress,
                             void* user) {
  const size_t length = static_cast<size_t>(source.Length());
  SecretBuffer in(length + 1);
  if (!in) return CODEC_NO_MEMORY;
  const int64_t n = source.Read(in.get(), length + 1);
  if (n < 0) return IoError(source.LastError());
  const size_t size = static_cast<size_t>(n);
  if (size > length) return DeflateStreaming(source, stream, progress, user, in.get(), size);
  const size_t bound = vg::zengine::WholeDeflateBound(size);
  SecretBuffer out(bound);
  if (!out) return CODEC_NO_MEMORY;
  size_t produced = 0;
  const int r = vg::zengine::WholeDeflate(m_level, in.get(), size, out.get(), bound, produced);
  if (r != CODEC_OK) return r;
  if (stream.Write(out.get(), produced) != static_cast<int64_t>(produced)) {
    return IoError({stream.CloseError(), m_destination, "write"});
  }
  // Progress as the streaming deflate reports it: one call per buffer read, and a last
  // empty one when the size is a whole number of buffers.
  if (!progress) return CODEC_OK;
  const size_t step = m_bufferSize;
  for (size_t done = 0;;) {
    const size_t chunk = std::min(step, size - done);
    done += chunk;
    if (progress(source.Length(), done, chunk, user) == 0) return CODEC_CANCELLED;
    if (chunk < step) return CODEC_OK;
  }
}

// Small files (and levels without pieces) go through one deflate, buffer by buffer.
int CFileCodec::DeflateStreaming(SourceFile& source, CEncryptedStream& stream,
                                 ProgressProc progress, void* user, const uint8_t* head,
                                 size_t headSize) {
  const size_t bufferSize = m_bufferSize;
  SecretBuffer in(bufferSize);
  SecretBuffer out(bufferSize);
  if (!in || !out) return CODEC_NO_MEMORY;
  DeflateState deflater;
  if (deflater.Init(m_level) != Z_OK) return CODEC_ZLIB_ERROR;
  z_stream& z = deflater.z();
  const uint64_t total = source.Length();
  uint64_t done = 0;
  for (;;) {
    int64_t n = 0;
    int flush = Z_NO_FLUSH;
    if (head) {
      n = static_cast<int64_t>(headSize);
      z.next_in = const_cast<uint8_t*>(head);
      head = nullptr;
    } else {
      n = source.Read(in.get(), bufferSize);
      if (n < 0) return IoError(source.LastError());
      if (static_cast<size_t>(n) < bufferSize) flush = Z_FINISH;
      z.next_in = in.get();
    }
    done += static_cast<uint64_t>(n);
    z.avail_in = static_cast<uInt>(n);
    int r;
    do {
      z.next_out = out.get();
      z.avail_out = static_cast<uInt>(bufferSize);
      r = deflate(&z, flush);
      if (r == Z_STREAM_ERROR) return CODEC_ZLIB_ERROR;
      const size_t produced = bufferSize - z.avail_out;
      if (produced > 0 && stream.Write(out.get(), produced) != static_cast<int64_t>(produced)) {
        return IoError({stream.CloseError(), m_destination, "write"});
      }
    } while (z.avail_out == 0 && r != Z_STREAM_END);
    if (progress && progress(total, done, static_cast<uint64_t>(n), user) == 0) {
      return CODEC_CANCELLED;
    }
    if (flush == Z_FINISH) return r == Z_STREAM_END ? CODEC_OK : CODEC_ZLIB_ERROR;
  }
}

int CFileCodec::Decode(ProgressProc progress, void* user) {
  m_error = {};
  try {
    if (!m_deferSync && SameFile(m_folder, m_source, m_destination))
      return IoError({EEXIST, m_destination, "create"});
    m_destinationStat = {};
    CEncryptedStream stream(0);
    stream.SetFolder(m_folder);
    if (stream.Open(m_source, STREAM_READ, CHAIN_CBC) != 1) {
      return IoError(ErrnoError(m_source, "open"));
    }
    return DecodeFrom(stream, progress, user);
  } catch (const std::bad_alloc&) {
    return CODEC_NO_MEMORY;
  } catch (...) {
    return IoError({0, m_destination, ""});
  }
}

int CFileCodec::DecodeFrom(CEncryptedStream& stream, ProgressProc progress, void* user) {
  if (const int keyed = KeyStream(stream, true); keyed != CODEC_OK) return keyed;

  uint8_t magic[4];
  const int64_t got = stream.Read(magic, sizeof magic);
  if (got < 0) return IoError(ErrnoError(m_source, "read"));
  if (got != 4) return IoError({0, m_source, "read"});  // a payload shorter than the magic
  if (std::memcmp(magic, kCodecMagic, sizeof magic) != 0) return CODEC_BAD_KEY;

  SecretBuffer in(kDecodeChunk);
  if (!in) return CODEC_NO_MEMORY;
  RestoredFile destination(m_destination, m_deferSync, m_folder);
  if (SysError e = destination.Create(); !e.ok()) return IoError(std::move(e));
  if (m_deferSync) m_destinationStat = destination.Created();
  DestinationSink sink(destination);

  // The engine is picked by the stream's first bytes, once they are read.
  std::unique_ptr<vg::zengine::Inflater> inflater;
  struct stat opened {};
  const uint64_t total =
      ::fstat(stream.Descriptor(), &opened) == 0 ? static_cast<uint64_t>(opened.st_size) : 0;
  uint64_t reported = 0;
  for (;;) {
    const int64_t c = stream.Read(in.get(), kDecodeChunk);
    if (c < 0) return IoError(ErrnoError(m_source, "read"));
    if (c == 0) return CODEC_ZLIB_ERROR;  // the payload ended inside the zlib stream
    if (!inflater) {
      inflater =
          vg::zengine::MakeInflater(in.get(), static_cast<size_t>(c), m_zlibOnly, kInflateOut);
      if (!inflater) return CODEC_NO_MEMORY;
    }
    const vg::zengine::Step step = inflater->Feed(in.get(), static_cast<size_t>(c), sink);
    if (step == vg::zengine::Step::kBad) return CODEC_ZLIB_ERROR;
    if (step == vg::zengine::Step::kSinkFailed) return IoError(destination.LastError());
    if (progress && !ReportDecoded(static_cast<uint64_t>(c), total, reported, progress, user)) {
      return CODEC_CANCELLED;
    }
    if (step == vg::zengine::Step::kEnd) {
      struct stat from {};
      if (::fstat(stream.Descriptor(), &from) != 0) return IoError(ErrnoError(m_source, "fstat"));
      SysError e = destination.Commit(from);
      return e.ok() ? CODEC_OK : IoError(std::move(e));
    }
  }
}

// Progress of a restore in steps of the callers' buffer size: false when told to stop.
bool CFileCodec::ReportDecoded(uint64_t chunk, uint64_t total, uint64_t& reported,
                               ProgressProc progress, void* user) const {
  for (uint64_t at = 0; at < chunk; at += m_bufferSize) {
    const uint64_t n = std::min<uint64_t>(m_bufferSize, chunk - at);
    reported += n;
    if (progress(total, reported, n, user) == 0) return false;
  }
  return true;
}

bool CFileCodec::FastEngineBuiltIn() {
  return vg::zengine::FastBuiltIn();
}

#include "engine/key_ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "engine/codec_files.h"
#include "engine/encrypted_stream.h"
#include "engine/zlib_engines.h"

using vg::codec::SecretBuffer;

namespace {

// The payload is read, inflated and (re-keying) written in pieces of this size: large
// enough that AES and the inflater, not the calls, set the pace.
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kInflateOut = 256 * 1024;

// Inflated bytes are only counted: nothing of the plain text leaves the inflater.
class CountingSink final : public vg::zengine::Sink {
 public:
  bool Take(const uint8_t* /*p*/, size_t n) override {
    m_bytes += n;
    return true;
  }
  uint64_t m_bytes = 0;
};

int IoFailure(PayloadCheck& check, SysError error) {
  check.error = std::move(error);
  return CODEC_IO_ERROR;
}

int Damaged(PayloadCheck& check, uint64_t at) {
  check.damagedAt = at;
  return CODEC_ZLIB_ERROR;
}

// Opens path for reading under key and takes the magic. CODEC_OK with the stream placed
// at the zlib stream, or why not.
int OpenPayload(CEncryptedStream& in, const std::string& path, const uint8_t key[32],
                PayloadCheck& check) {
  if (in.Open(path, STREAM_READ, CHAIN_CBC) != 1) return IoFailure(check, ErrnoError(path, "open"));
  if (::fstat(in.Descriptor(), &check.source) != 0) {
    return IoFailure(check, ErrnoError(path, "fstat"));
  }
  check.fileSize = static_cast<uint64_t>(check.source.st_size);
  // Too short to hold a header and the magic: no key can be judged on it.
  if (check.fileSize < kSmallestProtectedFile) return Damaged(check, check.fileSize);
  errno = 0;
  const int keyed = in.SetKeyDigest(key);
  if (keyed == -2) return CODEC_BAD_KEY;
  if (keyed != 1) return IoFailure(check, ErrnoError(path, "read"));
  if (in.SetBufferSize(kChunk) < 0) return CODEC_NO_MEMORY;
  uint8_t magic[sizeof kCodecMagic];
  const int64_t got = in.Read(magic, sizeof magic);
  if (got < 0) return IoFailure(check, ErrnoError(path, "read"));
  if (got != static_cast<int64_t>(sizeof magic)) return Damaged(check, check.fileSize);
  if (std::memcmp(magic, kCodecMagic, sizeof magic) != 0) return CODEC_BAD_KEY;
  return CODEC_OK;
}

// Reads the rest of the payload, inflating it to nowhere until the zlib stream ends, and
// hands every decrypted byte to out when given (bytes after the stream's end too: a
// re-keyed file keeps its payload whole).
int PassPayload(CEncryptedStream& in, const std::string& path, CEncryptedStream* out,
                const std::string& outPath, bool zlibOnly, PayloadCheck& check,
                ProgressProc progress, void* user) {
  SecretBuffer buffer(kChunk);
  if (!buffer) return CODEC_NO_MEMORY;
  uint8_t* const p = buffer.get();
  CountingSink sink;
  std::unique_ptr<vg::zengine::Inflater> inflater;
  uint64_t payloadDone = sizeof kCodecMagic;
  bool ended = false;
  for (;;) {
    const int64_t c = in.Read(p, kChunk);
    if (c < 0) return IoFailure(check, ErrnoError(path, "read"));
    if (c == 0) break;
    const size_t n = static_cast<size_t>(c);
    if (out && out->Write(p, n) != c)
      return IoFailure(check, {out->CloseError(), outPath, "write"});
    if (!ended) {
      if (!inflater) {
        inflater = vg::zengine::MakeInflater(p, n, zlibOnly, kInflateOut);
        if (!inflater) return CODEC_NO_MEMORY;
        // The first block's type sits in bits 1 and 2 of the byte after the zlib header.
        check.stored = n > 2 && ((p[2] >> 1) & 3) == 0;
      }
      const vg::zengine::Step step = inflater->Feed(p, n, sink);
      check.plainSize = sink.m_bytes;
      if (step == vg::zengine::Step::kBad || step == vg::zengine::Step::kSinkFailed) {
        return Damaged(check, kPayloadOffset + payloadDone + inflater->Consumed());
      }
      ended = step == vg::zengine::Step::kEnd;
    }
    payloadDone += n;
    if (progress && progress(check.fileSize, payloadDone, n, user) == 0) return CODEC_CANCELLED;
    if (ended && !out) break;  // what follows the stream is never read back
  }
  return ended ? CODEC_OK : Damaged(check, check.fileSize);
}

// Re-keying a payload runs the inflate check on a thread of its own beside the
// decryption and encryption (CBC keeps encryption serial), so that on two cores a
// re-key takes about as long as the slower of the two. Chunks go round a ring of a few
// buffers: the memory is fixed whatever the file's size. The encryption reads a chunk
// while the inflater reads it too; neither writes it.
class InflateBeside {
 public:
  explicit InflateBeside(bool zlibOnly) : m_zlibOnly(zlibOnly) {}
  ~InflateBeside() { Close(); }
  InflateBeside(const InflateBeside&) = delete;
  InflateBeside& operator=(const InflateBeside&) = delete;

  // False when the buffers or the thread cannot be had: the caller goes on alone.
  bool Start() {
    for (auto& slot : m_slots) {
      slot = std::make_unique<SecretBuffer>(kChunk);
      if (!*slot) return false;
    }
    try {
      m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }
  // The next buffer to fill, once the inflater is done with it.
  uint8_t* FreeSlot() {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [this] { return m_produced - m_consumed < kSlots; });
    return m_slots[m_produced % kSlots]->get();
  }
  // Hands the buffer just filled (n bytes from payload offset at) to the inflater.
  void Publish(size_t n, uint64_t at) {
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_sizes[m_produced % kSlots] = n;
      m_offsets[m_produced % kSlots] = at;
      ++m_produced;
    }
    m_changed.notify_all();
  }
  bool Failed() const { return m_failed.load(); }
  // Ends the input, waits for the inflater and gives its verdict.
  int Finish(PayloadCheck& check) {
    Close();
    check.plainSize = m_sink.m_bytes;
    check.stored = m_stored;
    if (m_result == CODEC_ZLIB_ERROR) return Damaged(check, m_damagedAt);
    if (m_result != CODEC_OK) return m_result;
    return m_ended ? CODEC_OK : Damaged(check, check.fileSize);
  }

 private:
  static constexpr size_t kSlots = 4;

  void Close() {
    if (!m_thread.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(m_lock);
      m_closed = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }
  void Run() {
    for (;;) {
      size_t k = 0;
      {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait(lock, [this] { return m_produced > m_consumed || m_closed; });
        if (m_produced == m_consumed) return;
        k = m_consumed % kSlots;
      }
      if (!m_failed && !m_ended) Feed(m_slots[k]->get(), m_sizes[k], m_offsets[k]);
      {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_consumed;
      }
      m_changed.notify_all();
    }
  }
  void Feed(const uint8_t* p, size_t n, uint64_t at) {
    if (!m_inflater) {
      m_inflater = vg::zengine::MakeInflater(p, n, m_zlibOnly, kInflateOut);
      if (!m_inflater) {
        m_result = CODEC_NO_MEMORY;
        m_failed = true;
        return;
      }
      m_stored = n > 2 && ((p[2] >> 1) & 3) == 0;
    }
    const vg::zengine::Step step = m_inflater->Feed(p, n, m_sink);
    if (step == vg::zengine::Step::kBad || step == vg::zengine::Step::kSinkFailed) {
      m_result = CODEC_ZLIB_ERROR;
      m_damagedAt = kPayloadOffset + at + m_inflater->Consumed();
      m_failed = true;
    }
    m_ended = step == vg::zengine::Step::kEnd;
  }

  const bool m_zlibOnly;
  std::unique_ptr<SecretBuffer> m_slots[kSlots];
  size_t m_sizes[kSlots] = {};
  uint64_t m_offsets[kSlots] = {};
  std::mutex m_lock;
  std::condition_variable m_changed;
  size_t m_produced = 0;
  size_t m_consumed = 0;
  bool m_closed = false;
  std::atomic<bool> m_failed{false};
  // The inflater's side: touched by its thread only until Close has joined it.
  std::unique_ptr<vg::zengine::Inflater> m_inflater;
  CountingSink m_sink;
  bool m_ended = false;
  bool m_stored = false;
  int m_result = CODEC_OK;
  uint64_t m_damagedAt = 0;
  std::thread m_thread;
};

// PassPayload for a re-key, with the inflater on its own thread when one can be had.
int CopyPayload(CEncryptedStream& in, const std::string& path, CEncryptedStream& out,
                const std::string& outPath, bool zlibOnly, PayloadCheck& check,
                ProgressProc progress, void* user) {
  InflateBeside beside(zlibOnly);
  if (check.fileSize <= kPayloadOffset + 2 * kChunk || !beside.Start()) {
    return PassPayload(in, path, &out, outPath, zlibOnly, check, progress, user);
  }
  uint64_t payloadDone = sizeof kCodecMagic;
  while (!beside.Failed()) {
    uint8_t* const p = beside.FreeSlot();
    const int64_t c = in.Read(p, kChunk);
    if (c < 0) return IoFailure(check, ErrnoError(path, "read"));
    if (c == 0) break;
    const size_t n = static_cast<size_t>(c);
    beside.Publish(n, payloadDone);
    if (out.Write(p, n) != c) return IoFailure(check, {out.CloseError(), outPath, "write"});
    payloadDone += n;
    if (progress && progress(check.fileSize, payloadDone, n, user) == 0) return CODEC_CANCELLED;
  }
  return beside.Finish(check);
}

// Removes the file created under name, and nothing someone may have put there since.
void RemoveCreated(int folderFd, const std::string& name, const struct stat& created) {
  struct stat st {};
  if (created.st_ino == 0 || ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      st.st_dev != created.st_dev || st.st_ino != created.st_ino) {
    return;
  }
  if (::unlinkat(folderFd, name.c_str(), 0) != 0) {
    // Left for the stale temporary file cleanup of a later run.
  }
}

int Rekey(CEncryptedStream& in, CEncryptedStream& out, const std::string& source,
          const std::string& temp, const uint8_t oldKey[32], const uint8_t newKey[32],
          bool zlibOnly, PayloadCheck& check, ProgressProc progress, void* user) {
  if (const int opened = OpenPayload(in, source, oldKey, check); opened != CODEC_OK) return opened;
  out.SetCreateNew(true);
  if (out.Open(temp, STREAM_WRITE, CHAIN_CBC) != 1) {
    return IoFailure(check, ErrnoError(temp, "create"));
  }
  if (::fstat(out.Descriptor(), &check.written) != 0) {
    return IoFailure(check, ErrnoError(temp, "fstat"));
  }
  // A fresh stream draws a fresh random IV; the header goes out with the key.
  if (out.SetKeyDigest(newKey) != 1) return IoFailure(check, {out.CloseError(), temp, "write"});
  if (out.SetBufferSize(kChunk) < 0) return CODEC_NO_MEMORY;
  if (out.Write(kCodecMagic, sizeof kCodecMagic) != static_cast<int64_t>(sizeof kCodecMagic)) {
    return IoFailure(check, {out.CloseError(), temp, "write"});
  }
  const int passed = CopyPayload(in, source, out, temp, zlibOnly, check, progress, user);
  if (passed != CODEC_OK) return passed;
  out.SetAttributesOnClose(check.source);
  out.Close();
  if (out.CloseError() != 0) return IoFailure(check, {out.CloseError(), temp, "close"});
  return CODEC_OK;
}

}  // namespace

PayloadCheck VerifyProtectedFile(const std::string& path, const uint8_t key[32], bool zlibOnly,
                                 ProgressProc progress, void* user) {
  return VerifyProtectedFileAt(AT_FDCWD, path, key, zlibOnly, progress, user);
}

PayloadCheck VerifyProtectedFileAt(int folderFd, const std::string& path, const uint8_t key[32],
                                   bool zlibOnly, ProgressProc progress, void* user) {
  PayloadCheck check;
  try {
    CEncryptedStream in(0);
    in.SetFolder(folderFd);
    check.result = OpenPayload(in, path, key, check);
    if (check.result == CODEC_OK) {
      check.result = PassPayload(in, path, nullptr, std::string(), zlibOnly, check, progress, user);
    }
  } catch (const std::bad_alloc&) {
    check.result = CODEC_NO_MEMORY;
  }
  return check;
}

PayloadCheck RekeyProtectedFile(const std::string& source, const std::string& temp,
                                const uint8_t oldKey[32], const uint8_t newKey[32], bool zlibOnly,
                                ProgressProc progress, void* user) {
  return RekeyProtectedFileAt(AT_FDCWD, source, temp, oldKey, newKey, zlibOnly, progress, user);
}

PayloadCheck RekeyProtectedFileAt(int folderFd, const std::string& source, const std::string& temp,
                                  const uint8_t oldKey[32], const uint8_t newKey[32], bool zlibOnly,
                                  ProgressProc progress, void* user) {
  PayloadCheck check;
  try {
    CEncryptedStream in(0);
    CEncryptedStream out(0);
    in.SetFolder(folderFd);
    out.SetFolder(folderFd);
    check.result = Rekey(in, out, source, temp, oldKey, newKey, zlibOnly, check, progress, user);
    if (check.result != CODEC_OK) {
      out.Close();
      RemoveCreated(folderFd, temp, check.written);
      check.written = {};
    }
  } catch (const std::bad_alloc&) {
    RemoveCreated(folderFd, temp, check.written);
    check.written = {};
    check.result = CODEC_NO_MEMORY;
  }
  return check;
}

bool KeyOpensProtectedFile(const std::string& path, const uint8_t key[32]) {
  try {
    CEncryptedStream in(0);
    PayloadCheck check;
    return OpenPayload(in, path, key, check) == CODEC_OK;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

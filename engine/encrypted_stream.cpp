#include "engine/encrypted_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "common/fd_io.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"
#include "engine/random_pool.h"

namespace {

// File I/O goes through the scratch block in pieces of about this size, so a small
// buffer (the codec's 1040 bytes) does not cost one system call per buffer.
constexpr size_t kIoChunk = 64 * 1024;
// Larger requests are refused like a failed allocation.
constexpr uint64_t kMaxBufferSize = 64ull * 1024 * 1024;
constexpr size_t kHeaderSize = 18;

size_t ScratchSizeFor(size_t bufferSize) {
  return ((kIoChunk + bufferSize - 1) / bufferSize) * bufferSize;
}

void FreeSecret(uint8_t*& p, size_t n) {
  if (p) {
    SecureZero(p, n);
    delete[] p;
    p = nullptr;
  }
}

}  // namespace

CEncryptedStream::CEncryptedStream() : CEncryptedStream(4096) {}

CEncryptedStream::CEncryptedStream(uint32_t bufferSize) {
  std::memset(m_key, '0', sizeof m_key);
  GenerateRandomBytes(m_iv, sizeof m_iv);
  SetBufferSize(bufferSize);
}

CEncryptedStream::~CEncryptedStream() {
  Close();
  SecureZero(m_key, sizeof m_key);
  FreeSecret(m_buffer, m_bufferSize);
  FreeSecret(m_scratch, m_scratchSize);
}

int CEncryptedStream::Open(const std::string& path, int kind, int chainMode) {
  if (m_kind != STREAM_CLOSED) return 0;
  if (kind != STREAM_READ && kind != STREAM_WRITE) return 0;
  // O_NONBLOCK keeps a FIFO from hanging the open; only regular files are accepted. A
  // file created exclusively is a new regular file and needs neither.
  const bool fresh = kind == STREAM_WRITE && m_createNew;
  const int flags = kind == STREAM_READ
                        ? O_RDONLY
                        : (O_WRONLY | O_CREAT | O_NOFOLLOW | (m_createNew ? O_EXCL : O_TRUNC));
  const int fd =
      ::openat(m_folderFd, path.c_str(), flags | O_CLOEXEC | (fresh ? 0 : O_NONBLOCK), 0600);
  if (fd < 0) return 0;
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else if (!fresh &&
             ::fcntl(fd, F_SETFL, flags & ~(O_CREAT | O_TRUNC | O_EXCL | O_NOFOLLOW)) != 0) {
    err = errno;
  }
  if (err != 0) {
    ::close(fd);  // refusing the file; a close error changes nothing here
    errno = err;  // for callers that report why
    return 0;
  }
  m_fd = fd;
  m_opened = st;
  m_path = path;
  m_kind = kind;
  m_chainMode = chainMode;
  m_position = 0;
  m_valid = 0;
  m_atEnd = false;
  m_writeError = 0;
  m_headerError = 0;
  m_staged = 0;
  m_ioPos = 0;
  m_ioFill = 0;
  m_fileEnded = false;
  return 1;
}

int CEncryptedStream::SetPassword(std::string_view passwordUtf8) {
  if (passwordUtf8.empty()) return 0;
  std::vector<uint8_t> units = Utf16LeBytes(passwordUtf8);
  uint8_t key[32];
  ComputeDigest(key, units.data(), units.size(), 32);
  const int result = SetKeyDigest(key);
  SecureZero(key, sizeof key);
  SecureZero(units.data(), units.size());
  return result;
}

int CEncryptedStream::SetKeyDigest(const uint8_t* key32) {
  if (key32 == nullptr) return -2;
  std::memcpy(m_key, key32, sizeof m_key);
  m_keySet = true;
  if (m_kind == STREAM_READ) return ReadHeader();
  if (m_kind == STREAM_WRITE) return WriteHeader();
  return 1;
}

int64_t CEncryptedStream::SetBufferSize(uint64_t n) {
  // Ciphertext waiting in the scratch block belongs to the file, whatever the new size.
  if (m_kind == STREAM_WRITE && m_staged > 0 && m_writeError == 0) FlushStaged();
  const size_t pending = m_kind == STREAM_READ && m_scratch ? m_ioFill - m_ioPos : 0;
  FreeSecret(m_buffer, m_bufferSize);
  m_bufferSize = 0;
  m_position = 0;
  m_valid = 0;
  if (n >= kMaxBufferSize) return -1;
  const size_t size = static_cast<size_t>((n / 16 + 1) * 16);
  size_t scratchSize = ScratchSizeFor(size);
  if (scratchSize < pending) scratchSize = pending;
  uint8_t* buffer = new (std::nothrow) uint8_t[size];
  uint8_t* scratch = new (std::nothrow) uint8_t[scratchSize];
  if (buffer == nullptr || scratch == nullptr) {
    delete[] buffer;
    delete[] scratch;
    // Bytes read ahead stay with the old scratch block for a later successful call.
    return -1;
  }
  if (pending > 0) std::memcpy(scratch, m_scratch + m_ioPos, pending);
  FreeSecret(m_scratch, m_scratchSize);
  m_buffer = buffer;
  m_bufferSize = size;
  m_scratch = scratch;
  m_scratchSize = scratchSize;
  m_ioPos = 0;
  m_ioFill = pending;
  return static_cast<int64_t>(size);
}

int CEncryptedStream::WriteHeader() {
  if (m_kind != STREAM_WRITE) return -1;
  if (!m_keySet) return -2;
  if (m_headerDone) return 0;
  uint8_t header[kHeaderSize];
  uint8_t md5[16];
  ComputeDigest(md5, m_key, sizeof m_key, 16);
  header[0] = md5[0] ^ m_iv[0];
  header[1] = md5[1] ^ m_iv[1];
  std::memcpy(header + 2, m_iv, sizeof m_iv);
  SecureZero(md5, sizeof md5);
  if (!WriteToFile(header, sizeof header)) {
    m_headerError = m_writeError;
    return -1;
  }
  m_cipher.MakeKey(m_key, m_iv, 32, 16);
  SecureZero(m_key, sizeof m_key);
  m_keySet = false;
  m_headerDone = true;
  return 1;
}

int CEncryptedStream::ReadHeader() {
  if (m_kind != STREAM_READ) return -1;
  if (!m_keySet) return -2;
  if (m_headerDone) return 0;
  uint8_t md5[16];
  ComputeDigest(md5, m_key, sizeof m_key, 16);
  uint8_t header[kHeaderSize];
  m_ioPos = m_ioFill = 0;
  m_fileEnded = false;
  ssize_t got = -1;
  if (::lseek(m_fd, 0, SEEK_SET) != 0 || (got = ReadFull(m_fd, header, sizeof header)) < 0) {
    m_headerError = errno;
    SecureZero(md5, sizeof md5);
    return -1;
  }
  if (got != static_cast<ssize_t>(sizeof header)) {
    SecureZero(md5, sizeof md5);
    return -1;  // shorter than a header
  }
  std::memcpy(m_iv, header + 2, sizeof m_iv);
  const bool match = (md5[0] ^ m_iv[0]) == header[0] && (md5[1] ^ m_iv[1]) == header[1];
  SecureZero(md5, sizeof md5);
  if (!match) return -2;
  m_cipher.MakeKey(m_key, m_iv, 32, 16);
  SecureZero(m_key, sizeof m_key);
  m_keySet = false;
  m_headerDone = true;
  return 1;
}

bool CEncryptedStream::WriteToFile(const uint8_t* p, size_t n) {
  if (WriteAll(m_fd, p, n)) return true;
  if (m_writeError == 0) m_writeError = errno;
  return false;
}

bool CEncryptedStream::FlushStaged() {
  const size_t n = m_staged;
  m_staged = 0;
  return WriteToFile(m_scratch, n);
}

bool CEncryptedStream::EmitBuffer() {
  if (m_staged + m_bufferSize > m_scratchSize && !FlushStaged()) return false;
  m_cipher.Encrypt(m_buffer, m_scratch + m_staged, m_bufferSize, m_chainMode);
  m_staged += m_bufferSize;
  m_position = 0;
  return m_staged < m_scratchSize || FlushStaged();
}

int64_t CEncryptedStream::Write(const void* src, uint64_t n) {
  if (m_buffer == nullptr || m_kind != STREAM_WRITE) return -1;
  if (!m_headerDone && WriteHeader() < 0) return -1;
  // After a failed write the chain has moved past bytes that never reached the file; any
  // further byte would land at the wrong place, so the stream stays failed.
  if (m_writeError != 0) return -1;
  if (n > static_cast<uint64_t>(INT64_MAX) || (src == nullptr && n > 0)) return -1;
  const auto* p = static_cast<const uint8_t*>(src);
  uint64_t left = n;
  while (left > 0) {
    size_t take = m_bufferSize - m_position;
    if (take > left) take = static_cast<size_t>(left);
    std::memcpy(m_buffer + m_position, p, take);
    m_position += take;
    p += take;
    left -= take;
    if (m_position == m_bufferSize && !EmitBuffer()) return -1;
  }
  return static_cast<int64_t>(n);
}

int CEncryptedStream::Refill() {
  size_t pending = m_ioFill - m_ioPos;
  if (pending < m_bufferSize && !m_fileEnded) {
    std::memmove(m_scratch, m_scratch + m_ioPos, pending);
    m_ioPos = 0;
    m_ioFill = pending;
    const ssize_t r = ReadFull(m_fd, m_scratch + pending, m_scratchSize - pending);
    if (r < 0) return -1;
    if (static_cast<size_t>(r) < m_scratchSize - pending) m_fileEnded = true;
    m_ioFill += static_cast<size_t>(r);
    pending = m_ioFill;
  }
  const size_t k = pending < m_bufferSize ? pending : m_bufferSize;
  if (k == 0) return 0;
  const size_t whole = k / 16 * 16;
  const size_t tail = k - whole;
  const uint8_t* raw = m_scratch + m_ioPos;
  if (whole > 0) m_cipher.Decrypt(raw, m_buffer, whole, m_chainMode);
  if (tail > 0) {
    std::memcpy(m_buffer + whole, raw + whole, tail);
    MaskWithIv(m_buffer + whole, tail);
  }
  m_ioPos += k;
  m_valid = k;
  m_position = 0;
  return 1;
}

int64_t CEncryptedStream::Read(void* dst, uint64_t n) {
  if (m_buffer == nullptr || m_kind != STREAM_READ) return -1;
  if (!m_headerDone && ReadHeader() < 0) return -1;
  if (dst == nullptr) return 0;
  if (n > static_cast<uint64_t>(INT64_MAX)) n = static_cast<uint64_t>(INT64_MAX);
  auto* out = static_cast<uint8_t*>(dst);
  uint64_t delivered = 0;
  while (delivered < n) {
    if (m_valid == 0 || m_position == m_bufferSize) {
      // Once a refill found nothing, the data has ended for good.
      if (m_atEnd) break;
      const int r = Refill();
      if (r < 0) return -1;
      if (r == 0) {
        m_atEnd = true;
        break;
      }
    }
    if (m_position >= m_valid) break;
    size_t take = m_valid - m_position;
    if (take > n - delivered) take = static_cast<size_t>(n - delivered);
    std::memcpy(out + delivered, m_buffer + m_position, take);
    m_position += take;
    delivered += take;
  }
  return static_cast<int64_t>(delivered);
}

void CEncryptedStream::MaskWithIv(uint8_t* p, size_t n) const {
  for (size_t i = 0; i < n; ++i) p[i] ^= m_iv[i % 16];
}

int CEncryptedStream::Close() {
  if (m_kind == STREAM_CLOSED) return 0;
  if (m_kind == STREAM_WRITE && m_writeError == 0 && m_buffer != nullptr) {
    const size_t whole = m_position / 16 * 16;
    const size_t tail = m_position - whole;
    // The staged ciphertext always leaves room for one more buffer.
    if (whole > 0) {
      m_cipher.Encrypt(m_buffer, m_scratch + m_staged, whole, m_chainMode);
      m_staged += whole;
    }
    if (tail > 0) {
      std::memcpy(m_scratch + m_staged, m_buffer + whole, tail);
      MaskWithIv(m_scratch + m_staged, tail);
      m_staged += tail;
    }
    m_position = 0;
    if (FlushStaged() && m_closeAttributes) {
      const SysError e = ApplyAttributes(m_fd, *m_closeAttributes, m_path, &m_opened);
      if (!e.ok() && m_writeError == 0) m_writeError = e.err;
    }
    if (m_writeError == 0 && m_syncOnClose && SyncDescriptor(m_fd) != 0) m_writeError = errno;
  }
  m_staged = 0;
  if (::close(m_fd) != 0 && m_kind == STREAM_WRITE && m_writeError == 0) m_writeError = errno;
  m_fd = -1;
  if (m_buffer) SecureZero(m_buffer, m_bufferSize);
  if (m_scratch) SecureZero(m_scratch, m_scratchSize);
  m_ioPos = m_ioFill = 0;
  m_position = 0;
  m_valid = 0;
  m_kind = STREAM_CLOSED;
  m_headerDone = false;
  m_closeAttributes.reset();
  return 1;
}

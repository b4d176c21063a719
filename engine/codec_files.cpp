#include "engine/codec_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>

#include "common/fd_io.h"
#include "common/safe_file.h"
#include "engine/digest.h"

namespace vg::codec {

namespace {

// Takes an advisory lock without ever waiting. Only a lock held by someone else fails
// (EBUSY, which reads better in a message than "try again"); a file system without
// flock support is accepted as it is.
bool LockNoWait(int fd, int kind) {
  for (;;) {
    if (::flock(fd, kind | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;
    errno = EBUSY;
    return false;
  }
}

}  // namespace

namespace {
std::atomic<int (*)(int, struct statvfs*)> g_freeSpaceProbe{::fstatvfs};
}  // namespace

void SetFreeSpaceProbeForTesting(int (*probe)(int fd, struct statvfs* out)) {
  g_freeSpaceProbe.store(probe ? probe : ::fstatvfs);
}

SecretBuffer::SecretBuffer(size_t n) : m_data(new (std::nothrow) uint8_t[n]), m_size(n) {}

SecretBuffer::~SecretBuffer() {
  if (m_data) SecureZero(m_data, m_size);
  delete[] m_data;
}

SourceFile::~SourceFile() {
  if (m_fd >= 0) ::close(m_fd);  // read-only: nothing can be lost on close
}

SysError SourceFile::Open(const std::string& path, struct stat& st, int folderFd) {
  m_path = path;
  m_fd = ::openat(folderFd, path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (m_fd < 0) return ErrnoError(path, "open");
  if (::fstat(m_fd, &st) != 0) return ErrnoError(path, "fstat");
  if (!S_ISREG(st.st_mode)) return {S_ISDIR(st.st_mode) ? EISDIR : EINVAL, path, "open"};
  if (::fcntl(m_fd, F_SETFL, O_RDONLY) != 0) return ErrnoError(path, "fcntl");
  if (!LockNoWait(m_fd, LOCK_EX)) return ErrnoError(path, "flock");
  m_length = static_cast<uint64_t>(st.st_size);
  m_ahead = std::make_unique<SecretBuffer>(kIoChunk);
  if (!*m_ahead) return {ENOMEM, path, "open"};
  return {};
}

int64_t SourceFile::Read(uint8_t* dst, size_t n) {
  size_t got = 0;
  while (got < n) {
    if (m_pos == m_fill) {
      if (m_ended) break;
      const ssize_t r = ReadSome(m_fd, m_ahead->get(), kIoChunk);
      if (r < 0) {
        m_error = ErrnoError(m_path, "read");
        return -1;
      }
      if (r == 0) {
        m_ended = true;
        break;
      }
      m_pos = 0;
      m_fill = static_cast<size_t>(r);
      m_read += m_fill;
      if (m_length > 0 && m_read >= m_length) m_ended = true;
    }
    const size_t take = std::min(m_fill - m_pos, n - got);
    std::memcpy(dst + got, m_ahead->get() + m_pos, take);
    m_pos += take;
    got += take;
  }
  return static_cast<int64_t>(got);
}

RestoredFile::~RestoredFile() {
  if (m_fd >= 0) ::close(m_fd);  // failure path: the file is removed below anyway
  if (!m_temp.empty() && !m_committed)
    ::unlinkat(m_direct ? m_folderFd : AT_FDCWD, m_temp.c_str(), 0);
}

SysError RestoredFile::Create() {
  m_buffer = std::make_unique<SecretBuffer>(kIoChunk);
  if (!*m_buffer) return {ENOMEM, m_target, "create"};
  if (m_direct) {
    m_fd = ::openat(m_folderFd, m_target.c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd >= 0) m_temp = m_target;
  } else {
    m_fd = CreateTempFile(m_target, m_temp);
  }
  if (m_fd < 0) return ErrnoError(m_target, "create");
  if (::fstat(m_fd, &m_created) != 0) return ErrnoError(m_target, "fstat");
  if (!LockNoWait(m_fd, LOCK_EX)) return ErrnoError(m_target, "flock");
  return {};
}

bool RestoredFile::LeavesRoom(size_t n) {
  m_written += n;
  if (m_written < m_nextSpaceCheck) return true;
  m_nextSpaceCheck = m_written + kSpaceCheckEvery;
  struct statvfs fs {};
  // A file system that cannot tell its free space has the write itself say when it is full.
  if (g_freeSpaceProbe.load()(m_fd, &fs) != 0 || fs.f_blocks == 0) return true;
  const uint64_t unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
  const uint64_t keep = static_cast<uint64_t>(fs.f_blocks) / 100 * kKeepFreePercent * unit;
  const uint64_t available = static_cast<uint64_t>(fs.f_bavail) * unit;
  if (available >= keep && available - keep >= n) return true;
  m_error = {ENOSPC, m_target, "write"};
  return false;
}

bool RestoredFile::Write(const uint8_t* p, size_t n) {
  // Whole buffers of inflated bytes go straight to the file.
  if (m_used == 0 && n >= kIoChunk) {
    if (!LeavesRoom(n)) return false;
    if (WriteAll(m_fd, p, n)) return true;
    m_error = ErrnoError(m_target, "write");
    return false;
  }
  while (n > 0) {
    const size_t take = std::min(kIoChunk - m_used, n);
    std::memcpy(m_buffer->get() + m_used, p, take);
    m_used += take;
    p += take;
    n -= take;
    if (m_used == kIoChunk && !Flush()) return false;
  }
  return true;
}

bool RestoredFile::Flush() {
  const size_t n = m_used;
  m_used = 0;
  if (!LeavesRoom(n)) return false;
  if (WriteAll(m_fd, m_buffer->get(), n)) return true;
  m_error = ErrnoError(m_target, "write");
  return false;
}

SysError RestoredFile::Commit(const struct stat& from) {
  if (!Flush()) return m_error;
  if (SysError e = ApplyAttributes(m_fd, from, m_target, &m_created); !e.ok()) return e;
  if (!m_direct && SyncDescriptor(m_fd) != 0) return ErrnoError(m_target, "fsync");
  const int fd = m_fd;
  m_fd = -1;
  if (::close(fd) != 0) return ErrnoError(m_target, "close");
  if (m_direct) {
    m_committed = true;
    return {};
  }
  if (RenameFile(m_temp.c_str(), m_target.c_str()) != 0) return ErrnoError(m_target, "rename");
  m_committed = true;
  SysError synced = SyncParentFolder(m_target);
  if (!synced.ok()) {
    // Without the folder synced the new name may not survive a crash: report the
    // failure and take the output back, so the caller keeps its protected file.
    ::unlink(m_target.c_str());
  }
  return synced;
}

}  // namespace vg::codec

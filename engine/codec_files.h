#pragma once
// The plain-file side of the file codec, internal to the engine: the plain file that
// protecting reads and the plain file that restoring writes. Both hold plain text in
// buffers that are wiped before they are freed. Failures come back as SysError with the
// file the caller named.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/sys_error.h"

namespace vg::codec {

// Plain-file reads and writes are gathered into pieces of this size: the codec's own
// buffers stay at the callers' 1040 bytes without one system call per buffer.
inline constexpr size_t kIoChunk = 64 * 1024;

// A work buffer that is wiped before it is freed (it holds plain text). Empty (false)
// when the allocation failed.
class SecretBuffer {
 public:
  explicit SecretBuffer(size_t n);
  ~SecretBuffer();
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;
  uint8_t* get() const { return m_data; }
  explicit operator bool() const { return m_data != nullptr; }

 private:
  uint8_t* m_data;
  size_t m_size;
};

// The plain file that Encode reads, with read-ahead.
class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;
  // Regular files only (a FIFO would block forever), never through a symbolic link,
  // locked against other writers (EBUSY when someone holds a lock). st receives the file
  // as opened.
  // A relative path names a file in folderFd.
  SysError Open(const std::string& path, struct stat& st, int folderFd = AT_FDCWD);
  uint64_t Length() const { return m_length; }
  // Fills n bytes unless the file ends first: the bytes read, or -1 with the reason in
  // LastError(). A file ends at the length it had when it was opened (no read is spent on
  // finding the end; one that grew meanwhile is found changed by the wipe's check of its
  // size and times); a file that said it was empty is read to its end.
  int64_t Read(uint8_t* dst, size_t n);
  const SysError& LastError() const { return m_error; }

 private:
  int m_fd = -1;
  std::string m_path;
  uint64_t m_length = 0;
  std::unique_ptr<SecretBuffer> m_ahead;
  size_t m_pos = 0;
  size_t m_fill = 0;
  uint64_t m_read = 0;
  bool m_ended = false;
  SysError m_error;
};

// A restore whose output outgrows the free space (a deflate bomb, or just a large file)
// fails with ENOSPC before the file system has less than this share of its size left
// (percent), so other programs are not starved while it grows. The free space is looked
// at each time the output grew by kSpaceCheckEvery bytes; small files cost nothing.
inline constexpr uint64_t kKeepFreePercent = 2;
inline constexpr uint64_t kSpaceCheckEvery = 8u << 20;
// Tests only: replaces fstatvfs for the free-space check; nullptr restores it.
void SetFreeSpaceProbeForTesting(int (*probe)(int fd, struct statvfs* out));

// The plain file that Decode writes: a temporary dot-name beside the destination,
// renamed over it only when complete and synced; removed on every other path.
// With direct set the target itself is the caller's fresh temporary name: it is created
// exclusively, and Commit neither syncs nor renames it (the caller does, for many files
// at once).
class RestoredFile {
 public:
  // With direct, a relative target names a file in folderFd (which the caller keeps open).
  RestoredFile(std::string target, bool direct, int folderFd = AT_FDCWD)
      : m_target(std::move(target)), m_direct(direct), m_folderFd(folderFd) {}
  ~RestoredFile();
  RestoredFile(const RestoredFile&) = delete;
  RestoredFile& operator=(const RestoredFile&) = delete;
  SysError Create();
  // The file as created.
  const struct stat& Created() const { return m_created; }
  // False with the reason in LastError().
  bool Write(const uint8_t* p, size_t n);
  const SysError& LastError() const { return m_error; }
  // Flush, take the attributes of from, fsync, close, rename over the target, sync the
  // folder, in this order: only then is the restored file certain to survive a crash.
  SysError Commit(const struct stat& from);

 private:
  bool Flush();
  // False (ENOSPC in LastError) when n more bytes would eat into the space kept free.
  bool LeavesRoom(size_t n);

  std::string m_target;
  std::string m_temp;
  bool m_direct;
  int m_folderFd;
  int m_fd = -1;
  bool m_committed = false;
  struct stat m_created {};
  std::unique_ptr<SecretBuffer> m_buffer;
  size_t m_used = 0;
  uint64_t m_written = 0;
  uint64_t m_nextSpaceCheck = kSpaceCheckEvery;
  SysError m_error;
};

}  // namespace vg::codec

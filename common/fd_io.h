#pragma once
// Reads and writes on file descriptors that survive signals: every call is repeated on
// EINTR, and short transfers are continued until done or the file ends. Failures come
// back as -1 or false with errno set, for the caller to turn into a SysError.
//
// The calls that make a write durable (write, pwrite, fsync, rename) go through one table,
// so that a test can watch their order or make one of them fail the way a full disk would.
#include <sys/types.h>

#include <cstddef>

// Reads until n bytes arrived or the file ended: the bytes read, or -1 with errno.
[[nodiscard]] ssize_t ReadFull(int fd, void* p, size_t n);
// The same at a file offset, leaving the file position alone.
[[nodiscard]] ssize_t PreadFull(int fd, void* p, size_t n, off_t offset);
// Writes all n bytes at a file offset, leaving the file position alone; false with errno
// (through the table below).
[[nodiscard]] bool PwriteAll(int fd, const void* p, size_t n, off_t offset);
// One read(2), repeated only on EINTR: for streams where a short read is an answer (a
// terminal line, the kernel's random device).
[[nodiscard]] ssize_t ReadSome(int fd, void* p, size_t n);
// Writes all n bytes; false with errno on failure (EIO when the file takes nothing).
[[nodiscard]] bool WriteAll(int fd, const void* p, size_t n);
// fsync(2) through the table below; 0 or -1 with errno.
[[nodiscard]] int SyncDescriptor(int fd);
// rename(2) through the table below; 0 or -1 with errno.
[[nodiscard]] int RenameFile(const char* from, const char* to);

// The system calls behind WriteAll, SyncDescriptor, RenameFile and PwriteAll.
struct DurableWriteCalls {
  ssize_t (*write)(int fd, const void* p, size_t n);
  int (*fsync)(int fd);
  int (*rename)(const char* from, const char* to);
  ssize_t (*pwrite)(int fd, const void* p, size_t n, off_t offset);
};
// Tests only: calls replaces the real system calls until it is given nullptr again.
// Not for use while other threads write.
void SetDurableWriteCallsForTesting(const DurableWriteCalls* calls);

#include "common/fd_io.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace {

const DurableWriteCalls kSystemCalls = {::write, ::fsync, ::rename, ::pwrite};
std::atomic<const DurableWriteCalls*> g_calls{&kSystemCalls};

const DurableWriteCalls& Calls() {
  return *g_calls.load(std::memory_order_acquire);
}

}  // namespace

void SetDurableWriteCallsForTesting(const DurableWriteCalls* calls) {
  g_calls.store(calls ? calls : &kSystemCalls, std::memory_order_release);
}

ssize_t ReadFull(int fd, void* p, size_t n) {
  auto* at = static_cast<uint8_t*>(p);
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, at + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

ssize_t PreadFull(int fd, void* p, size_t n, off_t offset) {
  auto* at = static_cast<uint8_t*>(p);
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, at + got, n - got, offset + static_cast<off_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

bool PwriteAll(int fd, const void* p, size_t n, off_t offset) {
  const auto* at = static_cast<const uint8_t*>(p);
  const DurableWriteCalls& calls = Calls();
  size_t done = 0;
  while (done < n) {
    const ssize_t w = calls.pwrite(fd, at + done, n - done, offset + static_cast<off_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(w);
  }
  return true;
}

ssize_t ReadSome(int fd, void* p, size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, p, n);
    if (r >= 0 || errno != EINTR) return r;
  }
}

bool WriteAll(int fd, const void* p, size_t n) {
  const auto* at = static_cast<const uint8_t*>(p);
  const DurableWriteCalls& calls = Calls();
  while (n > 0) {
    const ssize_t w = calls.write(fd, at, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      return false;
    }
    at += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

int SyncDescriptor(int fd) {
  return Calls().fsync(fd);
}

int RenameFile(const char* from, const char* to) {
  return Calls().rename(from, to);
}

#pragma once
// Watches the system calls that make a write durable (write, pwrite, fsync, rename) through the
// table of common/fd_io.h, and can make one kind of them fail the way a full or broken
// disk would. One log at a time; the real calls return when it goes out of scope.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/fd_io.h"

class DurableCallLog {
 public:
  // failStep: "write", "pwrite", "fsync file", "fsync folder" or "rename" fails with failErr;
  // empty: nothing fails.
  explicit DurableCallLog(std::string failStep = "", int failErr = EIO) {
    s_log = this;
    m_failStep = std::move(failStep);
    m_failErr = failErr;
    SetDurableWriteCallsForTesting(&kCalls);
  }
  ~DurableCallLog() {
    SetDurableWriteCallsForTesting(nullptr);
    s_log = nullptr;
  }
  DurableCallLog(const DurableCallLog&) = delete;
  DurableCallLog& operator=(const DurableCallLog&) = delete;

  // The steps in the order they were called, runs of one kind folded into one step:
  // {"write", "fsync file", "rename", "fsync folder"} for a crash-safe write.
  std::vector<std::string> Steps() const {
    std::vector<std::string> folded;
    for (const std::string& s : m_steps) {
      if (folded.empty() || folded.back() != s) folded.push_back(s);
    }
    return folded;
  }
  // The names given to rename, from and to, in call order.
  const std::vector<std::pair<std::string, std::string>>& Renames() const { return m_renames; }

 private:
  bool Fails(const std::string& step) {
    m_steps.push_back(step);
    if (step != m_failStep) return false;
    errno = m_failErr;
    return true;
  }
  static ssize_t Write(int fd, const void* p, size_t n) {
    return s_log->Fails("write") ? -1 : ::write(fd, p, n);
  }
  static ssize_t Pwrite(int fd, const void* p, size_t n, off_t offset) {
    return s_log->Fails("pwrite") ? -1 : ::pwrite(fd, p, n, offset);
  }
  static int Fsync(int fd) {
    struct stat st {};
    const bool folder = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    return s_log->Fails(folder ? "fsync folder" : "fsync file") ? -1 : ::fsync(fd);
  }
  static int Rename(const char* from, const char* to) {
    s_log->m_renames.emplace_back(from, to);
    return s_log->Fails("rename") ? -1 : ::rename(from, to);
  }

  static constexpr DurableWriteCalls kCalls = {Write, Fsync, Rename, Pwrite};
  static inline DurableCallLog* s_log = nullptr;
  std::string m_failStep;
  int m_failErr = EIO;
  std::vector<std::string> m_steps;
  std::vector<std::pair<std::string, std::string>> m_renames;
};

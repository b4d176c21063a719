#include "common/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "common/paths.h"

std::string SysError::Describe(std::string_view what) const {
  std::string s(what);
  if (!path.empty()) s += " \"" + path + "\"";
  if (err != 0) s += ": " + std::string(std::strerror(err));
  return s;
}

bool IsTempName(std::string_view nameOrPath) {
  const size_t slash = nameOrPath.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? nameOrPath : nameOrPath.substr(slash + 1);
  return name.substr(0, kTempPrefix.size()) == kTempPrefix;
}

std::string TempPathFor(std::string_view target) {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t salt = std::random_device{}();
  const std::string folder = ParentFolder(target);
  const std::string name = LastPathComponent(target);
  // The pid lets a later run tell a live writer's file from an abandoned one.
  char tag[64];
  std::snprintf(
      tag, sizeof tag, ".%d-%llx", static_cast<int>(::getpid()),
      static_cast<unsigned long long>((salt ^ (counter++ * 0x9E3779B97F4A7C15ull)) & 0xFFFFFFull));
  // Keep the whole name within NAME_MAX.
  std::string shortName = name.substr(0, 180);
  return folder + std::string(kTempPrefix) + shortName + tag;
}

SysError SyncFd(int fd, const std::string& path) {
  if (::fsync(fd) != 0) return {errno, path};
  return {};
}

SysError SyncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {errno, path};
  SysError e = SyncFd(fd, path);
  if (::close(fd) != 0 && e.ok()) e = {errno, path};
  return e;
}

SysError SyncParentFolder(const std::string& path) {
  std::string folder = ParentFolder(path);
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {errno, folder};
  SysError e;
  // Some file systems refuse fsync on folders; that is not a failure of the write.
  if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) e = {errno, folder};
  ::close(fd);
  return e;
}

SysError CommitTempFile(const std::string& temp, const std::string& target) {
  SysError e = SyncPath(temp);
  if (e.ok() && ::rename(temp.c_str(), target.c_str()) != 0) e = {errno, target};
  if (!e.ok()) {
    ::unlink(temp.c_str());
    return e;
  }
  return SyncParentFolder(target);
}

SysError WriteFileAtomically(const std::string& target, const std::vector<uint8_t>& bytes) {
  const std::string temp = TempPathFor(target);
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return {errno, target};
  size_t done = 0;
  SysError e;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      e = {errno, target};
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (e.ok()) e = SyncFd(fd, target);
  if (::close(fd) != 0 && e.ok()) e = {errno, target};
  if (!e.ok()) {
    ::unlink(temp.c_str());
    return e;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    e = {errno, target};
    ::unlink(temp.c_str());
    return e;
  }
  return SyncParentFolder(target);
}

SysError ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {errno, path};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    return {err, path};
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return {EFBIG, path};
  }
  out.resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      out.clear();
      return {err, path};
    }
    if (n == 0) break;  // shrank while reading
    done += static_cast<size_t>(n);
  }
  out.resize(done);
  ::close(fd);
  return {};
}

int RemoveStaleTempFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  while (const dirent* ent = ::readdir(dir)) {
    const std::string_view name = ent->d_name;
    if (!IsTempName(name)) continue;
    // ".vgtmp.<name>.<pid>-<hex>": only files of processes that no longer run are stale.
    const size_t dot = name.rfind('.');
    const size_t dash = name.rfind('-');
    if (dot == std::string_view::npos || dash == std::string_view::npos || dash < dot) continue;
    const int pid = std::atoi(std::string(name.substr(dot + 1, dash - dot - 1)).c_str());
    if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM)) continue;
    const std::string full = JoinPath(folder, name);
    struct stat st {};
    if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(full.c_str()) == 0) {
      ++removed;
    }
  }
  ::closedir(dir);
  return removed;
}

#include "common/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>

#include "common/fd_io.h"
#include "common/paths.h"

bool IsTempName(std::string_view nameOrPath) {
  const size_t slash = nameOrPath.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? nameOrPath : nameOrPath.substr(slash + 1);
  return name.substr(0, kTempPrefix.size()) == kTempPrefix;
}

namespace {

std::atomic<uint64_t (*)()> g_tempRandom{nullptr};

// Fills v from the kernel; false when it gave too little.
bool KernelRandom(uint8_t* v, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::getrandom(v + got, n - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  if (got == n) return true;
  // getrandom is missing only on kernels older than 3.17; /dev/urandom is the same pool.
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool read = ReadFull(fd, v, n);
  if (::close(fd) != 0) {
    // Read-only: nothing was written through it.
  }
  return read;
}

// The random parts of temporary names, drawn from the kernel a few dozen at a time: a
// run names two files per file it works on. The pool is dropped in a forked child, so
// that parent and child never pick the same names.
struct NamePool {
  std::mutex lock;
  uint64_t values[32] = {};
  size_t left = 0;
  int pid = 0;  // the process the values and the id are for
};
NamePool g_names;

void ForgetNamesInChild() {
  g_names.left = 0;
  g_names.pid = 0;
}

// This process's id and a fresh random value.
void NextNameParts(int& pid, uint64_t& random) {
  static const bool registered = ::pthread_atfork(nullptr, nullptr, ForgetNamesInChild) == 0;
  std::lock_guard g(g_names.lock);
  if (g_names.pid == 0 || !registered) g_names.pid = static_cast<int>(::getpid());
  pid = g_names.pid;
  if (g_names.left == 0) {
    // A short draw still gives usable names: they are created exclusively, a planted
    // one is refused and another is tried.
    if (!KernelRandom(reinterpret_cast<uint8_t*>(g_names.values), sizeof g_names.values)) {
      g_names.values[0] ^= static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull;
    }
    g_names.left = std::size(g_names.values);
  }
  random = g_names.values[--g_names.left];
  g_names.values[g_names.left] = 0;
}

}  // namespace

void SetTempNameRandomForTesting(uint64_t (*source)()) {
  g_tempRandom.store(source);
}

std::string TempPathFor(std::string_view target, TempKind kind) {
  const std::string folder = ParentFolder(target);
  const std::string name = LastPathComponent(target);
  int pid = 0;
  uint64_t random = 0;
  NextNameParts(pid, random);
  if (uint64_t(*source)() = g_tempRandom.load()) random = source();
  // The pid lets a later run tell a live writer's file from an abandoned one; the random
  // part keeps anybody from knowing the next name in advance.
  char tag[64];
  std::snprintf(tag, sizeof tag, ".%d-%016llx%s", pid, static_cast<unsigned long long>(random),
                kind == TempKind::Wipe ? "w" : "");
  // Keep the whole name within NAME_MAX.
  std::string shortName = name.substr(0, 180);
  return folder + std::string(kTempPrefix) + shortName + tag;
}

TempKind TempKindOf(std::string_view nameOrPath) {
  return IsTempName(nameOrPath) && !nameOrPath.empty() && nameOrPath.back() == 'w'
             ? TempKind::Wipe
             : TempKind::Write;
}

int CreateTempFile(std::string_view target, std::string& temp) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp = TempPathFor(target);
    const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  const int err = errno;
  temp.clear();
  errno = err;
  return -1;
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.dev = static_cast<uint64_t>(st.st_dev);
  id.ino = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<int64_t>(st.st_size);
  id.mtimeSec = st.st_mtim.tv_sec;
  id.mtimeNsec = st.st_mtim.tv_nsec;
  id.ctimeSec = st.st_ctim.tv_sec;
  id.ctimeNsec = st.st_ctim.tv_nsec;
  return id;
}

SysError ApplyAttributes(int fd, const struct stat& from, const std::string& path,
                         const struct stat* current) {
  // Root working on someone else's file hands the result back to its owner; fchown
  // comes first because it clears set-id bits, which are not kept anyway.
  static const bool root = ::geteuid() == 0;
  if (root) {
    struct stat now {};
    if (current) {
      now = *current;
    } else if (::fstat(fd, &now) != 0) {
      return ErrnoError(path, "fstat");
    }
    if ((now.st_uid != from.st_uid || now.st_gid != from.st_gid) &&
        ::fchown(fd, from.st_uid, from.st_gid) != 0) {
      return ErrnoError(path, "fchown");
    }
  }
  if (::fchmod(fd, from.st_mode & 0777) != 0) return ErrnoError(path, "fchmod");
  const struct timespec times[2] = {from.st_atim, from.st_mtim};
  if (::futimens(fd, times) != 0) return ErrnoError(path, "futimens");
  return {};
}

bool IsOwnPrivateFile(const struct stat& st) {
  return st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int RenameNoReplace(const std::string& from, const std::string& to) {
  return RenameNoReplaceAt(AT_FDCWD, from, to);
}

int RenameNoReplaceAt(int folder, const std::string& from, const std::string& to) {
  if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // A file system without the flag: the name is random and fresh, so plain rename.
  return ::renameat(folder, from.c_str(), folder, to.c_str());
}

SysError SyncFd(int fd, const std::string& path) {
  if (SyncDescriptor(fd) != 0) return ErrnoError(path, "fsync");
  return {};
}

SysError SyncPath(const std::string& path) {
  // Whatever someone may have put under the name: no link followed, no FIFO waited on.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return ErrnoError(path, "open");
  SysError e = SyncFd(fd, path);
  if (::close(fd) != 0 && e.ok()) e = ErrnoError(path, "close");
  return e;
}

SysError SyncParentFolder(const std::string& path) {
  std::string folder = ParentFolder(path);
  if (folder.empty()) folder.push_back('.');
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoError(folder, "open");
  SysError e;
  // Some file systems refuse fsync on folders; that is not a failure of the write.
  if (SyncDescriptor(fd) != 0 && errno != EINVAL && errno != EROFS) e = ErrnoError(folder, "fsync");
  ::close(fd);  // read-only
  return e;
}

namespace {

// The last step of a crash-safe write, after target took the new file.
SysError SyncReplacedFolder(const std::string& target) {
  SysError e = SyncParentFolder(target);
  if (!e.ok()) e = {e.err, target, "fsync folder", true};
  return e;
}

}  // namespace

SysError CommitTempFile(const std::string& temp, const std::string& target) {
  SysError e = SyncPath(temp);
  if (e.ok() && RenameFile(temp.c_str(), target.c_str()) != 0) e = ErrnoError(target, "rename");
  if (!e.ok()) {
    ::unlink(temp.c_str());
    return e;
  }
  return SyncReplacedFolder(target);
}

SysError WriteFileAtomically(const std::string& target, const std::vector<uint8_t>& bytes) {
  std::string temp;
  const int fd = CreateTempFile(target, temp);
  if (fd < 0) return ErrnoError(target, "create");
  SysError e;
  if (!WriteAll(fd, bytes.data(), bytes.size())) e = ErrnoError(target, "write");
  if (e.ok()) e = SyncFd(fd, target);
  if (::close(fd) != 0 && e.ok()) e = ErrnoError(target, "close");
  if (e.ok() && RenameFile(temp.c_str(), target.c_str()) != 0) e = ErrnoError(target, "rename");
  if (!e.ok()) {
    ::unlink(temp.c_str());
    return e;
  }
  return SyncReplacedFolder(target);
}

SysError ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return ErrnoError(path, "open");
  struct stat st {};
  SysError e;
  if (::fstat(fd, &st) != 0) {
    e = ErrnoError(path, "fstat");
  } else if (!S_ISREG(st.st_mode)) {
    e = {S_ISDIR(st.st_mode) ? EISDIR : EINVAL, path, "open"};
  } else if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    e = {EFBIG, path, "open"};
  } else {
    out.resize(static_cast<size_t>(st.st_size));
    // A file that shrank while being read gives what it still holds.
    const ssize_t n = ReadFull(fd, out.data(), out.size());
    if (n < 0) {
      e = ErrnoError(path, "read");
      out.clear();
    } else {
      out.resize(static_cast<size_t>(n));
    }
  }
  ::close(fd);  // read-only
  return e;
}

namespace {

// Whether a temporary name was left by a process that no longer runs:
// ".vgtmp.<name>.<pid>-<hex>". Files of live writers are theirs.
bool IsStaleTempName(std::string_view name) {
  if (!IsTempName(name)) return false;
  const size_t dot = name.rfind('.');
  const size_t dash = name.rfind('-');
  if (dot == std::string_view::npos || dash == std::string_view::npos || dash < dot) return false;
  const int pid = std::atoi(std::string(name.substr(dot + 1, dash - dot - 1)).c_str());
  return !(pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM));
}

// The stale temporary files in folderFd (read through a descriptor of its own).
std::vector<std::string> StaleTempNames(int folderFd) {
  std::vector<std::string> names;
  const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return names;
  DIR* dir = ::fdopendir(listFd);
  if (!dir) {
    ::close(listFd);  // read-only
    return names;
  }
  while (const dirent* ent = ::readdir(dir)) {
    if (IsStaleTempName(ent->d_name)) names.emplace_back(ent->d_name);
  }
  ::closedir(dir);  // read-only
  return names;
}

}  // namespace

int RemoveStaleTempFilesAt(int folderFd, void (*wipe)(int folderFd, const std::string& name)) {
  int removed = 0;
  for (const std::string& name : StaleTempNames(folderFd)) {
    struct stat st {};
    if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    // A plain file moved aside by a killed wipe still holds plaintext: wipe it, but only
    // our own single-named file (a planted hard link must not make us overwrite another).
    if (wipe && TempKindOf(name) == TempKind::Wipe && st.st_uid == ::geteuid() &&
        st.st_nlink == 1) {
      wipe(folderFd, name);
      if (::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) ++removed;
      continue;
    }
    if (::unlinkat(folderFd, name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

int RemoveStaleTempFiles(const std::string& folder, void (*wipe)(const std::string& path)) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;
  int removed = 0;
  for (const std::string& name : StaleTempNames(fd)) {
    const std::string full = JoinPath(folder, name);
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (wipe && TempKindOf(name) == TempKind::Wipe && st.st_uid == ::geteuid() &&
        st.st_nlink == 1) {
      wipe(full);
      if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) ++removed;
      continue;
    }
    if (::unlinkat(fd, name.c_str(), 0) == 0) ++removed;
  }
  ::close(fd);  // read-only
  return removed;
}

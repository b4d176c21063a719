#include "guard/edit_place.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/paths.h"

namespace {

constexpr long kTmpfsMagic = 0x01021994;
constexpr long kRamfsMagic = 0x858458f6;

// mkdir at 0700 unless it exists; then the folder must be ours, private and real.
SysError EnsurePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return ErrnoError(path, "mkdir");
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return ErrnoError(path, "lstat");
  if (!S_ISDIR(st.st_mode)) return {ENOTDIR, path, "lstat"};
  if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) return {EPERM, path, "lstat"};
  return {};
}

using DirPtr = std::unique_ptr<DIR, int (*)(DIR*)>;

bool IsDigits(const char* s) {
  if (!*s) return false;
  for (; *s; ++s)
    if (*s < '0' || *s > '9') return false;
  return true;
}

// True when one of the descriptors in fdFolder (a /proc/PID/fd) points into folder.
bool DescriptorsPointInto(const std::string& fdFolder, const std::string& folder) {
  DirPtr fds(::opendir(fdFolder.c_str()), ::closedir);
  if (!fds) return false;
  while (const dirent* fd = ::readdir(fds.get())) {
    if (!IsDigits(fd->d_name)) continue;
    char target[4096];
    const ssize_t n = ::readlink((fdFolder + "/" + fd->d_name).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string link(target, static_cast<size_t>(n));
    if (link.compare(0, folder.size(), folder) == 0) return true;
  }
  return false;
}

// The state letter and process group of /proc/PID/stat ("pid (comm) S ppid pgrp ...",
// comm may hold spaces and parentheses); false when the process is gone.
bool StateAndGroup(const char* pid, char& state, long& group) {
  char buffer[512];
  std::FILE* f = std::fopen((std::string("/proc/") + pid + "/stat").c_str(), "re");
  if (!f) return false;
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
  std::fclose(f);  // read-only
  buffer[n] = '\0';
  const char* end = std::strrchr(buffer, ')');
  long parent = 0;
  return end && std::sscanf(end + 1, " %c %ld %ld", &state, &parent, &group) == 3;
}

}  // namespace

EditPlace FindEditPlace() {
  EditPlace place;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || runtime[0] != '/') {
    place.reason = "XDG_RUNTIME_DIR is not set, so there is no private memory-backed folder";
    place.root = ProgramFolder() + "runtime/";
    return place;
  }
  place.root = WithTrailingSlash(runtime) + "vellumguard/";
  struct stat st {};
  if (::stat(runtime, &st) != 0 || !S_ISDIR(st.st_mode)) {
    place.reason = std::string("XDG_RUNTIME_DIR \"") + runtime + "\" is not a folder";
    place.kind = EditPlaceKind::Disk;
  } else if (IsMemoryFileSystem(runtime)) {
    place.kind = EditPlaceKind::Memory;
  } else {
    place.kind = EditPlaceKind::Disk;
    place.reason = std::string("\"") + runtime + "\" is not in memory (not a tmpfs)";
  }
  return place;
}

bool IsMemoryFileSystem(const std::string& path) {
  struct statfs fs {};
  if (::statfs(path.c_str(), &fs) != 0) return false;
  return static_cast<long>(fs.f_type) == kTmpfsMagic || static_cast<long>(fs.f_type) == kRamfsMagic;
}

SysError PrepareEditRoot(const std::string& root) {
  const std::string top = WithoutTrailingSlash(root);
  // The program folder may not exist yet when it is the fallback's parent.
  if (::mkdir(WithoutTrailingSlash(ParentFolder(top)).c_str(), 0700) != 0 && errno != EEXIST) {
    return ErrnoError(ParentFolder(top), "mkdir");
  }
  if (SysError e = EnsurePrivateFolder(top); !e.ok()) return e;
  return EnsurePrivateFolder(WithoutTrailingSlash(EditSessionsFolder(root)));
}

std::string EditSessionsFolder(const std::string& root) {
  return WithTrailingSlash(root) + "edit/";
}

bool FolderHeldOpen(const std::string& folder) {
  const std::string prefix = WithTrailingSlash(folder);
  const std::string self = std::to_string(::getpid());
  DirPtr proc(::opendir("/proc"), ::closedir);
  if (!proc) return false;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (!IsDigits(entry->d_name) || self == entry->d_name) continue;
    if (DescriptorsPointInto(std::string("/proc/") + entry->d_name + "/fd", prefix)) {
      return true;
    }
  }
  return false;
}

bool ProcessGroupAlive(pid_t group) {
  if (group <= 0) return false;
  if (::kill(-group, 0) != 0 && errno == ESRCH) return false;
  // Members that ended but were not reaped (their parent is gone) still count for kill.
  DirPtr proc(::opendir("/proc"), ::closedir);
  if (!proc) return true;
  while (const dirent* entry = ::readdir(proc.get())) {
    char state = 0;
    long of = 0;
    if (IsDigits(entry->d_name) && StateAndGroup(entry->d_name, state, of) && of == group &&
        state != 'Z' && state != 'X') {
      return true;
    }
  }
  return false;
}

bool HasEditorLockFile(const std::string& folder, const std::string& name) {
  const std::string names[] = {".~lock." + name + "#", "." + name + ".swp", "." + name + ".swo",
                               ".#" + name};
  for (const std::string& lock : names) {
    if (PathExists(JoinPath(folder, lock))) return true;
  }
  return false;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);  // read-only: nothing to lose
  return names;
}

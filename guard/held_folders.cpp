#include "guard/held_folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/paths.h"

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

void CloseFolder(int fd) {
  if (fd >= 0 && ::close(fd) != 0) {
    // A read-only descriptor of a folder: nothing was written through it.
  }
}

// Opens name in parentFd without following a link; -1 with errno (ESTALE when it is not
// the folder recorded as dev, ino).
int OpenCheckedChild(int parentFd, const std::string& name, uint64_t dev, uint64_t ino) {
  const int fd = ::openat(parentFd, name.c_str(), kFolderFlags | O_NOFOLLOW);
  if (fd < 0) {
    // A link in its place (ELOOP), or a file (ENOTDIR): the folder was swapped.
    if (errno == ELOOP || errno == ENOTDIR) errno = ESTALE;
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_dev != dev || st.st_ino != ino) {
    const int err = errno;
    CloseFolder(fd);
    errno = st.st_ino != 0 ? ESTALE : err;
    return -1;
  }
  return fd;
}

}  // namespace

CHeldFolders::~CHeldFolders() {
  for (Folder& f : m_folders) CloseFolder(f.fd);
}

size_t CHeldFolders::Add(Folder folder) {
  m_byPath[folder.path] = m_folders.size();
  m_folders.push_back(std::move(folder));
  return m_folders.size() - 1;
}

size_t CHeldFolders::OpenTop(const std::string& folder) {
  const std::string path = folder.empty() ? std::string("./") : WithTrailingSlash(folder);
  std::lock_guard g(m_lock);
  if (const auto it = m_byPath.find(path); it != m_byPath.end()) return it->second;
  Folder f;
  f.name = path;
  f.path = path;
  const int fd = ::open(path.c_str(), kFolderFlags);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    f.error = errno;
    CloseFolder(fd);
    return Add(std::move(f));
  }
  f.dev = static_cast<uint64_t>(st.st_dev);
  f.ino = static_cast<uint64_t>(st.st_ino);
  f.fd = fd;
  return Add(std::move(f));
}

size_t CHeldFolders::OpenChild(size_t parent, const std::string& name) {
  std::lock_guard g(m_lock);
  const std::string path = m_folders[parent].path + name + "/";
  if (const auto it = m_byPath.find(path); it != m_byPath.end()) return it->second;
  Folder f;
  f.parent = parent;
  f.name = name;
  f.path = path;
  const int parentFd = AcquireLocked(parent);
  struct stat st {};
  if (parentFd < 0) {
    f.error = errno;
    return Add(std::move(f));
  }
  const int fd = ::openat(parentFd, name.c_str(), kFolderFlags | O_NOFOLLOW);
  int err = errno;
  const bool ok = fd >= 0 && ::fstat(fd, &st) == 0;
  if (fd >= 0 && !ok) err = errno;
  CloseFolder(fd);
  ReleaseLocked(parent);
  if (!ok) {
    // A link (or a file) where the listing saw a folder: it was swapped meanwhile.
    f.error = err == ELOOP || err == ENOTDIR ? ESTALE : err;
    return Add(std::move(f));
  }
  f.dev = static_cast<uint64_t>(st.st_dev);
  f.ino = static_cast<uint64_t>(st.st_ino);
  return Add(std::move(f));
}

size_t CHeldFolders::Resolve(const std::string& folder) {
  const std::string path = folder.empty() ? std::string("./") : WithTrailingSlash(folder);
  {
    std::lock_guard g(m_lock);
    if (const auto it = m_byPath.find(path); it != m_byPath.end()) return it->second;
  }
  // The nearest known ancestor, then one name at a time below it.
  size_t index = kNone;
  size_t from = 0;
  for (size_t slash = path.size() - 1; slash != std::string::npos && slash > 0;) {
    slash = path.rfind('/', slash - 1);
    if (slash == std::string::npos) break;
    std::lock_guard g(m_lock);
    if (const auto it = m_byPath.find(path.substr(0, slash + 1)); it != m_byPath.end()) {
      index = it->second;
      from = slash + 1;
      break;
    }
  }
  if (index == kNone) return OpenTop(path);
  while (from < path.size()) {
    const size_t end = path.find('/', from);
    const std::string name = path.substr(from, end - from);
    from = end + 1;
    // "." and ".." are names the kernel resolves, not folders of the tree: a top.
    if (name.empty() || name == "." || name == "..") return OpenTop(path);
    index = OpenChild(index, name);
  }
  return index;
}

int CHeldFolders::Acquire(size_t index) {
  std::lock_guard g(m_lock);
  return AcquireLocked(index);
}

int CHeldFolders::AcquireLocked(size_t index) {
  if (m_folders[index].fd >= 0 && m_folders[index].error == 0) {
    ++m_folders[index].holders;
    return m_folders[index].fd;
  }
  // Opened again from its nearest held ancestor, one name at a time, each folder on the
  // way checked; only two descriptors are open at once, whatever the depth.
  std::vector<size_t> chain;
  size_t at = index;
  for (; at != kNone && m_folders[at].fd < 0; at = m_folders[at].parent) {
    if (m_folders[at].error != 0) {
      errno = m_folders[at].error;
      return -1;
    }
    chain.push_back(at);
  }
  if (at == kNone) {
    errno = EBADF;  // a top folder is always held: not reached
    return -1;
  }
  int fd = m_folders[at].fd;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const Folder& f = m_folders[*it];
    const int next = OpenCheckedChild(fd, f.name, f.dev, f.ino);
    const int err = errno;
    if (fd != m_folders[at].fd) CloseFolder(fd);
    if (next < 0) {
      errno = err;
      return -1;
    }
    fd = next;
  }
  m_folders[index].fd = fd;
  m_folders[index].holders = 1;
  return fd;
}

void CHeldFolders::Release(size_t index) {
  std::lock_guard g(m_lock);
  ReleaseLocked(index);
}

void CHeldFolders::ReleaseLocked(size_t index) {
  Folder& f = m_folders[index];
  if (f.parent == kNone || f.holders == 0) return;  // top folders stay
  if (--f.holders > 0) return;
  CloseFolder(f.fd);
  f.fd = -1;
}

std::string CHeldFolders::Path(size_t index) const {
  std::lock_guard g(m_lock);
  return m_folders[index].path;
}

uint64_t CHeldFolders::Device(size_t index) const {
  std::lock_guard g(m_lock);
  return m_folders[index].dev;
}

size_t CHeldFolders::OpenCount() const {
  std::lock_guard g(m_lock);
  size_t n = 0;
  for (const Folder& f : m_folders) n += f.fd >= 0 ? 1 : 0;
  return n;
}

size_t CHeldFolders::Count() const {
  std::lock_guard g(m_lock);
  return m_folders.size();
}

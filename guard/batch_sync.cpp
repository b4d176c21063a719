#include "guard/batch_sync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "guard/held_folders.h"

namespace {

BatchStepHook g_stepHook = nullptr;
size_t g_batchFiles = kBatchFiles;
uint64_t g_batchBytes = kBatchBytes;
int64_t g_fileSystemType = 0;

// Fewer files than this are synced one by one: a few fsyncs cost less than a syncfs that
// may have to write out what other programs left in the cache.
constexpr size_t kSyncfsFromFiles = 4;

// syncfs reports write errors (of any file of the file system since the descriptor was
// opened) from Linux 5.8 on; before that it returned 0 whatever happened.
bool SyncfsReportsErrors() {
  static const bool reports = [] {
    struct utsname u {};
    int major = 0;
    int minor = 0;
    if (::uname(&u) != 0 || std::sscanf(u.release, "%d.%d", &major, &minor) != 2) return false;
    return major > 5 || (major == 5 && minor >= 8);
  }();
  return reports;
}

// File systems whose syncfs writes out every file and folder: the local ones that have
// been seen to (ext4, xfs, btrfs, f2fs) and tmpfs, which has nothing to write. On FUSE a
// syncfs never reaches the daemon; elsewhere each file is synced on its own.
bool SyncfsHonouredOn(int fd) {
  constexpr int64_t kExt4 = 0xEF53;
  constexpr int64_t kXfs = 0x58465342;
  constexpr int64_t kBtrfs = 0x9123683E;
  constexpr int64_t kF2fs = 0xF2F52010;
  constexpr int64_t kTmpfs = 0x01021994;
  int64_t type = g_fileSystemType;
  if (type == 0) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    type = static_cast<int64_t>(fs.f_type);
  }
  return type == kExt4 || type == kXfs || type == kBtrfs || type == kF2fs || type == kTmpfs;
}

// fsync of a file the batch wrote, by name: 0, or the errno (ESTALE when the name no
// longer holds that file).
int SyncWritten(int folder, const std::string& name, const struct stat& written) {
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (st.st_dev != written.st_dev || st.st_ino != written.st_ino) {
    err = ESTALE;
  } else if (::fsync(fd) != 0) {
    err = errno;
  }
  if (::close(fd) != 0 && err == 0) err = errno;
  return err;
}

}  // namespace

void Announce(BatchStep step, const std::string& path, bool wholeFileSystem) {
  if (g_stepHook) g_stepHook(step, path, wholeFileSystem);
}

std::vector<int> SyncFiles(BatchStep step, const CBatchFolders& folders,
                           const std::vector<BatchFile>& files) {
  std::vector<int> errs(files.size(), 0);
  if (files.empty()) return errs;
  if (files.size() >= kSyncfsFromFiles && folders.SyncFileSystems(step)) return errs;
  for (size_t i = 0; i < files.size(); ++i) {
    Announce(step, files[i].path);
    errs[i] = SyncWritten(files[i].folder, files[i].name, files[i].written);
  }
  return errs;
}

std::map<std::string, int> SyncNames(const CBatchFolders& folders, size_t files,
                                     const std::set<std::string>& names) {
  if (files >= kSyncfsFromFiles && folders.SyncFileSystems(BatchStep::SyncNames)) {
    std::map<std::string, int> none;
    for (const std::string& f : names) none[f] = 0;
    return none;
  }
  return folders.SyncEach(BatchStep::SyncNames, names);
}

void SetBatchStepHookForTesting(BatchStepHook hook) {
  g_stepHook = hook;
}

void SetFileSystemTypeForTesting(int64_t type) {
  g_fileSystemType = type;
}

void SetBatchLimitsForTesting(size_t files, uint64_t bytes) {
  g_batchFiles = files > 0 ? files : kBatchFiles;
  g_batchBytes = bytes > 0 ? bytes : kBatchBytes;
}

size_t BatchFileLimit() {
  return g_batchFiles;
}

uint64_t BatchByteLimit() {
  return g_batchBytes;
}

CBatchFolders::~CBatchFolders() {
  CloseAll();
}

void CBatchFolders::Hold(const std::string& folder, int fd) {
  for (const Open_& o : m_open)
    if (o.folder == folder) return;
  m_open.push_back({folder, fd});
}

void CBatchFolders::CloseAll() {
  CloseFrom(0);
}

void CBatchFolders::CloseFrom(size_t n) {
  // The descriptors are the run's (CHeldFolders): given back there, not closed here.
  if (n < m_open.size()) m_open.resize(n);
}

bool CBatchFolders::SyncFileSystems(BatchStep step) const {
  if (m_open.empty() || !SyncfsReportsErrors()) return false;
  // One folder on a file system that ignores syncfs: the whole batch is synced file by
  // file, before anything is synced twice.
  std::vector<std::pair<std::string, int>> firsts;
  std::set<uint64_t> seen;
  for (const Open_& o : m_open) {
    struct stat st {};
    if (o.fd < 0 || ::fstat(o.fd, &st) != 0) return false;
    if (!seen.insert(st.st_dev).second) continue;
    if (!SyncfsHonouredOn(o.fd)) return false;
    firsts.emplace_back(o.folder, o.fd);
  }
  for (const auto& [name, fd] : firsts) {
    Announce(step, name, true);
    if (::syncfs(fd) != 0) return false;
  }
  return true;
}

std::map<std::string, int> CBatchFolders::SyncEach(BatchStep step,
                                                   const std::set<std::string>& folders) const {
  std::map<std::string, int> errs;
  for (const std::string& folder : folders) {
    Announce(step, folder);
    // Every folder a batch renames in was held when its file joined the batch; its
    // path is never opened again.
    int fd = -1;
    for (const Open_& o : m_open)
      if (o.folder == folder) fd = o.fd;
    if (fd < 0) {
      errs[folder] = EBADF;
      continue;
    }
    // Some file systems refuse fsync on folders; that is not a failure of the rename.
    errs[folder] = ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
  }
  return errs;
}

CBatchBook::CBatchBook() = default;

CBatchBook::~CBatchBook() {
  ReleaseFrom({0, 0});
}

CHeldFolders& CBatchBook::Folders() {
  if (!m_held) {
    m_ownFolders = std::make_unique<CHeldFolders>();
    m_held = m_ownFolders.get();
  }
  return *m_held;
}

int CBatchBook::Lookup(size_t folder, const std::string& name, struct stat* st) {
  if (folder == CHeldFolders::kNone) return -1;
  const int fd = Folders().Acquire(folder);
  if (fd < 0) return -1;
  struct stat own {};
  const int found = ::fstatat(fd, name.c_str(), st ? st : &own, AT_SYMLINK_NOFOLLOW) == 0 ? 1 : 0;
  Folders().Release(folder);
  return found;
}

int CBatchBook::HoldFolder(size_t index, const std::string& key) {
  if (index == CHeldFolders::kNone) {
    errno = ENOENT;
    return -1;
  }
  const int fd = Folders().Acquire(index);
  if (fd < 0) return -1;
  m_acquired.push_back(index);
  m_folders.Hold(key, fd);
  return fd;
}

void CBatchBook::ReleaseFrom(std::pair<size_t, size_t> mark) {
  m_folders.CloseFrom(mark.second);
  for (size_t i = mark.first; i < m_acquired.size(); ++i) m_held->Release(m_acquired[i]);
  if (mark.first < m_acquired.size()) m_acquired.resize(mark.first);
}

bool CBatchBook::Holds(const std::string& name, uint64_t device, uint64_t inode) const {
  return m_names.count(name) || (inode != 0 && m_files.count({device, inode}));
}

void CBatchBook::Book(const std::string& source, const std::string& target, const struct stat& st) {
  m_names.insert(source);
  m_names.insert(target);
  m_files.insert({st.st_dev, st.st_ino});
  m_bytes += static_cast<uint64_t>(st.st_size);
  ++m_count;
}

void CBatchBook::ClearBook() {
  m_names.clear();
  m_files.clear();
  m_bytes = 0;
  m_count = 0;
  ReleaseFrom({0, 0});
}

#include "guard/file_collector.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "guard/batch_detail.h"
#include "guard/encryption_settings.h"
#include "guard/held_folders.h"

namespace {

// Closes a descriptor only read through: a failure loses nothing.
void CloseReadOnly(int fd) {
  if (::close(fd) != 0) {
    // Nothing was written through it.
  }
}

struct DirEntry {
  std::string name;
  bool isFolder = false;   // a real folder, not a link to one
  bool isRegular = false;  // a real regular file, not a link to one
};

// Lists the folder held as folderFd (through a descriptor of its own) without following
// any symbolic link inside it. Sorted by name.
std::vector<DirEntry> ListFolder(int folderFd) {
  std::vector<DirEntry> out;
  const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listFd < 0) return out;
  DIR* dir = ::fdopendir(listFd);
  if (!dir) {
    CloseReadOnly(listFd);
    return out;
  }
  while (const dirent* ent = ::readdir(dir)) {
    const std::string_view name = ent->d_name;
    if (name == "." || name == "..") continue;
    DirEntry e;
    e.name = std::string(name);
    unsigned char type = ent->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::fstatat(folderFd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode))
        type = DT_DIR;
      else if (S_ISREG(st.st_mode))
        type = DT_REG;
      else
        type = DT_LNK;  // anything else is skipped alike
    }
    e.isFolder = type == DT_DIR;
    e.isRegular = type == DT_REG;
    out.push_back(std::move(e));
  }
  if (::closedir(dir) != 0) {
    // Read-only: nothing was written through it.
  }
  std::sort(out.begin(), out.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return out;
}

// The same for folder index of folders (nothing when it cannot be reached).
std::vector<DirEntry> ListFolder(CHeldFolders& folders, size_t index) {
  const int fd = folders.Acquire(index);
  if (fd < 0) return {};
  std::vector<DirEntry> out = ListFolder(fd);
  folders.Release(index);
  return out;
}

FileEntry EntryFor(const std::string& path, const struct stat* st) {
  FileEntry e;
  e.path = path;
  if (st) {
    e.device = static_cast<uint64_t>(st->st_dev);
    e.inode = static_cast<uint64_t>(st->st_ino);
    e.attributes = st->st_mode;
    e.creationTime = st->st_ctime;
    e.accessTime = st->st_atime;
    e.writeTime = st->st_mtime;
    e.size = static_cast<uint64_t>(st->st_size);
  }
  return e;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

CFileCollector::CFileCollector() = default;
CFileCollector::~CFileCollector() = default;

CHeldFolders& CFileCollector::HeldFolders() {
  if (!m_held) {
    m_ownFolders = std::make_unique<CHeldFolders>();
    m_held = m_ownFolders.get();
  }
  return *m_held;
}

void CFileCollector::SetRoot(const std::string& path) {
  std::string root = path;
  // Cut trailing separators, looking through trailing white space; "/" itself stays.
  for (;;) {
    size_t end = root.size();
    while (end > 0 && IsBlank(root[end - 1])) --end;
    if (end > 1 && root[end - 1] == '/') {
      root.resize(end - 1);
    } else {
      break;
    }
  }
  m_root = root;
  if (root.empty()) {
    m_folders.push_back(root);
    m_indexes.push_back(CHeldFolders::kNone);
    return;
  }
  // The folder the user named is opened once, here, by its path; everything below it is
  // reached from it by descriptor and recorded as it is found.
  CHeldFolders& folders = HeldFolders();
  const size_t top = folders.OpenTop(root);
  if (m_recursive) WalkBelow(top, root);
  m_folders.push_back(root);
  m_indexes.push_back(top);
}

// Appends the folders below top in post-order. The folders of the walk's upper levels
// stay held while their subfolders are walked, so that a subfolder is opened from its
// parent; deeper ones are opened again from the nearest held one when needed.
void CFileCollector::WalkBelow(size_t top, const std::string& root) {
  constexpr size_t kHeldLevels = 16;
  CHeldFolders& folders = HeldFolders();
  struct Frame {
    size_t index;
    std::string folder;
    std::vector<std::string> children;
    size_t next = 0;
    bool held = false;
  };
  auto frameOf = [&](size_t index, std::string folder, size_t depth) {
    Frame f{index, std::move(folder), {}, 0, false};
    const int fd = folders.Acquire(index);
    if (fd < 0) return f;
    for (const DirEntry& e : ListFolder(fd)) {
      if (e.isFolder) f.children.push_back(e.name);
    }
    f.held = depth < kHeldLevels && !f.children.empty();
    if (!f.held) folders.Release(index);
    return f;
  };
  std::vector<Frame> stack;
  stack.push_back(frameOf(top, root, 0));
  while (!stack.empty()) {
    Frame& at = stack.back();
    if (at.next < at.children.size()) {
      const std::string& name = at.children[at.next++];
      const size_t child = folders.OpenChild(at.index, name);
      std::string path = JoinPath(at.folder, name);
      stack.push_back(frameOf(child, std::move(path), stack.size()));
      continue;
    }
    if (at.held) folders.Release(at.index);
    if (stack.size() > 1) {
      m_folders.push_back(at.folder);
      m_indexes.push_back(at.index);
    }
    stack.pop_back();
  }
}

void CFileCollector::AddFilesMatching(std::string_view pattern) {
  CHeldFolders& folders = HeldFolders();
  for (size_t i = 0; i < m_folders.size(); ++i) {
    const std::string& folder = m_folders[i];
    if (folder.empty() || m_indexes[i] == CHeldFolders::kNone) continue;
    const int fd = folders.Acquire(m_indexes[i]);
    if (fd < 0) continue;
    for (const DirEntry& e : ListFolder(fd)) {
      if (!e.isRegular || IsTempName(e.name) || !WildcardMatch(e.name, pattern)) continue;
      struct stat st {};
      const bool read = ::fstatat(fd, e.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      FileEntry entry = EntryFor(JoinPath(folder, e.name), read ? &st : nullptr);
      entry.folder = m_indexes[i];
      entry.name = e.name;
      m_entries.push_back(std::move(entry));
    }
    folders.Release(m_indexes[i]);
  }
}

void CFileCollector::AddFileIn(int folderFd, size_t folder, const std::string& path,
                               const std::string& name) {
  struct stat st {};
  FileEntry e = EntryFor(path, nullptr);
  if (folderFd >= 0 && ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    e = EntryFor(path, &st);
    if (struct stat target{};
        S_ISLNK(st.st_mode) && ::fstatat(folderFd, name.c_str(), &target, 0) == 0) {
      e = EntryFor(path, &target);
      e.device = static_cast<uint64_t>(st.st_dev);
      e.inode = static_cast<uint64_t>(st.st_ino);
    }
  }
  e.folder = folder;
  e.name = name;
  m_entries.push_back(std::move(e));
}

void CFileCollector::RemoveMatching(std::string_view pattern) {
  m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                 [&](const FileEntry& e) { return MatchMask(e.path, pattern); }),
                  m_entries.end());
}

void CFileCollector::Clear() {
  m_folders.clear();
  m_indexes.clear();
  m_entries.clear();
}

bool HasSubfolder(const std::string& folder) {
  CHeldFolders folders;
  for (const DirEntry& e : ListFolder(folders, folders.OpenTop(folder))) {
    if (e.isFolder) return true;
  }
  return false;
}

namespace {

// A file item's file (a regular file, not a link, that can be read), found in its
// folder as a run would reach it.
int AddFileItem(RunFiles& target, const std::string& path) {
  if (IsTempName(path)) return 0;
  CHeldFolders& folders = *target.folders;
  const size_t index = folders.Resolve(batch_detail::FolderOf(path));
  const int fd = folders.Acquire(index);
  if (fd < 0) return 0;
  const std::string name = LastPathComponent(path);
  struct stat st {};
  bool ok = ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    // One that cannot be read is left out, as the folder scan's files are not.
    const int file = ::openat(fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    ok = file >= 0;
    if (file >= 0) CloseReadOnly(file);
  }
  if (ok) {
    FileEntry e = EntryFor(path, &st);
    e.folder = index;
    e.name = name;
    target.entries.push_back(std::move(e));
  }
  folders.Release(index);
  return ok ? 1 : 0;
}

int AddCollected(RunFiles& target, CFileCollector& collector) {
  for (FileEntry& e : collector.Entries()) target.entries.push_back(std::move(e));
  return static_cast<int>(collector.Entries().size());
}

std::vector<std::string> PathsOf(const RunFiles& files) {
  std::vector<std::string> paths;
  for (const FileEntry& e : files.entries) paths.push_back(e.path);
  return paths;
}

}  // namespace

RunFiles::RunFiles() : folders(std::make_shared<CHeldFolders>()) {}

int CollectFilesToEncrypt(RunFiles& target, const CGuardItem& item) {
  if (item.IsFolder()) {
    CFileCollector collector;
    collector.UseFolders(target.folders.get());
    collector.SetRecursive(item.m_subfolders != 0);
    collector.SetRoot(item.m_path);
    for (const std::string& pattern : SplitList(item.m_includeMask)) {
      collector.AddFilesMatching(pattern);
    }
    for (const std::string& pattern : SplitList(item.m_excludeMask)) {
      collector.RemoveMatching(pattern);
    }
    collector.RemoveMatching(kProtectedPattern);
    collector.RemoveMatching(kSettingsPattern);
    return AddCollected(target, collector);
  }
  std::string path = item.m_path;
  if (IsProtectedPath(path)) path = PlainPathOf(path);
  return AddFileItem(target, path);
}

int CollectFilesToDecrypt(RunFiles& target, const CGuardItem& item) {
  if (item.IsFolder()) {
    CFileCollector collector;
    collector.UseFolders(target.folders.get());
    collector.SetRecursive(item.m_subfolders != 0);
    collector.SetRoot(item.m_path);
    collector.AddFilesMatching(kProtectedPattern);
    return AddCollected(target, collector);
  }
  std::string path = item.m_path;
  if (!IsProtectedPath(path)) path = ProtectedPathOf(path);
  return AddFileItem(target, path);
}

int CollectFilesToEncrypt(std::vector<std::string>& target, const CGuardItem& item) {
  RunFiles files;
  const int n = CollectFilesToEncrypt(files, item);
  for (std::string& p : PathsOf(files)) target.push_back(std::move(p));
  return n;
}

int CollectFilesToDecrypt(std::vector<std::string>& target, const CGuardItem& item) {
  RunFiles files;
  const int n = CollectFilesToDecrypt(files, item);
  for (std::string& p : PathsOf(files)) target.push_back(std::move(p));
  return n;
}

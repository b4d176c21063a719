#include "guard/file_collector.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "guard/encryption_settings.h"

namespace {

struct DirEntry {
  std::string name;
  bool isFolder = false;   // a real folder, not a link to one
  bool isRegular = false;  // a real regular file, not a link to one
};

// Lists one folder without following any symbolic link inside it. Sorted by name.
std::vector<DirEntry> ListFolder(const std::string& folder) {
  std::vector<DirEntry> out;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return out;
  while (const dirent* ent = ::readdir(dir)) {
    const std::string_view name = ent->d_name;
    if (name == "." || name == "..") continue;
    DirEntry e;
    e.name = std::string(name);
    unsigned char type = ent->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st {};
      if (::lstat(JoinPath(folder, name).c_str(), &st) != 0) continue;
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
  ::closedir(dir);
  std::sort(out.begin(), out.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
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

bool IsRegularNotLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && FileExists(path);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

CFileCollector::~CFileCollector() = default;

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
  if (m_recursive && !root.empty()) {
    // Iterative post-order walk: a frame is a folder with its sorted subfolders.
    struct Frame {
      std::string folder;
      std::vector<std::string> children;
      size_t next = 0;
    };
    auto childrenOf = [](const std::string& folder) {
      std::vector<std::string> children;
      for (const DirEntry& e : ListFolder(folder)) {
        if (e.isFolder) children.push_back(JoinPath(folder, e.name));
      }
      return children;
    };
    std::vector<Frame> stack;
    stack.push_back({root, childrenOf(root), 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next < top.children.size()) {
        std::string child = top.children[top.next++];
        std::vector<std::string> grandChildren = childrenOf(child);
        stack.push_back({std::move(child), std::move(grandChildren), 0});
      } else {
        if (stack.size() > 1) m_folders.push_back(top.folder);
        stack.pop_back();
      }
    }
  }
  m_folders.push_back(root);
}

void CFileCollector::AddFilesMatching(std::string_view pattern) {
  for (const std::string& folder : m_folders) {
    if (folder.empty()) continue;
    for (const DirEntry& e : ListFolder(folder)) {
      if (!e.isRegular || IsTempName(e.name) || !WildcardMatch(e.name, pattern)) continue;
      const std::string path = JoinPath(folder, e.name);
      struct stat st {};
      m_entries.push_back(EntryFor(path, ::lstat(path.c_str(), &st) == 0 ? &st : nullptr));
    }
  }
}

void CFileCollector::AddFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    m_entries.push_back(EntryFor(path, nullptr));
    return;
  }
  FileEntry e = EntryFor(path, &st);
  // A link's entry keeps the link's own key; its status is the target's.
  if (struct stat target{}; S_ISLNK(st.st_mode) && ::stat(path.c_str(), &target) == 0) {
    e = EntryFor(path, &target);
    e.device = static_cast<uint64_t>(st.st_dev);
    e.inode = static_cast<uint64_t>(st.st_ino);
  }
  m_entries.push_back(std::move(e));
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
  m_entries.clear();
}

bool HasSubfolder(const std::string& folder) {
  for (const DirEntry& e : ListFolder(folder)) {
    if (e.isFolder) return true;
  }
  return false;
}

int CollectFilesToEncrypt(std::vector<std::string>& target, const CGuardItem& item) {
  if (item.IsFolder()) {
    CFileCollector collector;
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
    for (const FileEntry& e : collector.Entries()) target.push_back(e.path);
    return static_cast<int>(collector.Entries().size());
  }
  std::string path = item.m_path;
  if (IsProtectedPath(path)) path = PlainPathOf(path);
  if (IsTempName(path) || !IsRegularNotLink(path)) return 0;
  target.push_back(path);
  return 1;
}

int CollectFilesToDecrypt(std::vector<std::string>& target, const CGuardItem& item) {
  if (item.IsFolder()) {
    CFileCollector collector;
    collector.SetRecursive(item.m_subfolders != 0);
    collector.SetRoot(item.m_path);
    collector.AddFilesMatching(kProtectedPattern);
    for (const FileEntry& e : collector.Entries()) target.push_back(e.path);
    return static_cast<int>(collector.Entries().size());
  }
  std::string path = item.m_path;
  if (!IsProtectedPath(path)) path = ProtectedPathOf(path);
  if (IsTempName(path) || !IsRegularNotLink(path)) return 0;
  target.push_back(path);
  return 1;
}

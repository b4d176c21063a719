#include "explorer/tree_folder_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QStorageInfo>
#include <algorithm>
#include <cerrno>

#include "common/paths.h"
#include "common/safe_file.h"
#include "explorer/explorer_paths.h"
#include "explorer/natural_order.h"
#include "framework/native_path.h"

namespace {

// Entries looked at before a folder whose link count tells nothing is assumed to have a
// subfolder.
constexpr int kProbeEntries = 512;
// How often a long listing looks at the stop flag.
constexpr int kCancelCheckEvery = 256;

bool IsHiddenName(const char* name) {
  // Dot names: hidden entries, "." and "..", and the program's own temporary files.
  return name[0] == '.' || IsTempName(name);
}

// Whether the folder at path, with the link count in st, has a subfolder that is not
// hidden. The count says so for most folders without listing them.
bool HasVisibleSubfolder(const std::string& path, const struct stat& st) {
  if (st.st_nlink == 2) return false;  // itself and its "." only
  // Five or more links: three or more subfolders, hardly all hidden.
  if (st.st_nlink > 4) return true;
  // One or two subfolders that may both be hidden (a ".git" beside files is common), or a
  // file system that does not count subfolders (btrfs, many FUSE mounts): look at the
  // first entries.
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return true;  // cannot tell: offer the button, the expansion will see
  const int fd = ::dirfd(dir);
  bool found = false;
  int seen = 0;
  while (!found) {
    const dirent* entry = ::readdir(dir);
    if (!entry) break;
    if (++seen > kProbeEntries) {
      found = true;
      break;
    }
    if (IsHiddenName(entry->d_name)) continue;
    if (entry->d_type == DT_DIR) {
      found = true;
    } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
      struct stat child {};
      found = ::fstatat(fd, entry->d_name, &child, 0) == 0 && S_ISDIR(child.st_mode);
    }
  }
  ::closedir(dir);  // read-only handle: a failing close loses nothing
  return found;
}

// Canonical paths of the folder and of every folder above it on its path as the tree
// knows it. A link whose target is one of them, or lies above one of them, leads back
// into the tree's own branch: a loop.
std::vector<std::string> CanonicalBranch(const std::string& logicalPath) {
  std::vector<std::string> branch;
  branch.push_back("/");
  std::string prefix;
  size_t start = 1;
  while (start <= logicalPath.size()) {
    size_t end = logicalPath.find('/', start);
    if (end == std::string::npos) end = logicalPath.size();
    if (end > start) {
      prefix.push_back('/');
      prefix.append(logicalPath, start, end - start);
      std::string canonical = CanonicalPath(prefix);
      if (!canonical.empty()) branch.push_back(std::move(canonical));
    }
    start = end + 1;
  }
  return branch;
}

bool LeadsIntoBranch(const std::string& target, const std::vector<std::string>& branch) {
  if (target == "/") return true;
  for (const std::string& folder : branch) {
    if (folder == target) return true;
    if (folder.size() > target.size() && folder.compare(0, target.size(), target) == 0 &&
        folder[target.size()] == '/') {
      return true;
    }
  }
  return false;
}

TreeItemKind KindOfVolume(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::kRemovable:
      return TreeItemKind::kRemovableVolume;
    case VolumeKind::kNetwork:
      return TreeItemKind::kNetworkVolume;
    case VolumeKind::kOptical:
      return TreeItemKind::kOpticalVolume;
    case VolumeKind::kFixed:
      break;
  }
  return TreeItemKind::kFixedVolume;
}

// Volumes that are no place for the user's files: kernel interfaces, run-time state, snaps.
bool IsSystemMount(const QString& root, const QString& fsType) {
  if (fsType == u"squashfs" || fsType == u"autofs") return true;
  static const char* const kPrefixes[] = {"/proc", "/sys",      "/dev",
                                          "/snap", "/var/snap", "/var/lib/docker"};
  for (const char* prefix : kPrefixes) {
    const QString p = QString::fromLatin1(prefix);
    if (root == p || root.startsWith(p + u'/')) return true;
  }
  return root.startsWith(u"/run/") && !root.startsWith(u"/run/media/");
}

QString VolumeName(const QString& label, const QString& root) {
  if (label.isEmpty() || label == root) return root;
  return label + QStringLiteral(" (") + root + u')';
}

// A folder that could not be opened. Gone, or no folder any more: the item has nothing to
// expand. Anything else (no permission, I/O error) may pass, so the item keeps its button.
void FailRead(FolderReadResult& result, int err) {
  result.error = err;
  result.status = (err == ENOENT || err == ENOTDIR || err == ELOOP)
                      ? FolderReadStatus::kNotBound
                      : FolderReadStatus::kNotEnumerated;
}

// What the listing of one folder judges its entries by.
struct FolderScan {
  const FolderReadRequest& request;
  std::string path;  // native, as the tree knows it
  int fd = -1;       // the open folder
  const CMountTable& mounts;
  std::vector<std::string> branch;  // CanonicalBranch of path
  std::string canonicalBase;        // the canonical folder, "" for "/"
  bool mountsInside = false;        // a mount point lies directly in the folder
  QString pathPrefix;               // request.path with a trailing "/"
};

// A symbolic link: a link to a folder shows as a folder, a dangling or looping link as a
// file at most. child holds what lstat gave.
void ClassifyLink(const FolderScan& scan, const std::string& name, struct stat& child,
                  TreeChildRecord& record) {
  if (::fstatat(scan.fd, name.c_str(), &child, 0) != 0 || !S_ISDIR(child.st_mode)) {
    record.kind = TreeItemKind::kFile;
    return;
  }
  record.kind = TreeItemKind::kFolderLink;
  const std::string target = CanonicalPath(JoinPath(scan.path, name));
  VolumeKind targetKind = VolumeKind::kFixed;
  if (target.empty() || LeadsIntoBranch(target, scan.branch)) {
    record.loop = true;
    record.hasChildren = false;
  } else if (scan.mounts.KindAt(target, targetKind) && targetKind != VolumeKind::kFixed) {
    record.hasChildren = true;
  } else {
    record.hasChildren = scan.request.showFiles || HasVisibleSubfolder(target, child);
  }
}

// The record of one entry of the folder; false when the entry is not shown (it vanished,
// or it is a file and only folders are asked for).
bool ScanEntry(const FolderScan& scan, const dirent& entry, TreeChildRecord& record) {
  const std::string name(entry.d_name);
  record.id = FromNative(name);
  record.name = record.id;
  record.path = scan.pathPrefix + record.id;

  // A mount point of a slow volume: shown with a button, never touched.
  VolumeKind mountKind = VolumeKind::kFixed;
  if (scan.mountsInside && scan.mounts.KindAt(scan.canonicalBase + "/" + name, mountKind) &&
      mountKind != VolumeKind::kFixed) {
    record.kind = KindOfVolume(mountKind);
    record.hasChildren = true;
    return true;
  }

  unsigned char type = entry.d_type;
  struct stat child {};
  if (type == DT_DIR || type == DT_UNKNOWN) {
    if (::fstatat(scan.fd, entry.d_name, &child, AT_SYMLINK_NOFOLLOW) != 0) return false;
    type = S_ISDIR(child.st_mode) ? DT_DIR : S_ISLNK(child.st_mode) ? DT_LNK : DT_REG;
  }
  if (type == DT_DIR) {
    record.kind = TreeItemKind::kFolder;
    record.hasChildren =
        scan.request.showFiles || HasVisibleSubfolder(JoinPath(scan.path, name), child);
  } else if (type == DT_LNK) {
    ClassifyLink(scan, name, child, record);
  } else {
    record.kind = TreeItemKind::kFile;
  }
  return record.kind != TreeItemKind::kFile || scan.request.showFiles;
}

}  // namespace

bool IsSlowKind(TreeItemKind kind) {
  return kind == TreeItemKind::kRemovableVolume || kind == TreeItemKind::kNetworkVolume ||
         kind == TreeItemKind::kOpticalVolume;
}

bool FolderHasSubfolders(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return HasVisibleSubfolder(path, st);
}

FolderReadResult ReadFolderChildren(const FolderReadRequest& request, CLoadProgress& progress) {
  FolderReadResult result;
  const std::string path = Native(request.path);
  if (request.openHook) {
    if (const int err = request.openHook(path)) {
      FailRead(result, err);
      return result;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    FailRead(result, errno);
    return result;
  }
  if (!S_ISDIR(st.st_mode)) {
    FailRead(result, ENOTDIR);
    return result;
  }
  const std::string canonical = CanonicalPath(path);
  if (canonical.empty()) {
    FailRead(result, errno ? errno : ENOENT);
    return result;
  }
  const std::shared_ptr<const CMountTable> mounts =
      request.mounts ? request.mounts : std::make_shared<const CMountTable>(CMountTable::Load());
  VolumeKind ownKind = VolumeKind::kFixed;
  result.parentIsFixedRoot = mounts->KindAt(canonical, ownKind) && ownKind == VolumeKind::kFixed;
  FolderScan scan{request, path, -1, *mounts, CanonicalBranch(path), {}, false, {}};

  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    FailRead(result, errno);
    return result;
  }
  scan.fd = ::dirfd(dir);
  progress.SetLoadProgress(0, 0);
  scan.canonicalBase = canonical == "/" ? std::string() : canonical;
  scan.mountsInside = mounts->HasMountPointsIn(canonical);
  scan.pathPrefix = request.path.endsWith(u'/') ? request.path : request.path + u'/';
  int sinceCheck = 0;
  for (;;) {
    if (++sinceCheck >= kCancelCheckEvery) {
      sinceCheck = 0;
      if (progress.IsCancelled()) break;
    }
    const dirent* entry = ::readdir(dir);
    if (!entry) break;  // the end, or the folder vanished under us: keep what was read
    if (IsHiddenName(entry->d_name)) continue;
    TreeChildRecord record;
    if (!ScanEntry(scan, *entry, record)) continue;
    result.children.push_back(std::move(record));
    progress.AddLoadProgress(1);
  }
  ::closedir(dir);  // read-only handle: a failing close loses nothing
  SortTreeChildren(result.children);
  result.status = FolderReadStatus::kRead;
  progress.SetLoadProgress(1, 1);
  return result;
}

std::vector<TreeChildRecord> ReadComputerVolumes(CLoadProgress& progress) {
  std::vector<TreeChildRecord> volumes;
  progress.SetLoadProgress(0, 0);
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (progress.IsCancelled()) break;
    const QString root = volume.rootPath();
    const QString fsType = QString::fromLatin1(volume.fileSystemType());
    if (root.isEmpty() || IsSystemMount(root, fsType)) continue;
    if (std::any_of(volumes.begin(), volumes.end(),
                    [&root](const TreeChildRecord& r) { return r.id == root; })) {
      continue;
    }
    TreeChildRecord record;
    record.id = root;
    record.path = root;
    record.name = VolumeName(volume.name(), root);
    const VolumeKind kind = ClassifyVolume(volume.fileSystemType().toStdString(),
                                           volume.device().toStdString(), Native(root));
    record.kind = KindOfVolume(kind);
    // Removable media, optical drives and network shares get a button untouched. A fixed
    // volume is looked at: files mounted over files (containers do that) are no volumes.
    if (kind == VolumeKind::kFixed) {
      const std::string native = Native(root);
      struct stat st {};
      if (::stat(native.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
      record.hasChildren = HasVisibleSubfolder(native, st);
    } else {
      record.hasChildren = true;
    }
    volumes.push_back(std::move(record));
    progress.AddLoadProgress(1);
  }
  std::sort(volumes.begin(), volumes.end(), [](const TreeChildRecord& a, const TreeChildRecord& b) {
    return CompareNaturally(a.path, b.path) < 0;
  });
  progress.SetLoadProgress(1, 1);
  return volumes;
}

void SortTreeChildren(std::vector<TreeChildRecord>& children) {
  // Keys once per child, not once per comparison: large folders sort in a few milliseconds.
  struct Entry {
    bool file;
    QString key;
    size_t index;
  };
  std::vector<Entry> entries;
  entries.reserve(children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    entries.push_back(
        {children[i].kind == TreeItemKind::kFile, NaturalSortKey(children[i].name), i});
  }
  std::sort(entries.begin(), entries.end(), [&children](const Entry& a, const Entry& b) {
    if (a.file != b.file) return b.file;  // folders and volumes first
    const int order = a.key.compare(b.key);
    if (order != 0) return order < 0;
    return children[a.index].name.compare(children[b.index].name) < 0;
  });
  std::vector<TreeChildRecord> sorted;
  sorted.reserve(children.size());
  for (const Entry& entry : entries) sorted.push_back(std::move(children[entry.index]));
  children = std::move(sorted);
}

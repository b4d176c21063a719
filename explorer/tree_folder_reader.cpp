#include "explorer/tree_folder_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QStorageInfo>
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/paths.h"
#include "common/safe_file.h"
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

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string out(resolved);
  std::free(resolved);
  return out;
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
      std::string canonical = RealPath(prefix);
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

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string out;
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buffer.data(), static_cast<size_t>(n));
    if (out.size() > (1u << 22)) break;  // a mount table is never this large
  }
  ::close(fd);  // read-only
  return out;
}

// The kernel's removable flag of the disk behind a device node, from sysfs (no media access).
bool DiskMarkedRemovable(std::string_view source) {
  if (!StartsWith(source, "/dev/")) return false;
  std::string device = RealPath(std::string(source));
  if (device.empty()) device = std::string(source);
  const std::string name = LastPathComponent(device);
  if (name.empty()) return false;
  const std::string sysfs = RealPath("/sys/class/block/" + name);
  if (sysfs.empty()) return false;
  std::string flag = ReadSmallFile(sysfs + "/removable");
  if (flag.empty()) flag = ReadSmallFile(WithoutTrailingSlash(ParentFolder(sysfs)) + "/removable");
  return !flag.empty() && flag[0] == '1';
}

std::string DecodeMountField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out.push_back(static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0')));
      i += 3;
    } else {
      out.push_back(field[i]);
    }
  }
  return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
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

int FoldUnit(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return QChar::toCaseFolded(static_cast<char32_t>(c));
}

bool IsAsciiDigit(QChar c) {
  return c.unicode() >= '0' && c.unicode() <= '9';
}

}  // namespace

bool IsSlowKind(TreeItemKind kind) {
  return kind == TreeItemKind::kRemovableVolume || kind == TreeItemKind::kNetworkVolume ||
         kind == TreeItemKind::kOpticalVolume;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> fields = SplitFields(text.substr(pos, end - pos));
    pos = end + 1;
    // id parent major:minor root mount-point options [optional fields...] - type source ...
    if (fields.size() < 7) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 1 >= fields.size()) continue;
    MountEntry entry;
    entry.mountPoint = DecodeMountField(fields[4]);
    entry.fsType = DecodeMountField(fields[dash + 1]);
    if (dash + 2 < fields.size()) entry.source = DecodeMountField(fields[dash + 2]);
    if (entry.mountPoint.empty() || entry.mountPoint[0] != '/') continue;
    entries.push_back(std::move(entry));
  }
  return entries;
}

VolumeKind ClassifyVolume(std::string_view fsType, std::string_view source,
                          std::string_view mountPoint) {
  static constexpr std::string_view kNetworkTypes[] = {"nfs",
                                                       "nfs4",
                                                       "cifs",
                                                       "smb3",
                                                       "smbfs",
                                                       "ncpfs",
                                                       "afs",
                                                       "coda",
                                                       "9p",
                                                       "ceph",
                                                       "glusterfs",
                                                       "lustre",
                                                       "davfs",
                                                       "fuse.sshfs",
                                                       "sshfs",
                                                       "fuse.rclone",
                                                       "fuse.s3fs",
                                                       "fuse.davfs2",
                                                       "fuse.glusterfs",
                                                       "fuse.ceph",
                                                       "fuse.smbnetfs",
                                                       "fuse.curlftpfs"};
  for (std::string_view type : kNetworkTypes) {
    if (fsType == type) return VolumeKind::kNetwork;
  }
  if (fsType == "iso9660" || fsType == "udf") return VolumeKind::kOptical;
  if (StartsWith(mountPoint, "/media/") || StartsWith(mountPoint, "/run/media/")) {
    return VolumeKind::kRemovable;
  }
  if (DiskMarkedRemovable(source)) return VolumeKind::kRemovable;
  return VolumeKind::kFixed;
}

CMountTable CMountTable::FromEntries(const std::vector<MountEntry>& entries) {
  CMountTable table;
  // Later lines are mounted over earlier ones at the same place.
  for (const MountEntry& entry : entries) {
    table.m_points[entry.mountPoint] = ClassifyVolume(entry.fsType, entry.source, entry.mountPoint);
    if (entry.mountPoint != "/") {
      table.m_parents.insert(WithoutTrailingSlash(ParentFolder(entry.mountPoint)));
    }
  }
  return table;
}

bool CMountTable::HasMountPointsIn(const std::string& folder) const {
  return m_parents.count(folder) != 0;
}

CMountTable CMountTable::Load() {
  return FromEntries(ParseMountInfo(ReadSmallFile("/proc/self/mountinfo")));
}

bool CMountTable::KindAt(const std::string& path, VolumeKind& kind) const {
  const auto it = m_points.find(path);
  if (it == m_points.end()) return false;
  kind = it->second;
  return true;
}

bool FolderHasSubfolders(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return HasVisibleSubfolder(path, st);
}

FolderReadResult ReadFolderChildren(const FolderReadRequest& request, CLoadProgress& progress) {
  FolderReadResult result;
  const std::string path = Native(request.path);
  auto failOpen = [&result](int err) {
    result.error = err;
    // Gone, or no folder any more: the item has nothing to expand. Anything else (no
    // permission, I/O error) may pass, so the item keeps its button.
    result.status = (err == ENOENT || err == ENOTDIR || err == ELOOP)
                        ? FolderReadStatus::kNotBound
                        : FolderReadStatus::kNotEnumerated;
  };
  if (request.openHook) {
    if (const int err = request.openHook(path)) {
      failOpen(err);
      return result;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    failOpen(errno);
    return result;
  }
  if (!S_ISDIR(st.st_mode)) {
    failOpen(ENOTDIR);
    return result;
  }
  const std::string canonical = RealPath(path);
  if (canonical.empty()) {
    failOpen(errno ? errno : ENOENT);
    return result;
  }
  const std::shared_ptr<const CMountTable> mountTable =
      request.mounts ? request.mounts : std::make_shared<const CMountTable>(CMountTable::Load());
  const CMountTable& mounts = *mountTable;
  VolumeKind ownKind = VolumeKind::kFixed;
  result.parentIsFixedRoot = mounts.KindAt(canonical, ownKind) && ownKind == VolumeKind::kFixed;
  const std::vector<std::string> branch = CanonicalBranch(path);

  DIR* dir = ::opendir(path.c_str());
  if (!dir) {
    failOpen(errno);
    return result;
  }
  const int fd = ::dirfd(dir);
  progress.SetLoadProgress(0, 0);
  const std::string canonicalBase = canonical == "/" ? std::string() : canonical;
  const bool mountsInside = mounts.HasMountPointsIn(canonical);
  const QString pathPrefix = request.path.endsWith(u'/') ? request.path : request.path + u'/';
  int sinceCheck = 0;
  for (;;) {
    if (++sinceCheck >= kCancelCheckEvery) {
      sinceCheck = 0;
      if (progress.IsCancelled()) break;
    }
    const dirent* entry = ::readdir(dir);
    if (!entry) break;  // the end, or the folder vanished under us: keep what was read
    if (IsHiddenName(entry->d_name)) continue;
    const std::string name(entry->d_name);
    TreeChildRecord record;
    record.id = FromNative(name);
    record.name = record.id;
    record.path = pathPrefix + record.id;

    // A mount point of a slow volume: shown with a button, never touched.
    VolumeKind mountKind = VolumeKind::kFixed;
    if (mountsInside && mounts.KindAt(canonicalBase + "/" + name, mountKind) &&
        mountKind != VolumeKind::kFixed) {
      record.kind = KindOfVolume(mountKind);
      record.hasChildren = true;
      result.children.push_back(std::move(record));
      progress.AddLoadProgress(1);
      continue;
    }

    unsigned char type = entry->d_type;
    struct stat child {};
    if (type == DT_DIR || type == DT_UNKNOWN) {
      if (::fstatat(fd, entry->d_name, &child, AT_SYMLINK_NOFOLLOW) != 0) continue;  // vanished
      type = S_ISDIR(child.st_mode) ? DT_DIR : S_ISLNK(child.st_mode) ? DT_LNK : DT_REG;
    }
    if (type == DT_DIR) {
      record.kind = TreeItemKind::kFolder;
      record.hasChildren = request.showFiles || HasVisibleSubfolder(JoinPath(path, name), child);
    } else if (type == DT_LNK) {
      // A link to a folder shows as a folder; a dangling or looping link as a file at most.
      if (::fstatat(fd, entry->d_name, &child, 0) == 0 && S_ISDIR(child.st_mode)) {
        record.kind = TreeItemKind::kFolderLink;
        const std::string target = RealPath(JoinPath(path, name));
        VolumeKind targetKind = VolumeKind::kFixed;
        if (target.empty() || LeadsIntoBranch(target, branch)) {
          record.loop = true;
          record.hasChildren = false;
        } else if (mounts.KindAt(target, targetKind) && targetKind != VolumeKind::kFixed) {
          record.hasChildren = true;
        } else {
          record.hasChildren = request.showFiles || HasVisibleSubfolder(target, child);
        }
      } else {
        record.kind = TreeItemKind::kFile;
      }
    } else {
      record.kind = TreeItemKind::kFile;
    }
    if (record.kind == TreeItemKind::kFile && !request.showFiles) continue;
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

QString NaturalSortKey(QStringView name) {
  // Case folded; every run of digits becomes '0', its count of significant digits, and those
  // digits. A run then compares with another run by value, and with any other character
  // like a digit does, since no other character lies between '0' and '9'.
  QString key;
  key.reserve(name.size() + 4);
  qsizetype i = 0;
  while (i < name.size()) {
    if (IsAsciiDigit(name[i])) {
      while (i < name.size() && name[i] == u'0') ++i;
      const qsizetype start = i;
      while (i < name.size() && IsAsciiDigit(name[i])) ++i;
      key.append(u'0');
      key.append(QChar(static_cast<char16_t>(std::min<qsizetype>(i - start, 0xFFFF))));
      key.append(name.mid(start, i - start));
      continue;
    }
    key.append(QChar(static_cast<char16_t>(FoldUnit(name[i].unicode()))));
    ++i;
  }
  return key;
}

int CompareNaturally(QStringView a, QStringView b) {
  int order = NaturalSortKey(a).compare(NaturalSortKey(b));
  // Equal but for case or leading zeros: a fixed order all the same.
  if (order == 0) order = a.compare(b);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
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

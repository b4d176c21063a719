#include "explorer/mount_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "common/fd_io.h"
#include "common/paths.h"
#include "explorer/explorer_paths.h"

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string ReadSmallFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string out;
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t n = ReadSome(fd, buffer.data(), buffer.size());
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
  std::string device = CanonicalPath(std::string(source));
  if (device.empty()) device = std::string(source);
  const std::string name = LastPathComponent(device);
  if (name.empty()) return false;
  const std::string sysfs = CanonicalPath("/sys/class/block/" + name);
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

}  // namespace

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

CMountTable CMountTable::Load() {
  return FromEntries(ParseMountInfo(ReadSmallFile("/proc/self/mountinfo")));
}

bool CMountTable::KindAt(const std::string& path, VolumeKind& kind) const {
  const auto it = m_points.find(path);
  if (it == m_points.end()) return false;
  kind = it->second;
  return true;
}

bool CMountTable::HasMountPointsIn(const std::string& folder) const {
  return m_parents.count(folder) != 0;
}

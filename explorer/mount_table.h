#pragma once
// The mount points of the system and what kind of volume each one holds, read from
// /proc/self/mountinfo and sysfs without touching any volume: the folder tree judges by
// them which children it may probe (fixed volumes) and which it must leave alone
// (removable, optical and network volumes).
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

enum class VolumeKind : uint8_t { kFixed, kRemovable, kNetwork, kOptical };

struct MountEntry {
  std::string mountPoint;
  std::string fsType;
  std::string source;
};

// Lines of /proc/self/mountinfo; malformed lines are skipped, escapes (\040) decoded.
std::vector<MountEntry> ParseMountInfo(std::string_view text);
// Network file systems, optical media, and volumes mounted where desktops mount removable
// media (or whose disk the kernel marks removable) are not fixed.
VolumeKind ClassifyVolume(std::string_view fsType, std::string_view source,
                          std::string_view mountPoint);

// The mount points of the system with their kinds, read without touching any volume.
class CMountTable {
 public:
  static CMountTable Load();
  static CMountTable FromEntries(const std::vector<MountEntry>& entries);
  // The kind of the volume mounted exactly at path; false when path is no mount point.
  bool KindAt(const std::string& path, VolumeKind& kind) const;
  // Whether any mount point lies directly in folder (most folders have none).
  bool HasMountPointsIn(const std::string& folder) const;

 private:
  std::unordered_map<std::string, VolumeKind> m_points;
  std::unordered_set<std::string> m_parents;  // folders holding a mount point
};

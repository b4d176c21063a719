#include "guard/volume_relocation.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "common/paths.h"

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    const size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    if (i > start) out.emplace_back(path.substr(start, i - start));
  }
  return out;
}

}  // namespace

std::string MountPointOf(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::string();
  std::string current(resolved);
  std::free(resolved);
  struct stat st {};
  if (::stat(current.c_str(), &st) != 0) return std::string();
  const dev_t device = st.st_dev;
  while (current != "/") {
    const size_t slash = current.rfind('/');
    if (slash == std::string::npos) break;
    const std::string parent = slash == 0 ? std::string(1, '/') : current.substr(0, slash);
    struct stat up {};
    if (::stat(parent.c_str(), &up) != 0 || up.st_dev != device) break;
    current = parent;
  }
  return current;
}

std::string RelocateToVolumeOf(const std::string& stored, const std::string& anchor) {
  if (stored.empty() || stored[0] != '/') return std::string();
  return RelocateUnderMount(stored, MountPointOf(anchor));
}

std::string RelocateUnderMount(const std::string& stored, const std::string& mount) {
  if (stored.empty() || stored[0] != '/') return std::string();
  if (mount.empty() || mount == "/") return std::string();
  const std::vector<std::string> mountParts = Components(mount);
  const std::vector<std::string> storedParts = Components(stored);
  const size_t k = mountParts.size();
  if (k == 0 || storedParts.size() <= k || storedParts[0] != mountParts[0]) return std::string();
  std::string oldVolume;
  for (size_t i = 0; i < k; ++i) oldVolume += "/" + storedParts[i];
  if (IsFolder(oldVolume)) return std::string();
  std::string result = mount;
  for (size_t i = k; i < storedParts.size(); ++i) result += "/" + storedParts[i];
  if (stored.back() == '/') result += '/';
  return result;
}

#include "guard/files_left_below.h"

#include <string>
#include <vector>

#include "guard/file_collector.h"
#include "guard/guard_item.h"

size_t CountUnprotectedBelow(const CGuardItem& folder) {
  if (!folder.IsFolder() || folder.m_subfolders != 0) return 0;
  // The whole tree less the folder's own files, with the very rules a protect collects by.
  CGuardItem tree = folder;
  tree.m_subfolders = 1;
  std::vector<std::string> all;
  std::vector<std::string> own;
  const int below = CollectFilesToEncrypt(all, tree) - CollectFilesToEncrypt(own, folder);
  return below > 0 ? static_cast<size_t>(below) : 0;
}

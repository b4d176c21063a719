#pragma once
// One entry of the guard list and the unit the collectors expand: a file or a folder,
// with the folder's masks and its "Encrypt subfolders" choice. A plain value: lists of
// items are arrays of values, copied member by member.
#include <cstdint>
#include <string>

class CGuardItem {
 public:
  CGuardItem() = default;
  CGuardItem(std::string path, int32_t folder) : m_folder(folder), m_path(std::move(path)) {}
  virtual ~CGuardItem() = default;
  CGuardItem(const CGuardItem&) = default;
  CGuardItem& operator=(const CGuardItem&) = default;
  CGuardItem(CGuardItem&&) = default;
  CGuardItem& operator=(CGuardItem&&) = default;

  bool IsFolder() const { return m_folder != 0; }

  int32_t m_folder = 0;       // 1 folder, 0 file
  std::string m_path;         // full path; a protected file is listed under its plain name
  std::string m_excludeMask;  // folders: patterns of files to leave out
  std::string m_includeMask;  // folders: patterns of files to take
  int32_t m_state = 0;        // the status the list pane shows (guardlist/explorer_doc.h)
  int32_t m_subfolders = 0;   // folders: 1 = "Encrypt subfolders"
};

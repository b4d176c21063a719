#pragma once
// Expands guard items into flat lists of files.
//
// A scan opens the folder the user named once, by its path (the kernel resolves it,
// links included, as the user meant), and reaches every folder below it by descriptor
// (see CHeldFolders), recording each folder's device and inode as it is found: a run
// that works on what the scan found never resolves a path again. Folder scans never follow a
// symbolic link to a folder (no loops, no escape from the tree) and take only regular files:
// symbolic links to files, FIFOs, sockets and devices are not listed, nor the temporary files of
// crash-safe writes. Within a folder the entries come in byte order of their names, so runs are
// repeatable.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "guard/guard_item.h"

struct FileEntry {
  std::string path;
  uint32_t attributes = 0;   // st_mode
  int64_t creationTime = 0;  // status change time (seconds), the nearest Linux has
  int64_t accessTime = 0;
  int64_t writeTime = 0;
  uint64_t size = 0;
  // The file itself (a symbolic link's own inode, not its target's); 0, 0 when it could
  // not be read. One file under two names (a folder reached through a link) has one key.
  uint64_t device = 0;
  uint64_t inode = 0;
  // Where a run reaches it: the index of its folder in the run's CHeldFolders and its
  // name there (kNoFolder: not resolved, the run goes by path).
  static constexpr size_t kNoFolder = static_cast<size_t>(-1);
  size_t folder = kNoFolder;
  std::string name;
};

class CHeldFolders;

class CFileCollector {
 public:
  CFileCollector();
  virtual ~CFileCollector();
  CFileCollector(const CFileCollector&) = delete;
  CFileCollector& operator=(const CFileCollector&) = delete;

  // The run's folders, outliving the collector, that the entries' folder indexes name;
  // without them the collector keeps folders of its own.
  void UseFolders(CHeldFolders* folders) { m_held = folders; }
  void SetRecursive(bool recursive) { m_recursive = recursive; }
  // Stores the root (without trailing "/", "/" itself kept), then appends its folder tree
  // to the folder list in post-order: every folder after all of its subfolders, the root
  // last (only the root when not recursive). Hidden folders are included.
  void SetRoot(const std::string& path);
  // For every folder of the folder list, in order, appends the regular files whose names
  // match pattern by the file system's wildcard rules (WildcardMatch).
  void AddFilesMatching(std::string_view pattern);
  // Appends one entry with the current status of name in a folder of a run held as
  // folderFd (index folder in the run's CHeldFolders; folderFd -1: the folder could not
  // be reached, no status; a symbolic link's status is its target's, its key its own).
  void AddFileIn(int folderFd, size_t folder, const std::string& path, const std::string& name);
  // Removes the entries whose path matches pattern by MatchMask, keeping the order.
  void RemoveMatching(std::string_view pattern);
  void Clear();

  bool Recursive() const { return m_recursive; }
  const std::string& Root() const { return m_root; }
  const std::vector<std::string>& Folders() const { return m_folders; }
  const std::vector<FileEntry>& Entries() const { return m_entries; }
  std::vector<FileEntry>& Entries() { return m_entries; }

 private:
  CHeldFolders& HeldFolders();
  void WalkBelow(size_t top, const std::string& root);

  bool m_recursive = false;
  std::string m_root;
  std::vector<std::string> m_folders;
  std::vector<size_t> m_indexes;  // of m_folders in the held folders
  std::vector<FileEntry> m_entries;
  std::unique_ptr<CHeldFolders> m_ownFolders;
  CHeldFolders* m_held = nullptr;
};

// The files of a run as its scan found them, each in a folder of folders; shared so that
// the run outlives nothing it uses.
struct RunFiles {
  RunFiles();
  std::shared_ptr<CHeldFolders> folders;
  std::vector<FileEntry> entries;
};

// True when folder holds at least one subfolder (symbolic links to folders not counted).
bool HasSubfolder(const std::string& folder);

// Expands an item for protecting. A folder item: its tree (recursive by the item's
// "Encrypt subfolders" flag), each include pattern in turn, less the exclude patterns,
// less "*.~de" and "zde.tmp" files; a file matched by two include patterns is listed
// twice. A file item: its path less a trailing ".~de", when that is an existing regular
// file. Appends to target; returns the number of paths appended.
int CollectFilesToEncrypt(std::vector<std::string>& target, const CGuardItem& item);
// Expands an item for restoring: a folder item's "*.~de" files (masks play no part), or
// a file item's path with ".~de" added unless it ends in it, when that file exists.
// Appends to target; returns the number of paths appended.
int CollectFilesToDecrypt(std::vector<std::string>& target, const CGuardItem& item);
// The same into the entries of a run, its folders held in target.folders.
int CollectFilesToEncrypt(RunFiles& target, const CGuardItem& item);
int CollectFilesToDecrypt(RunFiles& target, const CGuardItem& item);

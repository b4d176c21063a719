#pragma once
// The folders of one run, each resolved once and then reached by descriptor.
//
// A path string resolved twice in a run can lead somewhere else the second time: anyone
// who can write a folder on the way can swap a subfolder for a symbolic link between the
// two. So a run names its folders once: the folders the user named are opened by path at
// the start (the kernel resolves them once, links included, as the user meant), and
// every folder below them is opened relative to its parent's descriptor with
// O_DIRECTORY|O_NOFOLLOW, its device and inode recorded. Every later step in a folder
// goes through the descriptor that Acquire hands out (openat, fstatat, renameat2,
// unlinkat), never through the path, which only names the folder in messages.
//
// Descriptors stay bounded whatever the tree: the top folders are held for the whole
// run, a folder below them only while somebody has acquired it. Acquiring a folder that
// is not held opens it again by walking down from its nearest held ancestor, one name
// at a time with O_NOFOLLOW, and checks each folder on the way against the device and
// inode recorded for it: a folder swapped for a link or for another folder fails with
// ESTALE ("its folder was replaced during the run"), and nothing is done in it.
//
// Safe for the workers of a parallel run: every member locks.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

// Why a folder could not be acquired, for messages.
inline constexpr const char* kFolderReplacedReason = "its folder was replaced during the run";

class CHeldFolders {
 public:
  static constexpr size_t kNone = static_cast<size_t>(-1);

  CHeldFolders() = default;
  CHeldFolders(const CHeldFolders&) = delete;
  CHeldFolders& operator=(const CHeldFolders&) = delete;
  ~CHeldFolders();  // closes every descriptor

  // The folder of path "/a/b/" (a trailing "/" or not; "" is the current folder): found
  // when the run knows it, else opened below the nearest known ancestor one name at a
  // time, else opened by path as a top folder. Its index: a folder that could not be
  // opened gets one too, whose Acquire fails with the reason (ESTALE for a link where a
  // folder was), so that nothing falls back to its path.
  size_t Resolve(const std::string& folder);
  // A folder the user named, opened by path (kept for the whole run).
  size_t OpenTop(const std::string& folder);
  // name in folder parent, opened with O_NOFOLLOW and recorded; not held afterwards.
  size_t OpenChild(size_t parent, const std::string& name);

  // A checked descriptor of folder index (see above), held until the matching Release;
  // -1 with errno (ESTALE: replaced).
  int Acquire(size_t index);
  void Release(size_t index);

  // The folder's path with a trailing "/", for messages and for names built from it.
  std::string Path(size_t index) const;
  uint64_t Device(size_t index) const;
  // Descriptors open now (for tests of the bound).
  size_t OpenCount() const;
  // Folders known so far (indexes 0 to Count() - 1).
  size_t Count() const;

 private:
  struct Folder {
    size_t parent = kNone;  // kNone: a top folder
    std::string name;       // in its parent; the whole path for a top folder
    std::string path;       // with a trailing "/"
    uint64_t dev = 0, ino = 0;
    int fd = -1;
    size_t holders = 0;
    int error = 0;  // why it could not be opened when it was resolved
  };
  size_t Add(Folder folder);
  int AcquireLocked(size_t index);
  void ReleaseLocked(size_t index);

  mutable std::mutex m_lock;
  std::vector<Folder> m_folders;
  std::unordered_map<std::string, size_t> m_byPath;
};

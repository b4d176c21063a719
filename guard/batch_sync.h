#pragma once
// The durability steps that a batch of protected or restored files shares: the folders
// it touches, one sync for many files, and a hook for tests that watch the order.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Many files with a few syncs per batch instead of two or three per file. A batch's files
// are encoded (or decoded) into temporary files beside their targets without a sync;
// the commit then makes them all durable at once (syncfs, one call per file system, or
// one pass of fsyncs), renames them, makes the folder entries durable at once, and only
// then touches the sources: a protect wipes the plain files (each moved aside, then
// overwritten), makes the wipes durable at once and unlinks them; a restore deletes
// the protected files. No source is touched before its new form and name are durable,
// so a kill or a failure between any two steps loses nothing: what is left is the
// source, or its durable new form beside it, and stale temporary files for the next
// run's cleanup. A failure of one file's step costs that file only; the others go on.
// EncryptOneFile and DecryptOneFile are batches of one.
inline constexpr size_t kBatchFiles = 256;
inline constexpr uint64_t kBatchBytes = 16u << 20;
// A batch holds a descriptor of each of its folders until its commit: a deep tree with a
// file in every folder must not run out of descriptors.
inline constexpr size_t kBatchFolders = 32;

// The steps of a commit, in their order, for tests that watch them (or stop a run
// between two of them). path is the file or folder the step is about to act on; a
// sync of a whole file system names one of the batch's folders on it.
enum class BatchStep {
  SyncNew,    // the new files' content (before any rename)
  Rename,     // a new file takes its name (path: the name)
  SyncNames,  // the renames (before any source is touched)
  Wipe,       // protect: a plain file is moved aside and overwritten (path: the plain file)
  SyncWipes,  // protect: the overwritten files
  Unlink,     // a wiped plain file (under its temporary name), or a restored protected file
};
// wholeFileSystem: a syncfs of the file system that holds path (a folder of the batch).
using BatchStepHook = void (*)(BatchStep step, const std::string& path, bool wholeFileSystem);
// nullptr removes the hook. Not for concurrent runs.
void SetBatchStepHookForTesting(BatchStepHook hook);
// Tests pretend that every folder lies on a file system of this statfs f_type (a FUSE
// mount, say); 0 asks the kernel again.
void SetFileSystemTypeForTesting(int64_t type);
// Smaller batches, for tests that need several in a short list; 0, 0 restores the above.
void SetBatchLimitsForTesting(size_t files, uint64_t bytes);
size_t BatchFileLimit();
uint64_t BatchByteLimit();

// Folders of a batch, held from when their first file is added (so a sync of their file
// system reports write errors that happened since) and synced once per commit. The
// descriptors belong to the run's CHeldFolders.
class CBatchFolders {
 public:
  CBatchFolders() = default;
  CBatchFolders(const CBatchFolders&) = delete;
  CBatchFolders& operator=(const CBatchFolders&) = delete;
  ~CBatchFolders();
  // A folder the caller holds open (see CHeldFolders) until CloseAll or CloseFrom.
  void Hold(const std::string& folder, int fd);
  void CloseAll();
  // The folders held so far; CloseFrom(n) forgets those held after the first n (for a
  // file that failed before it joined the batch).
  size_t Count() const { return m_open.size(); }
  void CloseFrom(size_t n);
  // syncfs once per file system of the opened folders; false when one failed, a folder
  // could not be opened, syncfs does not report write errors on this kernel, or a folder
  // lies on a file system not known to write out everything on syncfs (FUSE and network
  // file systems: their daemons and servers are not asked).
  bool SyncFileSystems(BatchStep step) const;
  // fsync of each given folder once, through the descriptor held for it; the errno per
  // folder (0: synced).
  std::map<std::string, int> SyncEach(BatchStep step, const std::set<std::string>& folders) const;

 private:
  struct Open_ {
    std::string folder;
    int fd = -1;
  };
  std::vector<Open_> m_open;
};

class CHeldFolders;

// What a batch has taken on, shared by protect and restore: the names and files its
// commit will act on (an entry that touches one must wait for the commit), their bytes
// and their folders.
class CBatchBook {
 public:
  bool Empty() const { return m_count == 0; }
  // Full: commit now. WouldOverflow: commit before a file of size bytes is added.
  bool Full() const {
    return m_count >= BatchFileLimit() || m_bytes >= BatchByteLimit() ||
           m_folders.Count() >= m_folderLimit;
  }
  // The batches of a run's workers share the run's descriptors: each holds its share of
  // kBatchFolders folders at most.
  void ShareFoldersAmong(size_t workers) {
    m_folderLimit = workers > 1 ? std::max<size_t>(1, kBatchFolders / workers) : kBatchFolders;
  }
  bool WouldOverflow(uint64_t size) const { return !Empty() && m_bytes + size > BatchByteLimit(); }
  // True when the file device, inode (0, 0: unknown) or name is one the batch will act on.
  bool Holds(const std::string& name, uint64_t device, uint64_t inode) const;

  // The run's folders, shared by its workers and outliving the batch; without them the
  // batch resolves the folders of the paths it is given itself.
  void UseFolders(CHeldFolders* folders) { m_held = folders; }
  CHeldFolders& Folders();
  // Whether name is there (a link not followed) in folder index, reached as CHeldFolders
  // does: 1, 0, or -1 with errno when the folder cannot be reached. st (when given)
  // receives its status.
  int Lookup(size_t folder, const std::string& name, struct stat* st = nullptr);

 protected:
  CBatchBook();
  ~CBatchBook();
  // Acquires folder index for the batch until ClearBook and registers it for the syncs
  // under key (the folder's path); the descriptor, or -1 with errno (ESTALE: replaced).
  int HoldFolder(size_t index, const std::string& key);
  // Folders held so far; ReleaseFrom gives back those acquired after a mark (for a file
  // that failed before it joined the batch).
  std::pair<size_t, size_t> HeldMark() const { return {m_acquired.size(), m_folders.Count()}; }
  void ReleaseFrom(std::pair<size_t, size_t> mark);
  // Takes on a file: its source and target names, and the source as it was read.
  void Book(const std::string& source, const std::string& target, const struct stat& st);
  // Forgets everything after a commit and closes the folders.
  void ClearBook();

  CBatchFolders m_folders;

 private:
  std::unique_ptr<CHeldFolders> m_ownFolders;
  CHeldFolders* m_held = nullptr;
  std::vector<size_t> m_acquired;
  std::set<std::string> m_names;
  std::set<std::pair<uint64_t, uint64_t>> m_files;  // device, inode of the sources
  uint64_t m_bytes = 0;
  size_t m_count = 0;
  size_t m_folderLimit = kBatchFolders;
};

// Tells the test hook, if any, of the step about to be taken.
void Announce(BatchStep step, const std::string& path, bool wholeFileSystem = false);
// A file of a batch: its name in a folder held by descriptor, its path for the hook.
struct BatchFile {
  int folder = -1;
  std::string name;
  std::string path;
  struct stat written {};
};
// Makes the files' content durable: one syncfs per file system when there are enough of
// them and syncfs can be trusted, else (or when it failed, to learn which file it was)
// one fsync each. The errno per file, in order (ESTALE when a name no longer holds the
// file written).
std::vector<int> SyncFiles(BatchStep step, const CBatchFolders& folders,
                           const std::vector<BatchFile>& files);
// Makes the entries of the given folders durable after files renames; the errno per
// folder.
std::map<std::string, int> SyncNames(const CBatchFolders& folders, size_t files,
                                     const std::set<std::string>& names);

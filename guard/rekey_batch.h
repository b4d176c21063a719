#pragma once
// Moving protected files under a new key in batches, with the durability steps protect
// and restore share (guard/batch_sync.h): each file is re-keyed into a temporary file
// beside it, the batch's new files are made durable at once, each takes its file's name
// by a rename, and the renames are made durable at once. A kill or a failure at any step
// leaves every file whole under the old key or the new one; a stale temporary file goes
// at the next run's cleanup. The file keeps its permission bits, owner and times.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "engine/key_ops.h"
#include "guard/batch_sync.h"
#include "guard/file_collector.h"

enum RekeyResult : int {
  REKEY_DONE = 1,
  REKEY_PENDING = 0,          // Add: re-keyed, waiting for the commit
  REKEY_WRONG_PASSWORD = -1,  // another key opens it: left as it is
  REKEY_CANCELLED = -2,
  REKEY_FAILED = -3,  // damaged, unreadable, refused or not stored: the reason says why
};

// Told each file's result and reason (empty unless failed) at the commit, or at Add when
// it fails there.
using RekeyResultProc = std::function<void(size_t tag, int result, const std::string& reason)>;

class CRekeyBatch : public CBatchBook {
 public:
  CRekeyBatch() = default;
  CRekeyBatch(const CRekeyBatch&) = delete;
  CRekeyBatch& operator=(const CRekeyBatch&) = delete;
  // Removes the temporary files of files never committed; those stay under the old key.
  ~CRekeyBatch();

  // Re-keys the entry's file into a temporary file beside it, every step in its folder's
  // descriptor (see UseFolders), which is checked first: a folder replaced since the run
  // found it fails the file ("its folder was replaced during the run"). REKEY_PENDING,
  // or the file's result (told to done right away). progress sees the payload bytes as
  // they are read.
  int Add(const FileEntry& entry, const uint8_t oldKey[32], const uint8_t newKey[32],
          ProgressProc progress, void* user, size_t tag, const RekeyResultProc& done);
  // Durable new files, their names over the old ones, the names durable; reports each
  // file in the order added and empties the batch.
  void Commit(const RekeyResultProc& done);

 private:
  struct Item {
    size_t tag = 0;
    std::string path;            // for messages and the step hook
    int dir = -1;                // the folder, held by the batch
    std::string folder;          // its path, "" or ending in "/"
    std::string name, tempName;  // in the folder
    struct stat source {};       // the protected file as it was read
    struct stat written {};      // the temporary file
    int result = REKEY_DONE;
    std::string reason;
    bool renamed = false;
  };
  int Rekey(const FileEntry& entry, const uint8_t oldKey[32], const uint8_t newKey[32],
            ProgressProc progress, void* user, size_t tag, const RekeyResultProc& done);
  void Fail(Item& item, std::string reason);
  std::set<std::string> RenameWritten(const std::vector<int>& dataErrs, size_t& renamed);

  std::vector<Item> m_items;
};

// Why a file is not re-keyed at all (empty when it may be): not a regular file, a
// symbolic link, more than one hard link (the other names would keep the old key), or
// owned by another user while not running as root (it would change owner).
std::string RekeyRefusal(const struct stat& st);

// Re-keys files with up to jobs threads, each with a batch of its own (files named once
// each: no two batches touch one file). The files' folders are opened once, before the
// first file, and every step goes through them (see CHeldFolders). told(i, result,
// reason) comes in list order, one call at a time; files not started when stop() turned
// true come back REKEY_CANCELLED. progress is called from every thread (jobs > 1: it
// must be safe for that).
void RekeyFiles(const std::vector<std::string>& files, const uint8_t oldKey[32],
                const uint8_t newKey[32], int jobs, ProgressProc progress, void* user,
                const std::function<bool()>& stop, const RekeyResultProc& told);
// The same for the files a scan found (told's i indexes files.entries): the run works in
// the folders the scan opened and recorded.
void RekeyFiles(const RunFiles& files, const uint8_t oldKey[32], const uint8_t newKey[32], int jobs,
                ProgressProc progress, void* user, const std::function<bool()>& stop,
                const RekeyResultProc& told);

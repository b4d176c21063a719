#pragma once
// Protecting one plain file into "NAME.~de" beside it and restoring it back.
//
// Crash safety: the protected file is written under a temporary name in the same folder,
// synced and renamed into place before the plain file is touched; a failed or cancelled
// protect removes only that temporary file, so the plain file and any protected file
// that existed before stay as they were. A restore decodes into a temporary file that
// replaces the plain name only when it is complete and synced; the protected file is
// deleted only after that, and a failed restore never deletes an existing plain file.
//
// Permissions, owner and times: the protected file gets the plain file's permission bits
// and times (and owner, when root protects another user's file), and the restored file
// gets the protected file's, so a file comes back as it was protected. Both are set on
// the descriptor before the file takes its name; a restored plaintext is never readable
// by anybody the protected file did not allow, not even for a moment.
//
// Concurrent changes: the plain file is wiped only when it is still the file that was
// encoded (device, inode, size, modification and change time); one replaced or written
// to meanwhile stays, the protected file just written goes, and the protect fails with
// "changed while it was being protected". A file with more than one hard link is not
// protected at all: the wipe would turn its other names into markers.
//
// Symbolic links: a symbolic link is never protected or wiped (wiping through it would
// overwrite a file elsewhere); restoring replaces a link at the plain name instead of
// writing through it.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/file_codec.h"
#include "guard/batch_sync.h"
#include "guard/file_collector.h"
#include "guard/guard_ui.h"
#include "guard/wipe.h"

// The codec's work buffer for both directions.
inline constexpr uint32_t kCodecBufferSize = 1024;

// Results of EncryptOneFile.
enum EncryptOneResult : int {
  ENCRYPT_DONE = 1,        // protected, plain file wiped and deleted
  ENCRYPT_PENDING = 0,     // CEncryptBatch::Add: encoded, waiting for the batch's commit
  ENCRYPT_CANCELLED = -2,  // the progress window was cancelled while encoding
  ENCRYPT_FAILED = -3,     // a message naming the file and the reason was shown
  ENCRYPT_NOT_WIPED = -4,  // protected, but the plain file could not be wiped (a warning
                           // "... but not wiped: REASON" was shown)
};
// Results of DecryptOneFile.
enum DecryptOneResult : int {
  DECRYPT_DONE = 1,               // restored, protected file deleted
  DECRYPT_PENDING = 0,            // CDecryptBatch::Add: decoded, waiting for the commit
  DECRYPT_PROMPT_CANCELLED = -2,  // the password prompt was cancelled: stop the run
  DECRYPT_CANCELLED = -3,         // the progress window was cancelled while decoding
  DECRYPT_FAILED = -4,            // three wrong passwords (no message), or a damaged file
                                  // or an I/O failure (a message with the reason)
};

// Protects path into path + ".~de" with the key digest and zip level (0 stores). An
// existing protected file is replaced only by a complete new one. progress may be null.
int EncryptOneFile(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                   IProgressWindow* progress);

// Restores path (which ends in ".~de") to the name without the suffix. digest is the
// run's key buffer: tried first (unless it means "no key", IsUsableKeyDigest), and replaced by the
// key of any password typed at the prompt (at most three prompts per file), so the next file starts
// with the last key that worked.
int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress);

// The progress callback of the guard operations; user is the IProgressWindow* or null.
// Returns 0 when the window was cancelled, else steps the bar by chunk / 10, lets the
// window process its events (Esc cancels) and shows it.
int ProgressStep(uint64_t total, uint64_t done, uint64_t chunk, void* user);

// Told each file's result (EncryptOneResult or DecryptOneResult) at the commit, in the
// order the files were added, right after the file's message (if any) was shown.
using BatchResultProc = std::function<void(size_t tag, int result)>;

class CEncryptBatch : public CBatchBook {
 public:
  CEncryptBatch() = default;
  CEncryptBatch(const CEncryptBatch&) = delete;
  CEncryptBatch& operator=(const CEncryptBatch&) = delete;
  // Removes the temporary files of files never committed; their plain files stay.
  ~CEncryptBatch();

  // The checks and the encoding of EncryptOneFile, into a temporary file that waits for
  // Commit. ENCRYPT_PENDING, or EncryptOneFile's result for a file that failed (its
  // message shown) or was cancelled.
  int Add(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
          IProgressWindow* progress, size_t tag);
  // The same for an entry of the run's folders (see UseFolders): every step is taken in
  // its folder's descriptor, which is checked first; a folder replaced since it was
  // collected fails the file ("its folder was replaced during the run").
  // seen: the file's status just read in its folder (Lookup), or null to read it here.
  int Add(IGuardUi& ui, const FileEntry& entry, const uint8_t digest[32], int level,
          IProgressWindow* progress, size_t tag, const struct stat* seen = nullptr);
  // Durable protected files, then their names, then the wipes (see above); reports each
  // file and empties the batch.
  void Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done);

 private:
  struct Item {
    size_t tag = 0;
    std::string path, target;                // for messages and the step hook
    int dir = -1;                            // the folder, held by the batch
    std::string folder;                      // its path, "" or ending in "/"
    std::string name, targetName, tempName;  // in the folder
    struct stat encoded {};                  // the plain file as it was encoded
    struct stat written {};                  // the temporary file
    int result = ENCRYPT_DONE;
    std::string message;  // shown before the result is reported
    MsgIcon icon = MsgIcon::Error;
    bool renamed = false;
    std::string moved;  // the plain file's temporary name (in the folder) while it is wiped
  };
  int Encode(IGuardUi& ui, const FileEntry& entry, const uint8_t digest[32], int level,
             IProgressWindow* progress, size_t tag, const struct stat* seen);
  void Fail(Item& item, int result, std::string message, MsgIcon icon = MsgIcon::Error);
  std::set<std::string> RenameWritten(const std::vector<int>& dataErrs, size_t& renamed);
  bool WipeRenamed(Item& item, IProgressWindow* progress);

  std::vector<Item> m_items;
};

class CDecryptBatch : public CBatchBook {
 public:
  CDecryptBatch() = default;
  CDecryptBatch(const CDecryptBatch&) = delete;
  CDecryptBatch& operator=(const CDecryptBatch&) = delete;
  // Removes the restored files never committed; their protected files stay.
  ~CDecryptBatch();

  // The checks, the password prompts and the decoding of DecryptOneFile, into a
  // temporary file that waits for Commit. DECRYPT_PENDING, or DecryptOneFile's result.
  int Add(IGuardUi& ui, const std::string& path, uint8_t digest[32], IProgressWindow* progress,
          size_t tag);
  int Add(IGuardUi& ui, const FileEntry& entry, uint8_t digest[32], IProgressWindow* progress,
          size_t tag, const struct stat* seen = nullptr);
  // Durable restored files, then their names, then the protected files are deleted.
  void Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done);

 private:
  struct Item {
    size_t tag = 0;
    std::string path, target;
    int dir = -1;
    std::string folder;
    std::string name, targetName, tempName;
    struct stat source {};   // the protected file as it was decoded
    struct stat written {};  // the restored file
    int result = DECRYPT_DONE;
    std::string message;
    bool renamed = false;
  };
  int Decode(IGuardUi& ui, const FileEntry& entry, uint8_t digest[32], IProgressWindow* progress,
             size_t tag, const struct stat* seen);
  void Fail(Item& item, const std::string& reason);

  std::vector<Item> m_items;
};

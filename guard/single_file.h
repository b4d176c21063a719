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
#include "guard/guard_ui.h"

// The codec's work buffer for both directions.
inline constexpr uint32_t kCodecBufferSize = 1024;

// The 19 bytes written over a plain file before it is deleted (no terminator).
inline constexpr std::string_view kWipeMarker = "<VellumguardWiped/>";
static_assert(kWipeMarker.size() == 19);

// Bytes a wipe leaves between two markers, by the last three characters of the whole
// path (no regard to ASCII case): 10 for TXT DOC XLS, 200 for ZIP RAR JPG GIF AVI MPG
// WMV, 300 for EXE, else 30. It is the path's end, not its extension: a.docx gets 30.
uint64_t WipeStrideFor(std::string_view path);

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
// run's key buffer: tried first, and replaced by the key of any password typed at the
// prompt (at most three prompts per file), so the next file starts with the last key
// that worked.
int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress);

// Overwrites the file with marker at offsets 0, m + s, 2(m + s), ... up to and including
// its length (m the marker's length, s = stride; the bytes between keep their content,
// a file shorter than the marker grows to hold one), syncs it and deletes it. The work
// is done in large read-modify-write blocks with one callback per block, whose chunk is
// (stride + m) times the markers of that block; a callback returning 0 ends the
// overwriting early, and the file is deleted all the same. The file is moved to a
// temporary name before it is overwritten, so an interrupted wipe never leaves damaged
// content under the file's own name. Never follows a symbolic link, never opens anything
// but a regular file, never touches a file with more than one hard link. Stride 0
// deletes without overwriting.
// Returns 1 when the file was deleted, 0 when it could not be opened or moved (then
// nothing is changed).
int WipeAndDeleteFile(const std::string& path, std::string_view marker, uint64_t stride,
                      ProgressProc callback, void* user);

// Wipes and deletes a plain file that a killed wipe left under a temporary name (for
// RemoveStaleTempFiles); the stride comes from the name it had.
void WipeStaleTempFile(const std::string& tempPath);

// The progress callback of the guard operations; user is the IProgressWindow* or null.
// Returns 0 when the window was cancelled, else steps the bar by chunk / 10, lets the
// window process its events (Esc cancels) and shows it.
int ProgressStep(uint64_t total, uint64_t done, uint64_t chunk, void* user);

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
// Smaller batches, for tests that need several in a short list; 0, 0 restores the above.
void SetBatchLimitsForTesting(size_t files, uint64_t bytes);
size_t BatchFileLimit();
uint64_t BatchByteLimit();

// Told each file's result (EncryptOneResult or DecryptOneResult) at the commit, in the
// order the files were added, right after the file's message (if any) was shown.
using BatchResultProc = std::function<void(size_t tag, int result)>;

// Folders of a batch, opened when their first file is added (so a sync of their file
// system reports write errors that happened since) and synced once per commit.
class CBatchFolders {
 public:
  CBatchFolders() = default;
  CBatchFolders(const CBatchFolders&) = delete;
  CBatchFolders& operator=(const CBatchFolders&) = delete;
  ~CBatchFolders();
  void Open(const std::string& folder);
  void CloseAll();
  // syncfs once per file system of the opened folders; false when one failed, a folder
  // could not be opened, or syncfs does not report write errors on this kernel.
  bool SyncFileSystems(BatchStep step) const;
  // fsync of each given folder once; the errno per folder (0: synced).
  std::map<std::string, int> SyncEach(BatchStep step, const std::set<std::string>& folders) const;

 private:
  std::vector<std::pair<std::string, int>> m_open;  // folder, descriptor (-1: not opened)
};

class CEncryptBatch {
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
  // True when a name (or the file it names) is one the batch will act on: commit first.
  bool Holds(const std::string& name) const;
  bool Empty() const { return m_items.empty(); }
  // Full: commit now. WouldOverflow: commit before a file of size bytes is added.
  bool Full() const { return m_items.size() >= BatchFileLimit() || m_bytes >= BatchByteLimit(); }
  bool WouldOverflow(uint64_t size) const { return !Empty() && m_bytes + size > BatchByteLimit(); }
  // Durable protected files, then their names, then the wipes (see above); reports each
  // file and empties the batch.
  void Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done);

 private:
  struct Item {
    size_t tag = 0;
    std::string path, target, temp;
    struct stat encoded {};  // the plain file as it was encoded
    struct stat written {};  // the temporary file
    int result = ENCRYPT_DONE;
    std::string message;  // shown before the result is reported
    MsgIcon icon = MsgIcon::Error;
    bool renamed = false;
    std::string moved;  // the plain file's temporary name while it is wiped
  };
  void Fail(Item& item, int result, std::string message, MsgIcon icon = MsgIcon::Error);
  std::set<std::string> RenameWritten(const std::vector<int>& dataErrs, size_t& renamed);
  bool WipeRenamed(Item& item, IProgressWindow* progress);

  std::vector<Item> m_items;
  std::set<std::string> m_names;
  std::set<std::pair<uint64_t, uint64_t>> m_files;  // device, inode of the plain files
  uint64_t m_bytes = 0;
  CBatchFolders m_folders;
};

class CDecryptBatch {
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
  bool Holds(const std::string& name) const;
  bool Empty() const { return m_items.empty(); }
  bool Full() const { return m_items.size() >= BatchFileLimit() || m_bytes >= BatchByteLimit(); }
  bool WouldOverflow(uint64_t size) const { return !Empty() && m_bytes + size > BatchByteLimit(); }
  // Durable restored files, then their names, then the protected files are deleted.
  void Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done);

 private:
  struct Item {
    size_t tag = 0;
    std::string path, target, temp;
    struct stat source {};   // the protected file as it was decoded
    struct stat written {};  // the restored file
    int result = DECRYPT_DONE;
    std::string message;
    bool renamed = false;
  };
  void Fail(Item& item, const std::string& reason);

  std::vector<Item> m_items;
  std::set<std::string> m_names;
  std::set<std::pair<uint64_t, uint64_t>> m_files;  // device, inode of the protected files
  uint64_t m_bytes = 0;
  CBatchFolders m_folders;
};

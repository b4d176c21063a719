#pragma once
// Runs the single-file routines over a list of paths under one progress window, with the
// overwrite questions, cancel and a count of the files done.
//
// Each run is split into a preparation (the entries to process), a per-entry step, and
// the loop in EncryptFileList / DecryptFileList. A parallel runner reuses the
// preparation and the steps; it must serialise the calls into IGuardUi and the progress
// window, and share one digest buffer between restore steps under a lock.
//
// The files of a run are committed in batches (see CEncryptBatch in single_file.h): an
// entry's step ends as Pending when its file waits in the batch, and what became of it
// is known (and told to the observer) when the batch is committed: when it is full, before
// an entry whose name it holds, and when the run ends, also by a cancel. Messages,
// questions and counts are those of a run that commits every file on its own.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "guard/file_collector.h"
#include "guard/guard_ui.h"

enum class ListStep {
  Done,     // the file was protected or restored
  NotDone,  // skipped (vanished, answered No) or failed; the run goes on
  Stop,     // cancelled, or the password prompt was cancelled: the run ends
  Pending,  // waits in the batch; its outcome comes with the batch's commit
};

class CEncryptBatch;
class CHeldFolders;
class CDecryptBatch;

// The entries a protect run processes: every path with its current size, less "*.~de",
// "zde.tmp" and temporary files, and less every later name of a file listed already
// (same device and inode). Empty when there is nothing to do.
std::vector<FileEntry> PrepareEncryptEntries(const std::vector<std::string>& paths);
// The entries a restore run processes: the paths that end in ".~de" (exact), each file
// once as above.
std::vector<FileEntry> PrepareDecryptEntries(const std::vector<std::string>& paths);
// The same for a run on descriptors: the folders of paths are resolved once into
// folders (parents before their subfolders, see CHeldFolders) and each entry names its
// folder and its name there.
std::vector<FileEntry> PrepareEncryptEntries(const std::vector<std::string>& paths,
                                             CHeldFolders& folders);
std::vector<FileEntry> PrepareDecryptEntries(const std::vector<std::string>& paths,
                                             CHeldFolders& folders);
// The entries a run over a scan's entries processes, as above: protect drops "*.~de",
// "zde.tmp", temporary files and later names of a file; restore keeps "*.~de" files.
std::vector<FileEntry> KeepEncryptEntries(std::vector<FileEntry> entries);
std::vector<FileEntry> KeepDecryptEntries(std::vector<FileEntry> entries);
// An entry for every path, in order, its folder resolved into folders as above.
std::vector<FileEntry> EntriesOfPaths(const std::vector<std::string>& paths, CHeldFolders& folders);
// Sum of the entries' sizes.
uint64_t TotalSize(const std::vector<FileEntry>& entries);
// A level above 9 becomes 6; an empty no-zip mask becomes the default one.
void NormalizeProtectParameters(int& level, std::string& noZipMask);
// True when digest can key a run: not null and its first three bytes not all zero.
bool IsUsableDigest(const uint8_t* digest);
// Removes the temporary files that dead runs left in the given folders (a trailing "/"
// or not), for a run that touches them even when it finds nothing to do there; a plain
// file that a killed wipe moved aside is wiped first. Each folder is opened once and
// cleaned through its descriptor.
void RemoveStaleTempFilesIn(const std::vector<std::string>& folders);
// The same for every folder a scan found (see RunFiles).
void RemoveStaleTempFilesIn(CHeldFolders& folders);
// The same in the folders of paths, resolved into folders and cleaned through their
// descriptors.
void RemoveStaleTempFilesBeside(CHeldFolders& folders, const std::vector<std::string>& paths);
// The same in the folders of entries of folders, through their descriptors.
void RemoveStaleTempFilesBeside(CHeldFolders& folders, const std::vector<FileEntry>& entries);

// One file of a protect run, after the run's cancel check: shows the path, skips a
// vanished file (advancing the bar by its share), asks before replacing an existing
// protected file, and protects it (level 0 when the no-zip mask matches). With batch,
// the file is added to it under tag (Pending); the caller commits the batch first when
// it holds the entry's names or would overflow (CommitBeforeEntry), and commit (when
// given) is called before the question, so that the messages of the files before it
// come first, in the list's order.
ListStep EncryptListEntry(IGuardUi& ui, IProgressWindow* progress, const FileEntry& entry,
                          const uint8_t digest[32], int level, const std::string& noZipMask,
                          CEncryptBatch* batch = nullptr, size_t tag = 0,
                          const std::function<void()>& commit = {});
// One file of a restore run, after the run's cancel check; digest is the run's key
// buffer (see DecryptOneFile). batch, tag and commit as for EncryptListEntry.
ListStep DecryptListEntry(IGuardUi& ui, IProgressWindow* progress, const FileEntry& entry,
                          uint8_t digest[32], CDecryptBatch* batch = nullptr, size_t tag = 0,
                          const std::function<void()>& commit = {});
// True when batch must be committed before entry is added to it.
bool CommitBeforeEntry(const CEncryptBatch& batch, const FileEntry& entry);
bool CommitBeforeEntry(const CDecryptBatch& batch, const FileEntry& entry);
// The step a file's result at the commit stands for.
ListStep StepOfEncryptResult(int result);
ListStep StepOfDecryptResult(int result);

// Told after every entry a run processed, with what became of it; for callers that report
// on the run afterwards.
using ListStepObserver = std::function<void(const FileEntry& entry, ListStep step)>;

// Protects the files of paths with the key digest, level and no-zip mask; returns how
// many were protected. Returns 0 without any window when paths is empty, the digest is
// null or its first three bytes are zero, or nothing is left after dropping protected
// and settings files.
int EncryptFileList(IGuardUi& ui, const std::vector<std::string>& paths, const uint8_t* digest,
                    int level, const std::string& noZipMask, const ListStepObserver& observer = {});
// Restores the "*.~de" files of paths; the first file that needs a key asks for the
// password. Returns how many were restored. A cancelled password prompt ends the run.
int DecryptFileList(IGuardUi& ui, const std::vector<std::string>& paths,
                    const ListStepObserver& observer = {});
// The same for entries a scan found in folders (KeepEncryptEntries / KeepDecryptEntries
// already applied): every folder is the one the scan recorded.
int EncryptEntryList(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                     const uint8_t* digest, int level, const std::string& noZipMask,
                     const ListStepObserver& observer = {});
int DecryptEntryList(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                     const ListStepObserver& observer = {});

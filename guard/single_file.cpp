#include "guard/single_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"
#include "guard/batch_detail.h"
#include "guard/encryption_settings.h"
#include "guard/held_folders.h"

using namespace batch_detail;

int ProgressStep(uint64_t /*total*/, uint64_t /*done*/, uint64_t chunk, void* user) {
  auto* progress = static_cast<IProgressWindow*>(user);
  if (!progress) return 1;
  if (progress->IsCancelled()) return 0;
  progress->SetBarStep(chunk / 10);
  progress->StepBar();
  progress->PumpMessages(true);
  progress->Show();
  return 1;
}

// The wipes of a batch of several files: the bar moves, but a cancel does not cut them
// short. Those files were all encoded before the cancel, and one at a time each would
// have been wiped to its end before the run saw it; the run ends after the commit. A
// file alone in its batch (any large file) stops its overwriting at a cancel, as ever.
static int WipeStepToTheEnd(uint64_t total, uint64_t done, uint64_t chunk, void* user) {
  ProgressStep(total, done, chunk, user);
  return 1;
}

// ---- protect ----

CEncryptBatch::~CEncryptBatch() {
  for (const Item& item : m_items) {
    if (!item.renamed) RemoveOwnFile(item.dir, item.tempName, item.written);
  }
}

void CEncryptBatch::Fail(Item& item, int result, std::string message, MsgIcon icon) {
  item.result = result;
  item.message = std::move(message);
  item.icon = icon;
}

int CEncryptBatch::Add(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                       IProgressWindow* progress, size_t tag) {
  const FileEntry entry = EntryOfPath(Folders(), path);
  if (entry.folder == FileEntry::kNoFolder)
    return EncryptFailed(ui, progress, path, std::strerror(errno));
  return Add(ui, entry, digest, level, progress, tag);
}

int CEncryptBatch::Add(IGuardUi& ui, const FileEntry& entry, const uint8_t digest[32], int level,
                       IProgressWindow* progress, size_t tag, const struct stat* seen) {
  // A file that does not join the batch keeps no folder open: a run of many failed
  // files would otherwise run out of descriptors.
  const auto mark = HeldMark();
  const int result = Encode(ui, entry, digest, level, progress, tag, seen);
  if (result != ENCRYPT_PENDING) ReleaseFrom(mark);
  return result;
}

int CEncryptBatch::Encode(IGuardUi& ui, const FileEntry& entry, const uint8_t digest[32], int level,
                          IProgressWindow* progress, size_t tag, const struct stat* seen) {
  const std::string& path = entry.path;
  // Checked against what the run collected before anything is done in it, and held
  // (so that its sync reports what goes wrong after) until the commit.
  const int dir = HoldFolder(entry.folder, FolderOf(path));
  if (dir < 0) return EncryptFailed(ui, progress, path, FolderFailureReason(errno));
  struct stat st {};
  if (seen) {
    st = *seen;
  } else if (::fstatat(dir, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return EncryptFailed(ui, progress, path, std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode)) return EncryptFailed(ui, progress, path, "It is a symbolic link.");
  if (!S_ISREG(st.st_mode)) return EncryptFailed(ui, progress, path, "It is not a regular file.");
  if (st.st_nlink > 1) return EncryptFailed(ui, progress, path, HardLinkReason(st.st_nlink));

  Item item;
  item.tag = tag;
  item.path = path;
  item.target = ProtectedPathOf(path);
  item.dir = dir;
  item.folder = ParentFolder(path);
  item.name = entry.name;
  item.targetName = ProtectedPathOf(entry.name);
  int result = 0;
  int err = 0;
  {
    CFileCodec codec;
    codec.m_bufferSize = kCodecBufferSize;
    codec.m_usePasswordText = 0;
    std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
    codec.m_level = level;
    codec.m_folder = dir;
    codec.m_source = entry.name;
    codec.m_createNew = true;
    codec.m_deferSync = true;
    // A taken temporary name (planted, or left over) is never written through: another.
    for (int attempt = 0; attempt < 4; ++attempt) {
      item.tempName = TempPathFor(item.targetName);
      codec.m_destination = item.tempName;
      result = codec.Encode(ProgressStep, progress);
      if (result != CODEC_IO_ERROR || codec.LastError().err != EEXIST ||
          codec.LastError().path != item.tempName) {
        break;
      }
    }
    err = codec.LastError().err;
    item.encoded = codec.SourceStat();
    item.written = codec.DestinationStat();
  }
  if (result != CODEC_OK) {
    RemoveOwnFile(item.dir, item.tempName, item.written);
    if (result == CODEC_CANCELLED) return ENCRYPT_CANCELLED;
    return EncryptFailed(ui, progress, path, CodecFailureReason(result, err));
  }
  Book(item.path, item.target, item.encoded);
  m_items.push_back(std::move(item));
  return ENCRYPT_PENDING;
}

// Step 2 of Commit: the names, for the files whose content is durable (dataErrs[i] == 0).
// What has the name must be the file written: someone who can write the folder could
// have swapped the temporary name, and no plain file is wiped for a file we did not write.
// Returns the folders that got a new name; renamed counts the files.
std::set<std::string> CEncryptBatch::RenameWritten(const std::vector<int>& dataErrs,
                                                   size_t& renamed) {
  std::set<std::string> renamedIn;
  for (size_t i = 0; i < m_items.size(); ++i) {
    Item& item = m_items[i];
    if (dataErrs[i] != 0) {
      RemoveOwnFile(item.dir, item.tempName, item.written);
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, std::strerror(dataErrs[i])));
      continue;
    }
    Announce(BatchStep::Rename, item.target);
    if (::renameat(item.dir, item.tempName.c_str(), item.dir, item.targetName.c_str()) != 0) {
      const int e = errno;
      RemoveOwnFile(item.dir, item.tempName, item.written);
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, CannotStoreText(item.target, e)));
      continue;
    }
    item.renamed = true;
    struct stat st {};
    int e = 0;
    if (::fstatat(item.dir, item.targetName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      e = errno;
    } else if (!SameInode(st, item.written)) {
      e = ESTALE;
    }
    if (e != 0) {
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, CannotStoreText(item.target, e)));
      continue;
    }
    renamedIn.insert(FolderOf(item.target));
    ++renamed;
  }
  return renamedIn;
}

// Step 4 of Commit for one file whose protected file is durable: moves the plain file
// aside and overwrites it, unsynced. True when it waits for the sync of the wipes and its
// removal (item.moved); false when it is gone already or left alone (item failed).
bool CEncryptBatch::WipeRenamed(Item& item, IProgressWindow* progress) {
  const FileIdentity expected = IdentityOf(item.encoded);
  uint64_t links = 0;
  int err = 0;
  Announce(BatchStep::Wipe, item.path);
  const WipeOutcome outcome = WipeAt(item.dir, item.name, kWipeMarker, WipeStrideFor(item.path),
                                     m_items.size() > 1 ? WipeStepToTheEnd : ProgressStep, progress,
                                     &expected, links, err, &item.moved);
  switch (outcome) {
    case WipeOutcome::Overwritten:
      return true;
    case WipeOutcome::NotOverwritten:
      // The protected file is durable, so the plain file still goes; the user is told
      // that its content was not overwritten.
      Fail(item, ENCRYPT_NOT_WIPED, NotWipedText(item.path, item.target, err), MsgIcon::Warning);
      return !item.moved.empty();
    case WipeOutcome::Deleted:
      break;
    case WipeOutcome::Changed:
    case WipeOutcome::HardLinked:
      // The protected file holds a version that is no longer the file's content: it
      // goes (its removal is made durable with the wipes), and the plain file stays as
      // the user left it.
      RemoveOwnFile(item.dir, item.targetName, item.written);
      Fail(item, ENCRYPT_FAILED,
           EncryptFailedText(item.path, outcome == WipeOutcome::Changed
                                            ? "changed while it was being protected"
                                            : HardLinkReason(links)));
      break;
    case WipeOutcome::NotOpened:
      Fail(item, ENCRYPT_NOT_WIPED, NotWipedText(item.path, item.target, err), MsgIcon::Warning);
      break;
  }
  return false;
}

void CEncryptBatch::Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done) {
  if (m_items.empty()) {
    // Only failed files since the last commit: their folders are closed all the same.
    ClearBook();
    return;
  }
  // 1. The protected files' content, before any of them takes its name.
  std::vector<BatchFile> files;
  for (const Item& item : m_items)
    files.push_back({item.dir, item.tempName, item.folder + item.tempName, item.written});
  const std::vector<int> dataErrs = SyncFiles(BatchStep::SyncNew, m_folders, files);
  // 2. Their names, checked to hold the files written.
  size_t renamed = 0;
  const std::set<std::string> renamedIn = RenameWritten(dataErrs, renamed);
  // 3. The names, before any plain file is touched.
  const std::map<std::string, int> nameErrs = SyncNames(m_folders, renamed, renamedIn);
  // 4. The wipes, each moved aside and overwritten, not yet synced.
  std::vector<BatchFile> wiped;
  std::vector<Item*> wipedItems;
  for (Item& item : m_items) {
    if (item.result != ENCRYPT_DONE) continue;
    if (const int e = nameErrs.at(FolderOf(item.target)); e != 0) {
      // Without a durable protected file the plain file must not be wiped.
      Fail(item, ENCRYPT_FAILED, EncryptFailedText(item.path, CannotStoreText(item.target, e)));
      continue;
    }
    if (WipeRenamed(item, progress)) {
      struct stat st {};
      st.st_dev = item.encoded.st_dev;
      st.st_ino = item.encoded.st_ino;
      wiped.push_back({item.dir, item.moved, item.folder + item.moved, st});
      wipedItems.push_back(&item);
    }
  }
  // 5. The markers, before their blocks are freed. A failure changes nothing: the
  // protected files are complete, so the plain files go all the same.
  SyncFiles(BatchStep::SyncWipes, m_folders, wiped);
  // 6. The wiped files. Should a removal be lost in a crash, what reappears is a wiped
  // temporary file, which the next run beside it removes.
  for (Item* item : wipedItems) {
    Announce(BatchStep::Unlink, item->folder + item->moved);
    if (::unlinkat(item->dir, item->moved.c_str(), 0) != 0 && item->result == ENCRYPT_DONE) {
      Fail(*item, ENCRYPT_NOT_WIPED, NotWipedText(item->path, item->target, errno),
           MsgIcon::Warning);
    }
  }
  std::vector<Item> items = std::move(m_items);
  m_items.clear();
  ClearBook();
  for (Item& item : items) {
    if (!item.message.empty()) {
      if (progress && !progress->IsCancelled()) progress->Hide();
      ui.ShowMessage(item.message, item.icon, MsgButtons::Ok);
    }
    if (done) done(item.tag, item.result);
  }
}

int EncryptOneFile(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                   IProgressWindow* progress) {
  CEncryptBatch batch;
  const int added = batch.Add(ui, path, digest, level, progress, 0);
  if (added != ENCRYPT_PENDING) return added;
  int result = ENCRYPT_FAILED;
  batch.Commit(ui, progress, [&](size_t, int r) { result = r; });
  return result;
}

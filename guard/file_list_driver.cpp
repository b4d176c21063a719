#include "guard/file_list_driver.h"

#include <sys/stat.h>

#include <cerrno>
#include <set>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/held_folders.h"
#include "guard/protect_settings.h"
#include "guard/single_file.h"

namespace {

constexpr const char* kOverwritePrompt =
    "The file %s is already existed, Do you want to overwrite?";

// Advances the bar by a skipped file's share; false when the run was cancelled.
bool SkipShare(IProgressWindow* progress, uint64_t share) {
  return ProgressStep(1, 1, share, progress) != 0;
}

// A file met twice (named twice, matched by two patterns, reached through a link to its
// folder) is worked on once, at its first place in the list: a second pass would wipe
// a file the first one protects, or protect the markers the first one wrote.
void KeepFirstOfEachFile(std::vector<FileEntry>& entries) {
  std::set<std::pair<uint64_t, uint64_t>> seen;
  std::erase_if(entries, [&](const FileEntry& e) {
    return e.inode != 0 && !seen.insert({e.device, e.inode}).second;
  });
}

std::string FolderOf(const std::string& path) {
  const std::string folder = ParentFolder(path);
  return folder.empty() ? std::string("./") : folder;
}

// Resolves the folders of paths, parents before their subfolders, so that a folder below
// another one of the run is reached from it by descriptor.
void ResolveFoldersOf(CHeldFolders& folders, const std::vector<std::string>& paths) {
  std::set<std::string> sorted;
  for (const std::string& p : paths) sorted.insert(FolderOf(p));
  for (const std::string& f : sorted) folders.Resolve(f);
}

// Entries for paths (those that keep passes), read in their folders; a folder is held
// while its files are read in a row.
void AddFilesIn(CFileCollector& collector, CHeldFolders& folders,
                const std::vector<std::string>& paths, bool (*keep)(const std::string&)) {
  ResolveFoldersOf(folders, paths);
  size_t held = CHeldFolders::kNone;
  int fd = -1;
  for (const std::string& path : paths) {
    if (!keep(path)) continue;
    const size_t index = folders.Resolve(FolderOf(path));
    if (index != held) {
      if (held != CHeldFolders::kNone && fd >= 0) folders.Release(held);
      held = index;
      fd = index == CHeldFolders::kNone ? -1 : folders.Acquire(index);
    }
    collector.AddFileIn(fd, index == CHeldFolders::kNone ? FileEntry::kNoFolder : index, path,
                        LastPathComponent(path));
  }
  if (held != CHeldFolders::kNone && fd >= 0) folders.Release(held);
}

bool AnyPath(const std::string&) {
  return true;
}

bool ProtectedNotTemp(const std::string& path) {
  return IsProtectedPath(path) && !IsTempName(path);
}

}  // namespace

std::vector<FileEntry> PrepareEncryptEntries(const std::vector<std::string>& paths) {
  CHeldFolders folders;
  return PrepareEncryptEntries(paths, folders);
}

std::vector<FileEntry> PrepareDecryptEntries(const std::vector<std::string>& paths) {
  CHeldFolders folders;
  return PrepareDecryptEntries(paths, folders);
}

std::vector<FileEntry> KeepEncryptEntries(std::vector<FileEntry> entries) {
  std::erase_if(entries, [](const FileEntry& e) {
    return MatchMask(e.path, kProtectedPattern) || MatchMask(e.path, kSettingsPattern) ||
           IsTempName(e.path);
  });
  KeepFirstOfEachFile(entries);
  return entries;
}

std::vector<FileEntry> KeepDecryptEntries(std::vector<FileEntry> entries) {
  std::erase_if(entries, [](const FileEntry& e) { return !ProtectedNotTemp(e.path); });
  KeepFirstOfEachFile(entries);
  return entries;
}

std::vector<FileEntry> PrepareEncryptEntries(const std::vector<std::string>& paths,
                                             CHeldFolders& folders) {
  CFileCollector collector;
  AddFilesIn(collector, folders, paths, AnyPath);
  return KeepEncryptEntries(std::move(collector.Entries()));
}

std::vector<FileEntry> PrepareDecryptEntries(const std::vector<std::string>& paths,
                                             CHeldFolders& folders) {
  CFileCollector collector;
  AddFilesIn(collector, folders, paths, ProtectedNotTemp);
  return KeepDecryptEntries(std::move(collector.Entries()));
}

std::vector<FileEntry> EntriesOfPaths(const std::vector<std::string>& paths,
                                      CHeldFolders& folders) {
  CFileCollector collector;
  AddFilesIn(collector, folders, paths, AnyPath);
  return std::move(collector.Entries());
}

uint64_t TotalSize(const std::vector<FileEntry>& entries) {
  uint64_t total = 0;
  for (const FileEntry& e : entries) total += e.size;
  return total;
}

void NormalizeProtectParameters(int& level, std::string& noZipMask) {
  level = UsableZipLevel(level);
  if (noZipMask.empty()) noZipMask = kDefaultNoZipMask;
}

bool IsUsableDigest(const uint8_t* digest) {
  return IsUsableKeyDigest(digest);
}

void RemoveStaleTempFilesIn(const std::vector<std::string>& folders) {
  std::set<std::string> seen;
  for (const std::string& f : folders) {
    const std::string folder = f.empty() ? std::string("./") : WithTrailingSlash(f);
    if (!seen.insert(folder).second) continue;
    // One at a time: a long list of folders keeps one descriptor open.
    CHeldFolders held;
    const size_t index = held.OpenTop(folder);
    const int fd = held.Acquire(index);
    if (fd < 0) continue;
    RemoveStaleTempFilesAt(fd, WipeStaleTempFileAt);
    held.Release(index);
  }
}

void RemoveStaleTempFilesIn(CHeldFolders& folders) {
  for (size_t index = 0; index < folders.Count(); ++index) {
    const int fd = folders.Acquire(index);
    if (fd < 0) continue;
    RemoveStaleTempFilesAt(fd, WipeStaleTempFileAt);
    folders.Release(index);
  }
}

void RemoveStaleTempFilesBeside(CHeldFolders& folders, const std::vector<std::string>& paths) {
  ResolveFoldersOf(folders, paths);
  std::set<size_t> seen;
  for (const std::string& path : paths) {
    const size_t index = folders.Resolve(FolderOf(path));
    if (index == CHeldFolders::kNone || !seen.insert(index).second) continue;
    const int fd = folders.Acquire(index);
    if (fd < 0) continue;
    RemoveStaleTempFilesAt(fd, WipeStaleTempFileAt);
    folders.Release(index);
  }
}

void RemoveStaleTempFilesBeside(CHeldFolders& folders, const std::vector<FileEntry>& entries) {
  std::set<size_t> seen;
  for (const FileEntry& e : entries) {
    if (e.folder == FileEntry::kNoFolder || !seen.insert(e.folder).second) continue;
    const int fd = folders.Acquire(e.folder);
    if (fd < 0) continue;
    RemoveStaleTempFilesAt(fd, WipeStaleTempFileAt);
    folders.Release(e.folder);
  }
}

// An entry is known by the device and inode its scan recorded: no name is resolved
// again to learn it.
bool CommitBeforeEntry(const CEncryptBatch& batch, const FileEntry& entry) {
  return batch.WouldOverflow(entry.size) || batch.Holds(entry.path, entry.device, entry.inode) ||
         batch.Holds(ProtectedPathOf(entry.path), 0, 0);
}

bool CommitBeforeEntry(const CDecryptBatch& batch, const FileEntry& entry) {
  return batch.WouldOverflow(entry.size) || batch.Holds(entry.path, entry.device, entry.inode) ||
         batch.Holds(PlainPathOf(entry.path), 0, 0);
}

ListStep StepOfEncryptResult(int result) {
  return result == ENCRYPT_DONE ? ListStep::Done : ListStep::NotDone;
}

ListStep StepOfDecryptResult(int result) {
  switch (result) {
    case DECRYPT_DONE:
      return ListStep::Done;
    case DECRYPT_PROMPT_CANCELLED:
      return ListStep::Stop;
    default:
      return ListStep::NotDone;
  }
}

namespace {

// Whether the entry's file (or, with other, that name beside it) is there: 1, 0, or -1
// when its folder cannot be reached (Add says why).
// st (when given) receives the status of what was found.
int Presence(CBatchBook* batch, const FileEntry& entry, const std::string* other,
             struct stat* st = nullptr) {
  const std::string& path = other ? *other : entry.path;
  if (!batch || entry.folder == FileEntry::kNoFolder) return PathExists(path) ? 1 : 0;
  const int found = batch->Lookup(entry.folder, LastPathComponent(path), st);
  return found < 0 && errno == ENOENT ? 0 : found;
}

}  // namespace

ListStep EncryptListEntry(IGuardUi& ui, IProgressWindow* progress, const FileEntry& entry,
                          const uint8_t digest[32], int level, const std::string& noZipMask,
                          CEncryptBatch* batch, size_t tag, const std::function<void()>& commit) {
  if (progress) progress->SetStatusText(entry.path);
  const uint64_t share = 2 * entry.size;
  // Gone since it was collected: skipped. One that is there but cannot be read fails
  // with its reason in EncryptOneFile.
  // The file's status as found here is the one its protect starts from, unless a
  // question came in between.
  struct stat seen {};
  bool fresh = true;
  const int present = Presence(batch, entry, nullptr, &seen);
  if (present == 0) return SkipShare(progress, share) ? ListStep::NotDone : ListStep::Stop;
  const std::string protectedPath = ProtectedPathOf(entry.path);
  // Whatever has the name, readable or not, would be replaced: ask.
  if (present > 0 && Presence(batch, entry, &protectedPath) != 0) {
    fresh = false;
    if (commit) commit();
    if (progress && !progress->IsCancelled()) progress->Hide();
    const int answer = ui.ShowMessage(FormatText(kOverwritePrompt, {protectedPath}),
                                      MsgIcon::Question, MsgButtons::YesNo);
    if (answer != MSG_YES) return SkipShare(progress, share) ? ListStep::NotDone : ListStep::Stop;
  }
  if (progress && !progress->IsCancelled()) progress->Show();
  const int useLevel = MatchMaskList(entry.path, noZipMask) ? 0 : level;
  if (!batch)
    return StepOfEncryptResult(EncryptOneFile(ui, entry.path, digest, useLevel, progress));
  const int added = entry.folder == FileEntry::kNoFolder
                        ? batch->Add(ui, entry.path, digest, useLevel, progress, tag)
                        : batch->Add(ui, entry, digest, useLevel, progress, tag,
                                     fresh && present > 0 ? &seen : nullptr);
  return added == ENCRYPT_PENDING ? ListStep::Pending : StepOfEncryptResult(added);
}

ListStep DecryptListEntry(IGuardUi& ui, IProgressWindow* progress, const FileEntry& entry,
                          uint8_t digest[32], CDecryptBatch* batch, size_t tag,
                          const std::function<void()>& commit) {
  const std::string target = PlainPathOf(entry.path);
  if (progress) progress->SetStatusText(entry.path);
  struct stat seen {};
  bool fresh = true;
  const int present = Presence(batch, entry, nullptr, &seen);
  if (present == 0) {
    return SkipShare(progress, entry.size) ? ListStep::NotDone : ListStep::Stop;
  }
  if (present > 0 && Presence(batch, entry, &target) != 0) {
    fresh = false;
    if (commit) commit();
    if (progress && !progress->IsCancelled()) progress->Hide();
    const int answer = ui.ShowMessage(FormatText(kOverwritePrompt, {LastPathComponent(target)}),
                                      MsgIcon::Question, MsgButtons::YesNo);
    if (answer != MSG_YES) {
      return SkipShare(progress, entry.size) ? ListStep::NotDone : ListStep::Stop;
    }
  }
  if (progress && !progress->IsCancelled()) progress->Show();
  if (!batch) return StepOfDecryptResult(DecryptOneFile(ui, entry.path, digest, progress));
  const int added =
      entry.folder == FileEntry::kNoFolder
          ? batch->Add(ui, entry.path, digest, progress, tag)
          : batch->Add(ui, entry, digest, progress, tag, fresh && present > 0 ? &seen : nullptr);
  return added == DECRYPT_PENDING ? ListStep::Pending : StepOfDecryptResult(added);
}

namespace {
int EncryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   const uint8_t* digest, int level, const std::string& noZip,
                   const ListStepObserver& observer);
int DecryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   const ListStepObserver& observer);
}  // namespace

int EncryptFileList(IGuardUi& ui, const std::vector<std::string>& paths, const uint8_t* digest,
                    int level, const std::string& noZipMask, const ListStepObserver& observer) {
  if (paths.empty() || !IsUsableDigest(digest)) return 0;
  std::string noZip = noZipMask;
  NormalizeProtectParameters(level, noZip);
  CHeldFolders folders;
  RemoveStaleTempFilesBeside(folders, paths);
  const std::vector<FileEntry> entries = PrepareEncryptEntries(paths, folders);
  return EncryptEntries(ui, folders, entries, digest, level, noZip, observer);
}

int EncryptEntryList(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                     const uint8_t* digest, int level, const std::string& noZipMask,
                     const ListStepObserver& observer) {
  if (entries.empty() || !IsUsableDigest(digest)) return 0;
  std::string noZip = noZipMask;
  NormalizeProtectParameters(level, noZip);
  RemoveStaleTempFilesBeside(folders, entries);
  return EncryptEntries(ui, folders, entries, digest, level, noZip, observer);
}

namespace {

int EncryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   const uint8_t* digest, int level, const std::string& noZip,
                   const ListStepObserver& observer) {
  if (entries.empty()) return 0;
  std::unique_ptr<IProgressWindow> progress = ui.OpenProgress("Encrypting");
  if (progress) progress->SetBarRange(0, (2 * TotalSize(entries)) / 10, 1);
  int count = 0;
  auto book = [&](size_t index, ListStep step) {
    if (observer) observer(entries[index], step);
    if (step == ListStep::Done) ++count;
  };
  CEncryptBatch batch;
  batch.UseFolders(&folders);
  auto commit = [&] {
    batch.Commit(ui, progress.get(),
                 [&](size_t tag, int result) { book(tag, StepOfEncryptResult(result)); });
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    if (progress && progress->IsCancelled()) break;
    if (CommitBeforeEntry(batch, entries[i])) commit();
    const ListStep step =
        EncryptListEntry(ui, progress.get(), entries[i], digest, level, noZip, &batch, i, commit);
    if (step == ListStep::Pending) {
      if (batch.Full()) commit();
      continue;
    }
    book(i, step);
    if (step == ListStep::Stop) break;
  }
  // Also after a cancel: the files already encoded are finished, as they would have been
  // one at a time.
  commit();
  if (progress) progress->CloseProgress();
  ui.RestoreFocus();
  return count;
}

}  // namespace

int DecryptFileList(IGuardUi& ui, const std::vector<std::string>& paths,
                    const ListStepObserver& observer) {
  if (paths.empty()) return 0;
  CHeldFolders folders;
  RemoveStaleTempFilesBeside(folders, paths);
  const std::vector<FileEntry> entries = PrepareDecryptEntries(paths, folders);
  return DecryptEntries(ui, folders, entries, observer);
}

int DecryptEntryList(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                     const ListStepObserver& observer) {
  if (entries.empty()) return 0;
  RemoveStaleTempFilesBeside(folders, entries);
  return DecryptEntries(ui, folders, entries, observer);
}

namespace {

int DecryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   const ListStepObserver& observer) {
  if (entries.empty()) return 0;
  std::unique_ptr<IProgressWindow> progress = ui.OpenProgress("Decrypting");
  if (progress) progress->SetBarRange(0, TotalSize(entries) / 10, 1);
  // All zero: the first file the codec can read leads to the password prompt.
  SecretKey digest;
  int count = 0;
  auto book = [&](size_t index, ListStep step) {
    if (observer) observer(entries[index], step);
    if (step == ListStep::Done) ++count;
  };
  CDecryptBatch batch;
  batch.UseFolders(&folders);
  auto commit = [&] {
    batch.Commit(ui, progress.get(),
                 [&](size_t tag, int result) { book(tag, StepOfDecryptResult(result)); });
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    if (progress && progress->IsCancelled()) break;
    if (CommitBeforeEntry(batch, entries[i])) commit();
    const ListStep step =
        DecryptListEntry(ui, progress.get(), entries[i], digest.data(), &batch, i, commit);
    if (step == ListStep::Pending) {
      if (batch.Full()) commit();
      continue;
    }
    book(i, step);
    if (step == ListStep::Stop) break;
  }
  commit();
  if (progress) progress->CloseProgress();
  ui.RestoreFocus();
  return count;
}

}  // namespace

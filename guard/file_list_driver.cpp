#include "guard/file_list_driver.h"

#include <set>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/protect_settings.h"
#include "guard/single_file.h"

namespace {

constexpr const char* kOverwritePrompt =
    "The file %s is already existed, Do you want to overwrite?";

// Advances the bar by a skipped file's share; false when the run was cancelled.
bool SkipShare(IProgressWindow* progress, uint64_t share) {
  return ProgressStep(1, 1, share, progress) != 0;
}

std::vector<std::string> ParentFoldersOf(const std::vector<std::string>& paths) {
  std::set<std::string> folders;
  for (const std::string& p : paths) folders.insert(ParentFolder(p));
  return {folders.begin(), folders.end()};
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

}  // namespace

std::vector<FileEntry> PrepareEncryptEntries(const std::vector<std::string>& paths) {
  CFileCollector collector;
  for (const std::string& path : paths) collector.AddFile(path);
  collector.RemoveMatching(kProtectedPattern);
  collector.RemoveMatching(kSettingsPattern);
  std::vector<FileEntry> entries = std::move(collector.Entries());
  std::erase_if(entries, [](const FileEntry& e) { return IsTempName(e.path); });
  KeepFirstOfEachFile(entries);
  return entries;
}

std::vector<FileEntry> PrepareDecryptEntries(const std::vector<std::string>& paths) {
  CFileCollector collector;
  for (const std::string& path : paths) {
    if (IsProtectedPath(path) && !IsTempName(path)) collector.AddFile(path);
  }
  std::vector<FileEntry> entries = std::move(collector.Entries());
  KeepFirstOfEachFile(entries);
  return entries;
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
  return digest && (digest[0] != 0 || digest[1] != 0 || digest[2] != 0);
}

void RemoveStaleTempFilesIn(const std::vector<std::string>& folders) {
  std::set<std::string> seen;
  for (const std::string& f : folders) {
    const std::string folder = f.empty() ? std::string("./") : WithTrailingSlash(f);
    if (seen.insert(folder).second) RemoveStaleTempFiles(folder, WipeStaleTempFile);
  }
}

void RemoveStaleTempFilesBeside(const std::vector<FileEntry>& entries) {
  std::vector<std::string> folders;
  for (const FileEntry& e : entries) folders.push_back(ParentFolder(e.path));
  RemoveStaleTempFilesIn(folders);
}

bool CommitBeforeEntry(const CEncryptBatch& batch, const FileEntry& entry) {
  return batch.WouldOverflow(entry.size) || batch.Holds(entry.path) ||
         batch.Holds(ProtectedPathOf(entry.path));
}

bool CommitBeforeEntry(const CDecryptBatch& batch, const FileEntry& entry) {
  return batch.WouldOverflow(entry.size) || batch.Holds(entry.path) ||
         batch.Holds(PlainPathOf(entry.path));
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

ListStep EncryptListEntry(IGuardUi& ui, IProgressWindow* progress, const FileEntry& entry,
                          const uint8_t digest[32], int level, const std::string& noZipMask,
                          CEncryptBatch* batch, size_t tag) {
  if (progress) progress->SetStatusText(entry.path);
  const uint64_t share = 2 * entry.size;
  // Gone since it was collected: skipped. One that is there but cannot be read fails
  // with its reason in EncryptOneFile.
  if (!PathExists(entry.path))
    return SkipShare(progress, share) ? ListStep::NotDone : ListStep::Stop;
  const std::string protectedPath = ProtectedPathOf(entry.path);
  // Whatever has the name, readable or not, would be replaced: ask.
  if (PathExists(protectedPath)) {
    if (progress && !progress->IsCancelled()) progress->Hide();
    const int answer = ui.ShowMessage(FormatText(kOverwritePrompt, {protectedPath}),
                                      MsgIcon::Question, MsgButtons::YesNo);
    if (answer != MSG_YES) return SkipShare(progress, share) ? ListStep::NotDone : ListStep::Stop;
  }
  if (progress && !progress->IsCancelled()) progress->Show();
  const int useLevel = MatchMaskList(entry.path, noZipMask) ? 0 : level;
  if (!batch)
    return StepOfEncryptResult(EncryptOneFile(ui, entry.path, digest, useLevel, progress));
  const int added = batch->Add(ui, entry.path, digest, useLevel, progress, tag);
  return added == ENCRYPT_PENDING ? ListStep::Pending : StepOfEncryptResult(added);
}

ListStep DecryptListEntry(IGuardUi& ui, IProgressWindow* progress, const FileEntry& entry,
                          uint8_t digest[32], CDecryptBatch* batch, size_t tag) {
  const std::string target = PlainPathOf(entry.path);
  if (progress) progress->SetStatusText(entry.path);
  if (!PathExists(entry.path)) {
    return SkipShare(progress, entry.size) ? ListStep::NotDone : ListStep::Stop;
  }
  if (PathExists(target)) {
    if (progress && !progress->IsCancelled()) progress->Hide();
    const int answer = ui.ShowMessage(FormatText(kOverwritePrompt, {LastPathComponent(target)}),
                                      MsgIcon::Question, MsgButtons::YesNo);
    if (answer != MSG_YES) {
      return SkipShare(progress, entry.size) ? ListStep::NotDone : ListStep::Stop;
    }
  }
  if (progress && !progress->IsCancelled()) progress->Show();
  if (!batch) return StepOfDecryptResult(DecryptOneFile(ui, entry.path, digest, progress));
  const int added = batch->Add(ui, entry.path, digest, progress, tag);
  return added == DECRYPT_PENDING ? ListStep::Pending : StepOfDecryptResult(added);
}

int EncryptFileList(IGuardUi& ui, const std::vector<std::string>& paths, const uint8_t* digest,
                    int level, const std::string& noZipMask, const ListStepObserver& observer) {
  if (paths.empty() || !IsUsableDigest(digest)) return 0;
  std::string noZip = noZipMask;
  NormalizeProtectParameters(level, noZip);
  RemoveStaleTempFilesIn(ParentFoldersOf(paths));
  const std::vector<FileEntry> entries = PrepareEncryptEntries(paths);
  if (entries.empty()) return 0;
  std::unique_ptr<IProgressWindow> progress = ui.OpenProgress("Encrypting");
  if (progress) progress->SetBarRange(0, (2 * TotalSize(entries)) / 10, 1);
  int count = 0;
  auto book = [&](size_t index, ListStep step) {
    if (observer) observer(entries[index], step);
    if (step == ListStep::Done) ++count;
  };
  CEncryptBatch batch;
  auto commit = [&] {
    batch.Commit(ui, progress.get(),
                 [&](size_t tag, int result) { book(tag, StepOfEncryptResult(result)); });
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    if (progress && progress->IsCancelled()) break;
    if (CommitBeforeEntry(batch, entries[i])) commit();
    const ListStep step =
        EncryptListEntry(ui, progress.get(), entries[i], digest, level, noZip, &batch, i);
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

int DecryptFileList(IGuardUi& ui, const std::vector<std::string>& paths,
                    const ListStepObserver& observer) {
  if (paths.empty()) return 0;
  RemoveStaleTempFilesIn(ParentFoldersOf(paths));
  const std::vector<FileEntry> entries = PrepareDecryptEntries(paths);
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
  auto commit = [&] {
    batch.Commit(ui, progress.get(),
                 [&](size_t tag, int result) { book(tag, StepOfDecryptResult(result)); });
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    if (progress && progress->IsCancelled()) break;
    if (CommitBeforeEntry(batch, entries[i])) commit();
    const ListStep step =
        DecryptListEntry(ui, progress.get(), entries[i], digest.data(), &batch, i);
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

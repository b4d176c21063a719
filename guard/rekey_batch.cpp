#include "guard/rekey_batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "guard/batch_detail.h"
#include "guard/file_list_driver.h"
#include "guard/held_folders.h"
#include "guard/key_runs.h"

using namespace batch_detail;

namespace {

// Re-keys into a fresh temporary name beside the file; a taken name is never written
// through.
PayloadCheck RekeyBeside(int dir, const std::string& name, const uint8_t oldKey[32],
                         const uint8_t newKey[32], ProgressProc progress, void* user,
                         std::string& temp) {
  PayloadCheck check;
  for (int attempt = 0; attempt < 4; ++attempt) {
    temp = TempPathFor(name);
    check = RekeyProtectedFileAt(dir, name, temp, oldKey, newKey, false, progress, user);
    if (check.result != CODEC_IO_ERROR || check.error.err != EEXIST || check.error.path != temp) {
      break;
    }
  }
  return check;
}

// ---- the rest works on names and results ----

bool SameVersion(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string ReasonOf(const PayloadCheck& check) {
  switch (check.result) {
    case CODEC_ZLIB_ERROR:
      return "damaged (at byte " + std::to_string(check.damagedAt) + ")";
    case CODEC_NO_MEMORY:
      return "not enough memory";
    default:
      return check.error.ok() ? std::string("reading or writing failed") : check.error.Reason();
  }
}

}  // namespace

std::string RekeyRefusal(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (st.st_nlink > 1) {
    return FormatText("has %s hard links; the other names would keep the old password",
                      {std::to_string(st.st_nlink)});
  }
  if (::geteuid() != 0 && st.st_uid != ::geteuid()) {
    return "it belongs to another user; its new form would be yours";
  }
  return {};
}

CRekeyBatch::~CRekeyBatch() {
  for (const Item& item : m_items) {
    if (!item.renamed) RemoveOwnFile(item.dir, item.tempName, item.written);
  }
}

void CRekeyBatch::Fail(Item& item, std::string reason) {
  item.result = REKEY_FAILED;
  item.reason = std::move(reason);
}

int CRekeyBatch::Add(const FileEntry& entry, const uint8_t oldKey[32], const uint8_t newKey[32],
                     ProgressProc progress, void* user, size_t tag, const RekeyResultProc& done) {
  // A file that does not join the batch keeps no folder open.
  const auto mark = HeldMark();
  const int result = Rekey(entry, oldKey, newKey, progress, user, tag, done);
  if (result != REKEY_PENDING) ReleaseFrom(mark);
  return result;
}

int CRekeyBatch::Rekey(const FileEntry& entry, const uint8_t oldKey[32], const uint8_t newKey[32],
                       ProgressProc progress, void* user, size_t tag, const RekeyResultProc& done) {
  auto finish = [&](int result, const std::string& reason) {
    if (done) done(tag, result, reason);
    return result;
  };
  // Checked against what the run found before anything is done in it, and held (so
  // that its sync reports what goes wrong after) until the commit.
  const int dir = HoldFolder(entry.folder, FolderOf(entry.path));
  if (dir < 0) return finish(REKEY_FAILED, FolderFailureReason(errno));
  struct stat st {};
  if (::fstatat(dir, entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return finish(REKEY_FAILED, std::strerror(errno));
  }
  if (std::string refusal = RekeyRefusal(st); !refusal.empty()) {
    return finish(REKEY_FAILED, refusal);
  }
  Item item;
  item.tag = tag;
  item.path = entry.path;
  item.dir = dir;
  item.folder = ParentFolder(entry.path);
  item.name = entry.name;
  const PayloadCheck check =
      RekeyBeside(dir, entry.name, oldKey, newKey, progress, user, item.tempName);
  if (check.result == CODEC_OK && !SameInode(check.source, st)) {
    // Replaced (by a link, say) between the look and the open: what was read is not
    // the file that was looked at.
    RemoveOwnFile(dir, item.tempName, check.written);
    return finish(REKEY_FAILED, "changed while its password was changed");
  }
  if (check.result == CODEC_BAD_KEY) return finish(REKEY_WRONG_PASSWORD, {});
  if (check.result == CODEC_CANCELLED) return finish(REKEY_CANCELLED, {});
  if (check.result != CODEC_OK) return finish(REKEY_FAILED, ReasonOf(check));
  item.source = check.source;
  item.written = check.written;
  Book(item.path, item.folder + item.tempName, item.source);
  m_items.push_back(std::move(item));
  return REKEY_PENDING;
}

// Step 2 of Commit: the names, for the files whose content is durable and whose old
// version is still the one read (a file written meanwhile keeps its name and content).
std::set<std::string> CRekeyBatch::RenameWritten(const std::vector<int>& dataErrs,
                                                 size_t& renamed) {
  std::set<std::string> renamedIn;
  for (size_t i = 0; i < m_items.size(); ++i) {
    Item& item = m_items[i];
    struct stat now {};
    if (dataErrs[i] != 0) {
      Fail(item, std::strerror(dataErrs[i]));
    } else if (::fstatat(item.dir, item.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 ||
               !SameVersion(now, item.source)) {
      Fail(item, "changed while its password was changed");
    }
    if (item.result != REKEY_DONE) {
      RemoveOwnFile(item.dir, item.tempName, item.written);
      continue;
    }
    Announce(BatchStep::Rename, item.path);
    // The new file takes the old one's name in one step: after a crash the name holds
    // one of the two whole files.
    if (::renameat(item.dir, item.tempName.c_str(), item.dir, item.name.c_str()) != 0) {
      const int e = errno;
      RemoveOwnFile(item.dir, item.tempName, item.written);
      Fail(item, std::strerror(e));
      continue;
    }
    item.renamed = true;
    renamedIn.insert(FolderOf(item.path));
    ++renamed;
  }
  return renamedIn;
}

void CRekeyBatch::Commit(const RekeyResultProc& done) {
  if (m_items.empty()) return;
  // 1. The new files' content, before any of them takes its name.
  std::vector<BatchFile> files;
  for (const Item& item : m_items)
    files.push_back({item.dir, item.tempName, item.folder + item.tempName, item.written});
  const std::vector<int> dataErrs = SyncFiles(BatchStep::SyncNew, m_folders, files);
  // 2. Their names.
  size_t renamed = 0;
  const std::set<std::string> renamedIn = RenameWritten(dataErrs, renamed);
  // 3. The names. Both versions are whole on the disk, so a rename lost in a crash only
  // leaves the file under the old key; the user is told it may be so.
  const std::map<std::string, int> nameErrs = SyncNames(m_folders, renamed, renamedIn);
  for (Item& item : m_items) {
    if (!item.renamed) continue;
    if (const int e = nameErrs.at(FolderOf(item.path)); e != 0) {
      Fail(item, FormatText("its new password may not survive a crash: %s", {std::strerror(e)}));
    }
  }
  std::vector<Item> items = std::move(m_items);
  m_items.clear();
  ClearBook();
  for (const Item& item : items) {
    if (done) done(item.tag, item.result, item.reason);
  }
}

void RekeyFiles(const std::vector<std::string>& files, const uint8_t oldKey[32],
                const uint8_t newKey[32], int jobs, ProgressProc progress, void* user,
                const std::function<bool()>& stop, const RekeyResultProc& told) {
  RunFiles run;
  run.entries = EntriesOfPaths(files, *run.folders);
  RekeyFiles(run, oldKey, newKey, jobs, progress, user, stop, told);
}

void RekeyFiles(const RunFiles& files, const uint8_t oldKey[32], const uint8_t newKey[32], int jobs,
                ProgressProc progress, void* user, const std::function<bool()>& stop,
                const RekeyResultProc& told) {
  struct Outcome {
    int result = REKEY_CANCELLED;
    std::string reason;
  };
  const std::vector<FileEntry>& entries = files.entries;
  std::vector<Outcome> outcomes(entries.size());
  COrderedRun run(entries.size(),
                  [&](size_t i, bool) { told(i, outcomes[i].result, outcomes[i].reason); });
  const size_t workers = static_cast<size_t>(std::max(jobs, 1));
  std::vector<std::unique_ptr<CRekeyBatch>> batches;
  for (size_t w = 0; w < workers; ++w) {
    batches.push_back(std::make_unique<CRekeyBatch>());
    batches.back()->UseFolders(files.folders.get());
    batches.back()->ShareFoldersAmong(workers);
  }
  const RekeyResultProc finished = [&](size_t i, int result, const std::string& reason) {
    outcomes[i] = {result, reason};
    run.Done(i);
  };
  run.Run(
      jobs,
      [&](size_t w, size_t i) {
        CRekeyBatch& batch = *batches[w];
        if (batch.WouldOverflow(entries[i].size)) batch.Commit(finished);
        batch.Add(entries[i], oldKey, newKey, progress, user, i, finished);
        if (batch.Full()) batch.Commit(finished);
      },
      [&](size_t w) { batches[w]->Commit(finished); }, stop);
}

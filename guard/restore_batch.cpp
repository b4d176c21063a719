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
#include "guard/single_file.h"

using namespace batch_detail;

// ---- restore ----

namespace {

// The protected file's status (seen, or read in dir) in st: why it is not restored, or
// nothing.
std::string SourceRefusal(int dir, const std::string& name, const struct stat* seen,
                          struct stat& st) {
  if (seen) {
    st = *seen;
  } else if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return std::strerror(errno);
  }
  // A link is never restored through: its removal would leave the file it points at.
  if (S_ISLNK(st.st_mode)) return "It is a symbolic link.";
  if (!S_ISREG(st.st_mode)) return "It is not a regular file.";
  return {};
}

}  // namespace

CDecryptBatch::~CDecryptBatch() {
  for (const Item& item : m_items) {
    if (!item.renamed) RemoveOwnFile(item.dir, item.tempName, item.written);
  }
}

void CDecryptBatch::Fail(Item& item, const std::string& reason) {
  item.result = DECRYPT_FAILED;
  item.message = FormatText("Decryption error or can not access the file \"%s\"",
                            {LastPathComponent(item.path)}) +
                 "\n\n" + reason;
}

int CDecryptBatch::Add(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                       IProgressWindow* progress, size_t tag) {
  if (!IsProtectedPath(path)) return DECRYPT_FAILED;
  const FileEntry entry = EntryOfPath(Folders(), path);
  if (entry.folder == FileEntry::kNoFolder)
    return DecryptFailed(ui, progress, path, std::strerror(errno));
  return Add(ui, entry, digest, progress, tag);
}

int CDecryptBatch::Add(IGuardUi& ui, const FileEntry& entry, uint8_t digest[32],
                       IProgressWindow* progress, size_t tag, const struct stat* seen) {
  const auto mark = HeldMark();
  const int result = Decode(ui, entry, digest, progress, tag, seen);
  if (result != DECRYPT_PENDING) ReleaseFrom(mark);
  return result;
}

int CDecryptBatch::Decode(IGuardUi& ui, const FileEntry& entry, uint8_t digest[32],
                          IProgressWindow* progress, size_t tag, const struct stat* seen) {
  const std::string& path = entry.path;
  if (!IsProtectedPath(path)) return DECRYPT_FAILED;
  const int dir = HoldFolder(entry.folder, FolderOf(path));
  if (dir < 0) return DecryptFailed(ui, progress, path, FolderFailureReason(errno));
  struct stat st {};
  if (std::string refusal = SourceRefusal(dir, entry.name, seen, st); !refusal.empty())
    return DecryptFailed(ui, progress, path, refusal);
  Item item;
  item.tag = tag;
  item.path = path;
  item.target = PlainPathOf(path);
  item.source = st;
  item.dir = dir;
  item.folder = ParentFolder(path);
  item.name = entry.name;
  item.targetName = PlainPathOf(entry.name);

  // The restored file is written under a temporary name beside the target and takes the
  // target's name only at the commit; any failure leaves an existing target alone.
  CFileCodec codec;
  codec.m_bufferSize = kCodecBufferSize;
  codec.m_usePasswordText = 0;
  codec.m_deferSync = true;
  std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
  codec.m_folder = dir;
  codec.m_source = entry.name;
  auto decode = [&] {
    int r = CODEC_IO_ERROR;
    // A taken temporary name (planted, or left over) is never written through: another.
    for (int attempt = 0; attempt < 4; ++attempt) {
      item.tempName = TempPathFor(item.targetName);
      codec.m_destination = item.tempName;
      r = codec.Decode(ProgressStep, progress);
      if (r != CODEC_IO_ERROR || codec.LastError().err != EEXIST ||
          codec.LastError().path != item.tempName) {
        break;
      }
    }
    return r;
  };
  // A digest that means "no key" (the run's all-zero start) is never tried: a file sealed
  // under it asks for the password like any other.
  int result = IsUsableKeyDigest(digest) ? decode() : CODEC_BAD_KEY;
  for (int attempts = 0; result == CODEC_BAD_KEY; ++attempts) {
    if (attempts >= kMaxPasswordPrompts) return DECRYPT_FAILED;
    if (progress && !progress->IsCancelled()) progress->Hide();
    std::string password;
    const bool ok = ui.AskPassword(path, password);
    if (progress && !progress->IsCancelled()) progress->Show();
    if (!ok) {
      SecureZero(password.data(), password.size());
      return DECRYPT_PROMPT_CANCELLED;
    }
    GuardKeyDigest(digest, password);
    SecureZero(password.data(), password.size());
    std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
    result = decode();
  }
  if (result == CODEC_CANCELLED) return DECRYPT_CANCELLED;
  if (result != CODEC_OK) {
    return DecryptFailed(
        ui, progress, path,
        // An I/O failure without a system error is a payload that
        // ended too early.
        result == CODEC_ZLIB_ERROR || (result == CODEC_IO_ERROR && codec.LastError().err == 0)
            ? std::string("damaged or not a protected file")
            : CodecFailureReason(result, codec.LastError().err));
  }
  item.written = codec.DestinationStat();
  Book(item.path, item.target, st);
  m_items.push_back(std::move(item));
  return DECRYPT_PENDING;
}

void CDecryptBatch::Commit(IGuardUi& ui, IProgressWindow* progress, const BatchResultProc& done) {
  if (m_items.empty()) {
    ClearBook();
    return;
  }
  // 1. The restored files' content, before any of them takes its name.
  std::vector<BatchFile> files;
  for (const Item& item : m_items)
    files.push_back({item.dir, item.tempName, item.folder + item.tempName, item.written});
  const std::vector<int> dataErrs = SyncFiles(BatchStep::SyncNew, m_folders, files);
  // 2. Their names.
  std::set<std::string> renamedIn;
  size_t renamed = 0;
  for (size_t i = 0; i < m_items.size(); ++i) {
    Item& item = m_items[i];
    if (dataErrs[i] != 0) {
      RemoveOwnFile(item.dir, item.tempName, item.written);
      Fail(item, std::strerror(dataErrs[i]));
      continue;
    }
    Announce(BatchStep::Rename, item.target);
    if (::renameat(item.dir, item.tempName.c_str(), item.dir, item.targetName.c_str()) != 0) {
      const int e = errno;
      RemoveOwnFile(item.dir, item.tempName, item.written);
      Fail(item, std::strerror(e));
      continue;
    }
    item.renamed = true;
    struct stat st {};
    if (::fstatat(item.dir, item.targetName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameInode(st, item.written)) {
      // Not the file we wrote (the temporary name was swapped): the protected file stays.
      Fail(item, "it was replaced while it was restored");
      continue;
    }
    renamedIn.insert(FolderOf(item.target));
    ++renamed;
  }
  // 3. The names, before any protected file is deleted.
  const std::map<std::string, int> nameErrs = SyncNames(m_folders, renamed, renamedIn);
  // 4. The protected files, now that their restored files are durable. A removal lost in
  // a crash leaves both, which loses nothing; a protected file that is not the one
  // decoded any more (protected again meanwhile) stays.
  for (Item& item : m_items) {
    if (item.result != DECRYPT_DONE) continue;
    if (const int e = nameErrs.at(FolderOf(item.target)); e != 0) {
      // The new name may not survive a crash: take the output back and keep the
      // protected file.
      RemoveOwnFile(item.dir, item.targetName, item.written);
      Fail(item, std::strerror(e));
      continue;
    }
    struct stat st {};
    if (::fstatat(item.dir, item.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !SameInode(st, item.source))
      continue;
    Announce(BatchStep::Unlink, item.path);
    if (::unlinkat(item.dir, item.name.c_str(), 0) != 0) {
      // Both files stay (a read-only folder, say); the restore itself succeeded.
    }
  }
  std::vector<Item> items = std::move(m_items);
  m_items.clear();
  ClearBook();
  for (Item& item : items) {
    if (!item.message.empty()) {
      if (progress && !progress->IsCancelled()) progress->Hide();
      ui.ShowMessage(item.message, MsgIcon::Error, MsgButtons::Ok);
    }
    if (done) done(item.tag, item.result);
  }
}

int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress) {
  CDecryptBatch batch;
  const int added = batch.Add(ui, path, digest, progress, 0);
  if (added != DECRYPT_PENDING) return added;
  int result = DECRYPT_FAILED;
  batch.Commit(ui, progress, [&](size_t, int r) { result = r; });
  return result;
}

#include "guard/batch_detail.h"

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
#include "guard/encryption_settings.h"
#include "guard/held_folders.h"
#include "guard/single_file.h"

namespace batch_detail {

// Removes the file this run created under name, and nothing that someone else may have
// put there since (or before: a name that was taken is not ours).
void RemoveOwnFile(int dir, const std::string& name, const struct stat& created) {
  struct stat st {};
  if (created.st_ino == 0 || ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      st.st_dev != created.st_dev || st.st_ino != created.st_ino) {
    return;
  }
  if (::unlinkat(dir, name.c_str(), 0) != 0) {
    // Left for RemoveStaleTempFiles of a later run; nothing else can be done here.
  }
}

std::string HardLinkReason(uint64_t links) {
  return FormatText(
      "has %s hard links; protecting it would leave its content under the other names",
      {std::to_string(links)});
}

std::string CodecFailureReason(int result, int err) {
  switch (result) {
    case CODEC_ZLIB_ERROR:
      return "compression failed";
    case CODEC_NO_MEMORY:
      return "not enough memory";
    default:
      return err != 0 ? std::string(std::strerror(err)) : std::string("reading or writing failed");
  }
}

int EncryptFailed(IGuardUi& ui, IProgressWindow* progress, const std::string& path,
                  const std::string& reason) {
  if (progress && !progress->IsCancelled()) progress->Hide();
  std::string text =
      FormatText("Encryption error or can not access the file \"%s\"", {LastPathComponent(path)});
  if (!reason.empty()) text += "\n\n" + reason;
  ui.ShowMessage(text, MsgIcon::Error, MsgButtons::Ok);
  return ENCRYPT_FAILED;
}

// A restore that failed for a reason other than the password: the user is told, or they
// would take the missing plain file for a restored one.
int DecryptFailed(IGuardUi& ui, IProgressWindow* progress, const std::string& path,
                  const std::string& reason) {
  if (progress && !progress->IsCancelled()) progress->Hide();
  ui.ShowMessage(
      FormatText("Decryption error or can not access the file \"%s\"", {LastPathComponent(path)}) +
          "\n\n" + reason,
      MsgIcon::Error, MsgButtons::Ok);
  return DECRYPT_FAILED;
}

std::string FolderOf(const std::string& path) {
  const std::string folder = ParentFolder(path);
  return folder.empty() ? std::string("./") : folder;
}

std::string EncryptFailedText(const std::string& path, const std::string& reason) {
  std::string text =
      FormatText("Encryption error or can not access the file \"%s\"", {LastPathComponent(path)});
  if (!reason.empty()) text += "\n\n" + reason;
  return text;
}

std::string CannotStoreText(const std::string& target, int err) {
  return FormatText("Cannot store \"%s\": %s",
                    {LastPathComponent(target),
                     err == ESTALE ? "it was replaced while it was stored" : std::strerror(err)});
}

// The warning of a plain file whose protected file is durable but whose wipe failed.
std::string NotWipedText(const std::string& path, const std::string& target, int err) {
  return FormatText(
      "\"%s\" was protected into \"%s\" but not wiped: %s",
      {LastPathComponent(path), LastPathComponent(target), std::strerror(err != 0 ? err : EIO)});
}

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string FolderFailureReason(int err) {
  return err == ESTALE ? std::string(kFolderReplacedReason) : std::string(std::strerror(err));
}

// A path's entry for a batch that resolves its own folders; kNoFolder (errno set) when
// the folder cannot be opened.
FileEntry EntryOfPath(CHeldFolders& folders, const std::string& path) {
  FileEntry e;
  e.path = path;
  e.name = LastPathComponent(path);
  const size_t index = folders.Resolve(FolderOf(path));
  e.folder = index == CHeldFolders::kNone ? FileEntry::kNoFolder : index;
  return e;
}

}  // namespace batch_detail

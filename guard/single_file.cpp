#include "guard/single_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"

namespace {

constexpr int kMaxPasswordPrompts = 3;
// Large enough that a wipe costs a few system calls per megabyte, small enough to stay
// in the cache.
constexpr size_t kWipeBlock = 1u << 20;

// Removes the file this run created under name, and nothing that someone else may have
// put there since (or before: a name that was taken is not ours).
void RemoveOwnFile(const std::string& name, const struct stat& created) {
  struct stat st {};
  if (created.st_ino == 0 || ::lstat(name.c_str(), &st) != 0 || st.st_dev != created.st_dev ||
      st.st_ino != created.st_ino) {
    return;
  }
  if (::unlink(name.c_str()) != 0) {
    // Left for RemoveStaleTempFiles of a later run; nothing else can be done here.
  }
}

enum class WipeOutcome { Deleted, NotOpened, Changed, HardLinked };

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

bool ReadFully(int fd, uint8_t* buf, size_t n, uint64_t offset, size_t& got) {
  got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, buf + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return false;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return true;
}

bool WriteFully(int fd, const uint8_t* buf, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(fd, buf + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

// Moves the complete, synced protected file into place: rename, folder sync. Returns 0
// or the errno of the failed step; renamed tells whether the file already has its name.
// (Encode syncs its output before it reports success.) What now has the name must be
// the file that was written: someone who can write the folder could have swapped the
// temporary name, and the plain file must not be wiped for a file we did not write.
int CommitInPlace(const std::string& temp, const std::string& target, const struct stat& written,
                  bool& renamed) {
  renamed = false;
  if (::rename(temp.c_str(), target.c_str()) != 0) return errno;
  renamed = true;
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return errno;
  if (st.st_dev != written.st_dev || st.st_ino != written.st_ino) return ESTALE;
  if (const SysError e = SyncParentFolder(target); !e.ok()) return e.err;
  return 0;
}

// The wipe of WipeAndDeleteFile. With expected, a file that is not the one that was
// encoded (replaced, written to) is left alone; a file with other names is always left
// alone. err receives the errno when the file could not be opened or moved.
WipeOutcome Wipe(const std::string& path, std::string_view marker, uint64_t stride,
                 ProgressProc callback, void* user, const FileIdentity* expected, uint64_t& links,
                 int& err) {
  err = 0;
  links = 1;
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return WipeOutcome::NotOpened;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = S_ISREG(st.st_mode) ? errno : EINVAL;
    ::close(fd);
    return WipeOutcome::NotOpened;
  }
  if (expected && IdentityOf(st) != *expected) {
    ::close(fd);
    return WipeOutcome::Changed;
  }
  if (st.st_nlink > 1) {
    // Overwriting the shared content would turn the other names into markers.
    links = st.st_nlink;
    ::close(fd);
    return WipeOutcome::HardLinked;
  }
  if (stride == 0) {
    ::close(fd);
    if (::unlink(path.c_str()) == 0) return WipeOutcome::Deleted;
    err = errno;
    return WipeOutcome::NotOpened;
  }
  // Work on the file under a temporary name: an interrupted wipe then leaves a stale
  // temporary file that a later run wipes and removes, not half-wiped content under the
  // real name. The rename is not synced: the protected file is complete and durable
  // already, so should a crash bring the old name back, nothing is lost, and one sync per
  // file less matters when thousands of small files are protected.
  std::string moved;
  int renamed = -1;
  for (int attempt = 0; attempt < 16 && renamed != 0; ++attempt) {
    moved = TempPathFor(path, TempKind::Wipe);
    renamed = RenameNoReplace(path, moved);
    if (renamed != 0 && errno != EEXIST) break;  // a taken name: another one
  }
  if (renamed != 0) {
    err = errno;
    ::close(fd);
    return WipeOutcome::NotOpened;
  }
  struct stat check {};
  if (::lstat(moved.c_str(), &check) != 0 || check.st_dev != st.st_dev ||
      check.st_ino != st.st_ino) {
    // Someone replaced the file between open and rename: put theirs back, touch nothing.
    if (RenameNoReplace(moved, path) != 0) {
      // Left under the temporary name; the next run's stale-file cleanup removes it.
    }
    ::close(fd);
    return WipeOutcome::Changed;
  }

  const uint64_t length = static_cast<uint64_t>(st.st_size);
  const uint64_t m = marker.size();
  if (m > 0) {
    const uint64_t period = stride > UINT64_MAX - m ? UINT64_MAX : stride + m;
    const uint64_t lastStart = (length / period) * period;
    const uint64_t end = lastStart + m;
    std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(kWipeBlock, end)));
    for (uint64_t blockStart = 0; blockStart < end;) {
      const uint64_t blockEnd = std::min<uint64_t>(blockStart + block.size(), end);
      const size_t n = static_cast<size_t>(blockEnd - blockStart);
      size_t got = 0;
      const size_t readable =
          blockStart < length ? static_cast<size_t>(std::min<uint64_t>(n, length - blockStart)) : 0;
      if (!ReadFully(fd, block.data(), readable, blockStart, got)) break;
      std::fill(block.begin() + static_cast<ptrdiff_t>(got),
                block.begin() + static_cast<ptrdiff_t>(n), 0);
      uint64_t k = blockStart < m ? 0 : (blockStart - m) / period + 1;
      uint64_t starts = 0;
      for (; k <= lastStart / period; ++k) {
        const uint64_t at = k * period;
        if (at >= blockEnd) break;
        if (at >= blockStart) ++starts;
        const uint64_t from = std::max(at, blockStart);
        const uint64_t to = std::min(at + m, blockEnd);
        std::memcpy(block.data() + (from - blockStart), marker.data() + (from - at),
                    static_cast<size_t>(to - from));
      }
      if (!WriteFully(fd, block.data(), n, blockStart)) break;
      blockStart = blockEnd;
      if (callback && starts > 0 &&
          callback(length, blockStart - n,
                   starts > UINT64_MAX / period ? UINT64_MAX : starts * period, user) == 0) {
        break;
      }
    }
    SecureZero(block.data(), block.size());
  }
  // Without the sync the markers might never reach the disk before the blocks are freed.
  const bool synced = ::fsync(fd) == 0;
  if (::close(fd) != 0 || !synced) {
    // Nothing to be done: the protected file is complete, so the file goes all the same.
  }
  // No folder sync: should the removal be lost in a crash, what reappears is a wiped
  // temporary file, which the next run beside it removes.
  if (::unlink(moved.c_str()) == 0) return WipeOutcome::Deleted;
  err = errno;
  return WipeOutcome::NotOpened;
}

}  // namespace

uint64_t WipeStrideFor(std::string_view path) {
  if (path.size() < 3) return 30;
  const std::string tail = AsciiLower(path.substr(path.size() - 3));
  if (tail == "txt" || tail == "doc" || tail == "xls") return 10;
  if (tail == "zip" || tail == "rar" || tail == "jpg" || tail == "gif" || tail == "avi" ||
      tail == "mpg" || tail == "wmv") {
    return 200;
  }
  if (tail == "exe") return 300;
  return 30;
}

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

int WipeAndDeleteFile(const std::string& path, std::string_view marker, uint64_t stride,
                      ProgressProc callback, void* user) {
  uint64_t links = 0;
  int err = 0;
  return Wipe(path, marker, stride, callback, user, nullptr, links, err) == WipeOutcome::Deleted
             ? 1
             : 0;
}

void WipeStaleTempFile(const std::string& tempPath) {
  // The name holds the plain file's name, whose end picks the stride.
  std::string name = LastPathComponent(tempPath).substr(kTempPrefix.size());
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  uint64_t links = 0;
  int err = 0;
  if (Wipe(tempPath, kWipeMarker, WipeStrideFor(name), nullptr, nullptr, nullptr, links, err) !=
      WipeOutcome::Deleted) {
    // Not ours to overwrite or not there any more; a name is all that can go.
    ::unlink(tempPath.c_str());
  }
}

int EncryptOneFile(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                   IProgressWindow* progress) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return EncryptFailed(ui, progress, path, std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return EncryptFailed(ui, progress, path, "It is a symbolic link.");
  if (!S_ISREG(st.st_mode)) return EncryptFailed(ui, progress, path, "It is not a regular file.");
  if (st.st_nlink > 1) return EncryptFailed(ui, progress, path, HardLinkReason(st.st_nlink));

  const std::string target = ProtectedPathOf(path);
  std::string temp;
  int result = 0;
  int err = 0;
  struct stat encoded {};
  struct stat written {};
  {
    CFileCodec codec;
    codec.m_bufferSize = kCodecBufferSize;
    codec.m_usePasswordText = 0;
    std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
    codec.m_level = level;
    codec.m_source = path;
    codec.m_createNew = true;
    // A taken temporary name (planted, or left over) is never written through: another.
    for (int attempt = 0; attempt < 4; ++attempt) {
      temp = TempPathFor(target);
      codec.m_destination = temp;
      result = codec.Encode(ProgressStep, progress);
      if (result != CODEC_IO_ERROR || codec.LastError().err != EEXIST ||
          codec.LastError().path != temp) {
        break;
      }
    }
    err = codec.LastError().err;
    encoded = codec.SourceStat();
    written = codec.DestinationStat();
  }
  if (result != CODEC_OK) {
    RemoveOwnFile(temp, written);
    if (result == CODEC_CANCELLED) return ENCRYPT_CANCELLED;
    return EncryptFailed(ui, progress, path, CodecFailureReason(result, err));
  }
  bool renamed = false;
  if (const int commitErr = CommitInPlace(temp, target, written, renamed); commitErr != 0) {
    // Without a durable protected file the plain file must not be wiped.
    if (!renamed) RemoveOwnFile(temp, written);
    return EncryptFailed(ui, progress, path,
                         FormatText("Cannot store \"%s\": %s",
                                    {LastPathComponent(target),
                                     commitErr == ESTALE ? "it was replaced while it was stored"
                                                         : std::strerror(commitErr)}));
  }
  const FileIdentity expected = IdentityOf(encoded);
  uint64_t links = 0;
  const WipeOutcome wiped =
      Wipe(path, kWipeMarker, WipeStrideFor(path), ProgressStep, progress, &expected, links, err);
  switch (wiped) {
    case WipeOutcome::Deleted:
      return ENCRYPT_DONE;
    case WipeOutcome::Changed:
    case WipeOutcome::HardLinked:
      // The protected file holds a version that is no longer the file's content: it goes,
      // and the plain file stays as the user left it.
      RemoveOwnFile(target, written);
      if (const SysError e = SyncParentFolder(target); !e.ok()) {
        // The protected copy may come back after a crash; the plain file is intact.
      }
      return EncryptFailed(ui, progress, path,
                           wiped == WipeOutcome::Changed ? "changed while it was being protected"
                                                         : HardLinkReason(links));
    case WipeOutcome::NotOpened:
      break;
  }
  if (progress && !progress->IsCancelled()) progress->Hide();
  ui.ShowMessage(FormatText("\"%s\" was protected into \"%s\" but not wiped: %s",
                            {LastPathComponent(path), LastPathComponent(target),
                             std::strerror(err != 0 ? err : EIO)}),
                 MsgIcon::Warning, MsgButtons::Ok);
  return ENCRYPT_NOT_WIPED;
}

int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress) {
  if (!IsProtectedPath(path)) return DECRYPT_FAILED;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return DecryptFailed(ui, progress, path,
                         S_ISREG(st.st_mode) ? std::strerror(errno) : "It is not a regular file.");
  }
  const std::string target = PlainPathOf(path);

  // Decode writes a temporary file beside the target and renames it over the target
  // only when it is complete and synced; any failure leaves an existing target alone.
  CFileCodec codec;
  codec.m_bufferSize = kCodecBufferSize;
  codec.m_usePasswordText = 0;
  std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
  codec.m_source = path;
  codec.m_destination = target;
  int result = codec.Decode(ProgressStep, progress);
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
    result = codec.Decode(ProgressStep, progress);
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
  // The restored file is complete and synced; only now may the protected one go.
  if (::unlink(path.c_str()) != 0) {
    // Both files stay (a read-only folder, say); the restore itself succeeded. Should the
    // removal be lost in a crash, both are there too, which loses nothing.
  }
  return DECRYPT_DONE;
}

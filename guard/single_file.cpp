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

void RemoveTemp(const std::string& temp) {
  // The codec may have removed its partial output already.
  if (::unlink(temp.c_str()) != 0 && errno != ENOENT) {
    // Left for RemoveStaleTempFiles of a later run; nothing else can be done here.
  }
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
// (Encode syncs its output before it reports success.)
int CommitInPlace(const std::string& temp, const std::string& target, bool& renamed) {
  renamed = false;
  if (::rename(temp.c_str(), target.c_str()) != 0) return errno;
  renamed = true;
  if (const SysError e = SyncParentFolder(target); !e.ok()) return e.err;
  return 0;
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
  if (stride == 0) {
    // Removes a link itself, never its target.
    return ::unlink(path.c_str()) == 0 ? 1 : 0;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return 0;
  }
  // Work on the file under a temporary name: an interrupted wipe then leaves a stale
  // temporary file that a later run removes, not half-wiped content under the real name.
  // The rename is not synced: the protected file is complete and durable already, so
  // should a crash bring the old name back, nothing is lost, and one sync per file less
  // matters when thousands of small files are protected.
  const std::string moved = TempPathFor(path);
  if (::rename(path.c_str(), moved.c_str()) != 0) {
    ::close(fd);
    return 0;
  }
  struct stat check {};
  if (::lstat(moved.c_str(), &check) != 0 || check.st_dev != st.st_dev ||
      check.st_ino != st.st_ino) {
    // Someone replaced the file between open and rename: put theirs back, touch nothing.
    if (::rename(moved.c_str(), path.c_str()) != 0) {
      // Left under the temporary name; the next run's stale-file cleanup removes it.
    }
    ::close(fd);
    return 0;
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
  }
  // Without the sync the markers might never reach the disk before the blocks are freed.
  const bool synced = ::fsync(fd) == 0;
  if (::close(fd) != 0 || !synced) {
    // Nothing to be done: the protected file is complete, so the file goes all the same.
  }
  // No folder sync: should the removal be lost in a crash, what reappears is a wiped
  // temporary file, which the next run beside it removes.
  return ::unlink(moved.c_str()) == 0 ? 1 : 0;
}

int EncryptOneFile(IGuardUi& ui, const std::string& path, const uint8_t digest[32], int level,
                   IProgressWindow* progress) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return EncryptFailed(ui, progress, path, std::strerror(errno));
  if (S_ISLNK(st.st_mode)) return EncryptFailed(ui, progress, path, "It is a symbolic link.");
  if (!S_ISREG(st.st_mode)) return EncryptFailed(ui, progress, path, "It is not a regular file.");

  const std::string target = ProtectedPathOf(path);
  const std::string temp = TempPathFor(target);
  int result = 0;
  int err = 0;
  {
    CFileCodec codec;
    codec.m_bufferSize = kCodecBufferSize;
    codec.m_usePasswordText = 0;
    std::memcpy(codec.m_keyDigest, digest, sizeof codec.m_keyDigest);
    codec.m_level = level;
    codec.m_source = path;
    codec.m_destination = temp;
    errno = 0;
    result = codec.Encode(ProgressStep, progress);
    err = errno;
  }
  if (result != CODEC_OK) {
    RemoveTemp(temp);
    if (result == CODEC_CANCELLED) return ENCRYPT_CANCELLED;
    return EncryptFailed(ui, progress, path, CodecFailureReason(result, err));
  }
  // The protected file takes the plain file's permission bits (should a crash lose this
  // change, the file keeps the stream's 0600: no data is at stake).
  if (::chmod(temp.c_str(), st.st_mode & 0777) != 0) {
    err = errno;
    RemoveTemp(temp);
    return EncryptFailed(ui, progress, path, std::strerror(err));
  }
  bool renamed = false;
  if (const int commitErr = CommitInPlace(temp, target, renamed); commitErr != 0) {
    // Without a durable protected file the plain file must not be wiped.
    if (!renamed) RemoveTemp(temp);
    return EncryptFailed(ui, progress, path,
                         FormatText("Cannot store \"%s\": %s",
                                    {LastPathComponent(target), std::strerror(commitErr)}));
  }
  const int wiped =
      WipeAndDeleteFile(path, kWipeMarker, WipeStrideFor(path), ProgressStep, progress);
  return wiped == 1 ? ENCRYPT_DONE : ENCRYPT_NOT_WIPED;
}

int DecryptOneFile(IGuardUi& ui, const std::string& path, uint8_t digest[32],
                   IProgressWindow* progress) {
  if (!IsProtectedPath(path)) return DECRYPT_FAILED;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return DECRYPT_FAILED;
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
  if (result != CODEC_OK) return result == CODEC_CANCELLED ? DECRYPT_CANCELLED : DECRYPT_FAILED;
  // The restored file takes the protected file's permission bits.
  if (::chmod(target.c_str(), st.st_mode & 0777) != 0) {
    // It keeps the bits it was created with, which loses nothing.
  }
  // The restored file is complete and synced; only now may the protected one go.
  if (::unlink(path.c_str()) != 0) {
    // Both files stay (a read-only folder, say); the restore itself succeeded. Should the
    // removal be lost in a crash, both are there too, which loses nothing.
  }
  return DECRYPT_DONE;
}

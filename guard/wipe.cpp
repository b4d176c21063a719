#include "guard/wipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/fd_io.h"
#include "common/paths.h"
#include "common/safe_file.h"
#include "common/text.h"
#include "engine/digest.h"

namespace {

// Large enough that a wipe costs a few system calls per megabyte, small enough to stay
// in the cache.
constexpr size_t kWipeBlock = 1u << 20;

// Writes marker at the start of every period (stride + marker length) of the file's
// first length bytes, and over the start of the last period even where it lies past the
// end, one block at a time. Stops early on a read or write error (its errno is returned)
// or when callback asks (0, as when done).
int OverwriteWithMarkers(int fd, uint64_t length, std::string_view marker, uint64_t stride,
                         ProgressProc callback, void* user) {
  const uint64_t m = marker.size();
  if (m == 0) return 0;
  const uint64_t period = stride > UINT64_MAX - m ? UINT64_MAX : stride + m;
  const uint64_t lastStart = (length / period) * period;
  const uint64_t end = lastStart + m;
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(kWipeBlock, end)));
  int err = 0;
  for (uint64_t blockStart = 0; blockStart < end;) {
    const uint64_t blockEnd = std::min<uint64_t>(blockStart + block.size(), end);
    const size_t n = static_cast<size_t>(blockEnd - blockStart);
    const size_t readable =
        blockStart < length ? static_cast<size_t>(std::min<uint64_t>(n, length - blockStart)) : 0;
    const ssize_t read = PreadFull(fd, block.data(), readable, static_cast<off_t>(blockStart));
    if (read < 0) {
      err = errno;
      break;
    }
    const size_t got = static_cast<size_t>(read);
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
    if (!PwriteAll(fd, block.data(), n, static_cast<off_t>(blockStart))) {
      err = errno;
      break;
    }
    blockStart = blockEnd;
    if (callback && starts > 0 &&
        callback(length, blockStart - n,
                 starts > UINT64_MAX / period ? UINT64_MAX : starts * period, user) == 0) {
      break;
    }
  }
  SecureZero(block.data(), block.size());
  return err;
}

// The end of a wipe on its own: the overwritten file (done: how that went) is synced and
// deleted under its temporary name.
WipeOutcome SyncAndDelete(int folder, int fd, const std::string& moved, WipeOutcome done,
                          int& err) {
  // Without the sync the markers might never reach the disk before the blocks are freed.
  const bool synced = ::fsync(fd) == 0;
  if (::close(fd) != 0 || !synced) {
    // Nothing to be done: the protected file is complete, so the file goes all the same.
  }
  // No folder sync: should the removal be lost in a crash, what reappears is a wiped
  // temporary file, which the next run beside it removes.
  if (::unlinkat(folder, moved.c_str(), 0) == 0) return done;
  if (err == 0) err = errno;
  return done == WipeOutcome::NotOverwritten ? done : WipeOutcome::NotOpened;
}

// Moves a file that is not ours off a wipe-kind temporary name, to "NAME.kept-RANDOM"
// beside path (a name no cleanup touches); left where it is when even that fails.
void KeepAside(int folder, const std::string& moved, const std::string& path) {
  const std::string temp = TempPathFor(path);
  const std::string tag = temp.substr(temp.rfind('-') + 1);
  const std::string kept =
      ParentFolder(path) + LastPathComponent(path).substr(0, 200) + ".kept-" + tag;
  if (RenameNoReplaceAt(folder, moved, kept) != 0) {
    // Nothing else can be done without risking their file.
  }
}

}  // namespace

// The wipe of WipeAndDeleteFile. With expected, a file that is not the one that was
// encoded (replaced, written to) is left alone; a file with other names is always left
// alone. err receives the errno when the file could not be opened or moved.
// With moved, the overwritten file is left under its temporary name there, unsynced.
WipeOutcome Wipe(const std::string& path, std::string_view marker, uint64_t stride,
                 ProgressProc callback, void* user, const FileIdentity* expected, uint64_t& links,
                 int& err, std::string* movedOut) {
  return WipeAt(AT_FDCWD, path, marker, stride, callback, user, expected, links, err, movedOut);
}

// path: a name in folder (or a path, for AT_FDCWD).
WipeOutcome WipeAt(int folder, const std::string& path, std::string_view marker, uint64_t stride,
                   ProgressProc callback, void* user, const FileIdentity* expected, uint64_t& links,
                   int& err, std::string* movedOut) {
  err = 0;
  links = 1;
  const int fd = ::openat(folder, path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return WipeOutcome::NotOpened;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    err = S_ISREG(st.st_mode) || st.st_mode == 0 ? errno : EINVAL;
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
    if (::unlinkat(folder, path.c_str(), 0) == 0) return WipeOutcome::Deleted;
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
    renamed = RenameNoReplaceAt(folder, path, moved);
    if (renamed != 0 && errno != EEXIST) break;  // a taken name: another one
  }
  if (renamed != 0) {
    err = errno;
    ::close(fd);
    return WipeOutcome::NotOpened;
  }
  struct stat check {};
  if (::fstatat(folder, moved.c_str(), &check, AT_SYMLINK_NOFOLLOW) != 0 ||
      check.st_dev != st.st_dev || check.st_ino != st.st_ino) {
    // Someone replaced the file between open and rename: put theirs back, touch nothing.
    // When the name is taken again, theirs goes under a name of its own beside it: under
    // the temporary name the next run's cleanup would wipe it as a plain file of ours.
    if (RenameNoReplaceAt(folder, moved, path) != 0) KeepAside(folder, moved, path);
    ::close(fd);
    return WipeOutcome::Changed;
  }

  // A failed overwrite still lets the file go (the protected file is complete), but it
  // is told: its content was not overwritten.
  err = OverwriteWithMarkers(fd, static_cast<uint64_t>(st.st_size), marker, stride, callback, user);
  const WipeOutcome done = err != 0   ? WipeOutcome::NotOverwritten
                           : movedOut ? WipeOutcome::Overwritten
                                      : WipeOutcome::Deleted;
  if (movedOut) {
    if (::close(fd) != 0) {
      // The batch's sync of the wipes reports nothing for it either; the file goes.
    }
    *movedOut = moved;
    return done;
  }
  return SyncAndDelete(folder, fd, moved, done, err);
}

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

int WipeAndDeleteFile(const std::string& path, std::string_view marker, uint64_t stride,
                      ProgressProc callback, void* user) {
  uint64_t links = 0;
  int err = 0;
  switch (Wipe(path, marker, stride, callback, user, nullptr, links, err)) {
    case WipeOutcome::Deleted:
      return 1;
    case WipeOutcome::NotOverwritten:
      return -1;
    default:
      return 0;
  }
}

void WipeStaleTempFile(const std::string& tempPath) {
  WipeStaleTempFileAt(AT_FDCWD, tempPath);
}

void WipeStaleTempFileAt(int folderFd, const std::string& tempPath) {
  // The name holds the plain file's name, whose end picks the stride.
  std::string name = LastPathComponent(tempPath).substr(kTempPrefix.size());
  if (const size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  uint64_t links = 0;
  int err = 0;
  if (WipeAt(folderFd, tempPath, kWipeMarker, WipeStrideFor(name), nullptr, nullptr, nullptr, links,
             err) != WipeOutcome::Deleted) {
    // Not ours to overwrite or not there any more; a name is all that can go.
    ::unlinkat(folderFd, tempPath.c_str(), 0);
  }
}

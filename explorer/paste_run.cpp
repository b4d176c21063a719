#include "explorer/paste_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/fd_io.h"
#include "common/paths.h"
#include "common/safe_file.h"
#include "explorer/explorer_paths.h"
#include "framework/native_path.h"

namespace {

// CopyContents: the user cancelled.
constexpr int kCancelled = -1;

struct stat StatOrZero(const std::string& path, bool& exists) {
  struct stat st {};
  exists = ::lstat(path.c_str(), &st) == 0;
  return st;
}

// Renames temp to target without replacing anything that appeared there meanwhile.
int CommitNoReplace(const std::string& temp, const std::string& target) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  int err = errno;
  if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
    // File systems without RENAME_NOREPLACE: a hard link fails on an existing name too.
    if (::link(temp.c_str(), target.c_str()) == 0) {
      if (::unlink(temp.c_str()) != 0) return errno;
      return 0;
    }
    err = errno;
    if (err != EEXIST) {
      struct stat st {};
      if (::lstat(target.c_str(), &st) == 0) return EEXIST;
      if (::rename(temp.c_str(), target.c_str()) == 0) return 0;
      err = errno;
    }
  }
  return err;
}

// Renames src to dst; without replace an existing dst is never touched. Returns 0 or errno.
int MoveRename(const std::string& src, const std::string& dst, bool replace) {
  if (replace) return ::rename(src.c_str(), dst.c_str()) == 0 ? 0 : errno;
  return RenameUnlessExists(src, dst);
}

void SyncFolders(const std::string& src, const std::string& dst) {
  // The rename itself succeeded; a folder that refuses fsync keeps it anyway.
  static_cast<void>(SyncParentFolder(dst));
  static_cast<void>(SyncParentFolder(src));
}

uint64_t TreeBytes(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return 0;
  if (S_ISREG(st.st_mode)) return static_cast<uint64_t>(st.st_size);
  if (!S_ISDIR(st.st_mode)) return 0;
  uint64_t sum = 0;
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return 0;
  while (const dirent* de = ::readdir(dir)) {
    if (std::strcmp(de->d_name, ".") == 0 || std::strcmp(de->d_name, "..") == 0) continue;
    sum += TreeBytes(JoinPath(path, de->d_name));
  }
  ::closedir(dir);
  return sum;
}

// The canonical path, or path itself when it cannot be resolved.
std::string Canonical(const std::string& path) {
  std::string canonical = CanonicalPath(path);
  return canonical.empty() ? path : canonical;
}

// "name (copy).ext", "name (copy 2).ext", ... that does not exist in folder.
std::string CopyName(const std::string& folder, const std::string& name, bool isDir) {
  std::string stem = name;
  std::string ext;
  const size_t dot = name.rfind('.');
  if (!isDir && dot != std::string::npos && dot > 0) {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
  for (int n = 1;; ++n) {
    const std::string candidate =
        stem + (n == 1 ? std::string(" (copy)") : " (copy " + std::to_string(n) + ")") + ext;
    struct stat st {};
    if (::lstat(JoinPath(folder, candidate).c_str(), &st) != 0) return candidate;
  }
}

// Permissions and times follow the original, then the copy is synced. A file system that
// cannot keep them (FAT, some network shares) still gets the complete contents.
int FinishCopy(int out, const struct stat& inSt) {
  if (::fchmod(out, inSt.st_mode & 07777) != 0 && errno != EPERM && errno != ENOTSUP) return errno;
  const struct timespec times[2] = {inSt.st_atim, inSt.st_mtim};
  if (::futimens(out, times) != 0 && errno != EPERM && errno != ENOTSUP) return errno;
  if (::fsync(out) != 0) return errno;
  return 0;
}

}  // namespace

FileOpResult CPasteRun::Run(const QStringList& sources, const QString& targetFolder) {
  const std::string target = Native(TrimmedPath(targetFolder));
  struct stat tst {};
  QString why;
  if (::stat(target.c_str(), &tst) != 0) {
    why = ErrorText(errno);
  } else if (!S_ISDIR(tst.st_mode)) {
    why = QStringLiteral("it is not a folder");
  }
  if (!why.isEmpty()) {
    m_ui.Fail(QStringLiteral("Cannot paste into %1: %2").arg(targetFolder, why));
    m_result.failed = static_cast<int>(sources.size());
    m_ui.Finish();
    return m_result;
  }
  for (const QString& s : sources) m_total += TreeBytes(Native(TrimmedPath(s)));
  for (const QString& s : sources) {
    if (m_stop) break;
    TopLevel(Native(TrimmedPath(s)), target);
  }
  m_result.cancelled = m_stop;
  m_ui.Finish();
  return m_result;
}

QString CPasteRun::Verb() const {
  return m_mode == PasteMode::Move ? QStringLiteral("move") : QStringLiteral("copy");
}

void CPasteRun::Failure(const std::string& path, const QString& reason) {
  m_ui.Fail(QStringLiteral("Cannot %1 %2: %3").arg(Verb(), FromNative(path), reason));
  ++m_result.failed;
}

void CPasteRun::TopLevel(const std::string& src, const std::string& targetFolder) {
  struct stat st {};
  if (::lstat(src.c_str(), &st) != 0) {
    Failure(src, ErrorText(errno));
    return;
  }
  const std::string name = LastPathComponent(src);
  const bool sameFolder =
      Canonical(WithoutTrailingSlash(ParentFolder(src))) == Canonical(targetFolder);
  if (S_ISDIR(st.st_mode)) {
    const std::string srcReal = Canonical(src);
    const std::string dstReal = Canonical(targetFolder);
    if (dstReal == srcReal || dstReal.rfind(srcReal + "/", 0) == 0) {
      Failure(src, QStringLiteral("a folder cannot be put into itself"));
      return;
    }
  }
  if (sameFolder) {
    if (m_mode == PasteMode::Move) {
      ++m_result.skipped;  // already there
      return;
    }
    const std::string dst =
        JoinPath(targetFolder, CopyName(targetFolder, name, S_ISDIR(st.st_mode)));
    if (Entry(src, dst)) ++m_result.done;
    return;
  }
  if (Entry(src, JoinPath(targetFolder, name))) ++m_result.done;
}

bool CPasteRun::ConfirmReplace(const std::string& dst) {
  const int answer = m_ui.Ask(
      QStringLiteral("The file %1 already exists. Do you want to replace it?").arg(FromNative(dst)),
      MsgButtons::YesNoCancel);
  if (answer == MSG_YES) return true;
  if (answer == MSG_CANCEL) m_stop = true;
  ++m_result.skipped;
  return false;
}

bool CPasteRun::Entry(const std::string& src, const std::string& dst) {
  if (m_stop) return false;
  struct stat st {};
  if (::lstat(src.c_str(), &st) != 0) {
    Failure(src, ErrorText(errno));
    return false;
  }
  bool exists = false;
  const struct stat dstSt = StatOrZero(dst, exists);
  if (S_ISDIR(st.st_mode)) return Folder(src, dst, st, exists, dstSt);
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
    Failure(src, QStringLiteral("it is not a regular file, folder or link"));
    return false;
  }
  bool replace = false;
  if (exists) {
    if (S_ISDIR(dstSt.st_mode)) {
      Failure(src, QStringLiteral("a folder named %1 is in the way").arg(FromNative(dst)));
      return false;
    }
    if (!ConfirmReplace(dst)) return false;
    replace = true;
  }
  if (m_mode == PasteMode::Move) {
    const int err = MoveRename(src, dst, replace);
    if (err == 0) {
      SyncFolders(src, dst);
      if (S_ISREG(st.st_mode)) m_done += static_cast<uint64_t>(st.st_size);
      return Tick(dst);
    }
    if (err != EXDEV) {
      Failure(src,
              err == EEXIST
                  ? QStringLiteral("%1 appeared meanwhile and was left alone").arg(FromNative(dst))
                  : ErrorText(err));
      return false;
    }
  }
  if (!CopyOne(src, dst, st, replace)) return false;
  if (m_mode == PasteMode::Move && ::unlink(src.c_str()) != 0) {
    Failure(
        src,
        QStringLiteral("copied, but the original could not be removed: %1").arg(ErrorText(errno)));
    return false;
  }
  return Tick(dst);
}

bool CPasteRun::Tick(const std::string& path) {
  if (!m_ui.Progress(m_done, m_total, FromNative(path))) m_stop = true;
  return true;
}

bool CPasteRun::Folder(const std::string& src, const std::string& dst, const struct stat& st,
                       bool exists, const struct stat& dstSt) {
  if (exists && !S_ISDIR(dstSt.st_mode)) {
    Failure(src, QStringLiteral("a file named %1 is in the way").arg(FromNative(dst)));
    return false;
  }
  if (!exists && m_mode == PasteMode::Move) {
    const int err = MoveRename(src, dst, false);
    if (err == 0) {
      SyncFolders(src, dst);
      m_done += TreeBytes(dst);
      return Tick(dst);
    }
    if (err != EXDEV) {
      Failure(src, ErrorText(err));
      return false;
    }
  }
  if (!exists && ::mkdir(dst.c_str(), 0700) != 0) {
    Failure(src, QStringLiteral("cannot create %1: %2").arg(FromNative(dst), ErrorText(errno)));
    return false;
  }
  bool all = true;
  if (!FolderEntries(src, dst, all)) return false;
  if (!exists) SetFolderMode(dst, st);
  if (m_mode == PasteMode::Move && all && !m_stop) {
    // Only an emptied source folder goes; anything skipped keeps it in place.
    if (::rmdir(src.c_str()) != 0 && errno != ENOTEMPTY && errno != EEXIST) {
      Failure(
          src,
          QStringLiteral("moved, but the folder could not be removed: %1").arg(ErrorText(errno)));
      return false;
    }
  }
  return all;
}

bool CPasteRun::FolderEntries(const std::string& src, const std::string& dst, bool& all) {
  DIR* dir = ::opendir(src.c_str());
  if (!dir) {
    Failure(src, ErrorText(errno));
    return false;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* de = ::readdir(dir)) {
    if (std::strcmp(de->d_name, ".") != 0 && std::strcmp(de->d_name, "..") != 0)
      names.emplace_back(de->d_name);
  }
  const int readErr = errno;
  ::closedir(dir);
  if (readErr != 0) {
    Failure(src, ErrorText(readErr));
    return false;
  }
  for (const std::string& name : names) {
    if (m_stop) return false;
    // Our own temporary files of an interrupted write are not the user's data.
    if (IsTempName(name)) continue;
    if (!Entry(JoinPath(src, name), JoinPath(dst, name))) all = false;
  }
  return true;
}

void CPasteRun::SetFolderMode(const std::string& dst, const struct stat& st) {
  // On the folder itself: a link put in its place meanwhile is not followed.
  const int dirFd = ::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  const bool set = dirFd >= 0 && ::fchmod(dirFd, st.st_mode & 07777) == 0;
  const int err = errno;
  if (dirFd >= 0) ::close(dirFd);
  if (!set) {
    Failure(dst, QStringLiteral("cannot set its permissions: %1").arg(ErrorText(err)));
  }
}

bool CPasteRun::CopyOne(const std::string& src, const std::string& dst, const struct stat& st,
                        bool replace) {
  const std::string temp = TempPathFor(dst);
  if (S_ISLNK(st.st_mode)) return CopyLink(src, dst, temp, st, replace);
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) {
    Failure(src, ErrorText(errno));
    return false;
  }
  struct stat inSt {};
  if (::fstat(in, &inSt) != 0 || !S_ISREG(inSt.st_mode)) {
    ::close(in);
    Failure(src, QStringLiteral("it changed while being copied"));
    return false;
  }
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    const int err = errno;
    ::close(in);
    Failure(src, QStringLiteral("cannot create %1: %2").arg(FromNative(dst), ErrorText(err)));
    return false;
  }
  int err = CopyContents(in, out, src);
  ::close(in);  // read-only: nothing to lose on close
  const bool cancelled = err == kCancelled;
  if (cancelled) err = 0;
  if (!err && !cancelled) err = FinishCopy(out, inSt);
  if (::close(out) != 0 && !err) err = errno;
  if (err || cancelled) {
    ::unlink(temp.c_str());
    if (cancelled) {
      m_stop = true;
      return false;
    }
    Failure(src, QStringLiteral("cannot write %1: %2").arg(FromNative(dst), ErrorText(err)));
    return false;
  }
  return Commit(src, temp, dst, replace);
}

bool CPasteRun::CopyLink(const std::string& src, const std::string& dst, const std::string& temp,
                         const struct stat& st, bool replace) {
  std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 2);
  const ssize_t n = ::readlink(src.c_str(), target.data(), target.size() - 1);
  if (n < 0) {
    Failure(src, ErrorText(errno));
    return false;
  }
  target[static_cast<size_t>(n)] = '\0';
  if (::symlink(target.data(), temp.c_str()) != 0) {
    Failure(src, QStringLiteral("cannot create %1: %2").arg(FromNative(dst), ErrorText(errno)));
    return false;
  }
  return Commit(src, temp, dst, replace);
}

int CPasteRun::CopyContents(int in, int out, const std::string& src) {
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t n = ReadSome(in, buffer.data(), buffer.size());
    if (n < 0) return errno;
    if (n == 0) return 0;
    if (!WriteAll(out, buffer.data(), static_cast<size_t>(n))) return errno;
    m_done += static_cast<uint64_t>(n);
    if (!m_ui.Progress(m_done, m_total, FromNative(src))) return kCancelled;
  }
}

bool CPasteRun::Commit(const std::string& src, const std::string& temp, const std::string& dst,
                       bool replace) {
  if (replace) {
    const SysError e = CommitTempFile(temp, dst);
    if (!e.ok()) {
      // After the rename only the folder's sync failed: the file is replaced, but a crash
      // could still undo it, so a move keeps its source.
      Failure(src,
              e.replaced
                  ? QStringLiteral("%1 was replaced, but the change may not survive a "
                                   "crash (its folder could not be synced: %2)")
                        .arg(FromNative(dst), ErrorText(e.err))
                  : QStringLiteral("cannot replace %1: %2").arg(FromNative(dst), ErrorText(e.err)));
      return false;
    }
    return true;
  }
  const int err = CommitNoReplace(temp, dst);
  if (err != 0) {
    ::unlink(temp.c_str());
    Failure(src,
            err == EEXIST
                ? QStringLiteral("%1 appeared meanwhile and was left alone").arg(FromNative(dst))
                : QStringLiteral("cannot create %1: %2").arg(FromNative(dst), ErrorText(err)));
    return false;
  }
  static_cast<void>(SyncParentFolder(dst));  // the rename stands even where fsync is refused
  return true;
}

#include "explorer/file_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "common/fd_io.h"
#include "common/paths.h"
#include "explorer/explorer_paths.h"
#include "framework/native_path.h"

namespace {

// Creates folder with mode 0700 unless it is there; false with errno when it cannot be.
bool MakePrivateFolder(const QString& folder, int& err) {
  const std::string native = Native(folder);
  if (::mkdir(native.c_str(), 0700) == 0 || errno == EEXIST) {
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    err = ENOTDIR;
    return false;
  }
  err = errno;
  return false;
}

// The trash's Path= value: the name's bytes, percent-encoded as in a file URL, so a name
// that is not UTF-8 comes back byte for byte on restore.
std::string TrashInfoPath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : path) {
    if (std::isalnum(c) || std::strchr("/-_.~!$&'()*+,;=:@", c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

// The folder at the top of the file system that holds path (walking up while the device
// stays the same).
std::string TopFolderOf(const std::string& path, dev_t device) {
  std::string at = ParentFolder(path);
  for (;;) {
    const std::string up = ParentFolder(WithoutTrailingSlash(at));
    struct stat st {};
    if (up.empty() || up == at || ::stat(up.c_str(), &st) != 0 || st.st_dev != device) return at;
    at = up;
  }
}

// Moves the file or folder into trash (its "files" and "info" folders exist) by the
// freedesktop rules: a new ".trashinfo" first, made exclusively under a free name, then
// the rename that never replaces. infoPath is the Path= value. 0 or errno.
int TrashInto(const std::string& path, const std::string& trash, const std::string& infoPath) {
  const std::string name = LastPathComponent(path);
  char date[32];
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  const std::string info =
      "[Trash Info]\nPath=" + TrashInfoPath(infoPath) + "\nDeletionDate=" + date + "\n";
  for (int n = 1; n < 10000; ++n) {
    const std::string entry = n == 1 ? name : name + "." + std::to_string(n);
    const std::string infoFile = trash + "/info/" + entry + ".trashinfo";
    const int fd =
        ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    const bool written = WriteAll(fd, info.data(), info.size()) && ::fsync(fd) == 0;
    const int writeErr = errno;
    if (::close(fd) != 0 || !written) {
      const int err = written ? errno : writeErr;
      ::unlink(infoFile.c_str());
      return err;
    }
    const std::string target = trash + "/files/" + entry;
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
      return 0;
    const int err = errno;
    ::unlink(infoFile.c_str());
    if (err != EEXIST) return err;  // a stray entry of that name: try the next name
  }
  return EEXIST;
}

// The trash of another file system: "$top/.Trash-UID" with its two folders (0700).
bool VolumeTrash(const std::string& top, std::string& trash, int& err) {
  trash = WithTrailingSlash(top) + ".Trash-" + std::to_string(::getuid());
  for (const std::string& folder : {trash, trash + "/files", trash + "/info"}) {
    if (!MakePrivateFolder(FromNative(folder), err)) return false;
  }
  return true;
}

// Moves one file or folder to the home trash, or to the trash of the file system that
// holds it when that is another one. 0 or errno.
int TrashOne(const std::string& path, const std::string& homeTrash) {
  struct stat self {};
  struct stat home {};
  if (::lstat(path.c_str(), &self) != 0) return errno;
  if (::stat(homeTrash.c_str(), &home) == 0 && home.st_dev == self.st_dev)
    return TrashInto(path, homeTrash, path);
  // Another file system: its own trash, with the path below its top folder.
  const std::string top = TopFolderOf(path, self.st_dev);
  std::string trash;
  int err = 0;
  if (!VolumeTrash(top, trash, err)) return err;
  return TrashInto(path, trash, path.substr(WithTrailingSlash(top).size()));
}

}  // namespace

QString HomeTrashFolder() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  // A relative value is not valid and counts as unset.
  if (data.isEmpty() || !data.startsWith(QLatin1Char('/')))
    data = QDir::homePath() + QStringLiteral("/.local/share");
  return QDir::cleanPath(data) + QStringLiteral("/Trash");
}

bool EnsureHomeTrash(QString* error) {
  const QString trash = HomeTrashFolder();
  // The data folder and its parents as the base directory rules create them (0700),
  // then the trash with its two folders.
  const QString data = QFileInfo(trash).path();
  QStringList missing;
  for (QString at = data; !QFileInfo::exists(at) && at != QLatin1String("/");
       at = QFileInfo(at).path())
    missing.prepend(at);
  int err = 0;
  for (const QString& folder : missing + QStringList{trash, trash + QStringLiteral("/files"),
                                                     trash + QStringLiteral("/info")}) {
    if (!MakePrivateFolder(folder, err)) {
      if (error) *error = QStringLiteral("%1: %2").arg(folder, ErrorText(err));
      return false;
    }
  }
  return true;
}

FileOpResult MoveToTrash(const QStringList& paths, IFileOpUi& ui) {
  FileOpResult result;
  // Without a home trash in place Qt would make one in the working folder.
  QString trashError;
  const bool haveTrash = EnsureHomeTrash(&trashError);
  const QString homeTrash = HomeTrashFolder();
  for (const QString& p : paths) {
    const QString path = TrimmedPath(p);
    if (!haveTrash) {
      ++result.failed;
      ui.Fail(QStringLiteral("Cannot move %1 to the trash: there is no trash folder (%2). The "
                             "file stays where it is.")
                  .arg(path, trashError));
      continue;
    }
    // By the name's bytes: a name that is not UTF-8 goes to the trash like any other.
    if (const int err = TrashOne(Native(path), Native(homeTrash)); err != 0) {
      ++result.failed;
      ui.Fail(QStringLiteral("Cannot move %1 to the trash: %2. The file stays where it is.")
                  .arg(path, ErrorText(err)));
      continue;
    }
    ++result.done;
  }
  ui.Finish();
  return result;
}

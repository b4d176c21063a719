#include "explorer/file_trash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>

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

// Whether path lies in the "files" folder of a trash: the home trash or a volume's
// ".Trash/UID" or ".Trash-UID".
bool IsInTrash(const QString& path, const QString& homeTrash) {
  if (path.startsWith(homeTrash + QStringLiteral("/files/"))) return true;
  const QString uid = QString::number(::getuid());
  return path.contains(QStringLiteral("/.Trash-%1/files/").arg(uid)) ||
         path.contains(QStringLiteral("/.Trash/%1/files/").arg(uid));
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
    QFile file(path);
    if (!file.moveToTrash()) {
      ++result.failed;
      ui.Fail(QStringLiteral("Cannot move %1 to the trash: %2").arg(path, file.errorString()));
      continue;
    }
    const QString moved = file.fileName();
    if (moved != path && !IsInTrash(moved, homeTrash)) {
      // The file went somewhere that is no trash: it goes back where it was.
      const bool back = ::rename(Native(moved).c_str(), Native(path).c_str()) == 0;
      ++result.failed;
      ui.Fail(back ? QStringLiteral("Cannot move %1 to the trash: no trash folder could take "
                                    "it. The file stays where it is.")
                         .arg(path)
                   : QStringLiteral("Cannot move %1 to the trash: it was moved to %2 instead "
                                    "and could not be moved back.")
                         .arg(path, moved));
      continue;
    }
    ++result.done;
  }
  ui.Finish();
  return result;
}

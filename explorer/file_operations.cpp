#include "explorer/file_operations.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QUrl>
#include <cerrno>
#include <cstdio>

#include "common/safe_file.h"
#include "explorer/explorer_paths.h"
#include "explorer/paste_run.h"
#include "framework/native_path.h"
#include "framework/shell_open.h"

namespace {

FileOpener& Opener() {
  static FileOpener opener;
  return opener;
}

// Why newName cannot name an entry; empty when it can.
QString InvalidNameReason(const QString& newName) {
  if (newName.contains(QLatin1Char('/')) || newName.contains(QChar(0)))
    return QStringLiteral("a name cannot contain \"/\"");
  if (newName == QLatin1String(".") || newName == QLatin1String(".."))
    return QStringLiteral("\"%1\" is not a valid name").arg(newName);
  if (IsTempName(Native(newName))) {
    return QStringLiteral("names beginning with \"%1\" are kept for temporary files")
        .arg(QString::fromLatin1(kTempPrefix.data(), static_cast<qsizetype>(kTempPrefix.size())));
  }
  if (Native(newName).size() > 255) return QStringLiteral("the name is too long");
  return {};
}

}  // namespace

void SetFileOpener(FileOpener opener) {
  Opener() = std::move(opener);
}

bool OpenWithDesktop(const QString& path) {
  if (Opener()) return Opener()(path);
  return OpenWithDesktop(FileUrlOf(path));
}

int RenameUnlessExists(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int err = errno;
  if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
  // File systems without RENAME_NOREPLACE.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

bool RenameEntry(const QString& path, const QString& newName, IFileOpUi& ui, QString* newPath) {
  const QString oldPath = TrimmedPath(path);
  if (newName.isEmpty()) return false;
  const QString oldName = oldPath.mid(oldPath.lastIndexOf(QLatin1Char('/')) + 1);
  if (newName == oldName) return false;
  if (const QString reason = InvalidNameReason(newName); !reason.isEmpty()) {
    ui.Fail(QStringLiteral("Cannot rename %1: %2.").arg(oldPath, reason));
    return false;
  }
  const QString target = oldPath.left(oldPath.lastIndexOf(QLatin1Char('/')) + 1) + newName;
  const std::string to = Native(target);
  const int err = RenameUnlessExists(Native(oldPath), to);
  if (err == EEXIST) {
    ui.Fail(
        QStringLiteral("Cannot rename %1 to %2: a file or folder with that name already exists.")
            .arg(oldPath, newName));
    return false;
  }
  if (err != 0) {
    ui.Fail(QStringLiteral("Cannot rename %1 to %2: %3.").arg(oldPath, newName, ErrorText(err)));
    return false;
  }
  static_cast<void>(SyncParentFolder(to));  // the rename stands even where fsync is refused
  if (newPath) *newPath = target;
  return true;
}

FileOpResult PasteFiles(const QStringList& sources, const QString& targetFolder, PasteMode mode,
                        IFileOpUi& ui) {
  CPasteRun run(mode, ui);
  return run.Run(sources, targetFolder);
}

#include "explorer/file_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QUrl>
#include <QWidget>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/safe_file.h"
#include "framework/native_path.h"

namespace {

constexpr char kCaption[] = "Vellumguard";
// A progress window appears only for operations that take longer than this.
constexpr qint64 kProgressDelayMs = 400;

QString Trimmed(const QString& path) {
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  return p;
}

// The window's own message boxes and progress window.
class CGuardFileOpUi : public IFileOpUi {
 public:
  CGuardFileOpUi(std::unique_ptr<IGuardUi> ui, QString title)
      : m_ui(std::move(ui)), m_title(std::move(title)) {
    m_clock.start();
  }
  ~CGuardFileOpUi() override { CGuardFileOpUi::Finish(); }

  int Ask(const QString& text, MsgButtons buttons) override {
    if (m_progress) m_progress->Hide();
    const int answer = m_ui->ShowMessage(text.toStdString(), MsgIcon::Question, buttons);
    if (m_progress) m_progress->Show();
    return answer;
  }
  void Fail(const QString& text) override {
    if (m_progress) m_progress->Hide();
    m_ui->ShowMessage(text.toStdString(), MsgIcon::Error, MsgButtons::Ok);
    if (m_progress) m_progress->Show();
  }
  bool Progress(quint64 done, quint64 total, const QString& path) override {
    if (!m_progress) {
      if (m_clock.elapsed() < kProgressDelayMs || done >= total) return true;
      m_progress = m_ui->OpenProgress(m_title.toStdString());
      if (!m_progress) return true;
      m_progress->SetBarRange(0, total / 10, 1);
      m_progress->Show();
    }
    // The bar counts tenths of bytes.
    const quint64 target = done / 10;
    if (target > m_position) {
      m_progress->SetBarStep(target - m_position);
      m_progress->StepBar();
      m_position = target;
    }
    if (path != m_lastPath) {
      m_progress->SetStatusText(path.toStdString());
      m_lastPath = path;
    }
    m_progress->PumpMessages(true);
    return !m_progress->IsCancelled();
  }
  void Finish() override {
    if (m_progress) {
      m_progress->CloseProgress();
      m_progress.reset();
      m_ui->RestoreFocus();
    }
  }

 private:
  std::unique_ptr<IGuardUi> m_ui;
  std::unique_ptr<IProgressWindow> m_progress;
  QString m_title;
  QString m_lastPath;
  quint64 m_position = 0;
  QElapsedTimer m_clock;
};

// Plain Qt boxes for owners that have no window user interface of their own.
class CQtFileOpUi : public IFileOpUi {
 public:
  CQtFileOpUi(QWidget* owner, QString title) : m_owner(owner), m_title(std::move(title)) {
    m_clock.start();
  }
  ~CQtFileOpUi() override { CQtFileOpUi::Finish(); }

  int Ask(const QString& text, MsgButtons buttons) override {
    QMessageBox::StandardButtons b = QMessageBox::Ok;
    switch (buttons) {
      case MsgButtons::Ok:
        b = QMessageBox::Ok;
        break;
      case MsgButtons::OkCancel:
        b = QMessageBox::Ok | QMessageBox::Cancel;
        break;
      case MsgButtons::YesNo:
        b = QMessageBox::Yes | QMessageBox::No;
        break;
      case MsgButtons::YesNoCancel:
        b = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    }
    switch (QMessageBox::question(m_owner, QString::fromLatin1(kCaption), text, b)) {
      case QMessageBox::Yes:
        return MSG_YES;
      case QMessageBox::No:
        return MSG_NO;
      case QMessageBox::Ok:
        return MSG_OK;
      default:
        return MSG_CANCEL;
    }
  }
  void Fail(const QString& text) override {
    QMessageBox::critical(m_owner, QString::fromLatin1(kCaption), text);
  }
  bool Progress(quint64 done, quint64 total, const QString& path) override {
    if (!m_dialog) {
      if (m_clock.elapsed() < kProgressDelayMs || done >= total) return true;
      m_dialog = new QProgressDialog(m_title, QObject::tr("Cancel"), 0, 1000, m_owner);
      m_dialog->setWindowTitle(m_title);
      m_dialog->setWindowModality(Qt::WindowModal);
      m_dialog->setMinimumDuration(0);
    }
    m_dialog->setLabelText(path);
    m_dialog->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
    QCoreApplication::processEvents();
    return !m_dialog->wasCanceled();
  }
  void Finish() override { delete m_dialog.data(); }

 private:
  QWidget* m_owner;
  QString m_title;
  QPointer<QProgressDialog> m_dialog;
  QElapsedTimer m_clock;
};

FileOpener& Opener() {
  static FileOpener opener;
  return opener;
}

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
  if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return 0;
  const int err = errno;
  if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return err;
  // File systems without RENAME_NOREPLACE.
  struct stat st {};
  if (::lstat(dst.c_str(), &st) == 0) return EEXIST;
  return ::rename(src.c_str(), dst.c_str()) == 0 ? 0 : errno;
}

class CPasteRun {
 public:
  CPasteRun(PasteMode mode, IFileOpUi& ui) : m_mode(mode), m_ui(ui) {}

  FileOpResult Run(const QStringList& sources, const QString& targetFolder) {
    const std::string target = Native(Trimmed(targetFolder));
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
    for (const QString& s : sources) m_total += TreeBytes(Native(Trimmed(s)));
    for (const QString& s : sources) {
      if (m_stop) break;
      TopLevel(Native(Trimmed(s)), target);
    }
    m_result.cancelled = m_stop;
    m_ui.Finish();
    return m_result;
  }

 private:
  QString Verb() const {
    return m_mode == PasteMode::Move ? QStringLiteral("move") : QStringLiteral("copy");
  }

  void Failure(const std::string& path, const QString& reason) {
    m_ui.Fail(QStringLiteral("Cannot %1 %2: %3").arg(Verb(), FromNative(path), reason));
    ++m_result.failed;
  }

  static uint64_t TreeBytes(const std::string& path) {
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

  static std::string Canonical(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string s(real);
    std::free(real);
    return s;
  }

  // "name (copy).ext", "name (copy 2).ext", ... that does not exist in folder.
  static std::string CopyName(const std::string& folder, const std::string& name, bool isDir) {
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

  void TopLevel(const std::string& src, const std::string& targetFolder) {
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

  // Asks before dst is replaced. True to replace; false to skip (m_stop set on Cancel).
  bool ConfirmReplace(const std::string& dst) {
    const int answer =
        m_ui.Ask(QStringLiteral("The file %1 already exists. Do you want to replace it?")
                     .arg(FromNative(dst)),
                 MsgButtons::YesNoCancel);
    if (answer == MSG_YES) return true;
    if (answer == MSG_CANCEL) m_stop = true;
    ++m_result.skipped;
    return false;
  }

  // Copies or moves one entry; true when it is complete at dst.
  bool Entry(const std::string& src, const std::string& dst) {
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
        Failure(
            src,
            err == EEXIST
                ? QStringLiteral("%1 appeared meanwhile and was left alone").arg(FromNative(dst))
                : ErrorText(err));
        return false;
      }
    }
    if (!CopyOne(src, dst, st, replace)) return false;
    if (m_mode == PasteMode::Move && ::unlink(src.c_str()) != 0) {
      Failure(src, QStringLiteral("copied, but the original could not be removed: %1")
                       .arg(ErrorText(errno)));
      return false;
    }
    return Tick(dst);
  }

  // Reports progress after an entry is complete; the entry itself stays done on Cancel.
  bool Tick(const std::string& path) {
    if (!m_ui.Progress(m_done, m_total, FromNative(path))) m_stop = true;
    return true;
  }

  static void SyncFolders(const std::string& src, const std::string& dst) {
    // The rename itself succeeded; a folder that refuses fsync keeps it anyway.
    SyncParentFolder(dst);
    SyncParentFolder(src);
  }

  bool Folder(const std::string& src, const std::string& dst, const struct stat& st, bool exists,
              const struct stat& dstSt) {
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
    if (!exists) {
      if (::mkdir(dst.c_str(), 0700) != 0) {
        Failure(src, QStringLiteral("cannot create %1: %2").arg(FromNative(dst), ErrorText(errno)));
        return false;
      }
    }
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
    bool all = true;
    for (const std::string& name : names) {
      if (m_stop) return false;
      // Our own temporary files of an interrupted write are not the user's data.
      if (IsTempName(name)) continue;
      if (!Entry(JoinPath(src, name), JoinPath(dst, name))) all = false;
    }
    if (!exists) {
      // On the folder itself: a link put in its place meanwhile is not followed.
      const int dirFd = ::open(dst.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const bool set = dirFd >= 0 && ::fchmod(dirFd, st.st_mode & 07777) == 0;
      const int err = errno;
      if (dirFd >= 0) ::close(dirFd);
      if (!set) {
        Failure(dst, QStringLiteral("cannot set its permissions: %1").arg(ErrorText(err)));
      }
    }
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

  // Writes a copy of src (a file or a link) under dst through a temporary name.
  bool CopyOne(const std::string& src, const std::string& dst, const struct stat& st,
               bool replace) {
    const std::string temp = TempPathFor(dst);
    if (S_ISLNK(st.st_mode)) {
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
    std::vector<char> buffer(1 << 20);
    int err = 0;
    bool cancelled = false;
    for (;;) {
      const ssize_t n = ::read(in, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        err = errno;
        break;
      }
      if (n == 0) break;
      size_t written = 0;
      while (written < static_cast<size_t>(n)) {
        const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n) - written);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) {
          err = errno;
          break;
        }
        written += static_cast<size_t>(w);
      }
      if (err) break;
      m_done += static_cast<uint64_t>(n);
      if (!m_ui.Progress(m_done, m_total, FromNative(src))) {
        cancelled = true;
        break;
      }
    }
    ::close(in);  // read-only: nothing to lose on close
    if (!err && !cancelled) {
      // Permissions and times follow the original; a file system that cannot keep them
      // (FAT, some network shares) still gets the complete contents.
      if (::fchmod(out, inSt.st_mode & 07777) != 0 && errno != EPERM && errno != ENOTSUP)
        err = errno;
      const struct timespec times[2] = {inSt.st_atim, inSt.st_mtim};
      if (!err && ::futimens(out, times) != 0 && errno != EPERM && errno != ENOTSUP) err = errno;
      if (!err && ::fsync(out) != 0) err = errno;
    }
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

  bool Commit(const std::string& src, const std::string& temp, const std::string& dst,
              bool replace) {
    if (replace) {
      const SysError e = CommitTempFile(temp, dst);
      if (!e.ok()) {
        Failure(src,
                QStringLiteral("cannot replace %1: %2").arg(FromNative(dst), ErrorText(e.err)));
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
    SyncParentFolder(dst);
    return true;
  }

  PasteMode m_mode;
  IFileOpUi& m_ui;
  FileOpResult m_result;
  uint64_t m_total = 0;
  uint64_t m_done = 0;
  bool m_stop = false;
};

}  // namespace

QString ErrorText(int err) {
  return QString::fromLocal8Bit(std::strerror(err));
}

std::unique_ptr<IFileOpUi> MakeFileOpUi(QWidget* owner, const GuardUiFactory& guardUi,
                                        const QString& progressTitle) {
  if (guardUi) {
    if (std::unique_ptr<IGuardUi> ui = guardUi(owner))
      return std::make_unique<CGuardFileOpUi>(std::move(ui), progressTitle);
  }
  return std::make_unique<CQtFileOpUi>(owner, progressTitle);
}

void SetFileOpener(FileOpener opener) {
  Opener() = std::move(opener);
}

bool OpenWithDesktop(const QString& path) {
  if (Opener()) return Opener()(path);
  return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

bool RenameEntry(const QString& path, const QString& newName, IFileOpUi& ui, QString* newPath) {
  const QString oldPath = Trimmed(path);
  if (newName.isEmpty()) return false;
  const QString oldName = oldPath.mid(oldPath.lastIndexOf(QLatin1Char('/')) + 1);
  if (newName == oldName) return false;
  QString reason;
  if (newName.contains(QLatin1Char('/')) || newName.contains(QChar(0))) {
    reason = QStringLiteral("a name cannot contain \"/\"");
  } else if (newName == QLatin1String(".") || newName == QLatin1String("..")) {
    reason = QStringLiteral("\"%1\" is not a valid name").arg(newName);
  } else if (IsTempName(Native(newName))) {
    reason = QStringLiteral("names beginning with \"%1\" are kept for temporary files")
                 .arg(QString::fromLatin1(kTempPrefix.data(),
                                          static_cast<qsizetype>(kTempPrefix.size())));
  } else if (Native(newName).size() > 255) {
    reason = QStringLiteral("the name is too long");
  }
  if (!reason.isEmpty()) {
    ui.Fail(QStringLiteral("Cannot rename %1: %2.").arg(oldPath, reason));
    return false;
  }
  const QString target = oldPath.left(oldPath.lastIndexOf(QLatin1Char('/')) + 1) + newName;
  const std::string from = Native(oldPath);
  const std::string to = Native(target);
  int err = 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    err = errno;
    if (err == EINVAL || err == ENOSYS || err == ENOTSUP) {
      struct stat st {};
      if (::lstat(to.c_str(), &st) == 0) {
        err = EEXIST;
      } else {
        err = ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
      }
    }
  }
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
  SyncParentFolder(to);  // the rename stands even where the folder refuses fsync
  if (newPath) *newPath = target;
  return true;
}

FileOpResult PasteFiles(const QStringList& sources, const QString& targetFolder, PasteMode mode,
                        IFileOpUi& ui) {
  CPasteRun run(mode, ui);
  return run.Run(sources, targetFolder);
}

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
    const QString path = Trimmed(p);
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

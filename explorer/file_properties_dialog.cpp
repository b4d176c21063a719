#include "explorer/file_properties_dialog.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>
#include <cstring>
#include <string>

#include "explorer/explorer_paths.h"
#include "explorer/file_listing.h"
#include "framework/native_path.h"

namespace {

QString SizeWithBytes(quint64 bytes) {
  if (bytes < 1024) return SizeText(bytes);
  return QStringLiteral("%1 (%2 bytes)").arg(SizeText(bytes), QLocale().toString(bytes));
}

QString PermissionText(mode_t mode) {
  static const char kLetters[] = "rwxrwxrwx";
  QString s;
  for (int bit = 0; bit < 9; ++bit)
    s += (mode & (0400u >> bit)) ? QLatin1Char(kLetters[bit]) : QLatin1Char('-');
  return s;
}

QString OwnerText(uid_t uid, gid_t gid) {
  char buf[4096];
  passwd pw{};
  passwd* pwFound = nullptr;
  group gr{};
  group* grFound = nullptr;
  const QString user = ::getpwuid_r(uid, &pw, buf, sizeof buf, &pwFound) == 0 && pwFound
                           ? QString::fromLocal8Bit(pwFound->pw_name)
                           : QString::number(uid);
  const QString grp = ::getgrgid_r(gid, &gr, buf, sizeof buf, &grFound) == 0 && grFound
                          ? QString::fromLocal8Bit(grFound->gr_name)
                          : QString::number(gid);
  return user + QLatin1Char(':') + grp;
}

QDateTime TimeOf(const timespec& t) {
  return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000);
}

qsizetype CountEntries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return 0;
  qsizetype n = 0;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
  }
  ::closedir(dir);
  return n;
}

QString DateText(const QDateTime& t) {
  return t.isValid() ? QLocale().toString(t, QLocale::LongFormat) : QString();
}

}  // namespace

CFilePropertiesDialog::CFilePropertiesDialog(const QStringList& paths, QWidget* parent)
    : QDialog(parent) {
  auto* form = new QFormLayout;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  if (paths.size() == 1) {
    AddItemRows(TrimmedPath(paths.first()));
  } else {
    AddSelectionRows(paths);
  }
  for (const auto& [label, value] : m_rows) {
    auto* text = new QLabel(value, this);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, text);
  }
}

void CFilePropertiesDialog::AddItemRows(const QString& path) {
  // Everything by the name's own bytes (QFileInfo would lose a name that is not UTF-8).
  const std::string native = Native(path);
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const QString name = slash >= 0 && slash + 1 < path.size() ? path.mid(slash + 1) : path;
  const QString location = slash > 0 ? path.left(slash) : QStringLiteral("/");
  struct stat link {};
  struct stat st {};
  const bool isLink = ::lstat(native.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  bool known = ::stat(native.c_str(), &st) == 0;
  if (!known && isLink) {  // a link that leads nowhere shows itself
    st = link;
    known = true;
  }
  const bool isDir = known && S_ISDIR(st.st_mode);
  setWindowTitle(QStringLiteral("%1 Properties").arg(name));
  AddRow(QStringLiteral("Name:"), name);
  const QMimeDatabase db;
  AddRow(QStringLiteral("Type:"),
         isDir ? db.mimeTypeForName(QStringLiteral("inode/directory")).comment()
               : db.mimeTypeForFile(name, QMimeDatabase::MatchExtension).comment());
  AddRow(QStringLiteral("Location:"), location);
  if (isLink) {
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(native.c_str(), target.data(), target.size());
    if (n >= 0) AddRow(QStringLiteral("Link to:"), FromNative(target.substr(0, size_t(n))));
  }
  if (isDir) {
    const qsizetype n = CountEntries(native);
    AddRow(QStringLiteral("Contents:"),
           n == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(n));
  } else {
    AddRow(QStringLiteral("Size:"), SizeWithBytes(known ? static_cast<quint64>(st.st_size) : 0));
  }
  if (known) {
    AddRow(QStringLiteral("Modified:"), DateText(TimeOf(st.st_mtim)));
    AddRow(QStringLiteral("Accessed:"), DateText(TimeOf(st.st_atim)));
    AddRow(QStringLiteral("Owner:"), OwnerText(st.st_uid, st.st_gid));
    AddRow(QStringLiteral("Permissions:"), PermissionText(st.st_mode));
  }
}

void CFilePropertiesDialog::AddSelectionRows(const QStringList& paths) {
  setWindowTitle(QStringLiteral("Properties"));
  int files = 0;
  int folders = 0;
  quint64 bytes = 0;
  QString location;
  bool oneLocation = true;
  for (const QString& p : paths) {
    const QString path = TrimmedPath(p);
    struct stat st {};
    const bool known = ::stat(Native(path).c_str(), &st) == 0;
    if (known && S_ISDIR(st.st_mode)) {
      ++folders;
    } else {
      ++files;
      if (known && S_ISREG(st.st_mode)) bytes += static_cast<quint64>(st.st_size);
    }
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash > 0 ? path.left(slash) : QStringLiteral("/");
    if (location.isEmpty()) {
      location = parent;
    } else if (location != parent) {
      oneLocation = false;
    }
  }
  AddRow(
      QStringLiteral("Contents:"),
      QStringLiteral("%1 items (%2 files, %3 folders)").arg(paths.size()).arg(files).arg(folders));
  AddRow(QStringLiteral("Size of files:"), SizeWithBytes(bytes));
  if (oneLocation) AddRow(QStringLiteral("Location:"), location);
}

void CFilePropertiesDialog::AddRow(const QString& label, const QString& value) {
  m_rows.append({label, value});
}

CFilePropertiesDialog* ShowFileProperties(QWidget* owner, const QStringList& paths) {
  if (paths.isEmpty()) return nullptr;
  auto* dialog = new CFilePropertiesDialog(paths, owner);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  return dialog;
}

#include "explorer/file_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <ctime>

#include "common/fd_io.h"
#include "common/safe_file.h"
#include "explorer/explorer_paths.h"
#include "framework/native_path.h"

namespace {

// The user's identity for the "may not write" test, read once.
struct Identity {
  uid_t uid;
  std::vector<gid_t> groups;
  Identity() : uid(::geteuid()) {
    groups.push_back(::getegid());
    const int n = ::getgroups(0, nullptr);
    if (n > 0) {
      std::vector<gid_t> more(static_cast<size_t>(n));
      const int got = ::getgroups(n, more.data());
      if (got > 0) groups.insert(groups.end(), more.begin(), more.begin() + got);
    }
  }
  bool InGroup(gid_t g) const { return std::find(groups.begin(), groups.end(), g) != groups.end(); }
};

const Identity& Me() {
  static const Identity identity;
  return identity;
}

bool MayWrite(const struct statx& st) {
  const Identity& me = Me();
  if (me.uid == 0) return true;
  if (st.stx_uid == me.uid) return (st.stx_mode & S_IWUSR) != 0;
  if (me.InGroup(st.stx_gid)) return (st.stx_mode & S_IWGRP) != 0;
  return (st.stx_mode & S_IWOTH) != 0;
}

// The attribute bits of an entry from what statx reported (through a final link, or of a
// dangling link itself), without the hidden bit.
quint32 AttributesOf(const struct statx& st, bool dangling, bool readOnlyMount) {
  quint32 attributes = dangling ? quint32{FILE_ATTR_SYSTEM} : 0u;
  if (S_ISDIR(st.stx_mode) && !dangling) {
    attributes |= FILE_ATTR_DIRECTORY;
  } else if (!S_ISREG(st.stx_mode)) {
    attributes |= FILE_ATTR_SYSTEM;
  }
  const auto has = [&st](uint64_t bit) {
    return (st.stx_attributes_mask & bit) != 0 && (st.stx_attributes & bit) != 0;
  };
  if (readOnlyMount || has(STATX_ATTR_IMMUTABLE) || !MayWrite(st)) attributes |= FILE_ATTR_READONLY;
  if (has(STATX_ATTR_COMPRESSED)) attributes |= FILE_ATTR_COMPRESSED;
  if (has(STATX_ATTR_ENCRYPTED)) attributes |= FILE_ATTR_ENCRYPTED;
  return attributes;
}

// Names listed in the folder's ".hidden" file, the desktop's way of hiding entries without
// renaming them. The file is read with a bound; a missing or unreadable one hides nothing.
QSet<QString> HiddenNames(int dirFd) {
  QSet<QString> names;
  const int fd = ::openat(dirFd, ".hidden", O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return names;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 1024 * 1024) {
    QByteArray bytes(static_cast<qsizetype>(st.st_size), '\0');
    const ssize_t got = ReadFull(fd, bytes.data(), static_cast<size_t>(bytes.size()));
    bytes.truncate(got > 0 ? static_cast<qsizetype>(got) : 0);
    for (const QByteArray& line : bytes.split('\n')) {
      if (!line.isEmpty())
        names.insert(
            FromNative(std::string_view(line.constData(), static_cast<size_t>(line.size()))));
    }
  }
  ::close(fd);
  return names;
}

QString NormalizedFolder(const QString& folder) {
  QString f = QDir::cleanPath(QDir::isAbsolutePath(folder) ? folder : QDir(folder).absolutePath());
  if (!f.endsWith(QLatin1Char('/'))) f += QLatin1Char('/');
  return f;
}

}  // namespace

int ListFolder(FileEntryTable& table, const QString& folder) {
  if (folder.isEmpty()) return 0;
  const QString f = NormalizedFolder(folder);
  const std::string native = Native(f);
  const int dirFd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return 0;
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    ::close(dirFd);
    return 0;
  }
  struct statvfs vfs {};
  const bool readOnlyMount = ::fstatvfs(dirFd, &vfs) == 0 && (vfs.f_flag & ST_RDONLY) != 0;
  const QSet<QString> hidden = HiddenNames(dirFd);

  FileEntryTable folders;
  FileEntryTable files;
  bool failed = false;
  for (;;) {
    errno = 0;
    const dirent* de = ::readdir(dir);
    if (!de) {
      failed = errno != 0;
      break;
    }
    const char* rawName = de->d_name;
    if (rawName[0] == '\0' || rawName[0] == '.' || IsTempName(rawName)) continue;
    struct statx st {};
    const unsigned mask =
        STATX_TYPE | STATX_MODE | STATX_UID | STATX_GID | STATX_SIZE | STATX_MTIME;
    bool dangling = false;
    if (::statx(dirFd, rawName, AT_STATX_SYNC_AS_STAT, mask, &st) != 0) {
      // A dangling symbolic link still is an entry; anything else vanished meanwhile.
      if (::statx(dirFd, rawName, AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW, mask, &st) != 0)
        continue;
      dangling = true;
    }
    FileListEntry e;
    e.name = FromNative(rawName);
    e.fullPath = f + e.name;
    e.attributes = AttributesOf(st, dangling, readOnlyMount);
    if (hidden.contains(e.name)) e.attributes |= FILE_ATTR_HIDDEN;
    const bool isDir = e.IsFolder();
    if (isDir) {
      folders.push_back(std::move(e));
    } else {
      e.size = S_ISREG(st.stx_mode) ? st.stx_size : 0;
      e.lastWrite = st.stx_mtime.tv_sec;
      files.push_back(std::move(e));
    }
  }
  ::closedir(dir);
  if (failed) return 0;

  table.clear();
  table.reserve(1 + folders.size() + files.size());
  table.push_back(ParentRow(f));
  std::move(folders.begin(), folders.end(), std::back_inserter(table));
  std::move(files.begin(), files.end(), std::back_inserter(table));
  return static_cast<int>(table.size());
}

FileListEntry ParentRow(const QString& folder) {
  FileListEntry parent;
  parent.name = QStringLiteral("..");
  parent.attributes = FILE_ATTR_DIRECTORY;
  if (folder == QLatin1String("/")) {
    parent.fullPath = QString::fromLatin1(kComputerPath);
  } else {
    const QString trimmed = TrimmedPath(folder);
    parent.fullPath = trimmed.left(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
  }
  return parent;
}

int ListVolumes(FileEntryTable& table) {
  table.clear();
  static const QSet<QByteArray> kPseudo = {
      "proc",      "sysfs",           "devtmpfs",   "devpts",      "tmpfs",
      "ramfs",     "cgroup",          "cgroup2",    "securityfs",  "pstore",
      "bpf",       "debugfs",         "tracefs",    "mqueue",      "hugetlbfs",
      "fusectl",   "configfs",        "autofs",     "binfmt_misc", "efivarfs",
      "nsfs",      "rpc_pipefs",      "squashfs",   "overlay",     "nfsd",
      "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal"};
  static const QStringList kSystemRoots = {QStringLiteral("/proc"),   QStringLiteral("/sys"),
                                           QStringLiteral("/dev"),    QStringLiteral("/run"),
                                           QStringLiteral("/snap"),   QStringLiteral("/boot"),
                                           QStringLiteral("/var/lib")};
  auto add = [&table](const QString& root, const QString& label) {
    FileListEntry e;
    e.fullPath = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    e.name = label.isEmpty() ? root : QStringLiteral("%1 (%2)").arg(label, root);
    e.attributes = FILE_ATTR_DIRECTORY;
    table.push_back(std::move(e));
  };
  const QStorageInfo rootInfo(QStringLiteral("/"));
  add(QStringLiteral("/"), rootInfo.isValid() ? rootInfo.name() : QString());
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    const QString root = volume.rootPath();
    if (!volume.isValid() || !volume.isReady() || root == QLatin1String("/")) continue;
    if (kPseudo.contains(volume.fileSystemType())) continue;
    const bool userMedia = root.startsWith(QLatin1String("/run/media/"));
    const bool system = std::any_of(
        kSystemRoots.begin(), kSystemRoots.end(),
        [&](const QString& s) { return root == s || root.startsWith(s + QLatin1Char('/')); });
    if (system && !userMedia) continue;
    const bool seen = std::any_of(table.begin(), table.end(), [&](const FileListEntry& e) {
      return e.fullPath == root + QLatin1Char('/');
    });
    if (!seen) add(root, volume.name());
  }
  return static_cast<int>(table.size());
}

QString SizeText(quint64 bytes) {
  if (bytes < 1024) return QStringLiteral("%1 bytes").arg(bytes);
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  unsigned __int128 unit = 1;
  for (const char* name : kUnits) {
    unit *= 1024;
    const unsigned __int128 b = bytes;
    int decimals = -1;
    if (b < 10 * unit) {
      decimals = 2;
    } else if (b < 100 * unit) {
      decimals = 1;
    } else if (b < 1000 * unit) {
      decimals = 0;
    }
    if (decimals < 0 && name != kUnits[5]) continue;
    if (decimals < 0) decimals = 0;
    unsigned __int128 scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    // Truncated, not rounded: 1023 KB never turns into "1.00 MB" too early.
    const auto scaled = static_cast<quint64>(b * scale / unit);
    const quint64 whole = scaled / static_cast<quint64>(scale);
    const quint64 part = scaled % static_cast<quint64>(scale);
    QString text = QString::number(whole);
    if (decimals > 0)
      text += QLatin1Char('.') + QStringLiteral("%1").arg(part, decimals, 10, QLatin1Char('0'));
    return text + QLatin1Char(' ') + QLatin1String(name);
  }
  return QString();
}

QString TimeText(qint64 secondsUtc) {
  const auto t = static_cast<time_t>(secondsUtc);
  struct tm local {};
  if (!::localtime_r(&t, &local)) return QString();
  char buffer[64];
  // The classic locale's "%x %X", spelt out so the user's locale cannot change it.
  const size_t n = std::strftime(buffer, sizeof buffer, "%m/%d/%y %H:%M:%S", &local);
  return QString::fromLatin1(buffer, static_cast<qsizetype>(n));
}

QString AttributeLetters(quint32 attributes) {
  QString s;
  if (attributes & FILE_ATTR_ARCHIVE) s += QLatin1Char('A');
  if (attributes & FILE_ATTR_HIDDEN) s += QLatin1Char('H');
  if (attributes & FILE_ATTR_READONLY) s += QLatin1Char('R');
  if (attributes & FILE_ATTR_SYSTEM) s += QLatin1Char('S');
  if (attributes & FILE_ATTR_COMPRESSED) s += QLatin1Char('C');
  if (attributes & FILE_ATTR_ENCRYPTED) s += QLatin1Char('E');
  return s;
}

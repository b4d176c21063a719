#include "explorer/file_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStorageInfo>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <numeric>

#include "common/safe_file.h"
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

// Names listed in the folder's ".hidden" file, the desktop's way of hiding entries without
// renaming them. The file is read with a bound; a missing or unreadable one hides nothing.
QSet<QString> HiddenNames(int dirFd) {
  QSet<QString> names;
  const int fd = ::openat(dirFd, ".hidden", O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return names;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 1024 * 1024) {
    QByteArray bytes(static_cast<qsizetype>(st.st_size), '\0');
    qsizetype got = 0;
    while (got < bytes.size()) {
      const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += n;
    }
    bytes.truncate(got);
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

QString ParentRowPath(const QString& f) {
  if (f == QLatin1String("/")) return QString::fromLatin1(kComputerPath);
  const QString trimmed = f.left(f.size() - 1);
  return trimmed.left(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
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
    quint32 attributes = 0;
    if (::statx(dirFd, rawName, AT_STATX_SYNC_AS_STAT, mask, &st) != 0) {
      // A dangling symbolic link still is an entry; anything else vanished meanwhile.
      if (::statx(dirFd, rawName, AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW, mask, &st) != 0)
        continue;
      attributes |= FILE_ATTR_SYSTEM;
    }
    FileListEntry e;
    e.name = FromNative(rawName);
    e.fullPath = f + e.name;
    const bool isDir = S_ISDIR(st.stx_mode) && !(attributes & FILE_ATTR_SYSTEM);
    if (isDir) {
      attributes |= FILE_ATTR_DIRECTORY;
    } else if (!S_ISREG(st.stx_mode)) {
      attributes |= FILE_ATTR_SYSTEM;
    }
    if (hidden.contains(e.name)) attributes |= FILE_ATTR_HIDDEN;
    const bool immutable = (st.stx_attributes_mask & STATX_ATTR_IMMUTABLE) &&
                           (st.stx_attributes & STATX_ATTR_IMMUTABLE);
    if (readOnlyMount || immutable || !MayWrite(st)) attributes |= FILE_ATTR_READONLY;
    if ((st.stx_attributes_mask & STATX_ATTR_COMPRESSED) &&
        (st.stx_attributes & STATX_ATTR_COMPRESSED))
      attributes |= FILE_ATTR_COMPRESSED;
    if ((st.stx_attributes_mask & STATX_ATTR_ENCRYPTED) &&
        (st.stx_attributes & STATX_ATTR_ENCRYPTED))
      attributes |= FILE_ATTR_ENCRYPTED;
    e.attributes = attributes;
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
  FileListEntry parent;
  parent.fullPath = ParentRowPath(f);
  parent.name = QStringLiteral("..");
  parent.attributes = FILE_ATTR_DIRECTORY;
  table.push_back(std::move(parent));
  std::move(folders.begin(), folders.end(), std::back_inserter(table));
  std::move(files.begin(), files.end(), std::back_inserter(table));
  return static_cast<int>(table.size());
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

SortKey SortKeyOfColumn(int column) {
  switch (column) {
    case 1:
      return SortKey::Size;
    case 2:
      return SortKey::Type;
    case 3:
      return SortKey::Time;
    case 4:
      return SortKey::Attributes;
    default:
      return SortKey::Name;
  }
}

namespace {

// The text that orders like a comparison without regard to case: every character replaced
// by its simple case folding. Computed once per row, so the sort itself compares plain
// strings.
QString FoldedKey(const QString& text) {
  QString folded = text;
  QChar* p = folded.data();
  const qsizetype n = folded.size();
  for (qsizetype i = 0; i < n; ++i) {
    const char16_t c = p[i].unicode();
    if (c < 0x80) {
      if (c >= 'A' && c <= 'Z') p[i] = QChar(static_cast<char16_t>(c + 32));
    } else if (QChar::isHighSurrogate(c) && i + 1 < n && p[i + 1].isLowSurrogate()) {
      const char32_t folded32 = QChar::toCaseFolded(QChar::surrogateToUcs4(c, p[i + 1].unicode()));
      if (QChar::requiresSurrogates(folded32)) {
        p[i] = QChar(QChar::highSurrogate(folded32));
        p[i + 1] = QChar(QChar::lowSurrogate(folded32));
      }
      ++i;
    } else {
      p[i] = QChar(static_cast<char16_t>(QChar::toCaseFolded(static_cast<char32_t>(c))));
    }
  }
  return folded;
}

// Small integers that order rows like their texts: rows with equal raw values share a
// rank, and only the distinct values are turned into texts and sorted, so a column with few
// distinct values (types, attribute letters) costs one hash lookup per row.
template <typename Raw, typename RawOf, typename TextOf>
std::vector<int> RanksOf(size_t rowCount, const std::vector<int>& rows, RawOf rawOf,
                         TextOf textOf) {
  QHash<Raw, int> index;
  std::vector<Raw> distinct;
  std::vector<int> indexOfRow(rowCount, 0);
  for (int r : rows) {
    const Raw raw = rawOf(r);
    auto it = index.constFind(raw);
    if (it == index.constEnd()) {
      it = index.insert(raw, static_cast<int>(distinct.size()));
      distinct.push_back(raw);
    }
    indexOfRow[static_cast<size_t>(r)] = it.value();
  }
  std::vector<QString> texts;
  texts.reserve(distinct.size());
  for (const Raw& raw : distinct) texts.push_back(textOf(raw));
  std::vector<int> byText(distinct.size());
  std::iota(byText.begin(), byText.end(), 0);
  std::sort(byText.begin(), byText.end(), [&texts](int a, int b) {
    return texts[static_cast<size_t>(a)] < texts[static_cast<size_t>(b)];
  });
  std::vector<int> rankOfDistinct(distinct.size(), 0);
  int rank = 0;
  for (size_t i = 0; i < byText.size(); ++i) {
    if (i > 0 && texts[static_cast<size_t>(byText[i])] != texts[static_cast<size_t>(byText[i - 1])])
      ++rank;
    rankOfDistinct[static_cast<size_t>(byText[i])] = rank;
  }
  std::vector<int> ranks(rowCount, 0);
  for (int r : rows)
    ranks[static_cast<size_t>(r)] =
        rankOfDistinct[static_cast<size_t>(indexOfRow[static_cast<size_t>(r)])];
  return ranks;
}

}  // namespace

void SortEntries(FileEntryTable& table, int column, bool ascending, std::vector<int>* order) {
  const int n = static_cast<int>(table.size());
  std::vector<int> rows(static_cast<size_t>(n));
  std::iota(rows.begin(), rows.end(), 0);
  if (n >= 2) {
    const int start = table[0].IsParentRow() ? 1 : 0;
    const auto first = rows.begin() + start;
    const auto firstFile = std::stable_partition(
        first, rows.end(), [&table](int r) { return table[static_cast<size_t>(r)].IsFolder(); });
    const std::vector<int> folderRows(first, firstFile);
    const std::vector<int> fileRows(firstFile, rows.end());
    const auto at = [](auto& v, int r) -> auto& {
      return v[static_cast<size_t>(r)];
    };

    // Folders by full path, files by the column's key; both in the chosen direction.
    std::vector<QString> text(static_cast<size_t>(n));
    for (int r : folderRows) at(text, r) = FoldedKey(at(table, r).fullPath);
    std::stable_sort(first, firstFile, [&](int a, int b) {
      return ascending ? at(text, a) < at(text, b) : at(text, b) < at(text, a);
    });

    const SortKey key = SortKeyOfColumn(column);
    auto sortFiles = [&](auto less) {
      std::stable_sort(firstFile, rows.end(),
                       [&](int a, int b) { return ascending ? less(a, b) : less(b, a); });
    };
    switch (key) {
      case SortKey::Size:
        sortFiles([&](int a, int b) { return at(table, a).size < at(table, b).size; });
        break;
      case SortKey::Time:
        sortFiles([&](int a, int b) { return at(table, a).lastWrite < at(table, b).lastWrite; });
        break;
      case SortKey::Type: {
        const std::vector<int> ranks = RanksOf<QString>(
            table.size(), fileRows, [&](int r) { return at(table, r).typeText; }, FoldedKey);
        sortFiles([&](int a, int b) { return at(ranks, a) < at(ranks, b); });
        break;
      }
      case SortKey::Attributes: {
        const std::vector<int> ranks = RanksOf<quint32>(
            table.size(), fileRows, [&](int r) { return at(table, r).attributes; },
            AttributeLetters);
        sortFiles([&](int a, int b) { return at(ranks, a) < at(ranks, b); });
        break;
      }
      case SortKey::Name:
        for (int r : fileRows) at(text, r) = FoldedKey(at(table, r).name);
        sortFiles([&](int a, int b) { return at(text, a) < at(text, b); });
        break;
    }
    FileEntryTable sorted;
    sorted.reserve(table.size());
    for (int r : rows) sorted.push_back(std::move(table[static_cast<size_t>(r)]));
    table.swap(sorted);
  }
  if (order) *order = std::move(rows);
}

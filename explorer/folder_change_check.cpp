#include "explorer/folder_change_check.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFileSystemWatcher>
#include <QStringList>
#include <ctime>

#include "explorer/explorer_paths.h"
#include "framework/native_path.h"

namespace {

// Coarse file system clocks (FAT keeps two seconds) can leave a folder's modification
// time unchanged by a change made just after a listing; only a listing made this long
// after the folder's last change can be trusted to have seen every name.
constexpr qint64 kMtimeTrustNs = 3'000'000'000LL;

bool FolderMtimeNs(const QString& folder, qint64& ns) {
  struct statx st {};
  if (::statx(AT_FDCWD, Native(folder).c_str(), AT_STATX_SYNC_AS_STAT, STATX_MTIME, &st) != 0)
    return false;
  ns = static_cast<qint64>(st.stx_mtime.tv_sec) * 1'000'000'000LL + st.stx_mtime.tv_nsec;
  return true;
}

qint64 NowNs() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<qint64>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

}  // namespace

CFolderChangeCheck::CFolderChangeCheck(QObject* owner) : m_watcher(new QFileSystemWatcher(owner)) {
  QObject::connect(m_watcher, &QFileSystemWatcher::directoryChanged, owner,
                   [this] { m_dirty = true; });
}

void CFolderChangeCheck::Watch(const QString& folder) {
  const QStringList watched = m_watcher->directories();
  const QString path = TrimmedPath(folder);
  if (watched.size() == 1 && watched.first() == path) return;
  if (!watched.isEmpty()) m_watcher->removePaths(watched);
  m_dirty = false;
  // Without a watch (no inotify, limits reached) every check looks at the folder itself.
  m_watching = !path.isEmpty() && m_watcher->addPath(path);
}

ListingStamp CFolderChangeCheck::StampNow(const QString& folder) {
  ListingStamp stamp;
  stamp.listedAtNs = NowNs();
  if (!FolderMtimeNs(folder, stamp.mtimeNs)) stamp.mtimeNs = -1;
  return stamp;
}

bool CFolderChangeCheck::NeedsComparison(const QString& folder) {
  // The watcher sees local changes only; a change made on a network file system by
  // another machine shows in the folder's modification time alone, so that one statx
  // runs every second also while the watcher is quiet.
  if (m_watching && !m_dirty && MtimeUnchanged(folder)) return false;
  if (UnchangedSinceListing(folder)) {
    m_dirty = false;  // only contents or attributes changed: the names are the same
    return false;
  }
  m_dirty = false;
  return true;
}

bool CFolderChangeCheck::MtimeUnchanged(const QString& folder) const {
  qint64 mtime = 0;
  return m_listed.mtimeNs >= 0 && FolderMtimeNs(folder, mtime) && mtime == m_listed.mtimeNs;
}

bool CFolderChangeCheck::UnchangedSinceListing(const QString& folder) const {
  qint64 mtime = 0;
  if (m_listed.mtimeNs < 0 || !FolderMtimeNs(folder, mtime)) return false;
  return mtime == m_listed.mtimeNs && m_listed.listedAtNs - m_listed.mtimeNs > kMtimeTrustNs;
}

#pragma once
// Tells the file list when the folder it shows may have changed names, cheaply enough to
// ask once a second: a file system watcher reports local changes, and the folder's
// modification time catches what the watcher cannot see (another machine writing to a
// network share, a watcher that could not be set up). Only when either speaks does the
// list read the folder again and compare.
#include <QString>
#include <QtGlobal>

class QFileSystemWatcher;
class QObject;

// The moment of a listing and the folder's modification time just before it.
struct ListingStamp {
  qint64 listedAtNs = 0;
  qint64 mtimeNs = -1;  // -1: unknown
};

class CFolderChangeCheck {
 public:
  // The watcher belongs to owner and reports on owner's thread.
  explicit CFolderChangeCheck(QObject* owner);

  // Follows folder (a trailing "/" is ignored) from now on instead of the one before.
  void Watch(const QString& folder);
  // The clock and the folder's modification time now, taken before a listing starts, so a
  // change during the listing counts as new.
  static ListingStamp StampNow(const QString& folder);
  // The listing that StampNow preceded is shown.
  void NoteListed(const ListingStamp& stamp) { m_listed = stamp; }
  // Something changed the folder: the next check compares.
  void MarkChanged() { m_dirty = true; }
  // Whether the folder must be listed again and compared with what is shown. No when the
  // watcher is quiet and the modification time unchanged, or when the time is unchanged
  // and old enough to trust; a yes is given once per reported change.
  bool NeedsComparison(const QString& folder);

 private:
  bool MtimeUnchanged(const QString& folder) const;
  bool UnchangedSinceListing(const QString& folder) const;

  QFileSystemWatcher* m_watcher;
  bool m_watching = false;  // the watcher reports changes of the current folder
  bool m_dirty = false;     // a change was reported since the last check
  ListingStamp m_listed;
};

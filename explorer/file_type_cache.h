#pragma once
// Type names and icons of the file list's entries, shared by every list of the process
// like the shell's system image list: icons live in one list and entries keep an index
// into it. Type names come from the desktop's MIME database by file name (the way the
// shell names types by extension), icons from QFileIconProvider; both are looked up once
// per name suffix and MIME type and then answered from the cache, so a folder of
// 100,000 files costs a handful of lookups.
#include <QFileIconProvider>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMimeDatabase>

#include "explorer/file_listing.h"

class CFileTypeCache {
 public:
  static CFileTypeCache& Instance();

  // Fills typeText and iconIndex of a row of a folder listing; volume rows of the
  // computer view get the drive's type and icon.
  void Fetch(FileListEntry& entry, bool volume = false);
  // Only the type text (what sorting by type needs); the icon stays unfetched when it was.
  void FetchType(FileListEntry& entry, bool volume = false);
  QIcon Icon(int index) const;

 private:
  struct TypeInfo {
    QString typeText;
    QString mimeName;
    int iconIndex = -1;
  };
  CFileTypeCache() = default;
  TypeInfo& Lookup(const FileListEntry& entry, bool volume);
  int IconFor(const QString& mimeName, const FileListEntry& entry, bool volume);

  QMimeDatabase m_mimeDb;
  QFileIconProvider m_iconProvider;
  QHash<QString, TypeInfo> m_byKey;
  QHash<QString, int> m_iconByMime;
  QList<QIcon> m_icons;
  QString m_lastSuffix;  // ".ext" of the last type looked up, with its text
  QString m_lastType;
};

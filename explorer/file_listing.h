#pragma once
// The entry table of the file list and the rules that fill and describe it: one folder's
// listing (a ".." row, the subfolders, then the files; dot names never), the computer view
// of mounted volumes, and the size, time and attribute texts. The order of the rows:
// explorer/file_entry_sort.h.
#include <QString>
#include <QtGlobal>
#include <vector>

// Attribute bits in the file system's classic layout, derived from what Linux reports.
enum FileAttributeBit : quint32 {
  FILE_ATTR_READONLY = 0x1,    // the user may not write it
  FILE_ATTR_HIDDEN = 0x2,      // named in the folder's ".hidden" file
  FILE_ATTR_SYSTEM = 0x4,      // neither a regular file nor a folder (FIFO, socket, device,
                               // dangling link)
  FILE_ATTR_DIRECTORY = 0x10,  // a folder (also through a symbolic link)
  FILE_ATTR_ARCHIVE = 0x20,    // never set on Linux
  FILE_ATTR_COMPRESSED = 0x800,
  FILE_ATTR_ENCRYPTED = 0x4000,
};

// The full path of the ".." row of "/" and of the computer view itself.
inline constexpr char kComputerPath[] = "computer:///";

struct FileListEntry {
  QString fullPath;  // folder + name; the ".." row: the parent with a trailing "/"
  QString name;      // as shown in the Name column
  QString typeText;  // empty until fetched
  quint64 size = 0;  // 0 for folders
  quint32 attributes = 0;
  int iconIndex = -1;    // index into the shared icon list; -1 = not fetched
  qint64 lastWrite = 0;  // seconds since the epoch (UTC); files only

  bool IsFolder() const { return (attributes & FILE_ATTR_DIRECTORY) != 0; }
  bool IsParentRow() const { return name == QLatin1String(".."); }
};
using FileEntryTable = std::vector<FileListEntry>;

// Lists folder (a trailing "/" is added when missing) into table: the ".." row (the parent
// folder, or the computer path for "/"), the subfolders, then the files, each group in
// the order the file system returns them. Names beginning with "." are never listed, so
// neither are the temporary files of crash-safe writes. Returns the number of rows,
// ".." included; returns 0 and leaves table unchanged when folder is not a readable
// folder.
int ListFolder(FileEntryTable& table, const QString& folder);

// The ".." row of folder (a trailing "/" is ignored): the parent folder with a trailing
// "/", or the computer path for "/".
FileListEntry ParentRow(const QString& folder);

// Fills table with the mounted volumes a user stores files on ("/" first, then the others
// in mount order; pseudo and system file systems are left out). Full path: the mount
// point with a trailing "/"; name: the volume label with the mount point in brackets, or
// the mount point. Returns the number of rows.
int ListVolumes(FileEntryTable& table);

// "532 bytes", "1.20 KB", "12.3 KB", "123 KB", "3.45 MB" ...: three significant digits,
// truncated, in units of 1024.
QString SizeText(quint64 bytes);
// The time in local time, "%x %X" of the classic locale: "12/07/26 03:12:12".
QString TimeText(qint64 secondsUtc);
// "A", "H", "R", "S", "C", "E" in this order, each when its bit is set.
QString AttributeLetters(quint32 attributes);

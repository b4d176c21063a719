#pragma once
// Files on the clipboard and in drags, in the forms the desktop's file managers exchange:
// text/uri-list, GNOME's x-special/gnome-copied-files ("copy" or "cut", then one URL a
// line) and KDE's application/x-kde-cutselection ("1" for cut), plus the paths as plain
// text. A drag from the file list also carries a private marker type.
#include <QString>
#include <QStringList>

class QMimeData;

inline constexpr char kGnomeCopiedFilesMime[] = "x-special/gnome-copied-files";
inline constexpr char kKdeCutSelectionMime[] = "application/x-kde-cutselection";
// Marks a drag that started in the file list.
inline constexpr char kListDragMarkerMime[] = "application/x-vellumguard-elistctrl";

struct ClipboardFiles {
  QStringList paths;  // local paths without a trailing "/" (except "/")
  bool cut = false;
  bool IsEmpty() const { return paths.isEmpty(); }
};

// New mime data for the paths (folders may carry a trailing "/"); the caller owns it.
QMimeData* MakeFileMimeData(const QStringList& paths, bool cut);
// The local files that mime data offers and whether they were cut. Non-local URLs are
// left out.
ClipboardFiles FilesFromMimeData(const QMimeData* data);

void PutFilesOnClipboard(const QStringList& paths, bool cut);
ClipboardFiles FilesOnClipboard();
// Whether the clipboard offers files (by its formats, without reading the data).
bool ClipboardHasFiles();
// Empties the clipboard when it still holds exactly these files (after a cut was pasted).
void ClearClipboardIfHolding(const QStringList& paths);

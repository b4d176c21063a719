#pragma once
// File operations of the explorer panes, with the desktop's semantics: rename in place,
// copy or move into a folder, open with the desktop's default application (moving to the
// trash: explorer/file_trash.h). Nothing is ever replaced without a Yes from the user;
// copies are written to a temporary name beside the target, synced and then renamed into
// place, so an interrupted paste leaves no half-written file under the real name. Every
// failure is reported through IFileOpUi with the file and the reason, and the operation
// goes on with the next item.
#include <QString>
#include <QStringList>
#include <functional>
#include <string>

#include "explorer/file_op_ui.h"

// Opening a file with the desktop's default application. The opener is replaceable (tests
// record what would be opened); an empty opener restores QDesktopServices::openUrl.
using FileOpener = std::function<bool(const QString& path)>;
void SetFileOpener(FileOpener opener);
bool OpenWithDesktop(const QString& path);

struct FileOpResult {
  int done = 0;     // items completed
  int skipped = 0;  // items the user chose not to replace, or that needed nothing
  int failed = 0;   // items reported as failed
  bool cancelled = false;
};

// Renames the file or folder path (a trailing "/" is ignored) to newName in the same
// folder. An empty name or the same name does nothing; a name with "/" or an existing
// target is refused with a message. newPath receives the new full path on success.
bool RenameEntry(const QString& path, const QString& newName, IFileOpUi& ui,
                 QString* newPath = nullptr);
// Renames the native path from to to, never replacing an existing to (also on file systems
// without RENAME_NOREPLACE). Returns 0, EEXIST when to is taken, or another errno.
int RenameUnlessExists(const std::string& from, const std::string& to);

enum class PasteMode { Copy, Move };
// Copies or moves sources into targetFolder. An existing file of the same name is
// replaced only when the user answers Yes (No skips it, Cancel ends the operation);
// folders of the same name are merged. Copying an item into its own folder makes
// "name (copy)", "name (copy 2)" ...; moving it there does nothing. A folder is never
// copied or moved into itself. Symbolic links are copied as links, never followed;
// FIFOs, sockets and devices are refused. A move across file systems deletes each source
// file only after its copy is complete and synced.
FileOpResult PasteFiles(const QStringList& sources, const QString& targetFolder, PasteMode mode,
                        IFileOpUi& ui);

#pragma once
// File operations of the explorer panes, with the desktop's semantics: rename in place,
// copy or move into a folder, move to the trash, open with the desktop's default
// application. Nothing is ever replaced without a Yes from the user; copies are written to
// a temporary name beside the target, synced and then renamed into place, so an
// interrupted paste leaves no half-written file under the real name. Every failure is
// reported through IFileOpUi with the file and the reason, and the operation goes on with
// the next item.
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "framework/command_target.h"
#include "guard/guard_ui.h"
#include "guard/ui/guard_ui_factory.h"

class QWidget;

// What file operations need from the user.
class IFileOpUi {
 public:
  virtual ~IFileOpUi() = default;
  // A question box captioned "Vellumguard"; returns MSG_YES, MSG_NO, MSG_OK or MSG_CANCEL.
  virtual int Ask(const QString& text, MsgButtons buttons) = 0;
  // An error box captioned "Vellumguard".
  virtual void Fail(const QString& text) = 0;
  // Progress of a long operation in bytes; false when the user cancelled.
  virtual bool Progress(quint64 done, quint64 total, const QString& path) = 0;
  // The operation ended: closes a progress window that was shown.
  virtual void Finish() = 0;
};

// The user interface of a file operation owned by owner: the window's own message boxes
// and progress window when guardUi is given, plain Qt ones otherwise. progressTitle names
// the progress window ("Copying", "Moving").
std::unique_ptr<IFileOpUi> MakeFileOpUi(QWidget* owner, const GuardUiFactory& guardUi,
                                        const QString& progressTitle = QString());

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

// Moves every path to the desktop's trash. The home trash is made first when missing
// (with its data folder, mode 0700); a path that cannot be trashed is reported and stays
// where it was.
FileOpResult MoveToTrash(const QStringList& paths, IFileOpUi& ui);
// The freedesktop home trash, $XDG_DATA_HOME/Trash (~/.local/share/Trash by default).
QString HomeTrashFolder();
// Creates the home trash with its "files" and "info" folders when missing; false with the
// folder and the reason in error when it cannot.
bool EnsureHomeTrash(QString* error);

// The operating system's reason for errno err, for messages.
QString ErrorText(int err);

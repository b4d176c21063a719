#pragma once
// The file list: the contents of one folder (a ".." row, the subfolders, then the files)
// with name, size, type, time and attribute columns, sorting by column, opening by double
// click or Enter, in-place rename, a context menu, drag and drop with the desktop's file
// managers, and a once-a-second check that rereads the folder when names in it changed.
// It can also show the computer view of mounted volumes. It knows one rule about
// protection: opening a protected file ("*.~de") first restores it, and then opens the
// restored file.
#include <QString>
#include <QStringList>
#include <functional>

#include "explorer/file_listing.h"
#include "explorer/file_operations.h"
#include "explorer/folder_change_check.h"
#include "framework/command_target.h"
#include "framework/sort_list_ctrl.h"
#include "guard/ui/guard_ui_factory.h"

class CFileListModel;
class QAbstractItemView;
class QMenu;
class QTimer;

// Sent to the owner through EListCtrl::Command.
enum FileListNotification : int {
  ID_LIST_FOLDER_CHANGED = 501,   // the user moved the list to another folder
  ID_LIST_BACKGROUND_MENU = 502,  // right click with nothing selected
};

class EListCtrl : public CSortListCtrl {
  Q_OBJECT
 public:
  // Called around the context menu: phase 0 with the still empty popup (the owner puts its
  // items in), phase 1 after the menu closed.
  using MenuHookFn = std::function<void(int phase, QMenu* popup)>;

  explicit EListCtrl(QWidget* parent = nullptr);
  ~EListCtrl() override;

  // Columns, timers and the initial sort by name; true at once when done before.
  bool SetupList();
  // Shows the folder (a trailing "/" is added); false, changing nothing, when it is not an
  // existing folder. "computer:///" shows the mounted volumes.
  bool DisplayFolder(const QString& path);
  // With reread: reads the shown folder (or the volumes) again, keeping the selection.
  // Then redraws. Nothing before SetupList.
  void RefreshList(bool reread);
  // Shows the mounted volumes; the current folder stays as it was.
  void ShowDrives();
  bool IsShowingDrives() const;
  // Appends the full path of every selected row in row order, except ".." and entries that
  // no longer exist; folders get a trailing "/". Returns the number appended.
  int GetSelectedPaths(QStringList& paths) const;
  // The shown folder with its trailing "/" (empty before the first DisplayFolder).
  QString GetCurrentFolder() const { return m_currentFolder; }
  // The first row whose full path is path (a trailing "/" is ignored), -1 when none. An
  // exact match is preferred to one that differs only in case.
  int FindEntry(const QString& path) const;
  void Sort(int column, int ascending) override;
  // Opens the focused row: a folder is shown (and ID_LIST_FOLDER_CHANGED sent), a
  // protected file is restored first, and a file is opened with the desktop's application.
  void OpenFocusedEntry();
  // One run of the once-a-second check (the timer calls it).
  void RefreshCheck();
  // The context menu for the selection at a global position.
  void ShowContextMenu(const QPoint& globalPos);

  MenuHookFn MenuHook;

  const FileEntryTable& Entries() const;
  CFileListModel* ListModel() const { return m_model; }
  // The window's prompts and progress window for restoring and for file operations.
  void SetGuardUi(GuardUiFactory guardUi) { m_guardUi = std::move(guardUi); }
  const GuardUiFactory& GuardUi() const { return m_guardUi; }
  // Replaces the desktop's opener of files (tests record what would be opened).
  void SetOpener(FileOpener opener) { m_opener = std::move(opener); }
  // Opens a list file (".dlt") as the window's guard list; unset, the desktop opens it.
  void SetListOpener(std::function<bool(const QString& path)> opener) {
    m_listOpener = std::move(opener);
  }
  // Backspace and Alt+Up: the parent folder (from "/" the computer view).
  void OpenParentFolder();
  // Delete: asks, then moves the selection to the trash as the context menu does.
  void TrashSelection();
  // Copies or moves files into a folder as a drop or a paste does, then rereads.
  FileOpResult TransferFiles(const QStringList& sources, const QString& targetFolder,
                             PasteMode mode);
  // True while an in-place edit just ended (Enter then does not open the row).
  bool EditJustEnded() const { return m_editEnded; }

 signals:
  // ID_LIST_FOLDER_CHANGED, ID_LIST_BACKGROUND_MENU, or an owner item of the context menu.
  void Command(int id);
  // The account of a restore that opening a protected file ran ("Restored 1 of 1 file").
  void GuardRunFinished(const QString& text);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ApplyTable(FileEntryTable&& table, bool volumes, bool keepState);
  int LongestLabelWidth() const;
  void OnRenameRequested(int row, const QString& newName);
  void OnEditEnded();
  void OpenPath(const QString& path, bool navigateFolders);
  void OpenFile(const QString& path);
  int RestoreProtectedFile(const QString& path);
  bool HandleKeyRelease(int key);
  bool HandleKeyPress(int key, Qt::KeyboardModifiers mods);
  bool HandleDrag(QObject* viewport, QEvent* event);
  void NoteClick(QAbstractItemView* view, QEvent* event);

  CFileListModel* m_model = nullptr;
  QString m_currentFolder;
  QTimer* m_refreshTimer = nullptr;    // the once-a-second check
  QTimer* m_editTimer = nullptr;       // clears m_editEnded 200 ms after an edit
  QTimer* m_slowClickTimer = nullptr;  // a second click that is no double click renames
  int m_slowClickRow = -1;             // the row pressed while it was the only selection
  CFolderChangeCheck m_changes;        // when the once-a-second check must read the folder
  bool m_comparing = false;
  bool m_editEnded = false;
  int m_pressedKey = 0;  // the last key pressed in the list and not yet released
  bool m_initialized = false;
  GuardUiFactory m_guardUi;
  FileOpener m_opener;
  std::function<bool(const QString&)> m_listOpener;
};

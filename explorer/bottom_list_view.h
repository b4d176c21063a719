#pragma once
// The file list pane (bottom right): one EListCtrl, and the place where users protect and
// restore what they see. The Guard menu's Encrypt and Decrypt act on the selection with
// captions that name it, the same two commands head the context menu, a right click on
// empty space opens the pane's own menu (the whole folder's commands, Paste, Refresh,
// sorting, view modes, New Folder), and Cut, Copy and Paste exchange files with the
// desktop's file managers.
#include <QStringList>
#include <QWidget>

#include "framework/command_target.h"
#include "guard/guard_command.h"
#include "guard/ui/guard_ui_factory.h"

class EListCtrl;
class QMenu;
struct GuardOutcome;

// The pane's own commands (menu 132).
enum FileListCommand : int {
  ID_FILELIST_REFRESH = 32785,
  ID_FILELIST_SORT_NAME = 32786,
  ID_FILELIST_SORT_TYPE = 32787,
  ID_FILELIST_SORT_SIZE = 32788,
  ID_FILELIST_SORT_TIME = 32789,
  ID_FILELIST_NEW_FOLDER = 32790,
};

// The selected paths sorted into the classes the guard commands use.
struct FileSelection {
  QStringList paths;       // as GetSelectedPaths gives them, folders with a trailing "/"
  int folders = 0;         // F
  int plainFiles = 0;      // P
  int protectedFiles = 0;  // R: names ending in ".~de"
  int ignored = 0;         // folder settings files "zde.tmp"
  int Files() const { return plainFiles + protectedFiles; }  // N
};

FileSelection ClassifyPaths(const QStringList& paths);
// The caption of a guard command for a selection, verb "Encrypt " or "Decrypt ": the one
// entry's name in double quotes ("&" doubled, for a menu), or "Files", "Folders" ...
QString SelectionCaption(const QString& verb, const FileSelection& selection);

class CBottomListView : public QWidget, public ICommandTarget {
  Q_OBJECT
 public:
  CBottomListView(INavigator* navigator, GuardUiFactory guardUi, QWidget* parent = nullptr);
  ~CBottomListView() override;

  void ShowFolder(const QString& path);  // also "computer:///"
  // The shown folder with its trailing "/", or "computer:///" in the computer view.
  QString CurrentFolder() const;
  void SetViewMode(int viewCommandId);  // ID_VIEW_LARGEICON, SMALLICON, LIST, DETAILS
  int ViewMode() const;
  QList<int> ColumnWidths() const;
  void SetColumnWidths(const QList<int>& widths);
  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

  EListCtrl* List() const { return m_list; }
  // The selection as it is now (each path checked on disk).
  FileSelection Selection() const;
  // The context menu hook of the list: phase 0 puts the encrypt and decrypt items and a
  // separator into the empty popup.
  void MenuHook(int phase, QMenu* popup);

 signals:
  void SelectionChanged();
  // A protect or restore command ended; text says what happened ("Protected 3 of 4
  // files; 1 skipped"), for the status bar.
  void GuardRunFinished(const QString& text);

 private:
  // Encrypt or Decrypt of the selection (ID_GUARD_ENCRYPT, ID_GUARD_DECRYPT).
  void GuardSelection(GuardVerb verb);
  // The same for the whole shown folder, after a question (ID_GUARD_ENCRYPT_ALL, ...).
  void GuardFolder(GuardVerb verb);
  void ReportRun(const GuardOutcome& outcome);
  void NewFolder();
  void ShowBackgroundMenu();
  void RunShellOffset(const QStringList& objects, int offset);
  bool ShowsFolder() const;
  // The selection for update handlers, kept until the selection or the rows change: the
  // router asks several handlers at once, and a large selection costs a disk check per row.
  const FileSelection& CachedSelection() const;

  INavigator* m_navigator;
  GuardUiFactory m_guardUi;
  EListCtrl* m_list = nullptr;
  mutable FileSelection m_cachedSelection;
  mutable bool m_selectionCached = false;
};

#pragma once
// The list part of the guard list pane: the list document's items as a five-column
// report with live status, and the List and Guard commands on them. CTopView (top_view.h)
// adds copy, paste and files dropped from the desktop's file manager.
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <string>
#include <vector>

#include "framework/command_target.h"
#include "guard/file_collector.h"
#include "guard/ui/guard_ui_factory.h"

class CExplorerDocument;
class CGuardListModel;
class CGuardItem;
class IGuardUi;
struct GuardOutcome;
class CSortListCtrl;
class QMenu;
class QMimeData;
class QTimer;

class CTopListForm : public QWidget, public ICommandTarget {
  Q_OBJECT
 public:
  CTopListForm(CExplorerDocument* document, INavigator* navigator, GuardUiFactory guardUi,
               QWidget* parent = nullptr);
  ~CTopListForm() override;

  QList<int> ColumnWidths() const;
  void SetColumnWidths(const QList<int>& widths);
  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

  // Reads the document again (after every change). The selection stays on the same rows
  // when asked and the number of items did not change (a guard run, new settings);
  // otherwise it is cleared.
  void Refresh(bool keepSelection = true);
  // The context menu as it would be shown now, filled into menu (entries carry their
  // command identifier as data).
  void BuildContextMenu(QMenu* menu);
  // The text of the encrypt (or decrypt) command for the current selection.
  QString GuardCommandText(bool encrypt) const;
  // The encrypt and decrypt texts for a selection of files and folders; name is the one
  // selected item's name when exactly one is selected.
  static QString GuardCommandText(bool encrypt, int files, int folders, const QString& name);

  CSortListCtrl* ListCtrl() const { return m_list; }
  CGuardListModel* Model() const { return m_model; }
  CExplorerDocument* Document() const { return m_document; }
  QList<int> SelectedRows() const;

 signals:
  void SelectionChanged();
  // A protect or restore run ended; text says what happened, for the status bar.
  void GuardRunFinished(const QString& text);

 protected:
  // Adds the dropped or pasted paths: a folder through the add-folder dialog (once per
  // folder; Cancel skips only that folder), an existing file directly.
  void AddDroppedPaths(const QStringList& paths);
  // Whether the clipboard holds a list of local files.
  static bool ClipboardHasFiles();
  // The local files of a drag or the clipboard (empty when there are none).
  static QStringList LocalFiles(const QMimeData* data);
  // The selected items' paths.
  QStringList SelectedPaths() const;

 private:
  void ShowContextMenu(const QPoint& globalPos);
  void OnInsertFiles();
  void OnInsertFolders();
  void OnRemoveSelected();
  void OnRemoveAll();
  void OnProperties();
  void OnEncrypt(bool all);
  void OnDecrypt(bool all);
  void ReportRun(const GuardOutcome& outcome);
  // A list this user did not make protects only after its password was typed here.
  bool ListKeyConfirmed(IGuardUi& ui);
  void OnOpen();
  // "Edit Protected File": the one selected item, a file that is protected now.
  void OnEdit();
  QString ProtectedFileToEdit() const;
  // Expands the selected (or all) items for protecting or restoring.
  // The files of the list's items, as a run works on them.
  RunFiles Expand(bool encrypt, bool all) const;
  // Whether the expansion of the selection yields any path; remembered for a moment, so
  // that menus and toolbars asking several times in a row look at the disk once.
  bool SelectionYields(bool encrypt) const;
  bool AddFolderThroughDialog(const QString& path);
  void SelectionMoved();

  CExplorerDocument* m_document;
  INavigator* m_navigator;
  GuardUiFactory m_guardUi;
  CSortListCtrl* m_list;
  CGuardListModel* m_model;
  QTimer* m_liveStatus;
  size_t m_shownCount = 0;

  struct YieldCache {
    quint64 generation = ~0ull;
    qint64 when = 0;
    bool value = false;
  };
  quint64 m_generation = 0;
  mutable YieldCache m_yields[2];
};

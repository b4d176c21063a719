#pragma once
// The program's window: menus, the two toolbars and the address bar, the status bar,
// and the three panes (guard list on top, folder tree and file list below) that it
// keeps on one folder through NavigateTo. Commands go through the router to the pane
// with the focus, the list document, this frame and the application.
#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "framework/command_target.h"

class CAddressBar;
class CBottomListView;
class CBottomTreeView;
class CCommandRouter;
class CExplorerApp;
class CKeyLockIndicators;
class CThreePaneSplitter;
class CTopView;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;

class CMainFrame : public QMainWindow, public INavigator, public ICommandTarget {
  Q_OBJECT
 public:
  explicit CMainFrame(CExplorerApp* app, QWidget* parent = nullptr);
  // The program's icon for every window it shows (the about box, and the dialogs of a
  // run started from a file manager without the main window).
  static void InstallProgramIcon();
  ~CMainFrame() override;

  // Window creation (bars) and client creation (panes), then the stored size, centred.
  // False when a part could not be made; the program does not start then.
  bool Create();

  void NavigateTo(const QString& path, NavSource source) override;
  bool OpenListFile(const QString& path) override;
  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

  // The address bar's Enter and accepted drop-down choice.
  void OnAddressEnter();
  void OnAddressSelect(int index);
  // "Default setting": edits the defaults and writes them to VellumDef.dat.
  void OnDefaultSetting();
  // "Change Password..." and "Verify" (app/key_commands_ui.h).
  void OnKeyCommand(int id);

  CCommandRouter* Router() const { return m_router; }
  CAddressBar* AddressBar() const { return m_addressBar; }
  CThreePaneSplitter* Splitter() const { return m_splitter; }
  CTopView* TopView() const { return m_topView; }
  CBottomTreeView* TreeView() const { return m_treeView; }
  CBottomListView* ListView() const { return m_listView; }
  QToolBar* MainToolBar() const { return m_toolBar; }
  QToolBar* GuardToolBar() const { return m_guardBar; }
  QMenu* ListMenu() const { return m_listMenu; }
  // How long the status bar shows what a protect or restore run did.
  static constexpr int kRunOutcomeMs = 15000;
  void ShowRunOutcome(const QString& text);

 signals:
  // Emitted once, when the window is first painted (start-up timing).
  void FirstPaint();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  bool KeyCommandOnList() const;
  QStringList KeyCommandSelection() const;
  bool CreateCommands();
  bool CreateMenus();
  bool CreateBars();
  bool CreateClient();
  void UpdateRecentFileMenu();
  void UpdateTitle();
  void StoreGeometry();
  // Moves and shrinks the framed window so that all of it is on the screen.
  void FitFrameToScreen();
  QString IdleStatusText() const;
  void EndRunOutcome();

  CExplorerApp* m_app;
  CCommandRouter* m_router = nullptr;
  CThreePaneSplitter* m_splitter = nullptr;
  CTopView* m_topView = nullptr;
  CBottomTreeView* m_treeView = nullptr;
  CBottomListView* m_listView = nullptr;
  QToolBar* m_toolBar = nullptr;
  QToolBar* m_guardBar = nullptr;
  QToolBar* m_addressToolBar = nullptr;
  CAddressBar* m_addressBar = nullptr;
  CKeyLockIndicators* m_locks = nullptr;
  QMenu* m_listMenu = nullptr;
  bool m_shown = false;
  bool m_painted = false;
  bool m_closeAfterRun = false;
  QString m_runOutcome;
  QElapsedTimer m_runOutcomeShown;
  QTimer* m_runOutcomeTimer = nullptr;  // puts "Ready" back once the outcome has had its time
};

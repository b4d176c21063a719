// The frame's commands, menus, toolbars and status bar, built once at its creation.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>

#include "app/address_bar.h"
#include "app/command_table.h"
#include "app/default_setting.h"
#include "app/explorer_app.h"
#include "app/key_commands_ui.h"
#include "app/key_lock_indicators.h"
#include "app/main_frame.h"
#include "app/progress_window.h"
#include "app/three_pane_splitter.h"
#include "app/window_guard_ui.h"
#include "common/paths.h"
#include "explorer/bottom_list_view.h"
#include "explorer/bottom_tree_view.h"
#include "framework/app_profile.h"
#include "framework/command_ids.h"
#include "framework/command_router.h"
#include "framework/doc_manager.h"
#include "framework/native_path.h"
#include "framework/svg_icon.h"
#include "guardlist/ui/explorer_document.h"
#include "guardlist/ui/top_view.h"

bool CMainFrame::CreateCommands() {
  m_router = new CCommandRouter(this);
  AddWindowCommands(*m_router);
  // The recent files: one command per entry.
  const int recentCount = m_app->DocManager()->RecentFiles().Size();
  for (int i = 0; i < recentCount; ++i)
    m_router->AddCommand(ID_FILE_MRU_FIRST + i, i == 0 ? tr("Recent Files") : QString(),
                         tr("Open this document"));
  m_router->Action(ID_VIEW_TOOLBAR)->setCheckable(true);
  m_router->Action(ID_VIEW_STATUS_BAR)->setCheckable(true);
  auto* viewModes = new QActionGroup(this);
  for (int id : {ID_VIEW_SMALLICON, ID_VIEW_LARGEICON, ID_VIEW_LIST, ID_VIEW_DETAILS}) {
    m_router->Action(id)->setCheckable(true);
    viewModes->addAction(m_router->Action(id));
  }
  m_router->SetFrameTarget(this);
  m_router->SetAppTarget(m_app);
  m_router->SetDocument(m_app->Document());
  return true;
}

bool CMainFrame::CreateMenus() {
  auto add = [this](QMenu* menu, int id) { menu->addAction(m_router->Action(id)); };
  m_listMenu = menuBar()->addMenu(tr("&List"));
  for (int id :
       {ID_LIST_INSERT_FILES, ID_LIST_INSERT_FOLDERS, ID_LIST_REMOVE_SELECTED, ID_LIST_REMOVE_ALL})
    add(m_listMenu, id);
  m_listMenu->addSeparator();
  add(m_listMenu, ID_LIST_PROPERTIES);
  m_listMenu->addSeparator();
  for (int id : {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS}) add(m_listMenu, id);
  m_listMenu->addSeparator();
  const int recentCount = m_app->DocManager()->RecentFiles().Size();
  for (int i = 0; i < recentCount; ++i) add(m_listMenu, ID_FILE_MRU_FIRST + i);
  m_listMenu->addSeparator();
  add(m_listMenu, ID_APP_EXIT);
  connect(m_listMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateRecentFileMenu);

  QMenu* edit = menuBar()->addMenu(tr("&Edit"));
  add(edit, ID_EDIT_UNDO);
  edit->addSeparator();
  for (int id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE}) add(edit, id);

  QMenu* view = menuBar()->addMenu(tr("&View"));
  add(view, ID_VIEW_TOOLBAR);
  add(view, ID_VIEW_STATUS_BAR);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  add(help, ID_APP_ABOUT);

  QMenu* guard = menuBar()->addMenu(tr("&Guard"));
  add(guard, ID_GUARD_ENCRYPT);
  add(guard, ID_GUARD_DECRYPT);
  guard->addSeparator();
  add(guard, ID_GUARD_OPEN);
  add(guard, ID_GUARD_EDIT);
  guard->addSeparator();
  add(guard, ID_GUARD_ENCRYPT_ALL);
  add(guard, ID_GUARD_DECRYPT_ALL);
  guard->addSeparator();
  add(guard, ID_GUARD_CHANGE_PASSWORD);
  add(guard, ID_GUARD_VERIFY);
  guard->addSeparator();
  add(guard, ID_DEFAULT_SETTING);

  for (QMenu* menu : {m_listMenu, edit, view, help, guard}) m_router->WatchMenu(menu);
  UpdateRecentFileMenu();
  return true;
}

void CMainFrame::UpdateRecentFileMenu() {
  // Entries beyond the list are hidden; an empty list shows the disabled "Recent Files".
  const int count = m_app->DocManager()->RecentFiles().Count();
  const int size = m_app->DocManager()->RecentFiles().Size();
  for (int i = 0; i < size; ++i)
    if (QAction* action = m_router->Action(ID_FILE_MRU_FIRST + i))
      action->setVisible(i < count || i == 0);
}

bool CMainFrame::CreateBars() {
  auto makeBar = [this](const QString& name, QSize iconSize, std::initializer_list<int> ids) {
    auto* bar = new QToolBar(name, this);
    bar->setObjectName(name);
    bar->setIconSize(iconSize);
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : ids) {
      if (id == 0)
        bar->addSeparator();
      else
        bar->addAction(m_router->Action(id));
    }
    addToolBar(Qt::TopToolBarArea, bar);
    return bar;
  };
  m_toolBar = makeBar(QStringLiteral("toolBar128"), QSize(16, 16),
                      {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, 0, ID_EDIT_CUT, ID_EDIT_COPY,
                       ID_EDIT_PASTE, 0, ID_FILE_PRINT, 0, ID_VIEW_LARGEICON, ID_VIEW_SMALLICON,
                       ID_VIEW_LIST, ID_VIEW_DETAILS, 0, ID_APP_ABOUT});
  m_guardBar = makeBar(
      QStringLiteral("toolBar131"), QSize(27, 16),
      {ID_LIST_INSERT_FILES, ID_LIST_INSERT_FOLDERS, ID_LIST_REMOVE_SELECTED, 0, ID_GUARD_ENCRYPT,
       ID_GUARD_DECRYPT, 0, ID_GUARD_ENCRYPT_ALL, ID_GUARD_DECRYPT_ALL, 0, ID_GUARD_OPEN});

  // The address bar starts a row of its own below the toolbars.
  addToolBarBreak(Qt::TopToolBarArea);
  m_addressToolBar = new QToolBar(tr("Address"), this);
  m_addressToolBar->setObjectName(QStringLiteral("addressBar"));
  auto* label = new QLabel(tr("Address"), m_addressToolBar);
  label->setContentsMargins(4, 0, 6, 0);
  m_addressBar = new CAddressBar(m_addressToolBar);
  m_addressBar->setObjectName(QStringLiteral("addressCombo"));
  label->setBuddy(m_addressBar);
  m_addressToolBar->addWidget(label);
  m_addressToolBar->addWidget(m_addressBar);
  addToolBar(Qt::TopToolBarArea, m_addressToolBar);
  connect(m_addressBar, &CAddressBar::Entered, this, [this] { m_router->Route(ID_ADDRESS_OK); });
  connect(m_addressBar, &CAddressBar::Selected, this, &CMainFrame::OnAddressSelect);
  for (const std::string& path : m_app->ListPaths()) m_addressBar->addItem(FromNative(path));
  m_addressBar->setEditText(QString());

  statusBar()->showMessage(IdleStatusText());
  m_locks = new CKeyLockIndicators(statusBar());
  return true;
}

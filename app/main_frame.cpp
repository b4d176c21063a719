#include "app/main_frame.h"

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

namespace {

constexpr int kMinStoredSide = 50;
constexpr int kMaxStoredSide = 32768;
constexpr int kDefaultWidth = 750;
constexpr int kDefaultHeight = 550;

// A typed "~" or "~/..." names the home folder, as in a shell.
QString ExpandHome(const QString& text) {
  if (text == QLatin1String("~")) return QDir::homePath();
  if (text.startsWith(QLatin1String("~/"))) return QDir::homePath() + text.mid(1);
  return text;
}

// Beside the progress window's position: the state file keeps only the normal rectangle.
const QString kMaximizedKey = QStringLiteral("Settings/Maximized");

bool EndsWithDlt(const QString& text) {
  // The list extension is compared exactly: "x.DLT" is not a list.
  return text.endsWith(QStringLiteral(".dlt"), Qt::CaseSensitive);
}

}  // namespace

// The pictures live in this static library; they must be registered by hand.
static void InitAppResources() {
  Q_INIT_RESOURCE(app_ui);
}

void CMainFrame::InstallProgramIcon() {
  InitAppResources();
  QApplication::setWindowIcon(LoadSvgIcon(QStringLiteral(":/app/icons/vellumguard.svg")));
}

CMainFrame::CMainFrame(CExplorerApp* app, QWidget* parent) : QMainWindow(parent), m_app(app) {
  InstallProgramIcon();
  setWindowIcon(QApplication::windowIcon());
  setAttribute(Qt::WA_DeleteOnClose, false);
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::Create() {
  if (!CreateCommands() || !CreateMenus() || !CreateBars() || !CreateClient()) return false;
  UpdateTitle();
  if (CDocument* doc = m_app->Document()) {
    connect(doc, &CDocument::TitleChanged, this, &CMainFrame::UpdateTitle);
    doc->SetOwnerWindow(this);
  }
  m_router->UpdateCommands();
  return true;
}

bool CMainFrame::CreateClient() {
  const AppState& state = m_app->State();
  m_splitter = new CThreePaneSplitter(this);
  m_splitter->setObjectName(QStringLiteral("splitter"));
  const GuardUiFactory guardUi = MakeWindowGuardUiFactory();
  m_topView = new CTopView(m_app->Document(), this, guardUi);
  m_treeView = new CBottomTreeView(this);
  m_listView = new CBottomListView(this, guardUi);
  m_topView->setObjectName(QStringLiteral("topView"));
  m_treeView->setObjectName(QStringLiteral("treeView"));
  m_listView->setObjectName(QStringLiteral("listView"));
  connect(m_topView, &CTopView::GuardRunFinished, this, &CMainFrame::ShowRunOutcome);
  connect(m_listView, &CBottomListView::GuardRunFinished, this, &CMainFrame::ShowRunOutcome);
  QList<int> guardWidths, fileWidths;
  for (int i = 0; i < 10; ++i) {
    guardWidths.append(state.guardListColumns[i]);
    fileWidths.append(state.fileListColumns[i]);
  }
  m_topView->SetColumnWidths(guardWidths);
  m_listView->SetColumnWidths(fileWidths);
  if (!m_splitter->Create(2, m_topView, QSize(200, state.topPaneHeight), m_treeView,
                          QSize(state.treePaneWidth, 100), m_listView,
                          QSize(state.filePaneWidth, 100)))
    return false;
  setCentralWidget(m_splitter);
  // The guard list comes first on the route until another pane takes the focus.
  m_router->AddPane(m_topView, m_topView);
  m_router->AddPane(m_treeView, m_treeView);
  m_router->AddPane(m_listView, m_listView);
  m_router->SetActivePane(m_topView);

  // Only the stored size survives a restart; the window is always centred.
  // A rectangle no window could have had (a damaged or foreign state file) gives way to
  // the default size; any size a user could have left stays as it was.
  const qint64 width = qint64(state.windowRect[2]) - state.windowRect[0];
  const qint64 height = qint64(state.windowRect[3]) - state.windowRect[1];
  const bool plausible = width >= kMinStoredSide && width <= kMaxStoredSide &&
                         height >= kMinStoredSide && height <= kMaxStoredSide;
  QSize size = plausible ? QSize(int(width), int(height)) : QSize(kDefaultWidth, kDefaultHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    // A rectangle from a larger screen shrinks to this one, so the status bar stays in view.
    const QRect area = screen->availableGeometry();
    size = size.boundedTo(area.size());
    resize(size);
    move(area.center() - QPoint(this->width() / 2, this->height() / 2));
  } else {
    resize(size);
  }
  // A window closed maximized opens maximized; its stored rectangle is the normal one.
  if (OpenAppProfile()->value(kMaximizedKey, false).toBool())
    setWindowState(windowState() | Qt::WindowMaximized);
  return true;
}

void CMainFrame::FitFrameToScreen() {
  if (isMaximized() || isFullScreen()) return;
  QScreen* screen = this->screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QRect frame = frameGeometry();
  if (area.contains(frame)) return;
  // The window manager's frame comes on top of the stored size: shrink to what fits,
  // then keep the whole frame on the screen.
  const QSize decoration = frame.size() - size();
  const QSize fitted = size().boundedTo(area.size() - decoration);
  if (fitted != size()) resize(fitted);
  const QSize outer = fitted + decoration;
  const int x = qBound(area.left(), frame.left(), area.right() + 1 - outer.width());
  const int y = qBound(area.top(), frame.top(), area.bottom() + 1 - outer.height());
  move(x, y);
}

void CMainFrame::UpdateTitle() {
  const CDocument* doc = m_app->Document();
  setWindowTitle((doc ? doc->Title() + QStringLiteral(" - ") : QString()) +
                 QStringLiteral("Vellumguard"));
}

void CMainFrame::NavigateTo(const QString& path, NavSource source) {
  if (source != NAV_TREE && m_treeView) m_treeView->SelectFolder(path);
  if (source != NAV_LIST && m_listView) m_listView->ShowFolder(path);
  if (source != NAV_ADDRESS && m_addressBar && IsFolder(Native(path)))
    m_addressBar->setEditText(path);
}

bool CMainFrame::OpenListFile(const QString& path) {
  return m_app->DocManager()->OpenDocumentFile(path);
}

void CMainFrame::OnAddressEnter() {
  const QString text = m_addressBar->currentText();
  const QString target = ExpandHome(text);
  const std::string path = Native(target);
  if (IsFolder(path)) {
    NavigateTo(target, NAV_ADDRESS);
    m_addressBar->addItem(text);
  } else if (FileExists(path)) {
    if (EndsWithDlt(target)) OpenListFile(target);
    m_addressBar->addItem(text);
  }
  // Anything else stays in the edit as typed.
}

void CMainFrame::OnAddressSelect(int index) {
  const QString target = ExpandHome(m_addressBar->itemText(index));
  const std::string path = Native(target);
  if (IsFolder(path))
    NavigateTo(target, NAV_ADDRESS);
  else if (FileExists(path) && EndsWithDlt(target))
    OpenListFile(target);
}

void CMainFrame::OnDefaultSetting() {
  EditDefaultSettings(this);
}

// Change Password and Verify act on the guard list when it is the active pane, else on
// the file list's selection (the shown folder when the folder tree is active).
bool CMainFrame::KeyCommandOnList() const {
  return m_router->ActivePane() == m_topView;
}

QStringList CMainFrame::KeyCommandSelection() const {
  if (!m_listView) return {};
  if (m_router->ActivePane() == m_treeView) {
    const QString folder = m_listView->CurrentFolder();
    return folder.startsWith(QLatin1Char('/')) ? QStringList{folder} : QStringList{};
  }
  const FileSelection s = m_listView->Selection();
  return s.folders + s.protectedFiles > 0 ? s.paths : QStringList{};
}

void CMainFrame::OnKeyCommand(int id) {
  const KeyCommand command =
      id == ID_GUARD_VERIFY ? KeyCommand::Verify : KeyCommand::ChangePassword;
  std::unique_ptr<IGuardUi> ui = MakeWindowGuardUiFactory()(this);
  if (KeyCommandOnList()) {
    RunKeyCommand(command, this, *ui, {}, m_app->Document());
  } else if (const QStringList paths = KeyCommandSelection(); !paths.isEmpty()) {
    RunKeyCommand(command, this, *ui, paths, nullptr);
  }
}

bool CMainFrame::OnCommand(int id) {
  switch (id) {
    case ID_GUARD_CHANGE_PASSWORD:
    case ID_GUARD_VERIFY:
      OnKeyCommand(id);
      return true;
    case ID_DEFAULT_SETTING:
      OnDefaultSetting();
      return true;
    case ID_ADDRESS_OK:
      OnAddressEnter();
      return true;
    case ID_VIEW_TOOLBAR: {
      const bool show = !m_toolBar->isVisible();
      m_toolBar->setVisible(show);
      m_guardBar->setVisible(show);
      return true;
    }
    case ID_VIEW_STATUS_BAR:
      statusBar()->setVisible(!statusBar()->isVisible());
      return true;
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
      m_router->ActivateNextPane(id == ID_NEXT_PANE);
      return true;
    case ID_VIEW_SMALLICON:
    case ID_VIEW_LARGEICON:
    case ID_VIEW_LIST:
    case ID_VIEW_DETAILS:
      if (m_listView) m_listView->SetViewMode(id);
      return true;
    case ID_VIEW_BYNAME:
      // Icon views keep their items on the grid; the pane lines them up again.
      if (m_listView) {
        const int mode = m_listView->ViewMode();
        if (mode == ID_VIEW_LARGEICON || mode == ID_VIEW_SMALLICON)
          m_listView->OnCommand(ID_VIEW_BYNAME);
      }
      return true;
    case ID_VIEW_AUTOARRANGE:
      return true;
    default:
      return false;
  }
}

bool CMainFrame::OnUpdateCommand(int id, CommandUpdate& update) {
  switch (id) {
    case ID_GUARD_CHANGE_PASSWORD:
    case ID_GUARD_VERIFY:
      update.Enable(KeyCommandOnList() ? !m_app->Document()->Core().m_items.empty() ||
                                             (id == ID_GUARD_CHANGE_PASSWORD &&
                                              m_app->Document()->Core().HasPassword())
                                       : !KeyCommandSelection().isEmpty());
      return true;
    case ID_DEFAULT_SETTING:
    case ID_ADDRESS_OK:
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
      update.Enable(true);
      return true;
    case ID_VIEW_TOOLBAR:
      update.SetCheck(m_toolBar && m_toolBar->isVisible());
      return true;
    case ID_VIEW_STATUS_BAR:
      update.SetCheck(statusBar()->isVisible());
      return true;
    case ID_VIEW_SMALLICON:
    case ID_VIEW_LARGEICON:
    case ID_VIEW_LIST:
    case ID_VIEW_DETAILS:
      update.Enable(m_listView != nullptr);
      update.SetRadio(m_listView && m_listView->ViewMode() == id);
      return true;
    case ID_VIEW_BYNAME: {
      const int mode = m_listView ? m_listView->ViewMode() : 0;
      update.Enable(mode == ID_VIEW_LARGEICON || mode == ID_VIEW_SMALLICON);
      return true;
    }
    case ID_VIEW_AUTOARRANGE:
      update.Enable(m_listView != nullptr);
      update.SetCheck(false);
      return true;
    default:
      return false;
  }
}

void CMainFrame::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!m_shown) {
    m_shown = true;
    // All three places start at the process's current folder.
    NavigateTo(FromNative(CurrentFolder()), NAV_ELSEWHERE);
    if (m_topView) m_topView->setFocus(Qt::OtherFocusReason);
    // The frame's size is known once the window manager has framed the window.
    QTimer::singleShot(0, this, &CMainFrame::FitFrameToScreen);
  }
}

void CMainFrame::StoreGeometry() {
  AppState& state = m_app->State();
  const bool maximized = isMaximized();
  OpenAppProfile()->setValue(kMaximizedKey, maximized);
  // A maximized window stores the rectangle it returns to; one never shown normal keeps
  // the rectangle it started with.
  const QRect rect = maximized ? normalGeometry() : geometry();
  if (rect.isValid()) {
    state.windowRect[0] = rect.left();
    state.windowRect[1] = rect.top();
    state.windowRect[2] = rect.left() + rect.width();
    state.windowRect[3] = rect.top() + rect.height();
  }
  state.topPaneHeight = m_splitter->FirstSize().current;
  state.treePaneWidth = m_splitter->SecondSize().current;
  // One slot per column; a list with more than ten columns keeps its first ten.
  const QList<int> guardWidths = m_topView->ColumnWidths();
  for (int i = 0; i < guardWidths.size() && i < 10; ++i)
    state.guardListColumns[i] = guardWidths.at(i);
  const QList<int> fileWidths = m_listView->ColumnWidths();
  for (int i = 0; i < fileWidths.size() && i < 10; ++i) state.fileListColumns[i] = fileWidths.at(i);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  auto& tracker = CProgressTracker::Instance();
  if (tracker.LiveCount() > 0) {
    // A guard run is going on: it stops at its next step, then the window closes.
    event->ignore();
    if (!m_closeAfterRun) {
      m_closeAfterRun = true;
      connect(
          &tracker, &CProgressTracker::AllClosed, this,
          [this] { QTimer::singleShot(0, this, &QWidget::close); }, Qt::SingleShotConnection);
    }
    tracker.CancelAll();
    return;
  }
  m_closeAfterRun = false;
  StoreGeometry();
  CDocument* doc = m_app->Document();
  if (doc && !doc->SaveModified(this)) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void CMainFrame::ShowRunOutcome(const QString& text) {
  m_runOutcome = text;
  m_runOutcomeShown.start();
  statusBar()->showMessage(text);
  if (!m_runOutcomeTimer) {
    m_runOutcomeTimer = new QTimer(this);
    m_runOutcomeTimer->setSingleShot(true);
    m_runOutcomeTimer->setTimerType(Qt::PreciseTimer);
    connect(m_runOutcomeTimer, &QTimer::timeout, this, &CMainFrame::EndRunOutcome);
  }
  m_runOutcomeTimer->start(kRunOutcomeMs);
}

void CMainFrame::EndRunOutcome() {
  // A timer may fire a little early: wait out the rest rather than leave the outcome.
  const qint64 left = kRunOutcomeMs - m_runOutcomeShown.elapsed();
  if (left > 0) {
    m_runOutcomeTimer->start(static_cast<int>(left) + 1);
    return;
  }
  if (statusBar()->currentMessage() == m_runOutcome) statusBar()->showMessage(tr("Ready"));
}

QString CMainFrame::IdleStatusText() const {
  // A run's outcome stays while the pointer passes over commands.
  if (m_runOutcomeShown.isValid() && m_runOutcomeShown.elapsed() < kRunOutcomeMs)
    return m_runOutcome;
  return tr("Ready");
}

bool CMainFrame::event(QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    // Fly-by help while the pointer is on a command; "Ready" otherwise.
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    statusBar()->showMessage(tip.isEmpty() ? IdleStatusText() : tip);
    return true;
  }
  if (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest) {
    if (!m_painted && isVisible()) {
      m_painted = true;
      QTimer::singleShot(0, this, &CMainFrame::FirstPaint);
    }
  }
  return QMainWindow::event(event);
}

#include "explorer/bottom_list_view.h"

#include <sys/stat.h>

#include <QAction>
#include <QCursor>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QVBoxLayout>
#include <cerrno>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/text.h"
#include "explorer/explorer_paths.h"
#include "explorer/file_clipboard.h"
#include "explorer/file_list_model.h"
#include "explorer/shell_list_ctrl.h"
#include "explorer/shell_menu.h"
#include "framework/command_ids.h"
#include "framework/edit_request.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "guard/guard_command.h"
#include "guard/protect_settings.h"

namespace {

// "Edit Protected File" takes exactly one protected file.
bool IsOneProtectedFile(const FileSelection& s) {
  return s.paths.size() == 1 && s.protectedFiles == 1;
}

constexpr char kEncryptAllQuestion[] =
    "Do you want to encrypt all files and folders in folder \"%s\"?";
constexpr char kDecryptAllQuestion[] =
    "Do you want to decrypt all files and folders in folder \"%s\"?";

// The View menu's commands and the list's view types they choose.
struct ViewModeCommand {
  int command;
  CSortListCtrl::ViewType type;
};
constexpr ViewModeCommand kViewModes[] = {
    {ID_VIEW_LARGEICON, CSortListCtrl::VIEW_ICON},
    {ID_VIEW_SMALLICON, CSortListCtrl::VIEW_SMALLICON},
    {ID_VIEW_LIST, CSortListCtrl::VIEW_LIST},
    {ID_VIEW_DETAILS, CSortListCtrl::VIEW_REPORT},
};

// The column a "Sort by" command sorts by; -1 for any other command.
int SortColumnOf(int id) {
  switch (id) {
    case ID_FILELIST_SORT_NAME:
      return 0;
    case ID_FILELIST_SORT_SIZE:
      return 1;
    case ID_FILELIST_SORT_TYPE:
      return 2;
    case ID_FILELIST_SORT_TIME:
      return 3;
    default:
      return -1;
  }
}

// The 13 x 14 images of the encrypt (closed padlock) and decrypt (open padlock) items.
QIcon GuardMenuIcon(bool encrypt) {
  QPixmap pixmap(13, 14);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor body = encrypt ? QColor(0xB0, 0x7A, 0x10) : QColor(0x2E, 0x7D, 0x32);
  p.setPen(QPen(QColor(0x55, 0x55, 0x55), 1.6));
  p.setBrush(Qt::NoBrush);
  QPainterPath shackle;
  if (encrypt) {
    shackle.moveTo(3.5, 7);
    shackle.lineTo(3.5, 4.5);
    shackle.arcTo(3.5, 1, 6, 6, 180, -180);
    shackle.lineTo(9.5, 7);
  } else {
    shackle.moveTo(3.5, 7);
    shackle.lineTo(3.5, 3.5);
    shackle.arcTo(3.5, 0, 6, 6, 180, -180);
  }
  p.drawPath(shackle);
  p.setPen(QPen(body.darker(140), 1));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(1.5, 6.5, 10, 7), 1.5, 1.5);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x30, 0x30, 0x30));
  p.drawEllipse(QPointF(6.5, 9.5), 1.2, 1.2);
  p.end();
  return QIcon(pixmap);
}

}  // namespace

FileSelection ClassifyPaths(const QStringList& paths) {
  FileSelection s;
  s.paths = paths;
  for (const QString& path : paths) {
    if (path.endsWith(QLatin1Char('/'))) {
      ++s.folders;
    } else if (LastPathComponent(Native(path)) == kFolderSettingsName) {
      ++s.ignored;
    } else if (path.endsWith(QLatin1String(".~de"))) {
      ++s.protectedFiles;
    } else {
      ++s.plainFiles;
    }
  }
  return s;
}

QString SelectionCaption(const QString& verb, const FileSelection& s) {
  const int n = s.Files();
  const int f = s.folders;
  if (n + f == 1 && !s.paths.isEmpty()) {
    // A menu text: "&" in the name is doubled, or it would mark a shortcut and vanish.
    QString name = FromNative(LastPathComponent(Native(s.paths.first())));
    name.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return verb + QLatin1Char('"') + name + QLatin1Char('"');
  }
  QString text = verb;
  if (n > 0) text += QStringLiteral("File");
  if (n > 1) text += QLatin1Char('s');
  if (n > 0 && f > 0) text += QStringLiteral(" and ");
  if (f > 0) text += QStringLiteral("Folder");
  if (f > 1) text += QLatin1Char('s');
  return text;
}

CBottomListView::CBottomListView(INavigator* navigator, GuardUiFactory guardUi, QWidget* parent)
    : QWidget(parent), m_navigator(navigator), m_guardUi(std::move(guardUi)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  m_list = new EListCtrl(this);
  m_list->setObjectName(QStringLiteral("fileList"));
  layout->addWidget(m_list);
  setFocusProxy(m_list);
  m_list->SetGuardUi(m_guardUi);
  connect(m_list, &EListCtrl::GuardRunFinished, this, &CBottomListView::GuardRunFinished);
  m_list->SetupList();
  m_list->MenuHook = [this](int phase, QMenu* popup) { MenuHook(phase, popup); };
  if (m_navigator) {
    m_list->SetListOpener([this](const QString& path) { return m_navigator->OpenListFile(path); });
  }
  m_list->ListModel()->SetHeadings({QStringLiteral("Name"), QStringLiteral("Size"),
                                    QStringLiteral("Type"), QStringLiteral("Time"),
                                    QStringLiteral("Properties")});
  connect(m_list, &EListCtrl::Command, this, [this](int id) { OnCommand(id); });
  connect(m_list, &CSortListCtrl::SelectionChanged, this, [this] {
    m_selectionCached = false;
    emit SelectionChanged();
  });
  connect(m_list->ListModel(), &QAbstractItemModel::layoutChanged, this,
          [this] { m_selectionCached = false; });
  connect(m_list->ListModel(), &QAbstractItemModel::modelReset, this,
          [this] { m_selectionCached = false; });
}

CBottomListView::~CBottomListView() = default;

void CBottomListView::ShowFolder(const QString& path) {
  m_list->DisplayFolder(path);
}

QString CBottomListView::CurrentFolder() const {
  if (m_list->IsShowingDrives()) return QString::fromLatin1(kComputerPath);
  return m_list->GetCurrentFolder();
}

bool CBottomListView::ShowsFolder() const {
  return !m_list->IsShowingDrives() && !m_list->GetCurrentFolder().isEmpty();
}

void CBottomListView::SetViewMode(int viewCommandId) {
  for (const ViewModeCommand& mode : kViewModes) {
    if (mode.command == viewCommandId) m_list->SetViewType(mode.type);
  }
}

int CBottomListView::ViewMode() const {
  for (const ViewModeCommand& mode : kViewModes) {
    if (mode.type == m_list->GetViewType()) return mode.command;
  }
  return ID_VIEW_LARGEICON;
}

QList<int> CBottomListView::ColumnWidths() const {
  return m_list->ColumnWidths();
}

void CBottomListView::SetColumnWidths(const QList<int>& widths) {
  m_list->SetColumnWidths(widths);
}

FileSelection CBottomListView::Selection() const {
  QStringList paths;
  m_list->GetSelectedPaths(paths);
  return ClassifyPaths(paths);
}

const FileSelection& CBottomListView::CachedSelection() const {
  if (!m_selectionCached) {
    m_cachedSelection = Selection();
    m_selectionCached = true;
  }
  return m_cachedSelection;
}

void CBottomListView::MenuHook(int phase, QMenu* popup) {
  if (phase != 0 || !popup) return;
  const FileSelection s = Selection();
  if (s.paths.isEmpty()) return;
  bool encryptItem = false;
  if (s.folders > 0 || s.plainFiles > 0) {
    QAction* a =
        InsertMenuItem(popup, 0, ID_GUARD_ENCRYPT, SelectionCaption(QStringLiteral("Encrypt "), s));
    a->setIcon(GuardMenuIcon(true));
    encryptItem = true;
  }
  if (s.folders > 0 || s.protectedFiles > 0) {
    QAction* a = InsertMenuItem(popup, encryptItem ? 1 : 0, ID_GUARD_DECRYPT,
                                SelectionCaption(QStringLiteral("Decrypt "), s));
    a->setIcon(GuardMenuIcon(false));
  }
  if (IsOneProtectedFile(s)) {
    InsertMenuItem(popup, encryptItem ? 2 : 1, ID_GUARD_EDIT,
                   QStringLiteral("Edit Protected File"));
  }
  popup->addSeparator();
}

void CBottomListView::RunShellOffset(const QStringList& objects, int offset) {
  if (objects.isEmpty()) return;
  CShellMenu menu;
  menu.SetObjects(objects);
  menu.SetUi(this, m_guardUi);
  menu.InvokeOffset(offset);
}

bool CBottomListView::OnCommand(int id) {
  if (const int column = SortColumnOf(id); column >= 0) {
    m_list->Sort(column, m_list->IsAscending());
    return true;
  }
  switch (id) {
    case ID_GUARD_ENCRYPT:
    case ID_GUARD_DECRYPT:
      GuardSelection(id == ID_GUARD_ENCRYPT ? GuardVerb::Protect : GuardVerb::Restore);
      return true;
    case ID_GUARD_ENCRYPT_ALL:
    case ID_GUARD_DECRYPT_ALL:
      GuardFolder(id == ID_GUARD_ENCRYPT_ALL ? GuardVerb::Protect : GuardVerb::Restore);
      return true;
    case ID_GUARD_EDIT:
      if (!IsOneProtectedFile(Selection())) return true;
      if (CanEditProtectedFiles()) {
        EditProtectedFile(Selection().paths.front());
      } else {
        AppMessageBox(this,
                      QStringLiteral("Cannot edit \"%1\": no program is set up to edit it.")
                          .arg(Selection().paths.front()),
                      QMessageBox::Warning);
      }
      return true;
    case ID_EDIT_COPY:
    case ID_EDIT_CUT:
      RunShellOffset(Selection().paths,
                     id == ID_EDIT_COPY ? CShellMenu::OFFSET_COPY : CShellMenu::OFFSET_CUT);
      return true;
    case ID_EDIT_PASTE:
      if (ShowsFolder()) {
        RunShellOffset({m_list->GetCurrentFolder()}, CShellMenu::OFFSET_PASTE);
        m_list->RefreshCheck();
      }
      return true;
    case ID_FILELIST_REFRESH:
      m_list->RefreshList(true);
      return true;
    case ID_FILELIST_NEW_FOLDER:
      NewFolder();
      return true;
    case ID_VIEW_LARGEICON:
    case ID_VIEW_SMALLICON:
    case ID_VIEW_LIST:
    case ID_VIEW_DETAILS:
      SetViewMode(id);
      return true;
    case ID_VIEW_BYNAME:
      // Icons back onto the grid in list order.
      m_list->IconView()->doItemsLayout();
      return true;
    case ID_VIEW_AUTOARRANGE:
      return true;
    case ID_LIST_FOLDER_CHANGED:
      if (m_navigator) m_navigator->NavigateTo(CurrentFolder(), NAV_LIST);
      return true;
    case ID_LIST_BACKGROUND_MENU:
      ShowBackgroundMenu();
      return true;
    default:
      return false;
  }
}

bool CBottomListView::OnUpdateCommand(int id, CommandUpdate& update) {
  switch (id) {
    case ID_GUARD_ENCRYPT:
    case ID_GUARD_DECRYPT: {
      const FileSelection& s = CachedSelection();
      const bool encrypt = id == ID_GUARD_ENCRYPT;
      update.Enable(s.folders > 0 || (encrypt ? s.plainFiles : s.protectedFiles) > 0);
      if (s.paths.isEmpty()) {
        update.SetText(encrypt ? QStringLiteral("Encrypt files and folders")
                               : QStringLiteral("Decrypt files and folders"));
      } else {
        update.SetText(
            SelectionCaption(encrypt ? QStringLiteral("Encrypt ") : QStringLiteral("Decrypt "), s));
      }
      return true;
    }
    case ID_GUARD_EDIT:
      update.Enable(IsOneProtectedFile(CachedSelection()));
      return true;
    case ID_EDIT_COPY:
    case ID_EDIT_CUT:
      update.Enable(!CachedSelection().paths.isEmpty());
      return true;
    case ID_EDIT_PASTE:
      update.Enable(ShowsFolder() && ClipboardHasFiles());
      return true;
    case ID_GUARD_ENCRYPT_ALL:
    case ID_GUARD_DECRYPT_ALL:
    case ID_FILELIST_NEW_FOLDER:
      // The computer view has no folder of its own to act on.
      update.Enable(ShowsFolder());
      return true;
    case ID_FILELIST_REFRESH:
    case ID_FILELIST_SORT_NAME:
    case ID_FILELIST_SORT_SIZE:
    case ID_FILELIST_SORT_TYPE:
    case ID_FILELIST_SORT_TIME:
      update.Enable(true);
      return true;
    case ID_VIEW_LARGEICON:
    case ID_VIEW_SMALLICON:
    case ID_VIEW_LIST:
    case ID_VIEW_DETAILS:
      update.Enable(true);
      update.SetRadio(ViewMode() == id);
      return true;
    default:
      return false;
  }
}

void CBottomListView::GuardSelection(GuardVerb verb) {
  const FileSelection s = Selection();
  const bool protect = verb == GuardVerb::Protect;
  if ((protect ? s.plainFiles + s.folders == 0 : s.paths.isEmpty()) || !m_guardUi) return;
  std::unique_ptr<IGuardUi> ui = m_guardUi(this);
  if (!ui) return;
  GuardCommand command;
  command.verb = verb;
  // A selected folder gives only the protected files directly inside it.
  if (!protect) command.subfolders = RestoreSubfolders::Never;
  for (const QString& p : s.paths) command.paths.push_back(Native(p));
  ReportRun(RunGuardCommand(*ui, command));
}

void CBottomListView::GuardFolder(GuardVerb verb) {
  if (!ShowsFolder() || !m_guardUi) return;
  const std::string folder = WithTrailingSlash(Native(m_list->GetCurrentFolder()));
  std::unique_ptr<IGuardUi> ui = m_guardUi(this);
  if (!ui) return;
  const bool protect = verb == GuardVerb::Protect;
  if (ui->ShowMessage(FormatText(protect ? kEncryptAllQuestion : kDecryptAllQuestion, {folder}),
                      MsgIcon::Question, MsgButtons::YesNo) != MSG_YES)
    return;
  GuardCommand command;
  command.verb = verb;
  command.paths = {folder};
  if (protect) {
    command.kind = ProtectKind::WholeFolder;
  } else {
    command.subfolders = RestoreSubfolders::AskWhenAny;  // asked only when there are some
  }
  ReportRun(RunGuardCommand(*ui, command));
}

void CBottomListView::ReportRun(const GuardOutcome& outcome) {
  if (!outcome.declined) m_list->RefreshCheck();
  const std::string text = OutcomeText(outcome);
  if (!text.empty()) emit GuardRunFinished(QString::fromStdString(text));
}

void CBottomListView::NewFolder() {
  if (!ShowsFolder()) return;
  const std::string base = WithTrailingSlash(Native(m_list->GetCurrentFolder())) + "New Folder";
  // Any entry of that name counts as taken: a file called "New Folder" would otherwise
  // make the creation fail and the rename start on that file.
  auto taken = [](const std::string& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
  };
  std::string path = base;
  for (int n = 1; taken(path); ++n) path = base + " " + std::to_string(n);
  if (::mkdir(path.c_str(), 0777) != 0) {
    const int err = errno;
    MakeFileOpUi(this, m_guardUi)
        ->Fail(QStringLiteral("Cannot create the folder %1: %2")
                   .arg(FromNative(path), ErrorText(err)));
    return;
  }
  m_list->RefreshList(true);
  const int row = m_list->FindEntry(FromNative(path));
  if (row >= 0) {
    m_list->SelectRows({row});
    m_list->SetFocusedRow(row);
    m_list->EditLabel(row);
  }
}

void CBottomListView::ShowBackgroundMenu() {
  const bool pasteable = ClipboardHasFiles();
  const bool folder = ShowsFolder();
  QMenu menu(this);
  auto item = [](QMenu* m, int id, const QString& text) {
    QAction* a = MakeMenuItem(m, id, text);
    m->addAction(a);
    return a;
  };
  item(&menu, ID_GUARD_ENCRYPT_ALL, QStringLiteral("Encrypt all files and folders"))
      ->setEnabled(folder);
  item(&menu, ID_GUARD_DECRYPT_ALL, QStringLiteral("Decrypt all files and folders"))
      ->setEnabled(folder);
  menu.addSeparator();
  item(&menu, ID_EDIT_PASTE, QStringLiteral("Paste\tCTrl+V"))->setEnabled(pasteable && folder);
  menu.addSeparator();
  item(&menu, ID_FILELIST_REFRESH, QStringLiteral("Refresh\tF5"));
  QMenu* sortBy = menu.addMenu(QStringLiteral("Sort by"));
  item(sortBy, ID_FILELIST_SORT_NAME, QStringLiteral("Name"));
  item(sortBy, ID_FILELIST_SORT_SIZE, QStringLiteral("Size"));
  item(sortBy, ID_FILELIST_SORT_TYPE, QStringLiteral("Type"));
  item(sortBy, ID_FILELIST_SORT_TIME, QStringLiteral("Time"));
  QMenu* view = menu.addMenu(QStringLiteral("View"));
  const int current = ViewMode();
  for (const auto& [id, text] :
       {std::pair{ID_VIEW_LARGEICON, "Large Icon"}, std::pair{ID_VIEW_SMALLICON, "Small Icon"},
        std::pair{ID_VIEW_LIST, "List"}, std::pair{ID_VIEW_DETAILS, "Detail"}}) {
    QAction* a = item(view, id, QString::fromLatin1(text));
    a->setCheckable(true);
    a->setChecked(id == current);
  }
  menu.addSeparator();
  item(&menu, ID_FILELIST_NEW_FOLDER, QStringLiteral("New Folder"))->setEnabled(folder);
  const int id = MenuItemId(ExecPopupMenu(menu, QCursor::pos()));
  if (id != 0) OnCommand(id);
}

#include "explorer/shell_list_ctrl.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

#include "common/paths.h"
#include "explorer/explorer_paths.h"
#include "explorer/file_clipboard.h"
#include "explorer/file_drop.h"
#include "explorer/file_list_model.h"
#include "explorer/shell_menu.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "framework/shell_open.h"
#include "guard/file_list_driver.h"
#include "guard/guard_command.h"

namespace {

constexpr int kRefreshPeriodMs = 1000;
constexpr int kEditGuardMs = 200;

bool PathExists(const QString& path) {
  struct stat st {};
  return ::lstat(Native(TrimmedPath(path)).c_str(), &st) == 0;
}

// Whether a fresh listing holds other names than the rows shown.
bool NamesDiffer(const FileEntryTable& shown, const FileEntryTable& fresh) {
  if (fresh.size() != shown.size()) return true;
  QSet<QString> names;
  names.reserve(static_cast<qsizetype>(shown.size()));
  for (const FileListEntry& e : shown) names.insert(e.name);
  for (const FileListEntry& e : fresh) {
    if (!names.contains(e.name)) return true;
  }
  return false;
}

}  // namespace

EListCtrl::EListCtrl(QWidget* parent) : CSortListCtrl(parent), m_changes(this) {
  m_model = new CFileListModel(this);
  SetModel(m_model);
  SetDragDropEnabled(true);
  connect(m_model, &CFileListModel::RenameRequested, this, &EListCtrl::OnRenameRequested);
  connect(this, &CSortListCtrl::RowDoubleClicked, this, [this](int row) {
    SetFocusedRow(row);
    OpenFocusedEntry();
  });
  connect(this, &CSortListCtrl::ContextMenuRequested, this, &EListCtrl::ShowContextMenu);
  for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(ReportView()),
                                  static_cast<QAbstractItemView*>(IconView())}) {
    view->installEventFilter(this);
    view->viewport()->installEventFilter(this);
    // Clicks only select; a slow second click on the only selected row renames it (see
    // NoteClick), since the view's own trigger keeps a multi-selection on a plain click.
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(view->itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
            &EListCtrl::OnEditEnded);
  }

  m_refreshTimer = new QTimer(this);
  m_refreshTimer->setInterval(kRefreshPeriodMs);
  connect(m_refreshTimer, &QTimer::timeout, this, &EListCtrl::RefreshCheck);
  m_editTimer = new QTimer(this);
  m_editTimer->setSingleShot(true);
  m_editTimer->setInterval(kEditGuardMs);
  connect(m_editTimer, &QTimer::timeout, this, [this] { m_editEnded = false; });
  m_slowClickTimer = new QTimer(this);
  m_slowClickTimer->setObjectName(QStringLiteral("slowClickRename"));
  m_slowClickTimer->setSingleShot(true);
  m_slowClickTimer->setInterval(QApplication::doubleClickInterval());
  connect(m_slowClickTimer, &QTimer::timeout, this, [this] {
    if (SelectedRows() == QList<int>{m_slowClickRow} && !IsEditing()) EditLabel(m_slowClickRow);
    m_slowClickRow = -1;
  });
  connect(this, &CSortListCtrl::SelectionChanged, m_slowClickTimer, &QTimer::stop);
}

EListCtrl::~EListCtrl() = default;

const FileEntryTable& EListCtrl::Entries() const {
  return m_model->Entries();
}

bool EListCtrl::SetupList() {
  if (m_initialized) return true;
  static const int kWidths[CFileListModel::kColumns] = {250, 80, 250, 130, 100};
  for (int i = 0; i < CFileListModel::kColumns; ++i) Header()->resizeSection(i, kWidths[i]);
  m_refreshTimer->start();
  // Every folder shows sorted by name, ascending, until the user chooses otherwise.
  SetSortArrow(0, IsAscending());
  m_initialized = true;
  return true;
}

bool EListCtrl::IsShowingDrives() const {
  return m_model->ShowsVolumes();
}

bool EListCtrl::DisplayFolder(const QString& path) {
  if (path == QLatin1String(kComputerPath)) {
    ShowDrives();
    return true;
  }
  if (path.isEmpty()) return false;
  QString p = path;
  if (!p.endsWith(QLatin1Char('/'))) p += QLatin1Char('/');
  // By the name's bytes: QFileInfo would not find a folder whose name is not UTF-8.
  if (!IsFolder(Native(p))) return false;
  p = QDir::cleanPath(QDir::isAbsolutePath(p) ? p : QDir::current().absoluteFilePath(p));
  if (!p.endsWith(QLatin1Char('/'))) p += QLatin1Char('/');
  const bool sameFolder = p == m_currentFolder && !IsShowingDrives();
  m_currentFolder = p;
  m_changes.Watch(p);
  m_changes.NoteListed(CFolderChangeCheck::StampNow(p));
  FileEntryTable table;
  if (ListFolder(table, p) == 0) {
    // An unreadable folder shows only its way back, never the rows of the previous one.
    table.clear();
    table.push_back(ParentRow(p));
  }
  ApplyTable(std::move(table), false, sameFolder);
  return true;
}

void EListCtrl::ShowDrives() {
  FileEntryTable table;
  ListVolumes(table);
  ApplyTable(std::move(table), true, IsShowingDrives());
}

void EListCtrl::ApplyTable(FileEntryTable&& table, bool volumes, bool keepState) {
  QSet<QString> selected;
  QString focused;
  int vScroll = 0;
  int hScroll = 0;
  QAbstractItemView* view = ActiveView();
  if (keepState) {
    for (int row : SelectedRows()) {
      if (const FileListEntry* e = m_model->Entry(row)) selected.insert(e->fullPath);
    }
    if (const FileListEntry* e = m_model->Entry(FocusedRow())) focused = e->fullPath;
    vScroll = view->verticalScrollBar()->value();
    hScroll = view->horizontalScrollBar()->value();
  }
  const int sortColumn = volumes ? -1 : SortColumn();
  m_model->ResetEntries(std::move(table), volumes, sortColumn, IsAscending() != 0);
  if (sortColumn >= 0) SetSortArrow(sortColumn, IsAscending());
  if (keepState) {
    QList<int> rows;
    int focusRow = -1;
    const FileEntryTable& entries = m_model->Entries();
    if (!selected.isEmpty() || !focused.isEmpty()) {
      for (size_t i = 0; i < entries.size(); ++i) {
        if (selected.contains(entries[i].fullPath)) rows.append(static_cast<int>(i));
        if (focusRow < 0 && entries[i].fullPath == focused) focusRow = static_cast<int>(i);
      }
    }
    if (focusRow >= 0) SetFocusedRow(focusRow);
    if (!rows.isEmpty()) SelectRows(rows);
    view->verticalScrollBar()->setValue(vScroll);
    view->horizontalScrollBar()->setValue(hScroll);
  }
  SetLabelWidth(LongestLabelWidth());
  view->viewport()->update();
  emit SelectionChanged();
}

int EListCtrl::LongestLabelWidth() const {
  // Only the longest names (by characters) are measured: a folder of 100,000 names costs
  // one pass over their lengths.
  constexpr size_t kMeasured = 16;
  std::vector<const QString*> longest;
  longest.reserve(kMeasured + 1);
  for (const FileListEntry& e : m_model->Entries()) {
    if (longest.size() == kMeasured && e.name.size() <= longest.back()->size()) continue;
    auto pos =
        std::lower_bound(longest.begin(), longest.end(), &e.name,
                         [](const QString* a, const QString* b) { return a->size() > b->size(); });
    longest.insert(pos, &e.name);
    if (longest.size() > kMeasured) longest.pop_back();
  }
  int width = 0;
  const QFontMetrics metrics(font());
  for (const QString* name : longest) width = std::max(width, metrics.horizontalAdvance(*name));
  return std::min(width + 4, 480);
}

void EListCtrl::RefreshList(bool reread) {
  if (!m_initialized) return;
  if (reread) {
    if (!m_currentFolder.isEmpty()) {
      // The computer view keeps the folder it came from: a reread shows that folder again.
      const bool leavesDrives = IsShowingDrives();
      if (DisplayFolder(m_currentFolder)) {
        if (leavesDrives) emit Command(ID_LIST_FOLDER_CHANGED);
      } else if (leavesDrives) {
        ShowDrives();  // that folder is gone: the volumes are read again instead
      }
    } else if (IsShowingDrives()) {
      ShowDrives();
    }
  }
  ActiveView()->viewport()->update();
}

void EListCtrl::RefreshCheck() {
  if (!m_initialized || m_comparing || m_currentFolder.isEmpty()) return;
  const FileEntryTable& entries = m_model->Entries();
  if (!entries.empty() && !entries.front().IsParentRow()) return;  // the computer view
  if (IsEditing()) return;  // a reread now would throw the user's typing away
  if (!m_changes.NeedsComparison(m_currentFolder)) return;
  m_comparing = true;
  const QString folder = m_currentFolder;
  const ListingStamp stamp = CFolderChangeCheck::StampNow(folder);
  FileEntryTable fresh;
  bool differ = false;
  if (ListFolder(fresh, folder) == 0) {
    // Gone or unreadable: a vanished folder keeps its rows (nothing to show instead); an
    // unreadable one is reduced to its ".." row.
    if (IsFolder(Native(folder)) && entries.size() > 1) {
      fresh.clear();
      fresh.push_back(ParentRow(folder));
      differ = true;
    }
  } else {
    differ = NamesDiffer(entries, fresh);
  }
  m_changes.NoteListed(stamp);
  if (differ) ApplyTable(std::move(fresh), false, true);
  m_comparing = false;
}

int EListCtrl::GetSelectedPaths(QStringList& paths) const {
  int added = 0;
  for (int row : SelectedRows()) {
    const FileListEntry* e = m_model->Entry(row);
    if (!e || e->IsParentRow() || !PathExists(e->fullPath)) continue;
    QString path = e->fullPath;
    if (e->IsFolder() && !path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    paths.append(path);
    ++added;
  }
  return added;
}

int EListCtrl::FindEntry(const QString& path) const {
  const QString wanted = TrimmedPath(path);
  const FileEntryTable& entries = m_model->Entries();
  int caseless = -1;
  for (size_t i = 0; i < entries.size(); ++i) {
    const QString candidate = TrimmedPath(entries[i].fullPath);
    if (candidate == wanted) return static_cast<int>(i);
    if (caseless < 0 && QString::compare(candidate, wanted, Qt::CaseInsensitive) == 0)
      caseless = static_cast<int>(i);
  }
  return caseless;
}

void EListCtrl::Sort(int column, int ascending) {
  m_model->SortRows(column, ascending != 0);
  SetSortArrow(column, ascending);
  ActiveView()->viewport()->update();
}

void EListCtrl::OpenFocusedEntry() {
  const FileListEntry* e = m_model->Entry(FocusedRow());
  if (!e) return;
  if (e->IsFolder()) {
    const QString path = e->fullPath;
    if (path == QLatin1String(kComputerPath)) {
      ShowDrives();
    } else {
      DisplayFolder(path);
    }
    emit Command(ID_LIST_FOLDER_CHANGED);
    return;
  }
  OpenFile(e->fullPath);
}

void EListCtrl::OpenPath(const QString& path, bool navigateFolders) {
  const QString p = TrimmedPath(path);
  if (QFileInfo(p).isDir()) {
    if (navigateFolders) {
      DisplayFolder(p);
      emit Command(ID_LIST_FOLDER_CHANGED);
      return;
    }
    if (!(m_opener ? m_opener(p) : OpenWithDesktop(p))) {
      MakeFileOpUi(this, m_guardUi)
          ->Fail(QStringLiteral("Cannot open %1: no application is set up to open it.").arg(p));
    }
    return;
  }
  OpenFile(p);
}

void EListCtrl::OpenFile(const QString& fullPath) {
  // A list file opens in this window as the guard list, as from the address bar; the
  // extension is compared exactly, as there.
  if (m_listOpener && fullPath.endsWith(QLatin1String(".dlt"), Qt::CaseSensitive) &&
      QFileInfo(fullPath).isFile()) {
    m_listOpener(fullPath);
    return;
  }
  QString path = fullPath;
  if (path.endsWith(QLatin1String(".~de")) && RestoreProtectedFile(path) != 0) {
    path.chop(4);
    // A restored file may come from someone else: a program or another protected file
    // is shown in its folder at most, never run or handed back here.
    if (const OpenRisk risk = OpenRiskOf(path); risk != OpenRisk::None) {
      if (AppMessageBox(this, NotOpenedText(path, risk), QMessageBox::Warning,
                        QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        ShowInFolder(path);
      }
      return;
    }
  }
  // Restored or not, the desktop opens what is there now.
  if (!(m_opener ? m_opener(path) : OpenWithDesktop(path))) {
    MakeFileOpUi(this, m_guardUi)
        ->Fail(QStringLiteral("Cannot open %1: no application is set up to open it.").arg(path));
  }
}

int EListCtrl::RestoreProtectedFile(const QString& path) {
  if (!m_guardUi) return 0;
  std::unique_ptr<IGuardUi> ui = m_guardUi(this);
  if (!ui) return 0;
  const std::vector<std::string> paths{Native(path)};
  const GuardOutcome outcome = RunRestoreList(*ui, paths);
  const int restored = outcome.done;
  if (const std::string text = OutcomeText(outcome); !text.empty())
    emit GuardRunFinished(QString::fromStdString(text));
  if (restored != 0) {
    m_changes.MarkChanged();
    RefreshCheck();
  }
  return restored;
}

void EListCtrl::OnEditEnded() {
  m_editEnded = true;
  m_editTimer->start();
}

void EListCtrl::OnRenameRequested(int row, const QString& newName) {
  const FileListEntry* e = m_model->Entry(row);
  if (!e || newName.isEmpty() || e->IsParentRow()) return;
  const QString oldPath = e->fullPath;
  // The rename runs once the editor has closed: its messages must not open inside the
  // editor's own event handling.
  QTimer::singleShot(0, this, [this, oldPath, newName] {
    std::unique_ptr<IFileOpUi> ui = MakeFileOpUi(this, m_guardUi);
    QString newPath;
    if (RenameEntry(oldPath, newName, *ui, &newPath)) {
      m_changes.MarkChanged();
      RefreshCheck();
      // The renamed entry keeps the selection and the focus under its new name.
      if (const int renamedRow = FindEntry(newPath); renamedRow >= 0) {
        SelectRows({renamedRow});
        SetFocusedRow(renamedRow);
      }
    }
  });
}

void EListCtrl::ShowContextMenu(const QPoint& globalPos) {
  QStringList paths;
  if (GetSelectedPaths(paths) == 0) {
    emit Command(ID_LIST_BACKGROUND_MENU);
    return;
  }
  CShellMenu menu;
  menu.SetObjects(paths);
  menu.SetUi(this, m_guardUi);
  const bool single = paths.size() == 1;
  menu.OpenHandler = [this, single](const QString& path) { OpenPath(path, single); };
  menu.RenameHandler = [this](const QString& path) { EditLabel(FindEntry(path)); };
  QMenu* popup = menu.GetPopup();
  if (MenuHook) MenuHook(0, popup);
  const int id = menu.ShowMenu(this, globalPos);
  if (MenuHook) MenuHook(1, popup);
  // A paste, move or trash from the menu shows up at once instead of within a second.
  m_changes.MarkChanged();
  if (id != 0) emit Command(id);
}

FileOpResult EListCtrl::TransferFiles(const QStringList& sources, const QString& targetFolder,
                                      PasteMode mode) {
  std::unique_ptr<IFileOpUi> ui =
      MakeFileOpUi(this, m_guardUi,
                   mode == PasteMode::Move ? QStringLiteral("Moving") : QStringLiteral("Copying"));
  const FileOpResult result = PasteFiles(sources, targetFolder, mode, *ui);
  m_changes.MarkChanged();
  RefreshCheck();
  return result;
}

#include "explorer/shell_list_ctrl.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractItemDelegate>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
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
#include <ctime>

#include "explorer/file_clipboard.h"
#include "explorer/file_list_model.h"
#include "explorer/shell_menu.h"
#include "framework/native_path.h"
#include "guard/file_list_driver.h"

namespace {

constexpr int kRefreshPeriodMs = 1000;
constexpr int kEditGuardMs = 200;
// Coarse file system clocks (FAT keeps two seconds) can leave a folder's modification
// time unchanged by a change made just after a listing; only a listing made this long
// after the folder's last change can be trusted to have seen every name.
constexpr qint64 kMtimeTrustNs = 3'000'000'000LL;

QString Trimmed(const QString& path) {
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  return p;
}

bool FolderMtimeNs(const QString& folder, qint64& ns) {
  struct statx st {};
  if (::statx(AT_FDCWD, Native(folder).c_str(), AT_STATX_SYNC_AS_STAT, STATX_MTIME, &st) != 0)
    return false;
  ns = static_cast<qint64>(st.stx_mtime.tv_sec) * 1'000'000'000LL + st.stx_mtime.tv_nsec;
  return true;
}

qint64 NowNs() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<qint64>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

bool PathExists(const QString& path) {
  struct stat st {};
  return ::lstat(Native(Trimmed(path)).c_str(), &st) == 0;
}

FileListEntry ParentRowOnly(const QString& folder) {
  FileListEntry parent;
  parent.name = QStringLiteral("..");
  parent.attributes = FILE_ATTR_DIRECTORY;
  if (folder == QLatin1String("/")) {
    parent.fullPath = QString::fromLatin1(kComputerPath);
  } else {
    const QString trimmed = Trimmed(folder);
    parent.fullPath = trimmed.left(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
  }
  return parent;
}

}  // namespace

EListCtrl::EListCtrl(QWidget* parent) : CSortListCtrl(parent) {
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
    // A slow second click on a selected label edits it, as F2 does.
    view->setEditTriggers(QAbstractItemView::SelectedClicked);
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

  m_watcher = new QFileSystemWatcher(this);
  connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { m_dirty = true; });
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

void EListCtrl::Watch(const QString& folder) {
  const QStringList watched = m_watcher->directories();
  const QString path = Trimmed(folder);
  if (watched.size() == 1 && watched.first() == path) return;
  if (!watched.isEmpty()) m_watcher->removePaths(watched);
  m_dirty = false;
  // Without a watch (no inotify, limits reached) every check looks at the folder itself.
  m_watching = !path.isEmpty() && m_watcher->addPath(path);
}

void EListCtrl::NoteListed() {
  m_listedAtNs = NowNs();
  if (!FolderMtimeNs(m_currentFolder, m_listedMtimeNs)) m_listedMtimeNs = -1;
}

bool EListCtrl::FolderMtimeUnchanged() const {
  qint64 mtime = 0;
  return m_listedMtimeNs >= 0 && FolderMtimeNs(m_currentFolder, mtime) && mtime == m_listedMtimeNs;
}

bool EListCtrl::FolderUnchangedSinceListing() const {
  qint64 mtime = 0;
  if (m_listedMtimeNs < 0 || !FolderMtimeNs(m_currentFolder, mtime)) return false;
  return mtime == m_listedMtimeNs && m_listedAtNs - m_listedMtimeNs > kMtimeTrustNs;
}

bool EListCtrl::DisplayFolder(const QString& path) {
  if (path == QLatin1String(kComputerPath)) {
    ShowDrives();
    return true;
  }
  if (path.isEmpty()) return false;
  QString p = path;
  if (!p.endsWith(QLatin1Char('/'))) p += QLatin1Char('/');
  const QFileInfo info(p);
  if (!info.isDir()) return false;
  p = QDir::cleanPath(info.absoluteFilePath());  // without "." and ".." parts
  if (!p.endsWith(QLatin1Char('/'))) p += QLatin1Char('/');
  const bool sameFolder = p == m_currentFolder && !IsShowingDrives();
  m_currentFolder = p;
  Watch(p);
  // The folder's time is taken before the listing, so a change during it counts as new.
  NoteListed();
  FileEntryTable table;
  if (ListFolder(table, p) == 0) {
    // An unreadable folder shows only its way back, never the rows of the previous one.
    table.clear();
    table.push_back(ParentRowOnly(p));
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
  // The watcher sees local changes only; a change made on a network file system by
  // another machine shows in the folder's modification time alone, so that one statx
  // runs every second also while the watcher is quiet.
  if (m_watching && !m_dirty && FolderMtimeUnchanged()) return;
  if (FolderUnchangedSinceListing()) {
    m_dirty = false;  // only contents or attributes changed: the names are the same
    return;
  }
  m_comparing = true;
  m_dirty = false;
  const QString folder = m_currentFolder;
  const qint64 listedAt = NowNs();
  qint64 mtime = -1;
  const bool haveMtime = FolderMtimeNs(folder, mtime);
  FileEntryTable fresh;
  bool differ = false;
  if (ListFolder(fresh, folder) == 0) {
    // Gone or unreadable: a vanished folder keeps its rows (nothing to show instead); an
    // unreadable one is reduced to its ".." row.
    if (QFileInfo(folder).isDir() && entries.size() > 1) {
      fresh.clear();
      fresh.push_back(ParentRowOnly(folder));
      differ = true;
    }
  } else if (fresh.size() != entries.size()) {
    differ = true;
  } else {
    QSet<QString> names;
    names.reserve(static_cast<qsizetype>(entries.size()));
    for (const FileListEntry& e : entries) names.insert(e.name);
    for (const FileListEntry& e : fresh) {
      if (!names.contains(e.name)) {
        differ = true;
        break;
      }
    }
  }
  m_listedAtNs = listedAt;
  m_listedMtimeNs = haveMtime ? mtime : -1;
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
  const QString wanted = Trimmed(path);
  const FileEntryTable& entries = m_model->Entries();
  int caseless = -1;
  for (size_t i = 0; i < entries.size(); ++i) {
    const QString candidate = Trimmed(entries[i].fullPath);
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
  const QString p = Trimmed(path);
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
  if (path.endsWith(QLatin1String(".~de")) && RestoreProtectedFile(path) != 0) path.chop(4);
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
  const int restored = DecryptFileList(*ui, paths);
  if (restored != 0) {
    m_dirty = true;
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
      m_dirty = true;
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
  m_dirty = true;
  if (id != 0) emit Command(id);
}

FileOpResult EListCtrl::TransferFiles(const QStringList& sources, const QString& targetFolder,
                                      PasteMode mode) {
  std::unique_ptr<IFileOpUi> ui =
      MakeFileOpUi(this, m_guardUi,
                   mode == PasteMode::Move ? QStringLiteral("Moving") : QStringLiteral("Copying"));
  const FileOpResult result = PasteFiles(sources, targetFolder, mode, *ui);
  m_dirty = true;
  RefreshCheck();
  return result;
}

bool EListCtrl::HandleKeyRelease(int key) {
  switch (key) {
    case Qt::Key_F5:
      RefreshList(true);
      return true;
    case Qt::Key_F2: {
      const QList<int> rows = SelectedRows();
      if (!rows.isEmpty()) EditLabel(rows.first());
      return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (!m_editEnded) OpenFocusedEntry();
      return true;
    default:
      return false;
  }
}

bool EListCtrl::HandleKeyPress(int key, Qt::KeyboardModifiers mods) {
  if (IsEditing()) return false;
  const bool backspace = key == Qt::Key_Backspace && mods == Qt::NoModifier;
  const bool altUp = key == Qt::Key_Up && mods == Qt::AltModifier;
  if (backspace || altUp) {
    OpenParentFolder();
    return true;
  }
  if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
    TrashSelection();
    return true;
  }
  return false;
}

void EListCtrl::OpenParentFolder() {
  if (IsShowingDrives() || m_currentFolder.isEmpty()) return;
  // The way the ".." row goes: the parent folder, and from "/" the computer view.
  const QString parent = ParentRowOnly(m_currentFolder).fullPath;
  const QString child = Trimmed(m_currentFolder);
  if (parent == QLatin1String(kComputerPath)) {
    ShowDrives();
  } else if (!DisplayFolder(parent)) {
    return;
  }
  // The folder just left keeps the focus, so Enter goes back into it.
  if (const int row = FindEntry(child); row >= 0) {
    SelectRows({row});
    SetFocusedRow(row);
    ActiveView()->scrollTo(Model()->index(row, 0));
  }
  emit Command(ID_LIST_FOLDER_CHANGED);
}

void EListCtrl::TrashSelection() {
  QStringList paths;
  if (IsShowingDrives() || GetSelectedPaths(paths) == 0) return;
  std::unique_ptr<IFileOpUi> ui = MakeFileOpUi(this, m_guardUi);
  const QString what =
      paths.size() == 1 ? QStringLiteral("\"%1\"").arg(QFileInfo(Trimmed(paths.first())).fileName())
                        : QStringLiteral("these %1 items").arg(paths.size());
  if (ui->Ask(QStringLiteral("Do you want to move %1 to the trash?").arg(what),
              MsgButtons::YesNo) != MSG_YES)
    return;
  ui.reset();
  // The context menu's own command, so both say the same when trashing fails.
  CShellMenu menu;
  menu.SetObjects(paths);
  menu.SetUi(this, m_guardUi);
  menu.InvokeOffset(CShellMenu::OFFSET_TRASH);
  m_dirty = true;
  RefreshCheck();
}

bool EListCtrl::HandleDrag(QObject* viewport, QEvent* event) {
  auto* drop = static_cast<QDropEvent*>(event);
  QAbstractItemView* view = viewport == ReportView()->viewport()
                                ? static_cast<QAbstractItemView*>(ReportView())
                                : static_cast<QAbstractItemView*>(IconView());
  const ClipboardFiles files = FilesFromMimeData(drop->mimeData());
  // The folder a drop goes to: the folder row under the cursor, else the shown folder.
  QString target;
  const FileListEntry* e = m_model->Entry(view->indexAt(drop->position().toPoint()).row());
  bool onRow = false;
  if (e && e->IsFolder() && e->fullPath != QLatin1String(kComputerPath)) {
    target = e->fullPath;
    onRow = true;
  } else if (!IsShowingDrives()) {
    target = m_currentFolder;
  }
  const bool fromHere = drop->mimeData()->hasFormat(QString::fromLatin1(kListDragMarkerMime));
  bool acceptable = !files.IsEmpty() && !target.isEmpty();
  if (acceptable) {
    const QString targetTrimmed = Trimmed(target);
    for (const QString& src : files.paths) {
      // Onto itself, or back into the folder it came from: nothing to do.
      if (src == targetTrimmed ||
          (fromHere && !onRow && Trimmed(m_currentFolder) == targetTrimmed)) {
        acceptable = false;
        break;
      }
    }
  }
  if (!acceptable) {
    drop->ignore();
    return true;
  }
  // Ctrl copies, Shift moves; otherwise a move within one file system and a copy across.
  Qt::DropAction action = Qt::CopyAction;
  const Qt::KeyboardModifiers mods = drop->modifiers();
  if (mods & Qt::ControlModifier) {
    action = Qt::CopyAction;
  } else if (mods & Qt::ShiftModifier) {
    action = Qt::MoveAction;
  } else {
    struct stat a {};
    struct stat b {};
    if (::stat(Native(files.paths.first()).c_str(), &a) == 0 &&
        ::stat(Native(Trimmed(target)).c_str(), &b) == 0 && a.st_dev == b.st_dev)
      action = Qt::MoveAction;
  }
  if (!(drop->possibleActions() & action)) {
    action = (drop->possibleActions() & Qt::CopyAction) ? Qt::CopyAction : Qt::MoveAction;
    if (!(drop->possibleActions() & action)) {
      drop->ignore();
      return true;
    }
  }
  drop->setDropAction(action);
  drop->accept();
  if (event->type() == QEvent::Drop) {
    const QStringList sources = files.paths;
    const PasteMode mode = action == Qt::MoveAction ? PasteMode::Move : PasteMode::Copy;
    // The copy runs after the drop returned, so the drag source is not kept waiting.
    QTimer::singleShot(0, this,
                       [this, sources, target, mode] { TransferFiles(sources, target, mode); });
  }
  return true;
}

bool EListCtrl::eventFilter(QObject* watched, QEvent* event) {
  const bool isView = watched == ReportView() || watched == IconView();
  const bool isViewport = watched == ReportView()->viewport() || watched == IconView()->viewport();
  if (isView && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    // A key acted on at its release must have been pressed here: a press that closed a
    // message box (or ended an edit) leaves its release to this list.
    if (!key->isAutoRepeat() && mods == Qt::NoModifier) m_pressedKey = key->key();
    if (HandleKeyPress(key->key(), mods)) return true;
  }
  if (isView && event->type() == QEvent::KeyRelease) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (!key->isAutoRepeat() && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
      const bool pressedHere = m_pressedKey == key->key();
      m_pressedKey = 0;
      if (pressedHere && HandleKeyRelease(key->key()))
        return false;  // handled, and still passed on to the view
    }
  }
  if (isViewport) {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
        return HandleDrag(watched, event);
      case QEvent::DragLeave:
        return true;
      default:
        break;
    }
  }
  return CSortListCtrl::eventFilter(watched, event);
}

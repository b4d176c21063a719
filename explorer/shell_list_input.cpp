// The file list's keys, drags and drops: what the user does to the list with keyboard
// and mouse beyond the selection the view handles itself.
#include <fcntl.h>
#include <sys/stat.h>

#include <QAbstractItemDelegate>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSet>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

#include "explorer/explorer_paths.h"
#include "explorer/file_clipboard.h"
#include "explorer/file_drop.h"
#include "explorer/file_list_model.h"
#include "explorer/shell_list_ctrl.h"
#include "explorer/shell_menu.h"
#include "framework/native_path.h"
#include "guard/file_list_driver.h"

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
  const QString parent = ParentRow(m_currentFolder).fullPath;
  const QString child = TrimmedPath(m_currentFolder);
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
      paths.size() == 1
          ? QStringLiteral("\"%1\"").arg(QFileInfo(TrimmedPath(paths.first())).fileName())
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
  m_changes.MarkChanged();
  RefreshCheck();
}

bool EListCtrl::HandleDrag(QObject* viewport, QEvent* event) {
  auto* drop = static_cast<QDropEvent*>(event);
  QAbstractItemView* view = viewport == ReportView()->viewport()
                                ? static_cast<QAbstractItemView*>(ReportView())
                                : static_cast<QAbstractItemView*>(IconView());
  const ClipboardFiles files = FilesFromMimeData(drop->mimeData());
  if (event->type() == QEvent::DragEnter) {
    // A drag of this list's rows enters over its own rows, where it may not drop: the
    // entry takes any files, and each move decides where the files may go.
    if (files.paths.isEmpty()) return true;
    drop->acceptProposedAction();
    return true;
  }
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
  FileDrop plan;
  plan.sources = files.paths;
  plan.target = target;
  plan.onRow = onRow;
  plan.fromHere = drop->mimeData()->hasFormat(QString::fromLatin1(kListDragMarkerMime));
  plan.shownFolder = m_currentFolder;
  plan.modifiers = drop->modifiers();
  plan.possible = drop->possibleActions();
  const Qt::DropAction action = DropActionFor(plan);
  if (action == Qt::IgnoreAction) {
    drop->ignore();
    return true;
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

void EListCtrl::NoteClick(QAbstractItemView* view, QEvent* event) {
  auto* mouse = static_cast<QMouseEvent*>(event);
  const int row = view->indexAt(mouse->position().toPoint()).row();
  if (event->type() == QEvent::MouseButtonPress) {
    m_slowClickTimer->stop();
    const bool plain = mouse->button() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier;
    m_slowClickRow = plain && row >= 0 && SelectedRows() == QList<int>{row} ? row : -1;
  } else if (event->type() == QEvent::MouseButtonRelease) {
    if (m_slowClickRow >= 0 && row == m_slowClickRow) m_slowClickTimer->start();
  } else {
    m_slowClickRow = -1;  // a double click opens
    m_slowClickTimer->stop();
  }
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
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
        NoteClick(watched == ReportView()->viewport()
                      ? static_cast<QAbstractItemView*>(ReportView())
                      : static_cast<QAbstractItemView*>(IconView()),
                  event);
        break;
      default:
        break;
    }
  }
  return CSortListCtrl::eventFilter(watched, event);
}

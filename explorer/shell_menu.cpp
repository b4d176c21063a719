#include "explorer/shell_menu.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QWidget>

#include "explorer/explorer_paths.h"
#include "explorer/file_clipboard.h"
#include "explorer/file_operations.h"
#include "explorer/file_properties_dialog.h"
#include "explorer/file_trash.h"

namespace {

PopupMenuExecutor& Executor() {
  static PopupMenuExecutor executor;
  return executor;
}

bool IsFolderPath(const QString& path) {
  return path.endsWith(QLatin1Char('/')) || QFileInfo(path).isDir();
}

}  // namespace

void SetPopupMenuExecutor(PopupMenuExecutor executor) {
  Executor() = std::move(executor);
}

QAction* ExecPopupMenu(QMenu& menu, const QPoint& globalPos) {
  if (Executor()) return Executor()(menu, globalPos);
  return menu.exec(globalPos);
}

int MenuItemId(const QAction* action) {
  if (!action || action->isSeparator() || action->menu()) return 0;
  bool ok = false;
  const int id = action->data().toInt(&ok);
  return ok ? id : 0;
}

QAction* MakeMenuItem(QMenu* menu, int id, const QString& text) {
  auto* action = new QAction(text, menu);
  action->setData(id);
  return action;
}

QAction* InsertMenuItem(QMenu* menu, int position, int id, const QString& text) {
  QAction* action = MakeMenuItem(menu, id, text);
  const QList<QAction*> actions = menu->actions();
  menu->insertAction(position >= 0 && position < actions.size() ? actions[position] : nullptr,
                     action);
  return action;
}

CShellMenu::CShellMenu() = default;
CShellMenu::~CShellMenu() = default;

void CShellMenu::SetObjects(const QStringList& paths) {
  m_objects = paths;
  m_objectsSet = true;
}

QMenu* CShellMenu::GetPopup() {
  if (!m_popup) m_popup = std::make_unique<QMenu>();
  return m_popup.get();
}

void CShellMenu::SetUi(QWidget* owner, GuardUiFactory guardUi) {
  m_owner = owner;
  m_guardUi = std::move(guardUi);
}

void CShellMenu::FillPopup() {
  QMenu* popup = GetPopup();
  if (m_filled || !m_objectsSet || m_objects.isEmpty()) return;
  m_filled = true;
  auto add = [popup](int offset, const QString& text) {
    QAction* action = MakeMenuItem(popup, offset + 1, text);
    popup->addAction(action);
    return action;
  };
  const bool single = m_objects.size() == 1;
  QAction* open = add(OFFSET_OPEN, QStringLiteral("&Open"));
  popup->setDefaultAction(open);
  popup->addSeparator();
  add(OFFSET_CUT, QStringLiteral("Cu&t"));
  add(OFFSET_COPY, QStringLiteral("&Copy"));
  if (single && IsFolderPath(m_objects.first())) {
    add(OFFSET_PASTE, QStringLiteral("&Paste"))->setEnabled(ClipboardHasFiles());
  }
  popup->addSeparator();
  add(OFFSET_TRASH, QStringLiteral("Move to &Trash"));
  if (single) add(OFFSET_RENAME, QStringLiteral("Rena&me"));
  popup->addSeparator();
  add(OFFSET_COPY_PATH, QStringLiteral("Copy &Path"));
  popup->addSeparator();
  add(OFFSET_PROPERTIES, QStringLiteral("P&roperties"));
}

int CShellMenu::ShowMenu(QWidget* owner, const QPoint& globalPos) {
  if (owner) m_owner = owner;
  FillPopup();
  QMenu* popup = GetPopup();
  if (popup->isEmpty()) return 0;
  const int id = MenuItemId(ExecPopupMenu(*popup, globalPos));
  if (id >= kFirstProviderId && id <= kLastProviderId) {
    Run(id - 1);
    return 0;
  }
  return id;
}

void CShellMenu::InvokeOffset(int offset) {
  if (!m_objectsSet || m_objects.isEmpty()) return;
  Run(offset);
}

void CShellMenu::Run(int offset) {
  switch (offset) {
    case OFFSET_OPEN:
      for (const QString& path : m_objects) {
        if (OpenHandler) {
          OpenHandler(path);
        } else if (!OpenWithDesktop(TrimmedPath(path))) {
          MakeFileOpUi(m_owner, m_guardUi)
              ->Fail(QStringLiteral("Cannot open %1: no application is set up to open it.")
                         .arg(TrimmedPath(path)));
        }
      }
      break;
    case OFFSET_CUT:
    case OFFSET_COPY:
      PutFilesOnClipboard(m_objects, offset == OFFSET_CUT);
      break;
    case OFFSET_PASTE:
      Paste();
      break;
    case OFFSET_TRASH: {
      std::unique_ptr<IFileOpUi> ui = MakeFileOpUi(m_owner, m_guardUi);
      MoveToTrash(m_objects, *ui);
      break;
    }
    case OFFSET_RENAME:
      Rename();
      break;
    case OFFSET_COPY_PATH: {
      QStringList paths;
      for (const QString& p : m_objects) paths.append(TrimmedPath(p));
      QGuiApplication::clipboard()->setText(paths.join(QLatin1Char('\n')));
      break;
    }
    case OFFSET_PROPERTIES:
      ShowFileProperties(m_owner, m_objects);
      break;
    default:
      break;
  }
}

void CShellMenu::Paste() {
  const QString folder = TrimmedPath(m_objects.first());
  if (!QFileInfo(folder).isDir()) return;
  const ClipboardFiles files = FilesOnClipboard();
  if (files.IsEmpty()) return;
  const PasteMode mode = files.cut ? PasteMode::Move : PasteMode::Copy;
  std::unique_ptr<IFileOpUi> ui = MakeFileOpUi(
      m_owner, m_guardUi, files.cut ? QStringLiteral("Moving") : QStringLiteral("Copying"));
  const FileOpResult result = PasteFiles(files.paths, folder, mode, *ui);
  // Cut files live at one place only: once moved, the clipboard no longer offers them.
  if (files.cut && result.failed == 0 && !result.cancelled && result.skipped == 0)
    ClearClipboardIfHolding(files.paths);
}

void CShellMenu::Rename() {
  if (m_objects.size() != 1) return;
  const QString path = TrimmedPath(m_objects.first());
  if (RenameHandler) {
    RenameHandler(path);
    return;
  }
  const QString oldName = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
  bool ok = false;
  const QString name =
      QInputDialog::getText(m_owner, QStringLiteral("Rename"), QStringLiteral("New name:"),
                            QLineEdit::Normal, oldName, &ok);
  if (!ok) return;
  std::unique_ptr<IFileOpUi> ui = MakeFileOpUi(m_owner, m_guardUi);
  RenameEntry(path, name, *ui);
}

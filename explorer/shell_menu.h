#pragma once
// The context menu of files and folders, our own provider with the contract the panes
// rely on: a caller puts its own items into the still empty popup first (GetPopup), the
// provider's items follow them with command ids 1..10000 (offset + 1), and ShowMenu
// returns 0 when the menu was dismissed or a provider command was chosen (and has run),
// or the id of one of the caller's items. InvokeOffset runs a provider command without
// showing anything; the panes use the offsets 24 (cut), 25 (copy) and 26 (paste, into
// the one folder given as object). Make one CShellMenu for each use.
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "framework/command_target.h"
#include "guard/ui/guard_ui_factory.h"

class QAction;
class QMenu;
class QWidget;

// Shows a popup menu at a global position and returns the chosen action, nullptr when the
// menu was dismissed. Replaceable so that tests can read a menu and choose from it.
using PopupMenuExecutor = std::function<QAction*(QMenu& menu, const QPoint& globalPos)>;
void SetPopupMenuExecutor(PopupMenuExecutor executor);  // empty: QMenu::exec
QAction* ExecPopupMenu(QMenu& menu, const QPoint& globalPos);

// Items carry their command id; separators and submenu items carry 0.
int MenuItemId(const QAction* action);
QAction* MakeMenuItem(QMenu* menu, int id, const QString& text);
QAction* InsertMenuItem(QMenu* menu, int position, int id, const QString& text);

class CShellMenu {
 public:
  enum : int { kFirstProviderId = 1, kLastProviderId = 10000 };
  // Offsets of the provider's commands (their ids are offset + 1).
  enum Offset : int {
    OFFSET_OPEN = 0,
    OFFSET_TRASH = 17,
    OFFSET_RENAME = 18,
    OFFSET_PROPERTIES = 19,
    OFFSET_CUT = 24,
    OFFSET_COPY = 25,
    OFFSET_PASTE = 26,
    OFFSET_COPY_PATH = 27,
  };

  CShellMenu();
  ~CShellMenu();
  CShellMenu(const CShellMenu&) = delete;
  CShellMenu& operator=(const CShellMenu&) = delete;

  // The full paths the menu is for; folders may carry a trailing "/". Replaces an earlier
  // set.
  void SetObjects(const QStringList& paths);
  QStringList Objects() const { return m_objects; }
  // The popup, created empty on first use; the caller may insert its items.
  QMenu* GetPopup();
  // Adds the provider's items after whatever the popup holds, once.
  void FillPopup();
  // Shows the menu for owner at a global position; see the class comment for the result.
  int ShowMenu(QWidget* owner, const QPoint& globalPos);
  // Runs the provider command with this offset for the objects without showing a menu.
  void InvokeOffset(int offset);

  // The owner of messages and progress windows of the commands, and the window's user
  // interface for them (empty: plain Qt boxes).
  void SetUi(QWidget* owner, GuardUiFactory guardUi);
  // Open of one object; unset, the desktop's default application opens it.
  std::function<void(const QString& path)> OpenHandler;
  // Rename of the one object; unset, a dialog asks for the new name.
  std::function<void(const QString& path)> RenameHandler;

 private:
  void Run(int offset);
  void Paste();
  void Rename();

  QStringList m_objects;
  bool m_objectsSet = false;
  bool m_filled = false;
  std::unique_ptr<QMenu> m_popup;
  QPointer<QWidget> m_owner;
  GuardUiFactory m_guardUi;
};

#include "app/command_table.h"

#include <QAction>
#include <QIcon>
#include <QKeySequence>
#include <QList>
#include <QString>

#include "framework/command_ids.h"
#include "framework/command_router.h"
#include "framework/svg_icon.h"

namespace {

struct CommandDef {
  int id;
  const char* text;    // menu text; "\t" and the shortcut after it
  const char* prompt;  // status text "\n" tooltip
  const char* themeIcon;
  const char* ownIcon;  // fallback picture under :/app/icons/
};

// Texts of the menus, the status line and the tooltips. The framework's own commands
// carry the framework's customary prompts.
const CommandDef kCommands[] = {
    {ID_LIST_INSERT_FILES, "Insert Files", "Add files to the list\nAdd files to the list", nullptr,
     "insert_files"},
    {ID_LIST_INSERT_FOLDERS, "Insert Folders", "Add folder to the list\nAdd folder to the list",
     nullptr, "insert_folder"},
    {ID_LIST_REMOVE, "Remove",
     "Remove folders and files from the list\nRemove folders and files from the list", nullptr,
     nullptr},
    {ID_LIST_REMOVE_SELECTED, "Remove Selected Items",
     "Remove seletected item(s) from the list\nRemove seletected item(s) from the list", nullptr,
     "remove_selected"},
    {ID_LIST_REMOVE_ALL, "&Remove All",
     "Remove All items of the list\nRemove All items of the list", nullptr, nullptr},
    {ID_LIST_PROPERTIES, "Properties", "Properties of the list\nProperties of the list", nullptr,
     nullptr},
    {ID_FILE_NEW, "&New\tCtrl+N", "Create a new document\nNew", "document-new", "file_new"},
    {ID_FILE_OPEN, "&Open...\tCtrl+O", "Open an existing document\nOpen", "document-open",
     "file_open"},
    {ID_FILE_SAVE, "&Save\tCtrl+S", "Save the active document\nSave", "document-save", "file_save"},
    {ID_FILE_SAVE_AS, "Save &As...", "Save the active document with a new name\nSave As", nullptr,
     nullptr},
    {ID_FILE_PRINT, "&Print...", "Print the active document\nPrint", "document-print",
     "file_print"},
    {ID_APP_EXIT, "&Exit", "Quit the application; prompts to save documents\nExit", nullptr,
     nullptr},
    {ID_EDIT_UNDO, "&Undo\tCtrl+Z", "Undo the last action\nUndo", nullptr, nullptr},
    {ID_EDIT_CUT, "C&ut\tCtrl+X", "Cut the selection and put it on the Clipboard\nCut", "edit-cut",
     "edit_cut"},
    {ID_EDIT_COPY, "&Copy\tCtrl+C", "Copy the selection and put it on the Clipboard\nCopy",
     "edit-copy", "edit_copy"},
    {ID_EDIT_PASTE, "&Paste\tCtrl+V", "Insert Clipboard contents\nPaste", "edit-paste",
     "edit_paste"},
    {ID_VIEW_TOOLBAR, "&Tool Bar", "Show or hide the toolbar\nToggle ToolBar", nullptr, nullptr},
    {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", nullptr,
     nullptr},
    {ID_VIEW_SMALLICON, "S&mall Icons", "Display items by using small icons\nSmall Icons",
     "view-list-compact", "view_small"},
    {ID_VIEW_LARGEICON, "Lar&ge Icons", "Display items by using large icons\nLarge Icons",
     "view-list-icons", "view_large"},
    {ID_VIEW_LIST, "&List", "Displays items in a list\nList", "view-list-text", "view_list"},
    {ID_VIEW_DETAILS, "&Details",
     "Displays detailed information about each item in the window\nDetails", "view-list-details",
     "view_details"},
    {ID_VIEW_BYNAME, "Arrange &Icons", "Arranges icons in a grid\nArrange Icons", nullptr, nullptr},
    {ID_VIEW_AUTOARRANGE, "", "", nullptr, nullptr},
    {ID_APP_ABOUT, "&About Vellumguard...",
     "Display program information, version number and copyright\nAbout", "help-about", "app_about"},
    {ID_GUARD_ENCRYPT, "&Encrypt Files and Folders",
     "Encrypt selected file(s) and folder(s)\nEncrypt selected file(s) and folder(s)", nullptr,
     "encrypt_selected"},
    {ID_GUARD_DECRYPT, "&Decrypt Files and Folders",
     "Decrypt selected file(s) and folder(s)\nDecrypt selected file(s) and folder(s)", nullptr,
     "decrypt_selected"},
    {ID_GUARD_OPEN, "Open File or Folder", "Open selected item\nOpen selected item", nullptr,
     "guard_open"},
    {ID_GUARD_EDIT, "Edit Protected File",
     "Edit the selected protected file; every save is protected again\nEdit Protected File",
     nullptr, nullptr},
    {ID_GUARD_ENCRYPT_ALL, "Encrypt &All Files and Folders",
     "Encrypt all files and folders\nEncrypt all files and folders", nullptr, "encrypt_all"},
    {ID_GUARD_DECRYPT_ALL, "Decrypt A&ll Files and Folders",
     "Decrypt all files and folders\nDecrypt all files and folders", nullptr, "decrypt_all"},
    {ID_GUARD_CHANGE_PASSWORD, "Change &Password...",
     "Give the selected protected files, or the list, a new password without restoring "
     "them\nChange Password",
     nullptr, nullptr},
    {ID_GUARD_VERIFY, "&Verify",
     "Check that the selected protected files, or the list's, open and are whole\nVerify", nullptr,
     nullptr},
    {ID_DEFAULT_SETTING, "Default Setting", "Set default setting\nSet default setting", nullptr,
     nullptr},
    {ID_REFRESH, "Refresh", "Refresh\nRefresh", nullptr, nullptr},
    {ID_NEXT_PANE, "Next Pane", "Switch to the next window pane\nNext Pane", nullptr, nullptr},
    {ID_PREV_PANE, "Previous Pane", "Switch back to the previous window pane\nPrevious Pane",
     nullptr, nullptr},
    {ID_ADDRESS_OK, "", "", nullptr, nullptr},
};

// Accelerators of the window.
QList<QKeySequence> ShortcutsOf(int id) {
  switch (id) {
    case ID_FILE_NEW:
      return {QKeySequence(Qt::CTRL | Qt::Key_N)};
    case ID_FILE_OPEN:
      return {QKeySequence(Qt::CTRL | Qt::Key_O)};
    case ID_FILE_SAVE:
      return {QKeySequence(Qt::CTRL | Qt::Key_S)};
    case ID_EDIT_UNDO:
      return {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)};
    case ID_EDIT_CUT:
      return {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)};
    case ID_EDIT_COPY:
      return {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)};
    case ID_EDIT_PASTE:
      return {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)};
    case ID_NEXT_PANE:
      return {QKeySequence(Qt::Key_F6)};
    case ID_PREV_PANE:
      return {QKeySequence(Qt::SHIFT | Qt::Key_F6)};
    default:
      return {};
  }
}

// The desktop's standard icon where its theme has one, else the program's own picture.
QIcon CommandIcon(const CommandDef& def) {
  if (def.themeIcon && QIcon::hasThemeIcon(QLatin1String(def.themeIcon)))
    return QIcon::fromTheme(QLatin1String(def.themeIcon));
  if (def.ownIcon) return LoadSvgIcon(QStringLiteral(":/app/icons/%1.svg").arg(def.ownIcon));
  return QIcon();
}

}  // namespace

void AddWindowCommands(CCommandRouter& router) {
  for (const CommandDef& def : kCommands) {
    QAction* action = router.AddCommand(def.id, QString::fromUtf8(def.text),
                                        QString::fromUtf8(def.prompt), ShortcutsOf(def.id));
    if (def.themeIcon || def.ownIcon) {
      action->setIcon(CommandIcon(def));
      action->setIconVisibleInMenu(false);
    }
  }
}

#pragma once
// Command identifiers of the menus, toolbars and accelerators. They keep the values of
// the program's resources so that every pane, menu and test names a command the same way.

enum CommandId : int {
  ID_ADDRESS_OK = 1,  // Enter in the address bar's edit

  // Guard
  ID_GUARD_ENCRYPT = 32771,      // "&Encrypt Files and Folders"
  ID_GUARD_DECRYPT = 32772,      // "&Decrypt Files and Folders"
  ID_LIST_INSERT_FILES = 32773,  // "Insert Files"
  ID_LIST_INSERT_FOLDERS = 32774,
  ID_LIST_REMOVE = 32775,  // "Remove folders and files from the list" (status text only)
  ID_GUARD_ENCRYPT_ALL = 32776,
  ID_GUARD_DECRYPT_ALL = 32777,
  ID_LIST_REMOVE_SELECTED = 32778,
  ID_DEFAULT_SETTING = 32779,
  ID_LIST_PROPERTIES = 32780,
  ID_GUARD_OPEN = 32781,  // "Open File or Folder"
  ID_LIST_REMOVE_ALL = 32783,
  ID_REFRESH = 32784,
  ID_GUARD_CHANGE_PASSWORD = 32810,  // "Change &Password..."
  ID_GUARD_VERIFY = 32811,           // "&Verify"
  ID_GUARD_EDIT = 32812,             // "Edit Protected File"

  // Framework commands
  ID_FILE_NEW = 57600,
  ID_FILE_OPEN = 57601,
  ID_FILE_SAVE = 57603,
  ID_FILE_SAVE_AS = 57604,
  ID_FILE_PRINT = 57607,
  ID_FILE_MRU_FIRST = 57616,  // recent files 57616..57631
  ID_FILE_MRU_LAST = 57631,
  ID_EDIT_COPY = 57634,
  ID_EDIT_CUT = 57635,
  ID_EDIT_PASTE = 57637,
  ID_EDIT_UNDO = 57643,
  ID_APP_ABOUT = 57664,
  ID_APP_EXIT = 57665,
  ID_VIEW_TOOLBAR = 59392,
  ID_VIEW_STATUS_BAR = 59393,
  ID_VIEW_SMALLICON = 59408,
  ID_VIEW_LARGEICON = 59409,
  ID_VIEW_LIST = 59410,
  ID_VIEW_DETAILS = 59411,
  ID_VIEW_BYNAME = 59412,
  ID_VIEW_AUTOARRANGE = 59413,

  // Accelerators F6 and Shift+F6
  ID_NEXT_PANE = 57680,
  ID_PREV_PANE = 57681,
};

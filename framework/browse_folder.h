#pragma once
// The folder picker of the "Add Folder to List" dialog: a directory dialog with a title,
// opened at a preselected folder, returning the chosen folder's path.
#include <QString>

class QWidget;

class CBrowseFolder {
 public:
  CBrowseFolder() = default;
  virtual ~CBrowseFolder() = default;

  // Empties path, shows the dialog and returns true when a folder was chosen (path then
  // holds it); false when the dialog was cancelled.
  bool Browse(QString& path);

  QWidget* m_owner = nullptr;
  QString m_initialFolder;  // opened and preselected; empty or missing selects nothing
  QString m_title;
  int m_image = 0;     // kept for callers that read it; the dialog reports no image
  QString m_rootPath;  // not used for browsing: the dialog starts at the file system
  int m_flags = 5;     // only folders of the file system can be chosen
};

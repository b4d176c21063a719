#include "framework/browse_folder.h"

#include <QFileDialog>
#include <QFileInfo>

bool CBrowseFolder::Browse(QString& path) {
  path.clear();
  // A missing initial folder must not open the dialog somewhere unrelated: the dialog
  // then starts at its own default, with nothing selected.
  QString start;
  if (!m_initialFolder.isEmpty() && QFileInfo(m_initialFolder).isDir()) start = m_initialFolder;
  const QString chosen = QFileDialog::getExistingDirectory(
      m_owner, m_title, start, QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
  if (chosen.isEmpty()) return false;
  path = chosen;
  return !path.isEmpty();
}

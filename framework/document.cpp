#include "framework/document.h"

#include <QFile>
#include <QFileInfo>

#include "framework/command_ids.h"
#include "framework/command_target.h"
#include "framework/prompts.h"

CDocument::CDocument(QObject* parent) : QObject(parent) {}

CDocument::~CDocument() = default;

const DocumentFileType& CDocument::FileType() {
  static const DocumentFileType type;
  return type;
}

void CDocument::SetModifiedFlag(bool modified) {
  if (m_modified == modified) return;
  m_modified = modified;
  emit ModifiedChanged(modified);
}

void CDocument::SetPathName(const QString& path) {
  m_pathName = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
  emit TitleChanged(Title());
  if (!m_pathName.isEmpty()) emit PathNameSet(m_pathName);
}

QString CDocument::Title() const {
  if (m_pathName.isEmpty()) return tr("Untitled");
  return QFileInfo(m_pathName).fileName();
}

bool CDocument::OnNewDocument() {
  DeleteContents();
  SetModifiedFlag(false);
  m_pathName.clear();
  emit TitleChanged(Title());
  return true;
}

bool CDocument::OnOpenDocument(const QString& path) {
  QFile file(path);
  if (!QFileInfo(path).isFile()) {
    AppMessageBox(m_owner,
                  tr("Failed to open document \"%1\": it is not a file that exists.").arg(path),
                  QMessageBox::Warning);
    return false;
  }
  if (!file.open(QIODevice::ReadOnly)) {
    AppMessageBox(m_owner, tr("Failed to open document \"%1\": %2.").arg(path, file.errorString()),
                  QMessageBox::Warning);
    return false;
  }
  file.close();
  DeleteContents();
  SetModifiedFlag(false);
  return true;
}

bool CDocument::OnSaveDocument(const QString& /*path*/) {
  SetModifiedFlag(false);
  return true;
}

bool CDocument::SaveModified(QWidget* owner) {
  if (!IsModified()) return true;
  const QString name = m_pathName.isEmpty() ? Title() : m_pathName;
  const auto answer =
      AppMessageBox(owner, tr("Save changes to %1?").arg(name), QMessageBox::Warning,
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  if (answer == QMessageBox::Cancel || answer == QMessageBox::NoButton) return false;
  if (answer == QMessageBox::No) return true;
  return DoFileSave(owner);
}

bool CDocument::DoFileSave(QWidget* owner) {
  const QFileInfo info(m_pathName);
  // A file we may no longer write goes through Save As, like a new document.
  if (m_pathName.isEmpty() || (info.exists() && !info.isWritable()))
    return DoSave(QString(), true, owner);
  return DoSave(m_pathName, true, owner);
}

bool CDocument::DoSave(const QString& path, bool replace, QWidget* owner) {
  QString target = path;
  if (target.isEmpty()) {
    QString suggested = m_pathName;
    if (suggested.isEmpty()) suggested = Title() + FileType().extension;
    target = Prompts().chooseFile(owner, true, suggested);
    if (target.isEmpty()) return false;  // the user cancelled
  }
  if (!OnSaveDocument(target)) return false;  // the document said why
  if (replace) SetPathName(target);
  return true;
}

bool CDocument::OnCommand(int id) {
  switch (id) {
    case ID_FILE_SAVE:
      DoFileSave(m_owner);
      return true;
    case ID_FILE_SAVE_AS:
      DoSave(QString(), true, m_owner);
      return true;
    default:
      return false;
  }
}

bool CDocument::OnUpdateCommand(int id, CommandUpdate& update) {
  if (id == ID_FILE_SAVE || id == ID_FILE_SAVE_AS) {
    update.Enable(true);
    return true;
  }
  return false;
}

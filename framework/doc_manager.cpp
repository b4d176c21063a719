#include "framework/doc_manager.h"

#include <QFileInfo>

#include "framework/document.h"
#include "framework/prompts.h"

CDocManager::CDocManager(QObject* parent) : QObject(parent), m_recent(10) {}

void CDocManager::SetDocument(CDocument* document) {
  if (m_document) disconnect(m_document, nullptr, this, nullptr);
  m_document = document;
  if (m_document)
    connect(m_document, &CDocument::PathNameSet, this, &CDocManager::AddToRecentFileList);
}

void CDocManager::AddToRecentFileList(const QString& path) {
  m_recent.Add(path);
  m_recent.WriteList();
  emit RecentFilesChanged();
}

bool CDocManager::OnFileNew() {
  if (!m_document) return false;
  if (!m_document->SaveModified(m_owner)) return false;
  return m_document->OnNewDocument();
}

bool CDocManager::OnFileOpen() {
  const QString path = Prompts().chooseFile(m_owner, false, QString());
  if (path.isEmpty()) return false;
  return OpenDocumentFile(path);
}

bool CDocManager::OpenDocumentFile(const QString& path) {
  if (!m_document || path.isEmpty()) return false;
  const QString absolute = QFileInfo(path).absoluteFilePath();
  // The document already shows this file: nothing is read again.
  if (!m_document->PathName().isEmpty() && QFileInfo(m_document->PathName()) == QFileInfo(absolute))
    return true;
  if (!m_document->SaveModified(m_owner)) return false;
  // A failed open has told the user why and left the document exactly as it was (its
  // items, settings, path and modified flag): nothing to mend here.
  if (!m_document->OnOpenDocument(absolute)) return false;
  m_document->SetPathName(absolute);
  return true;
}

bool CDocManager::OnOpenRecentFile(int index) {
  const QString path = m_recent.At(index);
  if (path.isEmpty()) return false;
  if (OpenDocumentFile(path)) return true;
  if (!QFileInfo(path).isFile()) {
    m_recent.Remove(index);
    m_recent.WriteList();
    emit RecentFilesChanged();
  }
  return false;
}

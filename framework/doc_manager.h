#pragma once
// The single-document handling of the application: New, Open, the recent files, and
// opening a path (from the command line, the address bar or a recent-file entry). The
// one document stays the same object; it is emptied and refilled.
#include <QObject>
#include <QString>

#include "framework/recent_file_list.h"

class CDocument;
class QWidget;

class CDocManager : public QObject {
  Q_OBJECT
 public:
  explicit CDocManager(QObject* parent = nullptr);

  void SetDocument(CDocument* document);
  CDocument* Document() const { return m_document; }
  void SetOwnerWindow(QWidget* owner) { m_owner = owner; }

  // "save changes?", then a new empty document. False when the user cancelled.
  bool OnFileNew();
  // The open dialog, then OpenDocumentFile. False when nothing was opened.
  bool OnFileOpen();
  // Opens path as the document ("save changes?" first). The document's own file is
  // not read again. False when the user cancelled or the file could not be opened
  // (the user has been told why).
  bool OpenDocumentFile(const QString& path);
  // Opens recent-file entry index; an entry that fails to open leaves the list.
  bool OnOpenRecentFile(int index);

  CRecentFileList& RecentFiles() { return m_recent; }
  // Puts path at the front of the recent files and stores the list.
  void AddToRecentFileList(const QString& path);

 signals:
  void RecentFilesChanged();

 private:
  CDocument* m_document = nullptr;
  QWidget* m_owner = nullptr;
  CRecentFileList m_recent;
};

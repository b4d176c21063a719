#pragma once
// The framework's document: a modified flag, a path, and the standard New, Open, Save and
// Save As handling (with "save changes?" before the contents are dropped and the recent
// files). A concrete document overrides the four content hooks; views listen to
// Changed().
#include <QObject>
#include <QString>

class QWidget;
struct CommandUpdate;

// What the document template says about the document's files.
struct DocumentFileType {
  QString filter = QStringLiteral("Vellumguard List Files (*.dlt)");
  QString extension = QStringLiteral(".dlt");
};

class CDocument : public QObject {
  Q_OBJECT
 public:
  explicit CDocument(QObject* parent = nullptr);
  ~CDocument() override;

  bool IsModified() const { return m_modified; }
  void SetModifiedFlag(bool modified = true);
  QString PathName() const { return m_pathName; }
  void SetPathName(const QString& path);  // also adds it to the recent files
  // The title shown in the window caption: the file name, or "Untitled".
  QString Title() const;
  // Tells every view that the contents changed (the framework's UpdateAllViews).
  void UpdateAllViews() { emit Changed(); }

  // Content hooks. OnNewDocument and OnOpenDocument start from DeleteContents; false
  // refuses (the framework keeps or ends as the caller decides). OnSaveDocument
  // reports failure with its own message.
  // The base OnOpenDocument checks that the file can be read (and says why not), then
  // empties the document. A refused open must leave the document as it was: the open
  // list stays on screen with its changes. The base OnSaveDocument only clears the modified flag,
  // so a concrete document writes its file first and calls it after a successful write.
  virtual void DeleteContents() {}
  virtual bool OnNewDocument();
  virtual bool OnOpenDocument(const QString& path);
  virtual bool OnSaveDocument(const QString& path);
  // Asks "Save changes to %s?" when modified; false when the user cancelled or the save
  // failed, so the caller must not drop the contents.
  bool SaveModified(QWidget* owner);

  // Save (Save As when the document has no file yet) and Save As. A path handed to
  // DoSave is used as is; an empty one asks with the file dialog. True when saved.
  bool DoFileSave(QWidget* owner);
  bool DoSave(const QString& path, bool replace, QWidget* owner);

  // The document's place on the command route (after the pane with the focus): Save
  // and Save As. A concrete document may handle more and call these for the rest.
  virtual bool OnCommand(int id);
  virtual bool OnUpdateCommand(int id, CommandUpdate& update);

  // The window that owns the document's dialogs and message boxes.
  void SetOwnerWindow(QWidget* owner) { m_owner = owner; }
  QWidget* OwnerWindow() const { return m_owner; }
  static const DocumentFileType& FileType();

 signals:
  void Changed();
  void TitleChanged(const QString& title);
  void ModifiedChanged(bool modified);
  // A path that the document was opened from or saved to (the recent files take it).
  void PathNameSet(const QString& path);

 private:
  bool m_modified = false;
  QString m_pathName;
  QWidget* m_owner = nullptr;
};

#pragma once
// The framework's document: a modified flag, a path, and the standard New, Open, Save and
// Save As handling (with "save changes?" before the contents are dropped and the recent
// files). A concrete document overrides the four content hooks; views listen to
// Changed().
#include <QObject>
#include <QString>

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
  virtual void DeleteContents() {}
  virtual bool OnNewDocument();
  virtual bool OnOpenDocument(const QString& path);
  virtual bool OnSaveDocument(const QString& path);
  // Asks "Save changes to %s?" when modified; false when the user cancelled or the save
  // failed, so the caller must not drop the contents.
  bool SaveModified(QWidget* owner);

 signals:
  void Changed();
  void TitleChanged(const QString& title);
  void ModifiedChanged(bool modified);

 private:
  bool m_modified = false;
  QString m_pathName;
};

#pragma once
// "Add Folder to List": a folder path with a Browse button, the include and exclude masks
// and the "Encrypt subfolders" choice. Callers set the members, run the dialog and on OK
// read them back. OK insists on an existing folder; the masks are taken as typed.
#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;

class CAddFolderDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAddFolderDlg(QWidget* parent = nullptr);

  // Members exchanged with the controls when the dialog runs and when it is accepted.
  QString m_caption;  // replaces "Add Folder to List" when set
  QString m_excludeMask = QStringLiteral("Vellum*.*|");
  QString m_includeMask;
  QString m_folderPath;
  bool m_encryptSubfolders = false;

  // Longest folder path the edit takes; Linux paths may be far longer than the old 260
  // characters, and a path cut short would name a different folder.
  static constexpr int kMaxPathChars = 4095;

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private slots:
  void OnBrowse();

 private:
  void ReadControls();   // controls into members
  void WriteControls();  // members into controls

  QLineEdit* m_folderEdit;
  QLineEdit* m_includeEdit;
  QLineEdit* m_excludeEdit;
  QCheckBox* m_subfoldersCheck;
  QPushButton* m_browseButton;
};

#pragma once
// The Guard menu's "Change Password..." and "Verify" in the window: on the file list's
// selection (folders ask about their subfolders as a restore does) or on the guard list
// (its items, and for a password change its own key), with the progress window and a
// list of what became of each file.
#include <QDialog>
#include <QString>
#include <QStringList>

class CExplorerDocument;
class IGuardUi;
class QLineEdit;
class QLabel;
class QTreeWidget;

// "Change Password": the old password, the new one and its confirmation.
class CChangePasswordDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CChangePasswordDlg(const QString& what, QWidget* parent = nullptr);
  ~CChangePasswordDlg() override;  // wipes the edits' texts
  QString OldPassword() const;
  QString NewPassword() const;
  QLineEdit* OldEdit() const { return m_old; }
  QLineEdit* NewEdit() const { return m_new; }
  QLineEdit* ConfirmEdit() const { return m_confirm; }
  QLabel* NoticeLabel() const { return m_notice; }

 public slots:
  void accept() override;

 private:
  QLineEdit* m_old;
  QLineEdit* m_new;
  QLineEdit* m_confirm;
  QLabel* m_notice;
};

// What a key command did, file by file.
class CKeyResultsDlg : public QDialog {
  Q_OBJECT
 public:
  CKeyResultsDlg(const QString& title, QWidget* parent = nullptr);
  void AddResult(const QString& path, const QString& result);
  void SetSummary(const QString& text);
  QTreeWidget* Results() const { return m_results; }
  QLabel* Summary() const { return m_summary; }

 private:
  QTreeWidget* m_results;
  QLabel* m_summary;
};

enum class KeyCommand { Verify, ChangePassword };

// Runs the command on the selected paths (folders end in "/"), or, with list given, on
// the guard list. The results dialog is shown modal over owner unless showResults is
// false (tests read it through the returned dialog instead; the caller deletes it).
CKeyResultsDlg* RunKeyCommand(KeyCommand command, QWidget* owner, IGuardUi& ui,
                              const QStringList& selection, CExplorerDocument* list,
                              bool showResults = true);

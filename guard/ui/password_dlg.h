#pragma once
// "Enter Password": one prompt line and one password edit. OK accepts whatever was
// typed, an empty password too; Esc cancels.
#include <QDialog>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;

class CPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPasswordLimit = 32;
  static constexpr int kPromptLimit = 50;

  explicit CPasswordDlg(QWidget* parent = nullptr);

  // Every "%s" of format takes the next argument, nothing else is interpreted. A
  // result longer than 50 characters shows as "..." and its last 50 characters.
  void SetPrompt(const QString& format, const QStringList& args = {});
  QString Prompt() const { return m_prompt; }
  // A line above the prompt (shown only when not empty), for what went wrong before.
  void SetNotice(const QString& text);
  QLabel* NoticeLabel() const { return m_noticeLabel; }
  QString Password() const { return m_password; }

  QLineEdit* PasswordEdit() const { return m_passwordEdit; }
  QLabel* PromptLabel() const { return m_promptLabel; }
  QPushButton* OkButton() const { return m_okButton; }

 public slots:
  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QString m_prompt;
  QString m_password;
  QLabel* m_noticeLabel;
  QLabel* m_promptLabel;
  QLineEdit* m_passwordEdit;
  QPushButton* m_okButton;
  QPushButton* m_cancelButton;
};

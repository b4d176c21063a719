#include "guard/ui/password_dlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

CPasswordDlg::CPasswordDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Enter Password"));
  setModal(true);
  m_noticeLabel = new QLabel(this);
  m_noticeLabel->setObjectName(QStringLiteral("noticeLabel"));
  m_noticeLabel->setTextFormat(Qt::PlainText);
  m_noticeLabel->setVisible(false);
  m_noticeLabel->setWordWrap(true);
  m_promptLabel = new QLabel(this);  // 203
  m_promptLabel->setObjectName(QStringLiteral("promptLabel"));
  m_promptLabel->setTextFormat(Qt::PlainText);
  m_passwordEdit = new QLineEdit(this);  // 1001
  m_passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
  m_passwordEdit->setEchoMode(QLineEdit::Password);
  m_passwordEdit->setMaxLength(kPasswordLimit);
  m_okButton = new QPushButton(tr("Ok"), this);
  m_okButton->setDefault(true);
  // The template's Cancel button is not shown; Esc still cancels.
  m_cancelButton = new QPushButton(tr("Cancel"), this);
  m_cancelButton->setVisible(false);

  auto* layout = new QGridLayout(this);
  layout->addWidget(m_noticeLabel, 0, 0, 1, 2);
  layout->addWidget(m_promptLabel, 1, 0, 1, 2);
  layout->addWidget(m_passwordEdit, 2, 0);
  layout->addWidget(m_okButton, 2, 1);
  layout->setColumnStretch(0, 1);
  setMinimumWidth(fontMetrics().averageCharWidth() * (kPromptLimit + 12));

  connect(m_okButton, &QPushButton::clicked, this, &CPasswordDlg::accept);
  connect(m_cancelButton, &QPushButton::clicked, this, &CPasswordDlg::reject);
}

void CPasswordDlg::SetPrompt(const QString& format, const QStringList& args) {
  QString text;
  int next = 0;
  for (int i = 0; i < format.size(); ++i) {
    if (format.at(i) == QLatin1Char('%') && i + 1 < format.size() &&
        format.at(i + 1) == QLatin1Char('s')) {
      text += args.value(next++);
      ++i;
    } else {
      text += format.at(i);
    }
  }
  if (text.size() > kPromptLimit) text = QStringLiteral("...") + text.right(kPromptLimit);
  m_prompt = text;
  m_promptLabel->setText(text);
}

void CPasswordDlg::SetNotice(const QString& text) {
  m_noticeLabel->setText(text);
  m_noticeLabel->setVisible(!text.isEmpty());
}

void CPasswordDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  m_passwordEdit->setFocus(Qt::OtherFocusReason);
}

void CPasswordDlg::accept() {
  m_password = m_passwordEdit->text();
  QDialog::accept();
}

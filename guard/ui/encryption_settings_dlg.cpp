#include "guard/ui/encryption_settings_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>

#include "engine/digest.h"
#include "framework/prompts.h"
#include "guard/encryption_settings.h"

namespace {
bool IsUsableTypedPassword(const QString& password) {
  std::string utf8 = password.toStdString();
  const bool usable = IsUsablePassword(utf8);
  SecureZero(utf8.data(), utf8.size());
  return usable;
}

QLineEdit* MakePasswordEdit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(CEncryptionSettingsDlg::kPasswordLimit);
  return edit;
}
}  // namespace

CLevelSpinBox::CLevelSpinBox(QWidget* parent) : QAbstractSpinBox(parent) {
  lineEdit()->setReadOnly(true);
  lineEdit()->setValidator(new QIntValidator(lineEdit()));
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  setButtonSymbols(QAbstractSpinBox::UpDownArrows);
  setAccelerated(false);
}

QSize CLevelSpinBox::sizeHint() const {
  ensurePolished();
  const QFontMetrics metrics(lineEdit()->font());
  const QMargins margins = lineEdit()->textMargins();
  // Two digits, the cursor and the edit's own inner margin on both sides.
  const int width = metrics.horizontalAdvance(QStringLiteral("00")) + margins.left() +
                    margins.right() + 2 + 2 * 4;
  const QSize content(width, lineEdit()->sizeHint().height());
  QStyleOptionSpinBox option;
  initStyleOption(&option);
  return style()->sizeFromContents(QStyle::CT_SpinBox, &option, content, this);
}

void CLevelSpinBox::stepBy(int steps) {
  emit ChangeRequested(steps);
}

CEncryptionSettingsDlg::CEncryptionSettingsDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(tr("Encryption Settings"));
  setModal(true);

  m_passwordEdit = MakePasswordEdit(this, "passwordEdit");  // 1007
  m_confirmEdit = MakePasswordEdit(this, "confirmEdit");    // 1006
  m_levelSpin = new CLevelSpinBox(this);                    // 1010 with up-down 1011
  m_levelSpin->setObjectName(QStringLiteral("levelSpin"));
  m_levelSpin->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 40);
  m_includeEdit = new QLineEdit(this);  // 1008
  m_includeEdit->setObjectName(QStringLiteral("includeEdit"));
  m_excludeEdit = new QLineEdit(this);  // 1009
  m_excludeEdit->setObjectName(QStringLiteral("excludeEdit"));
  m_noZipEdit = new QLineEdit(this);  // 1012
  m_noZipEdit->setObjectName(QStringLiteral("noZipEdit"));
  m_useDefaultCheck = new QCheckBox(tr("Use default password"), this);  // 1000
  m_useDefaultCheck->setObjectName(QStringLiteral("useDefaultCheck"));
  m_useLastCheck = new QCheckBox(tr("Use last password"), this);  // 205
  m_useLastCheck->setObjectName(QStringLiteral("useLastCheck"));
  m_subfoldersCheck = new QCheckBox(tr("Encrypt subfolders"), this);  // 206
  m_subfoldersCheck->setObjectName(QStringLiteral("subfoldersCheck"));
  m_okButton = new QPushButton(tr("Ok"), this);
  m_okButton->setDefault(true);
  m_cancelButton = new QPushButton(tr("Cancel"), this);

  // Left: the password, its confirmation and the level; right: the three choices.
  auto* top = new QGridLayout;
  top->addWidget(new QLabel(tr("Password"), this), 0, 0);
  top->addWidget(m_passwordEdit, 0, 1);
  top->addWidget(m_useDefaultCheck, 0, 2);
  top->addWidget(new QLabel(tr("Confirm"), this), 1, 0);
  top->addWidget(m_confirmEdit, 1, 1);
  top->addWidget(m_useLastCheck, 1, 2);
  top->addWidget(new QLabel(tr("Zip level"), this), 2, 0);
  top->addWidget(m_levelSpin, 2, 1, Qt::AlignLeft);
  top->addWidget(m_subfoldersCheck, 2, 2);
  top->setColumnStretch(1, 1);

  auto* masks = new QGroupBox(tr("Encrypt file masks"), this);
  auto* maskGrid = new QGridLayout(masks);
  maskGrid->addWidget(new QLabel(tr("Include"), masks), 0, 0);
  maskGrid->addWidget(m_includeEdit, 0, 1);
  maskGrid->addWidget(new QLabel(tr("Exclude"), masks), 1, 0);
  maskGrid->addWidget(m_excludeEdit, 1, 1);
  maskGrid->addWidget(new QLabel(tr("No zip"), masks), 2, 0);
  maskGrid->addWidget(m_noZipEdit, 2, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(m_okButton);
  buttons->addWidget(m_cancelButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(masks);
  layout->addLayout(buttons);

  setTabOrder(m_passwordEdit, m_confirmEdit);
  setTabOrder(m_confirmEdit, m_levelSpin);
  setTabOrder(m_levelSpin, m_useDefaultCheck);
  setTabOrder(m_useDefaultCheck, m_useLastCheck);
  setTabOrder(m_useLastCheck, m_subfoldersCheck);
  setTabOrder(m_subfoldersCheck, m_includeEdit);
  setTabOrder(m_includeEdit, m_excludeEdit);
  setTabOrder(m_excludeEdit, m_noZipEdit);
  setTabOrder(m_noZipEdit, m_okButton);
  setTabOrder(m_okButton, m_cancelButton);

  connect(m_levelSpin, &CLevelSpinBox::ChangeRequested, this,
          &CEncryptionSettingsDlg::OnLevelChange);
  connect(m_useLastCheck, &QCheckBox::clicked, this, &CEncryptionSettingsDlg::OnUseLastClicked);
  connect(m_useDefaultCheck, &QCheckBox::clicked, this,
          &CEncryptionSettingsDlg::OnUseDefaultClicked);
  connect(m_okButton, &QPushButton::clicked, this, &CEncryptionSettingsDlg::accept);
  connect(m_cancelButton, &QPushButton::clicked, this, &CEncryptionSettingsDlg::reject);
}

bool CEncryptionSettingsDlg::UpdateData(bool saveAndValidate) {
  if (!saveAndValidate) {
    m_passwordEdit->setText(m_password.left(kPasswordLimit));
    m_confirmEdit->setText(m_confirm.left(kPasswordLimit));
    m_levelSpin->Edit()->setText(QString::number(m_zipLevel));
    m_includeEdit->setText(m_includeMask);
    m_excludeEdit->setText(m_excludeMask);
    m_noZipEdit->setText(m_noZipMask);
    m_useDefaultCheck->setChecked(m_useDefaultPassword);
    m_useLastCheck->setChecked(m_useLastPassword);
    m_subfoldersCheck->setChecked(m_encryptSubfolders);
    return true;
  }
  m_password = m_passwordEdit->text();
  bool isNumber = false;
  const int level = m_levelSpin->Edit()->text().trimmed().toInt(&isNumber);
  if (!isNumber || level < 0 || level > 9) {
    AppMessageBox(this, tr("Please enter an integer between 0 and 9."), QMessageBox::Warning);
    m_levelSpin->setFocus();
    return false;
  }
  m_zipLevel = level;
  m_includeMask = m_includeEdit->text();
  m_useDefaultPassword = m_useDefaultCheck->isChecked();
  m_excludeMask = m_excludeEdit->text();
  m_useLastPassword = m_useLastCheck->isChecked();
  m_encryptSubfolders = m_subfoldersCheck->isChecked();
  m_noZipMask = m_noZipEdit->text();
  m_confirm = m_confirmEdit->text();
  return true;
}

void CEncryptionSettingsDlg::showEvent(QShowEvent* event) {
  if (!m_initialised) {
    m_initialised = true;
    UpdateData(false);
    if (!m_title.isEmpty()) setWindowTitle(m_title);
    m_useDefaultCheck->setEnabled(!(m_flags & kNoDefaultPassword));
    m_useLastCheck->setEnabled(!(m_flags & kNoLastPassword));
    m_subfoldersCheck->setEnabled(!(m_flags & kNoSubfolders));
    m_passwordEdit->setFocus(Qt::OtherFocusReason);
  }
  QDialog::showEvent(event);
}

void CEncryptionSettingsDlg::OnLevelChange(int delta) {
  bool isNumber = false;
  const long long current = m_levelSpin->Edit()->text().trimmed().toLongLong(&isNumber);
  const long long next = current + delta;
  // Negative results fail the same test as those above 9.
  if (static_cast<unsigned long long>(next) <= 9)
    m_levelSpin->Edit()->setText(QString::number(next));
}

void CEncryptionSettingsDlg::OnUseLastClicked() {
  UpdateData(true);
  if (m_useLastPassword) {
    m_password = m_confirm = kPlaceholder;
    m_passwordEdit->setEnabled(false);
    m_confirmEdit->setEnabled(false);
    m_useDefaultCheck->setEnabled(false);
  } else {
    m_password.clear();
    m_confirm.clear();
    m_passwordEdit->setEnabled(true);
    m_confirmEdit->setEnabled(true);
    m_useDefaultCheck->setEnabled(!(m_flags & kNoDefaultPassword));
    m_passwordEdit->setFocus(Qt::OtherFocusReason);
  }
  UpdateData(false);
}

void CEncryptionSettingsDlg::OnUseDefaultClicked() {
  UpdateData(true);
  if (m_useDefaultPassword) {
    m_password = m_confirm = kPlaceholder;
    m_passwordEdit->setEnabled(false);
    m_confirmEdit->setEnabled(false);
    m_useLastCheck->setEnabled(false);
  } else {
    m_password.clear();
    m_confirm.clear();
    m_passwordEdit->setEnabled(true);
    m_confirmEdit->setEnabled(true);
    m_useLastCheck->setEnabled(!(m_flags & kNoLastPassword));
    m_passwordEdit->setFocus(Qt::OtherFocusReason);
  }
  UpdateData(false);
}

void CEncryptionSettingsDlg::accept() {
  if (!UpdateData(true)) return;
  if (m_password.isEmpty()) {
    AppMessageBox(this, tr("Please enter password!"), QMessageBox::Information);
    m_passwordEdit->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (m_password != m_confirm) {
    AppMessageBox(this, tr("Password does not match"), QMessageBox::Information);
    return;
  }
  // A typed password whose key would read as "no password"; the placeholder of the
  // last or default password stands for a stored key and is not one.
  if (!m_useLastPassword && !m_useDefaultPassword && !IsUsableTypedPassword(m_password)) {
    AppMessageBox(this,
                  QString::fromUtf8(kUnusablePasswordText.data(),
                                    static_cast<qsizetype>(kUnusablePasswordText.size())),
                  QMessageBox::Information);
    m_passwordEdit->setFocus(Qt::OtherFocusReason);
    return;
  }
  QDialog::accept();
}

#include "guardlist/ui/add_folder_dlg.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "common/paths.h"
#include "framework/browse_folder.h"
#include "framework/native_path.h"
#include "framework/prompts.h"

CAddFolderDlg::CAddFolderDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Add Folder to List"));

  auto* folderLabel = new QLabel(QStringLiteral("Folder"), this);
  m_folderEdit = new QLineEdit(this);
  m_folderEdit->setObjectName(QStringLiteral("folderEdit"));
  m_folderEdit->setMaxLength(kMaxPathChars);
  folderLabel->setBuddy(m_folderEdit);
  m_browseButton = new QPushButton(QStringLiteral("Browse..."), this);
  m_browseButton->setObjectName(QStringLiteral("browseButton"));
  m_browseButton->setAutoDefault(false);

  m_subfoldersCheck = new QCheckBox(QStringLiteral("Encrypt subfolders"), this);
  m_subfoldersCheck->setObjectName(QStringLiteral("subfoldersCheck"));

  auto* masks = new QGroupBox(QStringLiteral("Encrypt file masks"), this);
  m_includeEdit = new QLineEdit(masks);
  m_includeEdit->setObjectName(QStringLiteral("includeEdit"));
  m_excludeEdit = new QLineEdit(masks);
  m_excludeEdit->setObjectName(QStringLiteral("excludeEdit"));
  auto* maskGrid = new QGridLayout(masks);
  maskGrid->addWidget(new QLabel(QStringLiteral("Include"), masks), 0, 0);
  maskGrid->addWidget(m_includeEdit, 0, 1);
  maskGrid->addWidget(new QLabel(QStringLiteral("Exclude"), masks), 1, 0);
  maskGrid->addWidget(m_excludeEdit, 1, 1);

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QStringLiteral("cancelButton"));
  cancel->setAutoDefault(false);

  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(folderLabel);
  folderRow->addWidget(m_folderEdit, 1);
  folderRow->addWidget(m_browseButton);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* top = new QVBoxLayout(this);
  top->addLayout(folderRow);
  top->addWidget(m_subfoldersCheck);
  top->addWidget(masks);
  top->addStretch(1);
  top->addLayout(buttons);
  // Keeps the template's wide, low proportions (251 x 121 dialog units).
  setMinimumWidth(fontMetrics().averageCharWidth() * 62);

  connect(m_browseButton, &QPushButton::clicked, this, &CAddFolderDlg::OnBrowse);
  connect(ok, &QPushButton::clicked, this, &CAddFolderDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &CAddFolderDlg::reject);
}

void CAddFolderDlg::showEvent(QShowEvent* event) {
  // A spontaneous show (restored from minimised) must keep what the user typed.
  if (!event->spontaneous()) {
    if (!m_caption.isEmpty()) setWindowTitle(m_caption);
    WriteControls();
  }
  QDialog::showEvent(event);
}

void CAddFolderDlg::ReadControls() {
  m_excludeMask = m_excludeEdit->text();
  m_includeMask = m_includeEdit->text();
  m_folderPath = m_folderEdit->text();
  m_encryptSubfolders = m_subfoldersCheck->isChecked();
}

void CAddFolderDlg::WriteControls() {
  m_excludeEdit->setText(m_excludeMask);
  m_includeEdit->setText(m_includeMask);
  m_folderEdit->setText(m_folderPath.left(kMaxPathChars));
  m_subfoldersCheck->setChecked(m_encryptSubfolders);
}

void CAddFolderDlg::OnBrowse() {
  ReadControls();
  CBrowseFolder browse;
  browse.m_owner = this;
  browse.m_title = QStringLiteral("Select folder to insert to the list");
  browse.m_initialFolder = m_folderPath.isEmpty() ? FromNative(CurrentFolder()) : m_folderPath;
  QString chosen;
  if (browse.Browse(chosen)) {
    m_folderPath = chosen;
    WriteControls();
  }
}

void CAddFolderDlg::accept() {
  ReadControls();
  if (m_folderPath.isEmpty()) {
    AppMessageBox(this, QStringLiteral("Please enter folder path"), QMessageBox::Critical);
    m_folderEdit->setFocus();
    return;
  }
  if (IsFolder(Native(m_folderPath))) {
    QDialog::accept();
    return;
  }
  AppMessageBox(this, QStringLiteral("The folder \"%1\" is not existed").arg(m_folderPath),
                QMessageBox::Critical);
  m_folderEdit->setFocus();
}

#include "explorer/file_properties_dialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QVBoxLayout>

#include "explorer/explorer_paths.h"
#include "explorer/file_listing.h"

namespace {

QString SizeWithBytes(quint64 bytes) {
  if (bytes < 1024) return SizeText(bytes);
  return QStringLiteral("%1 (%2 bytes)").arg(SizeText(bytes), QLocale().toString(bytes));
}

QString PermissionText(QFileDevice::Permissions p) {
  QString s;
  s += p & QFileDevice::ReadOwner ? QLatin1Char('r') : QLatin1Char('-');
  s += p & QFileDevice::WriteOwner ? QLatin1Char('w') : QLatin1Char('-');
  s += p & QFileDevice::ExeOwner ? QLatin1Char('x') : QLatin1Char('-');
  s += p & QFileDevice::ReadGroup ? QLatin1Char('r') : QLatin1Char('-');
  s += p & QFileDevice::WriteGroup ? QLatin1Char('w') : QLatin1Char('-');
  s += p & QFileDevice::ExeGroup ? QLatin1Char('x') : QLatin1Char('-');
  s += p & QFileDevice::ReadOther ? QLatin1Char('r') : QLatin1Char('-');
  s += p & QFileDevice::WriteOther ? QLatin1Char('w') : QLatin1Char('-');
  s += p & QFileDevice::ExeOther ? QLatin1Char('x') : QLatin1Char('-');
  return s;
}

QString DateText(const QDateTime& t) {
  return t.isValid() ? QLocale().toString(t, QLocale::LongFormat) : QString();
}

}  // namespace

CFilePropertiesDialog::CFilePropertiesDialog(const QStringList& paths, QWidget* parent)
    : QDialog(parent) {
  auto* form = new QFormLayout;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);

  if (paths.size() == 1) {
    const QFileInfo info(TrimmedPath(paths.first()));
    setWindowTitle(QStringLiteral("%1 Properties")
                       .arg(info.fileName().isEmpty() ? info.filePath() : info.fileName()));
    AddRow(QStringLiteral("Name:"), info.fileName().isEmpty() ? info.filePath() : info.fileName());
    const QMimeDatabase db;
    AddRow(QStringLiteral("Type:"),
           info.isDir() ? db.mimeTypeForName(QStringLiteral("inode/directory")).comment()
                        : db.mimeTypeForFile(info).comment());
    AddRow(QStringLiteral("Location:"), info.absolutePath());
    if (info.isSymLink()) AddRow(QStringLiteral("Link to:"), info.symLinkTarget());
    if (info.isDir()) {
      const qsizetype n =
          QDir(info.filePath())
              .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
              .size();
      AddRow(QStringLiteral("Contents:"),
             n == 1 ? QStringLiteral("1 item") : QStringLiteral("%1 items").arg(n));
    } else {
      AddRow(QStringLiteral("Size:"), SizeWithBytes(static_cast<quint64>(info.size())));
    }
    AddRow(QStringLiteral("Modified:"), DateText(info.lastModified()));
    AddRow(QStringLiteral("Accessed:"), DateText(info.lastRead()));
    AddRow(QStringLiteral("Owner:"), QStringLiteral("%1:%2").arg(info.owner(), info.group()));
    AddRow(QStringLiteral("Permissions:"), PermissionText(info.permissions()));
  } else {
    setWindowTitle(QStringLiteral("Properties"));
    int files = 0;
    int folders = 0;
    quint64 bytes = 0;
    QString location;
    bool oneLocation = true;
    for (const QString& p : paths) {
      const QFileInfo info(TrimmedPath(p));
      if (info.isDir()) {
        ++folders;
      } else {
        ++files;
        if (info.isFile()) bytes += static_cast<quint64>(info.size());
      }
      if (location.isEmpty()) {
        location = info.absolutePath();
      } else if (location != info.absolutePath()) {
        oneLocation = false;
      }
    }
    AddRow(QStringLiteral("Contents:"), QStringLiteral("%1 items (%2 files, %3 folders)")
                                            .arg(paths.size())
                                            .arg(files)
                                            .arg(folders));
    AddRow(QStringLiteral("Size of files:"), SizeWithBytes(bytes));
    if (oneLocation) AddRow(QStringLiteral("Location:"), location);
  }
  for (const auto& [label, value] : m_rows) {
    auto* text = new QLabel(value, this);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, text);
  }
}

void CFilePropertiesDialog::AddRow(const QString& label, const QString& value) {
  m_rows.append({label, value});
}

CFilePropertiesDialog* ShowFileProperties(QWidget* owner, const QStringList& paths) {
  if (paths.isEmpty()) return nullptr;
  auto* dialog = new CFilePropertiesDialog(paths, owner);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->show();
  return dialog;
}

#include "app/default_setting.h"

#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <string>

#include "common/paths.h"
#include "engine/digest.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "guard/encryption_settings.h"
#include "guard/ui/encryption_settings_dlg.h"

void EditDefaultSettings(QWidget* owner) {
  const std::string path = ProgramFolder() + std::string(kDefaultSettingsName);
  CEncryptionSettings settings;
  settings.m_zipLevel = kDefaultZipLevel;
  settings.m_includeMask = std::string(kDefaultIncludeMask);
  settings.m_excludeMask = std::string(kOwnFilesMask);
  settings.m_noZipMask = std::string(kDefaultNoZipMask);
  settings.Load(path);  // a missing or foreign file leaves the built-in values

  CEncryptionSettingsDlg dialog(nullptr);
  dialog.SetTitle(QObject::tr("Default setting"));
  dialog.SetFlags(CEncryptionSettingsDlg::kNoDefaultPassword |
                  CEncryptionSettingsDlg::kNoLastPassword | CEncryptionSettingsDlg::kNoSubfolders);
  dialog.m_zipLevel = settings.m_zipLevel;
  dialog.m_includeMask = QString::fromStdString(settings.m_includeMask);
  dialog.m_excludeMask = QString::fromStdString(settings.m_excludeMask);
  dialog.m_noZipMask = QString::fromStdString(settings.m_noZipMask);
  if (dialog.exec() != QDialog::Accepted) return;

  SecretKey digest;
  std::string password = dialog.m_password.toStdString();
  GuardKeyDigest(digest.data(), password);
  SecureZero(password.data(), password.size());
  settings.SetDigest(digest.data());
  settings.m_zipLevel = dialog.m_zipLevel;
  settings.m_includeMask = dialog.m_includeMask.toStdString();
  settings.m_excludeMask = dialog.m_excludeMask.toStdString();
  settings.m_noZipMask = dialog.m_noZipMask.toStdString();
  std::string error;
  if (!settings.Save(path, &error)) {
    // The defaults were not stored: the user must know, or later protect commands would
    // silently run without them.
    AppMessageBox(owner,
                  QObject::tr("Cannot save the default settings to \"%1\": %2")
                      .arg(FromNative(path), QString::fromStdString(error)),
                  QMessageBox::Critical);
  }
}

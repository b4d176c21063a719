#include "guard/protect_settings.h"

#include <cstring>

#include "common/paths.h"
#include "common/text.h"
#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"

ProtectSettings::~ProtectSettings() {
  SecureZero(digest, sizeof digest);
}

namespace {

bool IsFolderEntry(const std::string& path) {
  return !path.empty() && path.back() == '/';
}

bool IsFileToProtect(const std::string& path) {
  return !IsFolderEntry(path) && LastPathComponent(path) != kFolderSettingsName &&
         !IsProtectedPath(path);
}

}  // namespace

CEncryptionSettings BuiltInSettings() {
  CEncryptionSettings settings;
  settings.m_zipLevel = kDefaultZipLevel;
  settings.m_includeMask = std::string(kDefaultIncludeMask);
  settings.m_excludeMask = std::string(kOwnFilesMask);
  settings.m_noZipMask = std::string(kDefaultNoZipMask);
  return settings;
}

int UsableZipLevel(int level) {
  return level < 0 || level > 9 ? kDefaultZipLevel : level;
}

namespace {

// The folder settings file a command on paths reads and later writes, and the folders
// among paths. readIt is false when several folders and no file were selected: the file
// beside them is written but not offered.
struct FolderSettingsChoice {
  std::vector<std::string> folders;
  std::string path;
  bool readIt = true;
};

FolderSettingsChoice ChooseFolderSettings(ProtectKind kind, const std::vector<std::string>& paths) {
  FolderSettingsChoice c;
  size_t files = 0;
  if (kind == ProtectKind::WholeFolder) {
    c.folders.push_back(WithTrailingSlash(paths.front()));
  } else {
    for (const std::string& p : paths) {
      if (IsFolderEntry(p))
        c.folders.push_back(p);
      else if (IsFileToProtect(p))
        ++files;
    }
  }
  if (kind == ProtectKind::WholeFolder) {
    c.path = c.folders.front() + std::string(kFolderSettingsName);
  } else if (files > 0 || c.folders.empty()) {
    c.path = ParentFolder(paths.front()) + std::string(kFolderSettingsName);
  } else if (c.folders.size() == 1) {
    c.path = c.folders.front() + std::string(kFolderSettingsName);
  } else {
    c.path = ParentFolder(paths.front()) + std::string(kFolderSettingsName);
    c.readIt = false;
  }
  return c;
}

bool AnyHasSubfolder(const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (HasSubfolder(WithoutTrailingSlash(folder))) return true;
  }
  return false;
}

}  // namespace

bool SettleProtectSettings(IGuardUi& ui, ProtectKind kind, const std::vector<std::string>& paths,
                           ProtectSettings& result, bool saveNow) {
  if (paths.empty()) return false;
  // 1. Built-in values.
  CEncryptionSettings settings = BuiltInSettings();
  SecretKey defaultDigest;
  SecretKey lastDigest;
  bool haveDefault = false;
  bool haveLast = false;

  // 2. The default settings file.
  const std::string defaultPath = ProgramFolder() + std::string(kDefaultSettingsName);
  if (FileExists(defaultPath) && settings.Load(defaultPath)) {
    settings.GetDigest(defaultDigest.data());
    haveDefault = IsUsableKeyDigest(defaultDigest.data());  // a stored "no key" is none
  }

  // 3. The folder settings file.
  const FolderSettingsChoice chosen = ChooseFolderSettings(kind, paths);
  const std::string& settingsPath = chosen.path;
  if (chosen.readIt && settings.Load(settingsPath)) {
    settings.GetDigest(lastDigest.data());
    haveLast = IsUsableKeyDigest(lastDigest.data());
  }

  // 4. Whether any selected folder has subfolders.
  const bool subfolders = AnyHasSubfolder(chosen.folders);

  // 5. The dialog.
  SettingsDialogData data;
  if (kind == ProtectKind::WholeFolder || paths.size() == 1) {
    data.title = FormatText("Encryption setting of \"%s\"", {LastPathComponent(paths.front())});
  }
  data.flags = (haveDefault ? 0 : SETTINGS_NO_DEFAULT) | (haveLast ? 0 : SETTINGS_NO_LAST) |
               (subfolders ? 0 : SETTINGS_NO_SUBFOLDERS);
  data.zipLevel = UsableZipLevel(settings.m_zipLevel);
  data.includeMask = settings.m_includeMask;
  data.excludeMask = settings.m_excludeMask;
  data.noZipMask = settings.m_noZipMask;
  const bool ok = ui.EditSettings(data);
  if (ok) {
    // 6. The choice, saved for the next command in this folder.
    if (data.useLastPassword && haveLast) {
      std::memcpy(result.digest, lastDigest.data(), lastDigest.size());
    } else if (data.useDefaultPassword && haveDefault) {
      std::memcpy(result.digest, defaultDigest.data(), defaultDigest.size());
    } else if (IsUsablePassword(data.password)) {
      GuardKeyDigest(result.digest, data.password);
    } else {
      // The run would find no key and do nothing: the user must choose another one.
      ui.ShowMessage(std::string(kUnusablePasswordText), MsgIcon::Error, MsgButtons::Ok);
      SecureZero(data.password.data(), data.password.size());
      SecureZero(data.confirm.data(), data.confirm.size());
      return false;
    }
    result.level = UsableZipLevel(data.zipLevel);
    result.includeMask = data.includeMask;
    result.excludeMask = data.excludeMask;
    result.noZipMask = data.noZipMask;
    result.encryptSubfolders = data.encryptSubfolders;
    result.settingsPath = settingsPath;
    if (saveNow) SaveProtectSettings(result);
  }
  SecureZero(data.password.data(), data.password.size());
  SecureZero(data.confirm.data(), data.confirm.size());
  return ok;
}

bool SaveProtectSettings(ProtectSettings& settings) {
  CEncryptionSettings chosen;
  chosen.SetDigest(settings.digest);
  chosen.m_zipLevel = settings.level;
  chosen.m_includeMask = settings.includeMask;
  chosen.m_excludeMask = settings.excludeMask;
  chosen.m_noZipMask = settings.noZipMask;
  settings.settingsSaved = chosen.Save(settings.settingsPath).ok();
  return settings.settingsSaved;
}

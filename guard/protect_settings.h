#pragma once
// Settles the key digest, zip level and masks of a protect command of the file list
// pane: built-in values, then the default settings file (ProgramFolder() +
// "VellumDef.dat"), then the folder settings file ("zde.tmp"), then the settings dialog;
// what was chosen is written back to the folder settings file so that the next protect
// command there can offer "Use last password".
#include <cstdint>
#include <string>
#include <vector>

#include "guard/encryption_settings.h"
#include "guard/guard_ui.h"

// The built-in settings that the protect commands, a new guard list and "Default setting"
// start from before any settings file is read (no key digest).
CEncryptionSettings BuiltInSettings();
// The zip level a run uses for a stored or chosen one: a level above 9 (or below 0)
// becomes the built-in one.
int UsableZipLevel(int level);

enum class ProtectKind {
  Selection,    // the selected entries; folders carry a trailing "/"
  WholeFolder,  // one folder: everything in it
};

struct ProtectSettings {
  uint8_t digest[32] = {};
  int level = 6;
  std::string includeMask;
  std::string excludeMask;
  std::string noZipMask;
  bool encryptSubfolders = false;
  // The folder settings file the choice was saved to, and whether that worked (a failed
  // save does not stop the command).
  std::string settingsPath;
  bool settingsSaved = false;

  ProtectSettings() = default;
  ProtectSettings(const ProtectSettings&) = default;
  ProtectSettings& operator=(const ProtectSettings&) = default;
  ~ProtectSettings();  // zeroes the digest
};

// paths: the selected entries in selection order (kind Selection; a folder entry ends in
// "/"), or the one folder (kind WholeFolder). True on OK with result filled; false on
// Cancel (nothing is written) or when paths is empty.
//
// The folder settings file: the whole folder's own; for a selection holding files
// (other than "zde.tmp" and "*.~de" entries), or holding neither files nor folders,
// the parent folder's of the first entry; for one selected folder, that folder's; for
// several folders, the parent folder's of the first, which is then written but not read.
// A stored level above 9 is offered as 6. A settings file that the effective user does
// not own, or that others may write, counts as absent (it could carry someone else's key).
// With saveNow false the choice is not written; SaveProtectSettings does that once
// something was protected.
bool SettleProtectSettings(IGuardUi& ui, ProtectKind kind, const std::vector<std::string>& paths,
                           ProtectSettings& result, bool saveNow = true);
// Writes the settled choice to result.settingsPath and records whether that worked.
bool SaveProtectSettings(ProtectSettings& settings);

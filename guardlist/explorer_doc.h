#pragma once
// The guard list: the user's own files and folders to protect and restore together, with
// the list's encryption settings (key digest, zip level, include, exclude and no-zip
// masks), stored in ".dlt" files. This is the model without any user-interface library;
// the window's document owns one CExplorerDoc and calls NewDocument, Load and Store from
// its New, Open and Save handling, and RememberListPath (guardlist/app_state.h) itself.
//
// List file (".dlt"): one encrypted stream under the fixed password "Vellumguard"
// holding "VGD\n", the 32-byte digest, the level, the three masks, the item count and the
// items (docs/FORMAT.md). Store writes a temporary file beside the target and renames
// it; a failed store leaves the old file as it was.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/sys_error.h"
#include "guard/guard_item.h"
#include "guard/guard_ui.h"

// The status numbers of an item (CGuardItem::m_state); the pane also uses them as image
// indexes. The pane computes 0 to 3 (EvaluateItemStatus); 4 and 5 arrive from stored
// lists; -1 marks an item the pane is about to remove.
enum ItemStatus : int32_t {
  STATUS_REMOVING = -1,
  STATUS_NOT_ENCRYPTED = 0,
  STATUS_ENCRYPTING = 1,
  STATUS_NOT_FOUND = 2,
  STATUS_FOLDER = 3,
  STATUS_FOLDER_ENCRYPTING = 4,
  STATUS_FOLDER_NOT_FOUND = 5,
};

// Looks at the disk and stores the result in item.m_state: a file is 0 when its plain
// file exists, else 1 when its ".~de" file exists, else 2; a folder's status below 3
// becomes 3 (folders are not looked at). Returns the new status.
int32_t EvaluateItemStatus(CGuardItem& item);
// The "Note" text of the item's stored status ("Not encrypted", "Encrypting", "Not
// found", and for 3 and 4 the subfolder choice first: "Encrypt subfolers, Not
// encrypted"). Empty for a status outside 0..5.
std::string ItemStatusText(const CGuardItem& item);
// The "Type" text: "_Dir" for folders, "." + the extension for files.
std::string ItemTypeText(const CGuardItem& item);

enum SortKey : int { SORT_NAME = 1, SORT_PATH = 2, SORT_TYPE = 3, SORT_STATE = 4 };

enum ListLoadResult : int {
  LIST_LOADED = 1,
  // The file is a list but damaged or hostile (a field cut short, a count larger than
  // the data, a level above 9, an item path that is relative or holds "." or ".."):
  // what was read before the fault was taken (refused items left out), as the list
  // always did; the caller should tell the user before the list is saved over it.
  LIST_DAMAGED = 2,
  // Not a list of this program (another password, another magic, too short): the
  // document is unchanged.
  LIST_NOT_A_LIST = 0,
  // Cannot be read (missing, unreadable, not a regular file, too large): unchanged.
  LIST_IO_ERROR = -1,
};

// What the window tells the user when a list did not load whole: "is not a list" for
// LIST_NOT_A_LIST, the reason for LIST_IO_ERROR, what was kept for LIST_DAMAGED; empty
// for LIST_LOADED.
std::string ListLoadMessage(int result, const std::string& path, const SysError& error);

inline constexpr uint64_t kMaxListPayload = 64u << 20;

class CExplorerDoc {
 public:
  CExplorerDoc();
  virtual ~CExplorerDoc();  // zeroes the digest
  CExplorerDoc(const CExplorerDoc&) = delete;
  CExplorerDoc& operator=(const CExplorerDoc&) = delete;

  // Empties the list and resets the settings (built-in values, then the level and masks
  // of the default settings file; never its digest: a new list has no password). The
  // first call (the document made at start-up) only clears the first-new flag; later
  // calls open EditListSettings when ui is given (its result does not matter).
  bool NewDocument(IGuardUi* ui);
  // Replaces items and settings with the list file's. Items whose paths are gone are
  // looked for on the volume of the list file, then of the program (see
  // guard/volume_relocation.h). Leaves the modified flag clear on success. error, when
  // given, receives the reason of LIST_IO_ERROR.
  [[nodiscard]] int Load(const std::string& path, SysError* error = nullptr);
  // Writes the list file crash-safely; the reason when it failed (the old file stays).
  [[nodiscard]] SysError Store(const std::string& path) const;

  // The decrypted contents of a list file, and their parser (what Load does after
  // decrypting; listPath anchors relocation). Public for the tests and the fuzz target.
  std::vector<uint8_t> BuildPayload() const;
  int ParsePayload(const uint8_t* data, size_t size, const std::string& listPath);

  // Adds a copy of item (a path ending in ".~de" is taken as its plain path) and returns
  // its index, or -1 when refused: a "zde.tmp" or ".dlt" name, not matching the include
  // mask, matching the exclude mask (masks judge the last path component), or a path
  // already listed. Marks the document modified when it adds.
  int AddItem(const CGuardItem& item);
  // Index of the first item whose path equals path exactly, or -1.
  int FindItem(std::string_view path) const;
  // Folders first, ordered by name; then the files by key (SortKey), each in the given
  // direction, names, paths and extensions compared without regard to ASCII case.
  // Equal keys keep their order. Marks the document modified.
  void SortItems(bool ascending, int key);
  // The list's settings dialog ("Encryption setting", with the default, last and
  // subfolder choices disabled). On OK takes level and masks, and the digest of the
  // password when one was typed; marks the document modified.
  bool EditListSettings(IGuardUi& ui);

  bool HasPassword() const;  // the digest is not all zero
  bool IsModified() const { return m_modified; }
  void SetModifiedFlag(bool modified = true);
  // Called whenever the modified flag is set or cleared (the window's document mirrors it).
  void SetModifiedHook(std::function<void(bool)> hook) { m_modifiedHook = std::move(hook); }

  std::vector<CGuardItem> m_items;
  int32_t m_zipLevel = 6;
  std::string m_noZipMask;
  std::string m_excludeMask;
  std::string m_includeMask;
  uint8_t m_digest[32] = {};
  bool m_firstNew = true;

 private:
  void ResetSettings();
  bool m_modified = false;
  std::function<void(bool)> m_modifiedHook;
};

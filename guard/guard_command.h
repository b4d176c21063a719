#pragma once
// The protect and restore commands as users start them on a selection, from the file
// list, a file manager's action or the window program's verbs: the selection becomes
// guard items with their masks, the items become files, the settings are settled and the
// list driver runs. The caller gets an account of the run to show the user.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "guard/file_list_driver.h"
#include "guard/guard_ui.h"
#include "guard/protect_settings.h"

enum class GuardVerb { Protect, Restore };

// What a restore does with the subfolders of a selected folder.
enum class RestoreSubfolders {
  Never,                  // only the folder's own files; those below are counted as remaining
  AskWhenAny,             // asks "Do you want to decrypt all files in subfolders?" when the
                          // folder has a subfolder
  AskWhenProtectedBelow,  // asks the same only when protected files lie below
  Always,                 // every selected folder with its subfolders, without asking
};

struct GuardCommand {
  GuardVerb verb = GuardVerb::Protect;
  // Selection order; a folder ends in "/". Protected files and "zde.tmp" may be among
  // them: each verb drops what it cannot act on.
  std::vector<std::string> paths;
  ProtectKind kind = ProtectKind::Selection;  // protect: the selection, or one whole folder
  RestoreSubfolders subfolders = RestoreSubfolders::Never;
  // Protect: false writes the folder settings file as the settings dialog closes (the
  // window); true writes it only once a file was protected with the choice.
  bool rememberWhenDone = false;
  // Files worked on at once; above 1 the parallel runner serves the run.
  int jobs = 1;
};

// The reason of a file left after three wrong passwords.
inline constexpr std::string_view kWrongPasswordReason = "wrong password: left as it is";

struct GuardFailure {
  std::string path;
  std::string reason;  // the message the user was shown, or what was seen on disk
  bool shown = false;  // the reason is a message the user was shown
};

struct GuardOutcome {
  GuardVerb verb = GuardVerb::Protect;
  bool declined = false;  // the settings dialog was cancelled: nothing was written
  bool ran = false;       // the list driver ran (false: declined, or nothing to do)
  size_t wanted = 0;      // files the run set out to process
  int done = 0;
  int skipped = 0;  // not replaced at the user's word, or gone before their turn
  std::vector<GuardFailure> failures;
  bool cancelled = false;            // the progress window or the password prompt was cancelled
  bool wrongPassword = false;        // a file was left after three wrong passwords
  size_t remainingInSubfolders = 0;  // restore: protected files left below folders whose
                                     // subfolders were not restored
  size_t plainInSubfolders = 0;      // protect: plain files left below folders whose
                                     // subfolders were not protected
  // Protect of a selection: the folder settings file of the choice, and whether it was
  // written (a failed write does not stop the command).
  std::string settingsPath;
  bool settingsSaved = false;
};

// Runs the command on the selection with ui; never throws.
GuardOutcome RunGuardCommand(IGuardUi& ui, const GuardCommand& command);

// The run of a list of files with settings already settled (the guard list's commands),
// with the same account. level, noZipMask and digest as EncryptFileList takes them;
// jobs as in GuardCommand.
GuardOutcome RunProtectList(IGuardUi& ui, const std::vector<std::string>& files,
                            const uint8_t* digest, int level, const std::string& noZipMask,
                            int jobs = 1);
GuardOutcome RunRestoreList(IGuardUi& ui, const std::vector<std::string>& files, int jobs = 1);
// The same for the files a scan found (CollectFilesToEncrypt / CollectFilesToDecrypt into
// RunFiles): the run works in the folders the scan opened and never resolves a path.
GuardOutcome RunProtectList(IGuardUi& ui, const RunFiles& files, const uint8_t* digest, int level,
                            const std::string& noZipMask, int jobs = 1);
GuardOutcome RunRestoreList(IGuardUi& ui, const RunFiles& files, int jobs = 1);

// One line in the command-line tool's words: "Protected 3 of 4 files; 1 skipped",
// "Cancelled after 2 of 5 files", "Restored 2 of 2 files; 5 protected files remain in
// subfolders", "Protected 1 of 1 file; 3 files in subfolders not protected", "Nothing to
// restore". Empty when the command was declined.
std::string OutcomeText(const GuardOutcome& outcome);

// The command-line tool's exit codes: 0 done, 1 some files failed or were skipped, 3 a
// wrong password ended a restore, 130 cancelled (a declined settings dialog too).
enum GuardExitCode : int {
  GUARD_EXIT_DONE = 0,
  GUARD_EXIT_INCOMPLETE = 1,
  GUARD_EXIT_USAGE = 2,
  GUARD_EXIT_WRONG_PASSWORD = 3,
  GUARD_EXIT_CANCELLED = 130,
};
int OutcomeExitCode(const GuardOutcome& outcome);

// Protected files in the subfolders of folder (not in folder itself).
size_t CountProtectedBelow(const std::string& folder);

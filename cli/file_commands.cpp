// protect and restore on the paths the user named: each named path is checked here, then
// the core's guard command runs the selection as the window's file list does.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "common/paths.h"
#include "guard/file_collector.h"
#include "guard/file_list_driver.h"

namespace {

// The folders a run touches: named folders themselves, the folders of named files.
std::vector<std::string> FoldersOf(const std::vector<std::string>& named) {
  std::vector<std::string> folders;
  for (const std::string& p : named) {
    folders.push_back(!p.empty() && p.back() == '/' ? p : ParentFolder(p));
  }
  return folders;
}

}  // namespace

int RunProtect(const CliOptions& o) {
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  CCliUi ui(UiOptions(o, pw));
  GuardCommand command;
  command.verb = GuardVerb::Protect;
  command.kind = ProtectKind::Selection;
  // The choice is remembered in "zde.tmp" only once something was protected with it.
  command.rememberWhenDone = true;
  command.jobs = o.jobs;
  bool missing = false;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    if (IsSymbolicLink(abs)) {
      // Protecting through a link would wipe a file outside what was named.
      PrintError("cannot protect \"" + p + "\": it is a symbolic link");
      missing = true;
    } else if (IsFolder(abs)) {
      command.paths.push_back(WithTrailingSlash(abs));
    } else if (PathExists(abs)) {
      command.paths.push_back(abs);
    } else {
      PrintError("cannot protect \"" + p + "\": no such file or folder");
      missing = true;
    }
  }
  RemoveStaleTempFilesIn(FoldersOf(command.paths));
  if (command.paths.empty()) return GUARD_EXIT_INCOMPLETE;
  CCliUi::SettingsChoice choice;
  choice.level = o.level;
  choice.include = o.include;
  choice.exclude = o.exclude;
  choice.noZip = o.noZip;
  choice.recursive = o.recursive;
  choice.useLast = o.useLast;
  choice.useDefault = o.useDefault;
  ui.SetSettingsChoice(choice);
  const GuardOutcome outcome = RunGuardCommand(ui, command);
  if (outcome.declined) return g_interrupted ? GUARD_EXIT_CANCELLED : GUARD_EXIT_USAGE;
  if (outcome.done > 0 && !outcome.settingsSaved && !o.quiet) {
    PrintError("cannot remember the settings in \"" + outcome.settingsPath + "\"");
  }
  return FinishRun(o, outcome, missing);
}

int RunRestore(const CliOptions& o) {
  GuardCommand command;
  command.verb = GuardVerb::Restore;
  command.subfolders = o.recursive ? RestoreSubfolders::Always : RestoreSubfolders::Never;
  command.jobs = o.jobs;
  bool missing = false;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    if (IsSymbolicLink(abs)) {
      PrintError("cannot restore \"" + p + "\": it is a symbolic link");
      missing = true;
      continue;
    }
    if (IsFolder(abs)) {
      command.paths.push_back(WithTrailingSlash(abs));
      continue;
    }
    std::vector<std::string> found;
    if (CollectFilesToDecrypt(found, CGuardItem(abs, 0)) == 0) {
      PrintError("cannot restore \"" + p + "\": no protected file of that name");
      missing = true;
      continue;
    }
    command.paths.push_back(abs);
  }
  RemoveStaleTempFilesIn(FoldersOf(command.paths));
  if (command.paths.empty() && missing) return GUARD_EXIT_INCOMPLETE;
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  const bool havePassword = pw.has_value();
  CCliUi ui(UiOptions(o, pw));
  const GuardOutcome outcome = RunGuardCommand(ui, command);
  return FinishRestore(o, outcome, havePassword, missing);
}

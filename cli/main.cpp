// vellumguard-cli: protect, restore and guard lists from scripts, on the same core and
// the same files as the window.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "cli/options.h"
#include "common/secret_memory.h"
#include "guard/guard_command.h"

#ifndef VG_VERSION
#define VG_VERSION "0.0.0"
#endif

int main(int argc, char** argv) {
  // Before any password is read: no core file, no reading of this process by others.
  KeepSecretsInProcess();
  const CliCommand command = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (command.verb) {
    case CliVerb::BadUsage:
      if (!command.error.empty()) PrintError(command.error);
      if (command.showUsage) std::fputs(kCliUsage, stderr);
      return GUARD_EXIT_USAGE;
    case CliVerb::Help:
      std::fputs(kCliUsage, stdout);
      return GUARD_EXIT_DONE;
    case CliVerb::Version:
      std::printf("vellumguard-cli %s\n", VG_VERSION);
      return GUARD_EXIT_DONE;
    default:
      break;
  }
  InstallInterruptHandlers();
  if (command.verb == CliVerb::List) {
    return RunListCommand(command.listCommand, command.listPath, command.options);
  }
  switch (command.verb) {
    case CliVerb::Verify:
      return RunVerify(command.options);
    case CliVerb::Info:
      return RunInfo(command.options);
    case CliVerb::ChangePassword:
      return RunChangePassword(command.options);
    case CliVerb::Edit:
      return RunEdit(command.options);
    case CliVerb::Recover:
      return RunRecover(command.options);
    default:
      break;
  }
  return command.verb == CliVerb::Protect ? RunProtect(command.options)
                                          : RunRestore(command.options);
}

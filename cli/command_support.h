#pragma once
// What the commands of vellumguard-cli share: the paths as the user named them, the
// password options, and the account of a protect or restore run with its exit code.
#include <optional>
#include <string>

#include "cli/cli_ui.h"
#include "cli/options.h"
#include "guard/guard_command.h"

// The absolute form of a path as the user gave it (no symbolic links resolved, so the
// names the user sees stay the names the tool reports).
std::string Absolute(const std::string& path);
bool IsSymbolicLink(const std::string& path);

// The password of --password-file or --password-fd into password (nothing when neither
// was given). False when the option's source could not be read; that was reported.
bool ReadPasswordOption(const CliOptions& options, std::optional<std::string>& password);
// The tool's user for one command; wipes password.
CliUiOptions UiOptions(const CliOptions& options, std::optional<std::string>& password);

// Names the files that failed without a message the user saw, prints the one-line
// account unless quiet, and returns the exit code: 130 interrupted, 3 a wrong password
// ended a restore, 1 something left undone (or missing: a named path was refused), 0.
int FinishRun(const CliOptions& options, const GuardOutcome& outcome, bool missing);
// FinishRun for a restore; a run that stopped at the first password prompt because no
// password was given and no terminal could ask for one is bad usage (2).
int FinishRestore(const CliOptions& options, const GuardOutcome& outcome, bool havePassword,
                  bool missing);

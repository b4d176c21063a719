#pragma once
// The commands of vellumguard-cli; each returns the tool's exit code.
#include <string>

#include "cli/options.h"

// protect PATH... and restore PATH... (cli/file_commands.cpp).
int RunProtect(const CliOptions& options);
int RunRestore(const CliOptions& options);
// list new|add|remove|show|protect|restore LIST.dlt (cli/list_commands.cpp).
int RunListCommand(const std::string& command, const std::string& listPath,
                   const CliOptions& options);
// verify, info and change-password PATH... (cli/key_commands.cpp, cli/info_command.cpp).
int RunVerify(const CliOptions& options);
int RunInfo(const CliOptions& options);
int RunChangePassword(const CliOptions& options);
// edit FILE.~de and recover (cli/edit_commands.cpp).
int RunEdit(const CliOptions& options);
int RunRecover(const CliOptions& options);

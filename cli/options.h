#pragma once
// The command line of vellumguard-cli: which command, its options and its paths. Parsing
// is pure (no files, no terminal), so every rule here is tested without the process.
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_ui.h"

extern const char* const kCliUsage;

struct CliOptions {
  bool recursive = false;
  std::optional<int> level;
  std::optional<std::string> include, exclude, noZip;
  bool useLast = false, useDefault = false;
  std::optional<std::string> passwordFile;
  std::optional<int> passwordFd;
  std::optional<std::string> newPasswordFile;  // change-password: the new password
  std::optional<int> newPasswordFd;
  std::optional<std::string> listFile;  // info: a guard list whose key is tried too
  bool porcelain = false;               // info: tab-separated lines
  OverwriteAnswer overwrite = OverwriteAnswer::Ask;
  int jobs = 0;  // 0 until parsed; then the -j value or the number of processors
  bool quiet = false;
  bool allowDisk = false;          // edit: plaintext may go to a folder on a disk
  std::vector<std::string> paths;  // as given, in order
};

enum class CliVerb {
  BadUsage,  // error says why; the tool exits with 2
  Help,
  Version,
  Protect,
  Restore,
  List,
  Verify,
  Info,
  ChangePassword,
  Edit,
  Recover,
};

struct CliCommand {
  CliVerb verb = CliVerb::BadUsage;
  std::string listCommand;  // list: new, add, remove, show, protect or restore
  std::string listPath;     // list: the list file as given
  CliOptions options;
  std::string error;       // BadUsage: the message; empty for a bare call without arguments
  bool showUsage = false;  // BadUsage: the usage text follows the message
};

// Parses the arguments after the program name.
CliCommand ParseCommandLine(const std::vector<std::string>& args);

// Parses the options of one command from args[from]; allowed lists the option names it
// takes, each between spaces. False with a message for bad usage.
bool ParseOptions(const std::vector<std::string>& args, size_t from, const std::string& allowed,
                  CliOptions& options, std::string& error);

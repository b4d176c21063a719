#include "cli/options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

const char* const kCliUsage =
    "Usage:\n"
    "  vellumguard-cli protect [-r] [--level N] [--include MASK] [--exclude MASK] [--no-zip MASK]\n"
    "                          [--use-last | --use-default | --password-file FILE | --password-fd "
    "N]\n"
    "                          [--yes | --no] [-j N] [--quiet] PATH...\n"
    "  vellumguard-cli restore [-r] [--password-file FILE | --password-fd N] [--yes | --no] [-j "
    "N]\n"
    "                          [--quiet] PATH...\n"
    "  vellumguard-cli list new     LIST.dlt [--level N] [--include MASK] [--exclude MASK]\n"
    "                               [--no-zip MASK] [--password-file FILE | --password-fd N]\n"
    "  vellumguard-cli list add     LIST.dlt [-r] [--include MASK] [--exclude MASK] PATH...\n"
    "  vellumguard-cli list remove  LIST.dlt PATH...\n"
    "  vellumguard-cli list show    LIST.dlt\n"
    "  vellumguard-cli list protect LIST.dlt [--password-file FILE | --password-fd N]\n"
    "                               [--yes | --no] [-j N] [--quiet]\n"
    "  vellumguard-cli list restore LIST.dlt [--password-file FILE | --password-fd N]\n"
    "                               [--yes | --no] [-j N] [--quiet]\n"
    "  vellumguard-cli verify  [-r] [--password-file FILE | --password-fd N] [-j N] [--quiet]\n"
    "                          PATH...\n"
    "  vellumguard-cli info    [--list LIST.dlt] [--password-file FILE | --password-fd N]\n"
    "                          [--porcelain] PATH...\n"
    "  vellumguard-cli change-password [-r] [--password-file FILE | --password-fd N]\n"
    "                          [--new-password-file FILE | --new-password-fd N] [-j N]\n"
    "                          [--quiet] PATH...\n"
    "  vellumguard-cli edit [--password-file FILE | --password-fd N] [--allow-disk] FILE.~de\n"
    "  vellumguard-cli recover [--password-file FILE | --password-fd N] [--yes] [--quiet]\n"
    "  vellumguard-cli --help | --version\n"
    "\n"
    "protect   compresses and encrypts each file into NAME.~de beside it, then wipes and\n"
    "          deletes the plain file; folders expand to their files (-r: with subfolders).\n"
    "restore   turns NAME.~de files back into their plain files.\n"
    "list      keeps a guard list (.dlt) of files and folders with its own password; a\n"
    "          list made elsewhere protects only after its password was given here.\n"
    "verify    checks that each NAME.~de opens and is whole, writing nothing.\n"
    "info      tells whether a file is protected and which remembered password opens it.\n"
    "change-password  moves protected files (and a guard list's key) to a new password\n"
    "          without restoring them.\n"
    "edit      opens the plain content in $VISUAL or $EDITOR (else vi) from a private\n"
    "          folder in memory and protects every save back into FILE.~de.\n"
    "recover   protects or discards what edits that ended unexpectedly left unsaved.\n"
    "\n"
    "Passwords are asked on the terminal without echo, or read from a file (first line)\n"
    "or a descriptor; never from the command line. Exit codes: 0 done, 1 some files\n"
    "failed or were skipped (or a named path is missing or a symbolic link), 2 bad usage\n"
    "or unreadable input, 3 a wrong password ended a restore, 130 cancelled.\n";

namespace {

bool ParseInt(const std::string& s, int lo, int hi, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

// The options each list command takes.
const char* ListOptions(const std::string& sub) {
  if (sub == "new")
    return " --level --include --exclude --no-zip --password-file --password-fd --quiet -q ";
  if (sub == "add") return " -r --recursive --include --exclude --quiet -q ";
  if (sub == "remove" || sub == "show") return " --quiet -q ";
  if (sub == "protect" || sub == "restore")
    return " --password-file --password-fd --yes -y --no -n -j --jobs --quiet -q ";
  return nullptr;
}

CliCommand BadUsage(std::string error, bool showUsage = false) {
  CliCommand command;
  command.error = std::move(error);
  command.showUsage = showUsage;
  return command;
}

CliCommand ParseList(const std::vector<std::string>& args) {
  if (args.size() < 3) return BadUsage("list needs a command and a list file", true);
  const std::string& sub = args[1];
  const char* allowed = ListOptions(sub);
  if (!allowed) return BadUsage("unknown list command \"" + sub + "\"");
  CliCommand command;
  command.verb = CliVerb::List;
  command.listCommand = sub;
  command.listPath = args[2];
  if (!ParseOptions(args, 3, allowed, command.options, command.error)) {
    return BadUsage(command.error);
  }
  const bool takesPaths = sub == "add" || sub == "remove";
  if (takesPaths && command.options.paths.empty()) {
    return BadUsage("list " + sub + " needs at least one path");
  }
  if (!takesPaths && !command.options.paths.empty()) {
    return BadUsage("list " + sub + " takes no paths: " + command.options.paths.front());
  }
  return command;
}

// Sets the option name on o; value() fetches its value (false with error set when there
// is none). False with error set when the option or its value is not usable.
template <typename Value>
bool SetOption(const std::string& name, Value value, CliOptions& o, std::string& error) {
  std::string v;
  auto number = [&](int lo, int hi, const char* complaint, int& out) {
    if (!value(v)) return false;
    if (ParseInt(v, lo, hi, out)) return true;
    error = complaint;
    return false;
  };
  auto text = [&](std::optional<std::string>& out) {
    if (!value(v)) return false;
    out = v;
    return true;
  };
  if (name == "-r" || name == "--recursive") {
    o.recursive = true;
  } else if (name == "--level") {
    int level = 0;
    if (!number(0, 9, "--level takes a number from 0 to 9", level)) return false;
    o.level = level;
  } else if (name == "--include") {
    return text(o.include);
  } else if (name == "--exclude") {
    return text(o.exclude);
  } else if (name == "--no-zip") {
    return text(o.noZip);
  } else if (name == "--use-last") {
    o.useLast = true;
  } else if (name == "--use-default") {
    o.useDefault = true;
  } else if (name == "--password-file") {
    return text(o.passwordFile);
  } else if (name == "--password-fd") {
    int fd = 0;
    if (!number(0, 1 << 20, "--password-fd takes a descriptor number", fd)) return false;
    o.passwordFd = fd;
  } else if (name == "--new-password-file") {
    return text(o.newPasswordFile);
  } else if (name == "--new-password-fd") {
    int fd = 0;
    if (!number(0, 1 << 20, "--new-password-fd takes a descriptor number", fd)) return false;
    o.newPasswordFd = fd;
  } else if (name == "--list") {
    return text(o.listFile);
  } else if (name == "--porcelain") {
    o.porcelain = true;
  } else if (name == "--yes" || name == "-y") {
    o.overwrite = OverwriteAnswer::Yes;
  } else if (name == "--no" || name == "-n") {
    o.overwrite = OverwriteAnswer::No;
  } else if (name == "-j" || name == "--jobs") {
    int jobs = 0;
    if (!number(1, 256, "-j takes a number from 1 to 256", jobs)) return false;
    o.jobs = jobs;
  } else if (name == "--quiet" || name == "-q") {
    o.quiet = true;
  } else if (name == "--allow-disk") {
    o.allowDisk = true;
  }
  return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, size_t from, const std::string& allowed,
                  CliOptions& o, std::string& error) {
  auto takes = [&](const std::string& name) {
    return allowed.find(" " + name + " ") != std::string::npos;
  };
  bool endOfOptions = false;
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (endOfOptions || a.empty() || a[0] != '-' || a == "-") {
      o.paths.push_back(a);
      continue;
    }
    if (a == "--") {
      endOfOptions = true;
      continue;
    }
    std::string name = a, inlineValue;
    bool hasInlineValue = false;
    if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      inlineValue = a.substr(eq + 1);
      hasInlineValue = true;
    }
    if (!takes(name)) {
      error = "unknown option for this command: " + a;
      return false;
    }
    auto value = [&](std::string& out) {
      if (hasInlineValue) {
        out = inlineValue;
        return true;
      }
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (!SetOption(name, value, o, error)) return false;
  }
  const int sources = (o.useLast ? 1 : 0) + (o.useDefault ? 1 : 0) + (o.passwordFile ? 1 : 0) +
                      (o.passwordFd ? 1 : 0);
  if (sources > 1) {
    error = "give at most one of --use-last, --use-default, --password-file, --password-fd";
    return false;
  }
  if (o.newPasswordFile && o.newPasswordFd) {
    error = "give at most one of --new-password-file, --new-password-fd";
    return false;
  }
  if (o.jobs == 0) o.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return true;
}

CliCommand ParseCommandLine(const std::vector<std::string>& args) {
  if (args.empty()) return BadUsage("", true);
  CliCommand command;
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    command.verb = CliVerb::Help;
    return command;
  }
  if (args[0] == "--version") {
    command.verb = CliVerb::Version;
    return command;
  }
  const std::string& name = args[0];
  if (name == "list") return ParseList(args);
  std::string allowed;
  if (name == "protect") {
    command.verb = CliVerb::Protect;
    allowed =
        " -r --recursive --level --include --exclude --no-zip --use-last --use-default "
        "--password-file --password-fd --yes -y --no -n -j --jobs --quiet -q ";
  } else if (name == "restore") {
    command.verb = CliVerb::Restore;
    allowed =
        " -r --recursive --password-file --password-fd --yes -y --no -n -j --jobs --quiet -q ";
  } else if (name == "verify") {
    command.verb = CliVerb::Verify;
    allowed = " -r --recursive --password-file --password-fd -j --jobs --quiet -q ";
  } else if (name == "info") {
    command.verb = CliVerb::Info;
    allowed = " --list --password-file --password-fd --porcelain ";
  } else if (name == "change-password") {
    command.verb = CliVerb::ChangePassword;
    allowed =
        " -r --recursive --password-file --password-fd --new-password-file --new-password-fd "
        "-j --jobs --quiet -q ";
  } else if (name == "edit") {
    command.verb = CliVerb::Edit;
    allowed = " --password-file --password-fd --allow-disk --quiet -q ";
  } else if (name == "recover") {
    command.verb = CliVerb::Recover;
    allowed = " --password-file --password-fd --yes -y --quiet -q ";
  } else {
    return BadUsage("unknown command \"" + name + "\"", true);
  }
  if (!ParseOptions(args, 1, allowed, command.options, command.error)) {
    return BadUsage(command.error);
  }
  const size_t paths = command.options.paths.size();
  if (command.verb == CliVerb::Edit && paths != 1) return BadUsage("edit takes one file");
  if (command.verb == CliVerb::Recover && paths != 0) return BadUsage("recover takes no paths");
  if (paths == 0 && command.verb != CliVerb::Recover) {
    return BadUsage(name + " needs at least one path");
  }
  return command;
}

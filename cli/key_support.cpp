#include "cli/key_support.h"

#include <sys/stat.h>

#include "cli/cli_ui.h"
#include "cli/terminal.h"
#include "guard/guard_command.h"
#include "guardlist/explorer_doc.h"

namespace {

int KeyOf(std::optional<std::string>& password, SecretKey& key) {
  GuardKeyDigest(key.data(), *password);
  WipeString(password);
  return 0;
}

}  // namespace

int ObtainKey(const std::optional<std::string>& file, const std::optional<int>& fd,
              const std::string& prompt, SecretKey& key) {
  std::string error;
  std::optional<std::string> password;
  if (file) {
    password = ReadPasswordFile(*file, error);
    if (!password) PrintError("cannot read the password file \"" + *file + "\": " + error);
  } else if (fd) {
    password = ReadPasswordFd(*fd, error);
    if (!password) {
      PrintError("cannot read the password from descriptor " + std::to_string(*fd) + ": " + error);
    }
  } else if (!HaveTerminal()) {
    PrintError(
        "no password given and no terminal to ask for one "
        "(use --password-file or --password-fd)");
  } else {
    password = ReadSecretLine(prompt);
    if (!password && g_interrupted) return GUARD_EXIT_CANCELLED;
  }
  if (!password) return GUARD_EXIT_USAGE;
  return KeyOf(password, key);
}

int ObtainNewKey(const CliOptions& o, SecretKey& key) {
  std::string error;
  CliUiOptions given;
  if (o.newPasswordFile) {
    given.password = ReadPasswordFile(*o.newPasswordFile, error);
    if (!given.password) {
      PrintError("cannot read the new password file \"" + *o.newPasswordFile + "\": " + error);
      return GUARD_EXIT_USAGE;
    }
  } else if (o.newPasswordFd) {
    given.password = ReadPasswordFd(*o.newPasswordFd, error);
    if (!given.password) {
      PrintError("cannot read the new password from descriptor " +
                 std::to_string(*o.newPasswordFd) + ": " + error);
      return GUARD_EXIT_USAGE;
    }
  } else if (!HaveTerminal()) {
    PrintError(
        "no new password given and no terminal to ask for one "
        "(use --new-password-file or --new-password-fd)");
    return GUARD_EXIT_USAGE;
  }
  CCliUi ui(std::move(given));
  std::optional<std::string> password = ui.NewPassword("New password: ");
  if (!password) return g_interrupted ? GUARD_EXIT_CANCELLED : GUARD_EXIT_USAGE;
  return KeyOf(password, key);
}

bool IsGuardListPath(const std::string& path) {
  struct stat st {};
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".dlt") == 0 &&
         ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool LoadGuardList(const std::string& path, CExplorerDoc& doc) {
  SysError error;
  const int r = doc.Load(path, &error);
  if (r == LIST_LOADED) return true;
  if (r == LIST_DAMAGED) {
    PrintError("the list \"" + path + "\" is damaged; it is left as it is");
  } else if (r == LIST_NOT_A_LIST) {
    PrintError("\"" + path + "\" is not a Vellumguard list");
  } else {
    PrintError("cannot read the list \"" + path + "\": " + error.Reason());
  }
  return false;
}

#include "cli/command_support.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/terminal.h"
#include "common/paths.h"

std::string Absolute(const std::string& path) {
  std::string p = path;
  if (p.empty() || p[0] != '/') p = JoinPath(CurrentFolder(), p);
  // Drop "." components and trailing "/"; keep ".." as given (resolving it lexically
  // could change meaning across symbolic links).
  std::string out;
  size_t i = 0;
  while (i < p.size()) {
    size_t j = p.find('/', i);
    if (j == std::string::npos) j = p.size();
    const std::string part = p.substr(i, j - i);
    if (!part.empty() && part != ".") out += "/" + part;
    i = j + 1;
  }
  return out.empty() ? "/" : out;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool ReadPasswordOption(const CliOptions& o, std::optional<std::string>& pw) {
  std::string error;
  pw.reset();
  if (o.passwordFile) {
    pw = ReadPasswordFile(*o.passwordFile, error);
    if (!pw) PrintError("cannot read the password file \"" + *o.passwordFile + "\": " + error);
  } else if (o.passwordFd) {
    pw = ReadPasswordFd(*o.passwordFd, error);
    if (!pw)
      PrintError("cannot read the password from descriptor " + std::to_string(*o.passwordFd) +
                 ": " + error);
  } else {
    return true;
  }
  return pw.has_value();
}

CliUiOptions UiOptions(const CliOptions& o, std::optional<std::string>& password) {
  CliUiOptions u;
  u.quiet = o.quiet;
  u.overwrite = o.overwrite;
  u.password = password;
  WipeString(password);
  return u;
}

int FinishRun(const CliOptions& o, const GuardOutcome& outcome, bool missing) {
  // The driver stays silent about files it could not restore or protect without an
  // error message; name them, in path order so that -j N reads like one at a time.
  std::vector<GuardFailure> silent;
  for (const GuardFailure& f : outcome.failures)
    if (!f.shown) silent.push_back(f);
  std::sort(silent.begin(), silent.end(),
            [](const GuardFailure& a, const GuardFailure& b) { return a.path < b.path; });
  for (const GuardFailure& f : silent) {
    if (f.reason == kWrongPasswordReason) {
      PrintError("wrong password for \"" + f.path + "\": left as it is");
    } else {
      PrintError("\"" + f.path + "\" " + f.reason);
    }
  }
  if (!o.quiet) {
    const std::string text = OutcomeText(outcome);
    if (!text.empty()) std::fprintf(stderr, "%s.\n", text.c_str());
  }
  if (g_interrupted) return GUARD_EXIT_CANCELLED;
  // Only a wrong password is 3; a file skipped because nobody could be asked is 1, and so
  // is a prompt ended by the end of its input.
  if (outcome.verb == GuardVerb::Restore && outcome.wrongPassword) {
    return GUARD_EXIT_WRONG_PASSWORD;
  }
  if (static_cast<size_t>(outcome.done) < outcome.wanted || outcome.skipped > 0 ||
      !outcome.failures.empty() || outcome.cancelled || missing) {
    return GUARD_EXIT_INCOMPLETE;
  }
  return GUARD_EXIT_DONE;
}

int FinishRestore(const CliOptions& o, const GuardOutcome& outcome, bool havePassword,
                  bool missing) {
  if (outcome.cancelled && !g_interrupted && !havePassword && !HaveTerminal()) {
    PrintError(
        "no password given and no terminal to ask for one "
        "(use --password-file or --password-fd)");
    return GUARD_EXIT_USAGE;
  }
  return FinishRun(o, outcome, missing);
}

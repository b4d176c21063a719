// edit FILE.~de and recover: a protected file edited in the user's editor, every save
// protected back, and sessions left by a crash finished.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "common/paths.h"
#include "engine/digest.h"
#include "engine/file_codec.h"
#include "guard/edit_place.h"
#include "guard/edit_recovery.h"
#include "guard/edit_session.h"

namespace {

constexpr int kPasswordAttempts = 3;

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

// $VISUAL, else $EDITOR, else vi; through the shell, so "code --wait" works as in git.
pid_t StartEditor(const std::string& document) {
  const char* visual = std::getenv("VISUAL");
  const char* editor = std::getenv("EDITOR");
  std::string command = visual && *visual ? visual : editor && *editor ? editor : "vi";
  command += " \"$@\"";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), "sh", document.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Tells the user about a save that did not simply succeed.
void Report(const EditSaveResult& result, int& saves, bool& failed) {
  if (result.status == EditSaveStatus::Saved || result.status == EditSaveStatus::Conflict) ++saves;
  if (result.status == EditSaveStatus::Failed) failed = true;
  if (!result.message.empty()) PrintError(result.message);
}

// Waits for events until the editor ends; every settled save goes back. The editor's
// exit status, or -1 when it could not be waited for.
int WatchUntilEditorEnds(CEditSession& session, pid_t editor, int& saves, bool& failed) {
  for (;;) {
    const int settle = session.MillisecondsToSettle();
    pollfd p{session.WatchDescriptor(), POLLIN, 0};
    const int ready = ::poll(&p, 1, settle < 0 || settle > 200 ? 200 : settle);
    if (ready > 0) session.ReadEvents();
    Report(session.SaveIfSettled(), saves, failed);
    int status = 0;
    const pid_t done = ::waitpid(editor, &status, WNOHANG);
    if (done == editor) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (done < 0 && errno != EINTR) return -1;
  }
}

// A launcher that hands the document to a running editor and returns at once leaves it
// open there: wait until nothing holds it any more, or the user says to finish.
void WaitWhileInUse(CEditSession& session, bool quiet, int& saves, bool& failed) {
  if (!session.InUse()) return;
  if (!quiet) {
    PrintError(Quoted(session.DocumentPath()) +
               " is still open in another program; waiting until it is closed (Ctrl-C "
               "finishes now)");
  }
  g_interrupted = false;
  int sinceCheck = 0;
  while (!g_interrupted) {
    pollfd p{session.WatchDescriptor(), POLLIN, 0};
    if (::poll(&p, 1, 200) > 0) session.ReadEvents();
    Report(session.SaveIfSettled(), saves, failed);
    if (++sinceCheck >= 5) {
      sinceCheck = 0;
      if (!session.InUse()) break;
    }
  }
}

// The key of the password that opens path: from the option, or asked on the terminal
// up to three times. 0 with the key, else the exit code (reported).
int OpenWithPassword(CEditSession& session, const EditPlace& place, const std::string& path,
                     const CliOptions& o) {
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  const bool fromOption = pw.has_value();
  CCliUi ui(UiOptions(o, pw));
  for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
    std::string password;
    if (!ui.AskPassword(path, password)) {
      if (g_interrupted) return GUARD_EXIT_CANCELLED;
      PrintError(
          "no password given and no terminal to ask for one "
          "(use --password-file or --password-fd)");
      return GUARD_EXIT_USAGE;
    }
    SecretKey key;
    GuardKeyDigest(key.data(), password);
    WipeString(password);
    std::string error;
    const int opened = session.Open(place.root, path, key.data(), EditLevelFor(path), error);
    if (opened == CODEC_OK) return GUARD_EXIT_DONE;
    if (opened != CODEC_BAD_KEY) {
      PrintError("cannot edit " + Quoted(path) + ": " + error);
      return GUARD_EXIT_INCOMPLETE;
    }
    if (fromOption) break;
  }
  PrintError("wrong password for " + Quoted(path) + ": left as it is");
  return GUARD_EXIT_WRONG_PASSWORD;
}

// The place for the plaintext, refused when it is on a disk unless the user allowed it.
std::optional<EditPlace> UsablePlace(const CliOptions& o, const std::string& path) {
  EditPlace place = FindEditPlace();
  if (place.kind != EditPlaceKind::Memory && !o.allowDisk) {
    PrintError("cannot edit " + Quoted(path) + ": " + place.reason +
               "; the plaintext would be written to a disk (--allow-disk accepts that)");
    return std::nullopt;
  }
  if (SysError e = PrepareEditRoot(place.root); !e.ok()) {
    PrintError("cannot edit " + Quoted(path) + ": " + e.Describe("cannot use the folder"));
    return std::nullopt;
  }
  return place;
}

// Says how many sessions of earlier crashes wait for the user's word.
void MentionOrphans(const std::string& root) {
  OrphanScan scan = FindOrphanSessions(root);
  for (const std::string& m : scan.messages) PrintError(m);
  if (!scan.unsaved.empty()) {
    PrintError(std::to_string(scan.unsaved.size()) +
               " edit session(s) ended unexpectedly with unsaved changes; "
               "\"vellumguard-cli recover\" offers them");
  }
}

}  // namespace

int RunEdit(const CliOptions& o) {
  const std::string path = Absolute(o.paths.front());
  if (!IsProtectedPath(path) || IsSymbolicLink(path) || !FileExists(path)) {
    PrintError("cannot edit " + Quoted(o.paths.front()) +
               ": not a protected file (NAME.~de) that can be read");
    return GUARD_EXIT_USAGE;
  }
  const std::optional<EditPlace> place = UsablePlace(o, path);
  if (!place) return GUARD_EXIT_USAGE;
  MentionOrphans(place->root);
  CEditSession session;
  if (const int code = OpenWithPassword(session, *place, path, o); code != GUARD_EXIT_DONE) {
    return code;
  }
  const pid_t editor = StartEditor(session.DocumentPath());
  int saves = 0;
  bool failed = editor < 0;
  const int status = editor < 0 ? -1 : WatchUntilEditorEnds(session, editor, saves, failed);
  if (status != 0) PrintError("the editor ended with status " + std::to_string(status));
  WaitWhileInUse(session, o.quiet, saves, failed);
  std::vector<std::string> messages;
  const bool changedAtEnd = session.HasUnsavedChanges();
  const bool finished = session.Finish(messages);
  if (finished && changedAtEnd) ++saves;
  for (const std::string& m : messages) PrintError(m);
  if (!finished) {
    PrintError("the edited copy stays in " + Quoted(session.Folder()) +
               "; \"vellumguard-cli recover\" protects or discards it");
    return GUARD_EXIT_INCOMPLETE;
  }
  if (!o.quiet) {
    std::fprintf(stderr, "%s: finished editing (%d save%s protected back).\n",
                 session.TargetPath().c_str(), saves, saves == 1 ? "" : "s");
  }
  return failed || status != 0 ? GUARD_EXIT_INCOMPLETE : GUARD_EXIT_DONE;
}

namespace {

enum class RecoverChoice { Protect, Discard, Leave };

RecoverChoice AskWhatToDo(const CEditSession& session, const CliOptions& o) {
  if (o.overwrite == OverwriteAnswer::Yes) return RecoverChoice::Protect;
  if (!HaveTerminal()) return RecoverChoice::Leave;
  const std::optional<bool> protect =
      AskYesNo("Protect them into " + Quoted(session.TargetPath()) + " now? [y/n] ");
  if (!protect) return RecoverChoice::Leave;
  if (*protect) return RecoverChoice::Protect;
  const std::optional<bool> discard = AskYesNo("Discard them for good? [y/n] ");
  return discard.value_or(false) ? RecoverChoice::Discard : RecoverChoice::Leave;
}

// Asks the password of the session's protected file (or takes the option's) and
// protects the session with it. The exit code of this session.
int ProtectRecovered(CEditSession& session, CCliUi& ui, bool fromOption) {
  for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
    std::string password;
    if (!ui.AskPassword(session.TargetPath(), password)) {
      return g_interrupted ? GUARD_EXIT_CANCELLED : GUARD_EXIT_INCOMPLETE;
    }
    SecretKey key;
    GuardKeyDigest(key.data(), password);
    WipeString(password);
    if (!session.KeyOpensTarget(key.data())) {
      if (fromOption) break;
      continue;
    }
    session.SetKey(key.data());
    std::vector<std::string> messages;
    const bool finished = session.Finish(messages);
    for (const std::string& m : messages) PrintError(m);
    return finished ? GUARD_EXIT_DONE : GUARD_EXIT_INCOMPLETE;
  }
  PrintError("wrong password for " + Quoted(session.TargetPath()) + ": left as it is");
  return GUARD_EXIT_WRONG_PASSWORD;
}

int HandleRecovered(CEditSession& session, CCliUi& ui, const CliOptions& o, bool fromOption) {
  std::string what =
      Quoted(session.OriginalPath()) + " has unsaved changes from an edit that ended unexpectedly";
  const std::vector<std::string> others = session.OtherDocuments();
  if (!others.empty()) what += " (and " + std::to_string(others.size()) + " other document(s))";
  PrintError(what);
  switch (AskWhatToDo(session, o)) {
    case RecoverChoice::Protect:
      return ProtectRecovered(session, ui, fromOption);
    case RecoverChoice::Discard: {
      std::string error;
      if (session.Discard(error)) return GUARD_EXIT_DONE;
      PrintError("cannot discard " + Quoted(session.Folder()) + ": " + error);
      return GUARD_EXIT_INCOMPLETE;
    }
    case RecoverChoice::Leave:
      PrintError("left as it is in " + Quoted(session.Folder()) +
                 (HaveTerminal() ? "" : " (run on a terminal to choose, or give --yes)"));
      return GUARD_EXIT_INCOMPLETE;
  }
  return GUARD_EXIT_INCOMPLETE;
}

}  // namespace

int RunRecover(const CliOptions& o) {
  const EditPlace place = FindEditPlace();
  OrphanScan scan = FindOrphanSessions(place.root);
  for (const std::string& m : scan.messages) PrintError(m);
  if (scan.wiped > 0 && !o.quiet) {
    std::fprintf(stderr, "Removed %d edit session(s) that had nothing unsaved.\n", scan.wiped);
  }
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  const bool fromOption = pw.has_value();
  CCliUi ui(UiOptions(o, pw));
  int code = scan.messages.empty() ? GUARD_EXIT_DONE : GUARD_EXIT_INCOMPLETE;
  for (const std::unique_ptr<CEditSession>& session : scan.unsaved) {
    const int one = HandleRecovered(*session, ui, o, fromOption);
    if (one == GUARD_EXIT_CANCELLED) return one;
    if (one != GUARD_EXIT_DONE && code != GUARD_EXIT_WRONG_PASSWORD) code = one;
  }
  if (scan.wiped == 0 && scan.unsaved.empty() && !o.quiet) {
    std::fprintf(stderr, "No edit session was left by a crash.\n");
  }
  return code;
}

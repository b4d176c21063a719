// The list commands: a guard list (.dlt) kept from scripts, on the same document as the
// window's list pane; its protect and restore run through the core's list runs.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_support.h"
#include "cli/commands.h"
#include "cli/key_support.h"
#include "cli/terminal.h"
#include "common/paths.h"
#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"
#include "guardlist/app_state.h"
#include "guardlist/explorer_doc.h"
#include "guardlist/list_trust.h"

namespace {

bool StoreList(const std::string& path, const CExplorerDoc& doc) {
  if (const SysError error = doc.Store(path); !error.ok()) {
    PrintError("cannot save the list \"" + path + "\": " + error.Reason());
    return false;
  }
  // The window's address bar offers the lists it knows. A state file that cannot be
  // read whole is left for the window to deal with rather than written over.
  AppState state;
  ResetAppState(state);
  KnownListPaths known;
  const bool loaded = LoadAppState(state, known);
  if (!loaded && FileExists(AppStatePath())) return true;
  if (!loaded) {
    ResetAppState(state);
    known.clear();
  }
  if (RememberListPath(known, path)) {
    if (const SysError e = SaveAppState(state, known); !e.ok() && !g_interrupted) {
      PrintError("cannot remember the list in \"" + AppStatePath() +
                 "\" for the window: " + e.Reason());
    }
  }
  return true;
}

// A list that someone else made would protect under their key: it needs its password,
// from the terminal or the password options. GUARD_EXIT_DONE when the key may be used.
int RefuseForeignKey(const std::string& listPath, const CExplorerDoc& doc, const CliOptions& o) {
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  CCliUi ui(UiOptions(o, pw));
  SysError recordError;
  const int check = ConfirmListKey(doc.m_digest, listPath, ui, &recordError);
  if (!recordError.ok()) {
    PrintError(recordError.Describe("cannot record the list's password as yours in"));
  }
  switch (check) {
    case LIST_KEY_TRUSTED:
    case LIST_KEY_CONFIRMED:
      return GUARD_EXIT_DONE;
    case LIST_KEY_WRONG:
      PrintError("the password does not match the list \"" + listPath +
                 "\": nothing was protected");
      return GUARD_EXIT_WRONG_PASSWORD;
    default:
      if (g_interrupted) return GUARD_EXIT_CANCELLED;
      PrintError("the list \"" + listPath +
                 "\" was made elsewhere: give its password on the terminal or with "
                 "--password-file or --password-fd to protect with it");
      return GUARD_EXIT_USAGE;
  }
}

int ListNew(const std::string& listPath, const CliOptions& o) {
  if (FileExists(listPath) || IsFolder(listPath)) {
    PrintError("\"" + listPath + "\" already exists");
    return GUARD_EXIT_USAGE;
  }
  CExplorerDoc doc;
  doc.NewDocument(nullptr);
  if (o.level) doc.m_zipLevel = *o.level;
  if (o.include) doc.m_includeMask = *o.include;
  if (o.exclude) doc.m_excludeMask = *o.exclude;
  if (o.noZip) doc.m_noZipMask = *o.noZip;
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  CCliUi ui(UiOptions(o, pw));
  std::optional<std::string> password = ui.NewPassword();
  if (!password) return g_interrupted ? GUARD_EXIT_CANCELLED : GUARD_EXIT_USAGE;
  GuardKeyDigest(doc.m_digest, *password);
  WipeString(password);
  if (!StoreList(listPath, doc)) return GUARD_EXIT_USAGE;
  if (const SysError e = TrustListKey(doc.m_digest); !e.ok()) {
    PrintError(e.Describe("cannot record the list's password as yours in"));
  }
  return GUARD_EXIT_DONE;
}

int ListAdd(const std::string& listPath, const CliOptions& o) {
  CExplorerDoc doc;
  if (!LoadGuardList(listPath, doc)) return GUARD_EXIT_USAGE;
  int refused = 0;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    const bool folder = IsFolder(abs);
    if (!folder && !FileExists(abs) && !FileExists(ProtectedPathOf(abs)) &&
        !(IsProtectedPath(abs) && FileExists(abs))) {
      PrintError("cannot add \"" + p + "\": no such file or folder");
      ++refused;
      continue;
    }
    CGuardItem item(abs, folder ? 1 : 0);
    if (folder) {
      item.m_includeMask = o.include.value_or(doc.m_includeMask);
      item.m_excludeMask = o.exclude.value_or(doc.m_excludeMask);
      item.m_subfolders = o.recursive ? 1 : 0;
    }
    EvaluateItemStatus(item);
    if (doc.AddItem(item) < 0) {
      PrintError("the list refuses \"" + p +
                 "\" (already listed, a settings or list file, or left out by the list's masks)");
      ++refused;
    }
  }
  if (!StoreList(listPath, doc)) return GUARD_EXIT_USAGE;
  return refused ? GUARD_EXIT_INCOMPLETE : GUARD_EXIT_DONE;
}

int ListRemove(const std::string& listPath, const CliOptions& o) {
  CExplorerDoc doc;
  if (!LoadGuardList(listPath, doc)) return GUARD_EXIT_USAGE;
  int missing = 0;
  for (const std::string& p : o.paths) {
    std::string abs = Absolute(p);
    int index = doc.FindItem(abs);
    if (index < 0 && IsProtectedPath(abs)) index = doc.FindItem(PlainPathOf(abs));
    if (index < 0) {
      PrintError("\"" + p + "\" is not in the list");
      ++missing;
      continue;
    }
    doc.m_items.erase(doc.m_items.begin() + index);
    doc.SetModifiedFlag();
  }
  if (!StoreList(listPath, doc)) return GUARD_EXIT_USAGE;
  return missing ? GUARD_EXIT_INCOMPLETE : GUARD_EXIT_DONE;
}

int ListShow(const std::string& listPath) {
  CExplorerDoc doc;
  if (!LoadGuardList(listPath, doc)) return GUARD_EXIT_USAGE;
  std::printf("password\t%s\n", doc.HasPassword() ? "set" : "none");
  std::printf("level\t%d\n", doc.m_zipLevel);
  std::printf("include\t%s\n", doc.m_includeMask.c_str());
  std::printf("exclude\t%s\n", doc.m_excludeMask.c_str());
  std::printf("no-zip\t%s\n", doc.m_noZipMask.c_str());
  std::printf("\n");
  std::printf("kind\tsubfolders\tstatus\tpath\tinclude\texclude\n");
  for (CGuardItem& item : doc.m_items) {
    EvaluateItemStatus(item);
    std::printf("%s\t%d\t%s\t%s\t%s\t%s\n", item.IsFolder() ? "folder" : "file",
                item.m_subfolders ? 1 : 0, ItemStatusText(item).c_str(), item.m_path.c_str(),
                item.m_includeMask.c_str(), item.m_excludeMask.c_str());
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    PrintError(std::string("cannot write the listing: ") + std::strerror(errno));
    return GUARD_EXIT_INCOMPLETE;
  }
  return GUARD_EXIT_DONE;
}

int ListProtect(const std::string& listPath, const CliOptions& o) {
  CExplorerDoc doc;
  if (!LoadGuardList(listPath, doc)) return GUARD_EXIT_USAGE;
  if (!doc.HasPassword()) {
    PrintError("the list \"" + listPath + "\" has no password; make it with \"list new\"");
    return GUARD_EXIT_USAGE;
  }
  if (const int refused = RefuseForeignKey(listPath, doc, o); refused != GUARD_EXIT_DONE) {
    return refused;
  }
  RunFiles files;
  for (const CGuardItem& item : doc.m_items) CollectFilesToEncrypt(files, item);
  std::optional<std::string> none;
  CCliUi ui(UiOptions(o, none));
  const GuardOutcome outcome =
      RunProtectList(ui, files, doc.m_digest, doc.m_zipLevel, doc.m_noZipMask, o.jobs);
  return FinishRun(o, outcome, false);
}

int ListRestore(const std::string& listPath, const CliOptions& o) {
  CExplorerDoc doc;
  if (!LoadGuardList(listPath, doc)) return GUARD_EXIT_USAGE;
  RunFiles files;
  for (const CGuardItem& item : doc.m_items) CollectFilesToDecrypt(files, item);
  std::optional<std::string> pw;
  if (!ReadPasswordOption(o, pw)) return GUARD_EXIT_USAGE;
  const bool havePassword = pw.has_value();
  CCliUi ui(UiOptions(o, pw));
  return FinishRestore(o, RunRestoreList(ui, files, o.jobs), havePassword, false);
}

}  // namespace

int RunListCommand(const std::string& command, const std::string& listArgument,
                   const CliOptions& o) {
  const std::string listPath = Absolute(listArgument);
  if (command == "new") return ListNew(listPath, o);
  if (command == "add") return ListAdd(listPath, o);
  if (command == "remove") return ListRemove(listPath, o);
  if (command == "show") return ListShow(listPath);
  if (command == "protect") return ListProtect(listPath, o);
  return ListRestore(listPath, o);
}

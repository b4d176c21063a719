// vellumguard-cli: protect, restore and guard lists from scripts, on the same core and
// the same files as the window.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_ui.h"
#include "cli/terminal.h"
#include "common/paths.h"
#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"
#include "guard/file_list_driver.h"
#include "guard/parallel_runner.h"
#include "guard/protect_settings.h"
#include "guardlist/app_state.h"
#include "guardlist/explorer_doc.h"

#ifndef VG_VERSION
#define VG_VERSION "0.0.0"
#endif

namespace {

enum ExitCode {
  EXIT_DONE = 0,
  EXIT_INCOMPLETE = 1,
  EXIT_USAGE = 2,
  EXIT_WRONG_PASSWORD = 3,
  EXIT_CANCELLED = 130,
};

constexpr const char* kUsage =
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
    "  vellumguard-cli list protect LIST.dlt [--yes | --no] [-j N] [--quiet]\n"
    "  vellumguard-cli list restore LIST.dlt [--password-file FILE | --password-fd N]\n"
    "                               [--yes | --no] [-j N] [--quiet]\n"
    "  vellumguard-cli --help | --version\n"
    "\n"
    "protect   compresses and encrypts each file into NAME.~de beside it, then wipes and\n"
    "          deletes the plain file; folders expand to their files (-r: with subfolders).\n"
    "restore   turns NAME.~de files back into their plain files.\n"
    "list      keeps a guard list (.dlt) of files and folders with its own password.\n"
    "\n"
    "Passwords are asked on the terminal without echo, or read from a file (first line)\n"
    "or a descriptor; never from the command line. Exit codes: 0 done, 1 some files\n"
    "failed or were skipped (or a named path is missing or a symbolic link), 2 bad usage\n"
    "or unreadable input, 3 a wrong password ended a restore, 130 cancelled.\n";

struct Options {
  bool recursive = false;
  std::optional<int> level;
  std::optional<std::string> include, exclude, noZip;
  bool useLast = false, useDefault = false;
  std::optional<std::string> passwordFile;
  std::optional<int> passwordFd;
  OverwriteAnswer overwrite = OverwriteAnswer::Ask;
  int jobs = 0;
  bool quiet = false;
  std::vector<std::string> paths;
};

class UsageError {
 public:
  explicit UsageError(std::string text) : m_text(std::move(text)) {}
  const std::string& text() const { return m_text; }

 private:
  std::string m_text;
};

bool ParseInt(const std::string& s, int lo, int hi, int& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno || *end || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

// Parses the options of one command; allowed lists the option names it takes. Returns
// false with a message for bad usage.
bool ParseOptions(const std::vector<std::string>& args, size_t from, const std::string& allowed,
                  Options& o, std::string& error) {
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
    std::string name = a, value;
    bool inlineValue = false;
    if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    if (!takes(name)) {
      error = "unknown option for this command: " + a;
      return false;
    }
    auto needValue = [&]() -> bool {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        error = "option " + name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    if (name == "-r" || name == "--recursive") {
      o.recursive = true;
    } else if (name == "--level") {
      int v = 0;
      if (!needValue()) return false;
      if (!ParseInt(value, 0, 9, v)) {
        error = "--level takes a number from 0 to 9";
        return false;
      }
      o.level = v;
    } else if (name == "--include") {
      if (!needValue()) return false;
      o.include = value;
    } else if (name == "--exclude") {
      if (!needValue()) return false;
      o.exclude = value;
    } else if (name == "--no-zip") {
      if (!needValue()) return false;
      o.noZip = value;
    } else if (name == "--use-last") {
      o.useLast = true;
    } else if (name == "--use-default") {
      o.useDefault = true;
    } else if (name == "--password-file") {
      if (!needValue()) return false;
      o.passwordFile = value;
    } else if (name == "--password-fd") {
      int fd = 0;
      if (!needValue()) return false;
      if (!ParseInt(value, 0, 1 << 20, fd)) {
        error = "--password-fd takes a descriptor number";
        return false;
      }
      o.passwordFd = fd;
    } else if (name == "--yes" || name == "-y") {
      o.overwrite = OverwriteAnswer::Yes;
    } else if (name == "--no" || name == "-n") {
      o.overwrite = OverwriteAnswer::No;
    } else if (name == "-j" || name == "--jobs") {
      int j = 0;
      if (!needValue()) return false;
      if (!ParseInt(value, 1, 256, j)) {
        error = "-j takes a number from 1 to 256";
        return false;
      }
      o.jobs = j;
    } else if (name == "--quiet" || name == "-q") {
      o.quiet = true;
    }
  }
  const int sources = (o.useLast ? 1 : 0) + (o.useDefault ? 1 : 0) + (o.passwordFile ? 1 : 0) +
                      (o.passwordFd ? 1 : 0);
  if (sources > 1) {
    error = "give at most one of --use-last, --use-default, --password-file, --password-fd";
    return false;
  }
  if (o.jobs == 0) o.jobs = std::max(1u, std::thread::hardware_concurrency());
  return true;
}

// The absolute form of a path as the user gave it (no symbolic links resolved, so the
// names the user sees stay the names the tool reports).
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

std::optional<std::string> ReadPasswordOption(const Options& o, bool& failed) {
  failed = false;
  std::string error;
  std::optional<std::string> pw;
  if (o.passwordFile) {
    pw = ReadPasswordFile(*o.passwordFile, error);
    if (!pw) PrintError("cannot read the password file \"" + *o.passwordFile + "\": " + error);
  } else if (o.passwordFd) {
    pw = ReadPasswordFd(*o.passwordFd, error);
    if (!pw)
      PrintError("cannot read the password from descriptor " + std::to_string(*o.passwordFd) +
                 ": " + error);
  } else {
    return std::nullopt;
  }
  failed = !pw;
  return pw;
}

CliUiOptions UiOptions(const Options& o, std::optional<std::string> password) {
  CliUiOptions u;
  u.quiet = o.quiet;
  u.overwrite = o.overwrite;
  u.password = std::move(password);
  return u;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The folders a run touches: named folders themselves, the folders of named files.
std::vector<std::string> FoldersOf(const std::vector<std::string>& named) {
  std::vector<std::string> folders;
  for (const std::string& p : named) {
    folders.push_back(!p.empty() && p.back() == '/' ? p : ParentFolder(p));
  }
  return folders;
}

// The exit code of a run: cancelled, wrong password, something left undone, or done.
int Outcome(const CCliUi& ui, int done, size_t wanted, bool restoring) {
  if (g_interrupted) return EXIT_CANCELLED;
  // Only a wrong password is 3; a file skipped because nobody could be asked is 1.
  if (restoring && ui.WrongPasswordFiles() > 0) return EXIT_WRONG_PASSWORD;
  if (static_cast<size_t>(done) < wanted || ui.ErrorCount() > 0 || ui.SkippedCount() > 0) {
    return EXIT_INCOMPLETE;
  }
  return EXIT_DONE;
}

void Summary(const Options& o, const char* verb, int done, size_t wanted) {
  if (o.quiet) return;
  std::fprintf(stderr, "%s %d of %zu file%s.\n", verb, done, wanted, wanted == 1 ? "" : "s");
}

// Expands the paths the user named; a name that is neither a file nor a folder is
// reported. Returns false when nothing could be expanded.
int RunProtect(const Options& o) {
  bool pwFailed = false;
  std::optional<std::string> pw = ReadPasswordOption(o, pwFailed);
  if (pwFailed) return EXIT_USAGE;
  CCliUi ui(UiOptions(o, pw));
  WipeString(pw);
  std::vector<std::string> selection;
  bool missing = false;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    if (IsSymbolicLink(abs)) {
      // Protecting through a link would wipe a file outside what was named.
      PrintError("cannot protect \"" + p + "\": it is a symbolic link");
      missing = true;
    } else if (IsFolder(abs)) {
      selection.push_back(WithTrailingSlash(abs));
    } else if (PathExists(abs)) {
      selection.push_back(abs);
    } else {
      PrintError("cannot protect \"" + p + "\": no such file or folder");
      missing = true;
    }
  }
  RemoveStaleTempFilesIn(FoldersOf(selection));
  if (selection.empty()) return EXIT_INCOMPLETE;
  CCliUi::SettingsChoice choice;
  choice.level = o.level;
  choice.include = o.include;
  choice.exclude = o.exclude;
  choice.noZip = o.noZip;
  choice.recursive = o.recursive;
  choice.useLast = o.useLast;
  choice.useDefault = o.useDefault;
  ui.SetSettingsChoice(choice);
  ProtectSettings settings;
  // The choice is remembered in "zde.tmp" only once something was protected with it.
  if (!SettleProtectSettings(ui, ProtectKind::Selection, selection, settings, false)) {
    return g_interrupted ? EXIT_CANCELLED : EXIT_USAGE;
  }
  std::vector<std::string> files;
  for (const std::string& entry : selection) {
    const bool folder = !entry.empty() && entry.back() == '/';
    CGuardItem item(folder ? WithoutTrailingSlash(entry) : entry, folder ? 1 : 0);
    if (folder) {
      item.m_includeMask = settings.includeMask;
      item.m_excludeMask = settings.excludeMask;
      item.m_subfolders = settings.encryptSubfolders ? 1 : 0;
    }
    CollectFilesToEncrypt(files, item);
  }
  if (files.empty()) {
    if (!o.quiet) std::fprintf(stderr, "Nothing to protect.\n");
    return missing ? EXIT_INCOMPLETE : EXIT_DONE;
  }
  const size_t wanted = PrepareEncryptEntries(files).size();
  const int done =
      o.jobs > 1 ? ParallelEncryptFileList(ui, files, settings.digest, settings.level,
                                           settings.noZipMask, o.jobs)
                 : EncryptFileList(ui, files, settings.digest, settings.level, settings.noZipMask);
  if (done > 0 && !SaveProtectSettings(settings) && !o.quiet) {
    PrintError("cannot remember the settings in \"" + settings.settingsPath + "\"");
  }
  Summary(o, "Protected", done, wanted);
  const int code = Outcome(ui, done, wanted, false);
  return code == EXIT_DONE && missing ? EXIT_INCOMPLETE : code;
}

int RunRestoreOf(const Options& o, const std::vector<std::string>& files, bool missing) {
  bool pwFailed = false;
  std::optional<std::string> pw = ReadPasswordOption(o, pwFailed);
  if (pwFailed) return EXIT_USAGE;
  CCliUi ui(UiOptions(o, pw));
  const bool havePassword = pw.has_value();
  WipeString(pw);
  if (files.empty()) {
    if (!o.quiet) std::fprintf(stderr, "Nothing to restore.\n");
    return missing ? EXIT_INCOMPLETE : EXIT_DONE;
  }
  if (!havePassword && !HaveTerminal()) {
    PrintError(
        "no password given and no terminal to ask for one "
        "(use --password-file or --password-fd)");
    return EXIT_USAGE;
  }
  const std::vector<FileEntry> entries = PrepareDecryptEntries(files);
  const size_t wanted = entries.size();
  const int done =
      o.jobs > 1 ? ParallelDecryptFileList(ui, files, o.jobs) : DecryptFileList(ui, files);
  // The restore routine itself stays silent about files it could not restore; name them.
  for (const std::string& path : ui.WrongPasswordPaths()) {
    PrintError("wrong password for \"" + path + "\": left as it is");
  }
  Summary(o, "Restored", done, wanted);
  const int code = Outcome(ui, done, wanted, true);
  return code == EXIT_DONE && missing ? EXIT_INCOMPLETE : code;
}

int RunRestore(const Options& o) {
  std::vector<std::string> files;
  bool missing = false;
  std::vector<std::string> named;
  for (const std::string& p : o.paths) {
    const std::string abs = Absolute(p);
    if (IsSymbolicLink(abs)) {
      PrintError("cannot restore \"" + p + "\": it is a symbolic link");
      missing = true;
      continue;
    }
    const bool folder = IsFolder(abs);
    named.push_back(folder ? WithTrailingSlash(abs) : abs);
    CGuardItem item(abs, folder ? 1 : 0);
    item.m_subfolders = o.recursive ? 1 : 0;
    const size_t before = files.size();
    CollectFilesToDecrypt(files, item);
    if (!folder && files.size() == before) {
      PrintError("cannot restore \"" + p + "\": no protected file of that name");
      missing = true;
    }
  }
  RemoveStaleTempFilesIn(FoldersOf(named));
  if (files.empty() && missing) return EXIT_INCOMPLETE;
  return RunRestoreOf(o, files, missing);
}

// ---- guard lists ----

bool LoadList(const std::string& path, CExplorerDoc& doc) {
  std::string error;
  const int r = doc.Load(path, &error);
  if (r == LIST_LOADED) return true;
  if (r == LIST_DAMAGED) {
    PrintError("the list \"" + path + "\" is damaged" + (error.empty() ? "" : ": " + error) +
               "; it is left as it is");
  } else if (r == LIST_NOT_A_LIST) {
    PrintError("\"" + path + "\" is not a Vellumguard list");
  } else {
    PrintError("cannot read the list \"" + path + "\"" + (error.empty() ? "" : ": " + error));
  }
  return false;
}

bool StoreList(const std::string& path, const CExplorerDoc& doc) {
  std::string error;
  if (!doc.Store(path, &error)) {
    PrintError("cannot save the list \"" + path + "\"" + (error.empty() ? "" : ": " + error));
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
  if (RememberListPath(known, path) && !SaveAppState(state, known) && !g_interrupted) {
    PrintError("cannot remember the list in \"" + AppStatePath() + "\" for the window");
  }
  return true;
}

int ListNew(const std::string& listPath, const Options& o) {
  if (FileExists(listPath) || IsFolder(listPath)) {
    PrintError("\"" + listPath + "\" already exists");
    return EXIT_USAGE;
  }
  CExplorerDoc doc;
  doc.NewDocument(nullptr);
  if (o.level) doc.m_zipLevel = *o.level;
  if (o.include) doc.m_includeMask = *o.include;
  if (o.exclude) doc.m_excludeMask = *o.exclude;
  if (o.noZip) doc.m_noZipMask = *o.noZip;
  bool pwFailed = false;
  std::optional<std::string> pw = ReadPasswordOption(o, pwFailed);
  if (pwFailed) return EXIT_USAGE;
  CCliUi ui(UiOptions(o, pw));
  WipeString(pw);
  std::optional<std::string> password = ui.NewPassword();
  if (!password) return g_interrupted ? EXIT_CANCELLED : EXIT_USAGE;
  GuardKeyDigest(doc.m_digest, *password);
  WipeString(password);
  return StoreList(listPath, doc) ? EXIT_DONE : EXIT_USAGE;
}

int ListAdd(const std::string& listPath, const Options& o) {
  CExplorerDoc doc;
  if (!LoadList(listPath, doc)) return EXIT_USAGE;
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
  if (!StoreList(listPath, doc)) return EXIT_USAGE;
  return refused ? EXIT_INCOMPLETE : EXIT_DONE;
}

int ListRemove(const std::string& listPath, const Options& o) {
  CExplorerDoc doc;
  if (!LoadList(listPath, doc)) return EXIT_USAGE;
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
  if (!StoreList(listPath, doc)) return EXIT_USAGE;
  return missing ? EXIT_INCOMPLETE : EXIT_DONE;
}

int ListShow(const std::string& listPath) {
  CExplorerDoc doc;
  if (!LoadList(listPath, doc)) return EXIT_USAGE;
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
    return EXIT_INCOMPLETE;
  }
  return EXIT_DONE;
}

int ListProtect(const std::string& listPath, const Options& o) {
  CExplorerDoc doc;
  if (!LoadList(listPath, doc)) return EXIT_USAGE;
  if (!doc.HasPassword()) {
    PrintError("the list \"" + listPath + "\" has no password; make it with \"list new\"");
    return EXIT_USAGE;
  }
  std::vector<std::string> files;
  for (const CGuardItem& item : doc.m_items) CollectFilesToEncrypt(files, item);
  if (files.empty()) {
    if (!o.quiet) std::fprintf(stderr, "Nothing to protect.\n");
    return EXIT_DONE;
  }
  CCliUi ui(UiOptions(o, std::nullopt));
  const size_t wanted = PrepareEncryptEntries(files).size();
  const int done = o.jobs > 1
                       ? ParallelEncryptFileList(ui, files, doc.m_digest, doc.m_zipLevel,
                                                 doc.m_noZipMask, o.jobs)
                       : EncryptFileList(ui, files, doc.m_digest, doc.m_zipLevel, doc.m_noZipMask);
  Summary(o, "Protected", done, wanted);
  return Outcome(ui, done, wanted, false);
}

int ListRestore(const std::string& listPath, const Options& o) {
  CExplorerDoc doc;
  if (!LoadList(listPath, doc)) return EXIT_USAGE;
  std::vector<std::string> files;
  for (const CGuardItem& item : doc.m_items) CollectFilesToDecrypt(files, item);
  return RunRestoreOf(o, files, false);
}

int RunList(const std::vector<std::string>& args) {
  if (args.size() < 3) {
    PrintError("list needs a command and a list file");
    std::fputs(kUsage, stderr);
    return EXIT_USAGE;
  }
  const std::string& sub = args[1];
  const std::string listPath = Absolute(args[2]);
  std::string allowed;
  if (sub == "new") {
    allowed = " --level --include --exclude --no-zip --password-file --password-fd --quiet -q ";
  } else if (sub == "add") {
    allowed = " -r --recursive --include --exclude --quiet -q ";
  } else if (sub == "remove" || sub == "show") {
    allowed = " --quiet -q ";
  } else if (sub == "protect") {
    allowed = " --yes -y --no -n -j --jobs --quiet -q ";
  } else if (sub == "restore") {
    allowed = " --password-file --password-fd --yes -y --no -n -j --jobs --quiet -q ";
  } else {
    PrintError("unknown list command \"" + sub + "\"");
    return EXIT_USAGE;
  }
  Options o;
  std::string error;
  if (!ParseOptions(args, 3, allowed, o, error)) {
    PrintError(error);
    return EXIT_USAGE;
  }
  const bool takesPaths = sub == "add" || sub == "remove";
  if (takesPaths && o.paths.empty()) {
    PrintError("list " + sub + " needs at least one path");
    return EXIT_USAGE;
  }
  if (!takesPaths && !o.paths.empty()) {
    PrintError("list " + sub + " takes no paths: " + o.paths.front());
    return EXIT_USAGE;
  }
  if (sub == "new") return ListNew(listPath, o);
  if (sub == "add") return ListAdd(listPath, o);
  if (sub == "remove") return ListRemove(listPath, o);
  if (sub == "show") return ListShow(listPath);
  if (sub == "protect") return ListProtect(listPath, o);
  return ListRestore(listPath, o);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? EXIT_USAGE : EXIT_DONE;
  }
  if (args[0] == "--version") {
    std::printf("vellumguard-cli %s\n", VG_VERSION);
    return EXIT_DONE;
  }
  InstallInterruptHandlers();
  const std::string& command = args[0];
  if (command == "list") return RunList(args);
  std::string allowed;
  if (command == "protect") {
    allowed =
        " -r --recursive --level --include --exclude --no-zip --use-last --use-default "
        "--password-file --password-fd --yes -y --no -n -j --jobs --quiet -q ";
  } else if (command == "restore") {
    allowed =
        " -r --recursive --password-file --password-fd --yes -y --no -n -j --jobs --quiet -q ";
  } else {
    PrintError("unknown command \"" + command + "\"");
    std::fputs(kUsage, stderr);
    return EXIT_USAGE;
  }
  Options o;
  std::string error;
  if (!ParseOptions(args, 1, allowed, o, error)) {
    PrintError(error);
    return EXIT_USAGE;
  }
  if (o.paths.empty()) {
    PrintError(command + " needs at least one path");
    return EXIT_USAGE;
  }
  return command == "protect" ? RunProtect(o) : RunRestore(o);
}

#include "app/guard_verbs.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/paths.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "framework/shell_open.h"
#include "guard/guard_command.h"

#ifndef VG_VERSION
#define VG_VERSION "0.0.0"
#endif

namespace {

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

// The absolute form of a path as given (symbolic links are not resolved, so the names
// the user sees stay the names in the messages). ".." stays for the kernel to resolve:
// "link/../f.~de" is the file beside the link's target, not beside the link.
QString Absolute(const QString& path) {
  const std::string native = Native(path);
  const std::string full =
      !native.empty() && native[0] == '/' ? native : JoinPath(CurrentFolder(), native);
  std::string out;
  size_t i = 0;
  while (i < full.size()) {
    size_t j = full.find('/', i);
    if (j == std::string::npos) j = full.size();
    const std::string_view part = std::string_view(full).substr(i, j - i);
    if (!part.empty() && part != ".") out.append("/").append(part);
    i = j + 1;
  }
  return FromNative(out.empty() ? "/" : out);
}

void PrintLine(const QString& text) {
  std::fprintf(stderr, "vellumguard: %s\n", qPrintable(text));
}

// The closing box: the outcome, then every failure with its reason.
void Summarize(const GuardOutcome& outcome, const QStringList& notFound, bool onlyWhenUnwell) {
  const int code = OutcomeExitCode(outcome);
  if (onlyWhenUnwell && code == GUARD_EXIT_DONE && notFound.isEmpty()) return;
  if (outcome.declined) return;
  QString text = Text(OutcomeText(outcome));
  PrintLine(text);
  QStringList details = notFound;
  for (const GuardFailure& f : outcome.failures)
    details << QStringLiteral("%1: %2").arg(Text(f.path), Text(f.reason));
  for (const QString& d : details) PrintLine(d);
  constexpr int kShown = 20;  // a box with hundreds of lines helps nobody
  if (details.size() > kShown) {
    const int more = static_cast<int>(details.size()) - kShown;
    details = details.mid(0, kShown);
    details << QStringLiteral("... and %1 more").arg(more);
  }
  if (!details.isEmpty()) text += QStringLiteral("\n\n") + details.join(QLatin1Char('\n'));
  const bool well = code == GUARD_EXIT_DONE && notFound.isEmpty();
  AppMessageBox(nullptr, text, well ? QMessageBox::Information : QMessageBox::Warning);
}

int Finish(int code, const QStringList& notFound) {
  return code == GUARD_EXIT_DONE && !notFound.isEmpty() ? GUARD_EXIT_INCOMPLETE : code;
}

int NothingToActOn(const QStringList& notFound) {
  for (const QString& line : notFound) PrintLine(line);
  AppMessageBox(nullptr, notFound.join(QLatin1Char('\n')), QMessageBox::Warning);
  return GUARD_EXIT_USAGE;
}

// Why a named file is never protected, or empty when it may be. Said at once, before a
// password is asked for: a file manager may offer Protect on any file.
QString NeverProtected(const QString& given, const std::string& abs) {
  if (LastPathComponent(abs) == kFolderSettingsName)
    return QStringLiteral(
               "\"%1\" holds the encryption settings of its folder; it is never "
               "protected")
        .arg(given);
  if (IsProtectedPath(abs) && !FileExists(PlainPathOf(abs)))
    return QStringLiteral("\"%1\" is already protected").arg(given);
  return {};
}

int RunProtect(const QStringList& paths, IGuardUi& ui) {
  GuardCommand command;
  command.verb = GuardVerb::Protect;
  QStringList notFound;
  for (const QString& p : paths) {
    const std::string abs = Native(Absolute(p));
    if (IsFolder(abs)) {
      command.paths.push_back(WithTrailingSlash(abs));
    } else if (const QString why = NeverProtected(p, abs); !why.isEmpty()) {
      notFound << why;
    } else if (FileExists(abs) || (IsProtectedPath(abs) && FileExists(PlainPathOf(abs)))) {
      command.paths.push_back(abs);
    } else {
      notFound << QStringLiteral("Cannot protect \"%1\": no such file or folder").arg(p);
    }
  }
  if (command.paths.empty()) return NothingToActOn(notFound);
  const GuardOutcome outcome = RunGuardCommand(ui, command);
  Summarize(outcome, notFound, false);
  return Finish(OutcomeExitCode(outcome), notFound);
}

// The path with its folder resolved by the kernel: an opener that resolved ".." by the
// letters would open another file than the one restored.
std::string FolderResolved(const std::string& path) {
  char* real = ::realpath(ParentFolder(path).c_str(), nullptr);
  if (!real) return path;
  std::string resolved = JoinPath(real, LastPathComponent(path));
  std::free(real);
  return resolved;
}

// Hands a restored file to the desktop, unless it is a protected file (that would come
// back here) or a program (that would run): those are shown in their folder when the
// user wants. False when nothing could open the file.
bool OpenRestored(const QString& shown) {
  if (const OpenRisk risk = OpenRiskOf(shown); risk != OpenRisk::None) {
    const QString text = NotOpenedText(shown, risk);
    PrintLine(text.section(QLatin1Char('\n'), 0, 0));
    if (AppMessageBox(nullptr, text, QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No) ==
        QMessageBox::Yes) {
      ShowInFolder(shown);
    }
    return true;
  }
  if (OpenWithDesktop(FileUrlOf(shown))) return true;
  const QString text =
      QStringLiteral("Cannot open %1: no application is set up to open it.").arg(shown);
  PrintLine(text);
  AppMessageBox(nullptr, text, QMessageBox::Warning);
  return false;
}

int RunRestore(const QStringList& paths, IGuardUi& ui, bool open) {
  GuardCommand command;
  command.verb = GuardVerb::Restore;
  command.subfolders = RestoreSubfolders::AskWhenProtectedBelow;
  QStringList notFound;
  std::vector<std::string> toOpen;
  for (const QString& p : paths) {
    const std::string abs = Native(Absolute(p));
    if (!open && IsFolder(abs)) {
      command.paths.push_back(WithTrailingSlash(abs));
      continue;
    }
    const std::string protectedPath = IsProtectedPath(abs) ? abs : ProtectedPathOf(abs);
    if ((open && !IsProtectedPath(abs)) || !FileExists(protectedPath)) {
      notFound << QStringLiteral("Cannot restore \"%1\": no protected file of that name").arg(p);
      continue;
    }
    command.paths.push_back(protectedPath);
    toOpen.push_back(protectedPath);
  }
  if (command.paths.empty()) return NothingToActOn(notFound);
  const GuardOutcome outcome = RunGuardCommand(ui, command);
  if (!open) {
    Summarize(outcome, notFound, false);
    return Finish(OutcomeExitCode(outcome), notFound);
  }
  // Only what was restored is opened: handing a protected file to the desktop would come
  // straight back here.
  int code = Finish(OutcomeExitCode(outcome), notFound);
  for (const std::string& path : toOpen) {
    const std::string plain = PlainPathOf(path);
    if (FileExists(path) || !FileExists(plain)) continue;
    if (!OpenRestored(FromNative(FolderResolved(plain))) && code == GUARD_EXIT_DONE) {
      code = GUARD_EXIT_INCOMPLETE;
    }
  }
  // A cancel needs no word; anything else that went wrong does.
  if (!outcome.cancelled) Summarize(outcome, notFound, true);
  return code;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
  CommandLine line;
  bool endOfOptions = false;
  for (const QString& a : arguments) {
    if (!endOfOptions && a.startsWith(QLatin1Char('-')) && a != QLatin1String("-")) {
      CommandLine::Action verb = CommandLine::BadUsage;
      if (a == QLatin1String("--")) {
        endOfOptions = true;
        continue;
      }
      if (a == QLatin1String("--protect")) verb = CommandLine::Protect;
      if (a == QLatin1String("--restore")) verb = CommandLine::Restore;
      if (a == QLatin1String("--open")) verb = CommandLine::Open;
      if (a == QLatin1String("--edit")) verb = CommandLine::Edit;
      if (a == QLatin1String("--help") || a == QLatin1String("-h")) verb = CommandLine::Help;
      if (a == QLatin1String("--version")) verb = CommandLine::Version;
      if (verb == CommandLine::BadUsage) {
        line.action = CommandLine::BadUsage;
        line.error = QStringLiteral("unknown option %1").arg(a);
        return line;
      }
      if (verb == CommandLine::Help || verb == CommandLine::Version) {
        line.action = verb;
        return line;
      }
      if (line.action != CommandLine::Window) {
        line.action = CommandLine::BadUsage;
        line.error = QStringLiteral("give one of --protect, --restore, --open and --edit");
        return line;
      }
      line.action = verb;
      continue;
    }
    line.paths << a;
  }
  if (line.action == CommandLine::Window) {
    // A double click on a protected file edits it; "Restore and Open" is --open.
    bool allProtected = !line.paths.isEmpty();
    for (const QString& p : line.paths)
      allProtected = allProtected && p.endsWith(QLatin1String(".~de"));
    if (allProtected) line.action = CommandLine::Edit;
  } else if (line.paths.isEmpty() && line.action != CommandLine::BadUsage) {
    line.error = QStringLiteral("%1 needs at least one path")
                     .arg(line.action == CommandLine::Protect   ? QStringLiteral("--protect")
                          : line.action == CommandLine::Restore ? QStringLiteral("--restore")
                          : line.action == CommandLine::Edit    ? QStringLiteral("--edit")
                                                                : QStringLiteral("--open"));
    line.action = CommandLine::BadUsage;
  }
  return line;
}

QString CommandLineUsage() {
  return QStringLiteral(
      "Usage:\n"
      "  vellumguard [LIST.dlt]             open the window (with that guard list)\n"
      "  vellumguard --protect PATH...      protect files and folders\n"
      "  vellumguard --restore PATH...      restore protected files and folders\n"
      "  vellumguard --open FILE.~de...     restore protected files and open them\n"
      "  vellumguard --edit FILE.~de...     edit protected files; every save is protected\n"
      "  vellumguard --help | --version\n"
      "\n"
      "The verbs show the window's settings dialog, password prompt and progress window\n"
      "without the main window, say what happened at the end and exit with 0 done, 1 some\n"
      "files failed or were skipped, 2 bad usage or nothing to act on, 3 a wrong password\n"
      "ended a restore, 130 cancelled. Protected files given without a verb are edited as\n"
      "--edit does.\n");
}

QString VersionText() {
  return QStringLiteral("vellumguard %1\n").arg(QStringLiteral(VG_VERSION));
}

int RunGuardVerb(const CommandLine& line, const GuardUiFactory& guardUi) {
  if (!guardUi) return GUARD_EXIT_USAGE;
  std::unique_ptr<IGuardUi> ui = guardUi(nullptr);
  if (!ui) return GUARD_EXIT_USAGE;
  switch (line.action) {
    case CommandLine::Protect:
      return RunProtect(line.paths, *ui);
    case CommandLine::Restore:
      return RunRestore(line.paths, *ui, false);
    case CommandLine::Open:
      return RunRestore(line.paths, *ui, true);
    default:
      return GUARD_EXIT_USAGE;
  }
}

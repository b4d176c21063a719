#pragma once
// The window program's command line. Besides a list file to open in the window, it takes
// the verbs that file managers and double clicks use: protect or restore what was chosen
// with the window's own dialogs and progress window but without the main window, or
// restore a protected file and open it. A verb says what happened at the end and exits
// with the command-line tool's exit codes.
#include <QString>
#include <QStringList>

#include "guard/ui/guard_ui_factory.h"

struct CommandLine {
  enum Action { Window, Protect, Restore, Open, Edit, Help, Version, BadUsage };
  Action action = Window;
  QStringList paths;  // as given; a list file for Window
  QString error;      // BadUsage: what was wrong
};

// Reads the arguments (without the program name). Protected files given without a verb
// are edited as --edit does, so that a double click on one edits it in place.
CommandLine ParseCommandLine(const QStringList& arguments);

// The text of --help and --version.
QString CommandLineUsage();
QString VersionText();

// Runs Protect, Restore or Open with the dialogs guardUi makes (owned by no window) and
// returns the exit code: 0 done, 1 some files failed or were skipped, 2 bad usage or
// nothing to act on, 3 a wrong password ended a restore, 130 cancelled. The closing
// summary is a message box through Prompts() and a line on stderr.
int RunGuardVerb(const CommandLine& line, const GuardUiFactory& guardUi);

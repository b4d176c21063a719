#pragma once
// Opening files, folders and links with the desktop's default application. The opener
// (xdg-open) gets a file URL built from the name's own bytes and its exit status is read,
// so a file that nothing can open is said to be so rather than taken as opened. Tests
// put a recording opener in place so that nothing is started.
#include <QString>
#include <QUrl>
#include <functional>
#include <string_view>

using UrlOpener = std::function<bool(const QUrl& url)>;

// The file URL of a file-system path, percent-encoded from its bytes, so that a name that
// is not UTF-8 reaches the opener as itself ("caf\xE9.txt" gives ".../caf%E9.txt").
QUrl FileUrlFromNative(std::string_view native);
// The same for a path as the user interface holds it (framework/native_path.h).
QUrl FileUrlOf(const QString& path);

// True when an application took url: the opener ended with status 0, or still runs after
// a few seconds (an opener that runs the application in its own place). False when no
// opener could be started or it failed (no application for the type, a missing file).
bool OpenWithDesktop(const QUrl& url);
// Replaces the opener for the whole program; an empty function restores the desktop's.
void SetUrlOpener(UrlOpener opener);

// Why a file that was just restored, perhaps from someone else, must not go to the
// opener: a protected file would come straight back to be restored, and a program would
// run (an execute bit, a desktop entry, or a type the shared MIME database calls
// executable or a script).
enum class OpenRisk { None, Protected, Program };
OpenRisk OpenRiskOf(const QString& path);
// The text that says where such a file is and why it was not opened, asking whether to
// show it in its folder.
QString NotOpenedText(const QString& path, OpenRisk risk);
// Opens the folder that holds path with the desktop's file manager.
bool ShowInFolder(const QString& path);

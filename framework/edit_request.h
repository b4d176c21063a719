#pragma once
// "Edit Protected File": the panes ask for a protected file to be edited, and the
// program's owner of edit sessions (set up at start) takes the request. Without one the
// request fails and the pane says so.
#include <QString>
#include <functional>

using ProtectedFileEditor = std::function<bool(const QString& protectedPath)>;

// True when an editor is set up. It shows its own failures; a prompt the user cancelled
// is none.
bool CanEditProtectedFiles();
// True when an editor was set up and began (or handed on) the edit.
bool EditProtectedFile(const QString& protectedPath);
// Sets the handler for the whole program; an empty function removes it.
void SetProtectedFileEditor(ProtectedFileEditor editor);

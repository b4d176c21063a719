#pragma once
// Moving files to the desktop's trash (the freedesktop trash, by the names' own bytes), with
// the home trash made first when it is missing.
#include <QString>
#include <QStringList>

#include "explorer/file_operations.h"

// Moves every path to the desktop's trash. The home trash is made first when missing
// (with its data folder, mode 0700); a path that cannot be trashed is reported and stays
// where it was.
FileOpResult MoveToTrash(const QStringList& paths, IFileOpUi& ui);
// The freedesktop home trash, $XDG_DATA_HOME/Trash (~/.local/share/Trash by default).
QString HomeTrashFolder();
// Creates the home trash with its "files" and "info" folders when missing; false with the
// folder and the reason in error when it cannot.
bool EnsureHomeTrash(QString* error);

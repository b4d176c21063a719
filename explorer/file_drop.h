#pragma once
// What a drop of files onto the file list does, apart from the widget's event plumbing:
// whether it is taken at all and whether it copies or moves.
#include <QString>
#include <QStringList>
#include <Qt>

struct FileDrop {
  QStringList sources;    // the dropped local paths, without trailing "/"
  QString target;         // the folder the files would go to; empty when there is none
  bool onRow = false;     // target is the folder row under the cursor, not the shown folder
  bool fromHere = false;  // the drag started in this file list
  QString shownFolder;    // the folder the list shows
  Qt::KeyboardModifiers modifiers;
  Qt::DropActions possible;  // what the drag source allows
};

// Qt::IgnoreAction when the drop is refused: nothing dropped, no target, a source onto
// itself, or files of this list back into the folder they came from. Otherwise Ctrl
// copies, Shift moves, and without either a drop moves within one file system and copies
// across; where the drag source does not allow that action it gets the one it allows.
Qt::DropAction DropActionFor(const FileDrop& drop);

#include "explorer/file_drop.h"

#include <sys/stat.h>

#include "explorer/explorer_paths.h"
#include "framework/native_path.h"

namespace {

bool Refused(const FileDrop& drop) {
  if (drop.sources.isEmpty() || drop.target.isEmpty()) return true;
  const QString target = TrimmedPath(drop.target);
  // Back into the folder it came from: nothing to do.
  if (drop.fromHere && !drop.onRow && TrimmedPath(drop.shownFolder) == target) return true;
  // Onto itself.
  return drop.sources.contains(target);
}

bool SameFileSystem(const QString& a, const QString& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(Native(a).c_str(), &sa) == 0 && ::stat(Native(b).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev;
}

}  // namespace

Qt::DropAction DropActionFor(const FileDrop& drop) {
  if (Refused(drop)) return Qt::IgnoreAction;
  Qt::DropAction action = Qt::CopyAction;
  if (drop.modifiers & Qt::ControlModifier) {
    action = Qt::CopyAction;
  } else if (drop.modifiers & Qt::ShiftModifier) {
    action = Qt::MoveAction;
  } else if (SameFileSystem(drop.sources.first(), TrimmedPath(drop.target))) {
    action = Qt::MoveAction;
  }
  if (!(drop.possible & action)) {
    action = (drop.possible & Qt::CopyAction) ? Qt::CopyAction : Qt::MoveAction;
    if (!(drop.possible & action)) return Qt::IgnoreAction;
  }
  return action;
}

#pragma once
// The narrow surface between the main frame and its panes: commands reach the pane with
// the keyboard focus first, update handlers set a command's state before menus and
// toolbars show it, and panes move the other panes only through the navigator.
#include <QString>

// Origin of a navigation, so that the pane that moved is not told again.
enum NavSource : int { NAV_ELSEWHERE = 0, NAV_TREE = 1, NAV_LIST = 2, NAV_ADDRESS = 3 };

class INavigator {
 public:
  virtual ~INavigator() = default;
  // Makes every pane other than the origin show the folder.
  virtual void NavigateTo(const QString& path, NavSource source) = 0;
  // Opens a list file as the window's guard list ("save changes?" first), as the address
  // bar does. False when nothing was opened (the user was told why, or cancelled).
  virtual bool OpenListFile(const QString& /*path*/) { return false; }
};

// A command's state as an update handler leaves it.
struct CommandUpdate {
  bool enabled = true;
  bool checked = false;
  bool setChecked = false;  // the handler decided the check mark (or radio mark)
  bool radio = false;
  QString text;  // a new menu text when setText is true
  bool setText = false;
  void Enable(bool on) { enabled = on; }
  void SetCheck(bool on) { checked = on, setChecked = true; }
  void SetRadio(bool on) { checked = on, setChecked = true, radio = true; }
  void SetText(const QString& t) { text = t, setText = true; }
};

// Anything on the command route: panes, the document, the frame, the application.
class ICommandTarget {
 public:
  virtual ~ICommandTarget() = default;
  // True when this target handled the command.
  virtual bool OnCommand(int id) = 0;
  // True when this target has an update handler for the command (it then filled update).
  virtual bool OnUpdateCommand(int id, CommandUpdate& update) = 0;
};

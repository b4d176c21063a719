#pragma once
// The window's side of the guard operations: message boxes captioned "Vellumguard", the
// password and settings dialogs and the progress window, all owned by one window.
#include <QPointer>
#include <QWidget>
#include <string>

#include "guard/guard_ui.h"
#include "guard/ui/guard_ui_factory.h"

class CWindowGuardUi : public IGuardUi {
 public:
  explicit CWindowGuardUi(QWidget* owner);

  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  bool AskPassword(const std::string& prompt, std::string& password) override;
  bool AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                             std::string& password) override;
  bool EditSettings(SettingsDialogData& data) override;
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override;
  void RestoreFocus() override;

 private:
  QPointer<QWidget> m_owner;
  // The file of the last password prompt: the restore asks for the same file again only
  // after the password typed for it was wrong.
  std::string m_lastPrompt;
};

// The factory that the frame hands to its panes.
GuardUiFactory MakeWindowGuardUiFactory();

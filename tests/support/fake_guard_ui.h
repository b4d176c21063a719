#pragma once
// The scripted user of every test that drives the guard operations: message boxes,
// password prompts and the settings dialog answer from queues set up by the test, and
// every text shown is recorded, so tests assert the program's exact texts and their
// order. Windows that make a user per command get Forwarder()s of one shared fake.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "guard/guard_ui.h"

class FakeGuardUi : public IGuardUi {
 public:
  // Everything asked or shown, one line each: "message Question YesNo: <text>",
  // "password: <prompt>" (after "notice: <line>" when it has one), "settings: <title>
  // flags <n>", "progress: <title>", "range <lo> <hi>", "status: <text>", "hide", "show",
  // "close", "focus".
  std::vector<std::string> log;
  std::vector<std::string> messages;  // the texts of message boxes only
  std::vector<MsgIcon> icons;         // their icons and buttons, in the same order
  std::vector<MsgButtons> buttons;
  std::vector<std::string> prompts;  // the prompts of password dialogs only
  std::vector<SettingsDialogData> settingsShown;

  // Answers. A message box beyond the queue answers MSG_OK when it has no Yes button,
  // else unscriptedYesNo. A password prompt beyond the queue cancels and, when
  // strictPrompts is set, fails the running GoogleTest test. The settings dialog beyond
  // the queue answers with standingSettings, or cancels when there is none.
  std::deque<int> messageAnswers;
  int unscriptedYesNo = MSG_NO;
  std::deque<std::optional<std::string>> passwords;  // nullopt = Cancel
  bool strictPrompts = true;
  std::deque<std::function<bool(SettingsDialogData&)>> settingsAnswers;
  std::function<bool(SettingsDialogData&)> standingSettings;

  // Progress: the bar as the run drove it; cancel after this many StepBar calls (-1 never).
  int64_t cancelAfterSteps = -1;
  void (*onStep)() = nullptr;  // called at every StepBar (a test's kill point)
  bool cancelled = false;
  uint64_t barPosition = 0;
  uint64_t barUpper = 0;
  uint64_t steps = 0;
  bool logShows = true;

  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  bool AskPassword(const std::string& prompt, std::string& password) override;
  // Logs "notice: <notice>", then answers as AskPassword.
  bool AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                             std::string& password) override;
  bool EditSettings(SettingsDialogData& data) override;
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override;
  void RestoreFocus() override { log.push_back("focus"); }

  // A user that passes every call to this one.
  std::unique_ptr<IGuardUi> Forwarder();
  // The log lines that start with prefix, for order assertions.
  std::vector<std::string> Lines(const std::string& prefix) const;
};

// Settings dialog answers.
std::function<bool(SettingsDialogData&)> TypePassword(const std::string& password, int level = -1);
std::function<bool(SettingsDialogData&)> CancelDialog();

#pragma once
// A scripted user for the guard operations: answers message boxes, password prompts and
// the settings dialog from queues set up by the test, and records every text it was
// shown, so that tests assert the program's exact texts and their order.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "guard/guard_ui.h"

class FakeGuardUi;

class FakeProgress : public IProgressWindow {
 public:
  explicit FakeProgress(FakeGuardUi& ui) : m_ui(ui) {}
  bool IsCancelled() const override;
  void Hide() override;
  void Show() override;
  void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) override;
  uint64_t SetBarStep(uint64_t step) override;
  uint64_t StepBar() override;
  void SetStatusText(const std::string& text) override;
  void PumpMessages(bool) override {}
  void CloseProgress() override;

 private:
  FakeGuardUi& m_ui;
  bool m_visible = true;
  uint64_t m_step = 1;
};

class FakeGuardUi : public IGuardUi {
 public:
  // Everything asked or shown, one line each: "message Question YesNo: <text>",
  // "password: <prompt>", "settings: <title> flags <n>", "progress: <title>",
  // "range <lo> <hi>", "status: <text>", "hide", "show", "close", "focus".
  std::vector<std::string> log;
  std::vector<std::string> messages;  // the texts of message boxes only
  std::vector<std::string> prompts;   // the prompts of password dialogs only
  std::vector<SettingsDialogData> settingsShown;

  std::deque<int> messageAnswers;                    // unscripted: MSG_OK / MSG_NO
  std::deque<std::optional<std::string>> passwords;  // nullopt = Cancel
  std::deque<std::function<bool(SettingsDialogData&)>> settingsAnswers;

  // Progress: the bar as the run drove it; cancel after this many StepBar calls (-1 never).
  int64_t cancelAfterSteps = -1;
  bool cancelled = false;
  uint64_t barPosition = 0;
  uint64_t barUpper = 0;
  uint64_t steps = 0;
  bool logShows = true;

  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override {
    static const char* icons[] = {"Error", "Information", "Question", "Warning"};
    static const char* buttonNames[] = {"Ok", "OkCancel", "YesNo", "YesNoCancel"};
    log.push_back(std::string("message ") + icons[static_cast<int>(icon)] + " " +
                  buttonNames[static_cast<int>(buttons)] + ": " + text);
    messages.push_back(text);
    if (!messageAnswers.empty()) {
      const int a = messageAnswers.front();
      messageAnswers.pop_front();
      return a;
    }
    return buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel ? MSG_OK : MSG_NO;
  }

  bool AskPassword(const std::string& prompt, std::string& password) override {
    log.push_back("password: " + prompt);
    prompts.push_back(prompt);
    if (passwords.empty()) {
      ADD_FAILURE() << "unscripted password prompt: " << prompt;
      return false;
    }
    const std::optional<std::string> answer = passwords.front();
    passwords.pop_front();
    if (!answer) return false;
    password = *answer;
    return true;
  }

  bool EditSettings(SettingsDialogData& data) override {
    log.push_back("settings: " + data.title + " flags " + std::to_string(data.flags));
    settingsShown.push_back(data);
    if (settingsAnswers.empty()) return false;
    auto answer = settingsAnswers.front();
    settingsAnswers.pop_front();
    return answer(data);
  }

  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override {
    log.push_back("progress: " + title);
    barPosition = 0;
    steps = 0;
    cancelled = false;
    return std::make_unique<FakeProgress>(*this);
  }

  void RestoreFocus() override { log.push_back("focus"); }

  // The log without "show"/"hide" lines and bar traffic, for order assertions.
  std::vector<std::string> Lines(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : log) {
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    }
    return out;
  }
};

inline bool FakeProgress::IsCancelled() const {
  return m_ui.cancelled;
}
inline void FakeProgress::Hide() {
  if (m_visible) m_ui.log.push_back("hide");
  m_visible = false;
}
inline void FakeProgress::Show() {
  if (!m_visible && m_ui.logShows) m_ui.log.push_back("show");
  m_visible = true;
}
inline void FakeProgress::SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) {
  m_ui.log.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
  m_ui.barUpper = upper;
  m_step = step;
}
inline uint64_t FakeProgress::SetBarStep(uint64_t step) {
  const uint64_t old = m_step;
  m_step = step;
  return old;
}
inline uint64_t FakeProgress::StepBar() {
  const uint64_t old = m_ui.barPosition;
  m_ui.barPosition += m_step;
  ++m_ui.steps;
  if (m_ui.cancelAfterSteps >= 0 && static_cast<int64_t>(m_ui.steps) >= m_ui.cancelAfterSteps) {
    m_ui.cancelled = true;
  }
  return old;
}
inline void FakeProgress::SetStatusText(const std::string& text) {
  m_ui.log.push_back("status: " + text);
}
inline void FakeProgress::CloseProgress() {
  m_ui.log.push_back("close");
}

// Settings dialog answers.
inline std::function<bool(SettingsDialogData&)> TypePassword(const std::string& password,
                                                             int level = -1) {
  return [password, level](SettingsDialogData& d) {
    d.password = password;
    d.confirm = password;
    if (level >= 0) d.zipLevel = level;
    return true;
  };
}
inline std::function<bool(SettingsDialogData&)> CancelDialog() {
  return [](SettingsDialogData&) { return false; };
}

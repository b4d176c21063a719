#pragma once
// A scripted stand-in for the window's dialogs: message boxes, the password prompt and
// the settings dialog answer from queues the test fills, and every text shown is
// recorded. The progress window is never cancelled.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "guard/guard_ui.h"
#include "guard/ui/guard_ui_factory.h"

struct ScriptedUiLog {
  struct Message {
    std::string text;
    MsgIcon icon;
    MsgButtons buttons;
  };
  // Answers to message boxes in order; an empty queue answers MSG_NO (or MSG_OK for an
  // OK-only box) and counts as unscripted.
  std::deque<int> answers;
  // Typed passwords; nullopt cancels the prompt. An empty queue cancels.
  std::deque<std::optional<std::string>> passwords;
  // Settings dialog: each entry edits the data and returns OK (true) or Cancel.
  std::deque<std::function<bool(SettingsDialogData&)>> settings;

  std::vector<Message> messages;
  std::vector<std::string> passwordPrompts;
  std::vector<SettingsDialogData> settingsShown;
  std::vector<std::string> progressTitles;
  int unscripted = 0;
};

class CScriptedProgress : public IProgressWindow {
 public:
  bool IsCancelled() const override { return false; }
  void Hide() override {}
  void Show() override {}
  void SetBarRange(uint64_t, uint64_t, uint64_t) override {}
  uint64_t SetBarStep(uint64_t step) override { return std::exchange(m_step, step); }
  uint64_t StepBar() override { return std::exchange(m_pos, m_pos + m_step); }
  void SetStatusText(const std::string&) override {}
  void PumpMessages(bool) override {}
  void CloseProgress() override {}

 private:
  uint64_t m_step = 1;
  uint64_t m_pos = 0;
};

class CScriptedGuardUi : public IGuardUi {
 public:
  explicit CScriptedGuardUi(std::shared_ptr<ScriptedUiLog> log) : m_log(std::move(log)) {}

  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override {
    m_log->messages.push_back({text, icon, buttons});
    if (m_log->answers.empty()) {
      ++m_log->unscripted;
      return buttons == MsgButtons::Ok ? MSG_OK : MSG_NO;
    }
    const int answer = m_log->answers.front();
    m_log->answers.pop_front();
    return answer;
  }
  bool AskPassword(const std::string& prompt, std::string& password) override {
    m_log->passwordPrompts.push_back(prompt);
    if (m_log->passwords.empty() || !m_log->passwords.front()) {
      if (!m_log->passwords.empty()) m_log->passwords.pop_front();
      return false;
    }
    password = *m_log->passwords.front();
    m_log->passwords.pop_front();
    return true;
  }
  bool EditSettings(SettingsDialogData& data) override {
    m_log->settingsShown.push_back(data);
    if (m_log->settings.empty()) return false;
    auto edit = std::move(m_log->settings.front());
    m_log->settings.pop_front();
    return edit(data);
  }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override {
    m_log->progressTitles.push_back(title);
    return std::make_unique<CScriptedProgress>();
  }

 private:
  std::shared_ptr<ScriptedUiLog> m_log;
};

inline GuardUiFactory ScriptedFactory(const std::shared_ptr<ScriptedUiLog>& log) {
  return [log](QWidget*) -> std::unique_ptr<IGuardUi> {
    return std::make_unique<CScriptedGuardUi>(log);
  };
}

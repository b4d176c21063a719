#include "fake_guard_ui.h"

#include <gtest/gtest.h>

namespace {

class FakeProgress : public IProgressWindow {
 public:
  explicit FakeProgress(FakeGuardUi& ui) : m_ui(ui) {}
  bool IsCancelled() const override { return m_ui.cancelled; }
  void Hide() override {
    if (m_visible) m_ui.log.push_back("hide");
    m_visible = false;
  }
  void Show() override {
    if (!m_visible && m_ui.logShows) m_ui.log.push_back("show");
    m_visible = true;
  }
  void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) override {
    m_ui.log.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
    m_ui.barUpper = upper;
    m_step = step;
  }
  uint64_t SetBarStep(uint64_t step) override {
    const uint64_t old = m_step;
    m_step = step;
    return old;
  }
  uint64_t StepBar() override {
    const uint64_t old = m_ui.barPosition;
    m_ui.barPosition += m_step;
    ++m_ui.steps;
    if (m_ui.onStep) m_ui.onStep();
    if (m_ui.cancelAfterSteps >= 0 && static_cast<int64_t>(m_ui.steps) >= m_ui.cancelAfterSteps) {
      m_ui.cancelled = true;
    }
    return old;
  }
  void SetStatusText(const std::string& text) override { m_ui.log.push_back("status: " + text); }
  void PumpMessages(bool) override {}
  void CloseProgress() override { m_ui.log.push_back("close"); }

 private:
  FakeGuardUi& m_ui;
  bool m_visible = true;
  uint64_t m_step = 1;
};

class ForwardingUi : public IGuardUi {
 public:
  explicit ForwardingUi(FakeGuardUi& target) : m_target(target) {}
  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override {
    return m_target.ShowMessage(text, icon, buttons);
  }
  bool AskPassword(const std::string& prompt, std::string& password) override {
    return m_target.AskPassword(prompt, password);
  }
  bool AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                             std::string& password) override {
    return m_target.AskPasswordWithNotice(prompt, notice, password);
  }
  bool EditSettings(SettingsDialogData& data) override { return m_target.EditSettings(data); }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override {
    return m_target.OpenProgress(title);
  }
  void RestoreFocus() override { m_target.RestoreFocus(); }

 private:
  FakeGuardUi& m_target;
};

}  // namespace

int FakeGuardUi::ShowMessage(const std::string& text, MsgIcon icon, MsgButtons kind) {
  static const char* iconNames[] = {"Error", "Information", "Question", "Warning"};
  static const char* buttonNames[] = {"Ok", "OkCancel", "YesNo", "YesNoCancel"};
  log.push_back(std::string("message ") + iconNames[static_cast<int>(icon)] + " " +
                buttonNames[static_cast<int>(kind)] + ": " + text);
  messages.push_back(text);
  icons.push_back(icon);
  buttons.push_back(kind);
  if (!messageAnswers.empty()) {
    const int a = messageAnswers.front();
    messageAnswers.pop_front();
    return a;
  }
  return kind == MsgButtons::Ok || kind == MsgButtons::OkCancel ? MSG_OK : unscriptedYesNo;
}

bool FakeGuardUi::AskPassword(const std::string& prompt, std::string& password) {
  log.push_back("password: " + prompt);
  prompts.push_back(prompt);
  if (passwords.empty()) {
    if (strictPrompts) ADD_FAILURE() << "unscripted password prompt: " << prompt;
    return false;
  }
  const std::optional<std::string> answer = passwords.front();
  passwords.pop_front();
  if (!answer) return false;
  password = *answer;
  return true;
}

bool FakeGuardUi::AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                                        std::string& password) {
  log.push_back("notice: " + notice);
  return AskPassword(prompt, password);
}

bool FakeGuardUi::EditSettings(SettingsDialogData& data) {
  log.push_back("settings: " + data.title + " flags " + std::to_string(data.flags));
  settingsShown.push_back(data);
  if (settingsAnswers.empty()) return standingSettings ? standingSettings(data) : false;
  auto answer = settingsAnswers.front();
  settingsAnswers.pop_front();
  return answer(data);
}

std::unique_ptr<IProgressWindow> FakeGuardUi::OpenProgress(const std::string& title) {
  log.push_back("progress: " + title);
  barPosition = 0;
  steps = 0;
  cancelled = false;
  return std::make_unique<FakeProgress>(*this);
}

std::unique_ptr<IGuardUi> FakeGuardUi::Forwarder() {
  return std::make_unique<ForwardingUi>(*this);
}

std::vector<std::string> FakeGuardUi::Lines(const std::string& prefix) const {
  std::vector<std::string> out;
  for (const auto& l : log) {
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  }
  return out;
}

std::function<bool(SettingsDialogData&)> TypePassword(const std::string& password, int level) {
  return [password, level](SettingsDialogData& d) {
    d.password = password;
    d.confirm = password;
    if (level >= 0) d.zipLevel = level;
    return true;
  };
}

std::function<bool(SettingsDialogData&)> CancelDialog() {
  return [](SettingsDialogData&) { return false; };
}

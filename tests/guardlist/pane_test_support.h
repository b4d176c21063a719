#pragma once
// Shared pieces of the guard list pane tests: a scripted user for the guard operations,
// a recorder for the framework's message boxes, and a helper that answers the next modal
// dialog the code under test opens.
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/command_target.h"
#include "framework/prompts.h"
#include "guard/guard_ui.h"
#include "guard/ui/guard_ui_factory.h"

// What the scripted user answers and what it was asked.
struct GuardScript {
  std::deque<std::string> passwords;  // AskPassword answers, in order; none left: Cancel
  std::deque<int> answers;            // ShowMessage answers; none left: Yes or OK
  bool settingsOk = true;             // EditSettings: OK or Cancel
  std::string settingsPassword;       // typed into the settings dialog on OK
  int settingsCalls = 0;
  SettingsDialogData lastSettings;
  std::vector<std::string> messages;
  int passwordPrompts = 0;
  int progressRuns = 0;
};

class FakeProgress : public IProgressWindow {
 public:
  bool IsCancelled() const override { return false; }
  void Hide() override {}
  void Show() override {}
  void SetBarRange(uint64_t, uint64_t, uint64_t) override {}
  uint64_t SetBarStep(uint64_t step) override { return step; }
  uint64_t StepBar() override { return 0; }
  void SetStatusText(const std::string&) override {}
  void PumpMessages(bool) override {}
  void CloseProgress() override {}
};

class ScriptedGuardUi : public IGuardUi {
 public:
  explicit ScriptedGuardUi(std::shared_ptr<GuardScript> script) : m_s(std::move(script)) {}
  int ShowMessage(const std::string& text, MsgIcon, MsgButtons buttons) override {
    m_s->messages.push_back(text);
    if (!m_s->answers.empty()) {
      const int a = m_s->answers.front();
      m_s->answers.pop_front();
      return a;
    }
    return buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel ? MSG_YES : MSG_OK;
  }
  bool AskPassword(const std::string&, std::string& password) override {
    ++m_s->passwordPrompts;
    if (m_s->passwords.empty()) return false;
    password = m_s->passwords.front();
    m_s->passwords.pop_front();
    return true;
  }
  bool EditSettings(SettingsDialogData& data) override {
    ++m_s->settingsCalls;
    m_s->lastSettings = data;
    if (!m_s->settingsOk) return false;
    data.password = data.confirm = m_s->settingsPassword;
    return true;
  }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string&) override {
    ++m_s->progressRuns;
    return std::make_unique<FakeProgress>();
  }

 private:
  std::shared_ptr<GuardScript> m_s;
};

inline GuardUiFactory ScriptedFactory(std::shared_ptr<GuardScript> script) {
  return [script](QWidget*) -> std::unique_ptr<IGuardUi> {
    return std::make_unique<ScriptedGuardUi>(script);
  };
}

// Replaces the framework's message boxes for as long as it lives.
class PromptRecorder {
 public:
  struct Message {
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
  };
  PromptRecorder() {
    Prompts().message = [this](QWidget*, const QString& text, QMessageBox::Icon icon,
                               QMessageBox::StandardButtons buttons) {
      messages.push_back({text, icon, buttons});
      if (!answers.empty()) {
        const auto a = answers.front();
        answers.pop_front();
        return a;
      }
      return (buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    };
  }
  ~PromptRecorder() { RestoreDefaultPrompts(); }
  QStringList Texts() const {
    QStringList t;
    for (const Message& m : messages) t << m.text;
    return t;
  }
  std::vector<Message> messages;
  std::deque<QMessageBox::StandardButton> answers;
};

struct RecordingNavigator : INavigator {
  void NavigateTo(const QString& path, NavSource source) override {
    paths << path;
    sources << source;
  }
  QStringList paths;
  QList<NavSource> sources;
};

// Timers of OnNextModal still waiting for their dialog.
inline QList<QPointer<QTimer>>& PendingModalWatchers() {
  static QList<QPointer<QTimer>> watchers;
  return watchers;
}

// Drops every watcher still waiting, so that none outlives the test that set it up.
inline void CancelPendingModals() {
  for (const QPointer<QTimer>& t : PendingModalWatchers()) delete t.data();
  PendingModalWatchers().clear();
}

// Calls handle with the next modal dialog of type T that opens (within about five
// seconds). The handler closes it; a handler that expects another dialog afterwards
// schedules it after closing this one.
template <typename T>
void OnNextModal(std::function<void(T*)> handle, int* seen = nullptr) {
  auto* timer = new QTimer;
  PendingModalWatchers() << timer;
  auto tries = std::make_shared<int>(0);
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, handle, seen] {
    if (++*tries > 500) {
      timer->stop();
      timer->deleteLater();
      return;
    }
    T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible()) return;
    timer->stop();
    timer->deleteLater();
    if (seen) ++*seen;
    handle(dialog);
  });
  timer->start();
}

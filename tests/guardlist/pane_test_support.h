#pragma once
// Shared pieces of the guard list pane tests: the scripted user (scripted_factory.h), a
// recorder for the framework's message boxes, and a helper that answers the next modal
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
#include "scripted_factory.h"

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

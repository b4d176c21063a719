#pragma once
// The file operations' questions, errors and progress through the window's own message
// boxes and progress window (IGuardUi). The progress window opens only once an operation
// has run for kFileOpProgressDelayMs, and hides while a question is open.
#include <QElapsedTimer>
#include <QString>
#include <memory>

#include "explorer/file_op_ui.h"

class CGuardFileOpUi : public IFileOpUi {
 public:
  CGuardFileOpUi(std::unique_ptr<IGuardUi> ui, QString title);
  ~CGuardFileOpUi() override;

  int Ask(const QString& text, MsgButtons buttons) override;
  void Fail(const QString& text) override;
  bool Progress(quint64 done, quint64 total, const QString& path) override;
  void Finish() override;

 private:
  std::unique_ptr<IGuardUi> m_ui;
  std::unique_ptr<IProgressWindow> m_progress;
  QString m_title;
  QString m_lastPath;
  quint64 m_position = 0;
  QElapsedTimer m_clock;
};

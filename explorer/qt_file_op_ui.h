#pragma once
// The file operations' questions, errors and progress in plain Qt boxes, for owners that
// have no window user interface of their own. The progress dialog opens only once an
// operation has run for kFileOpProgressDelayMs.
#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include "explorer/file_op_ui.h"

class QProgressDialog;

class CQtFileOpUi : public IFileOpUi {
 public:
  CQtFileOpUi(QWidget* owner, QString title);
  ~CQtFileOpUi() override;

  int Ask(const QString& text, MsgButtons buttons) override;
  void Fail(const QString& text) override;
  bool Progress(quint64 done, quint64 total, const QString& path) override;
  void Finish() override;

 private:
  QWidget* m_owner;
  QString m_title;
  QPointer<QProgressDialog> m_dialog;
  QElapsedTimer m_clock;
};

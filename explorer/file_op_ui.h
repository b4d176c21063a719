#pragma once
// What the file operations of the explorer panes need from the user: questions, error
// boxes and a progress window. The window's own prompts serve when it has them
// (CGuardFileOpUi), plain Qt boxes otherwise (CQtFileOpUi).
#include <QString>
#include <QtGlobal>
#include <memory>

#include "guard/guard_ui.h"
#include "guard/ui/guard_ui_factory.h"

class QWidget;

class IFileOpUi {
 public:
  virtual ~IFileOpUi() = default;
  // A question box captioned "Vellumguard"; returns MSG_YES, MSG_NO, MSG_OK or MSG_CANCEL.
  virtual int Ask(const QString& text, MsgButtons buttons) = 0;
  // An error box captioned "Vellumguard".
  virtual void Fail(const QString& text) = 0;
  // Progress of a long operation in bytes; false when the user cancelled.
  virtual bool Progress(quint64 done, quint64 total, const QString& path) = 0;
  // The operation ended: closes a progress window that was shown.
  virtual void Finish() = 0;
};

// A progress window appears only for operations that take longer than this.
inline constexpr qint64 kFileOpProgressDelayMs = 400;

// The user interface of a file operation owned by owner: the window's own message boxes
// and progress window when guardUi is given, plain Qt ones otherwise. progressTitle names
// the progress window ("Copying", "Moving").
std::unique_ptr<IFileOpUi> MakeFileOpUi(QWidget* owner, const GuardUiFactory& guardUi,
                                        const QString& progressTitle = QString());

// The operating system's reason for errno err, for messages.
QString ErrorText(int err);

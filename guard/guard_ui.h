#pragma once
// What the guard operations need from the user, as small interfaces the core defines and
// the window, the command-line tool and the tests implement. Every text handed over is
// the program's own text and is shown exactly as given; message boxes are captioned
// "Vellumguard".
#include <cstdint>
#include <memory>
#include <string>

enum class MsgIcon { Error, Information, Question, Warning };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum MsgResult : int { MSG_OK = 1, MSG_CANCEL = 2, MSG_YES = 6, MSG_NO = 7 };

// The settings dialog's members, written before it runs and read after OK.
struct SettingsDialogData {
  std::string title;  // window caption; empty keeps "Encryption Settings"
  int flags = 0;      // 2: no "Use default password", 4: no "Use last password",
                      // 8: no "Encrypt subfolders"
  std::string password;
  std::string confirm;
  int zipLevel = 6;
  std::string includeMask;
  std::string excludeMask;
  std::string noZipMask;
  bool useDefaultPassword = false;
  bool useLastPassword = false;
  bool encryptSubfolders = false;
};

enum SettingsFlag : int {
  SETTINGS_NO_DEFAULT = 2,
  SETTINGS_NO_LAST = 4,
  SETTINGS_NO_SUBFOLDERS = 8,
};

// The progress window of one guard run. The bar counts tenths of bytes; all counts are
// 64-bit. Implementations keep the user interface alive in PumpMessages.
class IProgressWindow {
 public:
  virtual ~IProgressWindow() = default;
  virtual bool IsCancelled() const = 0;
  virtual void Hide() = 0;
  virtual void Show() = 0;
  virtual void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) = 0;
  virtual uint64_t SetBarStep(uint64_t step) = 0;  // returns the previous step
  virtual uint64_t StepBar() = 0;                  // returns the previous position
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void PumpMessages(bool cancelOnEsc) = 0;
  virtual void CloseProgress() = 0;
};

// The user as the guard operations see them; one object per owner window.
class IGuardUi {
 public:
  virtual ~IGuardUi() = default;
  // A message box owned by the owner window; returns one of MsgResult.
  virtual int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) = 0;
  // The password dialog ("Enter Password") with the given prompt (the dialog shortens a
  // long prompt itself). True on OK, with what was typed (possibly empty).
  virtual bool AskPassword(const std::string& prompt, std::string& password) = 0;
  // The same dialog with a line above the prompt that says why it is asked (several
  // lines are separated by "\n"). By default the plain prompt.
  virtual bool AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                                     std::string& password) {
    (void)notice;
    return AskPassword(prompt, password);
  }
  // The settings dialog; true on OK with the members updated.
  virtual bool EditSettings(SettingsDialogData& data) = 0;
  // Constructs the progress window with the title ("Encrypting", "Decrypting"), laid out
  // for two text lines 400 pixels wide and made modal over the owner window.
  virtual std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) = 0;
  // Gives the keyboard focus back to the owner window at the end of a run.
  virtual void RestoreFocus() {}
};

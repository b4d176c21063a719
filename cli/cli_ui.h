#pragma once
// The user as the command-line tool sees them: questions and passwords on the terminal
// (or from the options when there is none), messages on stderr, and a progress bar on
// stderr when it is a terminal.
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "guard/guard_ui.h"

// Set by SIGINT and SIGTERM; every progress window reports it as a cancel.
extern std::atomic<bool> g_interrupted;
void InstallInterruptHandlers();

enum class OverwriteAnswer { Ask, Yes, No };

struct CliUiOptions {
  bool quiet = false;
  OverwriteAnswer overwrite = OverwriteAnswer::Ask;
  // A password from --password-file or --password-fd: every prompt gets it, so a wrong
  // one fails its file after the usual three attempts without asking anybody.
  std::optional<std::string> password;
};

class CCliUi : public IGuardUi {
 public:
  explicit CCliUi(CliUiOptions options) : m_options(std::move(options)) {}
  ~CCliUi() override;  // wipes the password of the options

  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override;
  bool AskPassword(const std::string& prompt, std::string& password) override;
  bool AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                             std::string& password) override;
  bool EditSettings(SettingsDialogData& data) override;
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override;

  // The settings "dialog" of the tool: decides once, from the options, what the settings
  // dialog would return. Set before a protect command runs.
  struct SettingsChoice {
    std::optional<int> level;
    std::optional<std::string> include, exclude, noZip;
    bool recursive = false;
    bool useLast = false;
    bool useDefault = false;
  };
  void SetSettingsChoice(SettingsChoice choice) { m_choice = std::move(choice); }

  // Asks for a new password twice on the terminal (or takes the option's); nothing when
  // none could be had. The failure was reported.
  std::optional<std::string> NewPassword(const std::string& prompt = "Password: ");

 private:
  CliUiOptions m_options;
  SettingsChoice m_choice;
  std::map<std::string, int> m_asked;  // password prompts per protected file
};

// Exactly what the tool prints for a user-facing failure: "vellumguard-cli: text".
void PrintError(const std::string& text);

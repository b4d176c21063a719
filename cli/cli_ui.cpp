#include "cli/cli_ui.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/terminal.h"
#include "common/text.h"
#include "guard/batch_sync.h"
#include "guard/encryption_settings.h"

std::atomic<bool> g_interrupted{false};

namespace {
void OnInterrupt(int) {
  g_interrupted.store(true);
}

// Passwords longer than the window's password fields could never be typed there, so a
// file protected with one could not be restored from the window.
constexpr size_t kMaxPasswordUnits = 32;

std::string HumanBytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  int u = 0;
  while (bytes >= 1024.0 && u < 4) bytes /= 1024.0, ++u;
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
  return buf;
}

// The tests' kill point: VELLUMGUARD_TEST_SIGNAL_AT_STEP="N SIG" makes the tool send
// itself signal SIG at its N-th step (progress steps and the batch's commit steps), so
// a kill lands at a chosen step instead of after a sleep timed on a quiet machine.
struct TestKillPoint {
  long at = 0;
  int signal = 0;
  std::atomic<long> seen{0};
};
TestKillPoint& KillPoint() {
  static TestKillPoint point;
  static const bool read = [] {
    const char* setting = std::getenv("VELLUMGUARD_TEST_SIGNAL_AT_STEP");
    if (setting && std::sscanf(setting, "%ld %d", &point.at, &point.signal) != 2) point.at = 0;
    return true;
  }();
  (void)read;
  return point;
}

void CountTestStep() {
  TestKillPoint& p = KillPoint();
  if (p.at > 0 && ++p.seen == p.at) std::raise(p.signal);
}

void CountTestBatchStep(BatchStep, const std::string&, bool) {
  CountTestStep();
}

class CTerminalProgress : public IProgressWindow {
 public:
  CTerminalProgress(std::string title, bool visible)
      : m_title(std::move(title)), m_visible(visible) {}
  ~CTerminalProgress() override { CloseProgress(); }

  bool IsCancelled() const override { return g_interrupted.load(); }
  void Hide() override {
    if (m_drawn) Erase();
    if (!m_hidden) m_hiddenSince = Clock::now();
    m_hidden = true;
  }
  void Show() override {
    // Time spent hidden (a prompt waiting for its answer) is no time spent working.
    if (m_hidden && m_started) m_start += Clock::now() - m_hiddenSince;
    m_hidden = false;
  }
  void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) override {
    m_lower = lower, m_upper = upper, m_step = step;
  }
  uint64_t SetBarStep(uint64_t step) override {
    const uint64_t old = m_step;
    m_step = step;
    return old;
  }
  uint64_t StepBar() override {
    const uint64_t old = m_position;
    // The rate and the time left count from the first work done, not from a password
    // prompt that came before it.
    if (!m_started) {
      m_started = true;
      m_start = Clock::now();
      m_startPosition = m_position;
    }
    m_position += m_step;
    CountTestStep();
    Draw(false);
    return old;
  }
  void SetStatusText(const std::string& text) override {
    m_status = text;
    Draw(true);
  }
  void PumpMessages(bool) override {}
  void CloseProgress() override {
    if (m_drawn) Erase();
    m_closed = true;
  }

 private:
  using Clock = std::chrono::steady_clock;

  void Erase() {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_drawn = false;
  }

  void Draw(bool force) {
    if (!m_visible || m_hidden || m_closed) return;
    const auto now = Clock::now();
    if (!force && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    const uint64_t span = m_upper > m_lower ? m_upper - m_lower : 0;
    const uint64_t pos = std::min(m_position, span);
    const int percent = span ? static_cast<int>(pos * 100 / span) : 0;
    // The bar counts tenths of bytes; show bytes.
    const double doneBytes = static_cast<double>(pos) * 10.0;
    const double totalBytes = static_cast<double>(span) * 10.0;
    const double secs = m_started ? std::chrono::duration<double>(now - m_start).count() : 0.0;
    const double sinceStart = static_cast<double>(pos - std::min(m_startPosition, pos)) * 10.0;
    const double rate = secs > 0.2 ? sinceStart / secs : 0.0;
    char eta[32] = "--:--";
    if (rate > 0 && totalBytes >= doneBytes) {
      const auto left = static_cast<long>((totalBytes - doneBytes) / rate);
      std::snprintf(eta, sizeof eta, "%ld:%02ld", left / 60, left % 60);
    }
    const int width = 20;
    const int filled = percent * width / 100;
    std::string line = m_title + " [" + std::string(filled, '#') +
                       std::string(width - filled, ' ') + "] " + std::to_string(percent) + "% " +
                       HumanBytes(doneBytes) + " / " + HumanBytes(totalBytes) + " " +
                       HumanBytes(rate) + "/s ETA " + eta + " ";
    const int cols = TerminalColumns() - 1;
    std::string status = m_status;
    const int room = cols - static_cast<int>(line.size());
    if (room <= 3) {
      status.clear();
    } else if (static_cast<int>(status.size()) > room) {
      status = "..." + status.substr(status.size() - (room - 3));
    }
    line += status;
    if (static_cast<int>(line.size()) > cols) line.resize(cols);
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    m_drawn = true;
  }

  std::string m_title;
  bool m_visible;
  bool m_hidden = false;
  bool m_closed = false;
  bool m_drawn = false;
  uint64_t m_lower = 0, m_upper = 0, m_step = 1, m_position = 0;
  std::string m_status;
  bool m_started = false;
  uint64_t m_startPosition = 0;  // the bar's position when the work began
  Clock::time_point m_start{};
  Clock::time_point m_hiddenSince{};
  Clock::time_point m_lastDraw{};
};
}  // namespace

void InstallInterruptHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a terminal read ends at Ctrl-C
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGHUP, &sa, nullptr);
  if (KillPoint().at > 0) SetBatchStepHookForTesting(CountTestBatchStep);
}

void PrintError(const std::string& text) {
  std::fprintf(stderr, "vellumguard-cli: %s\n", text.c_str());
}

CCliUi::~CCliUi() {
  WipeString(m_options.password);
}

int CCliUi::ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  if (buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel) {
    if (m_options.overwrite == OverwriteAnswer::Yes) return MSG_YES;
    if (m_options.overwrite == OverwriteAnswer::No || g_interrupted) return MSG_NO;
    const std::optional<bool> yes = AskYesNo(text);
    if (!yes) {
      // Nobody to ask: the safe answer keeps the existing file.
      if (!m_options.quiet) PrintError(text + " No terminal to ask: skipped.");
      return MSG_NO;
    }
    return *yes ? MSG_YES : MSG_NO;
  }
  if (icon == MsgIcon::Error || icon == MsgIcon::Warning) {
    PrintError(text);
  } else if (!m_options.quiet) {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  return MSG_OK;
}

bool CCliUi::AskPassword(const std::string& prompt, std::string& password) {
  const int attempt = ++m_asked[prompt];
  if (m_options.password) {
    password = *m_options.password;
    return true;
  }
  if (g_interrupted) return false;
  const std::string question = attempt == 1 ? "Password for " + prompt + ": "
                                            : "Wrong password. Password for " + prompt + ": ";
  std::optional<std::string> line = ReadSecretLine(question);
  if (!line) return false;
  password = *line;
  WipeString(line);
  return true;
}

bool CCliUi::AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                                   std::string& password) {
  if (m_options.password) {
    password = *m_options.password;
    return true;
  }
  if (g_interrupted || !HaveTerminal()) return false;
  std::fprintf(stderr, "%s\n", notice.c_str());
  std::optional<std::string> line = ReadSecretLine("Password for " + prompt + ": ");
  if (!line) return false;
  password = *line;
  WipeString(line);
  return true;
}

std::optional<std::string> CCliUi::NewPassword(const std::string& prompt) {
  if (m_options.password) {
    if (m_options.password->empty()) {
      PrintError("the password is empty");
      return std::nullopt;
    }
    if (FromUtf8(*m_options.password).size() > kMaxPasswordUnits) {
      PrintError("the password is longer than 32 characters");
      return std::nullopt;
    }
    if (!IsUsablePassword(*m_options.password)) {
      PrintError(std::string(kUnusablePasswordText));
      return std::nullopt;
    }
    return m_options.password;
  }
  if (!HaveTerminal()) {
    PrintError(
        "no password given and no terminal to ask for one "
        "(use --password-file or --password-fd)");
    return std::nullopt;
  }
  for (int attempt = 0; attempt < 3 && !g_interrupted; ++attempt) {
    std::optional<std::string> first = ReadSecretLine(prompt);
    if (!first) return std::nullopt;
    if (first->empty()) {
      std::fprintf(stderr, "Please enter password!\n");
      continue;
    }
    if (FromUtf8(*first).size() > kMaxPasswordUnits) {
      WipeString(first);
      std::fprintf(stderr, "The password may have at most 32 characters.\n");
      continue;
    }
    if (!IsUsablePassword(*first)) {
      WipeString(first);
      std::fprintf(stderr, "%s\n", std::string(kUnusablePasswordText).c_str());
      continue;
    }
    std::optional<std::string> second = ReadSecretLine("Confirm: ");
    const bool same = second && *first == *second;
    WipeString(second);
    if (same) return first;
    WipeString(first);
    if (!second && g_interrupted) return std::nullopt;
    std::fprintf(stderr, "Password does not match\n");
  }
  PrintError("no password was set");
  return std::nullopt;
}

bool CCliUi::EditSettings(SettingsDialogData& data) {
  if (m_choice.level) data.zipLevel = *m_choice.level;
  if (m_choice.include) data.includeMask = *m_choice.include;
  if (m_choice.exclude) data.excludeMask = *m_choice.exclude;
  if (m_choice.noZip) data.noZipMask = *m_choice.noZip;
  data.encryptSubfolders = m_choice.recursive;
  data.useLastPassword = data.useDefaultPassword = false;
  if (m_choice.useLast) {
    if (data.flags & SETTINGS_NO_LAST) {
      PrintError(
          "there is no last password: the folder has no readable zde.tmp that is yours and "
          "writable only by you");
      return false;
    }
    data.useLastPassword = true;
    data.password = data.confirm = "0123456789";
    return true;
  }
  if (m_choice.useDefault) {
    if (data.flags & SETTINGS_NO_DEFAULT) {
      PrintError(
          "there is no default password: VellumDef.dat is missing, unreadable, not yours or "
          "writable by others");
      return false;
    }
    data.useDefaultPassword = true;
    data.password = data.confirm = "0123456789";
    return true;
  }
  std::optional<std::string> pw = NewPassword();
  if (!pw) return false;
  data.password = data.confirm = *pw;
  WipeString(pw);
  return true;
}

std::unique_ptr<IProgressWindow> CCliUi::OpenProgress(const std::string& title) {
  return std::make_unique<CTerminalProgress>(title, !m_options.quiet && StderrIsTerminal());
}

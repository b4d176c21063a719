#include "cli/terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "common/fd_io.h"
#include "common/secret_memory.h"
#include "engine/digest.h"

namespace {
// Restores the terminal's echo even when a signal ends the read.
class TtyFile {
 public:
  TtyFile() : m_fd(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
  ~TtyFile() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int fd() const { return m_fd; }

 private:
  int m_fd;
};

bool WriteAll(int fd, const std::string& s) {
  return ::WriteAll(fd, s.data(), s.size());
}

// Reads up to a line feed; nothing at the end of input before any byte or on error.
// The buffer is reserved up front, so a password typed into it is never copied by a
// growing string, and anything read is wiped when the line is refused.
std::optional<std::string> ReadLine(int fd, size_t limit = 4096) {
  std::string line;
  line.reserve(limit);
  LockSecretPages(line.data(), line.capacity());
  char c = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) {
      // Ctrl-C while typing, an error, or the end of input before any byte.
      if (n < 0 || line.empty()) {
        WipeString(line);
        return std::nullopt;
      }
      break;
    }
    if (c == '\n') break;
    if (line.size() < limit) line += c;
  }
  c = 0;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}
}  // namespace

void WipeString(std::string& s) {
  SecureZero(s.data(), s.size());
  s.clear();
}

void WipeString(std::optional<std::string>& s) {
  if (s) WipeString(*s);
  s.reset();
}

bool HaveTerminal() {
  TtyFile tty;
  return tty.fd() >= 0 && ::isatty(tty.fd());
}

bool StderrIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

std::optional<std::string> ReadSecretLine(const std::string& prompt) {
  TtyFile tty;
  if (tty.fd() < 0) return std::nullopt;
  // Echo goes off before the prompt appears, so nothing typed after it is shown.
  termios old{};
  const bool haveAttr = ::tcgetattr(tty.fd(), &old) == 0;
  if (haveAttr) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(tty.fd(), TCSAFLUSH, &quiet);
  }
  if (!WriteAll(tty.fd(), prompt)) {
    if (haveAttr) ::tcsetattr(tty.fd(), TCSAFLUSH, &old);
    return std::nullopt;
  }
  std::optional<std::string> line = ReadLine(tty.fd());
  if (haveAttr) ::tcsetattr(tty.fd(), TCSANOW, &old);
  if (!line) WriteAll(tty.fd(), "\n");
  return line;
}

std::optional<bool> AskYesNo(const std::string& question) {
  TtyFile tty;
  if (tty.fd() < 0) return std::nullopt;
  for (;;) {
    if (!WriteAll(tty.fd(), question + " [y/N] ")) return std::nullopt;
    const std::optional<std::string> line = ReadLine(tty.fd());
    if (!line) return std::nullopt;
    if (line->empty()) return false;  // a stray Enter keeps what is there
    if (!line->empty() && (line->front() == 'y' || line->front() == 'Y')) return true;
    if (!line->empty() && (line->front() == 'n' || line->front() == 'N')) return false;
  }
}

std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return std::nullopt;
  }
  std::optional<std::string> pw = ReadPasswordFd(fd, error);
  ::close(fd);
  return pw;
}

std::optional<std::string> ReadPasswordFd(int fd, std::string& error) {
  constexpr size_t kLimit = 4096;
  std::string line;
  line.reserve(kLimit);
  LockSecretPages(line.data(), line.capacity());
  char c = 0;
  for (;;) {
    const ssize_t n = ReadSome(fd, &c, 1);
    if (n < 0) {
      error = std::strerror(errno);
      WipeString(line);
      return std::nullopt;
    }
    if (n == 0 || c == '\n') break;
    if (line.size() >= kLimit) {
      error = "password too long";
      WipeString(line);
      return std::nullopt;
    }
    line += c;
  }
  c = 0;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

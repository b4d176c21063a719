#include "framework/shell_open.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QThread>
#include <cerrno>
#include <thread>

#include "common/paths.h"
#include "framework/native_path.h"

extern char** environ;

namespace {

// How long the opener may take to answer before it is taken to run the application
// itself (xdg-open without a desktop's own opener waits for the application to end).
constexpr qint64 kOpenerAnswerMs = 3000;

UrlOpener& Opener() {
  static UrlOpener opener;
  return opener;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

// Runs the opener on the encoded URL and reads its exit status, keeping the user
// interface alive meanwhile.
bool RunOpener(const QByteArray& encodedUrl) {
  QByteArray program("xdg-open");
  QByteArray argument = encodedUrl;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (::posix_spawnp(&pid, program.constData(), nullptr, nullptr, argv, environ) != 0) {
    return false;
  }
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (done < 0 && errno != EINTR) return false;
    if (waited.elapsed() > kOpenerAnswerMs) {
      // Still running: it runs the application. Someone must collect it when it ends.
      std::thread([pid] {
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
      }).detach();
      return true;
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    QThread::msleep(10);
  }
}

bool IsProgramType(const QMimeType& type) {
  static const char* const kPrograms[] = {
      "application/x-executable",
      "application/x-sharedlib",
      "application/x-pie-executable",
      "application/x-shellscript",
      "application/x-desktop",
      "application/x-ms-dos-executable",
      "application/x-msdownload",
      "application/vnd.microsoft.portable-executable",
      "application/x-java-archive",
      "application/x-msi",
      "application/vnd.appimage",
      "application/x-perl",
      "text/x-python",
      "text/x-python3",
  };
  for (const char* name : kPrograms) {
    if (type.inherits(QLatin1String(name))) return true;
  }
  // Other script types by their name too, but not documents ("application/postscript").
  const QString name = type.name();
  return name.contains(QLatin1String("executable")) ||
         (name.contains(QLatin1String("script")) && !name.contains(QLatin1String("postscript")));
}

}  // namespace

QUrl FileUrlFromNative(std::string_view native) {
  QByteArray encoded("file://");
  static const char kHex[] = "0123456789ABCDEF";
  for (const char ch : native) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c)) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
    }
  }
  return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}

QUrl FileUrlOf(const QString& path) {
  return FileUrlFromNative(Native(path));
}

bool OpenWithDesktop(const QUrl& url) {
  if (Opener()) return Opener()(url);
  return RunOpener(url.toEncoded());
}

void SetUrlOpener(UrlOpener opener) {
  Opener() = std::move(opener);
}

OpenRisk OpenRiskOf(const QString& path) {
  const std::string native = Native(path);
  if (IsProtectedPath(native)) return OpenRisk::Protected;
  struct stat st {};
  if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0) {
    return OpenRisk::Program;
  }
  if (path.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive)) return OpenRisk::Program;
  // Both the name and the content: a script renamed to .txt still starts with "#!".
  const QMimeDatabase types;
  if (IsProgramType(types.mimeTypeForFile(path, QMimeDatabase::MatchExtension)) ||
      IsProgramType(types.mimeTypeForFile(path, QMimeDatabase::MatchContent))) {
    return OpenRisk::Program;
  }
  return OpenRisk::None;
}

QString NotOpenedText(const QString& path, OpenRisk risk) {
  const QString why =
      risk == OpenRisk::Protected
          ? QStringLiteral("it is itself a protected file")
          : QStringLiteral("it is a program or a script, and opening it would run it");
  return QStringLiteral("The file was restored to %1 but not opened: %2.\n\nShow it in its folder?")
      .arg(path, why);
}

bool ShowInFolder(const QString& path) {
  return OpenWithDesktop(FileUrlOf(QFileInfo(path).path()));
}

// vellumguard: the window program.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "app/edit_owner.h"
#include "app/edit_sessions_window.h"
#include "app/explorer_app.h"
#include "app/guard_verbs.h"
#include "app/main_frame.h"
#include "app/window_guard_ui.h"
#include "common/secret_memory.h"
#include "framework/edit_request.h"
#include "framework/native_path.h"
#include "framework/prompts.h"

namespace {
// Without a desktop that names an icon theme, use an installed standard one.
void ChooseIconTheme() {
  const QString current = QIcon::themeName();
  if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
  for (const QString& base : QIcon::themeSearchPaths()) {
    for (const QString& name : {QStringLiteral("Adwaita"), QStringLiteral("breeze")}) {
      if (QFileInfo::exists(QDir(base).filePath(name + QStringLiteral("/index.theme")))) {
        QIcon::setThemeName(name);
        return;
      }
    }
  }
}

// Asks before the main window closes while files are being edited.
class QuitGuard : public QObject {
 public:
  explicit QuitGuard(CEditOwner& owner) : m_owner(owner) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Close && !m_owner.ConfirmQuit()) {
      event->ignore();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  CEditOwner& m_owner;
};

// The panes' "Edit Protected File": this process's owner, or the one running.
void UseEditOwnerForPanes(CEditOwner& editOwner, QWidget* frame) {
  SetProtectedFileEditor([&editOwner, frame](const QString& path) {
    if (editOwner.Listening()) return editOwner.Edit(path);
    if (CEditOwner::HandOver({path})) return true;
    AppMessageBox(frame,
                  QStringLiteral("Cannot edit \"%1\": the program that keeps the files being "
                                 "edited did not answer.")
                      .arg(path),
                  QMessageBox::Warning);
    return false;
  });
}

double RealtimeSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}
}  // namespace

int main(int argc, char** argv) {
  // Before any password is typed: no core file, no reading of this process by others.
  KeepSecretsInProcess();
  // --help, --version and bad usage need no display.
  QStringList given;
  for (int i = 1; i < argc; ++i) given << FromNative(argv[i]);
  const CommandLine line = ParseCommandLine(given);
  switch (line.action) {
    case CommandLine::Help:
      std::fputs(qPrintable(CommandLineUsage()), stdout);
      return 0;
    case CommandLine::Version:
      std::fputs(qPrintable(VersionText()), stdout);
      return 0;
    case CommandLine::BadUsage:
      std::fprintf(stderr, "vellumguard: %s\n%s", qPrintable(line.error),
                   qPrintable(CommandLineUsage()));
      return 2;
    default:
      break;
  }

  QApplication qapp(argc, argv);
  QApplication::setApplicationDisplayName(QString());
  QGuiApplication::setDesktopFileName(QStringLiteral(VG_APP_ID));
  ChooseIconTheme();
  CMainFrame::InstallProgramIcon();

  if (line.action != CommandLine::Window) {
    // The settings and the progress window's place are the window program's own.
    CExplorerApp::SetApplicationNames();
    if (line.action == CommandLine::Edit)
      return RunEditVerb(line.paths, MakeWindowGuardUiFactory());
    return RunGuardVerb(line, MakeWindowGuardUiFactory());
  }

  CExplorerApp app;
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (!app.InitInstance(arguments)) return app.ExitInstance(1);

  // VELLUMGUARD_STARTUP_TIMING=1 prints the wall-clock time of the first paint and
  // quits (scripts compare it with the time they started the program);
  // VELLUMGUARD_SCREENSHOT=file.png saves a picture of the window and quits.
  const bool timing = qEnvironmentVariableIsSet("VELLUMGUARD_STARTUP_TIMING");
  const QString shot = qEnvironmentVariable("VELLUMGUARD_SCREENSHOT");
  CMainFrame* frame = app.MainFrame();
  // The window owns the edit sessions of later "--edit" calls, and quitting asks while
  // any is open.
  CEditOwner editOwner(MakeWindowGuardUiFactory());
  CEditSessionsWindow editWindow(editOwner);
  if (editOwner.Listen()) editOwner.RecoverOrphans();
  UseEditOwnerForPanes(editOwner, frame);
  QuitGuard quitGuard(editOwner);
  frame->installEventFilter(&quitGuard);
  if (timing || !shot.isEmpty()) {
    QObject::connect(frame, &CMainFrame::FirstPaint, frame, [frame, timing, shot] {
      if (timing) {
        std::fprintf(stderr, "first-paint %.6f\n", RealtimeSeconds());
        std::fflush(stderr);
      }
      if (shot.isEmpty()) {
        frame->close();
        return;
      }
      // Let the panes fill in before the picture is taken.
      QTimer::singleShot(1500, frame, [frame, shot] {
        if (!frame->grab().save(shot, "PNG"))
          std::fprintf(stderr, "cannot write the screenshot %s\n", qPrintable(shot));
        frame->close();
      });
    });
  }
  return app.ExitInstance(qapp.exec());
}

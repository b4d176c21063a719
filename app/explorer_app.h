#pragma once
// The application object: the application state and the known list paths, the
// profile with the recent files, the list document and the main window. It starts the
// program in a fixed order, takes the command line (no argument: a new list; a path:
// that list), handles New, Open, the recent files, About and Exit, and writes the state
// file at exit.
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

#include "framework/command_target.h"
#include "guardlist/app_state.h"

class CDocManager;
class CExplorerDocument;
class CMainFrame;

class CExplorerApp : public QObject, public ICommandTarget {
  Q_OBJECT
 public:
  explicit CExplorerApp(QObject* parent = nullptr);
  ~CExplorerApp() override;

  // Start-up with the program's arguments (without the program name). False when the
  // program must end (the user has been told why); the window is shown otherwise.
  bool InitInstance(const QStringList& arguments);
  // Writes the state file; a failure is silent. Returns the exit code.
  int ExitInstance(int code = 0);

  // The names under which the profile (recent files, the progress window's place) is kept.
  static void SetApplicationNames();

  void ShowAbout();
  // Closes the window the way the user would (a running guard run is cancelled first).
  // SIGTERM, SIGINT, SIGHUP and the end of the desktop session ask for this.
  void RequestShutdown();
  bool OnCommand(int id) override;
  bool OnUpdateCommand(int id, CommandUpdate& update) override;

  AppState& State() { return m_state; }
  KnownListPaths& ListPaths() { return m_paths; }
  CExplorerDocument* Document() const { return m_document.get(); }
  CDocManager* DocManager() const { return m_docManager.get(); }
  CMainFrame* MainFrame() const { return m_frame.get(); }
  // Whether LoadAppState accepted the state file at start-up.
  bool StateLoaded() const { return m_stateLoaded; }

 private:
  void WatchShutdownRequests();

  AppState m_state{};
  KnownListPaths m_paths;
  bool m_stateLoaded = false;
  std::unique_ptr<CDocManager> m_docManager;
  std::unique_ptr<CExplorerDocument> m_document;
  std::unique_ptr<CMainFrame> m_frame;
};

#include "app/explorer_app.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/about_box.h"
#include "app/main_frame.h"
#include "framework/app_profile.h"
#include "framework/command_ids.h"
#include "framework/doc_manager.h"
#include "framework/native_path.h"
#include "guardlist/ui/explorer_document.h"

namespace {
int g_signalSocket[2] = {-1, -1};

void OnShutdownSignal(int) {
  const char byte = 1;
  // Nothing more can be done inside a signal handler if this fails; a second signal
  // then ends the program the default way.
  if (::write(g_signalSocket[1], &byte, 1) != 1) return;
}
}  // namespace

CExplorerApp::CExplorerApp(QObject* parent) : QObject(parent) {}

CExplorerApp::~CExplorerApp() {
  // The window goes before the document it shows.
  m_frame.reset();
  m_document.reset();
}

bool CExplorerApp::InitInstance(const QStringList& arguments) {
  // The stored geometry is in place before the window is made.
  ResetAppState(m_state);
  m_stateLoaded = LoadAppState(m_state, m_paths);
  if (!m_stateLoaded) ResetAppState(m_state);  // paths read before the fault stay known

  SetApplicationNames();

  m_docManager = std::make_unique<CDocManager>();
  m_docManager->RecentFiles().ReadList();
  // Every known list path in stored order, so that the last one stored comes first.
  for (const std::string& path : m_paths) m_docManager->RecentFiles().Add(FromNative(path));
  m_docManager->RecentFiles().WriteList();

  // The single document and its window.
  m_document = std::make_unique<CExplorerDocument>();
  m_document->SetKnownListPaths(&m_paths);
  m_docManager->SetDocument(m_document.get());
  m_frame = std::make_unique<CMainFrame>(this);
  if (!m_frame->Create()) return false;
  m_docManager->SetOwnerWindow(m_frame.get());
  m_document->SetOwnerWindow(m_frame.get());

  // The command line: the first argument that is not an option names a list file.
  QString file;
  for (const QString& argument : arguments) {
    if (!argument.startsWith(QLatin1Char('-'))) {
      file = argument;
      break;
    }
  }
  if (file.isEmpty()) {
    if (!m_docManager->OnFileNew()) return false;
  } else if (!m_docManager->OpenDocumentFile(QFileInfo(file).absoluteFilePath())) {
    return false;  // the document said why
  }

  m_frame->show();
  WatchShutdownRequests();
  return true;
}

void CExplorerApp::SetApplicationNames() {
  QCoreApplication::setOrganizationName(kProfileOrganisation);
  QCoreApplication::setApplicationName(QStringLiteral("Vellumguard"));
  // Both the window and the verbs come here first: the profile is in its place before
  // either reads it.
  MoveOldAppProfile();
}

void CExplorerApp::WatchShutdownRequests() {
  // Logging out: a guard run stops at its next step before the session ends.
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
    connect(gui, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { RequestShutdown(); });
  static bool installed = false;
  if (!installed) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0) {
      std::fprintf(stderr, "vellumguard: cannot watch for SIGTERM: %s\n", std::strerror(errno));
      return;
    }
    installed = true;
  }
  // The signal handler only writes a byte; this application object reads it.
  auto* notifier = new QSocketNotifier(g_signalSocket[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    if (::read(g_signalSocket[0], &byte, 1) != 1) return;
    // A second signal ends the program at once.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) std::signal(sig, SIG_DFL);
    RequestShutdown();
  });
  struct sigaction action {};
  action.sa_handler = OnShutdownSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    if (::sigaction(sig, &action, nullptr) != 0)
      std::fprintf(stderr, "vellumguard: cannot watch signal %d: %s\n", sig, std::strerror(errno));
}

void CExplorerApp::RequestShutdown() {
  // The frame cancels a running guard run first and closes when it has stopped.
  if (m_frame && m_frame->isVisible()) m_frame->close();
}

int CExplorerApp::ExitInstance(int code) {
  // A state file that cannot be written is not reported: the window only opens with its
  // default geometry next time.
  static_cast<void>(SaveAppState(m_state, m_paths));
  return code;
}

void CExplorerApp::ShowAbout() {
  CAboutBox about(m_frame.get());
  about.exec();
}

bool CExplorerApp::OnCommand(int id) {
  if (id >= ID_FILE_MRU_FIRST && id <= ID_FILE_MRU_LAST) {
    m_docManager->OnOpenRecentFile(id - ID_FILE_MRU_FIRST);
    return true;
  }
  switch (id) {
    case ID_FILE_NEW:
      m_docManager->OnFileNew();
      return true;
    case ID_FILE_OPEN:
      m_docManager->OnFileOpen();
      return true;
    case ID_APP_ABOUT:
      ShowAbout();
      return true;
    case ID_APP_EXIT:
      if (m_frame) m_frame->close();
      return true;
    default:
      return false;
  }
}

bool CExplorerApp::OnUpdateCommand(int id, CommandUpdate& update) {
  if (id >= ID_FILE_MRU_FIRST && id <= ID_FILE_MRU_LAST) {
    const CRecentFileList& recent = m_docManager->RecentFiles();
    const int index = id - ID_FILE_MRU_FIRST;
    if (index < recent.Count()) {
      update.Enable(true);
      update.SetText(recent.MenuText(index));
    } else {
      update.Enable(false);
      if (index == 0) update.SetText(tr("Recent Files"));
    }
    return true;
  }
  switch (id) {
    case ID_FILE_NEW:
    case ID_FILE_OPEN:
    case ID_APP_ABOUT:
    case ID_APP_EXIT:
      update.Enable(true);
      return true;
    default:
      return false;
  }
}

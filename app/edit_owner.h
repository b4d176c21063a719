#pragma once
// The one owner of all edit sessions of a user. The first vellumguard to start listens
// on a local socket in the edit place's folder (0700); a later "vellumguard --edit"
// hands its files to it and exits. For each session the owner starts the desktop's
// application on the plaintext as its own process in a process group of its own,
// protects every settled save back, and finishes on its own only when that is certain:
// the application and everything it forked have ended (and did not end so soon that it
// was a launcher handing the file to an instance running elsewhere), no process holds a
// file of the session folder open, and no editor's lock file has been there for 10 s.
// A launcher's session waits for the user's "Finish Editing".
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "guard/edit_session.h"
#include "guard/ui/guard_ui_factory.h"

class QLocalServer;
class QProcess;
class QSocketNotifier;
class QTimer;
class QWidget;

class CEditOwner : public QObject {
  Q_OBJECT
 public:
  explicit CEditOwner(GuardUiFactory guardUi, QObject* parent = nullptr);
  ~CEditOwner() override;

  // The socket of the owner: "<edit place>/owner".
  static QString SocketPath();
  // Listens on the socket; false when another process owns the sessions (or the folder
  // cannot be made ready).
  bool Listen();
  bool Listening() const { return m_server != nullptr; }
  // Gives paths to the running owner; true when it took them.
  static bool HandOver(const QStringList& paths);

  // Starts editing a protected file: asks before using a folder on a disk, asks the
  // password, starts the application. Failures are shown; false when no session began.
  bool Edit(const QString& protectedPath);
  // Protects a last time and ends session index; false (shown) when it could not.
  bool Finish(int index, bool ask = true);
  // Sessions left by a crash: wiped when nothing was unsaved, else offered.
  void RecoverOrphans();
  // Before quitting: true when there are no sessions or the user finished them all.
  bool ConfirmQuit();

  struct Info {
    QString protectedPath;  // where saves go
    QString document;       // the plaintext being edited
    bool running = false;   // the started application (or what it forked) still runs
    bool handedOn = false;  // it ended at once, a launcher: the user finishes the session
    bool settling = false;  // a change in the folder waits to settle before it is saved
  };
  std::vector<Info> Sessions() const;
  int Count() const { return static_cast<int>(m_sessions.size()); }

  // Looks at every session once (the owner's timer does so every second): notes the
  // applications that ended and finishes the sessions that are certainly done.
  void CheckIdle();

  // Tests: how long saves settle, and the quiet time before finishing on its own.
  int m_settleMs = 500;
  int m_quietMs = 10000;
  int m_launcherMs = 3000;  // an application that ends sooner only handed the file on
  // The clock of the quiet and launcher times, in monotonic milliseconds.
  std::function<qint64()> m_clock;

 signals:
  void SessionsChanged();
  void Message(const QString& text);

 private:
  struct Session;
  void Watch(Session& session);
  void Launch(Session& session);
  void OnSettled(Session& session);
  void NoteEnded(Session& session);
  void OnConnection();
  bool UsablePlace(std::string& root);
  std::unique_ptr<CEditSession> OpenWithPassword(const std::string& path, const std::string& root);
  void Show(const QString& text, bool error);
  void Remove(Session* session);

  GuardUiFactory m_guardUi;
  QLocalServer* m_server = nullptr;
  QTimer* m_idle = nullptr;
  std::vector<std::unique_ptr<Session>> m_sessions;
};

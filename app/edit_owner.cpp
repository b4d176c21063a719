#include "app/edit_owner.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <chrono>

#include "app/edit_launch.h"
#include "common/paths.h"
#include "engine/digest.h"
#include "engine/file_codec.h"
#include "framework/native_path.h"
#include "framework/shell_open.h"
#include "guard/edit_place.h"
#include "guard/edit_recovery.h"

namespace {

constexpr int kPasswordAttempts = 3;

QString Q(const std::string& s) {
  return FromNative(s);
}

}  // namespace

struct CEditOwner::Session {
  std::unique_ptr<CEditSession> core;
  QSocketNotifier* notifier = nullptr;
  QTimer* settle = nullptr;
  QProcess* process = nullptr;
  pid_t group = 0;  // the process group the application was started in
  qint64 startedAt = 0;
  bool exited = false;     // the started process has ended (what it forked may run on)
  bool ended = false;      // the started application and all it forked have ended
  bool launcher = false;   // they ended so soon that they only handed the file on
  qint64 quietSince = -1;  // since nothing held the folder; -1 while something does
};

CEditOwner::CEditOwner(GuardUiFactory guardUi, QObject* parent)
    : QObject(parent),
      m_clock([] {
        return static_cast<qint64>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
      }),
      m_guardUi(std::move(guardUi)),
      m_idle(new QTimer(this)) {
  m_idle->setInterval(1000);
  connect(m_idle, &QTimer::timeout, this, &CEditOwner::CheckIdle);
}

CEditOwner::~CEditOwner() {
  for (const auto& s : m_sessions) {
    if (s->process) s->process->disconnect(this);
  }
}

QString CEditOwner::SocketPath() {
  return Q(FindEditPlace().root) + QStringLiteral("owner");
}

bool CEditOwner::Listen() {
  if (!PrepareEditRoot(FindEditPlace().root).ok()) return false;
  const QString path = SocketPath();
  {
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(1000)) return false;  // another process owns the sessions
  }
  // A socket nobody answers on was left by a crash. The folder is 0700 already.
  QLocalServer::removeServer(path);
  auto* server = new QLocalServer(this);
  if (!server->listen(path)) {
    delete server;
    return false;
  }
  m_server = server;
  connect(m_server, &QLocalServer::newConnection, this, &CEditOwner::OnConnection);
  return true;
}

bool CEditOwner::HandOver(const QStringList& paths) {
  QLocalSocket socket;
  socket.connectToServer(SocketPath());
  if (!socket.waitForConnected(2000)) return false;
  for (const QString& p : paths) {
    socket.write(QFileInfo(p).absoluteFilePath().toUtf8() + '\n');
  }
  socket.write("\n");  // the end of the list
  if (!socket.waitForBytesWritten(2000)) return false;
  // The owner answers once it has the paths; its dialogs come after.
  return socket.waitForReadyRead(5000) && socket.readAll().startsWith("ok");
}

void CEditOwner::OnConnection() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
      *buffer += socket->readAll();
      if (buffer->size() > 1 << 20) {
        socket->abort();  // nobody sends a megabyte of paths
        return;
      }
      if (!buffer->endsWith("\n\n") && *buffer != "\n") return;
      QStringList paths;
      for (const QByteArray& line : buffer->split('\n'))
        if (!line.isEmpty()) paths << QString::fromUtf8(line);
      socket->write("ok\n");
      socket->flush();
      QTimer::singleShot(0, this, [this, paths] {
        for (const QString& p : paths) Edit(p);
      });
    });
  }
}

void CEditOwner::Show(const QString& text, bool error) {
  emit Message(text);
  std::unique_ptr<IGuardUi> ui = m_guardUi ? m_guardUi(nullptr) : nullptr;
  if (ui)
    ui->ShowMessage(Native(text), error ? MsgIcon::Error : MsgIcon::Information, MsgButtons::Ok);
}

bool CEditOwner::UsablePlace(std::string& root) {
  const EditPlace place = FindEditPlace();
  if (place.kind != EditPlaceKind::Memory) {
    std::unique_ptr<IGuardUi> ui = m_guardUi ? m_guardUi(nullptr) : nullptr;
    const std::string question =
        place.reason +
        ".\n\nThe plain content would be written to a disk while it is edited, where it may "
        "stay after it is removed. Edit anyway?";
    if (!ui || ui->ShowMessage(question, MsgIcon::Warning, MsgButtons::YesNo) != MSG_YES) {
      return false;
    }
  }
  if (SysError e = PrepareEditRoot(place.root); !e.ok()) {
    Show(Q(e.Describe("Cannot use the folder for edited files")), true);
    return false;
  }
  root = place.root;
  return true;
}

std::unique_ptr<CEditSession> CEditOwner::OpenWithPassword(const std::string& path,
                                                           const std::string& root) {
  std::unique_ptr<IGuardUi> ui = m_guardUi ? m_guardUi(nullptr) : nullptr;
  if (!ui) return nullptr;
  auto session = std::make_unique<CEditSession>();
  for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
    std::string password;
    if (!ui->AskPassword(path, password)) return nullptr;
    SecretKey key;
    GuardKeyDigest(key.data(), password);
    SecureZero(password.data(), password.size());
    std::string error;
    const int opened = session->Open(root, path, key.data(), EditLevelFor(path), error);
    if (opened == CODEC_OK) return session;
    if (opened != CODEC_BAD_KEY) {
      Show(QStringLiteral("Cannot edit \"%1\": %2").arg(Q(path), Q(error)), true);
      return nullptr;
    }
  }
  Show(QStringLiteral("Wrong password for \"%1\": left as it is.").arg(Q(path)), true);
  return nullptr;
}

bool CEditOwner::Edit(const QString& protectedPath) {
  const std::string path = Native(QFileInfo(protectedPath).absoluteFilePath());
  if (!IsProtectedPath(path) || !FileExists(path)) {
    Show(QStringLiteral("Cannot edit \"%1\": not a protected file that can be read.")
             .arg(protectedPath),
         true);
    return false;
  }
  for (const auto& s : m_sessions) {
    if (s->core->OriginalPath() == path || s->core->TargetPath() == path) {
      Show(QStringLiteral("\"%1\" is being edited already.").arg(Q(path)), false);
      return false;
    }
  }
  std::string root;
  if (!UsablePlace(root)) return false;
  std::unique_ptr<CEditSession> core = OpenWithPassword(path, root);
  if (!core) return false;
  auto session = std::make_unique<Session>();
  session->core = std::move(core);
  session->core->m_settleMs = 0;  // the owner's timer does the settling
  Watch(*session);
  Launch(*session);
  m_sessions.push_back(std::move(session));
  m_idle->start();
  emit SessionsChanged();
  return true;
}

void CEditOwner::Watch(Session& session) {
  Session* s = &session;
  s->settle = new QTimer(this);
  s->settle->setSingleShot(true);
  connect(s->settle, &QTimer::timeout, this, [this, s] { OnSettled(*s); });
  s->notifier = new QSocketNotifier(s->core->WatchDescriptor(), QSocketNotifier::Read, this);
  connect(s->notifier, &QSocketNotifier::activated, this, [this, s] {
    if (s->core->ReadEvents()) s->settle->start(m_settleMs);
  });
}

void CEditOwner::Launch(Session& session) {
  Session* s = &session;
  const QString document = Q(s->core->DocumentPath());
  const QStringList command = DefaultApplicationCommand(document);
  if (command.isEmpty()) {
    // The desktop opens it without telling us when it is done: the user finishes.
    s->ended = s->launcher = true;
    if (!OpenWithDesktop(QUrl::fromLocalFile(document))) {
      Show(QStringLiteral("Cannot open %1: no application is set up to open it.").arg(document),
           true);
    }
    return;
  }
  s->process = new QProcess(this);
  s->process->setProgram(command.front());
  s->process->setArguments(command.mid(1));
  s->process->setProcessChannelMode(QProcess::ForwardedChannels);
  // A group of its own: what the application forks is found by the group, not the pid.
  s->process->setChildProcessModifier([] { ::setpgid(0, 0); });
  connect(s->process, &QProcess::started, this,
          [s] { s->group = static_cast<pid_t>(s->process->processId()); });
  connect(s->process, &QProcess::finished, this, [this, s] {
    s->exited = true;
    NoteEnded(*s);
    emit SessionsChanged();
  });
  connect(s->process, &QProcess::errorOccurred, this, [this, s](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    s->ended = s->launcher = true;
    Show(
        QStringLiteral("Cannot start %1: %2").arg(s->process->program(), s->process->errorString()),
        true);
  });
  s->startedAt = m_clock();
  s->process->start();
}

void CEditOwner::OnSettled(Session& session) {
  const EditSaveResult result = session.core->SaveIfSettled();
  if (const int later = session.core->MillisecondsToSettle(); later > 0) {
    session.settle->start(later);  // a failed save is tried again
  }
  if (!result.message.empty()) {
    Show(Q(result.message), result.status == EditSaveStatus::Failed);
  }
  if (result.status == EditSaveStatus::Conflict) emit SessionsChanged();
}

void CEditOwner::NoteEnded(Session& session) {
  if (session.ended || !session.exited || ProcessGroupAlive(session.group)) return;
  session.ended = true;
  session.launcher = m_clock() - session.startedAt < m_launcherMs;
}

void CEditOwner::CheckIdle() {
  std::vector<Session*> done;
  const qint64 now = m_clock();
  for (const auto& s : m_sessions) {
    if (s->core->ReadEvents()) s->settle->start(m_settleMs);
    if (!s->ended) {
      NoteEnded(*s);
      if (s->ended) emit SessionsChanged();
    }
    // Only an application of our own that really ran and ended makes finishing certain.
    if (!s->ended || s->launcher || s->settle->isActive() || s->core->InUse()) {
      s->quietSince = -1;
      continue;
    }
    if (s->quietSince < 0) s->quietSince = now;
    if (now - s->quietSince >= m_quietMs) done.push_back(s.get());
  }
  for (Session* s : done) {
    for (size_t i = 0; i < m_sessions.size(); ++i) {
      if (m_sessions[i].get() == s) Finish(static_cast<int>(i), false);
    }
  }
  if (m_sessions.empty()) m_idle->stop();
}

bool CEditOwner::Finish(int index, bool ask) {
  if (index < 0 || index >= Count()) return false;
  Session* s = m_sessions[static_cast<size_t>(index)].get();
  if (ask && (!s->ended || s->core->InUse())) {
    std::unique_ptr<IGuardUi> ui = m_guardUi ? m_guardUi(nullptr) : nullptr;
    const std::string question = "\"" + s->core->OriginalPath() +
                                 "\" may still be open in its application; saves made there "
                                 "after this are not protected. Finish editing?";
    if (!ui || ui->ShowMessage(question, MsgIcon::Question, MsgButtons::YesNo) != MSG_YES) {
      return false;
    }
  }
  s->core->ReadEvents();
  std::vector<std::string> messages;
  const bool finished = s->core->Finish(messages);
  QStringList lines;
  for (const std::string& m : messages) lines << Q(m);
  if (!finished) {
    lines << QStringLiteral("The edited copy stays in \"%1\".").arg(Q(s->core->Folder()));
    Show(lines.join(QLatin1Char('\n')), true);
    return false;
  }
  if (!lines.isEmpty()) Show(lines.join(QLatin1Char('\n')), false);
  Remove(s);
  return true;
}

void CEditOwner::Remove(Session* session) {
  for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
    if (it->get() != session) continue;
    delete session->notifier;
    delete session->settle;
    if (session->process) {
      session->process->disconnect(this);
      // The application may go on running; it is not ours to end.
      if (session->process->state() != QProcess::NotRunning) {
        connect(session->process, &QProcess::finished, session->process, &QObject::deleteLater);
      } else {
        session->process->deleteLater();
      }
    }
    m_sessions.erase(it);
    emit SessionsChanged();
    return;
  }
}

std::vector<CEditOwner::Info> CEditOwner::Sessions() const {
  std::vector<Info> infos;
  for (const auto& s : m_sessions) {
    infos.push_back({Q(s->core->TargetPath()), Q(s->core->DocumentPath()), !s->ended,
                     s->ended && s->launcher, s->settle->isActive()});
  }
  return infos;
}

void CEditOwner::RecoverOrphans() {
  OrphanScan scan = FindOrphanSessions(FindEditPlace().root);
  for (const std::string& m : scan.messages) Show(Q(m), true);
  std::unique_ptr<IGuardUi> ui = m_guardUi ? m_guardUi(nullptr) : nullptr;
  if (!ui) return;
  for (const std::unique_ptr<CEditSession>& orphan : scan.unsaved) {
    const std::string question =
        "\"" + orphan->OriginalPath() +
        "\" has unsaved changes from an edit that ended unexpectedly.\n\nYes protects them "
        "now into \"" +
        orphan->TargetPath() +
        "\", No discards them, Cancel leaves them for "
        "later.";
    const int answer = ui->ShowMessage(question, MsgIcon::Question, MsgButtons::YesNoCancel);
    if (answer == MSG_NO) {
      std::string error;
      if (!orphan->Discard(error))
        Show(Q("Cannot discard \"" + orphan->Folder() + "\": " + error), true);
      continue;
    }
    if (answer != MSG_YES) continue;
    for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
      std::string password;
      if (!ui->AskPassword(orphan->TargetPath(), password)) break;
      SecretKey key;
      GuardKeyDigest(key.data(), password);
      SecureZero(password.data(), password.size());
      if (!orphan->KeyOpensTarget(key.data())) continue;
      orphan->SetKey(key.data());
      std::vector<std::string> messages;
      const bool finished = orphan->Finish(messages);
      QStringList lines;
      for (const std::string& m : messages) lines << Q(m);
      if (!lines.isEmpty()) Show(lines.join(QLatin1Char('\n')), !finished);
      break;
    }
  }
}

bool CEditOwner::ConfirmQuit() {
  if (m_sessions.empty()) return true;
  std::unique_ptr<IGuardUi> ui = m_guardUi ? m_guardUi(nullptr) : nullptr;
  const std::string question = std::to_string(m_sessions.size()) +
                               " file(s) are still being edited. Finish editing them and "
                               "quit?";
  if (!ui || ui->ShowMessage(question, MsgIcon::Question, MsgButtons::YesNo) != MSG_YES) {
    return false;
  }
  while (!m_sessions.empty()) {
    if (!Finish(0, false)) return false;
  }
  return true;
}

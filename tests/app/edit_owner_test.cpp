// The owner of edit sessions with a fake application registered through a temporary
// mimeapps.list: a second caller hands its file over through the socket, every save of
// the application goes back, and the session finishes on its own once the application
// has ended and nothing holds the folder, or from "Finish Editing".
#include "app/edit_owner.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <deque>
#include <thread>

#include "app/edit_sessions_window.h"
#include "engine/digest.h"
#include "engine/file_codec.h"
#include "guard/edit_place.h"
#include "guard/single_file.h"

namespace {

const char* const kPassword = "owner test";

// The user: passwords from a queue, the answer the test set to every question.
class ScriptedUi : public IGuardUi {
 public:
  ScriptedUi(std::deque<std::string>* passwords, const int* answer = nullptr)
      : m_passwords(passwords), m_answer(answer) {}
  int ShowMessage(const std::string&, MsgIcon, MsgButtons buttons) override {
    if (buttons == MsgButtons::Ok) return MSG_OK;
    return m_answer ? *m_answer : MSG_YES;
  }
  bool AskPassword(const std::string&, std::string& password) override {
    if (m_passwords->empty()) return false;
    password = m_passwords->front();
    m_passwords->pop_front();
    return true;
  }
  bool EditSettings(SettingsDialogData&) override { return false; }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string&) override { return nullptr; }

 private:
  std::deque<std::string>* m_passwords;
  const int* m_answer;
};

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(f.write(bytes), bytes.size());
}

}  // namespace

class EditOwnerTest : public QObject {
  Q_OBJECT

  QString Path(const QString& name) const { return m_dir.filePath(name); }

  QString Protected(const QString& name, const QByteArray& content) {
    Write(Path(QStringLiteral("docs/") + name), content);
    SecretKey key;
    GuardKeyDigest(key.data(), kPassword);
    std::deque<std::string> none;
    ScriptedUi ui(&none);
    const std::string plain = Path(QStringLiteral("docs/") + name).toStdString();
    if (EncryptOneFile(ui, plain, key.data(), 6, nullptr) != ENCRYPT_DONE) return {};
    return Path(QStringLiteral("docs/") + name + QStringLiteral(".~de"));
  }

  QByteArray Decoded(const QString& protectedPath) {
    CFileCodec codec;
    codec.m_usePasswordText = 0;
    GuardKeyDigest(codec.m_keyDigest, kPassword);
    codec.m_source = protectedPath.toStdString();
    codec.m_destination = Path(QStringLiteral("scratch")).toStdString();
    if (codec.Decode() != CODEC_OK) return "<not decodable>";
    QFile f(Path(QStringLiteral("scratch")));
    if (!f.open(QIODevice::ReadOnly)) return "<not decodable>";
    const QByteArray bytes = f.readAll();
    f.remove();
    return bytes;
  }

  GuardUiFactory Factory() {
    return [this](QWidget*) { return std::make_unique<ScriptedUi>(&m_passwords, &m_answer); };
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    QDir().mkpath(Path(QStringLiteral("docs")));
    QDir().mkpath(Path(QStringLiteral("config")));
    QDir().mkpath(Path(QStringLiteral("data/applications")));
    // A memory folder where the machine has one; the scripted user accepts a disk.
    QString runtime = Path(QStringLiteral("runtime"));
    if (IsMemoryFileSystem("/dev/shm")) {
      m_shm = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/vg-owner-XXXXXX"));
      runtime = m_shm->path();
    }
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
    qputenv("VELLUMGUARD_HOME", Path(QStringLiteral("home")).toUtf8());
    qputenv("XDG_CONFIG_HOME", Path(QStringLiteral("config")).toUtf8());
    qputenv("XDG_CONFIG_DIRS", Path(QStringLiteral("config")).toUtf8());
    qputenv("XDG_DATA_HOME", Path(QStringLiteral("data")).toUtf8());
    // The MIME database stays the system's.
    qputenv("XDG_DATA_DIRS", Path(QStringLiteral("data")).toUtf8() + ":/usr/share");
    // The application saves by a temporary file and a rename, then stays open until
    // the test lets it end.
    Write(Path(QStringLiteral("editor.sh")),
          "printf 'edited by the application' > \"$1.tmp\" && mv -f \"$1.tmp\" \"$1\"\n"
          "while [ ! -e \"$0.done\" ]; do sleep 0.02; done\n");
    Write(Path(QStringLiteral("data/applications/fake-editor.desktop")),
          "[Desktop Entry]\nType=Application\nName=Fake\nExec=/bin/sh " +
              Path(QStringLiteral("editor.sh")).toUtf8() + " %f\n");
    // A launcher that forks the editing child and ends at once; the child waits for the
    // launcher to be gone, saves, and on ".go1" leaves a process of another session
    // holding the document open until ".go2".
    Write(Path(QStringLiteral("launcher.sh")),
          "doc=\"$1\"; t=\"$0\"; launcher=$$\n"
          "(\n"
          "  while kill -0 $launcher 2>/dev/null; do sleep 0.02; done\n"
          "  printf 'saved through the launcher' > \"$doc.tmp\" && mv -f \"$doc.tmp\" \"$doc\"\n"
          "  : > \"$t.child\"\n"
          "  while [ ! -e \"$t.go1\" ]; do sleep 0.02; done\n"
          "  setsid sh -c 'exec 3<\"$1\"; : > \"$2.holder\"; "
          "while [ ! -e \"$2.go2\" ]; do sleep 0.02; done' sh \"$doc\" \"$t\" &\n"
          ") &\n");
    // A launcher that hands the file to an instance running elsewhere and ends.
    Write(Path(QStringLiteral("handoff.sh")), "exit 0\n");
    for (const char* name : {"launcher", "handoff"}) {
      Write(Path(QStringLiteral("data/applications/fake-%1.desktop").arg(QLatin1String(name))),
            "[Desktop Entry]\nType=Application\nName=Fake\nExec=/bin/sh " +
                Path(QStringLiteral("%1.sh").arg(QLatin1String(name))).toUtf8() + " %f\n");
    }
    Write(Path(QStringLiteral("config/mimeapps.list")),
          "[Default Applications]\ntext/plain=fake-editor.desktop;\n"
          "text/csv=fake-launcher.desktop;\ntext/x-csrc=fake-handoff.desktop;\n");
  }

  void cleanupTestCase() {
    // Whatever a failed check left waiting ends.
    for (const char* name : {"launcher.sh.go1", "launcher.sh.go2", "editor.sh.done"})
      Write(Path(QLatin1String(name)), "");
  }

  void handOverSaveAndFinishOnItsOwn() {
    const QString target = Protected(QStringLiteral("a.txt"), "first");
    QVERIFY(!target.isEmpty());
    CEditOwner owner(Factory());
    owner.m_settleMs = 20;
    owner.m_quietMs = 0;
    owner.m_launcherMs = 0;
    CEditSessionsWindow window(owner);
    QVERIFY(owner.Listen());
    CEditOwner second(Factory());
    QVERIFY(!second.Listen());
    m_passwords = {"wrong", kPassword};
    std::atomic<int> handed{-1};
    std::thread caller([&] { handed = CEditOwner::HandOver({target}) ? 1 : 0; });
    QTRY_VERIFY_WITH_TIMEOUT(handed >= 0, 20000);
    caller.join();
    QCOMPARE(handed.load(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(owner.Count(), 1, 20000);
    QCOMPARE(window.List()->topLevelItemCount(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(Decoded(target), QByteArray("edited by the application"), 20000);
    QCOMPARE(QDir(Path(QStringLiteral("docs"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("a.txt.~de")});
    Write(Path(QStringLiteral("editor.sh.done")), "");
    QTRY_COMPARE_WITH_TIMEOUT(owner.Count(), 0, 20000);
    QCOMPARE(window.List()->topLevelItemCount(), 0);
    QCOMPARE(QDir(QString::fromStdString(EditSessionsFolder(FindEditPlace().root)))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{});
    QFile::remove(Path(QStringLiteral("editor.sh.done")));
  }

  void finishEditingFromTheWindow() {
    const QString target = Protected(QStringLiteral("b.txt"), "first");
    CEditOwner owner(Factory());
    owner.m_settleMs = 20;
    owner.m_quietMs = 1 << 30;  // never on its own here
    CEditSessionsWindow window(owner);
    m_passwords = {kPassword};
    QVERIFY(owner.Edit(target));
    QTRY_COMPARE_WITH_TIMEOUT(Decoded(target), QByteArray("edited by the application"), 20000);
    QVERIFY(window.isVisible());
    // A change after the last settled save is protected by the finish itself.
    const QString document = owner.Sessions().front().document;
    Write(document, "last words");
    Write(Path(QStringLiteral("editor.sh.done")), "");
    QTRY_VERIFY_WITH_TIMEOUT(!owner.Sessions().front().running, 20000);
    for (QPushButton* button : window.findChildren<QPushButton*>()) {
      if (button->text() == QLatin1String("&Finish Editing")) button->click();
    }
    QCOMPARE(owner.Count(), 0);
    QCOMPARE(Decoded(target), QByteArray("last words"));
    QVERIFY(!QFile::exists(document));
    QFile::remove(Path(QStringLiteral("editor.sh.done")));
  }

  // The launcher ends at once and its child edits on. The session stays while the child
  // runs, while a process outside the application's group holds the document and while
  // a lock file is there, and finishes once all that has been gone for the quiet time
  // (the test's clock).
  void aLauncherSessionFinishesOnlyOnceNothingHoldsItForTheQuietTime() {
    const QString target = Protected(QStringLiteral("c.csv"), "first");
    CEditOwner owner(Factory());
    qint64 now = 0;
    owner.m_clock = [&now] { return now; };
    owner.m_settleMs = 20;
    auto checkAfter = [&](qint64 ms) {
      now += ms;
      owner.CheckIdle();
      return owner.Count();
    };
    auto settle = [&] {
      owner.CheckIdle();
      QTRY_VERIFY_WITH_TIMEOUT(owner.Count() == 1 && !owner.Sessions().front().settling, 20000);
    };
    m_passwords = {kPassword};
    QVERIFY(owner.Edit(target));
    const QString launcher = Path(QStringLiteral("launcher.sh"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(launcher + QStringLiteral(".child")), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(Decoded(target), QByteArray("saved through the launcher"), 20000);
    const QString folder = QFileInfo(owner.Sessions().front().document).absolutePath();
    QCOMPARE(checkAfter(20000), 1);
    QVERIFY(owner.Sessions().front().running);
    // The child ends; a process of another session still has the document open.
    Write(launcher + QStringLiteral(".go1"), "");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(launcher + QStringLiteral(".holder")), 20000);
    QTRY_VERIFY_WITH_TIMEOUT((owner.CheckIdle(), !owner.Sessions().front().running), 20000);
    QVERIFY(!owner.Sessions().front().handedOn);
    QCOMPARE(checkAfter(20000), 1);
    QCOMPARE(checkAfter(20000), 1);
    // It ends too, a lock file stays.
    const QString lock = folder + QStringLiteral("/.~lock.c.csv#");
    Write(lock, "");
    Write(launcher + QStringLiteral(".go2"), "");
    QTRY_VERIFY_WITH_TIMEOUT(!FolderHeldOpen(folder.toStdString()), 20000);
    settle();
    QCOMPARE(checkAfter(0), 1);
    QCOMPARE(checkAfter(60000), 1);
    // Without it the quiet time counts, and a lock file that comes back starts it anew.
    QVERIFY(QFile::remove(lock));
    settle();
    QCOMPARE(checkAfter(0), 1);
    QCOMPARE(checkAfter(9000), 1);
    Write(lock, "");
    settle();
    QCOMPARE(checkAfter(0), 1);
    QVERIFY(QFile::remove(lock));
    settle();
    QCOMPARE(checkAfter(0), 1);
    QCOMPARE(checkAfter(9999), 1);
    QCOMPARE(checkAfter(1), 0);
    QCOMPARE(Decoded(target), QByteArray("saved through the launcher"));
    QVERIFY(!QFileInfo::exists(folder));
  }

  // An application that ends at once and leaves nothing running handed the file to an
  // instance elsewhere: its session waits for the user, and the window says so.
  void aSessionHandedOnWaitsForFinishEditing() {
    const QString target = Protected(QStringLiteral("e.c"), "first");
    CEditOwner owner(Factory());
    qint64 now = 0;
    owner.m_clock = [&now] { return now; };
    CEditSessionsWindow window(owner);
    m_passwords = {kPassword};
    QVERIFY(owner.Edit(target));
    QTRY_VERIFY_WITH_TIMEOUT((owner.CheckIdle(), !owner.Sessions().front().running), 20000);
    QVERIFY(owner.Sessions().front().handedOn);
    now += 3600 * 1000;
    owner.CheckIdle();
    QCOMPARE(owner.Count(), 1);
    QVERIFY(window.List()->topLevelItem(0)->text(0).contains(
        QLatin1String("application ended; waits for Finish Editing")));
    QVERIFY(owner.Finish(0));
    QCOMPARE(owner.Count(), 0);
  }

  // Closing the window of the sessions quits the program: it asks, and No keeps the
  // window and the sessions; Yes finishes them.
  void quittingWithSessionsOpenAsks() {
    const QString target = Protected(QStringLiteral("d.txt"), "first");
    CEditOwner owner(Factory());
    owner.m_settleMs = 20;
    owner.m_quietMs = 1 << 30;
    CEditSessionsWindow window(owner);
    window.SetClosingQuits(true);
    m_passwords = {kPassword};
    QVERIFY(owner.Edit(target));
    QTRY_COMPARE_WITH_TIMEOUT(Decoded(target), QByteArray("edited by the application"), 20000);
    QVERIFY(window.isVisible());
    const QString document = owner.Sessions().front().document;
    m_answer = MSG_NO;
    QVERIFY(!window.close());
    m_answer = MSG_YES;
    QVERIFY(window.isVisible());
    QCOMPARE(owner.Count(), 1);
    QVERIFY(QFile::exists(document));
    Write(Path(QStringLiteral("editor.sh.done")), "");
    QTRY_VERIFY_WITH_TIMEOUT(!owner.Sessions().front().running, 20000);
    QVERIFY(window.close());
    QCOMPARE(owner.Count(), 0);
    QVERIFY(!QFile::exists(document));
    QFile::remove(Path(QStringLiteral("editor.sh.done")));
  }

 private:
  QTemporaryDir m_dir;
  std::unique_ptr<QTemporaryDir> m_shm;
  std::deque<std::string> m_passwords;
  int m_answer = MSG_YES;
};

QTEST_MAIN(EditOwnerTest)
#include "edit_owner_test.moc"

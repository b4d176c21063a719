// The window program's verbs as file managers call them: the command line, --protect and
// --restore with the window's real dialogs answered where they come up, the summary and
// the exit codes, and --open handing the restored file to the opener.
#include "app/guard_verbs.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "app/key_commands_ui.h"
#include "app/window_guard_ui.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "framework/shell_open.h"
#include "guard/ui/encryption_settings_dlg.h"
#include "guard/ui/password_dlg.h"

class GuardVerbsTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir m_dir;
  QStringList m_boxes;  // every message box's text, in order
  QMessageBox::StandardButton m_answer = QMessageBox::No;
  QStringList m_passwords;  // typed into the password prompts in turn; none left: Esc
  QString m_settingsPassword;
  QString m_oldPassword, m_newPassword;  // typed into "Change Password"
  bool m_settingsSubfolders = false;
  int m_settingsShown = 0;
  QTimer m_answerer;

  QString Path(const QString& name) const { return m_dir.filePath(name); }
  void Write(const QString& name, const QByteArray& data) {
    QDir().mkpath(QFileInfo(Path(name)).absolutePath());
    QFile f(Path(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
  }
  QString FileUrl(const QString& name) const {
    return QString::fromLatin1(FileUrlOf(Path(name)).toEncoded());
  }
  QByteArray Read(const QString& name) {
    QFile f(Path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  int Run(const QStringList& arguments) {
    return RunGuardVerb(ParseCommandLine(arguments), MakeWindowGuardUiFactory());
  }
  // Answers the window's dialogs as a user would, whenever one is up.
  void AnswerDialogs() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* settings = qobject_cast<CEncryptionSettingsDlg*>(modal)) {
      ++m_settingsShown;
      settings->PasswordEdit()->setText(m_settingsPassword);
      settings->ConfirmEdit()->setText(m_settingsPassword);
      if (settings->SubfoldersCheck()->isEnabled())
        settings->SubfoldersCheck()->setChecked(m_settingsSubfolders);
      if (m_settingsPassword.isEmpty()) {
        settings->reject();
      } else {
        settings->accept();
      }
    } else if (auto* change = qobject_cast<CChangePasswordDlg*>(modal)) {
      change->OldEdit()->setText(m_oldPassword);
      change->NewEdit()->setText(m_newPassword);
      change->ConfirmEdit()->setText(m_newPassword);
      change->accept();
    } else if (auto* prompt = qobject_cast<CPasswordDlg*>(modal)) {
      if (m_passwords.isEmpty()) {
        prompt->reject();
        return;
      }
      prompt->PasswordEdit()->setText(m_passwords.takeFirst());
      prompt->accept();
    }
  }

 private slots:
  void initTestCase() {
    connect(&m_answerer, &QTimer::timeout, this, &GuardVerbsTest::AnswerDialogs);
    m_answerer.start(10);
  }
  void init() {
    qputenv("VELLUMGUARD_HOME", m_dir.filePath(QStringLiteral("home")).toUtf8());
    QDir().mkpath(m_dir.filePath(QStringLiteral("home")));
    m_boxes.clear();
    m_answer = QMessageBox::No;
    m_passwords.clear();
    m_settingsPassword.clear();
    m_settingsSubfolders = false;
    m_settingsShown = 0;
    Prompts().message = [this](QWidget*, const QString& text, QMessageBox::Icon,
                               QMessageBox::StandardButtons buttons) {
      m_boxes << text;
      return buttons.testFlag(QMessageBox::Yes) ? m_answer : QMessageBox::Ok;
    };
  }
  void cleanup() {
    RestoreDefaultPrompts();
    SetUrlOpener({});
  }

  void commandLine() {
    CommandLine line = ParseCommandLine({QStringLiteral("--protect"), QStringLiteral("a"),
                                         QStringLiteral("--"), QStringLiteral("-b")});
    QCOMPARE(line.action, CommandLine::Protect);
    QCOMPARE(line.paths, (QStringList{QStringLiteral("a"), QStringLiteral("-b")}));
    // A double click on a protected file edits it; a list opens the window.
    QCOMPARE(ParseCommandLine({QStringLiteral("/x/a.doc.~de")}).action, CommandLine::Edit);
    QCOMPARE(ParseCommandLine({QStringLiteral("/x/l.dlt")}).action, CommandLine::Window);
    QCOMPARE(ParseCommandLine({}).action, CommandLine::Window);
    QCOMPARE(ParseCommandLine({QStringLiteral("--restore")}).action, CommandLine::BadUsage);
    QCOMPARE(ParseCommandLine({QStringLiteral("--frobnicate")}).action, CommandLine::BadUsage);
    QCOMPARE(ParseCommandLine(
                 {QStringLiteral("--protect"), QStringLiteral("--open"), QStringLiteral("a")})
                 .action,
             CommandLine::BadUsage);
    QCOMPARE(ParseCommandLine({QStringLiteral("a"), QStringLiteral("--version")}).action,
             CommandLine::Version);
    // Nothing that exists: bad usage, no dialog.
    QCOMPARE(Run({QStringLiteral("--protect"), Path(QStringLiteral("missing.txt"))}), 2);
    QCOMPARE(m_settingsShown, 0);
    // Files that are never protected are answered at once, before any dialog.
    Write(QStringLiteral("r.txt.~de"), "x");
    Write(QStringLiteral("zde.tmp"), "x");
    QCOMPARE(Run({QStringLiteral("--protect"), Path(QStringLiteral("r.txt.~de")),
                  Path(QStringLiteral("zde.tmp"))}),
             2);
    QCOMPARE(m_settingsShown, 0);
    QCOMPARE(m_boxes.last(),
             QStringLiteral("\"%1\" is already protected\n\"%2\" holds the encryption settings "
                            "of its folder; it is never protected")
                 .arg(Path(QStringLiteral("r.txt.~de")), Path(QStringLiteral("zde.tmp"))));
  }

  // The Guard menu's key commands on a folder with a subfolder: a wrong old password
  // changes nothing, the right one moves both files, and Verify tells them apart.
  void changePasswordAndVerifyWithoutRestoring() {
    Write(QStringLiteral("keys/a.txt"), "alpha");
    Write(QStringLiteral("keys/sub/b.txt"), "beta");
    m_settingsPassword = QStringLiteral("old");
    m_settingsSubfolders = true;
    QCOMPARE(Run({QStringLiteral("--protect"), Path(QStringLiteral("keys"))}), 0);
    const QByteArray before = Read(QStringLiteral("keys/sub/b.txt.~de"));
    QWidget owner;
    CWindowGuardUi ui(&owner);
    const QStringList selection{Path(QStringLiteral("keys/"))};
    auto results = [&](KeyCommand command) {
      std::unique_ptr<CKeyResultsDlg> dlg(
          RunKeyCommand(command, &owner, ui, selection, nullptr, false));
      QStringList rows;
      for (int i = 0; dlg && i < dlg->Results()->topLevelItemCount(); ++i)
        rows << dlg->Results()->topLevelItem(i)->text(1);
      return rows;
    };
    m_answer = QMessageBox::Yes;  // the subfolders too
    m_oldPassword = QStringLiteral("wrong");
    m_newPassword = QStringLiteral("new");
    QCOMPARE(results(KeyCommand::ChangePassword),
             (QStringList{QStringLiteral("wrong password"), QStringLiteral("wrong password")}));
    QCOMPARE(Read(QStringLiteral("keys/sub/b.txt.~de")), before);
    m_oldPassword = QStringLiteral("old");
    QCOMPARE(results(KeyCommand::ChangePassword),
             (QStringList{QStringLiteral("new password"), QStringLiteral("new password")}));
    m_passwords = {QStringLiteral("old")};
    QCOMPARE(results(KeyCommand::Verify),
             (QStringList{QStringLiteral("wrong password"), QStringLiteral("wrong password")}));
    m_passwords = {QStringLiteral("new")};
    QCOMPARE(results(KeyCommand::Verify),
             (QStringList{QStringLiteral("ok"), QStringLiteral("ok")}));
    QVERIFY(!QFile::exists(Path(QStringLiteral("keys/a.txt"))));  // nothing was restored
    m_passwords = {QStringLiteral("new")};
    QCOMPARE(Run({QStringLiteral("--restore"), Path(QStringLiteral("keys"))}), 0);
    QCOMPARE(Read(QStringLiteral("keys/sub/b.txt")), QByteArray("beta"));
  }

  void protectAndRestoreAFolder() {
    Write(QStringLiteral("work/a.txt"), "alpha");
    Write(QStringLiteral("work/sub/b.txt"), "beta");
    const QString work = Path(QStringLiteral("work"));

    // Cancel in the settings dialog writes nothing and ends as cancelled.
    QCOMPARE(Run({QStringLiteral("--protect"), work}), 130);
    QCOMPARE(m_settingsShown, 1);
    QVERIFY(!QFile::exists(Path(QStringLiteral("work/zde.tmp"))));
    QVERIFY(m_boxes.isEmpty());

    // Without its subfolders, the summary says what stayed plain below.
    m_settingsPassword = QStringLiteral("pw");
    QCOMPARE(Run({QStringLiteral("--protect"), work}), 0);
    QVERIFY(QFile::exists(Path(QStringLiteral("work/sub/b.txt"))));
    QCOMPARE(m_boxes.last(),
             QStringLiteral("Protected 1 of 1 file; 1 file in subfolders not protected"));

    m_settingsSubfolders = true;
    QCOMPARE(Run({QStringLiteral("--protect"), work}), 0);
    QVERIFY(QFile::exists(Path(QStringLiteral("work/a.txt.~de"))));
    QVERIFY(QFile::exists(Path(QStringLiteral("work/sub/b.txt.~de"))));
    QVERIFY(!QFile::exists(Path(QStringLiteral("work/a.txt"))));
    QVERIFY(QFile::exists(Path(QStringLiteral("work/zde.tmp"))));
    QCOMPARE(m_boxes.last(), QStringLiteral("Protected 1 of 1 file"));

    // The folder asks about its subfolders because protected files lie below; No keeps
    // them, and the summary says how many remain.
    m_boxes.clear();
    m_passwords = {QStringLiteral("pw")};
    QCOMPARE(Run({QStringLiteral("--restore"), work}), 0);
    QCOMPARE(m_boxes.first(), QStringLiteral("Do you want to decrypt all files in subfolders?"));
    QCOMPARE(Read(QStringLiteral("work/a.txt")), QByteArray("alpha"));
    QVERIFY(QFile::exists(Path(QStringLiteral("work/sub/b.txt.~de"))));
    QCOMPARE(m_boxes.last(),
             QStringLiteral("Restored 1 of 1 file; 1 protected file remains in subfolders"));

    // Three wrong passwords leave the file and end with the wrong-password code.
    m_boxes.clear();
    m_passwords = {QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")};
    QCOMPARE(Run({QStringLiteral("--restore"), Path(QStringLiteral("work/sub/b.txt"))}), 3);
    QVERIFY(QFile::exists(Path(QStringLiteral("work/sub/b.txt.~de"))));
    QVERIFY2(m_boxes.last().startsWith(QStringLiteral("Restored 0 of 1 file; 1 failed\n\n")) &&
                 m_boxes.last().contains(QStringLiteral("wrong password")),
             qPrintable(m_boxes.last()));

    // An existing plain file answered No is skipped: exit code 1, both files untouched.
    Write(QStringLiteral("work/sub/b.txt"), "newer");
    m_boxes.clear();
    m_answer = QMessageBox::No;
    QCOMPARE(Run({QStringLiteral("--restore"), Path(QStringLiteral("work/sub/b.txt.~de"))}), 1);
    QCOMPARE(Read(QStringLiteral("work/sub/b.txt")), QByteArray("newer"));
    QVERIFY(QFile::exists(Path(QStringLiteral("work/sub/b.txt.~de"))));
    QCOMPARE(m_boxes.last(), QStringLiteral("Restored 0 of 1 file; 1 skipped"));
  }

  void openRestoresThenOpens() {
    Write(QStringLiteral("open/report.doc"), "report");
    m_settingsPassword = QStringLiteral("secret");
    QCOMPARE(Run({QStringLiteral("--protect"), Path(QStringLiteral("open/report.doc"))}), 0);
    const QString protectedPath = Path(QStringLiteral("open/report.doc.~de"));
    QVERIFY(QFile::exists(protectedPath));
    QStringList opened;
    SetUrlOpener([&opened](const QUrl& url) {
      opened << QString::fromLatin1(url.toEncoded());
      return true;
    });

    // A cancelled prompt opens nothing: the protected file would only come back here.
    m_boxes.clear();
    QCOMPARE(Run({QStringLiteral("--open"), protectedPath}), 130);
    QVERIFY(opened.isEmpty());
    QVERIFY(QFile::exists(protectedPath));

    m_passwords = {QStringLiteral("secret")};
    QCOMPARE(Run({QStringLiteral("--open"), protectedPath}), 0);
    QCOMPARE(opened, QStringList{FileUrl(QStringLiteral("open/report.doc"))});
    QCOMPARE(Read(QStringLiteral("open/report.doc")), QByteArray("report"));
    QVERIFY(!QFile::exists(protectedPath));
    QVERIFY(m_boxes.isEmpty());  // the opened file is the answer
  }

  // A stray Enter on the overwrite question keeps the newer file.
  void overwriteQuestionAnswersNoOnEnter() {
    RestoreDefaultPrompts();
    CWindowGuardUi ui(nullptr);
    bool noIsDefault = false;
    QTimer presser;
    connect(&presser, &QTimer::timeout, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      presser.stop();
      noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
      QTest::keyClick(box, Qt::Key_Return);
    });
    presser.start(10);
    QCOMPARE(ui.ShowMessage("The file a.txt is already existed, Do you want to overwrite?",
                            MsgIcon::Question, MsgButtons::YesNo),
             int(MSG_NO));
    QVERIFY(noIsDefault);
  }

  // What --open hands the opener when the file came from someone else.
  void openNeverRunsOrLoopsAndNamesTheBytes() {
    QStringList opened;
    bool opens = true;
    SetUrlOpener([&](const QUrl& url) {
      opened << QString::fromLatin1(url.toEncoded());
      return opens;
    });
    auto protect = [this](const QString& path) {
      m_settingsPassword = QStringLiteral("secret");
      QCOMPARE(Run({QStringLiteral("--protect"), path}), 0);
      m_passwords = {QStringLiteral("secret")};
    };
    // A protected file inside: it would come straight back to --open.
    Write(QStringLiteral("sent/a.txt"), "a protected file inside");
    protect(Path(QStringLiteral("sent/a.txt")));
    QVERIFY(QFile::rename(Path(QStringLiteral("sent/a.txt.~de")),
                          Path(QStringLiteral("sent/inner.txt.~de.~de"))));
    m_answer = QMessageBox::Yes;
    QCOMPARE(Run({QStringLiteral("--open"), Path(QStringLiteral("sent/inner.txt.~de.~de"))}), 0);
    QVERIFY(QFile::exists(Path(QStringLiteral("sent/inner.txt.~de"))));
    QCOMPARE(opened, QStringList{FileUrl(QStringLiteral("sent"))});  // its folder, when asked
    QVERIFY(m_boxes.last().contains(QStringLiteral("it is itself a protected file")));
    // Programs: an execute bit, a desktop entry, a script by its content.
    Write(QStringLiteral("sent/tool"),
          "\x7f"
          "ELF");
    QFile::setPermissions(Path(QStringLiteral("sent/tool")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Write(QStringLiteral("sent/app.desktop"), "[Desktop Entry]\nExec=rm -rf ~\n");
    Write(QStringLiteral("sent/notes.txt"), "#!/bin/sh\nrm -rf ~\n");
    for (const QString& name : {QStringLiteral("sent/tool"), QStringLiteral("sent/app.desktop"),
                                QStringLiteral("sent/notes.txt")}) {
      protect(Path(name));
      opened.clear();
      m_answer = QMessageBox::No;
      QCOMPARE(Run({QStringLiteral("--open"), Path(name + QStringLiteral(".~de"))}), 0);
      QVERIFY2(opened.isEmpty(), qPrintable(name));
      QVERIFY2(QFile::exists(Path(name)), qPrintable(name));
      QVERIFY2(m_boxes.last().contains(QStringLiteral("a program or a script")), qPrintable(name));
      QVERIFY2(m_boxes.last().contains(Path(name)), qPrintable(name));
    }
    // A name that is not UTF-8 reaches the opener as its own bytes; reached through a
    // link and "..", it is the file beside the link's target, as the kernel has it.
    const std::string latin1 = Path(QStringLiteral("sent")).toStdString() + "/caf\xE9.txt";
    const int fd = ::open(latin1.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "menu", 4), ssize_t(4));
    QCOMPARE(::close(fd), 0);
    protect(FromNative(latin1));
    QVERIFY(QDir().mkpath(Path(QStringLiteral("elsewhere/deep"))));
    QVERIFY(QFile::link(Path(QStringLiteral("sent")), Path(QStringLiteral("elsewhere/deep/link"))));
    opened.clear();
    const QString viaLink =
        Path(QStringLiteral("elsewhere/deep/link/../sent/")) + FromNative("caf\xE9.txt.~de");
    QCOMPARE(Run({QStringLiteral("--open"), viaLink}), 0);
    QCOMPARE(opened.size(), 1);
    QVERIFY2(opened[0].endsWith(QStringLiteral("/sent/caf%E9.txt")), qPrintable(opened[0]));
    QVERIFY2(!opened[0].contains(QStringLiteral("..")), qPrintable(opened[0]));
    // Nothing could open it: said, and not a success.
    protect(FromNative(latin1));
    opens = false;
    m_boxes.clear();
    QCOMPARE(Run({QStringLiteral("--open"), FromNative(latin1 + ".~de")}), 1);
    QVERIFY(m_boxes.last().startsWith(QStringLiteral("Cannot open")));
    ::unlink(latin1.c_str());  // a name QTemporaryDir cannot remove
  }
};

QTEST_MAIN(GuardVerbsTest)
#include "guard_verbs_test.moc"

// Paste, rename and trash with the desktop's semantics: nothing is replaced without a Yes,
// copies keep contents, permissions and times, folders merge, a folder never goes into
// itself, links stay links, and failures name the file.
#include "explorer/file_operations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <string>

#include "explorer/file_clipboard.h"
#include "explorer/file_properties_dialog.h"
#include "explorer/file_trash.h"
#include "explorer/shell_menu.h"
#include "framework/native_path.h"
#include "scripted_factory.h"
#include "tests/common/durable_calls.h"

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Names in a folder, temporary files included (none may be left behind).
QStringList AllNames(const QString& folder) {
  QStringList names =
      QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

struct Fixture {
  QTemporaryDir dir;
  QString src;
  QString dst;
  std::shared_ptr<FakeGuardUi> log = MakeScriptedUi();
  std::unique_ptr<IFileOpUi> ui = MakeFileOpUi(nullptr, ScriptedFactory(log));
  Fixture() {
    src = dir.path() + QStringLiteral("/src");
    dst = dir.path() + QStringLiteral("/dst");
    QDir().mkpath(src);
    QDir().mkpath(dst);
  }
};

}  // namespace

class FileOperationsTest : public QObject {
  Q_OBJECT
 private slots:
  void copyKeepsContentsModeAndTime() {
    Fixture f;
    const QString a = f.src + QStringLiteral("/a.txt");
    QVERIFY(WriteFile(a, QByteArray(3 * 1024 * 1024 + 7, 'q')));
    QVERIFY(::chmod(QFile::encodeName(a).constData(), 0640) == 0);
    const QDateTime old = QDateTime::currentDateTime().addDays(-3);
    {
      QFile file(a);
      QVERIFY(file.open(QIODevice::ReadWrite));
      QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    const FileOpResult r = PasteFiles({a}, f.dst, PasteMode::Copy, *f.ui);
    QCOMPARE(r.done, 1);
    QCOMPARE(r.failed, 0);
    const QString copy = f.dst + QStringLiteral("/a.txt");
    QCOMPARE(ReadFile(copy), ReadFile(a));
    QCOMPARE(QFileInfo(copy).permissions(), QFileInfo(a).permissions());
    QCOMPARE(QFileInfo(copy).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    QCOMPARE(AllNames(f.dst), QStringList({"a.txt"}));
    QVERIFY(f.log->messages.empty());
  }

  void replacingAsksFirst() {
    Fixture f;
    QVERIFY(WriteFile(f.src + QStringLiteral("/a.txt"), "new"));
    QVERIFY(WriteFile(f.src + QStringLiteral("/b.txt"), "newb"));
    QVERIFY(WriteFile(f.dst + QStringLiteral("/a.txt"), "old"));
    QVERIFY(WriteFile(f.dst + QStringLiteral("/b.txt"), "oldb"));
    // No keeps the existing file, Yes replaces the next one.
    f.log->messageAnswers = {MSG_NO, MSG_YES};
    FileOpResult r =
        PasteFiles({f.src + "/a.txt", f.src + "/b.txt"}, f.dst, PasteMode::Copy, *f.ui);
    QCOMPARE(r.done, 1);
    QCOMPARE(r.skipped, 1);
    QCOMPARE(ReadFile(f.dst + QStringLiteral("/a.txt")), QByteArray("old"));
    QCOMPARE(ReadFile(f.dst + QStringLiteral("/b.txt")), QByteArray("newb"));
    QCOMPARE(f.log->messages.size(), size_t(2));
    QCOMPARE(f.log->messages[0], "The file " + (f.dst + "/a.txt").toStdString() +
                                     " already exists. Do you want to replace it?");
    QCOMPARE(f.log->buttons[0], MsgButtons::YesNoCancel);

    // Cancel ends the whole operation; a move leaves the source where it was.
    QVERIFY(WriteFile(f.dst + QStringLiteral("/b.txt"), "oldb"));
    f.log->messageAnswers = {MSG_CANCEL};
    r = PasteFiles({f.src + "/a.txt", f.src + "/b.txt"}, f.dst, PasteMode::Move, *f.ui);
    QVERIFY(r.cancelled);
    QCOMPARE(r.done, 0);
    QVERIFY(QFile::exists(f.src + QStringLiteral("/a.txt")));
    QVERIFY(QFile::exists(f.src + QStringLiteral("/b.txt")));
    QCOMPARE(ReadFile(f.dst + QStringLiteral("/b.txt")), QByteArray("oldb"));
    QCOMPARE(AllNames(f.dst), QStringList({"a.txt", "b.txt"}));

    // Only the folder's sync fails after the file was replaced: said as it is.
    f.log->messages.clear();
    f.log->messageAnswers = {MSG_YES};
    {
      DurableCallLog sync("fsync folder", EIO);
      r = PasteFiles({f.src + "/b.txt"}, f.dst, PasteMode::Copy, *f.ui);
    }
    QCOMPARE(r.failed, 1);
    QCOMPARE(ReadFile(f.dst + QStringLiteral("/b.txt")), QByteArray("newb"));
    QVERIFY(std::any_of(f.log->messages.begin(), f.log->messages.end(), [](const std::string& m) {
      return m.find("was replaced, but the change may not survive a crash") != std::string::npos;
    }));
  }

  void foldersMergeAndMove() {
    Fixture f;
    QVERIFY(QDir().mkpath(f.src + QStringLiteral("/tree/deep")));
    QVERIFY(WriteFile(f.src + QStringLiteral("/tree/one.txt"), "1"));
    QVERIFY(WriteFile(f.src + QStringLiteral("/tree/deep/two.txt"), "2"));
    QVERIFY(::symlink("one.txt",
                      QFile::encodeName(f.src + QStringLiteral("/tree/link")).constData()) == 0);
    QVERIFY(QDir().mkpath(f.dst + QStringLiteral("/tree")));
    QVERIFY(WriteFile(f.dst + QStringLiteral("/tree/mine.txt"), "m"));
    FileOpResult r = PasteFiles({f.src + QStringLiteral("/tree/")}, f.dst, PasteMode::Copy, *f.ui);
    QCOMPARE(r.done, 1);
    QCOMPARE(AllNames(f.dst + QStringLiteral("/tree")),
             QStringList({"deep", "link", "mine.txt", "one.txt"}));
    QCOMPARE(ReadFile(f.dst + QStringLiteral("/tree/deep/two.txt")), QByteArray("2"));
    QVERIFY(QFileInfo(f.dst + QStringLiteral("/tree/link")).isSymLink());
    QCOMPARE(QFileInfo(f.dst + QStringLiteral("/tree/link")).symLinkTarget(),
             f.dst + QStringLiteral("/tree/one.txt"));

    // Moving a folder into a place without one renames it; the source is gone.
    QVERIFY(QDir().mkpath(f.src + QStringLiteral("/moving/x")));
    r = PasteFiles({f.src + QStringLiteral("/moving")}, f.dst, PasteMode::Move, *f.ui);
    QCOMPARE(r.done, 1);
    QVERIFY(!QFileInfo::exists(f.src + QStringLiteral("/moving")));
    QVERIFY(QFileInfo(f.dst + QStringLiteral("/moving/x")).isDir());
  }

  void refusals() {
    Fixture f;
    QVERIFY(QDir().mkpath(f.src + QStringLiteral("/tree/inner")));
    // Into itself, or into its own subfolder.
    FileOpResult r = PasteFiles({f.src + QStringLiteral("/tree")},
                                f.src + QStringLiteral("/tree/inner"), PasteMode::Copy, *f.ui);
    QCOMPARE(r.failed, 1);
    QVERIFY(f.log->messages.back().find("/tree") != std::string::npos);
    QCOMPARE(f.log->icons.back(), MsgIcon::Error);
    QCOMPARE(AllNames(f.src + QStringLiteral("/tree/inner")), QStringList());
    // A FIFO is never opened.
    QVERIFY(::mkfifo(QFile::encodeName(f.src + QStringLiteral("/pipe")).constData(), 0600) == 0);
    r = PasteFiles({f.src + QStringLiteral("/pipe")}, f.dst, PasteMode::Copy, *f.ui);
    QCOMPARE(r.failed, 1);
    QVERIFY(f.log->messages.back().find("pipe") != std::string::npos);
    // A file in the way of a folder.
    QVERIFY(WriteFile(f.dst + QStringLiteral("/tree"), "file"));
    r = PasteFiles({f.src + QStringLiteral("/tree")}, f.dst, PasteMode::Copy, *f.ui);
    QCOMPARE(r.failed, 1);
    QCOMPARE(ReadFile(f.dst + QStringLiteral("/tree")), QByteArray("file"));
    // A target that is not a folder.
    r = PasteFiles({f.src + QStringLiteral("/pipe")}, f.dst + QStringLiteral("/tree"),
                   PasteMode::Copy, *f.ui);
    QCOMPARE(r.failed, 1);
    QVERIFY(f.log->messages.back().find("not a folder") != std::string::npos);
  }

  void copyIntoItsOwnFolderMakesCopies() {
    Fixture f;
    QVERIFY(WriteFile(f.src + QStringLiteral("/notes.txt"), "n"));
    QVERIFY(PasteFiles({f.src + "/notes.txt"}, f.src, PasteMode::Copy, *f.ui).done == 1);
    QVERIFY(PasteFiles({f.src + "/notes.txt"}, f.src, PasteMode::Copy, *f.ui).done == 1);
    QCOMPARE(AllNames(f.src), QStringList({"notes (copy 2).txt", "notes (copy).txt", "notes.txt"}));
    const FileOpResult r = PasteFiles({f.src + "/notes.txt"}, f.src, PasteMode::Move, *f.ui);
    QCOMPARE(r.done, 0);
    QCOMPARE(r.skipped, 1);
    QCOMPARE(ReadFile(f.src + QStringLiteral("/notes.txt")), QByteArray("n"));
  }

  void renameRules() {
    Fixture f;
    const QString a = f.src + QStringLiteral("/a.txt");
    QVERIFY(WriteFile(a, "a"));
    QVERIFY(WriteFile(f.src + QStringLiteral("/b.txt"), "b"));
    QString moved;
    QVERIFY(!RenameEntry(a, QString(), *f.ui));
    QVERIFY(!RenameEntry(a, QStringLiteral("a.txt"), *f.ui));
    QVERIFY(f.log->messages.empty());
    QVERIFY(!RenameEntry(a, QStringLiteral("b.txt"), *f.ui));
    QVERIFY(!RenameEntry(a, QStringLiteral("x/y"), *f.ui));
    QVERIFY(!RenameEntry(a, QStringLiteral(".."), *f.ui));
    QCOMPARE(f.log->messages.size(), size_t(3));
    for (const auto& m : f.log->messages) QVERIFY(m.find(a.toStdString()) != std::string::npos);
    QCOMPARE(ReadFile(f.src + QStringLiteral("/b.txt")), QByteArray("b"));
    QVERIFY(RenameEntry(a, QStringLiteral("c.txt"), *f.ui, &moved));
    QCOMPARE(moved, f.src + QStringLiteral("/c.txt"));
    QVERIFY(RenameEntry(f.src + QStringLiteral("/"), QStringLiteral("source"), *f.ui, &moved));
    QCOMPARE(moved, f.dir.path() + QStringLiteral("/source"));
  }

  void clipboardFormatsRoundTrip() {
    const QStringList paths = {QStringLiteral("/tmp/a b/é.txt"), QStringLiteral("/tmp/dir/")};
    std::unique_ptr<QMimeData> copy(MakeFileMimeData(paths, false));
    ClipboardFiles back = FilesFromMimeData(copy.get());
    QVERIFY(!back.cut);
    QCOMPARE(back.paths,
             QStringList({QStringLiteral("/tmp/a b/é.txt"), QStringLiteral("/tmp/dir")}));
    std::unique_ptr<QMimeData> cut(MakeFileMimeData(paths, true));
    back = FilesFromMimeData(cut.get());
    QVERIFY(back.cut);
    // GNOME's form alone, and a plain URI list with KDE's cut mark.
    QMimeData gnome;
    gnome.setData(QStringLiteral("x-special/gnome-copied-files"),
                  "cut\nfile:///tmp/x%20y\nhttp://example.invalid/z");
    back = FilesFromMimeData(&gnome);
    QVERIFY(back.cut);
    QCOMPARE(back.paths, QStringList({QStringLiteral("/tmp/x y")}));
    QMimeData kde;
    kde.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/k"))});
    kde.setData(QStringLiteral("application/x-kde-cutselection"), "1");
    QVERIFY(FilesFromMimeData(&kde).cut);
    QMimeData text;
    text.setText(QStringLiteral("/tmp/not-files"));
    QVERIFY(FilesFromMimeData(&text).IsEmpty());
  }

  void shellMenuOffsets() {
    Fixture f;
    QVERIFY(WriteFile(f.src + QStringLiteral("/a.txt"), "a"));
    {
      CShellMenu menu;
      menu.SetObjects({f.src + QStringLiteral("/a.txt")});
      menu.InvokeOffset(CShellMenu::OFFSET_CUT);
    }
    QVERIFY(FilesOnClipboard().cut);
    {
      CShellMenu menu;
      menu.SetObjects({f.dst + QLatin1Char('/')});
      menu.SetUi(nullptr, ScriptedFactory(f.log));
      menu.InvokeOffset(CShellMenu::OFFSET_PASTE);
    }
    QVERIFY(QFile::exists(f.dst + QStringLiteral("/a.txt")));
    QVERIFY(!QFile::exists(f.src + QStringLiteral("/a.txt")));
    QVERIFY(!ClipboardHasFiles());
    {
      CShellMenu menu;
      menu.SetObjects({f.dst + QStringLiteral("/a.txt")});
      menu.InvokeOffset(CShellMenu::OFFSET_COPY_PATH);
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), f.dst + QStringLiteral("/a.txt"));

    // Opening goes through the replaceable opener.
    QStringList opened;
    SetFileOpener([&opened](const QString& p) {
      opened << p;
      return true;
    });
    {
      CShellMenu menu;
      menu.SetObjects({f.dst + QStringLiteral("/a.txt")});
      menu.InvokeOffset(CShellMenu::OFFSET_OPEN);
    }
    SetFileOpener({});
    QCOMPARE(opened, QStringList({f.dst + QStringLiteral("/a.txt")}));
  }

  void moveToTrash() {
    QTemporaryDir home;
    // The trash lives below the test's own data folder, never the user's.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    qputenv("HOME", QFile::encodeName(home.path()));
    QDir().mkpath(home.path() + QStringLiteral("/data"));
    const QString victim = home.path() + QStringLiteral("/old.txt");
    QVERIFY(WriteFile(victim, "old"));
    auto log = MakeScriptedUi();
    auto ui = MakeFileOpUi(nullptr, ScriptedFactory(log));
    const FileOpResult r = MoveToTrash({victim, home.path() + QStringLiteral("/missing")}, *ui);
    QCOMPARE(r.failed, 1);
    QVERIFY(log->messages.back().find("missing") != std::string::npos);
    if (r.done == 1) {
      QVERIFY(!QFile::exists(victim));
    } else {
      QSKIP("no trash available on this file system");
    }

    // No data folder yet: the home trash is made (mode 0700) and takes the file; nothing
    // lands in the working folder.
    const QString data = home.path() + QStringLiteral("/fresh/share");
    qputenv("XDG_DATA_HOME", QFile::encodeName(data));
    QTemporaryDir work;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    const QString second = home.path() + QStringLiteral("/second.txt");
    QVERIFY(WriteFile(second, "2"));
    const FileOpResult fresh = MoveToTrash({second}, *ui);
    QDir::setCurrent(previous);
    QCOMPARE(fresh.done, 1);
    QVERIFY(!QFile::exists(second));
    QVERIFY(QFile::exists(data + QStringLiteral("/Trash/files/second.txt")));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(data + QStringLiteral("/Trash")).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode_t(0700));
    QVERIFY(QDir(work.path()).isEmpty());

    // A name that is not UTF-8 goes by its bytes, and its info file names them.
    const std::string latin = Native(home.path()) + "/caf\xE9.txt";
    const int fd = ::open(latin.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    QVERIFY(fd >= 0 && ::write(fd, "hello", 5) == 5 && ::close(fd) == 0);
    // Its Properties find it too.
    const CFilePropertiesDialog properties({FromNative(latin)});
    QVERIFY(properties.Rows().contains({QStringLiteral("Size:"), QStringLiteral("5 bytes")}));
    QCOMPARE(MoveToTrash({FromNative(latin)}, *ui).done, 1);
    QCOMPARE(::access(latin.c_str(), F_OK), -1);
    const std::string trashed = Native(data) + "/Trash/files/caf\xE9.txt";
    QCOMPARE(::access(trashed.c_str(), F_OK), 0);
    const std::string infoPath = Native(data) + "/Trash/info/caf\xE9.txt.trashinfo";
    std::string text(256, '\0');
    const int in = ::open(infoPath.c_str(), O_RDONLY);
    QVERIFY(in >= 0);
    text.resize(static_cast<size_t>(std::max<ssize_t>(0, ::read(in, text.data(), text.size()))));
    ::close(in);
    QVERIFY(text.find("Path=" + Native(home.path()) + "/caf%E9.txt\n") != std::string::npos);

    // A data folder that cannot be made: said so, and the file stays.
    QVERIFY(WriteFile(home.path() + QStringLiteral("/blocked"), "a file, not a folder"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/blocked/share")));
    const QString third = home.path() + QStringLiteral("/third.txt");
    QVERIFY(WriteFile(third, "3"));
    const size_t before = log->messages.size();
    const FileOpResult refused = MoveToTrash({third}, *ui);
    QCOMPARE(refused.failed, 1);
    QCOMPARE(log->messages.size(), before + 1);
    QVERIFY(log->messages.back().find("third.txt") != std::string::npos);
    QCOMPARE(ReadFile(third), QByteArray("3"));
  }
};

QTEST_MAIN(FileOperationsTest)
#include "file_operations_test.moc"

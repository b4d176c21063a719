// The file list control and its pane on real temporary folders: listing and sorting on
// screen, the computer view, the refresh check, keys and in-place rename, opening with
// restore-before-open, the context and background menus, captions, New Folder, the
// clipboard, and the guard commands with scripted dialogs.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "engine/digest.h"
#include "explorer/bottom_list_view.h"
#include "explorer/file_clipboard.h"
#include "explorer/file_list_model.h"
#include "explorer/shell_list_ctrl.h"
#include "explorer/shell_menu.h"
#include "framework/command_ids.h"
#include "guard/file_list_driver.h"
#include "scripted_factory.h"

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList RowNames(const EListCtrl& list) {
  QStringList names;
  for (const auto& e : list.Entries()) names << e.name;
  return names;
}

struct MenuLine {
  QString text;
  int id;
  bool enabled;
  bool checkable;
  bool checked;
  bool operator==(const MenuLine&) const = default;
};

QList<MenuLine> Lines(const QMenu& menu) {
  QList<MenuLine> lines;
  for (QAction* a : menu.actions()) {
    if (a->isSeparator()) {
      lines.append({QStringLiteral("-"), 0, true, false, false});
    } else {
      lines.append({a->text(), MenuItemId(a), a->isEnabled(), a->isCheckable(), a->isChecked()});
    }
  }
  return lines;
}

QStringList Texts(const QList<MenuLine>& lines) {
  QStringList t;
  for (const auto& l : lines) t << l.text;
  return t;
}

// Reads the next menu shown, and chooses the item with the given id (0: dismisses it).
struct MenuCapture {
  QList<MenuLine> top;
  QList<QList<MenuLine>> submenus;
  int choose = 0;
  int shown = 0;
  MenuCapture() {
    SetPopupMenuExecutor([this](QMenu& menu, const QPoint&) -> QAction* {
      ++shown;
      top = Lines(menu);
      submenus.clear();
      QAction* chosen = nullptr;
      for (QAction* a : menu.actions()) {
        if (a->menu()) {
          submenus.append(Lines(*a->menu()));
          for (QAction* s : a->menu()->actions())
            if (choose && MenuItemId(s) == choose) chosen = s;
        }
        if (choose && MenuItemId(a) == choose) chosen = a;
      }
      return chosen;
    });
  }
  ~MenuCapture() { SetPopupMenuExecutor({}); }
};

class CRecordingNavigator : public INavigator {
 public:
  void NavigateTo(const QString& path, NavSource source) override { calls.append({path, source}); }
  bool OpenListFile(const QString& path) override {
    lists.append(path);
    return true;
  }
  QList<QPair<QString, NavSource>> calls;
  QStringList lists;
};

void SelectByName(EListCtrl& list, const QStringList& names) {
  QList<int> rows;
  for (const QString& n : names) {
    const int row = list.FindEntry(list.GetCurrentFolder() + n);
    QVERIFY2(row >= 0, qPrintable(n));
    rows << row;
  }
  list.SelectRows(rows);
  if (!rows.isEmpty()) list.SetFocusedRow(rows.first());
}

}  // namespace

class FileListTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> m_dir;
  QString m_root;  // with trailing "/"

 private slots:
  void init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_root = m_dir->path() + QLatin1Char('/');
    QGuiApplication::clipboard()->clear();
  }
  void cleanup() { m_dir.reset(); }

  void showsSortedFolderAndHeadingClicks() {
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("beta")));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("Alpha")));
    QVERIFY(WriteFile(m_root + QStringLiteral("small.txt"), "1"));
    QVERIFY(WriteFile(m_root + QStringLiteral("big.txt"), QByteArray(2000, 'b')));
    QVERIFY(WriteFile(m_root + QStringLiteral("mid.doc"), QByteArray(532, 'm')));
    QVERIFY(WriteFile(m_root + QStringLiteral(".hidden_config"), "x"));
    EListCtrl list;
    QVERIFY(list.SetupList());
    QVERIFY(!list.DisplayFolder(m_root + QStringLiteral("missing")));
    QVERIFY(list.DisplayFolder(m_dir->path()));
    QCOMPARE(list.GetCurrentFolder(), m_root);
    QCOMPARE(RowNames(list),
             QStringList({"..", "Alpha", "beta", "big.txt", "mid.doc", "small.txt"}));
    QCOMPARE(list.Header()->sortIndicatorSection(), 0);

    CFileListModel* model = list.ListModel();
    const int mid = list.FindEntry(m_root + QStringLiteral("MID.DOC"));  // no regard to case
    QCOMPARE(model->data(model->index(mid, 1)).toString(), QStringLiteral("532 bytes"));
    QVERIFY(!model->data(model->index(mid, 3)).toString().isEmpty());
    const int alpha = list.FindEntry(m_root + QStringLiteral("Alpha/"));
    for (int column : {1, 3, 4})
      QCOMPARE(model->data(model->index(alpha, column)).toString(), QString());
    QCOMPARE(model->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Size"));

    list.ColumnClick(1);  // Size, ascending
    QCOMPARE(RowNames(list),
             QStringList({"..", "Alpha", "beta", "small.txt", "mid.doc", "big.txt"}));
    list.ColumnClick(1);  // Size again: descending
    QCOMPARE(RowNames(list),
             QStringList({"..", "beta", "Alpha", "big.txt", "mid.doc", "small.txt"}));
    QCOMPARE(list.Header()->sortIndicatorOrder(), Qt::DescendingOrder);
    list.ColumnClick(0);  // another column starts ascending
    QCOMPARE(RowNames(list),
             QStringList({"..", "Alpha", "beta", "big.txt", "mid.doc", "small.txt"}));
  }

  void selectionFollowsSortAndPathsSkipGoneEntries() {
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("sub")));
    QVERIFY(WriteFile(m_root + QStringLiteral("a.txt"), "a"));
    QVERIFY(WriteFile(m_root + QStringLiteral("b.txt"), "bb"));
    EListCtrl list;
    list.SetupList();
    list.DisplayFolder(m_root);
    list.SelectRows({0, 1, 2, 3});  // "..", sub, a.txt, b.txt
    QStringList paths;
    QCOMPARE(list.GetSelectedPaths(paths), 3);
    QCOMPARE(paths, QStringList({m_root + "sub/", m_root + "a.txt", m_root + "b.txt"}));
    list.Sort(1, 0);  // b.txt now before a.txt; the selection follows the entries
    paths.clear();
    list.GetSelectedPaths(paths);
    QCOMPARE(paths, QStringList({m_root + "sub/", m_root + "b.txt", m_root + "a.txt"}));
    QVERIFY(QFile::remove(m_root + QStringLiteral("a.txt")));
    paths.clear();
    QCOMPARE(list.GetSelectedPaths(paths), 2);
  }

  void computerViewAndBack() {
    EListCtrl list;
    list.SetupList();
    QSignalSpy commands(&list, &EListCtrl::Command);
    QVERIFY(list.DisplayFolder(QStringLiteral("/")));
    QCOMPARE(list.Entries().front().fullPath, QString::fromLatin1(kComputerPath));
    list.SetFocusedRow(0);
    list.OpenFocusedEntry();
    QVERIFY(list.IsShowingDrives());
    QCOMPARE(list.GetCurrentFolder(), QStringLiteral("/"));
    QCOMPARE(commands.count(), 1);
    QCOMPARE(commands.at(0).at(0).toInt(), int(ID_LIST_FOLDER_CHANGED));
    QCOMPARE(list.Entries().front().fullPath, QStringLiteral("/"));
    list.RefreshCheck();  // does nothing in the computer view
    QVERIFY(list.IsShowingDrives());
    list.SetFocusedRow(0);
    list.OpenFocusedEntry();
    QVERIFY(!list.IsShowingDrives());
    QCOMPARE(list.GetCurrentFolder(), QStringLiteral("/"));
    QCOMPARE(commands.count(), 2);
    // F5 in the computer view shows the folder it came from again.
    QVERIFY(list.DisplayFolder(m_root));
    list.ShowDrives();
    list.RefreshList(true);
    QVERIFY(!list.IsShowingDrives());
    QCOMPARE(list.GetCurrentFolder(), m_root);
    QCOMPARE(commands.count(), 3);
  }

  void refreshCheckFollowsNamesNotSizes() {
    QVERIFY(WriteFile(m_root + QStringLiteral("keep.txt"), "12345"));
    EListCtrl list;
    list.SetupList();
    list.DisplayFolder(m_root);
    SelectByName(list, {QStringLiteral("keep.txt")});
    QVERIFY(WriteFile(m_root + QStringLiteral("new.txt"), "n"));
    QTRY_VERIFY_WITH_TIMEOUT(list.FindEntry(m_root + QStringLiteral("new.txt")) >= 0, 4000);
    QStringList paths;
    list.GetSelectedPaths(paths);
    QCOMPARE(paths, QStringList({m_root + QStringLiteral("keep.txt")}));  // kept over a reread

    // A size change alone is not a change of names.
    const int row = list.FindEntry(m_root + QStringLiteral("keep.txt"));
    QVERIFY(WriteFile(m_root + QStringLiteral("keep.txt"), QByteArray(2048, 'k')));
    QTest::qWait(1300);
    list.RefreshCheck();
    CFileListModel* model = list.ListModel();
    QCOMPARE(model->data(model->index(row, 1)).toString(), QStringLiteral("5 bytes"));
    // F5 rereads.
    list.SetViewType(CSortListCtrl::VIEW_REPORT);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QTest::keyClick(list.ReportView(), Qt::Key_F5);
    const int again = list.FindEntry(m_root + QStringLiteral("keep.txt"));
    QCOMPARE(model->data(model->index(again, 1)).toString(), QStringLiteral("2.00 KB"));

    QVERIFY(QFile::remove(m_root + QStringLiteral("new.txt")));
    QTRY_VERIFY_WITH_TIMEOUT(list.FindEntry(m_root + QStringLiteral("new.txt")) < 0, 4000);

    // A change the watcher never reports (made by another machine on a network file
    // system) shows through the folder's modification time.
    auto* watcher = list.findChild<QFileSystemWatcher*>();
    QVERIFY(watcher);
    watcher->blockSignals(true);
    QVERIFY(WriteFile(m_root + QStringLiteral("remote.txt"), "r"));
    list.RefreshCheck();
    QVERIFY(list.FindEntry(m_root + QStringLiteral("remote.txt")) >= 0);
    watcher->blockSignals(false);
  }

  // Keys act only on what the list itself received, and the file manager's keys work.
  void keysOfTheList() {
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("sub")));
    QVERIFY(WriteFile(m_root + QStringLiteral("sub/inner.bin"), "i"));
    QVERIFY(WriteFile(m_root + QStringLiteral("top.bin"), "t"));
    auto log = MakeScriptedUi();
    EListCtrl list;
    list.SetGuardUi(ScriptedFactory(log));
    QStringList opened;
    list.SetOpener([&opened](const QString& p) {
      opened << p;
      return false;  // nothing is set up to open it: a message box
    });
    QSignalSpy commands(&list, &EListCtrl::Command);
    list.SetupList();
    list.SetViewType(CSortListCtrl::VIEW_REPORT);
    list.DisplayFolder(m_root + QStringLiteral("sub"));
    list.resize(600, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QTreeView* view = list.ReportView();
    view->setFocus();
    SelectByName(list, {QStringLiteral("inner.bin")});
    // The Enter that closed the message box is released over the list: no new open.
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(opened.size(), 1);
    QCOMPARE(log->messages.size(), size_t(1));
    QTest::keyRelease(view, Qt::Key_Return);
    QTest::keyRelease(view, Qt::Key_F2);
    QCOMPARE(opened.size(), 1);
    QVERIFY(!list.IsEditing());

    // Backspace and Alt+Up open the parent, with the folder just left focused.
    QTest::keyClick(view, Qt::Key_Backspace);
    QCOMPARE(list.GetCurrentFolder(), m_root);
    QCOMPARE(list.FocusedRow(), list.FindEntry(m_root + QStringLiteral("sub")));
    list.DisplayFolder(m_root + QStringLiteral("sub"));
    QTest::keyClick(view, Qt::Key_Up, Qt::AltModifier);
    QCOMPARE(list.GetCurrentFolder(), m_root);
    QCOMPARE(commands.count(), 2);

    // Delete asks, naming the count, then moves the selection to the trash.
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/share")));
    SelectByName(list, {QStringLiteral("sub"), QStringLiteral("top.bin")});
    log->messageAnswers = {MSG_NO};
    QTest::keyClick(view, Qt::Key_Delete);
    QVERIFY(log->messages.back().find("2 items") != std::string::npos);
    QVERIFY(QFile::exists(m_root + QStringLiteral("top.bin")));
    log->messageAnswers = {MSG_YES};
    QTest::keyClick(view, Qt::Key_Delete);
    QVERIFY(!QFile::exists(m_root + QStringLiteral("top.bin")));
    QVERIFY(!QFile::exists(m_root + QStringLiteral("sub")));
    QVERIFY(QFile::exists(home.path() + QStringLiteral("/share/Trash/files/top.bin")));
    QCOMPARE(list.FindEntry(m_root + QStringLiteral("top.bin")), -1);
    qputenv("HOME", oldHome);
    qunsetenv("XDG_DATA_HOME");
  }

  void listFileOpensAsTheGuardList() {
    QVERIFY(WriteFile(m_root + QStringLiteral("mine.dlt"), "list"));
    QVERIFY(WriteFile(m_root + QStringLiteral("UPPER.DLT"), "not a list by its name"));
    CRecordingNavigator navigator;
    CBottomListView pane(&navigator, {});
    QStringList opened;
    pane.List()->SetOpener([&opened](const QString& p) {
      opened << p;
      return true;
    });
    pane.ShowFolder(m_root);
    SelectByName(*pane.List(), {QStringLiteral("mine.dlt")});
    pane.List()->OpenFocusedEntry();
    QCOMPARE(navigator.lists, QStringList{m_root + QStringLiteral("mine.dlt")});
    QVERIFY(opened.isEmpty());
    SelectByName(*pane.List(), {QStringLiteral("UPPER.DLT")});
    pane.List()->OpenFocusedEntry();
    QCOMPARE(opened, QStringList{m_root + QStringLiteral("UPPER.DLT")});
  }

  void renameInPlaceWithEnterDoesNotOpen() {
    QVERIFY(WriteFile(m_root + QStringLiteral("old.txt"), "o"));
    QVERIFY(WriteFile(m_root + QStringLiteral("other.txt"), "x"));
    auto log = MakeScriptedUi();
    EListCtrl list;
    list.SetGuardUi(ScriptedFactory(log));
    QStringList opened;
    list.SetOpener([&opened](const QString& p) {
      opened << p;
      return true;
    });
    list.SetupList();
    list.SetViewType(CSortListCtrl::VIEW_REPORT);
    list.DisplayFolder(m_root);
    list.resize(600, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    SelectByName(list, {QStringLiteral("old.txt")});
    QTreeView* view = list.ReportView();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_F2);
    QVERIFY(list.IsEditing());
    QWidget* editor = QApplication::focusWidget();
    QVERIFY(editor && editor != view);
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, QStringLiteral("renamed.txt"));
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(opened.isEmpty());  // the Enter that ended the edit opened nothing
    QTRY_VERIFY(QFile::exists(m_root + QStringLiteral("renamed.txt")));
    QVERIFY(!QFile::exists(m_root + QStringLiteral("old.txt")));
    QTRY_VERIFY_WITH_TIMEOUT(list.FindEntry(m_root + QStringLiteral("renamed.txt")) >= 0, 4000);
    QVERIFY(log->messages.empty());
    QCOMPARE(list.SelectedRows(),
             QList<int>({list.FindEntry(m_root + QStringLiteral("renamed.txt"))}));

    // Enter some time later opens the focused file.
    QTest::qWait(250);
    SelectByName(list, {QStringLiteral("renamed.txt")});
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(opened, QStringList({m_root + QStringLiteral("renamed.txt")}));

    // A name that is taken is refused with a message, and nothing moves.
    const int row = list.FindEntry(m_root + QStringLiteral("renamed.txt"));
    QVERIFY(
        !list.ListModel()->setData(list.ListModel()->index(row, 0), QStringLiteral("other.txt")));
    QTRY_COMPARE(log->messages.size(), size_t(1));
    QVERIFY(log->messages[0].find("already exists") != std::string::npos);
    QVERIFY(log->messages[0].find("renamed.txt") != std::string::npos);
    QCOMPARE(ReadFile(m_root + QStringLiteral("other.txt")), QByteArray("x"));
    QVERIFY(QFile::exists(m_root + QStringLiteral("renamed.txt")));
    // ".." cannot be edited.
    QVERIFY(!(list.ListModel()->flags(list.ListModel()->index(0, 0)) & Qt::ItemIsEditable));

    // Click, Ctrl+click, click: the last click leaves its row alone selected, no rename.
    const int first = list.FindEntry(m_root + QStringLiteral("renamed.txt"));
    const int second = list.FindEntry(m_root + QStringLiteral("other.txt"));
    auto click = [&](int r, Qt::KeyboardModifiers mods = Qt::NoModifier) {
      const QPoint at = view->visualRect(list.ListModel()->index(r, 0)).center();
      QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, at);
    };
    const auto* slowClick = list.findChild<QTimer*>(QStringLiteral("slowClickRename"));
    QVERIFY(slowClick);
    click(first);
    click(second, Qt::ControlModifier);
    QCOMPARE(list.SelectedRows().size(), 2);
    click(first);
    QCOMPARE(list.SelectedRows(), QList<int>({first}));
    QVERIFY(!slowClick->isActive() && !list.IsEditing());
    // A second slow click on the only selected row starts the rename, as F2 does.
    click(first);
    QTRY_VERIFY(list.IsEditing());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  }

  void doubleClickRestoresBeforeOpening() {
    const QString plain = m_root + QStringLiteral("report.doc");
    const QByteArray contents("quarterly figures\n");
    QVERIFY(WriteFile(plain, contents));
    auto log = MakeScriptedUi();
    uint8_t digest[32];
    GuardKeyDigest(digest, "secret");
    QCOMPARE(EncryptFileList(*log, {plain.toStdString()}, digest, 6, std::string()), 1);
    QVERIFY(!QFile::exists(plain));

    EListCtrl list;
    list.SetGuardUi(ScriptedFactory(log));
    QStringList opened;
    list.SetOpener([&opened](const QString& p) {
      opened << p;
      return true;
    });
    list.SetupList();
    list.DisplayFolder(m_root);
    // Cancelling the password prompt hands the protected file itself to the desktop.
    log->passwords = {std::nullopt};
    SelectByName(list, {QStringLiteral("report.doc.~de")});
    list.OpenFocusedEntry();
    QCOMPARE(opened, QStringList({plain + QStringLiteral(".~de")}));
    QVERIFY(!QFile::exists(plain));

    log->passwords = {std::string("secret")};
    opened.clear();
    QSignalSpy outcomes(&list, &EListCtrl::GuardRunFinished);
    SelectByName(list, {QStringLiteral("report.doc.~de")});
    list.OpenFocusedEntry();
    QCOMPARE(opened, QStringList({plain}));
    QCOMPARE(outcomes.size(), 1);
    QCOMPARE(outcomes.takeFirst().at(0).toString(), QStringLiteral("Restored 1 of 1 file"));
    QCOMPARE(ReadFile(plain), contents);
    QVERIFY(!QFile::exists(plain + QStringLiteral(".~de")));
    QCOMPARE(log->prompts.size(), size_t(2));
    QTRY_VERIFY_WITH_TIMEOUT(list.FindEntry(plain) >= 0, 4000);
  }

  void captionsForEverySelectionClass_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("encrypt");
    QTest::addColumn<QString>("decrypt");
    QTest::newRow("one file") << QStringList{"/d/a.doc"} << "Encrypt \"a.doc\""
                              << "Decrypt \"a.doc\"";
    QTest::newRow("ampersand") << QStringList{"/d/R&D.txt"} << "Encrypt \"R&&D.txt\""
                               << "Decrypt \"R&&D.txt\"";
    QTest::newRow("one folder") << QStringList{"/d/Work/"} << "Encrypt \"Work\""
                                << "Decrypt \"Work\"";
    QTest::newRow("one protected") << QStringList{"/d/a.doc.~de"} << "Encrypt \"a.doc.~de\""
                                   << "Decrypt \"a.doc.~de\"";
    QTest::newRow("two files") << QStringList{"/d/a", "/d/b.~de"} << "Encrypt Files"
                               << "Decrypt Files";
    QTest::newRow("file and folder") << QStringList{"/d/a", "/d/W/"} << "Encrypt File and Folder"
                                     << "Decrypt File and Folder";
    QTest::newRow("3 files 2 folders")
        << QStringList{"/d/a", "/d/b", "/d/c", "/d/V/", "/d/W/"} << "Encrypt Files and Folders"
        << "Decrypt Files and Folders";
    QTest::newRow("two folders") << QStringList{"/d/V/", "/d/W/"} << "Encrypt Folders"
                                 << "Decrypt Folders";
    QTest::newRow("settings file first")
        << QStringList{"/d/zde.tmp", "/d/a.doc"} << "Encrypt \"zde.tmp\""
        << "Decrypt \"zde.tmp\"";
    QTest::newRow("settings file only") << QStringList{"/d/zde.tmp"} << "Encrypt "
                                        << "Decrypt ";
  }
  void captionsForEverySelectionClass() {
    QFETCH(QStringList, paths);
    QFETCH(QString, encrypt);
    QFETCH(QString, decrypt);
    const FileSelection s = ClassifyPaths(paths);
    QCOMPARE(SelectionCaption(QStringLiteral("Encrypt "), s), encrypt);
    QCOMPARE(SelectionCaption(QStringLiteral("Decrypt "), s), decrypt);
  }

  void guardMenuStateFollowsSelection() {
    QVERIFY(WriteFile(m_root + QStringLiteral("a.doc"), "a"));
    QVERIFY(WriteFile(m_root + QStringLiteral("b.doc.~de"), "b"));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("Work")));
    CBottomListView pane(nullptr, {});
    pane.ShowFolder(m_root);
    EListCtrl* list = pane.List();
    CommandUpdate enc, dec, copy;
    QVERIFY(pane.OnUpdateCommand(ID_GUARD_ENCRYPT, enc));
    QVERIFY(pane.OnUpdateCommand(ID_GUARD_DECRYPT, dec));
    QVERIFY(!enc.enabled);
    QVERIFY(!dec.enabled);
    QCOMPARE(enc.text, QStringLiteral("Encrypt files and folders"));
    QCOMPARE(dec.text, QStringLiteral("Decrypt files and folders"));
    QVERIFY(pane.OnUpdateCommand(ID_EDIT_COPY, copy));
    QVERIFY(!copy.enabled);

    SelectByName(*list, {QStringLiteral("b.doc.~de")});
    enc = dec = CommandUpdate{};
    pane.OnUpdateCommand(ID_GUARD_ENCRYPT, enc);
    pane.OnUpdateCommand(ID_GUARD_DECRYPT, dec);
    QVERIFY(!enc.enabled);
    QVERIFY(dec.enabled);
    QCOMPARE(dec.text, QStringLiteral("Decrypt \"b.doc.~de\""));

    SelectByName(*list, {QStringLiteral("a.doc"), QStringLiteral("b.doc.~de")});
    enc = dec = CommandUpdate{};
    pane.OnUpdateCommand(ID_GUARD_ENCRYPT, enc);
    pane.OnUpdateCommand(ID_GUARD_DECRYPT, dec);
    QVERIFY(enc.enabled && dec.enabled);
    QCOMPARE(enc.text, QStringLiteral("Encrypt Files"));
    QCOMPARE(dec.text, QStringLiteral("Decrypt Files"));
    QVERIFY(!pane.OnUpdateCommand(ID_FILE_SAVE, enc));
    QVERIFY(!pane.OnCommand(ID_FILE_SAVE));
  }

  void contextMenuItemsAndOrder() {
    QVERIFY(WriteFile(m_root + QStringLiteral("a.doc"), "a"));
    QVERIFY(WriteFile(m_root + QStringLiteral("a.doc.~de"), "p"));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("Work")));
    CBottomListView pane(nullptr, {});
    pane.ShowFolder(m_root);
    EListCtrl* list = pane.List();
    MenuCapture capture;

    SelectByName(*list, {QStringLiteral("a.doc")});
    list->ShowContextMenu(QPoint(10, 10));
    const QStringList provider = {"-", "&Open",          "-",       "Cu&t", "&Copy",
                                  "-", "Move to &Trash", "Rena&me", "-",    "Copy &Path",
                                  "-", "P&roperties"};
    QCOMPARE(Texts(capture.top), QStringList({"Encrypt \"a.doc\""}) + provider);
    QCOMPARE(capture.top[0].id, int(ID_GUARD_ENCRYPT));
    QCOMPARE(capture.top[2].id, CShellMenu::OFFSET_OPEN + 1);
    QCOMPARE(capture.top[4].id, CShellMenu::OFFSET_CUT + 1);
    QCOMPARE(capture.top[5].id, CShellMenu::OFFSET_COPY + 1);
    for (const MenuLine& l : capture.top)
      if (l.id != int(ID_GUARD_ENCRYPT) && l.text != QLatin1String("-"))
        QVERIFY(l.id >= 1 && l.id <= 10000);

    SelectByName(*list, {QStringLiteral("a.doc.~de")});
    list->ShowContextMenu(QPoint(10, 10));
    QCOMPARE(Texts(capture.top),
             QStringList({"Decrypt \"a.doc.~de\"", "Edit Protected File"}) + provider);
    QCOMPARE(capture.top[0].id, int(ID_GUARD_DECRYPT));
    QCOMPARE(capture.top[1].id, int(ID_GUARD_EDIT));

    SelectByName(*list, {QStringLiteral("Work")});
    list->ShowContextMenu(QPoint(10, 10));
    QCOMPARE(Texts(capture.top).mid(0, 8), QStringList({"Encrypt \"Work\"", "Decrypt \"Work\"", "-",
                                                        "&Open", "-", "Cu&t", "&Copy", "&Paste"}));
    QVERIFY(!capture.top[7].enabled);  // nothing to paste yet

    // Several entries: no Rename, and captions name the classes.
    SelectByName(*list, {QStringLiteral("a.doc"), QStringLiteral("Work")});
    list->ShowContextMenu(QPoint(10, 10));
    QCOMPARE(Texts(capture.top).mid(0, 2),
             QStringList({"Encrypt File and Folder", "Decrypt File and Folder"}));
    QVERIFY(!Texts(capture.top).contains(QStringLiteral("Rena&me")));

    // A provider command runs and returns nothing to the owner; an owner item comes back.
    QSignalSpy commands(list, &EListCtrl::Command);
    SelectByName(*list, {QStringLiteral("a.doc")});
    capture.choose = CShellMenu::OFFSET_COPY + 1;
    list->ShowContextMenu(QPoint(10, 10));
    QCOMPARE(commands.count(), 0);
    QCOMPARE(FilesOnClipboard().paths, QStringList({m_root + QStringLiteral("a.doc")}));
    auto log = MakeScriptedUi();
    list->SetGuardUi(ScriptedFactory(log));
    capture.choose = ID_GUARD_ENCRYPT;
    list->ShowContextMenu(QPoint(10, 10));
    QCOMPARE(commands.count(), 1);
    QCOMPARE(commands.at(0).at(0).toInt(), int(ID_GUARD_ENCRYPT));

    // Nothing selected: the owner's background menu.
    list->SelectRows({});
    capture.choose = 0;
    list->ShowContextMenu(QPoint(10, 10));
    QCOMPARE(commands.count(), 2);
    QCOMPARE(commands.at(1).at(0).toInt(), int(ID_LIST_BACKGROUND_MENU));
  }

  void backgroundMenuChecksAndPaste() {
    QVERIFY(WriteFile(m_root + QStringLiteral("a.doc"), "a"));
    CBottomListView pane(nullptr, {});
    pane.ShowFolder(m_root);
    pane.SetViewMode(ID_VIEW_LIST);
    MenuCapture capture;
    QVERIFY(pane.OnCommand(ID_LIST_BACKGROUND_MENU));
    QCOMPARE(capture.shown, 1);
    QCOMPARE(
        Texts(capture.top),
        QStringList({"Encrypt all files and folders", "Decrypt all files and folders", "-",
                     "Paste\tCTrl+V", "-", "Refresh\tF5", "Sort by", "View", "-", "New Folder"}));
    QCOMPARE(capture.top[0].id, int(ID_GUARD_ENCRYPT_ALL));
    QCOMPARE(capture.top[1].id, int(ID_GUARD_DECRYPT_ALL));
    QCOMPARE(capture.top[3].id, int(ID_EDIT_PASTE));
    QCOMPARE(capture.top[5].id, int(ID_FILELIST_REFRESH));
    QCOMPARE(capture.top[9].id, int(ID_FILELIST_NEW_FOLDER));
    QVERIFY(!capture.top[3].enabled);  // no files on the clipboard
    QCOMPARE(capture.submenus.size(), 2);
    const QList<MenuLine> sortBy = {{"Name", ID_FILELIST_SORT_NAME, true, false, false},
                                    {"Size", ID_FILELIST_SORT_SIZE, true, false, false},
                                    {"Type", ID_FILELIST_SORT_TYPE, true, false, false},
                                    {"Time", ID_FILELIST_SORT_TIME, true, false, false}};
    QCOMPARE(capture.submenus[0], sortBy);
    const QList<MenuLine> viewList = {{"Large Icon", ID_VIEW_LARGEICON, true, true, false},
                                      {"Small Icon", ID_VIEW_SMALLICON, true, true, false},
                                      {"List", ID_VIEW_LIST, true, true, true},
                                      {"Detail", ID_VIEW_DETAILS, true, true, false}};
    QCOMPARE(capture.submenus[1], viewList);

    PutFilesOnClipboard({m_root + QStringLiteral("a.doc")}, false);
    capture.choose = ID_VIEW_DETAILS;  // chosen from the View submenu
    pane.OnCommand(ID_LIST_BACKGROUND_MENU);
    QVERIFY(capture.top[3].enabled);
    QCOMPARE(pane.ViewMode(), int(ID_VIEW_DETAILS));
    capture.choose = 0;
    pane.OnCommand(ID_LIST_BACKGROUND_MENU);
    QVERIFY(capture.submenus[1][3].checked);
    QVERIFY(!capture.submenus[1][2].checked);
    CommandUpdate paste;
    QVERIFY(pane.OnUpdateCommand(ID_EDIT_PASTE, paste));
    QVERIFY(paste.enabled);
  }

  void newFolderNumbering() {
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("New Folder")));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("New Folder 1")));
    CBottomListView pane(nullptr, {});
    pane.SetViewMode(ID_VIEW_DETAILS);
    pane.ShowFolder(m_root);
    pane.resize(600, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    QVERIFY(pane.OnCommand(ID_FILELIST_NEW_FOLDER));
    QVERIFY(QFileInfo(m_root + QStringLiteral("New Folder 2")).isDir());
    EListCtrl* list = pane.List();
    QVERIFY(list->IsEditing());
    QCOMPARE(list->FocusedRow(), list->FindEntry(m_root + QStringLiteral("New Folder 2")));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QVERIFY(!list->IsEditing());
    // Anything of the candidate's name is taken, a file as well.
    QVERIFY(WriteFile(m_root + QStringLiteral("New Folder 3"), "f"));
    pane.OnCommand(ID_FILELIST_NEW_FOLDER);
    QVERIFY(QFileInfo(m_root + QStringLiteral("New Folder 4")).isDir());
    QCOMPARE(ReadFile(m_root + QStringLiteral("New Folder 3")), QByteArray("f"));
  }

  void clipboardContentsForCopyAndCut() {
    QVERIFY(WriteFile(m_root + QStringLiteral("a b.txt"), "a"));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("dir")));
    CBottomListView pane(nullptr, {});
    pane.ShowFolder(m_root);
    SelectByName(*pane.List(), {QStringLiteral("a b.txt"), QStringLiteral("dir")});
    const QString fileUrl =
        QString::fromUtf8(QUrl::fromLocalFile(m_root + QStringLiteral("a b.txt")).toEncoded());
    const QString dirUrl =
        QString::fromUtf8(QUrl::fromLocalFile(m_root + QStringLiteral("dir")).toEncoded());
    QVERIFY(fileUrl.contains(QStringLiteral("a%20b.txt")));

    QVERIFY(pane.OnCommand(ID_EDIT_COPY));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    // Row order: the folder comes first.
    QCOMPARE(data->urls(), (QList<QUrl>{QUrl(dirUrl), QUrl(fileUrl)}));
    QCOMPARE(data->data(QStringLiteral("x-special/gnome-copied-files")),
             QStringLiteral("copy\n%1\n%2").arg(dirUrl, fileUrl).toUtf8());
    QVERIFY(!data->hasFormat(QStringLiteral("application/x-kde-cutselection")));
    QCOMPARE(data->text(), QStringLiteral("%1dir\n%1a b.txt").arg(m_root));

    QVERIFY(pane.OnCommand(ID_EDIT_CUT));
    data = QGuiApplication::clipboard()->mimeData();
    QCOMPARE(data->data(QStringLiteral("x-special/gnome-copied-files")),
             QStringLiteral("cut\n%1\n%2").arg(dirUrl, fileUrl).toUtf8());
    QCOMPARE(data->data(QStringLiteral("application/x-kde-cutselection")), QByteArray("1"));

    // Pasting the cut files elsewhere moves them and empties the clipboard.
    QTemporaryDir other;
    CBottomListView target(nullptr, {});
    target.ShowFolder(other.path());
    QVERIFY(target.OnCommand(ID_EDIT_PASTE));
    QVERIFY(QFile::exists(other.path() + QStringLiteral("/a b.txt")));
    QVERIFY(QFileInfo(other.path() + QStringLiteral("/dir")).isDir());
    QVERIFY(!QFile::exists(m_root + QStringLiteral("a b.txt")));
    QVERIFY(!ClipboardHasFiles());
    QTRY_VERIFY_WITH_TIMEOUT(
        target.List()->FindEntry(other.path() + QStringLiteral("/a b.txt")) >= 0, 4000);

    // Files that another program copied (KDE style, only a URI list) paste here as copies.
    auto* kde = new QMimeData;
    kde->setUrls({QUrl::fromLocalFile(other.path() + QStringLiteral("/a b.txt"))});
    QGuiApplication::clipboard()->setMimeData(kde);
    QVERIFY(pane.OnCommand(ID_EDIT_PASTE));
    QVERIFY(QFile::exists(m_root + QStringLiteral("a b.txt")));
    QVERIFY(QFile::exists(other.path() + QStringLiteral("/a b.txt")));
  }

  void dragCarriesFilesButNotParentRow() {
    QVERIFY(WriteFile(m_root + QStringLiteral("x.txt"), "x"));
    EListCtrl list;
    list.SetupList();
    list.DisplayFolder(m_root);
    CFileListModel* model = list.ListModel();
    const int row = list.FindEntry(m_root + QStringLiteral("x.txt"));
    std::unique_ptr<QMimeData> data(
        model->mimeData({model->index(0, 0), model->index(row, 0), model->index(row, 1)}));
    QVERIFY(data);
    QCOMPARE(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(m_root + QStringLiteral("x.txt"))}));
    QVERIFY(data->hasFormat(QString::fromLatin1(kListDragMarkerMime)));
    QVERIFY(!model->mimeData({model->index(0, 0)}));
    QCOMPARE(model->supportedDragActions(), Qt::CopyAction | Qt::MoveAction);
  }

  void dropCopiesOrMovesIntoFolders() {
    QTemporaryDir other;
    const QString x = other.path() + QStringLiteral("/x.txt");
    const QString y = other.path() + QStringLiteral("/y.txt");
    QVERIFY(WriteFile(x, "x"));
    QVERIFY(WriteFile(y, "y"));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("inbox")));
    EListCtrl list;
    list.SetupList();
    list.SetViewType(CSortListCtrl::VIEW_REPORT);
    list.DisplayFolder(m_root);
    list.resize(600, 300);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QWidget* viewport = list.ReportView()->viewport();
    // The drag enters at start (where a drag from the list begins: over its own row), then
    // moves to pos and drops there.
    auto drop = [viewport](const QMimeData* data, QPoint start, QPoint pos,
                           Qt::KeyboardModifiers mods) {
      // Moves and the drop go to the widget that accepted the drag's entry.
      QDragEnterEvent enter(start, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
      QApplication::sendEvent(viewport, &enter);
      if (!enter.isAccepted()) return Qt::IgnoreAction;
      QDragMoveEvent move(pos, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
      QApplication::sendEvent(viewport, &move);
      if (!move.isAccepted()) return Qt::IgnoreAction;
      QDropEvent event(QPointF(pos), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
      QApplication::sendEvent(viewport, &event);
      return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
    };
    const QPoint empty(viewport->width() / 2, viewport->height() - 5);
    QVERIFY(!list.ReportView()->indexAt(empty).isValid());

    // Ctrl copies into the shown folder.
    std::unique_ptr<QMimeData> first(MakeFileMimeData({x}, false));
    QCOMPARE(drop(first.get(), empty, empty, Qt::ControlModifier), Qt::CopyAction);
    QTRY_VERIFY(QFile::exists(m_root + QStringLiteral("x.txt")));
    QVERIFY(QFile::exists(x));
    QTRY_VERIFY_WITH_TIMEOUT(list.FindEntry(m_root + QStringLiteral("x.txt")) >= 0, 4000);

    // Onto a folder row, without keys, within one file system: a move.
    const QRect inbox = list.ReportView()->visualRect(
        list.ListModel()->index(list.FindEntry(m_root + QStringLiteral("inbox")), 0));
    std::unique_ptr<QMimeData> second(MakeFileMimeData({y}, false));
    const Qt::DropAction action =
        drop(second.get(), inbox.center(), inbox.center(), Qt::NoModifier);
    QVERIFY(action == Qt::MoveAction || action == Qt::CopyAction);
    QTRY_VERIFY(QFile::exists(m_root + QStringLiteral("inbox/y.txt")));
    QCOMPARE(QFile::exists(y), action == Qt::CopyAction);

    // Rows dragged out of this list and dropped back on its own folder do nothing.
    const int row = list.FindEntry(m_root + QStringLiteral("x.txt"));
    std::unique_ptr<QMimeData> own(list.ListModel()->mimeData({list.ListModel()->index(row, 0)}));
    QCOMPARE(drop(own.get(), empty, empty, Qt::NoModifier), Qt::IgnoreAction);
    // Dragged from its own row onto a folder row of the same list, a file moves there.
    const QPoint from = list.ReportView()->visualRect(list.ListModel()->index(row, 0)).center();
    QCOMPARE(drop(own.get(), from, inbox.center(), Qt::NoModifier), Qt::MoveAction);
    QTRY_VERIFY(QFile::exists(m_root + QStringLiteral("inbox/x.txt")));
    QVERIFY(!QFile::exists(m_root + QStringLiteral("x.txt")));
    // Text is no file.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QCOMPARE(drop(&text, empty, empty, Qt::NoModifier), Qt::IgnoreAction);
  }

  void guardCommandsOfThePane() {
    const QString a = m_root + QStringLiteral("a.doc");
    QVERIFY(WriteFile(a, "alpha"));
    QVERIFY(QDir(m_root).mkdir(QStringLiteral("sub")));
    QVERIFY(WriteFile(m_root + QStringLiteral("sub/inner.txt"), "inner"));
    auto log = MakeScriptedUi();
    CRecordingNavigator nav;
    CBottomListView pane(&nav, ScriptedFactory(log));
    QSignalSpy outcomes(&pane, &CBottomListView::GuardRunFinished);
    pane.ShowFolder(m_root);
    EListCtrl* list = pane.List();

    // Encrypt the selected file: the settings dialog is titled after it.
    SelectByName(*list, {QStringLiteral("a.doc")});
    log->settingsAnswers.push_back([](SettingsDialogData& d) {
      d.password = d.confirm = "pw";
      return true;
    });
    QVERIFY(pane.OnCommand(ID_GUARD_ENCRYPT));
    QCOMPARE(log->settingsShown.size(), size_t(1));
    QCOMPARE(log->settingsShown[0].title, std::string("Encryption setting of \"a.doc\""));
    QVERIFY(QFile::exists(a + QStringLiteral(".~de")));
    QVERIFY(!QFile::exists(a));
    QCOMPARE(log->Lines("progress: ").back(), std::string("progress: Encrypting"));
    QCOMPARE(outcomes.takeLast().at(0).toString(), QStringLiteral("Protected 1 of 1 file"));

    // Cancel in the settings dialog protects nothing.
    QTRY_VERIFY_WITH_TIMEOUT(list->FindEntry(a + QStringLiteral(".~de")) >= 0, 4000);
    SelectByName(*list, {QStringLiteral("sub")});
    log->settingsAnswers.push_back([](SettingsDialogData&) { return false; });
    pane.OnCommand(ID_GUARD_ENCRYPT);
    QVERIFY(QFile::exists(m_root + QStringLiteral("sub/inner.txt")));

    // Decrypt the selection, with the password prompt.
    SelectByName(*list, {QStringLiteral("a.doc.~de")});
    log->passwords = {std::string("pw")};
    QVERIFY(pane.OnCommand(ID_GUARD_DECRYPT));
    QCOMPARE(ReadFile(a), QByteArray("alpha"));

    // The whole folder: No to the question ends the command before any dialog.
    const size_t dialogs = log->settingsShown.size();
    log->messageAnswers = {MSG_NO};
    QVERIFY(pane.OnCommand(ID_GUARD_ENCRYPT_ALL));
    QCOMPARE(log->messages.back(), "Do you want to encrypt all files and folders in folder \"" +
                                       m_root.toStdString() + "\"?");
    QCOMPARE(log->settingsShown.size(), dialogs);
    QVERIFY(QFile::exists(a));

    // Yes, with subfolders: everything below is protected.
    log->messageAnswers = {MSG_YES};
    log->settingsAnswers.push_back([](SettingsDialogData& d) {
      d.useLastPassword = true;  // the folder's settings file remembers "pw"
      d.encryptSubfolders = true;
      return true;
    });
    pane.OnCommand(ID_GUARD_ENCRYPT_ALL);
    // No default settings file; the folder's own remembers the last password.
    QCOMPARE(log->settingsShown.back().flags, int(SETTINGS_NO_DEFAULT));
    QVERIFY(QFile::exists(a + QStringLiteral(".~de")));
    QVERIFY(QFile::exists(m_root + QStringLiteral("sub/inner.txt.~de")));

    // Decrypt all: the subfolder question comes because there is a subfolder; No keeps
    // the subfolder's file protected.
    log->messageAnswers = {MSG_YES, MSG_NO};
    log->passwords = {std::string("pw")};
    const size_t before = log->messages.size();
    QVERIFY(pane.OnCommand(ID_GUARD_DECRYPT_ALL));
    QCOMPARE(log->messages[before], "Do you want to decrypt all files and folders in folder \"" +
                                        m_root.toStdString() + "\"?");
    QCOMPARE(log->messages[before + 1],
             std::string("Do you want to decrypt all files in subfolders?"));
    QVERIFY(QFile::exists(a));
    QVERIFY(QFile::exists(m_root + QStringLiteral("sub/inner.txt.~de")));
    // The status bar's line says what stayed behind.
    QCOMPARE(outcomes.takeLast().at(0).toString(),
             QStringLiteral("Restored 1 of 1 file; 1 protected file remains in subfolders"));

    // A folder without subfolders is not asked about them.
    pane.ShowFolder(m_root + QStringLiteral("sub"));
    log->messageAnswers = {MSG_YES};
    log->passwords = {std::string("pw")};
    const size_t count = log->messages.size();
    pane.OnCommand(ID_GUARD_DECRYPT_ALL);
    QCOMPARE(log->messages.size(), count + 1);
    QCOMPARE(ReadFile(m_root + QStringLiteral("sub/inner.txt")), QByteArray("inner"));

    // Opening a folder row reports the move to the frame.
    pane.ShowFolder(m_root);
    SelectByName(*list, {QStringLiteral("sub")});
    list->OpenFocusedEntry();
    QCOMPARE(nav.calls.size(), 1);
    QCOMPARE(nav.calls[0].first, m_root + QStringLiteral("sub/"));
    QCOMPARE(nav.calls[0].second, NAV_LIST);
    QCOMPARE(pane.CurrentFolder(), m_root + QStringLiteral("sub/"));
  }
};

QTEST_MAIN(FileListTest)
#include "file_list_test.moc"

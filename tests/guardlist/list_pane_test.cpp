// The guard list pane and its document: enable and caption rules, the context menu,
// removing, properties, copy, paste and drops, sorting, the live status column, saving
// and reopening through the framework, and a whole protect and restore run.
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cstring>
#include <memory>

#include "engine/digest.h"
#include "framework/command_ids.h"
#include "framework/doc_manager.h"
#include "framework/edit_request.h"
#include "framework/shell_open.h"
#include "framework/sort_list_ctrl.h"
#include "guard/file_list_driver.h"
#include "guardlist/ui/add_folder_dlg.h"
#include "guardlist/ui/explorer_document.h"
#include "guardlist/ui/guard_list_model.h"
#include "guardlist/ui/top_view.h"
#include "pane_test_support.h"

class ListPaneTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();

  void emptyListEnableRules();
  void fullListEnableRules();
  void captionRules_data();
  void captionRules();
  void captionFollowsSelection();
  void contextMenuEntries();
  void contextMenuRunsChosenCommand();
  void removeKeepsModifiedFlag();
  void removeAllAsksFirst();
  void propertiesOnFileFolderAndMissingFolder();
  void insertFoldersUsesDialog();
  void copyPutsFilesOnClipboard();
  void pasteFilesAndFolders();
  void dropFilesAndFolders();
  void statusColumnShowsDisk();
  void statusChecksDrawnRowsOnly();
  void sortByColumnHeadings();
  void openFolderNavigatesAndFileRestoresFirst();
  void newListAsksForSettingsAfterStart();
  void saveAndReopenThroughFramework();
  void refusesFilesThatAreNoList();
  void endToEndProtectAndRestore();
  void receivedListProtectsOnlyAfterItsPassword();

 private:
  QString Path(const QString& relative) const { return m_dir->filePath(relative); }
  void Write(const QString& relative, const QByteArray& bytes);
  QByteArray Read(const QString& relative) const;
  void AddFile(const QString& relative);
  void AddFolder(const QString& relative, bool subfolders = false);
  CommandUpdate Update(int id);
  QStringList MenuEntries(QMenu** keep = nullptr);
  QString Cell(int row, int column) const;
  void MakeMixedList();  // a.txt, c.txt (protected), missing.txt, docs/, vault/

  std::unique_ptr<QTemporaryDir> m_dir;
  std::shared_ptr<FakeGuardUi> m_script;
  std::unique_ptr<CExplorerDocument> m_doc;
  std::unique_ptr<CTopView> m_view;
  RecordingNavigator m_nav;
};

void ListPaneTest::init() {
  m_dir = std::make_unique<QTemporaryDir>();
  QVERIFY(m_dir->isValid());
  m_script = MakeScriptedUi();
  m_script->unscriptedYesNo = MSG_YES;
  m_script->standingSettings = TypePassword("");
  m_doc = std::make_unique<CExplorerDocument>();
  QVERIFY(m_doc->OnNewDocument());  // the start-up document: no settings dialog
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 0);
  m_nav = RecordingNavigator();
  m_view = std::make_unique<CTopView>(m_doc.get(), &m_nav, ScriptedFactory(m_script));
  m_view->resize(800, 300);
  m_view->show();
  QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
  QApplication::clipboard()->clear();
}

void ListPaneTest::cleanup() {
  CancelPendingModals();
  m_view.reset();
  m_doc.reset();
  m_dir.reset();
  SetUrlOpener({});
  QApplication::clipboard()->clear();
}

void ListPaneTest::Write(const QString& relative, const QByteArray& bytes) {
  const QString path = Path(relative);
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray ListPaneTest::Read(const QString& relative) const {
  QFile f(Path(relative));
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
  return f.readAll();
}

void ListPaneTest::AddFile(const QString& relative) {
  QVERIFY(m_doc->AddItem(CGuardItem(Path(relative).toStdString(), 0)) >= 0);
}

void ListPaneTest::AddFolder(const QString& relative, bool subfolders) {
  CGuardItem item(Path(relative).toStdString(), 1);
  item.m_includeMask = "*.*|";
  item.m_excludeMask = "Vellum*.*|";
  item.m_subfolders = subfolders ? 1 : 0;
  QVERIFY(m_doc->AddItem(item) >= 0);
}

CommandUpdate ListPaneTest::Update(int id) {
  CommandUpdate update;
  update.enabled = false;
  if (!m_view->OnUpdateCommand(id, update)) qWarning("command %d has no update handler", id);
  return update;
}

QStringList ListPaneTest::MenuEntries(QMenu** keep) {
  auto* menu = new QMenu;
  m_view->BuildContextMenu(menu);
  QStringList entries;
  for (QAction* a : menu->actions())
    entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
  if (keep) {
    *keep = menu;
  } else {
    delete menu;
  }
  return entries;
}

QString ListPaneTest::Cell(int row, int column) const {
  return m_view->Model()->data(m_view->Model()->index(row, column)).toString();
}

void ListPaneTest::MakeMixedList() {
  Write(QStringLiteral("a.txt"), "alpha");
  Write(QStringLiteral("c.txt.~de"), "protected bytes");
  Write(QStringLiteral("docs/x.txt"), "x");
  Write(QStringLiteral("vault/y.txt.~de"), "protected bytes");
  AddFile(QStringLiteral("a.txt"));
  AddFile(QStringLiteral("c.txt"));
  AddFile(QStringLiteral("missing.txt"));
  AddFolder(QStringLiteral("docs"));
  AddFolder(QStringLiteral("vault"));
  m_view->Refresh();
}

void ListPaneTest::emptyListEnableRules() {
  for (int id : {ID_LIST_INSERT_FILES, ID_LIST_INSERT_FOLDERS, ID_LIST_PROPERTIES})
    QVERIFY2(Update(id).enabled, qPrintable(QString::number(id)));
  for (int id :
       {ID_LIST_REMOVE_SELECTED, ID_LIST_REMOVE_ALL, ID_GUARD_ENCRYPT, ID_GUARD_DECRYPT,
        ID_GUARD_ENCRYPT_ALL, ID_GUARD_DECRYPT_ALL, ID_GUARD_OPEN, ID_EDIT_COPY, ID_EDIT_PASTE})
    QVERIFY2(!Update(id).enabled, qPrintable(QString::number(id)));
  Write(QStringLiteral("f.txt"), "f");
  QApplication::clipboard()->setMimeData(
      CTopView::FileListMimeData({Path(QStringLiteral("f.txt"))}));
  QVERIFY(Update(ID_EDIT_PASTE).enabled);
  // Plain text is no file list.
  QApplication::clipboard()->setText(Path(QStringLiteral("f.txt")));
  QVERIFY(!Update(ID_EDIT_PASTE).enabled);
  // Commands of other panes are not this pane's.
  CommandUpdate update;
  QVERIFY(!m_view->OnUpdateCommand(ID_FILE_SAVE, update));
  QVERIFY(!m_view->OnCommand(ID_VIEW_DETAILS));
}

void ListPaneTest::fullListEnableRules() {
  MakeMixedList();
  QCOMPARE(m_view->Model()->rowCount(), 5);
  for (int id : {ID_LIST_REMOVE_ALL, ID_GUARD_ENCRYPT_ALL, ID_GUARD_DECRYPT_ALL})
    QVERIFY(Update(id).enabled);
  for (int id :
       {ID_LIST_REMOVE_SELECTED, ID_GUARD_OPEN, ID_GUARD_ENCRYPT, ID_GUARD_DECRYPT, ID_EDIT_COPY})
    QVERIFY(!Update(id).enabled);

  struct Case {
    int row;
    bool encrypt, decrypt, edit;
  };
  const Case cases[] = {
      {0, true, false, false},   // plain file
      {1, false, true, true},    // protected file
      {2, false, false, false},  // missing file
      {3, true, false, false},   // folder with a plain file
      {4, false, true, false},   // folder with a protected file only
  };
  QStringList edited;
  SetProtectedFileEditor([&edited](const QString& path) {
    edited << path;
    return true;
  });
  for (const Case& c : cases) {
    m_view->ListCtrl()->SelectRows({c.row});
    QCOMPARE(Update(ID_GUARD_ENCRYPT).enabled, c.encrypt);
    QCOMPARE(Update(ID_GUARD_DECRYPT).enabled, c.decrypt);
    QCOMPARE(Update(ID_GUARD_EDIT).enabled, c.edit);
    QVERIFY(m_view->OnCommand(ID_GUARD_EDIT));
    QVERIFY(Update(ID_GUARD_OPEN).enabled);
    QVERIFY(Update(ID_LIST_REMOVE_SELECTED).enabled);
    QVERIFY(Update(ID_EDIT_COPY).enabled);
  }
  // Edit goes to the protected file of the one protected item, and only there.
  QCOMPARE(edited, QStringList{Path(QStringLiteral("c.txt.~de"))});
  m_view->ListCtrl()->SelectRows({1});
  QVERIFY(MenuEntries().contains(QStringLiteral("Edit Protected File")));
  {
    // An editor that began nothing (a cancelled password) has said all there is to say;
    // without any editor the pane says so.
    PromptRecorder prompts;
    SetProtectedFileEditor([](const QString&) { return false; });
    QVERIFY(m_view->OnCommand(ID_GUARD_EDIT));
    QVERIFY(prompts.messages.empty());
    SetProtectedFileEditor(nullptr);
    QVERIFY(m_view->OnCommand(ID_GUARD_EDIT));
    QCOMPARE(prompts.messages.size(), size_t(1));
    QVERIFY(prompts.messages[0].text.contains(QStringLiteral("no program is set up")));
  }
  m_view->ListCtrl()->SelectRows({0, 1});
  QVERIFY(!Update(ID_GUARD_EDIT).enabled);
  // A folder whose files lie only in a subfolder yields them only with its subfolders.
  Write(QStringLiteral("deep/a/b/z.txt"), "z");
  AddFolder(QStringLiteral("deep"), true);
  m_doc->Items().push_back(m_doc->Items().back());
  m_doc->Items().back().m_subfolders = 0;
  m_view->Refresh();
  m_view->ListCtrl()->SelectRows({5});
  QVERIFY(Update(ID_GUARD_ENCRYPT).enabled);
  m_view->ListCtrl()->SelectRows({6});
  QVERIFY(!Update(ID_GUARD_ENCRYPT).enabled);

  // The answer follows the disk, not only the selection.
  m_view->ListCtrl()->SelectRows({2});
  QVERIFY(!Update(ID_GUARD_ENCRYPT).enabled);
  Write(QStringLiteral("missing.txt"), "now here");
  m_view->ListCtrl()->SelectRows({});
  m_view->ListCtrl()->SelectRows({2});
  QVERIFY(Update(ID_GUARD_ENCRYPT).enabled);
}

void ListPaneTest::captionRules_data() {
  QTest::addColumn<bool>("encrypt");
  QTest::addColumn<int>("files");
  QTest::addColumn<int>("folders");
  QTest::addColumn<QString>("expected");
  QTest::newRow("nothing") << true << 0 << 0 << QStringLiteral("Encrypt files and folders");
  QTest::newRow("nothing, decrypt")
      << false << 0 << 0 << QStringLiteral("Decrypt files and folders");
  QTest::newRow("one file") << true << 1 << 0 << QStringLiteral("Encrypt \"a.txt\"");
  QTest::newRow("one folder") << false << 0 << 1 << QStringLiteral("Decrypt \"a.txt\"");
  QTest::newRow("two files") << true << 2 << 0 << QStringLiteral("Encrypt Files");
  QTest::newRow("two folders") << true << 0 << 2 << QStringLiteral("Encrypt Folders");
  QTest::newRow("2 files 1 folder") << true << 2 << 1 << QStringLiteral("Encrypt Files and Folder");
  QTest::newRow("1 file 2 folders")
      << false << 1 << 2 << QStringLiteral("Decrypt File and Folders");
  QTest::newRow("3 files 3 folders")
      << true << 3 << 3 << QStringLiteral("Encrypt Files and Folders");
}

void ListPaneTest::captionRules() {
  QFETCH(bool, encrypt);
  QFETCH(int, files);
  QFETCH(int, folders);
  QFETCH(QString, expected);
  QCOMPARE(CTopListForm::GuardCommandText(encrypt, files, folders, QStringLiteral("a.txt")),
           expected);
}

void ListPaneTest::captionFollowsSelection() {
  MakeMixedList();
  Write(QStringLiteral("R&D.txt"), "r");
  AddFile(QStringLiteral("R&D.txt"));
  m_view->Refresh();
  QCOMPARE(Update(ID_GUARD_ENCRYPT).text, QStringLiteral("Encrypt files and folders"));
  m_view->ListCtrl()->SelectRows({0});
  QCOMPARE(Update(ID_GUARD_ENCRYPT).text, QStringLiteral("Encrypt \"a.txt\""));
  QCOMPARE(Update(ID_GUARD_DECRYPT).text, QStringLiteral("Decrypt \"a.txt\""));
  // The counts are of the selected items by kind, whatever they expand to.
  m_view->ListCtrl()->SelectRows({0, 2, 4});
  QCOMPARE(Update(ID_GUARD_ENCRYPT).text, QStringLiteral("Encrypt Files and Folder"));
  // A name is shown as it is, not as a menu mnemonic.
  m_view->ListCtrl()->SelectRows({5});
  QCOMPARE(Update(ID_GUARD_ENCRYPT).text, QStringLiteral("Encrypt \"R&&D.txt\""));
}

void ListPaneTest::contextMenuEntries() {
  const QStringList empty = {QStringLiteral("Insert files"), QStringLiteral("Insert folder"),
                             QStringLiteral("-"), QStringLiteral("Properties")};
  QCOMPARE(MenuEntries(), empty);
  Write(QStringLiteral("f.txt"), "f");
  QApplication::clipboard()->setMimeData(
      CTopView::FileListMimeData({Path(QStringLiteral("f.txt"))}));
  QCOMPARE(MenuEntries(), (QStringList{QStringLiteral("Insert files"),
                                       QStringLiteral("Insert folder"), QStringLiteral("Paste"),
                                       QStringLiteral("-"), QStringLiteral("Properties")}));
  QApplication::clipboard()->clear();

  MakeMixedList();
  QCOMPARE(MenuEntries(),
           (QStringList{QStringLiteral("Insert files"), QStringLiteral("Insert folder"),
                        QStringLiteral("-"), QStringLiteral("Remove all"), QStringLiteral("-"),
                        QStringLiteral("-"), QStringLiteral("Properties")}));

  m_view->ListCtrl()->SelectRows({0});
  QMenu* menu = nullptr;
  QCOMPARE(MenuEntries(&menu),
           (QStringList{QStringLiteral("Open"), QStringLiteral("-"),
                        QStringLiteral("Encrypt \"a.txt\""), QStringLiteral("-"),
                        QStringLiteral("Insert files"), QStringLiteral("Insert folder"),
                        QStringLiteral("-"), QStringLiteral("Remove from the list"),
                        QStringLiteral("Remove all"), QStringLiteral("-"), QStringLiteral("Copy"),
                        QStringLiteral("-"), QStringLiteral("Properties")}));
  QCOMPARE(menu->defaultAction()->text(), QStringLiteral("Open"));
  QCOMPARE(menu->defaultAction()->data().toInt(), int(ID_GUARD_OPEN));
  QVERIFY(!menu->actions().at(2)->icon().isNull());  // the encrypt picture
  QCOMPARE(menu->actions().at(2)->data().toInt(), int(ID_GUARD_ENCRYPT));
  delete menu;

  // Both guard entries when the selection has something to protect and to restore.
  m_view->ListCtrl()->SelectRows({0, 1});
  const QStringList both = MenuEntries();
  QCOMPARE(both.mid(0, 5), (QStringList{QStringLiteral("Open"), QStringLiteral("-"),
                                        QStringLiteral("Encrypt Files"),
                                        QStringLiteral("Decrypt Files"), QStringLiteral("-")}));
  // A missing file offers neither.
  m_view->ListCtrl()->SelectRows({2});
  QCOMPARE(MenuEntries().mid(0, 3), (QStringList{QStringLiteral("Open"), QStringLiteral("-"),
                                                 QStringLiteral("Insert files")}));
}

void ListPaneTest::contextMenuRunsChosenCommand() {
  MakeMixedList();
  m_view->ListCtrl()->SelectRows({2});
  QString title;
  QTimer::singleShot(50, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* a : menu->actions()) {
      if (a->text() == QStringLiteral("Remove from the list")) {
        menu->setActiveAction(a);
        QTest::keyClick(menu, Qt::Key_Return);
        title = a->text();
      }
    }
  });
  emit m_view->ListCtrl()->ContextMenuRequested(m_view->mapToGlobal(QPoint(20, 40)));
  QCOMPARE(title, QStringLiteral("Remove from the list"));
  QCOMPARE(m_doc->Items().size(), size_t(4));
  QCOMPARE(m_doc->FindItem(Path(QStringLiteral("missing.txt")).toStdString()), -1);
}

void ListPaneTest::removeKeepsModifiedFlag() {
  MakeMixedList();
  m_doc->SetModifiedFlag(false);
  // A list file may store any state, -1 too: only the selected rows go.
  m_doc->Items()[1].m_state = -1;
  m_view->ListCtrl()->SelectRows({0, 2, 4});
  QVERIFY(m_view->OnCommand(ID_LIST_REMOVE_SELECTED));
  QCOMPARE(m_doc->Items().size(), size_t(2));
  QCOMPARE(QString::fromStdString(m_doc->Items()[0].m_path), Path(QStringLiteral("c.txt")));
  QCOMPARE(QString::fromStdString(m_doc->Items()[1].m_path), Path(QStringLiteral("docs")));
  QVERIFY(!m_doc->IsModified());
  QCOMPARE(m_view->Model()->rowCount(), 2);
  // A modified list stays modified.
  m_doc->SetModifiedFlag(true);
  m_view->ListCtrl()->SelectRows({1});
  m_view->OnCommand(ID_LIST_REMOVE_SELECTED);
  QVERIFY(m_doc->IsModified());
  QCOMPARE(m_doc->Items().size(), size_t(1));
}

void ListPaneTest::removeAllAsksFirst() {
  MakeMixedList();
  m_doc->SetModifiedFlag(false);
  PromptRecorder prompts;
  prompts.answers = {QMessageBox::No, QMessageBox::Yes};
  m_view->OnCommand(ID_LIST_REMOVE_ALL);
  QCOMPARE(m_doc->Items().size(), size_t(5));
  m_view->OnCommand(ID_LIST_REMOVE_ALL);
  QVERIFY(m_doc->Items().empty());
  QCOMPARE(m_view->Model()->rowCount(), 0);
  QVERIFY(!m_doc->IsModified());
  QCOMPARE(prompts.messages.size(), size_t(2));
  QCOMPARE(prompts.messages[0].text,
           QStringLiteral("Do you wnat to remove all files and folders in the list?"));
  QCOMPARE(prompts.messages[0].icon, QMessageBox::Question);
  QCOMPARE(prompts.messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
  QVERIFY(!Update(ID_LIST_REMOVE_ALL).enabled);
}

void ListPaneTest::propertiesOnFileFolderAndMissingFolder() {
  MakeMixedList();
  AddFolder(QStringLiteral("gone-folder"));
  m_view->Refresh();
  m_doc->SetModifiedFlag(false);

  // A file (or nothing) selected: the list's own settings.
  m_script->standingSettings = TypePassword("list password");
  m_view->ListCtrl()->SelectRows({0});
  m_view->OnCommand(ID_LIST_PROPERTIES);
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 1);
  QCOMPARE(m_script->settingsShown.back().title, std::string("Encryption setting"));
  QCOMPARE(m_script->settingsShown.back().flags, 2 | 4 | 8);
  QVERIFY(m_doc->HasPassword());
  QVERIFY(m_doc->IsModified());
  m_view->ListCtrl()->SelectRows({});
  m_script->standingSettings = CancelDialog();
  m_view->OnCommand(ID_LIST_PROPERTIES);
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 2);

  // A folder: its own settings in the add-folder dialog.
  m_doc->SetModifiedFlag(false);
  m_view->ListCtrl()->SelectRows({3});
  QString title, shown;
  OnNextModal<CAddFolderDlg>([&](CAddFolderDlg* dlg) {
    title = dlg->windowTitle();
    shown = dlg->findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text();
    dlg->findChild<QLineEdit*>(QStringLiteral("includeEdit"))->setText(QStringLiteral("*.txt|"));
    dlg->findChild<QCheckBox*>(QStringLiteral("subfoldersCheck"))->setChecked(true);
    dlg->accept();
  });
  m_view->OnCommand(ID_LIST_PROPERTIES);
  QCOMPARE(title, QStringLiteral("Encryption setting of folder"));
  QCOMPARE(shown, Path(QStringLiteral("docs")));
  const CGuardItem& docs = m_doc->Items()[3];
  QCOMPARE(docs.m_includeMask, std::string("*.txt|"));
  QCOMPARE(docs.m_excludeMask, std::string("Vellum*.*|"));
  QCOMPARE(docs.m_subfolders, 1);
  QVERIFY(m_doc->IsModified());
  QCOMPARE(Cell(3, COL_NOTE), QStringLiteral("Encrypt subfolers, Not encrypted"));

  // A folder that is gone: nothing at all.
  m_doc->SetModifiedFlag(false);
  int dialogs = 0;
  OnNextModal<QDialog>([](QDialog* d) { d->reject(); }, &dialogs);
  m_view->ListCtrl()->SelectRows({5});
  m_view->OnCommand(ID_LIST_PROPERTIES);
  QTest::qWait(50);
  QCOMPARE(dialogs, 0);
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 2);
  QVERIFY(!m_doc->IsModified());
}

void ListPaneTest::insertFoldersUsesDialog() {
  QDir().mkpath(Path(QStringLiteral("photos")));
  QString include, exclude;
  OnNextModal<CAddFolderDlg>([&](CAddFolderDlg* dlg) {
    include = dlg->findChild<QLineEdit*>(QStringLiteral("includeEdit"))->text();
    exclude = dlg->findChild<QLineEdit*>(QStringLiteral("excludeEdit"))->text();
    dlg->findChild<QLineEdit*>(QStringLiteral("folderEdit"))
        ->setText(Path(QStringLiteral("photos")));
    dlg->findChild<QCheckBox*>(QStringLiteral("subfoldersCheck"))->setChecked(true);
    dlg->accept();
  });
  m_view->OnCommand(ID_LIST_INSERT_FOLDERS);
  QCOMPARE(include, QStringLiteral("*.*|"));  // the list's masks
  QCOMPARE(exclude, QStringLiteral("Vellum*.*|"));
  QCOMPARE(m_doc->Items().size(), size_t(1));
  QCOMPARE(m_doc->Items()[0].m_folder, 1);
  QCOMPARE(m_doc->Items()[0].m_subfolders, 1);
  QVERIFY(m_doc->IsModified());
  QCOMPARE(Cell(0, COL_NAME), QStringLiteral("photos"));
  QCOMPARE(Cell(0, COL_TYPE), QStringLiteral("_Dir"));
  QCOMPARE(Cell(0, COL_NO), QStringLiteral("1"));
}

void ListPaneTest::copyPutsFilesOnClipboard() {
  MakeMixedList();
  m_view->ListCtrl()->SelectRows({0, 3});
  QVERIFY(Update(ID_EDIT_COPY).enabled);
  QVERIFY(m_view->OnCommand(ID_EDIT_COPY));
  const QMimeData* data = QApplication::clipboard()->mimeData();
  QVERIFY(data);
  QCOMPARE(data->urls(), (QList<QUrl>{QUrl::fromLocalFile(Path(QStringLiteral("a.txt"))),
                                      QUrl::fromLocalFile(Path(QStringLiteral("docs")))}));
  const QByteArray gnome = data->data(QStringLiteral("x-special/gnome-copied-files"));
  QVERIFY(gnome.startsWith("copy\nfile://"));
  QCOMPARE(gnome.count('\n'), 2);
  QVERIFY(Update(ID_EDIT_PASTE).enabled);
}

void ListPaneTest::pasteFilesAndFolders() {
  Write(QStringLiteral("p.txt"), "p");
  Write(QStringLiteral("zde.tmp"), "settings");  // refused by the list
  QDir().mkpath(Path(QStringLiteral("f1")));
  QDir().mkpath(Path(QStringLiteral("f2")));
  QApplication::clipboard()->setMimeData(CTopView::FileListMimeData(
      {Path(QStringLiteral("p.txt")), Path(QStringLiteral("f1")), Path(QStringLiteral("f2")),
       Path(QStringLiteral("missing")), Path(QStringLiteral("zde.tmp"))}));
  QStringList shown;
  int dialogs = 0;
  OnNextModal<CAddFolderDlg>(
      [&](CAddFolderDlg* first) {
        shown << first->findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text();
        first->accept();
        OnNextModal<CAddFolderDlg>(
            [&](CAddFolderDlg* second) {
              shown << second->findChild<QLineEdit*>(QStringLiteral("folderEdit"))->text();
              second->reject();  // skips this folder only
            },
            &dialogs);
      },
      &dialogs);
  QVERIFY(m_view->OnCommand(ID_EDIT_PASTE));
  QCOMPARE(dialogs, 2);
  QCOMPARE(shown, (QStringList{Path(QStringLiteral("f1")), Path(QStringLiteral("f2"))}));
  QCOMPARE(m_doc->Items().size(), size_t(2));
  QCOMPARE(QString::fromStdString(m_doc->Items()[0].m_path), Path(QStringLiteral("p.txt")));
  QCOMPARE(m_doc->Items()[0].m_folder, 0);
  QCOMPARE(QString::fromStdString(m_doc->Items()[1].m_path), Path(QStringLiteral("f1")));
  QCOMPARE(m_doc->Items()[1].m_folder, 1);
  QCOMPARE(m_view->Model()->rowCount(), 2);
}

void ListPaneTest::dropFilesAndFolders() {
  // Drops reach the pane: the list inside does not take them for itself.
  QVERIFY(!m_view->ListCtrl()->ReportView()->viewport()->acceptDrops());
  QVERIFY(m_view->acceptDrops());
  Write(QStringLiteral("q.txt"), "q");
  QDir().mkpath(Path(QStringLiteral("g1")));
  QMimeData text;
  text.setText(QStringLiteral("just words"));
  QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(m_view.get(), &refused);
  QVERIFY(!refused.isAccepted());

  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(Path(QStringLiteral("q.txt"))),
                 QUrl::fromLocalFile(Path(QStringLiteral("g1"))),
                 QUrl(QStringLiteral("https://example.invalid/page"))});
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton,
                        Qt::NoModifier);
  QApplication::sendEvent(m_view.get(), &enter);
  QVERIFY(enter.isAccepted());
  int dialogs = 0;
  OnNextModal<CAddFolderDlg>([](CAddFolderDlg* dlg) { dlg->accept(); }, &dialogs);
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &files, Qt::LeftButton,
                  Qt::NoModifier);
  QApplication::sendEvent(m_view.get(), &drop);
  QVERIFY(drop.isAccepted());
  QCOMPARE(drop.dropAction(), Qt::CopyAction);  // the files stay where they are
  QTRY_COMPARE(m_doc->Items().size(), size_t(2));
  QCOMPARE(dialogs, 1);
  QCOMPARE(m_doc->Items()[0].m_folder, 0);
  QCOMPARE(m_doc->Items()[1].m_folder, 1);
  QVERIFY(QFileInfo::exists(Path(QStringLiteral("q.txt"))));
}

void ListPaneTest::statusColumnShowsDisk() {
  Write(QStringLiteral("a.txt"), "alpha");
  Write(QStringLiteral("Makefile"), "all:");
  Write(QStringLiteral("v1.2/notes"), "n");
  QDir().mkpath(Path(QStringLiteral("docs")));
  AddFile(QStringLiteral("a.txt"));
  AddFile(QStringLiteral("Makefile"));
  AddFile(QStringLiteral("v1.2/notes"));
  AddFolder(QStringLiteral("docs"), false);
  AddFolder(QStringLiteral("more"), true);
  Write(QStringLiteral(".bashrc"), "set -o vi");
  AddFile(QStringLiteral(".bashrc"));
  m_view->Refresh();
  QCOMPARE(Cell(5, COL_TYPE), QStringLiteral(".bashrc"));  // the whole dot name
  QCOMPARE(Cell(0, COL_NO), QStringLiteral("1"));
  QCOMPARE(Cell(0, COL_NAME), QStringLiteral("a.txt"));
  QCOMPARE(Cell(0, COL_PATH), Path(QStringLiteral("a.txt")));
  QCOMPARE(Cell(0, COL_TYPE), QStringLiteral(".txt"));
  QCOMPARE(Cell(1, COL_TYPE), QString());  // no extension
  QCOMPARE(Cell(2, COL_TYPE), QString());  // a dot in a folder name is no extension
  QCOMPARE(Cell(3, COL_TYPE), QStringLiteral("_Dir"));
  QCOMPARE(Cell(0, COL_NOTE), QStringLiteral("Not encrypted"));
  QCOMPARE(Cell(3, COL_NOTE), QStringLiteral("Not encrypt subfolders, Not encrypted"));
  QCOMPARE(Cell(4, COL_NOTE), QStringLiteral("Encrypt subfolers, Not encrypted"));
  QCOMPARE(m_view->Model()->headerData(COL_NOTE, Qt::Horizontal).toString(),
           QStringLiteral("Note"));

  // The plain file goes and its protected file appears: the next look shows it.
  QVERIFY(QFile::rename(Path(QStringLiteral("a.txt")), Path(QStringLiteral("a.txt.~de"))));
  QCOMPARE(Cell(0, COL_NOTE), QStringLiteral("Encrypting"));
  QCOMPARE(m_doc->Items()[0].m_state, 1);
  QVERIFY(QFile::remove(Path(QStringLiteral("a.txt.~de"))));
  QCOMPARE(Cell(0, COL_NOTE), QStringLiteral("Not found"));
  const QIcon missing =
      m_view->Model()->data(m_view->Model()->index(0, COL_NO), Qt::DecorationRole).value<QIcon>();
  QVERIFY(!missing.isNull());
  QCOMPARE(missing.cacheKey(), m_view->Model()->StatusIcon(2).cacheKey());
  // Stored states 4 and 5 of folders are shown as stored.
  m_doc->Items()[3].m_state = 4;
  QCOMPARE(Cell(3, COL_NOTE), QStringLiteral("Not encrypt subfolders, Encrypting"));
  m_doc->Items()[3].m_state = 5;
  QCOMPARE(Cell(3, COL_NOTE), QStringLiteral("Not found"));
}

void ListPaneTest::statusChecksDrawnRowsOnly() {
  for (int i = 0; i < 2000; ++i) {
    CGuardItem item(Path(QStringLiteral("f%1.txt").arg(i)).toStdString(), 0);
    m_doc->Items().push_back(item);
  }
  m_view->Refresh();
  QApplication::processEvents();
  const qint64 before = m_view->Model()->StatusChecks();
  m_view->ListCtrl()->ReportView()->viewport()->repaint();
  const qint64 checks = m_view->Model()->StatusChecks() - before;
  QVERIFY2(checks > 0, "the drawn rows look at the disk");
  QVERIFY2(checks < 200, qPrintable(QString::number(checks)));
}

void ListPaneTest::sortByColumnHeadings() {
  QDir().mkpath(Path(QStringLiteral("zeta")));
  QDir().mkpath(Path(QStringLiteral("alpha")));
  for (const char* name : {"b.txt", "a.doc", "c.txt"}) Write(QString::fromLatin1(name), "x");
  AddFile(QStringLiteral("b.txt"));
  AddFolder(QStringLiteral("zeta"));
  AddFile(QStringLiteral("a.doc"));
  AddFolder(QStringLiteral("alpha"));
  AddFile(QStringLiteral("c.txt"));
  m_doc->SetModifiedFlag(false);
  m_view->Refresh();
  auto names = [this] {
    QStringList n;
    for (int r = 0; r < m_view->Model()->rowCount(); ++r) n << Cell(r, COL_NAME);
    return n;
  };
  CSortListCtrl* list = m_view->ListCtrl();
  list->ColumnClick(COL_NAME);
  QCOMPARE(names(), (QStringList{"alpha", "zeta", "a.doc", "b.txt", "c.txt"}));
  QCOMPARE(list->SortColumn(), int(COL_NAME));
  QCOMPARE(list->IsAscending(), 1);
  QVERIFY(m_doc->IsModified());
  list->ColumnClick(COL_NAME);
  QCOMPARE(names(), (QStringList{"zeta", "alpha", "c.txt", "b.txt", "a.doc"}));
  QCOMPARE(list->IsAscending(), 0);
  list->ColumnClick(COL_TYPE);
  QCOMPARE(names(), (QStringList{"alpha", "zeta", "a.doc", "c.txt", "b.txt"}));
  // "No" and "Note" do not sort: nothing moves and the arrow stays.
  const QStringList before = names();
  list->ColumnClick(COL_NO);
  list->ColumnClick(COL_NOTE);
  QCOMPARE(names(), before);
  QCOMPARE(list->SortColumn(), int(COL_TYPE));
}

void ListPaneTest::openFolderNavigatesAndFileRestoresFirst() {
  MakeMixedList();
  m_view->ListCtrl()->SelectRows({3});
  QVERIFY(Update(ID_GUARD_OPEN).enabled);
  m_view->OnCommand(ID_GUARD_OPEN);
  QCOMPARE(m_nav.paths, QStringList{Path(QStringLiteral("docs"))});
  QCOMPARE(m_nav.sources, QList<NavSource>{NAV_ELSEWHERE});
  // A folder that is gone is not navigated to.
  AddFolder(QStringLiteral("gone"));
  m_view->Refresh();
  m_view->ListCtrl()->SelectRows({5});
  m_view->OnCommand(ID_GUARD_OPEN);
  QCOMPARE(m_nav.paths.size(), 1);

  // A protected file is restored before the desktop opens it.
  Write(QStringLiteral("secret.txt"), "the plain contents");
  uint8_t digest[32];
  GuardKeyDigest(digest, "pw");
  QCOMPARE(
      EncryptFileList(*m_script, {Path(QStringLiteral("secret.txt")).toStdString()}, digest, 6, ""),
      1);
  QVERIFY(!QFileInfo::exists(Path(QStringLiteral("secret.txt"))));
  AddFile(QStringLiteral("secret.txt.~de"));  // listed under its plain name
  m_view->Refresh();
  const int row = m_doc->FindItem(Path(QStringLiteral("secret.txt")).toStdString());
  QVERIFY(row >= 0);
  QList<QUrl> opened;
  QByteArray seenByOpener;
  SetUrlOpener([&](const QUrl& url) {
    opened << url;
    seenByOpener = Read(QStringLiteral("secret.txt"));
    return true;
  });
  m_script->passwords = {"pw"};
  m_view->ListCtrl()->SelectRows({row});
  m_view->OnCommand(ID_GUARD_OPEN);
  QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(Path(QStringLiteral("secret.txt")))});
  QCOMPARE(seenByOpener, QByteArray("the plain contents"));
  QVERIFY(!QFileInfo::exists(Path(QStringLiteral("secret.txt.~de"))));

  // The desktop cannot open it: the user is told which file.
  PromptRecorder prompts;
  SetUrlOpener([](const QUrl&) { return false; });
  m_view->OnCommand(ID_GUARD_OPEN);
  QCOMPARE(prompts.messages.size(), size_t(1));
  QVERIFY(prompts.messages[0].text.contains(Path(QStringLiteral("secret.txt"))));
}

void ListPaneTest::newListAsksForSettingsAfterStart() {
  MakeMixedList();
  m_script->standingSettings = TypePassword("");
  QVERIFY(m_doc->OnNewDocument());
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 1);
  QCOMPARE(m_script->settingsShown.back().title, std::string("Encryption setting"));
  QVERIFY(m_doc->Items().empty());
  QCOMPARE(m_view->Model()->rowCount(), 0);
  QVERIFY(!m_doc->HasPassword());
  QCOMPARE(m_doc->IncludeMask(), std::string("*.*|"));
  QCOMPARE(m_doc->ExcludeMask(), std::string("Vellum*.*|"));
}

void ListPaneTest::saveAndReopenThroughFramework() {
  MakeMixedList();
  m_doc->Items()[3].m_subfolders = 1;
  m_doc->Items()[3].m_includeMask = "*.txt|*.doc|";
  m_doc->Items()[3].m_excludeMask = "tmp*|";
  m_doc->Items()[4].m_state = 4;
  m_doc->Core().m_zipLevel = 3;
  m_doc->Core().m_noZipMask = "*.zip|";
  m_doc->Core().m_includeMask = "*.*|";
  GuardKeyDigest(m_doc->Core().m_digest, "list password");
  KnownListPaths known;
  m_doc->SetKnownListPaths(&known);
  const QString path = Path(QStringLiteral("my list.dlt"));
  PromptRecorder prompts;
  QVERIFY(m_doc->DoSave(path, true, nullptr));
  QVERIFY(prompts.messages.empty());
  QVERIFY(!m_doc->IsModified());
  QCOMPARE(m_doc->PathName(), path);
  QCOMPARE(m_doc->Title(), QStringLiteral("my list.dlt"));
  QVERIFY(known.empty());  // remembered before writing: a new file is not there yet
  QVERIFY(m_doc->DoFileSave(nullptr));
  QCOMPARE(known, KnownListPaths{path.toStdString()});

  CExplorerDocument reopened;
  KnownListPaths known2;
  reopened.SetKnownListPaths(&known2);
  CDocManager manager;
  manager.SetDocument(&reopened);
  QVERIFY(manager.OpenDocumentFile(path));
  QVERIFY(prompts.messages.empty());
  QCOMPARE(reopened.PathName(), path);
  QVERIFY(!reopened.IsModified());
  QCOMPARE(known2, KnownListPaths{path.toStdString()});
  const auto& a = m_doc->Items();
  const auto& b = reopened.Items();
  QCOMPARE(b.size(), a.size());
  for (size_t i = 0; i < a.size(); ++i) {
    QCOMPARE(b[i].m_path, a[i].m_path);
    QCOMPARE(b[i].m_folder, a[i].m_folder);
    QCOMPARE(b[i].m_subfolders, a[i].m_subfolders);
    QCOMPARE(b[i].m_includeMask, a[i].m_includeMask);
    QCOMPARE(b[i].m_excludeMask, a[i].m_excludeMask);
    QCOMPARE(b[i].m_state, a[i].m_state);
  }
  QCOMPARE(reopened.ZipLevel(), 3);
  QCOMPARE(reopened.NoZipMask(), std::string("*.zip|"));
  QCOMPARE(reopened.IncludeMask(), m_doc->IncludeMask());
  QCOMPARE(reopened.ExcludeMask(), m_doc->ExcludeMask());
  QVERIFY(std::memcmp(reopened.KeyDigest(), m_doc->KeyDigest(), 32) == 0);

  // A failed save names the file, keeps the modified flag and the old path.
  m_doc->SetModifiedFlag(true);
  const QString bad = Path(QStringLiteral("no such folder/list.dlt"));
  QVERIFY(!m_doc->DoSave(bad, true, nullptr));
  QCOMPARE(prompts.messages.size(), size_t(1));
  QVERIFY2(prompts.messages[0].text.contains(bad), qPrintable(prompts.messages[0].text));
  QVERIFY(m_doc->IsModified());
  QCOMPARE(m_doc->PathName(), path);
}

void ListPaneTest::refusesFilesThatAreNoList() {
  MakeMixedList();
  const QString path = Path(QStringLiteral("list.dlt"));
  QVERIFY(m_doc->DoSave(path, true, nullptr));
  Write(QStringLiteral("notes.dlt"), "these are someone's notes, not a list");
  PromptRecorder prompts;
  CDocManager manager;
  manager.SetDocument(m_doc.get());
  QVERIFY(!manager.OpenDocumentFile(Path(QStringLiteral("notes.dlt"))));
  QCOMPARE(prompts.messages.size(), size_t(1));
  QVERIFY(prompts.messages[0].text.contains(Path(QStringLiteral("notes.dlt"))));
  // The open list is untouched, and the foreign file too.
  QCOMPARE(m_doc->Items().size(), size_t(5));
  QCOMPARE(m_doc->PathName(), path);
  QCOMPARE(Read(QStringLiteral("notes.dlt")), QByteArray("these are someone's notes, not a list"));
  QVERIFY(!manager.OpenDocumentFile(Path(QStringLiteral("absent.dlt"))));
  QCOMPARE(m_doc->Items().size(), size_t(5));
}

void ListPaneTest::endToEndProtectAndRestore() {
  auto random = [](int n) {
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i) b[i] = char(QRandomGenerator::global()->bounded(256));
    return b;
  };
  const QMap<QString, QByteArray> files = {
      {QStringLiteral("data/a.txt"), QByteArray("hello, list\n").repeated(500)},
      {QStringLiteral("data/empty.txt"), QByteArray()},
      {QStringLiteral("data/sub/b.bin"), random(70001)},
      {QStringLiteral("data/sub/deeper/c.jpg"), random(4097)},
  };
  for (auto it = files.begin(); it != files.end(); ++it) Write(it.key(), it.value());

  // Add the folder with its subfolders through the add-folder dialog.
  OnNextModal<CAddFolderDlg>([&](CAddFolderDlg* dlg) {
    dlg->findChild<QLineEdit*>(QStringLiteral("folderEdit"))->setText(Path(QStringLiteral("data")));
    dlg->findChild<QCheckBox*>(QStringLiteral("subfoldersCheck"))->setChecked(true);
    dlg->accept();
  });
  m_view->OnCommand(ID_LIST_INSERT_FOLDERS);
  QCOMPARE(m_doc->Items().size(), size_t(1));
  QVERIFY(Update(ID_GUARD_ENCRYPT_ALL).enabled);

  // Encrypt all: the confirmation (captioned "TB"), then the list password first.
  PromptRecorder prompts;
  m_script->standingSettings = TypePassword("correct horse");
  QString caption, question;
  OnNextModal<QMessageBox>([&](QMessageBox* box) {
    caption = box->windowTitle();
    question = box->text();
    box->button(QMessageBox::Yes)->click();
  });
  m_view->OnCommand(ID_GUARD_ENCRYPT_ALL);
  QCOMPARE(caption, QStringLiteral("TB"));
  QCOMPARE(question, QStringLiteral(
                         "Do you want to encrypt all files and folders in the list \"Untitled\"?"));
  QCOMPARE(prompts.Texts(), QStringList{QStringLiteral("Please enter password")});
  QCOMPARE(prompts.messages[0].icon, QMessageBox::Information);
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 1);
  QVERIFY(m_doc->HasPassword());
  QCOMPARE(static_cast<int>(m_script->Lines("progress: ").size()), 1);
  for (auto it = files.begin(); it != files.end(); ++it) {
    QVERIFY2(!QFileInfo::exists(Path(it.key())), qPrintable(it.key()));
    QVERIFY2(QFileInfo::exists(Path(it.key() + QStringLiteral(".~de"))), qPrintable(it.key()));
  }
  QVERIFY(Read(QStringLiteral("data/sub/b.bin.~de")) !=
          files.value(QStringLiteral("data/sub/b.bin")));

  // Decrypt all: one question, the password once for the whole run.
  prompts.messages.clear();
  m_script->passwords = {"correct horse"};
  m_view->OnCommand(ID_GUARD_DECRYPT_ALL);
  QCOMPARE(prompts.Texts(),
           QStringList{QStringLiteral(
               "Do you want to decrypt all files and folders in the list \"Untitled\"?")});
  QCOMPARE(static_cast<int>(m_script->prompts.size()), 1);
  for (auto it = files.begin(); it != files.end(); ++it) {
    QCOMPARE(Read(it.key()), it.value());
    QVERIFY2(!QFileInfo::exists(Path(it.key() + QStringLiteral(".~de"))), qPrintable(it.key()));
  }

  // With a list password set, encrypting the selection asks nothing more.
  prompts.messages.clear();
  m_view->ListCtrl()->SelectRows({0});
  QVERIFY(Update(ID_GUARD_ENCRYPT).enabled);
  m_view->OnCommand(ID_GUARD_ENCRYPT);
  QVERIFY(prompts.messages.empty());
  QCOMPARE(static_cast<int>(m_script->settingsShown.size()), 1);
  QVERIFY(QFileInfo::exists(Path(QStringLiteral("data/a.txt.~de"))));
  QVERIFY(Update(ID_GUARD_DECRYPT).enabled);
}

void ListPaneTest::receivedListProtectsOnlyAfterItsPassword() {
  // A list someone else made and sent: its key was never typed in this profile (a fresh
  // one, whatever earlier runs typed).
  const QByteArray oldHome = qgetenv("VELLUMGUARD_HOME");
  qputenv("VELLUMGUARD_HOME", QFile::encodeName(Path(QStringLiteral("profile"))));
  auto restoreHome = qScopeGuard([&] { qputenv("VELLUMGUARD_HOME", oldHome); });
  Write(QStringLiteral("mine.txt"), QByteArray("my own words\n"));
  CExplorerDoc sent;
  sent.m_items.push_back(CGuardItem(Path(QStringLiteral("mine.txt")).toStdString(), 0));
  GuardKeyDigest(sent.m_digest, "the sender's secret");
  const QString listPath = Path(QStringLiteral("sent.dlt"));
  QVERIFY(sent.Store(listPath.toStdString()).ok());
  QVERIFY(m_doc->OnOpenDocument(listPath));
  m_doc->SetPathName(listPath);
  m_view->Refresh(false);

  auto encryptAll = [&] {
    OnNextModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    m_view->OnCommand(ID_GUARD_ENCRYPT_ALL);
  };
  // Cancelled: nothing is protected.
  m_script->passwords = {std::nullopt};
  encryptAll();
  QCOMPARE(m_script->prompts, std::vector<std::string>{listPath.toStdString()});
  QVERIFY(QFileInfo::exists(Path(QStringLiteral("mine.txt"))));
  // A wrong password is called wrong and asked again; the right one protects.
  m_script->prompts.clear();
  m_script->log.clear();
  m_script->passwords = {"a guess", "the sender's secret"};
  encryptAll();
  QCOMPARE(static_cast<int>(m_script->prompts.size()), 2);
  const std::vector<std::string> notices = m_script->Lines("notice: ");
  QCOMPARE(static_cast<int>(notices.size()), 2);
  QVERIFY(notices[0].find("made elsewhere") != std::string::npos);
  QVERIFY(notices[1].find("Wrong password") != std::string::npos);
  QVERIFY(!QFileInfo::exists(Path(QStringLiteral("mine.txt"))));
  QVERIFY(QFileInfo::exists(Path(QStringLiteral("mine.txt.~de"))));
  // Typed once, the key is this user's: the next run asks nothing.
  QVERIFY(QFile::rename(Path(QStringLiteral("mine.txt.~de")), Path(QStringLiteral("x.~de"))));
  Write(QStringLiteral("mine.txt"), QByteArray("again\n"));
  m_script->prompts.clear();
  encryptAll();
  QVERIFY(m_script->prompts.empty());
  QVERIFY(QFileInfo::exists(Path(QStringLiteral("mine.txt.~de"))));
}

QTEST_MAIN(ListPaneTest)
#include "list_pane_test.moc"

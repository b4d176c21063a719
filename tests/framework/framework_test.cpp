// The framework layer: the command route (focus pane, document, frame, application),
// update handlers, the document's save questions, the recent files, and the one
// conversion between interface paths and file-system paths.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include "framework/app_profile.h"
#include "framework/command_ids.h"
#include "framework/command_router.h"
#include "framework/doc_manager.h"
#include "framework/document.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "framework/shell_open.h"

namespace {

// A target that handles the ids it is given and records what it ran.
class Target : public ICommandTarget {
 public:
  explicit Target(QList<int> ids, bool enabled = true) : m_ids(ids), m_enabled(enabled) {}
  bool OnCommand(int id) override {
    if (!m_ids.contains(id)) return false;
    m_ran << id;
    return true;
  }
  bool OnUpdateCommand(int id, CommandUpdate& update) override {
    if (!m_ids.contains(id)) return false;
    update.Enable(m_enabled);
    if (!m_text.isEmpty()) update.SetText(m_text);
    if (m_check >= 0) update.SetCheck(m_check == 1);
    return true;
  }
  QList<int> m_ids;
  bool m_enabled;
  QString m_text;
  int m_check = -1;
  QList<int> m_ran;
};

class Pane : public QLineEdit, public Target {
  Q_OBJECT
 public:
  Pane(QList<int> ids, QWidget* parent) : QLineEdit(parent), Target(ids) {}
 signals:
  void SelectionChanged();
};

// A document that keeps one line of text in its file.
class TextDocument : public CDocument {
 public:
  QString m_text;
  int m_opened = 0;
  bool m_failSave = false;
  void DeleteContents() override { m_text.clear(); }
  bool OnOpenDocument(const QString& path) override {
    if (!CDocument::OnOpenDocument(path)) return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    m_text = QString::fromUtf8(file.readAll());
    ++m_opened;
    return true;
  }
  bool OnSaveDocument(const QString& path) override {
    if (m_failSave) return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_text.toUtf8()) < 0) return false;
    return CDocument::OnSaveDocument(path);
  }
};

}  // namespace

class FrameworkTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir m_home;
  QStringList m_messages;
  QMessageBox::StandardButton m_answer = QMessageBox::Ok;
  QString m_chosenFile;

  QString Write(const QString& name, const QByteArray& bytes) {
    const QString path = m_home.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return path;
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_home.isValid());
    qputenv("VELLUMGUARD_HOME", m_home.path().toUtf8());
  }
  void init() {
    m_messages.clear();
    m_answer = QMessageBox::Ok;
    m_chosenFile.clear();
    Prompts().message = [this](QWidget*, const QString& text, QMessageBox::Icon,
                               QMessageBox::StandardButtons) {
      m_messages << text;
      return m_answer;
    };
    Prompts().chooseFile = [this](QWidget*, bool, const QString&) { return m_chosenFile; };
  }
  void cleanup() { RestoreDefaultPrompts(); }

  void routeAsksFocusPaneThenDocumentFrameApplication() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* first = new Pane({ID_EDIT_COPY, ID_GUARD_ENCRYPT}, &window);
    auto* second = new Pane({ID_EDIT_COPY}, &window);
    layout->addWidget(first);
    layout->addWidget(second);
    CCommandRouter router(&window);
    for (int id :
         {ID_EDIT_COPY, ID_GUARD_ENCRYPT, ID_FILE_SAVE, ID_APP_ABOUT, ID_FILE_PRINT, ID_EDIT_UNDO})
      router.AddCommand(id, QStringLiteral("x"));
    TextDocument doc;
    Target frame({ID_GUARD_ENCRYPT, ID_APP_ABOUT});
    Target app({ID_APP_ABOUT, ID_FILE_SAVE});
    router.AddPane(first, first);
    router.AddPane(second, second);
    router.SetDocument(&doc);
    router.SetFrameTarget(&frame);
    router.SetAppTarget(&app);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    second->setFocus();
    QTRY_COMPARE(router.ActivePane(), second);
    QVERIFY(router.Route(ID_EDIT_COPY));
    QCOMPARE(second->m_ran, QList<int>{ID_EDIT_COPY});
    QVERIFY(first->m_ran.isEmpty());
    // Not handled by the focus pane: the frame (the other pane is not asked).
    QVERIFY(router.Route(ID_GUARD_ENCRYPT));
    QCOMPARE(frame.m_ran, QList<int>{ID_GUARD_ENCRYPT});
    QVERIFY(first->m_ran.isEmpty());
    first->setFocus();
    QTRY_COMPARE(router.ActivePane(), first);
    QVERIFY(router.Route(ID_GUARD_ENCRYPT));
    QCOMPARE(first->m_ran, QList<int>{ID_GUARD_ENCRYPT});
    // The document comes before the application, the frame before the application.
    m_chosenFile.clear();
    QVERIFY(router.Route(ID_FILE_SAVE));  // the document's Save As, cancelled
    QVERIFY(app.m_ran.isEmpty());
    QVERIFY(router.Route(ID_APP_ABOUT));
    QCOMPARE(frame.m_ran.last(), int(ID_APP_ABOUT));
    QVERIFY(app.m_ran.isEmpty());
    // Nobody handles Print or Undo: not routed, shown disabled.
    QVERIFY(!router.Route(ID_FILE_PRINT));
    router.UpdateCommands();
    QVERIFY(!router.Action(ID_FILE_PRINT)->isEnabled());
    QVERIFY(!router.Action(ID_EDIT_UNDO)->isEnabled());
    QVERIFY(router.Action(ID_EDIT_COPY)->isEnabled());
  }

  void focusOutsidePanesKeepsLastActivePane() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* pane = new Pane({ID_EDIT_PASTE}, &window);
    auto* other = new QLineEdit(&window);  // an address bar, say
    layout->addWidget(pane);
    layout->addWidget(other);
    CCommandRouter router(&window);
    router.AddCommand(ID_EDIT_PASTE, QStringLiteral("Paste"));
    router.AddPane(pane, pane);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    pane->setFocus();
    other->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), other);
    QCOMPARE(router.ActivePane(), pane);
    QVERIFY(router.Route(ID_EDIT_PASTE));
  }

  void updatesFollowFocusSelectionAndMenus() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* a = new Pane({ID_GUARD_ENCRYPT}, &window);
    auto* b = new Pane({}, &window);
    layout->addWidget(a);
    layout->addWidget(b);
    CCommandRouter router(&window);
    QAction* encrypt = router.AddCommand(ID_GUARD_ENCRYPT, QStringLiteral("&Encrypt"));
    router.AddPane(a, a);
    router.AddPane(b, b);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    a->m_text = QStringLiteral("Encrypt \"a.txt\"");
    a->setFocus();
    QTRY_COMPARE(encrypt->text(), QStringLiteral("Encrypt \"a.txt\""));
    QVERIFY(encrypt->isEnabled());
    b->setFocus();  // b does not handle it: disabled
    QTRY_VERIFY(!encrypt->isEnabled());
    a->setFocus();
    QTRY_VERIFY(encrypt->isEnabled());
    // A new selection in the pane updates the toolbar state.
    a->m_enabled = false;
    emit a->SelectionChanged();
    QTRY_VERIFY(!encrypt->isEnabled());
    // Before a menu shows, its entries are brought up to date at once.
    a->m_enabled = true;
    a->m_check = 1;
    QMenu menu;
    menu.addAction(encrypt);
    router.WatchMenu(&menu);
    emit menu.aboutToShow();
    QVERIFY(encrypt->isEnabled());
    QVERIFY(encrypt->isChecked());
  }

  void shortcutsAndPrompts() {
    QWidget window;
    CCommandRouter router(&window);
    QAction* cut = router.AddCommand(
        ID_EDIT_CUT, QStringLiteral("C&ut\tCtrl+X"),
        QStringLiteral("Cut the selection and put it on the Clipboard\nCut"),
        {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)});
    QCOMPARE(cut->statusTip(), QStringLiteral("Cut the selection and put it on the Clipboard"));
    QCOMPARE(cut->toolTip(), QStringLiteral("Cut"));
    QCOMPARE(cut->shortcuts().size(), 2);
    QCOMPARE(CCommandRouter::CommandIdOf(cut), int(ID_EDIT_CUT));
    QVERIFY(window.actions().contains(cut));
  }

  void nextPaneMovesFocusAlongPanes() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* a = new Pane({}, &window);
    auto* b = new Pane({}, &window);
    auto* c = new Pane({}, &window);
    for (auto* p : {a, b, c}) layout->addWidget(p);
    CCommandRouter router(&window);
    router.AddPane(a, a);
    router.AddPane(b, b);
    router.AddPane(c, c);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    a->setFocus();
    router.ActivateNextPane(true);
    QTRY_COMPARE(QApplication::focusWidget(), b);
    router.ActivateNextPane(false);
    router.ActivateNextPane(false);
    QTRY_COMPARE(QApplication::focusWidget(), c);
  }

  void saveModifiedAnswers() {
    TextDocument doc;
    QVERIFY(doc.SaveModified(nullptr));  // not modified: no question
    QVERIFY(m_messages.isEmpty());
    doc.m_text = QStringLiteral("one");
    doc.SetModifiedFlag();
    m_answer = QMessageBox::Cancel;
    QVERIFY(!doc.SaveModified(nullptr));
    QCOMPARE(m_messages.last(), QStringLiteral("Save changes to Untitled?"));
    m_answer = QMessageBox::No;
    QVERIFY(doc.SaveModified(nullptr));
    QVERIFY(doc.IsModified());
    // Yes on a new document asks for a name; cancelling that keeps the contents.
    m_answer = QMessageBox::Yes;
    m_chosenFile.clear();
    QVERIFY(!doc.SaveModified(nullptr));
    m_chosenFile = m_home.filePath(QStringLiteral("one.dlt"));
    QVERIFY(doc.SaveModified(nullptr));
    QVERIFY(!doc.IsModified());
    QCOMPARE(doc.PathName(), m_chosenFile);
    QCOMPARE(doc.Title(), QStringLiteral("one.dlt"));
    // A failed save leaves the document modified and reports false.
    doc.SetModifiedFlag();
    doc.m_failSave = true;
    QVERIFY(!doc.SaveModified(nullptr));
    QVERIFY(doc.IsModified());
    QCOMPARE(m_messages.last(), QStringLiteral("Save changes to %1?").arg(m_chosenFile));
  }

  void openingRefusesMissingFilesAndKeepsTheDocument() {
    TextDocument doc;
    CDocManager manager;
    manager.SetDocument(&doc);
    const QString first = Write(QStringLiteral("first.dlt"), "first");
    QVERIFY(manager.OpenDocumentFile(first));
    QCOMPARE(doc.m_text, QStringLiteral("first"));
    QCOMPARE(doc.m_opened, 1);
    // The document's own file is not read again.
    QVERIFY(manager.OpenDocumentFile(first));
    QCOMPARE(doc.m_opened, 1);
    const QString missing = m_home.filePath(QStringLiteral("missing.dlt"));
    QVERIFY(!manager.OpenDocumentFile(missing));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.last().contains(missing));
    QCOMPARE(doc.m_text, QStringLiteral("first"));
    QCOMPARE(doc.PathName(), first);
    // "Save changes?" answered Cancel stops the open.
    doc.SetModifiedFlag();
    m_answer = QMessageBox::Cancel;
    const QString second = Write(QStringLiteral("second.dlt"), "second");
    QVERIFY(!manager.OpenDocumentFile(second));
    QCOMPARE(doc.m_text, QStringLiteral("first"));
    // "No" (do not save), then a file that cannot be opened: the modified document stays
    // exactly as it was, changes, path and flag included.
    doc.m_text = QStringLiteral("first, changed");
    m_answer = QMessageBox::No;
    QVERIFY(!manager.OpenDocumentFile(missing));
    QCOMPARE(doc.m_text, QStringLiteral("first, changed"));
    QCOMPARE(doc.PathName(), first);
    QVERIFY(doc.IsModified());
    QVERIFY(manager.OpenDocumentFile(second));
    QCOMPARE(doc.m_text, QStringLiteral("second"));
    QVERIFY(!doc.IsModified());
    // New empties the document and forgets the path.
    QVERIFY(manager.OnFileNew());
    QCOMPARE(doc.m_text, QString());
    QCOMPARE(doc.Title(), QStringLiteral("Untitled"));
  }

  void oldProfileMovesOnceAndNeverOverwrites() {
    const QString oldFolder =
        m_home.filePath(QStringLiteral("Local AppWizard-Generated Applications"));
    const QString oldFile = oldFolder + QStringLiteral("/Vellumguard.conf");
    QFile::remove(AppProfilePath());
    QVERIFY(QDir().mkpath(oldFolder));
    QSettings(oldFile, QSettings::IniFormat).setValue(QStringLiteral("Settings/X"), 42);
    QVERIFY(MoveOldAppProfile());
    QVERIFY(!QFile::exists(oldFile) && !QFileInfo::exists(oldFolder));
    QCOMPARE(OpenAppProfile()->value(QStringLiteral("Settings/X")).toInt(), 42);
    // A profile already in the new place wins over an old one found later.
    QVERIFY(QDir().mkpath(oldFolder));
    QSettings(oldFile, QSettings::IniFormat).setValue(QStringLiteral("Settings/X"), 7);
    QVERIFY(!MoveOldAppProfile());
    QCOMPARE(OpenAppProfile()->value(QStringLiteral("Settings/X")).toInt(), 42);
    QVERIFY(QFile::exists(oldFile));
  }

  void recentFilesKeepTenMostRecentFirstAndPersist() {
    OpenAppProfile()->clear();
    TextDocument doc;
    {
      CDocManager manager;
      manager.SetDocument(&doc);
      QSignalSpy changed(&manager, &CDocManager::RecentFilesChanged);
      for (int i = 0; i < 12; ++i)
        QVERIFY(manager.OpenDocumentFile(
            Write(QStringLiteral("list%1.dlt").arg(i), QByteArray::number(i))));
      QCOMPARE(changed.count(), 12);
      const CRecentFileList& recent = manager.RecentFiles();
      QCOMPARE(recent.Count(), 10);
      QCOMPARE(recent.At(0), m_home.filePath(QStringLiteral("list11.dlt")));
      QCOMPARE(recent.At(9), m_home.filePath(QStringLiteral("list2.dlt")));
      QVERIFY(recent.MenuText(0).startsWith(QStringLiteral("&1 ")));
      QVERIFY(recent.MenuText(9).startsWith(QStringLiteral("1&0 ")));
      // Opening an entry again moves it to the front.
      QVERIFY(manager.OnOpenRecentFile(5));
      QCOMPARE(recent.At(0), m_home.filePath(QStringLiteral("list6.dlt")));
      QCOMPARE(recent.Count(), 10);
    }
    QCOMPARE(AppProfilePath(), m_home.filePath(QStringLiteral("vellumguard.conf")));
    QVERIFY(QFile::exists(AppProfilePath()));
    CRecentFileList reread;
    reread.ReadList();
    QCOMPARE(reread.Count(), 10);
    QCOMPARE(reread.At(0), m_home.filePath(QStringLiteral("list6.dlt")));

    // An entry whose file is gone leaves the list when it fails to open.
    CDocManager manager;
    manager.SetDocument(&doc);
    manager.RecentFiles().ReadList();
    QVERIFY(manager.OnFileNew());
    QFile::remove(m_home.filePath(QStringLiteral("list6.dlt")));
    QVERIFY(!manager.OnOpenRecentFile(0));
    QCOMPARE(manager.RecentFiles().Count(), 9);
  }

  void nativePathsKeepEveryByte_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("utf8");
    QTest::newRow("ascii") << QByteArray("/tmp/a b.txt") << true;
    QTest::newRow("two and three bytes") << QByteArray("/tmp/\xc3\x84pfel \xe2\x82\xac") << true;
    QTest::newRow("four bytes") << QByteArray("/tmp/\xf0\x9f\x94\x92") << true;
    QTest::newRow("replacement character") << QByteArray("/tmp/caf\xef\xbf\xbd") << true;
    QTest::newRow("latin-1") << QByteArray("/tmp/caf\xe9") << false;
    QTest::newRow("cut short") << QByteArray("/tmp/\xe2\x82") << false;
    QTest::newRow("overlong slash") << QByteArray("/tmp/\xc0\xaf") << false;
    QTest::newRow("encoded surrogate") << QByteArray("/tmp/\xed\xa0\x80") << false;
    QTest::newRow("above U+10FFFF") << QByteArray("/tmp/\xf4\x90\x80\x80") << false;
    QTest::newRow("stray continuation") << QByteArray("/\x80\xbf/\xff") << false;
  }
  void nativePathsKeepEveryByte() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, utf8);
    const std::string native = bytes.toStdString();
    const QString shown = FromNative(native);
    QCOMPARE(QByteArray::fromStdString(Native(shown)), bytes);
    if (utf8) {
      QCOMPARE(shown, QString::fromUtf8(bytes));
    } else {
      // Not the name Qt would make of it, which is another file's name.
      QVERIFY(shown != QString::fromUtf8(bytes));
      QVERIFY(shown.startsWith(QLatin1String("/")));
    }
  }

  // The desktop's opener gets the name's bytes, and its failure is a failure.
  void openerGetsTheBytesAndItsExitStatusCounts() {
    QTemporaryDir bin;
    const QString record = bin.filePath(QStringLiteral("record"));
    for (const int status : {4, 0}) {
      QFile script(bin.filePath(QStringLiteral("xdg-open")));
      QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
      script.write(QStringLiteral("#!/bin/sh\nprintf %s \"$1\" > '%1'\nexit %2\n")
                       .arg(record)
                       .arg(status)
                       .toUtf8());
      script.close();
      QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
      const QByteArray oldPath = qgetenv("PATH");
      qputenv("PATH", bin.path().toUtf8() + ":" + oldPath);
      const bool opened = OpenWithDesktop(FileUrlFromNative("/tmp/caf\xE9 menu.txt"));
      qputenv("PATH", oldPath);
      QCOMPARE(opened, status == 0);
      QFile seen(record);
      QVERIFY(seen.open(QIODevice::ReadOnly));
      QCOMPARE(seen.readAll(), QByteArray("file:///tmp/caf%E9%20menu.txt"));
    }
  }
};

QTEST_MAIN(FrameworkTest)
#include "framework_test.moc"

// The window as a whole: start-up with and without a state file and with a list on the
// command line, the menus and their update states, NavigateTo's origin rule, the
// address bar, the view modes, "Default setting", closing, a shutdown requested while a
// guard run is going on, and the about box.
#include "app/main_frame.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <csignal>
#include <cstring>
#include <memory>

#include "app/about_box.h"
#include "app/address_bar.h"
#include "app/explorer_app.h"
#include "app/progress_window.h"
#include "app/three_pane_splitter.h"
#include "app/window_guard_ui.h"
#include "engine/digest.h"
#include "explorer/bottom_list_view.h"
#include "explorer/bottom_tree_view.h"
#include "framework/command_ids.h"
#include "framework/command_router.h"
#include "framework/doc_manager.h"
#include "framework/link_label.h"
#include "framework/prompts.h"
#include "framework/shell_open.h"
#include "guard/encryption_settings.h"
#include "guard/file_list_driver.h"
#include "guard/ui/encryption_settings_dlg.h"
#include "guard/ui/password_dlg.h"
#include "guardlist/app_state.h"
#include "guardlist/explorer_doc.h"
#include "guardlist/ui/explorer_document.h"
#include "guardlist/ui/top_view.h"

class MainFrameTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir m_root;
  QString m_home;  // VELLUMGUARD_HOME of the running case
  QString m_work;  // the process's current folder and a place for files
  QStringList m_messages;
  QMessageBox::StandardButton m_answer = QMessageBox::No;
  std::unique_ptr<CExplorerApp> m_app;

  QString MakeList(const QString& name) {
    CExplorerDoc doc;
    doc.NewDocument(nullptr);
    const QString path = QDir(m_work).filePath(name);
    std::string error;
    if (!doc.Store(path.toStdString(), &error)) qWarning("cannot store %s", error.c_str());
    return path;
  }
  QString MakeFile(const QString& name) {
    const QString path = QDir(m_work).filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("plain");
    return path;
  }
  CMainFrame* Start(const QStringList& args = {}) {
    m_app = std::make_unique<CExplorerApp>();
    if (!m_app->InitInstance(args)) return nullptr;
    CMainFrame* frame = m_app->MainFrame();
    if (!QTest::qWaitForWindowExposed(frame)) return nullptr;
    return frame;
  }
  void TypeAddress(CMainFrame* frame, const QString& text) {
    frame->AddressBar()->setFocus();
    frame->AddressBar()->Edit()->clear();
    QTest::keyClicks(frame->AddressBar()->Edit(), text);
    QTest::keyClick(frame->AddressBar()->Edit(), Qt::Key_Return);
  }

 private slots:
  void init() {
    static int n = 0;
    ++n;
    m_home = m_root.filePath(QStringLiteral("home%1").arg(n));
    m_work = m_root.filePath(QStringLiteral("work%1").arg(n));
    QDir().mkpath(m_home);
    QDir().mkpath(m_work);
    qputenv("VELLUMGUARD_HOME", m_home.toUtf8());
    QDir::setCurrent(m_work);
    m_messages.clear();
    m_answer = QMessageBox::No;
    Prompts().message = [this](QWidget*, const QString& text, QMessageBox::Icon,
                               QMessageBox::StandardButtons) {
      m_messages << text;
      return m_answer;
    };
    Prompts().chooseFile = [](QWidget*, bool, const QString&) { return QString(); };
  }
  void cleanup() {
    if (m_app && m_app->MainFrame()) {
      if (m_app->Document()) m_app->Document()->SetModifiedFlag(false);
      m_app->MainFrame()->close();
    }
    m_app.reset();
    RestoreDefaultPrompts();
  }

  void startWithoutStateFile() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    QVERIFY(!m_app->StateLoaded());
    QCOMPARE(frame->size(), QSize(750, 550));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY((frame->geometry().center() - screen.center()).manhattanLength() <= 2);
    QCOMPARE(frame->windowTitle(), QStringLiteral("Untitled - Vellumguard"));
    QVERIFY(!m_app->Document()->IsModified());
    QCOMPARE(frame->Splitter()->SplitterLayout(), 2);
    QTRY_COMPARE(frame->Splitter()->FirstSize().current, 130);
    QCOMPARE(frame->Splitter()->SecondSize().current, 200);
    // Every place starts at the current folder.
    QCOMPARE(frame->AddressBar()->currentText(), QDir::currentPath());
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), QDir::currentPath());
    QCOMPARE(frame->statusBar()->currentMessage(), QStringLiteral("Ready"));
    QCOMPARE(frame->TopView()->ColumnWidths().mid(0, 5), (QList<int>{35, 180, 320, 50, 100}));
    // The program's icon is the application's, so the about box shows it too.
    QVERIFY(!QApplication::windowIcon().isNull());
    // Closing writes the state file at exit.
    frame->close();
    QVERIFY(!frame->isVisible());
    m_app->ExitInstance();
    QVERIFY(QFile::exists(QDir(m_home).filePath(QStringLiteral("Vellumguard.dat"))));
  }

  void startWithStateFile() {
    const QString list = MakeList(QStringLiteral("known.dlt"));
    AppState state;
    ResetAppState(state);
    state.windowRect[0] = 10;
    state.windowRect[1] = 20;
    state.windowRect[2] = 650;
    state.windowRect[3] = 500;
    state.topPaneHeight = 150;
    state.treePaneWidth = 170;
    KnownListPaths paths{list.toStdString()};
    QVERIFY(SaveAppState(state, paths));

    CMainFrame* frame = Start();
    QVERIFY(frame);
    QVERIFY(m_app->StateLoaded());
    QCOMPARE(frame->size(), QSize(640, 480));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY((frame->geometry().center() - screen.center()).manhattanLength() <= 2);
    QTRY_COMPARE(frame->Splitter()->FirstSize().current, 150);
    QCOMPARE(frame->Splitter()->SecondSize().current, 170);
    // The known list is in the drop-down and first among the recent files.
    QCOMPARE(frame->AddressBar()->count(), 1);
    QCOMPARE(frame->AddressBar()->itemText(0), list);
    QCOMPARE(m_app->DocManager()->RecentFiles().At(0), list);
    frame->Router()->UpdateCommands();
    QVERIFY(frame->Router()->Action(ID_FILE_MRU_FIRST)->isEnabled());
    QVERIFY(frame->Router()->Action(ID_FILE_MRU_FIRST)->text().endsWith(list));
  }

  void damagedStateFileFallsBackToDefaults() {
    QFile file(QDir(m_home).filePath(QStringLiteral("Vellumguard.dat")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(20, '\x7f'));  // cut short inside the geometry
    file.close();
    CMainFrame* frame = Start();
    QVERIFY(frame);
    QVERIFY(!m_app->StateLoaded());
    QCOMPARE(frame->size(), QSize(750, 550));
  }

  void impossibleWindowRectFallsBackToDefaultSize() {
    AppState state;
    ResetAppState(state);
    state.windowRect[0] = 2000000000;  // garbage written by a broken writer
    state.windowRect[2] = -2000000000;
    QVERIFY(SaveAppState(state, {}));
    CMainFrame* frame = Start();
    QVERIFY(frame);
    QVERIFY(m_app->StateLoaded());
    QCOMPARE(frame->size(), QSize(750, 550));
  }

  void geometryKeepsMaximizedAndFitsTheScreen() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    frame->resize(640, 480);
    frame->showMaximized();
    QTRY_VERIFY(frame->isMaximized());
    frame->close();
    m_app->ExitInstance();
    // The state file keeps the normal rectangle; the window opens maximized again.
    const AppState& stored = m_app->State();
    QCOMPARE(stored.windowRect[2] - stored.windowRect[0], 640);
    QCOMPARE(stored.windowRect[3] - stored.windowRect[1], 480);
    m_app.reset();
    frame = Start();
    QVERIFY(frame);
    QTRY_VERIFY(frame->isMaximized());
    frame->showNormal();
    QTRY_COMPARE(frame->size(), QSize(640, 480));
    frame->close();
    m_app.reset();

    // A rectangle from a larger screen shrinks to this one.
    AppState state;
    ResetAppState(state);
    state.windowRect[2] = 9000;
    state.windowRect[3] = 7000;
    QVERIFY(SaveAppState(state, {}));
    frame = Start();
    QVERIFY(frame);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(!frame->isMaximized());
    QTRY_VERIFY(area.contains(frame->frameGeometry()));
  }

  void passwordPromptSaysWhenThePasswordWasWrong() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    const QString plain = MakeFile(QStringLiteral("secret.txt"));
    uint8_t digest[32];
    GuardKeyDigest(digest, "right");
    CWindowGuardUi ui(frame->ListView());
    QCOMPARE(EncryptFileList(ui, {plain.toStdString()}, digest, 6, std::string()), 1);
    QStringList notices;
    QStringList answers{QStringLiteral("wrong"), QStringLiteral("right")};
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      auto* dlg = qobject_cast<CPasswordDlg*>(QApplication::activeModalWidget());
      if (!dlg || answers.isEmpty()) return;
      notices << (dlg->NoticeLabel()->isVisible() ? dlg->NoticeLabel()->text() : QString());
      dlg->PasswordEdit()->setText(answers.takeFirst());
      dlg->accept();
    });
    poll.start(20);
    QCOMPARE(DecryptFileList(ui, {(plain + QStringLiteral(".~de")).toStdString()}), 1);
    poll.stop();
    QCOMPARE(notices,
             (QStringList{QString(), QStringLiteral("Wrong password. Please try again.")}));
    QFile restored(plain);
    QVERIFY(restored.open(QIODevice::ReadOnly));
    QCOMPARE(restored.readAll(), QByteArray("plain"));
  }

  void startWithListArgument() {
    const QString list = MakeList(QStringLiteral("mine.dlt"));
    CMainFrame* frame = Start({list});
    QVERIFY(frame);
    QCOMPARE(m_app->Document()->PathName(), list);
    QCOMPARE(frame->windowTitle(), QStringLiteral("mine.dlt - Vellumguard"));
    QVERIFY(m_messages.isEmpty());
  }

  void listThatCannotBeOpenedEndsStartUp() {
    const QString missing = QDir(m_work).filePath(QStringLiteral("gone.dlt"));
    m_app = std::make_unique<CExplorerApp>();
    QVERIFY(!m_app->InitInstance({missing}));
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().contains(missing));
    QVERIFY(!m_app->MainFrame() || !m_app->MainFrame()->isVisible());
  }

  void menusAndUpdateStates() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    CCommandRouter* router = frame->Router();
    router->UpdateCommands();
    QVERIFY(!router->Action(ID_EDIT_UNDO)->isEnabled());
    QVERIFY(!router->Action(ID_FILE_PRINT)->isEnabled());
    QVERIFY(router->Action(ID_APP_ABOUT)->isEnabled());
    QVERIFY(router->Action(ID_DEFAULT_SETTING)->isEnabled());
    // Every command a menu shows has a text and a status prompt with the tooltip split
    // off, and every toolbar button draws a picture (one missing from the resources would
    // leave an empty button).
    int shown = 0;
    for (QAction* title : frame->menuBar()->actions()) {
      QVERIFY(title->menu());
      for (QAction* action : title->menu()->actions()) {
        if (action->isSeparator() || !action->isVisible()) continue;
        ++shown;
        QVERIFY(!action->text().isEmpty());
        QVERIFY2(!action->statusTip().isEmpty(), qPrintable(action->text()));
        QVERIFY2(!action->statusTip().contains(QLatin1Char('\n')), qPrintable(action->text()));
      }
    }
    QVERIFY(shown >= 20);
    for (QToolBar* bar : {frame->MainToolBar(), frame->GuardToolBar()}) {
      for (QAction* action : bar->actions()) {
        if (action->isSeparator()) continue;
        QVERIFY2(!action->icon().pixmap(16, 16).isNull(), qPrintable(action->text()));
      }
    }
    // Empty recent-file list: one disabled "Recent Files".
    QVERIFY(!router->Action(ID_FILE_MRU_FIRST)->isEnabled());
    QCOMPARE(router->Action(ID_FILE_MRU_FIRST)->text(), QStringLiteral("Recent Files"));
    // Tool Bar hides both toolbars and its check follows.
    QVERIFY(router->Action(ID_VIEW_TOOLBAR)->isChecked());
    QVERIFY(router->Route(ID_VIEW_TOOLBAR));
    router->UpdateCommands();
    QVERIFY(!frame->MainToolBar()->isVisible());
    QVERIFY(!frame->GuardToolBar()->isVisible());
    QVERIFY(!router->Action(ID_VIEW_TOOLBAR)->isChecked());
  }

  void viewModesActOnTheFileList() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    CCommandRouter* router = frame->Router();
    for (int id : {ID_VIEW_LARGEICON, ID_VIEW_SMALLICON, ID_VIEW_LIST, ID_VIEW_DETAILS}) {
      QVERIFY(router->Route(id));
      QCOMPARE(frame->ListView()->ViewMode(), id);
      router->UpdateCommands();
      QVERIFY(router->Action(id)->isChecked());
      const bool icons = id == ID_VIEW_LARGEICON || id == ID_VIEW_SMALLICON;
      QCOMPARE(router->QueryUpdate(ID_VIEW_BYNAME).enabled, icons);
    }
  }

  void navigateToSkipsTheOrigin() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    const QString a = QDir(m_work).filePath(QStringLiteral("a"));
    const QString b = QDir(m_work).filePath(QStringLiteral("b"));
    QDir().mkpath(a);
    QDir().mkpath(b);
    auto treeFolder = [frame] { return QDir(frame->TreeView()->SelectedFolder()).absolutePath(); };
    // From the file list: the list is not told, the tree and the address follow.
    frame->NavigateTo(a, NAV_LIST);
    QCOMPARE(frame->AddressBar()->currentText(), a);
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), QDir::currentPath());
    QTRY_COMPARE(treeFolder(), a);
    // From the address bar: the list follows, the address text stays as typed.
    frame->AddressBar()->setEditText(QStringLiteral("typed"));
    frame->NavigateTo(b, NAV_ADDRESS);
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), b);
    QCOMPARE(frame->AddressBar()->currentText(), QStringLiteral("typed"));
    QTRY_COMPARE(treeFolder(), b);
    // From the tree: list and address follow, the tree is not told.
    frame->NavigateTo(a, NAV_TREE);
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), a);
    QCOMPARE(frame->AddressBar()->currentText(), a);
    QTest::qWait(50);
    QCOMPARE(treeFolder(), b);
    // Something that is not a folder leaves the address text alone.
    frame->NavigateTo(QStringLiteral("computer:///"), NAV_TREE);
    QCOMPARE(frame->AddressBar()->currentText(), a);
  }

  void addressBarRules() {
    const QString list = MakeList(QStringLiteral("list.dlt"));
    const QString upper = MakeList(QStringLiteral("UPPER.DLT"));
    const QString other = MakeList(QStringLiteral("other.dlt"));
    const QString plain = MakeFile(QStringLiteral("notes.txt"));
    const QString folder = QDir(m_work).filePath(QStringLiteral("sub"));
    QDir().mkpath(folder);
    CMainFrame* frame = Start();
    QVERIFY(frame);
    CAddressBar* bar = frame->AddressBar();
    QCOMPARE(bar->count(), 0);

    // A folder: the panes move, the text stays as typed, the drop-down grows.
    const QString typedFolder = folder + QStringLiteral("/");
    TypeAddress(frame, typedFolder);
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), folder);
    QCOMPARE(bar->currentText(), typedFolder);
    QCOMPARE(bar->count(), 1);
    TypeAddress(frame, typedFolder);  // the same text again is added again
    QCOMPARE(bar->count(), 2);

    // A file that is not a list: added, nothing else.
    TypeAddress(frame, plain);
    QCOMPARE(bar->count(), 3);
    QCOMPARE(m_app->Document()->PathName(), QString());
    // ".DLT" in capitals is not a list.
    TypeAddress(frame, upper);
    QCOMPARE(bar->count(), 4);
    QCOMPARE(m_app->Document()->PathName(), QString());
    // ".dlt" opens the list.
    TypeAddress(frame, list);
    QCOMPARE(bar->count(), 5);
    QCOMPARE(m_app->Document()->PathName(), list);
    // Something that does not exist: nothing happens, the text stays.
    const QString missing = QDir(m_work).filePath(QStringLiteral("nothing"));
    TypeAddress(frame, missing);
    QCOMPARE(bar->count(), 5);
    QCOMPARE(bar->currentText(), missing);

    // Choosing entries: a folder navigates, a list opens, nothing is added.
    QVERIFY(m_app->DocManager()->OpenDocumentFile(other));
    frame->NavigateTo(m_work, NAV_ELSEWHERE);
    emit bar->Selected(0);
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), folder);
    emit bar->Selected(4);
    QCOMPARE(m_app->Document()->PathName(), list);
    QCOMPARE(bar->count(), 5);
    // Leaving the edit with an entry's text chooses nothing.
    QVERIFY(m_app->DocManager()->OpenDocumentFile(other));
    bar->setFocus();
    bar->Edit()->setText(list);
    frame->TopView()->setFocus();
    QTRY_VERIFY(!bar->Edit()->hasFocus());
    QCOMPARE(m_app->Document()->PathName(), other);

    // "~" and "~/..." are the home folder.
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(m_work));
    TypeAddress(frame, QStringLiteral("~/sub"));
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), folder);
    QCOMPARE(bar->currentText(), QStringLiteral("~/sub"));
    frame->NavigateTo(folder, NAV_ELSEWHERE);
    TypeAddress(frame, QStringLiteral("~"));
    QCOMPARE(QDir(frame->ListView()->CurrentFolder()).absolutePath(), QDir(m_work).absolutePath());
    qputenv("HOME", oldHome);
  }

  void closeStoresGeometryEvenWhenCancelled() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    QTRY_COMPARE(frame->Splitter()->FirstSize().current, 130);
    frame->Splitter()->setSizes({180, frame->Splitter()->height() - 180});
    frame->Splitter()->Nested()->setSizes({240, frame->Splitter()->Nested()->width() - 240});
    QList<int> widths = frame->ListView()->ColumnWidths();
    QVERIFY(widths.size() >= 1);
    widths[0] = 222;
    frame->ListView()->SetColumnWidths(widths);
    m_app->Document()->SetModifiedFlag(true);
    m_answer = QMessageBox::Cancel;
    frame->close();
    QVERIFY(frame->isVisible());  // "Save changes?" was cancelled
    QCOMPARE(m_messages.size(), 1);
    const AppState& state = m_app->State();
    QCOMPARE(state.topPaneHeight, 180);
    QCOMPARE(state.treePaneWidth, 240);
    QCOMPARE(state.fileListColumns[0], 222);
    QCOMPARE(state.windowRect[2] - state.windowRect[0], 750);
    m_answer = QMessageBox::No;
    frame->close();
    QVERIFY(!frame->isVisible());
  }

  void defaultSettingWritesTheDefaultsFile() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    bool seen = false;
    QTimer::singleShot(50, this, [&seen] {
      auto* dlg = qobject_cast<CEncryptionSettingsDlg*>(QApplication::activeModalWidget());
      if (!dlg) return;
      seen = true;
      QCOMPARE(dlg->windowTitle(), QStringLiteral("Default setting"));
      QVERIFY(!dlg->UseDefaultCheck()->isEnabled());
      QVERIFY(!dlg->UseLastCheck()->isEnabled());
      QVERIFY(!dlg->SubfoldersCheck()->isEnabled());
      QCOMPARE(dlg->PasswordEdit()->text(), QString());
      QCOMPARE(dlg->LevelSpin()->Edit()->text(), QStringLiteral("6"));
      QCOMPARE(dlg->ExcludeEdit()->text(), QStringLiteral("Vellum*.*|"));
      dlg->PasswordEdit()->setText(QStringLiteral("pw"));
      dlg->ConfirmEdit()->setText(QStringLiteral("pw"));
      dlg->LevelSpin()->stepBy(-2);
      dlg->IncludeEdit()->setText(QStringLiteral("*.doc|"));
      dlg->accept();
    });
    QVERIFY(frame->Router()->Route(ID_DEFAULT_SETTING));
    QVERIFY(seen);
    const std::string path = QDir(m_home).filePath(QStringLiteral("VellumDef.dat")).toStdString();
    CEncryptionSettings settings;
    QVERIFY(settings.Load(path));
    QCOMPARE(settings.m_zipLevel, 4);
    QCOMPARE(QString::fromStdString(settings.m_includeMask), QStringLiteral("*.doc|"));
    uint8_t expected[32];
    GuardKeyDigest(expected, "pw");
    QVERIFY(std::memcmp(settings.m_digest, expected, 32) == 0);

    // Cancel writes nothing.
    QFile::remove(QString::fromStdString(path));
    QTimer::singleShot(50, this, [] {
      if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dlg->reject();
    });
    frame->Router()->Route(ID_DEFAULT_SETTING);
    QVERIFY(!QFile::exists(QString::fromStdString(path)));
  }

  void closingDuringARunCancelsItFirst() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    CWindowGuardUi ui(frame->TopView());
    std::unique_ptr<IProgressWindow> progress = ui.OpenProgress("Encrypting");
    progress->SetBarRange(0, 100, 1);
    frame->close();
    // The run sees the cancel at its next step; the window waits for it.
    QVERIFY(progress->IsCancelled());
    QVERIFY(frame->isVisible());
    progress->CloseProgress();
    QTRY_VERIFY(!frame->isVisible());
  }

  void terminationSignalStopsTheRunThenCloses() {
    CMainFrame* frame = Start();
    QVERIFY(frame);
    CWindowGuardUi ui(frame->ListView());
    std::unique_ptr<IProgressWindow> progress = ui.OpenProgress("Decrypting");
    QVERIFY(::raise(SIGTERM) == 0);
    // The run's next pump delivers the request; its next step sees the cancel.
    QTest::qWait(CProgressWindow::kPumpIntervalMs + 5);
    progress->PumpMessages(true);
    QTRY_VERIFY(progress->IsCancelled());
    QVERIFY(frame->isVisible());
    progress->CloseProgress();
    QTRY_VERIFY(!frame->isVisible());
  }

  void aboutBoxShowsTextAndLinks() {
    QList<QUrl> opened;
    SetUrlOpener([&](const QUrl& url) {
      opened << url;
      return true;
    });
    CAboutBox box;
    box.show();
    QCOMPARE(box.windowTitle(), QStringLiteral("About Vellumguard"));
    const QString text = box.AboutEdit()->toPlainText();
    QVERIFY(text.contains(QStringLiteral("zlib")));
    QVERIFY(text.contains(QStringLiteral("Qt ")));
    QVERIFY(text.contains(QStringLiteral("Known limits")));
    QVERIFY(box.AboutEdit()->isReadOnly());
    // Built without a contact address: the e-mail line is there but shows none and is off.
    QVERIFY(CAboutBox::ContactEmail().isEmpty());
    QVERIFY(!box.EmailLink()->isEnabled());
    QVERIFY(box.EmailLink()->Target().isEmpty());
    // Without a website the link leads to the README shipped with the program.
    const QString target = box.WebsiteLink()->Target();
    QVERIFY2(QFileInfo(target).isFile(), qPrintable(target));
    QVERIFY(target.endsWith(QStringLiteral("README.md")));
    QTest::mouseClick(box.WebsiteLink(), Qt::LeftButton, {}, QPoint(2, 2));
    QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(target)});
    QVERIFY(box.WebsiteLink()->IsVisited());
    SetUrlOpener({});
  }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"

// The lazy-loading tree and the shell folder tree on real temporary folders: children read
// once on a worker, the placeholder, expand-button rules, a window that stays responsive
// while a read hangs, selection by path level by level, and folders that cannot be read,
// vanish while loading or loop through links.
#include <unistd.h>

#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

#include "explorer/shell_tree_ctrl.h"
#include "folder_tree_test_support.h"

using namespace folder_tree_test;

namespace {

// What a test tree reads for one item (by its text; the root is "").
struct Script {
  QStringList names;
  bool result = true;
  bool inPlace = false;  // no worker: PopulateChildren runs at once
  Gate* gate = nullptr;  // the worker waits here once before it reads
};

class ScriptReader : public CChildReader {
 public:
  ScriptReader(Script script, std::shared_ptr<std::atomic<bool>> sawCancel)
      : m_script(std::move(script)), m_sawCancel(std::move(sawCancel)) {}
  void Read(CLoadProgress& progress) override {
    progress.SetLoadProgress(0, 0);
    if (m_script.gate) m_script.gate->Pass();
    if (progress.IsCancelled()) m_sawCancel->store(true);
    for (const QString& name : m_script.names) {
      names << name;
      progress.AddLoadProgress(1);
    }
    progress.SetLoadProgress(1, 1);
  }
  QStringList names;

 private:
  Script m_script;
  std::shared_ptr<std::atomic<bool>> m_sawCancel;
};

class ScriptTree : public CLazyTreeCtrl {
 public:
  QHash<QString, Script> scripts;
  QHash<QString, int> reads;
  bool reloadAlways = false;
  std::shared_ptr<std::atomic<bool>> sawCancel = std::make_shared<std::atomic<bool>>(false);

 protected:
  QString Key(QTreeWidgetItem* item) { return item == invisibleRootItem() ? "" : item->text(0); }
  bool NeedsReload(QTreeWidgetItem*) override { return reloadAlways; }
  std::shared_ptr<CChildReader> CreateReader(QTreeWidgetItem* item) override {
    const QString key = Key(item);
    ++reads[key];
    if (scripts.value(key).inPlace) return nullptr;
    return std::make_shared<ScriptReader>(scripts.value(key), sawCancel);
  }
  bool PopulateChildren(QTreeWidgetItem* item, CChildReader* reader) override {
    const Script script = scripts.value(Key(item));
    const QStringList names = reader ? static_cast<ScriptReader*>(reader)->names : script.names;
    for (const QString& name : names) {
      auto* child = new QTreeWidgetItem(QStringList{name});
      SetChildrenFlag(child, true);
      item->addChild(child);
    }
    return script.result;
  }
};

// Counts the reads of a shell tree by folder.
class CountingShellTree : public ShellTreeCtrl {
 public:
  QHash<QString, int> reads;

 protected:
  std::shared_ptr<CChildReader> CreateReader(QTreeWidgetItem* item) override {
    ++reads[item == invisibleRootItem() ? QString("<root>") : PathOf(item)];
    return ShellTreeCtrl::CreateReader(item);
  }
};

bool Link(const QString& target, const QString& link) {
  return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) == 0;
}

}  // namespace

class FolderTreeTest : public QObject {
  Q_OBJECT

 private slots:
  void lazyTreeReadsChildrenOnce() {
    ScriptTree tree;
    tree.scripts[""] = {{"A", "B"}};
    tree.scripts["A"] = {{"a1", "a2"}};
    tree.ReloadRoot();
    QTRY_COMPARE(ChildTexts(tree.invisibleRootItem()), QStringList({"A", "B"}));
    QTreeWidgetItem* a = ChildNamed(tree.invisibleRootItem(), "A");

    tree.expandItem(a);
    QVERIFY(tree.IsLoading(a));
    QCOMPARE(a->childCount(), 1);
    QVERIFY(tree.IsPlaceholder(a->child(0)));
    QCOMPARE(a->child(0)->text(0), QString("Loading..."));
    QTRY_COMPARE(ChildTexts(a), QStringList({"a1", "a2"}));
    QCOMPARE(tree.LoadsInProgress(), 0);

    tree.collapseItem(a);
    tree.expandItem(a);
    QVERIFY(!tree.IsLoading(a));
    QCOMPARE(ChildTexts(a), QStringList({"a1", "a2"}));
    QCOMPARE(tree.reads["A"], 1);

    // A tree that asks for it reads again at each expansion.
    tree.reloadAlways = true;
    tree.collapseItem(a);
    tree.expandItem(a);
    QTRY_COMPARE(tree.reads["A"], 2);
    QTRY_COMPARE(ChildTexts(a), QStringList({"a1", "a2"}));
  }

  // A read that hangs keeps only its own item waiting: events are served, other folders
  // load, and expanding the hanging item again starts no second read.
  void hangingReadKeepsWindowResponsive() {
    Gate gate;
    ScriptTree tree;
    tree.scripts[""] = {{"A", "B"}};
    tree.scripts["A"] = {{"a1"}, true, false, &gate};
    tree.scripts["B"] = {{"b1"}};
    tree.ReloadRoot();
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 2);
    QTreeWidgetItem* a = ChildNamed(tree.invisibleRootItem(), "A");
    QTreeWidgetItem* b = ChildNamed(tree.invisibleRootItem(), "B");

    int beats = 0;
    QTimer heartbeat;
    connect(&heartbeat, &QTimer::timeout, [&beats] { ++beats; });
    heartbeat.start(5);

    tree.expandItem(a);
    QTRY_COMPARE(gate.Waiting(), 1);
    tree.reloadAlways = true;  // even a tree that reloads on expansion waits for the read
    for (int i = 0; i < 3; ++i) {
      tree.collapseItem(a);
      tree.expandItem(a);
    }
    QCOMPARE(tree.reads["A"], 1);
    QCOMPARE(a->childCount(), 1);  // the one placeholder
    const int before = beats;
    QTRY_VERIFY(beats >= before + 5);

    tree.expandItem(b);
    QTRY_COMPARE(ChildTexts(b), QStringList({"b1"}));
    QVERIFY(tree.IsLoading(a));

    gate.OpenForGood();
    QTRY_COMPARE(ChildTexts(a), QStringList({"a1"}));
    QCOMPARE(tree.reads["A"], 1);
  }

  void expandButtonFollowsTheResult() {
    ScriptTree tree;
    tree.scripts[""] = {{"Gone", "Empty", "Here"}};
    tree.scripts["Gone"] = {{}, true};    // nothing there, for good
    tree.scripts["Empty"] = {{}, false};  // nothing yet: try again later
    tree.scripts["Here"] = {{"h1"}, true, true};
    tree.ReloadRoot();
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 3);
    QTreeWidgetItem* gone = ChildNamed(tree.invisibleRootItem(), "Gone");
    QTreeWidgetItem* empty = ChildNamed(tree.invisibleRootItem(), "Empty");
    QTreeWidgetItem* here = ChildNamed(tree.invisibleRootItem(), "Here");

    tree.expandItem(gone);
    QTRY_VERIFY(!tree.IsLoading(gone));
    QCOMPARE(gone->childCount(), 0);
    QVERIFY(!HasButton(gone));
    QVERIFY(!tree.RefreshItem(gone));  // no children flag: nothing to refresh
    QCOMPARE(tree.reads["Gone"], 1);

    tree.expandItem(empty);
    QTRY_VERIFY(!tree.IsLoading(empty));
    QCOMPARE(empty->childCount(), 0);
    QVERIFY(HasButton(empty));
    QVERIFY(!empty->isExpanded());
    tree.expandItem(empty);  // an item without children is read again
    QCOMPARE(tree.reads["Empty"], 2);
    QTRY_VERIFY(!tree.IsLoading(empty));

    tree.expandItem(here);  // populated in place, without a worker
    QCOMPARE(ChildTexts(here), QStringList({"h1"}));
    QCOMPARE(tree.LoadsInProgress(), 0);
    QVERIFY(tree.RefreshItem(here));
    QCOMPARE(tree.reads["Here"], 2);
    QCOMPARE(ChildTexts(here), QStringList({"h1"}));
  }

  void deletingALoadingItemCancelsItsRead() {
    Gate gate;
    ScriptTree tree;
    tree.scripts[""] = {{"A"}, true, true};
    tree.scripts["A"] = {{"a1"}, true, false, &gate};
    tree.ReloadRoot();
    QTreeWidgetItem* a = ChildNamed(tree.invisibleRootItem(), "A");
    tree.expandItem(a);
    QTRY_COMPARE(gate.Waiting(), 1);
    delete a;
    QCOMPARE(tree.LoadsInProgress(), 0);
    gate.Step();
    QTRY_VERIFY(tree.sawCancel->load());
    QTest::qWait(30);  // the finished worker's wake-up finds nothing to do
    QCOMPARE(tree.invisibleRootItem()->childCount(), 0);

    // The tree itself may go while a worker still reads.
    Gate gate2;
    auto* doomed = new ScriptTree;
    auto sawCancel = doomed->sawCancel;
    doomed->scripts[""] = {{"A"}, true, true};
    doomed->scripts["A"] = {{"a1"}, true, false, &gate2};
    doomed->ReloadRoot();
    doomed->expandItem(ChildNamed(doomed->invisibleRootItem(), "A"));
    QTRY_COMPARE(gate2.Waiting(), 1);
    delete doomed;
    gate2.Step();
    QTRY_VERIFY(sawCancel->load());
    QTest::qWait(30);
  }

  void rootReloadKeepsHorizontalScroll() {
    ScriptTree tree;
    tree.scripts[""] = {{QString(400, u'w'), "short"}};
    tree.resize(120, 200);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    tree.ReloadRoot();
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 2);
    QTRY_VERIFY(tree.horizontalScrollBar()->maximum() > 100);
    tree.horizontalScrollBar()->setValue(100);
    QVERIFY(tree.RefreshItem(tree.invisibleRootItem()));
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 2);
    QTRY_COMPARE(tree.horizontalScrollBar()->value(), 100);
    QCOMPARE(tree.reads[""], 2);
  }

  void shellTreeReadsFoldersLazily() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"alpha/a1/", "beta10/", "beta2/", "Empty/gone/",
                                     "filesonly/f.txt", ".hidden/x/", "top.txt"}));
    CountingShellTree tree;
    tree.SetRoot(ShellTreeCtrl::ParsePath(dir.path()));
    QTreeWidgetItem* root = tree.invisibleRootItem();
    QTRY_COMPARE(ChildTexts(root), QStringList({"alpha", "beta2", "beta10", "Empty", "filesonly"}));
    QTreeWidgetItem* alpha = ChildNamed(root, "alpha");
    QTreeWidgetItem* empty = ChildNamed(root, "Empty");
    QVERIFY(HasButton(alpha));
    QVERIFY(HasButton(empty));
    QVERIFY(!HasButton(ChildNamed(root, "filesonly")));
    QVERIFY(!HasButton(ChildNamed(root, "beta2")));
    QVERIFY(!alpha->icon(0).isNull());
    QCOMPARE(tree.PathOf(alpha), dir.path() + "/alpha");
    QCOMPARE(tree.reads.value(dir.path() + "/alpha"), 0);  // nothing read before expansion

    tree.expandItem(alpha);
    QVERIFY(tree.IsPlaceholder(alpha->child(0)));
    QTRY_COMPARE(ChildTexts(alpha), QStringList({"a1"}));
    QTreeWidgetItem* a1 = alpha->child(0);
    QCOMPARE(tree.IdListOf(a1), ShellTreeCtrl::ParsePath(dir.path() + "/alpha/a1"));
    tree.collapseItem(alpha);
    tree.expandItem(alpha);
    QCOMPARE(tree.reads.value(dir.path() + "/alpha"), 1);
    QCOMPARE(ChildTexts(alpha), QStringList({"a1"}));

    // Its only subfolder went after the listing: expanding finds nothing, and the folder
    // keeps its button so that it can be tried again.
    QVERIFY(QDir(dir.path() + "/Empty").rmdir("gone"));
    tree.expandItem(empty);
    QTRY_VERIFY(!tree.IsLoading(empty));
    QCOMPARE(empty->childCount(), 0);
    QVERIFY(HasButton(empty));
    QVERIFY(!empty->isExpanded());
    tree.expandItem(empty);
    QTRY_COMPARE(tree.reads.value(dir.path() + "/Empty"), 2);
    QTRY_VERIFY(!tree.IsLoading(empty));

    // With files shown every folder gets a button and files follow the folders.
    tree.SetRoot(ShellTreeCtrl::ParsePath(dir.path()), true);
    QTRY_COMPARE(ChildTexts(root),
                 QStringList({"alpha", "beta2", "beta10", "Empty", "filesonly", "top.txt"}));
    QVERIFY(HasButton(ChildNamed(root, "filesonly")));
    QVERIFY(!HasButton(ChildNamed(root, "top.txt")));
  }

  void selectPathExpandsLevelByLevel() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"alpha/a1/x/y/z/", "beta/"}));
    const QString deep = dir.path() + "/alpha/a1/x/y";
    CountingShellTree tree;
    QSignalSpy selectionChanges(&tree, &QTreeWidget::itemSelectionChanged);
    tree.SetRoot(ShellTreeCtrl::ParsePath(dir.path()));
    QVERIFY(tree.SelectPath(deep + "/"));  // the top level is still being read
    QVERIFY(tree.IsSelectionPending());
    QTRY_VERIFY(!tree.IsSelectionPending());
    QVERIFY(tree.currentItem());
    QCOMPARE(tree.PathOf(tree.currentItem()), deep);
    QCOMPARE(tree.selectedItems(), QList<QTreeWidgetItem*>({tree.currentItem()}));
    QCOMPARE(selectionChanges.count(), 1);
    for (const char* level : {"/alpha", "/alpha/a1", "/alpha/a1/x"}) {
      QCOMPARE(tree.reads.value(dir.path() + level), 1);
    }
    QVERIFY(tree.currentItem()->parent()->isExpanded());
    QCOMPARE(tree.reads.value(deep), 0);  // the target itself is not expanded

    // A path below no item leaves the tree as far as it matched, selection unchanged.
    QVERIFY(tree.SelectPath(dir.path() + "/beta/none/deeper"));
    QTRY_VERIFY(!tree.IsSelectionPending());
    QCOMPARE(tree.PathOf(tree.currentItem()), deep);
    QVERIFY(tree.SelectPath("/no-such-top-folder-here/x"));
    QTRY_VERIFY(!tree.IsSelectionPending());
    QCOMPARE(tree.PathOf(tree.currentItem()), deep);
    QCOMPARE(selectionChanges.count(), 1);
    QVERIFY(!tree.SelectPath("relative/path"));
    QVERIFY(!tree.SelectPath(""));

    // Selecting what is already loaded happens at once.
    QVERIFY(tree.SelectPath(dir.path() + "/alpha"));
    QVERIFY(!tree.IsSelectionPending());
    QCOMPARE(tree.PathOf(tree.currentItem()), dir.path() + "/alpha");
    QCOMPARE(selectionChanges.count(), 2);
  }

  void unreadableFolderKeepsTreeUsable() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"locked/inside/", "open/inside/"}));
    const std::string locked = QFile::encodeName(dir.path() + "/locked").toStdString();
    CountingShellTree tree;
    tree.SetOpenHook([locked](const std::string& folder) { return folder == locked ? EACCES : 0; });
    tree.SetRoot(ShellTreeCtrl::ParsePath(dir.path()));
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 2);
    QTreeWidgetItem* lockedItem = ChildNamed(tree.invisibleRootItem(), "locked");
    tree.expandItem(lockedItem);
    QTRY_VERIFY(!tree.IsLoading(lockedItem));
    QCOMPARE(lockedItem->childCount(), 0);
    QVERIFY(HasButton(lockedItem));  // may become readable: try again later
    QVERIFY(!lockedItem->isExpanded());

    QTreeWidgetItem* openItem = ChildNamed(tree.invisibleRootItem(), "open");
    tree.expandItem(openItem);
    QTRY_COMPARE(ChildTexts(openItem), QStringList({"inside"}));

    tree.SetOpenHook(nullptr);
    tree.expandItem(lockedItem);
    QTRY_COMPARE(ChildTexts(lockedItem), QStringList({"inside"}));
  }

  void vanishingFolderLosesItsButton() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"doomed/sub/", "other/sub/"}));
    const std::string doomed = QFile::encodeName(dir.path() + "/doomed").toStdString();
    Gate gate;
    CountingShellTree tree;
    tree.SetOpenHook([doomed, &gate](const std::string& folder) {
      if (folder == doomed) gate.Pass();
      return 0;
    });
    tree.SetRoot(ShellTreeCtrl::ParsePath(dir.path()));
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 2);
    QTreeWidgetItem* doomedItem = ChildNamed(tree.invisibleRootItem(), "doomed");
    tree.expandItem(doomedItem);
    QTRY_COMPARE(gate.Waiting(), 1);
    QVERIFY(QDir(dir.path() + "/doomed").removeRecursively());
    gate.OpenForGood();
    QTRY_VERIFY(!tree.IsLoading(doomedItem));
    QCOMPARE(doomedItem->childCount(), 0);
    QVERIFY(!HasButton(doomedItem));

    QTreeWidgetItem* other = ChildNamed(tree.invisibleRootItem(), "other");
    tree.expandItem(other);
    QTRY_COMPARE(ChildTexts(other), QStringList({"sub"}));
  }

  void symlinkLoopsNeverExpand() {
    QTemporaryDir dir;
    QVERIFY(MakeEntries(dir.path(), {"loops/sub/", "alpha/a1/"}));
    QVERIFY(Link(".", dir.path() + "/loops/self"));
    QVERIFY(Link("../alpha", dir.path() + "/loops/sideways"));
    CountingShellTree tree;
    tree.SetRoot(ShellTreeCtrl::ParsePath(dir.path()));
    QVERIFY(tree.SelectPath(dir.path() + "/loops/self/self/sub"));
    QTRY_VERIFY(!tree.IsSelectionPending());
    QCOMPARE(tree.currentItem(), nullptr);  // stopped at the loop

    QTreeWidgetItem* loops = ChildNamed(tree.invisibleRootItem(), "loops");
    QVERIFY(loops);
    QVERIFY(loops->isExpanded());
    QCOMPARE(ChildTexts(loops), QStringList({"self", "sideways", "sub"}));
    QTreeWidgetItem* self = ChildNamed(loops, "self");
    QVERIFY(tree.IsLoopItem(self));
    QVERIFY(!HasButton(self));
    tree.expandItem(self);
    QCOMPARE(tree.LoadsInProgress(), 0);
    QCOMPARE(self->childCount(), 0);
    QCOMPARE(tree.reads.value(dir.path() + "/loops/self"), 0);
    QVERIFY(!tree.RefreshItem(self));

    QTreeWidgetItem* sideways = ChildNamed(loops, "sideways");
    QVERIFY(HasButton(sideways));
    tree.expandItem(sideways);
    QTRY_COMPARE(ChildTexts(sideways), QStringList({"a1"}));
    QCOMPARE(tree.PathOf(sideways->child(0)), dir.path() + "/loops/sideways/a1");
  }

  void standardTopLevel() {
    QTemporaryDir home;
    QVERIFY(MakeEntries(home.path(), {"Desktop/", "docs/"}));
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    auto restore = qScopeGuard([&] {
      qputenv("HOME", oldHome);
      if (oldConfig.isNull()) {
        qunsetenv("XDG_CONFIG_HOME");
      } else {
        qputenv("XDG_CONFIG_HOME", oldConfig);
      }
    });

    ShellTreeCtrl tree;
    tree.SetRoot({});
    QTreeWidgetItem* root = tree.invisibleRootItem();
    QTRY_COMPARE(ChildTexts(root), QStringList({"Home", "Desktop", "File System", "Computer"}));
    QCOMPARE(tree.PathOf(root->child(0)), home.path());
    QCOMPARE(tree.PathOf(root->child(1)), home.path() + "/Desktop");
    QCOMPARE(tree.PathOf(root->child(2)), QString("/"));
    QCOMPARE(tree.PathOf(root->child(3)), QString());
    QCOMPARE(tree.IdListOf(root->child(3)), TreeIdList({"computer:///"}));
    QVERIFY(HasButton(root->child(0)));
    QVERIFY(!HasButton(root->child(1)));
    QVERIFY(HasButton(root->child(2)));
    QVERIFY(HasButton(root->child(3)));

    QTreeWidgetItem* computer = root->child(3);
    tree.expandItem(computer);
    QTRY_VERIFY(!tree.IsLoading(computer));
    QVERIFY(computer->childCount() >= 1);
    if (QStorageInfo::root().isValid()) {
      const QStringList volumes = ChildTexts(computer);
      QVERIFY2(std::any_of(volumes.begin(), volumes.end(),
                           [](const QString& t) { return t == "/" || t.endsWith(" (/)"); }),
               qPrintable(volumes.join(", ")));
    }
    for (int i = 0; i < computer->childCount(); ++i) {
      QVERIFY(!tree.PathOf(computer->child(i)).isEmpty());
    }

    QVERIFY(tree.SelectPath("computer:///"));
    QCOMPARE(tree.currentItem(), computer);
    // Paths are found below the file system root, not below the home shortcut.
    QVERIFY(tree.SelectPath(home.path() + "/docs"));
    QTRY_VERIFY(!tree.IsSelectionPending());
    QVERIFY(tree.currentItem());
    QCOMPARE(tree.PathOf(tree.currentItem()), home.path() + "/docs");
    QCOMPARE(tree.IdListOf(tree.currentItem()).front(), QString("/"));
  }
};

QTEST_MAIN(FolderTreeTest)
#include "folder_tree_test.moc"

// The folder tree pane: what it reports to the window and what it opens, following the
// other panes without reporting back, and the busy bar beside "Loading...".
#include <QFileSystemWatcher>
#include <QTemporaryDir>
#include <QtTest>

#include "explorer/bottom_tree_view.h"
#include "folder_tree_test_support.h"
#include "framework/command_ids.h"

using namespace folder_tree_test;

namespace {

// Stands in for the main frame: records every navigation, and like the frame tells the
// tree pane about navigations that did not come from it.
class RecordingFrame : public INavigator {
 public:
  struct Call {
    QString path;
    NavSource source;
  };
  QList<Call> calls;
  CTreeFormView* tree = nullptr;

  void NavigateTo(const QString& path, NavSource source) override {
    calls.append({path, source});
    if (source != NAV_TREE && tree) tree->SelectFolder(path);
  }
};

// Holds the read of one folder and steps its progress through given (total, done) pairs,
// waiting at the gate before each pair and once more before it finishes.
class SteppedReader : public CChildReader {
 public:
  SteppedReader(Gate* gate, QList<QPair<int64_t, int64_t>> steps)
      : m_gate(gate), m_steps(std::move(steps)) {}
  void Read(CLoadProgress& progress) override {
    for (const auto& step : m_steps) {
      m_gate->Pass();
      progress.SetLoadProgress(step.first, step.second);
    }
    m_gate->Pass();
  }

 private:
  Gate* m_gate;
  QList<QPair<int64_t, int64_t>> m_steps;
};

class SteppedPaneTree : public CPaneTreeCtrl {
 public:
  QString steppedPath;
  Gate* gate = nullptr;
  QList<QPair<int64_t, int64_t>> steps;

 protected:
  std::shared_ptr<CChildReader> CreateReader(QTreeWidgetItem* item) override {
    if (item != invisibleRootItem() && PathOf(item) == steppedPath) {
      return std::make_shared<SteppedReader>(gate, steps);
    }
    return CPaneTreeCtrl::CreateReader(item);
  }
};

// Red pixels along the middle line of a placeholder's busy bar, as drawn.
int RedPixels(CPaneTreeCtrl& tree, const QTreeWidgetItem* placeholder, bool* framed) {
  const QRect frame = tree.BusyFrameRect(placeholder);
  if (frame.isEmpty()) return -1;
  const QImage image = tree.viewport()->grab().toImage();
  const int y = frame.center().y();
  *framed = image.pixelColor(frame.left(), y) == QColor(Qt::black) &&
            image.pixelColor(frame.right(), y) == QColor(Qt::black);
  int red = 0;
  for (int x = frame.left(); x <= frame.right(); ++x) {
    if (image.pixelColor(x, y) == QColor(255, 0, 0)) ++red;
  }
  return red;
}

// What a mouse sends for a double click: press, release, double click, release.
void DoubleClick(QWidget* widget, QPoint at) {
  QTest::mouseClick(widget, Qt::LeftButton, {}, at);
  QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
  QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}

}  // namespace

class FolderTreePaneTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString Path(const QString& relative) const { return m_dir.path() + u'/' + relative; }

  // A shown pane over the temporary folder, with the frame wired both ways.
  std::unique_ptr<CBottomTreeView> MakePane(RecordingFrame& frame) {
    auto pane = std::make_unique<CBottomTreeView>(&frame);
    frame.tree = pane.get();
    pane->resize(320, 400);
    pane->show();
    if (!QTest::qWaitForWindowExposed(pane.get())) return nullptr;
    pane->Tree()->SetRoot(ShellTreeCtrl::ParsePath(m_dir.path()));
    return pane;
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_dir.isValid());
    QVERIFY(MakeEntries(m_dir.path(), {"alpha/a1/x/", "beta/", "gamma/g1/"}));
  }

  void busyBarWidths_data() {
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<int>("width");
    QTest::newRow("unknown, none yet") << qint64(0) << qint64(0) << 0;
    QTest::newRow("unknown, 1") << qint64(0) << qint64(1) << 8;
    QTest::newRow("unknown, 2") << qint64(0) << qint64(2) << 16;
    QTest::newRow("unknown, 3") << qint64(0) << qint64(3) << 23;
    QTest::newRow("unknown, 5") << qint64(0) << qint64(5) << 34;
    QTest::newRow("unknown, 10") << qint64(0) << qint64(10) << 47;
    QTest::newRow("unknown, 100") << qint64(0) << qint64(100) << 49;
    QTest::newRow("unknown, 2000") << qint64(0) << qint64(2000) << 49;
    QTest::newRow("unknown, 50000") << qint64(0) << qint64(50000) << 49;
    QTest::newRow("final") << qint64(1) << qint64(1) << 50;
    QTest::newRow("known, half") << qint64(4) << qint64(2) << 25;
    QTest::newRow("known, start") << qint64(1) << qint64(0) << 0;
    QTest::newRow("done beyond total") << qint64(3) << qint64(7) << 50;
    QTest::newRow("negative done") << qint64(0) << qint64(-4) << 0;
  }
  void busyBarWidths() {
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(int, width);
    QCOMPARE(BusyBarFillWidth(total, done), width);
  }

  // The bar beside "Loading..." follows the worker's progress while the read hangs.
  void busyBarIsDrawnFromProgress() {
    Gate gate;
    SteppedPaneTree tree;
    tree.steppedPath = Path("alpha");
    tree.gate = &gate;
    const QList<QPair<int64_t, int64_t>> steps = {{0, 0}, {0, 1},  {0, 2}, {0, 3},
                                                  {0, 5}, {0, 10}, {1, 1}};
    const QList<int> widths = {0, 8, 16, 23, 34, 47, 50};
    tree.steps = steps;
    tree.resize(400, 300);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    tree.SetRoot(ShellTreeCtrl::ParsePath(m_dir.path()));
    QTRY_COMPARE(tree.invisibleRootItem()->childCount(), 3);
    QTreeWidgetItem* alpha = ChildNamed(tree.invisibleRootItem(), "alpha");

    tree.expandItem(alpha);
    QTreeWidgetItem* placeholder = alpha->child(0);
    QVERIFY(tree.IsPlaceholder(placeholder));
    QCOMPARE(tree.BusyFillWidth(placeholder), 0);
    const QRect frame = tree.BusyFrameRect(placeholder);
    QCOMPARE(frame.width(), 56);
    QVERIFY(frame.height() <= 16);
    QVERIFY(frame.left() > tree.visualItemRect(placeholder).left());
    for (int i = 0; i < steps.size(); ++i) {
      gate.Step();
      QVERIFY(gate.WaitPassed());
      QTRY_COMPARE(tree.BusyFillWidth(placeholder), widths[i]);
      bool framed = false;
      QTRY_COMPARE(RedPixels(tree, placeholder, &framed), widths[i]);
      QVERIFY(framed);
    }
    gate.Step();
    QTRY_VERIFY(!tree.IsLoading(alpha));
    QCOMPARE(alpha->childCount(), 0);  // this reader brought nothing
  }

  void userSelectionIsReportedWithNavTree() {
    RecordingFrame frame;
    auto pane = MakePane(frame);
    QVERIFY(pane);
    CPaneTreeCtrl* tree = pane->Tree();
    QTRY_COMPARE(tree->invisibleRootItem()->childCount(), 3);
    QSignalSpy selectionChanged(pane.get(), &CTreeFormView::SelectionChanged);
    QTreeWidgetItem* beta = ChildNamed(tree->invisibleRootItem(), "beta");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(beta).center());
    QCOMPARE(frame.calls.size(), 1);
    QCOMPARE(frame.calls[0].path, Path("beta"));
    QCOMPARE(frame.calls[0].source, NAV_TREE);
    QCOMPARE(pane->SelectedFolder(), Path("beta"));
    QCOMPARE(selectionChanged.count(), 1);

    // Keyboard moves are choices too.
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(frame.calls.size(), 2);
    QCOMPARE(frame.calls[1].path, Path("gamma"));
    QCOMPARE(frame.calls[1].source, NAV_TREE);
  }

  // Another pane moves: the tree follows quietly. The tree's own SelectPath reports like a
  // click.
  void navigationBothWays() {
    RecordingFrame frame;
    auto pane = MakePane(frame);
    QVERIFY(pane);
    CPaneTreeCtrl* tree = pane->Tree();

    frame.NavigateTo(Path("alpha/a1/x"),
                     NAV_LIST);  // the file list moved (top level still loading)
    QTRY_COMPARE(pane->SelectedFolder(), Path("alpha/a1/x"));
    QTRY_VERIFY(!tree->IsSelectionPending());
    QCOMPARE(frame.calls.size(), 1);
    QCOMPARE(frame.calls[0].source, NAV_LIST);
    QVERIFY(ChildNamed(tree->invisibleRootItem(), "alpha")->isExpanded());

    frame.NavigateTo(Path("gamma"), NAV_ADDRESS);
    QTRY_COMPARE(pane->SelectedFolder(), Path("gamma"));
    QCOMPARE(frame.calls.size(), 2);

    // A folder the tree cannot resolve leaves the selection as it is.
    frame.NavigateTo(Path("no/such/folder"), NAV_LIST);
    QTRY_VERIFY(!tree->IsSelectionPending());
    QCOMPARE(pane->SelectedFolder(), Path("gamma"));
    frame.NavigateTo("relative", NAV_ELSEWHERE);
    QCOMPARE(pane->SelectedFolder(), Path("gamma"));
    QCOMPARE(frame.calls.size(), 4);

    QVERIFY(tree->SelectPath(Path("gamma/g1")));
    QTRY_COMPARE(frame.calls.size(), 5);
    QCOMPARE(frame.calls[4].path, Path("gamma/g1"));
    QCOMPARE(frame.calls[4].source, NAV_TREE);

    QTreeWidgetItem* beta = ChildNamed(tree->invisibleRootItem(), "beta");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(beta).center());
    QCOMPARE(frame.calls.size(), 6);
    QCOMPARE(frame.calls[5].path, Path("beta"));
    QCOMPARE(frame.calls[5].source, NAV_TREE);
  }

  // Open folders follow the disk; F5 and navigation find folders made behind the
  // tree's back; the folder a navigation ends on is in view.
  void treeFollowsTheDisk() {
    QTemporaryDir live;
    QStringList entries{"docs/old/", "zz/target/"};
    for (int i = 0; i < 40; ++i) entries << QStringLiteral("f%1/").arg(i, 2, 10, QLatin1Char('0'));
    QVERIFY(MakeEntries(live.path(), entries));
    const QString docs = live.path() + QStringLiteral("/docs");
    RecordingFrame frame;
    auto pane = std::make_unique<CBottomTreeView>(&frame);
    frame.tree = pane.get();
    pane->resize(240, 200);
    pane->show();
    QVERIFY(QTest::qWaitForWindowExposed(pane.get()));
    CPaneTreeCtrl* tree = pane->Tree();
    tree->SetRoot(ShellTreeCtrl::ParsePath(live.path()));
    auto inView = [tree] {
      QTreeWidgetItem* current = tree->currentItem();
      return current && tree->viewport()->rect().contains(tree->visualItemRect(current));
    };

    frame.NavigateTo(live.path() + QStringLiteral("/zz/target"), NAV_LIST);
    QTRY_COMPARE(pane->SelectedFolder(), live.path() + QStringLiteral("/zz/target"));
    QTRY_VERIFY(inView());
    pane->resize(240, 120);  // the pane settles after the window is shown
    QTRY_VERIFY(inView());

    frame.NavigateTo(docs + QStringLiteral("/old"), NAV_LIST);
    QTRY_COMPARE(pane->SelectedFolder(), docs + QStringLiteral("/old"));
    QTreeWidgetItem* docsItem = ChildNamed(tree->invisibleRootItem(), "docs");
    QVERIFY(docsItem && docsItem->isExpanded());
    QVERIFY(QDir().mkdir(docs + QStringLiteral("/new")));
    QTRY_COMPARE(ChildTexts(docsItem), (QStringList{"new", "old"}));
    QVERIFY(QDir().rename(docs + QStringLiteral("/new"), docs + QStringLiteral("/renamed")));
    QTRY_COMPARE(ChildTexts(docsItem), (QStringList{"old", "renamed"}));
    QVERIFY(QDir().rmdir(docs + QStringLiteral("/renamed")));
    QTRY_COMPARE(ChildTexts(docsItem), QStringList{"old"});
    QCOMPARE(pane->SelectedFolder(), docs + QStringLiteral("/old"));
    QCOMPARE(frame.calls.size(), 2);  // the tree's own updates report nothing
    // The selected folder, never opened, gets its button when it gains a subfolder.
    QTreeWidgetItem* oldItem = ChildNamed(docsItem, "old");
    QVERIFY(oldItem && oldItem->childCount() == 0 && !oldItem->isExpanded());
    QVERIFY(QDir().mkdir(docs + QStringLiteral("/old/inner")));
    QTRY_COMPARE(oldItem->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QVERIFY(tree->WatchedFolders().contains(docs));
    QVERIFY(tree->WatchedFolders().size() <= ShellTreeCtrl::kMaxWatches);

    // Behind the watcher's back (a network file system, say): a navigation to a folder
    // made after its parent was read still finds it, and F5 reads the selected folder.
    auto* watcher = tree->findChild<QFileSystemWatcher*>();
    QVERIFY(watcher);
    watcher->blockSignals(true);
    QVERIFY(QDir().mkdir(docs + QStringLiteral("/fresh")));
    frame.NavigateTo(docs + QStringLiteral("/fresh"), NAV_ADDRESS);
    QTRY_COMPARE(pane->SelectedFolder(), docs + QStringLiteral("/fresh"));
    QVERIFY(QDir().mkdir(docs + QStringLiteral("/pressed")));
    tree->setCurrentItem(docsItem);
    QTest::keyClick(tree, Qt::Key_F5);
    QCOMPARE(ChildTexts(docsItem), (QStringList{"fresh", "old", "pressed"}));
    watcher->blockSignals(false);
  }

  void computerIsNotReported() {
    RecordingFrame frame;
    CBottomTreeView pane(&frame);
    frame.tree = &pane;
    pane.resize(320, 400);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    CPaneTreeCtrl* tree = pane.Tree();
    QCOMPARE(tree->windowTitle(), QString("Vellumguard"));
    QTRY_VERIFY(ChildNamed(tree->invisibleRootItem(), "Computer"));
    QTreeWidgetItem* computer = ChildNamed(tree->invisibleRootItem(), "Computer");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(computer).center());
    QCOMPARE(tree->currentItem(), computer);
    QVERIFY(frame.calls.isEmpty());

    pane.SelectFolder("/");
    QTRY_COMPARE(pane.SelectedFolder(), QString("/"));
    QVERIFY(frame.calls.isEmpty());
    pane.SelectFolder(ShellTreeCtrl::kComputerPath);
    QCOMPARE(tree->currentItem(), computer);
    QVERIFY(frame.calls.isEmpty());

    QTreeWidgetItem* fileSystem = ChildNamed(tree->invisibleRootItem(), "File System");
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(fileSystem).center());
    QCOMPARE(frame.calls.size(), 1);
    QCOMPARE(frame.calls[0].path, QString("/"));

    // The pane handles no commands of its own.
    CommandUpdate update;
    QVERIFY(!pane.OnCommand(ID_REFRESH));
    QVERIFY(!pane.OnUpdateCommand(ID_REFRESH, update));
  }

  void doubleClickOpensTheFolderAndExpands() {
    RecordingFrame frame;
    auto pane = MakePane(frame);
    QVERIFY(pane);
    QList<QUrl> opened;
    pane->SetFolderOpener([&opened](const QUrl& folder) {
      opened << folder;
      return true;
    });
    CPaneTreeCtrl* tree = pane->Tree();
    QTRY_COMPARE(tree->invisibleRootItem()->childCount(), 3);
    QTreeWidgetItem* gamma = ChildNamed(tree->invisibleRootItem(), "gamma");
    QVERIFY(!gamma->isExpanded());
    DoubleClick(tree->viewport(), tree->visualItemRect(gamma).center());
    QCOMPARE(opened, QList<QUrl>({QUrl::fromLocalFile(Path("gamma"))}));
    QVERIFY(gamma->isExpanded());
    QTRY_COMPARE(ChildTexts(gamma), QStringList({"g1"}));

    DoubleClick(tree->viewport(), tree->visualItemRect(gamma).center());
    QCOMPARE(opened.size(), 2);
    QVERIFY(!gamma->isExpanded());
  }
};

QTEST_MAIN(FolderTreePaneTest)
#include "folder_tree_pane_test.moc"

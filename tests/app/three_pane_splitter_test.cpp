// The six arrangements of the three-pane splitter: where each view sits, the sizes that
// place the dividers, and what the two size queries report.
#include "app/three_pane_splitter.h"

#include <QLabel>
#include <QTest>

class ThreePaneSplitterTest : public QObject {
  Q_OBJECT
 private slots:
  void layouts_data() {
    QTest::addColumn<int>("layout");
    QTest::addColumn<int>("outerOrientation");
    QTest::addColumn<int>("view1Index");         // index of view 1 in the outer splitter
    QTest::addColumn<int>("nestedOrientation");  // 0: no nested splitter
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    // Sizes: view 1 110 x 120, view 2 130 x 140, view 3 150 x 160.
    QTest::newRow("0") << 0 << int(Qt::Horizontal) << 0 << int(Qt::Vertical) << 110 << 140;
    QTest::newRow("1") << 1 << int(Qt::Horizontal) << 1 << int(Qt::Vertical) << 600 - 130 - 4
                       << 140;
    QTest::newRow("2") << 2 << int(Qt::Vertical) << 0 << int(Qt::Horizontal) << 120 << 130;
    QTest::newRow("3") << 3 << int(Qt::Vertical) << 1 << int(Qt::Horizontal) << 400 - 140 - 4
                       << 130;
    QTest::newRow("4") << 4 << int(Qt::Vertical) << 0 << 0 << 120 << 140;
    QTest::newRow("5") << 5 << int(Qt::Horizontal) << 0 << 0 << 110 << 130;
  }
  void layouts() {
    QFETCH(int, layout);
    QFETCH(int, outerOrientation);
    QFETCH(int, view1Index);
    QFETCH(int, nestedOrientation);
    QFETCH(int, first);
    QFETCH(int, second);
    CThreePaneSplitter splitter;
    splitter.setHandleWidth(4);
    auto* v1 = new QLabel(QStringLiteral("1"));
    auto* v2 = new QLabel(QStringLiteral("2"));
    auto* v3 = new QLabel(QStringLiteral("3"));
    QVERIFY(splitter.Create(layout, v1, QSize(110, 120), v2, QSize(130, 140), v3, QSize(150, 160)));
    QVERIFY(!splitter.Create(layout, v1, QSize(), v2, QSize(), v3, QSize()));  // only once
    if (splitter.Nested()) splitter.Nested()->setHandleWidth(4);
    splitter.resize(600, 400);
    splitter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splitter));
    QCOMPARE(int(splitter.orientation()), outerOrientation);
    QCOMPARE(splitter.indexOf(v1), view1Index);
    if (nestedOrientation) {
      QVERIFY(splitter.Nested());
      QCOMPARE(int(splitter.Nested()->orientation()), nestedOrientation);
      QCOMPARE(splitter.Nested()->indexOf(v2), 0);
      QCOMPARE(splitter.Nested()->indexOf(v3), 1);
    } else {
      QVERIFY(!splitter.Nested());
      QCOMPARE(splitter.indexOf(v2), 1);
      QCOMPARE(splitter.indexOf(v3), 2);
    }
    QCOMPARE(splitter.FirstSize().current, first);
    QCOMPARE(splitter.SecondSize().current, second);
    QVERIFY(splitter.FirstSize().minimum >= 0);
  }

  void lastPaneTakesGrowth() {
    CThreePaneSplitter splitter;
    QVERIFY(splitter.Create(2, new QLabel, QSize(200, 130), new QLabel, QSize(200, 100), new QLabel,
                            QSize(100, 100)));
    splitter.resize(750, 500);
    splitter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splitter));
    QCOMPARE(splitter.FirstSize().current, 130);
    QCOMPARE(splitter.SecondSize().current, 200);
    splitter.resize(900, 700);
    QTRY_COMPARE(splitter.height(), 700);
    QCOMPARE(splitter.FirstSize().current, 130);
    QCOMPARE(splitter.SecondSize().current, 200);
  }

  void refusesBadInput() {
    CThreePaneSplitter splitter;
    QVERIFY(!splitter.Create(6, new QLabel(&splitter), QSize(), new QLabel(&splitter), QSize(),
                             new QLabel(&splitter), QSize()));
    QVERIFY(!splitter.Create(2, nullptr, QSize(), new QLabel(&splitter), QSize(),
                             new QLabel(&splitter), QSize()));
    QCOMPARE(splitter.SplitterLayout(), -1);
  }
};

QTEST_MAIN(ThreePaneSplitterTest)
#include "three_pane_splitter_test.moc"

// The progress window: caption percentage, status text, Cancel (button, Esc, a release
// over the button while modal), the remembered position and the pump.
#include "app/progress_window.h"

#include <QLabel>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "framework/app_profile.h"

class ProgressWindowTest : public QObject {
  Q_OBJECT
 private:
  QTemporaryDir m_home;
  QMainWindow* m_main = nullptr;

  void StorePosition(int x, int y) {
    auto profile = OpenAppProfile();
    profile->setValue(QStringLiteral("Settings/X"), x);
    profile->setValue(QStringLiteral("Settings/Y"), y);
    profile->sync();
  }

 private slots:
  void initTestCase() {
    QVERIFY(m_home.isValid());
    qputenv("VELLUMGUARD_HOME", m_home.path().toUtf8());
    m_main = new QMainWindow;
    m_main->resize(400, 300);
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main));
  }
  void cleanupTestCase() { delete m_main; }
  void init() { OpenAppProfile()->clear(); }

  void captionShowsPercentOnceItChanges() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
    QCOMPARE(progress.windowTitle(), QStringLiteral("Encrypting"));
    progress.SetBarRange(0, 100, 1);
    progress.SetBarPos(0);
    QCOMPARE(progress.windowTitle(), QStringLiteral("Encrypting"));
    QCOMPARE(progress.SetBarPos(42), uint64_t(0));
    QCOMPARE(progress.windowTitle(), QStringLiteral("Encrypting [42%]"));
    QCOMPARE(progress.Bar()->value(), 42);
    progress.SetBarStep(8);
    QCOMPARE(progress.StepBar(), uint64_t(42));
    QCOMPARE(progress.windowTitle(), QStringLiteral("Encrypting [50%]"));
  }

  void emptyRangeKeepsBareTitle() {
    CProgressWindow progress(m_main, QStringLiteral("Decrypting"));
    progress.SetBarRange(0, 0, 1);
    progress.SetBarPos(5);
    progress.StepBar();
    QCOMPARE(progress.windowTitle(), QStringLiteral("Decrypting"));
  }

  void countsBeyond32BitsGiveTheRightPercent() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
    const uint64_t total = 10'000'000'000ull;  // tenths of a 1 GB file
    progress.SetBarRange(0, total, 1);
    progress.SetBarPos(4'200'000'000ull);
    QCOMPARE(progress.windowTitle(), QStringLiteral("Encrypting [42%]"));
    QVERIFY(progress.Bar()->maximum() > 0);
    QCOMPARE(progress.Bar()->value() * 100 / progress.Bar()->maximum(), 42);
    progress.SetBarPos(total);
    QCOMPARE(progress.Bar()->value(), progress.Bar()->maximum());
    // A large range that does not start at 0 counts from its start.
    progress.SetBarRange(5000, 7000, 1);
    progress.SetBarPos(6000);
    QCOMPARE(progress.Bar()->value() * 2, progress.Bar()->maximum());
  }

  void statusTextIsShownAsGiven() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
    progress.ResizeForText(2, 400);
    const QString text = QStringLiteral("/tmp/100%s done %d.txt");
    progress.SetStatusText(text);
    QCOMPARE(progress.StatusText(), text);
    QCOMPARE(progress.StatusLabel()->text(), text);
    QCOMPARE(progress.StatusLabel()->textFormat(), Qt::PlainText);
    QCOMPARE(progress.CancelButton()->text(), QStringLiteral(" Cancel "));
    // Laid out for the given width: margin, text, margin.
    QCOMPARE(progress.width(), 420);
  }

  void cancelButtonAndEsc() {
    CProgressWindow byButton(m_main, QStringLiteral("Encrypting"));
    QVERIFY(byButton.isVisible());
    QTest::mouseClick(byButton.CancelButton(), Qt::LeftButton);
    QVERIFY(byButton.IsCancelled());
    QVERIFY(!byButton.isVisible());

    CProgressWindow byEsc(m_main, QStringLiteral("Encrypting"));
    QVERIFY(QTest::qWaitForWindowExposed(&byEsc));
    QTest::keyClick(&byEsc, Qt::Key_Escape);
    QVERIFY(byEsc.IsCancelled());
    QVERIFY(!byEsc.isVisible());

    // Without cancel-on-Esc the pump leaves Esc alone.
    CProgressWindow noEsc(m_main, QStringLiteral("Encrypting"));
    noEsc.PumpMessages(false);
    QTest::keyClick(&noEsc, Qt::Key_Escape);
    QVERIFY(!noEsc.IsCancelled());
  }

  void modalWindowBlocksMainWindowUntilClosed() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
    QVERIFY(progress.BeginModal(QStringLiteral("Encrypting")));
    QVERIFY(progress.IsModal());
    QCOMPARE(QApplication::activeModalWidget(), &progress);
    progress.Hide();  // around a message box
    progress.Show();
    QCOMPARE(QApplication::activeModalWidget(), &progress);
    progress.CloseProgress();
    QVERIFY(!progress.WindowExists());
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    // Everything after the window is gone does nothing and reports stored values.
    progress.SetBarPos(50);
    QCOMPARE(progress.windowTitle(), QStringLiteral("Encrypting"));
    QCOMPARE(progress.StepBar(), uint64_t(0));
  }

  void modalFromTheStartIsShownOnce() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"), true, true);
    QCOMPARE(QApplication::activeModalWidget(), &progress);
    int hides = 0;
    struct Counter : QObject {
      int* count;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Hide) ++*count;
        return false;
      }
    } counter;
    counter.count = &hides;
    progress.installEventFilter(&counter);
    QVERIFY(progress.BeginModal(QStringLiteral("Encrypting")));
    QCOMPARE(hides, 0);
    QVERIFY(progress.IsModal());
    progress.removeEventFilter(&counter);
  }

  void modalCancelDestroysTheWindow() {
    CProgressWindow progress(m_main, QStringLiteral("Decrypting"));
    progress.BeginModal(QStringLiteral("Decrypting"));
    QSignalSpy closed(&CProgressTracker::Instance(), &CProgressTracker::AllClosed);
    QCOMPARE(CProgressTracker::Instance().LiveCount(), 1);
    progress.Cancel();
    QVERIFY(progress.IsCancelled());
    QVERIFY(!progress.WindowExists());
    // The run still goes on until its next step and its CloseProgress.
    QCOMPARE(closed.count(), 0);
    QCOMPARE(CProgressTracker::Instance().LiveCount(), 1);
    progress.SetStatusText(QStringLiteral("ignored"));
    QCOMPARE(progress.StatusText(), QString());
    progress.CloseProgress();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(CProgressTracker::Instance().LiveCount(), 0);
  }

  void mainWindowStaysOutOfReachFromCancelToClose() {
    auto* button = new QPushButton(QStringLiteral("main"), m_main);
    button->show();
    QSignalSpy clicks(button, &QPushButton::clicked);
    CProgressWindow progress(m_main, QStringLiteral("Decrypting"));
    progress.BeginModal(QStringLiteral("Decrypting"));
    progress.Cancel();
    // The run goes on to its next step: the main window takes no click or key yet.
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_Space);
    QCOMPARE(clicks.count(), 0);
    progress.CloseProgress();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicks.count(), 1);
    delete button;
  }

  void releaseOverCancelWhileModalCancels() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
    progress.BeginModal(QStringLiteral("Encrypting"));
    QVERIFY(QTest::qWaitForWindowExposed(&progress));
    // The press happened elsewhere; the release lands over the button.
    const QPoint global = progress.CancelButton()->mapToGlobal(QPoint(3, 3));
    QMouseEvent release(QEvent::MouseButtonRelease, progress.mapFromGlobal(global), global,
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&progress, &release);
    QVERIFY(progress.IsCancelled());
  }

  void rememberedPosition() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    StorePosition(30, 40);
    {
      CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
      QCOMPARE(progress.geometry().topLeft(), QPoint(30, 40));
      // Stored as it is restored: the place of the inside, not of the frame.
      progress.setGeometry(QRect(QPoint(55, 66), progress.size()));
      progress.CloseProgress();
    }
    auto profile = OpenAppProfile();
    QCOMPARE(profile->value(QStringLiteral("Settings/X")).toInt(), 55);
    QCOMPARE(profile->value(QStringLiteral("Settings/Y")).toInt(), 66);

    // X equal to the screen width is off-screen: centred instead.
    StorePosition(screen.width(), 10);
    CProgressWindow offScreen(m_main, QStringLiteral("Encrypting"));
    QVERIFY(offScreen.pos() != QPoint(screen.width(), 10));
    QVERIFY(screen.contains(offScreen.geometry().center()));
    StorePosition(-1, 10);
    CProgressWindow negative(m_main, QStringLiteral("Encrypting"));
    QVERIFY(negative.pos().x() >= 0);
  }

  void pumpDeliversWaitingEventsAtMostEvery30ms() {
    CProgressWindow progress(m_main, QStringLiteral("Encrypting"));
    int fired = 0;
    QTimer::singleShot(0, this, [&fired] { ++fired; });
    progress.PumpMessages(true);
    QCOMPARE(fired, 1);
    QTimer::singleShot(0, this, [&fired] { ++fired; });
    progress.PumpMessages(true);  // too soon: nothing is delivered
    QCOMPARE(fired, 1);
    QTest::qWait(CProgressWindow::kPumpIntervalMs + 5);
    progress.PumpMessages(true);
    QCOMPARE(fired, 2);
    // A cancelled window pumps no more.
    progress.Cancel();
    QTimer::singleShot(0, this, [&fired] { ++fired; });
    QTest::qSleep(CProgressWindow::kPumpIntervalMs + 5);
    progress.PumpMessages(true);
    QCOMPARE(fired, 2);
    QCoreApplication::processEvents();
  }
};

QTEST_MAIN(ProgressWindowTest)
#include "progress_window_test.moc"

#pragma once
// The status bar's CAP, NUM and SCRL panes. Qt does not tell the lock states, so they
// are read from the keyboard LEDs that Linux exposes under /sys/class/leds; where no
// keyboard LED is visible (a remote or virtual display) the panes stay empty.
#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;

class CKeyLockIndicators : public QObject {
  Q_OBJECT
 public:
  explicit CKeyLockIndicators(QStatusBar* bar);
  // Reads the LEDs again and shows the states.
  void Refresh();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // 1 lit, 0 dark, -1 unknown: the LED whose name ends in suffix ("capslock").
  static int LedState(const QString& suffix);
  QLabel* m_caps;
  QLabel* m_num;
  QLabel* m_scroll;
};

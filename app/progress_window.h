#pragma once
// The small window of a guard run: a caption with the running percentage, one status
// line, a progress bar and Cancel. The run works on the user-interface thread and calls
// PumpMessages between chunks; that is where Esc and Cancel are noticed. Cancel only
// sets a flag that the run reads at its next step. Counts are 64-bit.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "guard/guard_ui.h"

class QLabel;
class QPushButton;

// The bar of the progress window. A new position is drawn with the next pass of the
// event loop (that is, by the pump), not at once: a bar that redrew itself for every
// chunk of a large file would cost more than the chunk.
class CProgressBarCtrl : public QWidget {
  Q_OBJECT
 public:
  explicit CProgressBarCtrl(QWidget* parent = nullptr);
  void setRange(int minimum, int maximum);
  void setValue(int value);
  int minimum() const { return m_minimum; }
  int maximum() const { return m_maximum; }
  int value() const { return m_value; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int FilledWidth(int value) const;

  int m_minimum = 0;
  int m_maximum = 100;
  int m_value = 0;
};

// Counts the guard runs going on (progress windows not yet closed with CloseProgress) and
// tells when the last one has ended, so that a shutdown requested during a run can go
// on afterwards.
class CProgressTracker : public QObject {
  Q_OBJECT
 public:
  static CProgressTracker& Instance();
  int LiveCount() const { return m_live; }
  // Cancels every progress window that is still open (shutdown during a run).
  void CancelAll();

 signals:
  void AllClosed();

 private:
  friend class CProgressWindow;
  int m_live = 0;
};

class CProgressWindow : public QWidget, public IProgressWindow {
  Q_OBJECT
 public:
  static constexpr int kMargin = 10;
  // The pump lets the window breathe at most this often; more often costs time on
  // large files and gains nothing a user could see.
  static constexpr int kPumpIntervalMs = 30;
  // Ranges up to this are shown as they are; larger ones are scaled down to it.
  static constexpr uint64_t kBarResolution = 1000;

  // owner may be null: the application's main window then owns it. A window that is
  // going to be modal can say so here, so that it appears modal at once instead of
  // being shown twice by BeginModal.
  CProgressWindow(QWidget* owner, const QString& title, bool smooth = true,
                  bool modalFromStart = false);
  ~CProgressWindow() override;

  bool BeginModal(const QString& title, bool smooth = true);
  void ResizeForText(int lines, int width);
  void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) override;
  uint64_t SetBarStep(uint64_t step) override;
  uint64_t StepBar() override;
  uint64_t SetBarPos(uint64_t position);
  void SetStatusText(const QString& text);
  void SetStatusText(const std::string& text) override;
  void Show() override;
  void Hide() override;
  void PumpMessages(bool cancelOnEsc) override;
  bool IsCancelled() const override { return m_cancelled; }
  void Cancel();
  void CloseProgress() override;

  // State, for the window's owner and tests.
  bool WindowExists() const { return m_exists; }
  bool IsModal() const { return m_modal; }
  QString Title() const { return m_title; }
  QString StatusText() const { return m_statusText; }
  uint64_t Position() const { return m_position; }
  void SetRememberPosition(bool remember) { m_rememberPosition = remember; }
  QPushButton* CancelButton() const { return m_cancelButton; }
  CProgressBarCtrl* Bar() const { return m_bar; }
  QLabel* StatusLabel() const { return m_statusLabel; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Create(bool smooth);
  void PlaceWindow();
  void Destroy();
  void UpdateBar();
  void ShowStatusText();
  QWidget* MainWindow() const;

  QPointer<QWidget> m_owner;
  QLabel* m_statusLabel = nullptr;
  CProgressBarCtrl* m_bar = nullptr;
  QPushButton* m_cancelButton = nullptr;
  QString m_title = QStringLiteral("Progress");
  QString m_cancelLabel = QStringLiteral(" Cancel ");
  QString m_statusText;
  int m_textLines = 4;
  uint64_t m_position = 0;
  int m_lastPercent = 0;
  uint64_t m_step = 1;
  uint64_t m_lower = 0;
  uint64_t m_upper = 100;
  bool m_cancelled = false;
  bool m_modal = false;
  bool m_rememberPosition = true;
  bool m_exists = false;
  bool m_tracked = false;  // counted among the runs going on until CloseProgress
  bool m_cancelOnEsc = true;
  bool m_smooth = true;
  bool m_barDirect = true;  // the bar's range is lower..upper itself
  uint64_t m_barScale = 1;  // else it shows (position - lower) divided by this
  QElapsedTimer m_sincePump;
};

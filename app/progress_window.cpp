#include "app/progress_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QWindow>

#include "framework/app_profile.h"

namespace {
const QString kSection = QStringLiteral("Settings");
}  // namespace

CProgressBarCtrl::CProgressBarCtrl(QWidget* parent) : QWidget(parent) {}

void CProgressBarCtrl::setRange(int minimum, int maximum) {
  m_minimum = minimum;
  m_maximum = qMax(minimum, maximum);
  m_value = qBound(m_minimum, m_value, m_maximum);
  update();
}

int CProgressBarCtrl::FilledWidth(int value) const {
  const qint64 span = qint64(m_maximum) - m_minimum;
  const int inner = qMax(0, width() - 4);
  return span <= 0 ? 0 : int(qint64(inner) * (qint64(value) - m_minimum) / span);
}

void CProgressBarCtrl::setValue(int value) {
  value = qBound(m_minimum, value, m_maximum);
  if (value == m_value) return;
  const bool moves = FilledWidth(value) != FilledWidth(m_value);
  m_value = value;
  // Drawn with the next pass of the event loop, and only when a pixel changes.
  if (moves) update();
}

QSize CProgressBarCtrl::sizeHint() const {
  return QSize(200, fontMetrics().height() + 4);
}

void CProgressBarCtrl::paintEvent(QPaintEvent*) {
  // A plain sunken trough and a solid fill: the style's own bar (gradients, rounded
  // corners) takes more than half a millisecond per picture, which the pump would pay
  // for every visible step of a run.
  QPainter painter(this);
  const QRect outer = rect();
  painter.fillRect(outer, palette().color(QPalette::Base));
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(outer.adjusted(0, 0, -1, -1));
  const QRect inner = outer.adjusted(2, 2, -2, -2);
  const int filled = FilledWidth(m_value);
  if (filled > 0)
    painter.fillRect(QRect(inner.left(), inner.top(), filled, inner.height()),
                     palette().color(QPalette::Highlight));
}

CProgressTracker& CProgressTracker::Instance() {
  static CProgressTracker tracker;
  return tracker;
}

void CProgressTracker::CancelAll() {
  const auto windows = QApplication::topLevelWidgets();
  for (QWidget* w : windows)
    if (auto* progress = qobject_cast<CProgressWindow*>(w); progress && progress->WindowExists())
      progress->Cancel();
}

CProgressWindow::CProgressWindow(QWidget* owner, const QString& title, bool smooth,
                                 bool modalFromStart)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowStaysOnTopHint),
      m_owner(owner) {
  if (!title.isEmpty()) m_title = title;
  if (modalFromStart) setWindowModality(Qt::ApplicationModal);
  Create(smooth);
}

CProgressWindow::~CProgressWindow() {
  CloseProgress();
}

QWidget* CProgressWindow::MainWindow() const {
  if (m_owner) return m_owner->window();
  return QApplication::activeWindow() && QApplication::activeWindow() != this
             ? QApplication::activeWindow()
             : nullptr;
}

void CProgressWindow::Create(bool smooth) {
  m_smooth = smooth;
  setWindowTitle(m_title);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
  setCursor(Qt::BusyCursor);
  setFont(QApplication::font("QMessageBox"));

  m_statusLabel = new QLabel(this);  // 11
  m_statusLabel->setTextFormat(Qt::PlainText);
  m_statusLabel->setWordWrap(false);
  m_statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_statusLabel->setGeometry(0, 0, 10, 10);
  m_bar = new CProgressBarCtrl(this);  // 12
  m_bar->setRange(0, 100);
  m_bar->setGeometry(0, 0, 10, 10);
  m_cancelButton = new QPushButton(m_cancelLabel, this);  // 10
  m_cancelButton->setFocusPolicy(Qt::StrongFocus);
  m_cancelButton->setGeometry(0, 0, 10, 10);
  m_cancelButton->setCursor(Qt::ArrowCursor);
  connect(m_cancelButton, &QPushButton::clicked, this, &CProgressWindow::Cancel);

  m_exists = true;
  if (!m_tracked) {
    m_tracked = true;
    ++CProgressTracker::Instance().m_live;
  }
  ResizeForText(m_textLines, 390);

  // Stack above the owner's window.
  if (QWidget* main = MainWindow(); main && main->windowHandle()) {
    winId();
    if (windowHandle()) windowHandle()->setTransientParent(main->windowHandle());
  }
  PlaceWindow();
  Show();
}

void CProgressWindow::PlaceWindow() {
  if (m_rememberPosition) {
    auto profile = OpenAppProfile();
    profile->beginGroup(kSection);
    const int x = profile->value(QStringLiteral("X"), -1).toInt();
    const int y = profile->value(QStringLiteral("Y"), -1).toInt();
    profile->endGroup();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const QSize size = screen->geometry().size();
      if (x >= 0 && x < size.width() && y >= 0 && y < size.height()) {
        // The stored place is the inside's, as CloseProgress takes it: before the window
        // is shown its frame is unknown, and a frame position would creep by the title bar.
        setGeometry(x, y, width(), height());
        return;
      }
    }
  }
  // Centred over the owner's window, or on the screen.
  QRect area;
  if (QWidget* main = MainWindow(); main && main->isVisible())
    area = main->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  if (!area.isValid()) return;
  QPoint topLeft = area.center() - QPoint(width() / 2, height() / 2);
  // Never partly off the screen, whatever the owner's place.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect avail = screen->availableGeometry();
    topLeft.setX(qBound(avail.left(), topLeft.x(), qMax(avail.left(), avail.right() - width())));
    topLeft.setY(qBound(avail.top(), topLeft.y(), qMax(avail.top(), avail.bottom() - height())));
  }
  move(topLeft);
}

void CProgressWindow::ResizeForText(int lines, int width) {
  if (!m_exists) return;
  m_textLines = lines;
  const QFontMetrics metrics(font());
  const int ex = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  const int ey = ex;
  QRect text(kMargin, kMargin, width - 2 * kMargin, 120);
  QString sample = QStringLiteral("M");
  for (int i = 1; i < lines; ++i) sample += QStringLiteral("\nM");
  const QRect measured = metrics.boundingRect(text, Qt::AlignLeft | Qt::AlignTop, sample);
  text = QRect(kMargin, kMargin, width, measured.height());
  const QSize labelSize = metrics.size(Qt::TextSingleLine, m_cancelLabel + QStringLiteral("  "));
  const QSize buttonSize(qMax(labelSize.width() + 4 * ex, m_cancelButton->sizeHint().width()),
                         qMax(labelSize.height() + 3 * ey, m_cancelButton->sizeHint().height()));
  const QRect button(text.right() + 1 - buttonSize.width(), text.bottom() + 1 + kMargin,
                     buttonSize.width(), buttonSize.height());
  const QRect bar(QPoint(text.left(), button.top() + ey),
                  QPoint(button.left() - kMargin - 1, button.bottom() - ey));
  setFixedSize(text.width() + 2 * kMargin, text.height() + buttonSize.height() + 3 * kMargin);
  m_bar->setGeometry(bar);
  m_cancelButton->setGeometry(button);
  m_statusLabel->setGeometry(text);
  ShowStatusText();
}

bool CProgressWindow::BeginModal(const QString& title, bool smooth) {
  if (!m_exists) {
    if (!title.isEmpty()) m_title = title;
    Create(smooth);
    if (!m_exists) return false;
  }
  // Application-modal: the main window takes no input while the run lasts.
  if (windowModality() != Qt::ApplicationModal) {
    const bool wasVisible = isVisible();
    if (wasVisible) QWidget::hide();
    setWindowModality(Qt::ApplicationModal);
    if (wasVisible) QWidget::show();
  }
  m_modal = true;
  qApp->installEventFilter(this);
  return true;
}

void CProgressWindow::SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) {
  if (!m_exists) return;
  m_lower = lower;
  m_upper = upper;
  m_step = step;
  const uint64_t span = upper > lower ? upper - lower : 0;
  m_barDirect = upper <= kBarResolution;
  if (m_barDirect) {
    m_barScale = 1;
    m_bar->setRange(static_cast<int>(lower), static_cast<int>(upper));
  } else {
    // The bar is a few hundred pixels wide: a thousand positions show every change a
    // user can see, and moving it for every chunk of a large file would cost more time
    // than the chunk itself.
    m_barScale = (span + kBarResolution - 1) / kBarResolution;
    m_bar->setRange(0, static_cast<int>(span / m_barScale));
  }
  UpdateBar();
}

uint64_t CProgressWindow::SetBarStep(uint64_t step) {
  const uint64_t previous = m_step;
  m_step = step;
  return previous;
}

uint64_t CProgressWindow::StepBar() {
  if (!m_exists) return m_position;
  Show();
  return SetBarPos(m_position + m_step);
}

uint64_t CProgressWindow::SetBarPos(uint64_t position) {
  if (!m_exists) return m_position;
  Show();
  const uint64_t previous = m_position;
  m_position = position;
  int percent = 0;
  if (m_upper > m_lower)
    percent =
        static_cast<int>(static_cast<unsigned __int128>(position) * 100 / (m_upper - m_lower));
  if (percent != m_lastPercent) {
    m_lastPercent = percent;
    setWindowTitle(QStringLiteral("%1 [%2%]").arg(m_title).arg(percent));
  }
  UpdateBar();
  return previous;
}

void CProgressWindow::UpdateBar() {
  uint64_t value = m_position;
  if (!m_barDirect) value = (m_position > m_lower ? m_position - m_lower : 0) / m_barScale;
  const int shown =
      static_cast<int>(qBound<uint64_t>(static_cast<uint64_t>(qMax(0, m_bar->minimum())), value,
                                        static_cast<uint64_t>(qMax(0, m_bar->maximum()))));
  if (m_bar->value() != shown) m_bar->setValue(shown);
}

void CProgressWindow::SetStatusText(const QString& text) {
  if (!m_exists) return;
  m_statusText = text;
  ShowStatusText();
}

void CProgressWindow::SetStatusText(const std::string& text) {
  SetStatusText(QString::fromStdString(text));
}

void CProgressWindow::ShowStatusText() {
  if (!m_statusLabel) return;
  // A path too long for the line keeps its start and its file name.
  const QFontMetrics metrics(m_statusLabel->font());
  const int width = m_statusLabel->width();
  m_statusLabel->setText(metrics.horizontalAdvance(m_statusText) <= width
                             ? m_statusText
                             : metrics.elidedText(m_statusText, Qt::ElideMiddle, width));
}

void CProgressWindow::Show() {
  if (!m_exists || isVisible()) return;
  QWidget::show();
  update();
}

void CProgressWindow::Hide() {
  if (!m_exists || !isVisible()) return;
  QWidget::hide();
}

void CProgressWindow::PumpMessages(bool cancelOnEsc) {
  if (!m_exists || m_cancelled) return;
  if (m_sincePump.isValid() && m_sincePump.elapsed() < kPumpIntervalMs) return;
  m_sincePump.start();
  // Only within the program: another application keeps the focus it has.
  if (m_modal && isVisible() && QApplication::activeWindow() &&
      QApplication::activeWindow() != this && QApplication::activeModalWidget() == this) {
    activateWindow();
    m_cancelButton->setFocus(Qt::OtherFocusReason);
  }
  m_cancelOnEsc = cancelOnEsc;
  // Deliver what is waiting, then come back to the run. A quit request stays pending
  // for the application's own loop, which ends after the run returns.
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void CProgressWindow::Cancel() {
  if (m_cancelled) return;
  m_cancelled = true;
  Hide();
  if (m_modal) {
    // The window goes, but the run has not stopped yet: the main window stays out of
    // reach (the event filter keeps swallowing its input) until CloseProgress.
    QWidget::hide();
    m_exists = false;
  }
  if (QWidget* main = MainWindow()) {
    main->raise();
    main->activateWindow();
  }
}

void CProgressWindow::Destroy() {
  qApp->removeEventFilter(this);  // also after a Cancel, which left it watching
  if (!m_exists) return;
  QWidget::hide();
  m_exists = false;
}

void CProgressWindow::CloseProgress() {
  if (m_rememberPosition && m_exists) {
    auto profile = OpenAppProfile();
    profile->beginGroup(kSection);
    profile->setValue(QStringLiteral("X"), geometry().x());
    profile->setValue(QStringLiteral("Y"), geometry().y());
    profile->endGroup();
  }
  if (m_modal) {
    m_modal = false;
    QWidget::hide();
    setWindowModality(Qt::NonModal);
  }
  Destroy();
  // The run is over only now: a Cancel destroys the window but the run goes on to its
  // next step.
  if (m_tracked) {
    m_tracked = false;
    auto& tracker = CProgressTracker::Instance();
    if (--tracker.m_live == 0) emit tracker.AllClosed();
  }
}

void CProgressWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    if (m_cancelOnEsc) Cancel();
    return;
  }
  QWidget::keyPressEvent(event);
}

void CProgressWindow::closeEvent(QCloseEvent* event) {
  // Closing the window by the window manager stops the run like Cancel.
  event->ignore();
  Cancel();
}

namespace {
bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}
}  // namespace

bool CProgressWindow::eventFilter(QObject* watched, QEvent* event) {
  // Cancelled while modal, and the run has not reached CloseProgress: no input reaches
  // the program, except a dialog the run itself shows (the toolkit keeps the rest from
  // that one).
  if (m_modal && !m_exists && IsUserInput(event->type())) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == this) return true;
  }
  // While modal, a left-button release over Cancel counts even when the button did
  // not see the press.
  if (m_modal && m_exists && !m_cancelled && event->type() == QEvent::MouseButtonRelease &&
      watched != m_cancelButton) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && m_cancelButton->isVisible()) {
      const QRect rect(m_cancelButton->mapToGlobal(QPoint(0, 0)), m_cancelButton->size());
      if (rect.contains(mouse->globalPosition().toPoint())) {
        Cancel();
        return true;
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

#include "framework/link_label.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QUrl>

#include "framework/prompts.h"
#include "framework/shell_open.h"

CLinkLabel::CLinkLabel(QWidget* parent) : QLabel(parent) {
  Attach();
}

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  Attach();
}

void CLinkLabel::Attach() {
  if (m_target.isEmpty()) m_target = text();
  if (text().isEmpty()) setText(m_target);
  setTextFormat(Qt::PlainText);
  QFont f = font();
  f.setUnderline(m_underline);
  setFont(f);
  FitToText();
  if (!m_linkCursor) SetLinkCursor(nullptr);
  setToolTip(m_target);
  UpdateLook();
}

void CLinkLabel::SetTarget(const QString& target) {
  m_target = target;
  if (text().isEmpty()) setText(m_target);
  FitToText();
  setToolTip(m_target);
}

void CLinkLabel::SetLinkCursor(const QCursor* cursor) {
  m_linkCursor = cursor ? *cursor : QCursor(Qt::PointingHandCursor);
  setCursor(*m_linkCursor);
}

void CLinkLabel::FitToText() {
  if (!m_fitToText) return;
  const QFontMetrics metrics(font());
  const QSize textSize = metrics.size(Qt::TextSingleLine, text());
  QRect r = geometry();
  const Qt::Alignment a = alignment();
  if (a & Qt::AlignVCenter) {
    r.setTop(r.top() + (r.height() - textSize.height()) / 2);
    r.setHeight(textSize.height());
  } else {
    r.setHeight(textSize.height());
  }
  if (a & Qt::AlignHCenter) {
    r.setLeft(r.left() + (r.width() - textSize.width()) / 2);
    r.setWidth(textSize.width());
  } else if (a & Qt::AlignRight) {
    r.setLeft(r.right() + 1 - textSize.width());
  } else {
    r.setWidth(textSize.width());
  }
  // A layout would stretch the label again; the hover and click area is the text only.
  setMaximumSize(textSize);
  setGeometry(r);
}

int CLinkLabel::OpenTarget(const QString& target) {
  if (target.trimmed().isEmpty()) return 2;
  const QUrl url = QUrl::fromUserInput(target);
  if (!url.isValid()) return 2;
  if (url.isLocalFile()) {
    const QFileInfo info(url.toLocalFile());
    if (!info.exists()) return info.absoluteDir().exists() ? 2 : 3;
  }
  return OpenWithDesktop(url) ? 42 : 31;
}

QString CLinkLabel::OpenErrorText(int result) {
  switch (result) {
    case 0:
      return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2:
      return QStringLiteral("The specified file was not found.");
    case 3:
      return QStringLiteral("The specified path was not found.");
    case 5:
      return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8:
      return QStringLiteral("There was not enough memory to complete the operation.");
    case 11:
      return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26:
      return QStringLiteral("A sharing violation occurred. ");
    case 27:
      return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28:
      return QStringLiteral(
          "The DDE transaction could not\nbe completed because the request timed out.");
    case 29:
      return QStringLiteral("The DDE transaction failed.");
    case 30:
      return QStringLiteral(
          "The DDE transaction could not\nbe completed because other DDE transactions\nwere "
          "being processed.");
    case 31:
      return QStringLiteral(
          "There is no application associated\nwith the given filename extension.");
    case 32:
      return QStringLiteral("The specified dynamic-link library was not found.");
    default:
      return QStringLiteral("Unknown Error (%1) occurred.").arg(result);
  }
}

void CLinkLabel::ShowOpenError(int result) {
  const QString text = QStringLiteral("Unable to open hyperlink:\n\n") + OpenErrorText(result);
  AppMessageBox(this, text, QMessageBox::Warning, QMessageBox::Ok);
}

QColor CLinkLabel::CurrentColour() const {
  if (m_pointerOver) return m_hoverColour;
  if (m_visited) return m_visitedColour;
  return m_linkColour;
}

void CLinkLabel::UpdateLook() {
  // Only the active and inactive groups: a disabled link keeps the style's grey.
  QPalette p = palette();
  p.setColor(QPalette::Active, QPalette::WindowText, CurrentColour());
  p.setColor(QPalette::Inactive, QPalette::WindowText, CurrentColour());
  setPalette(p);
  update();
}

void CLinkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  if (!m_pointerOver) {
    m_pointerOver = true;
    UpdateLook();
  }
}

void CLinkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  if (m_pointerOver) {
    m_pointerOver = false;
    UpdateLook();
  }
}

void CLinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_pressed = true;
  QLabel::mousePressEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = m_pressed && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  m_pressed = false;
  QLabel::mouseReleaseEvent(event);
  if (click && isEnabled()) Click();
}

void CLinkLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange && font().underline() != m_underline) {
    QFont f = font();
    f.setUnderline(m_underline);
    setFont(f);
    FitToText();
  }
}

void CLinkLabel::Click() {
  m_pointerOver = false;
  const int r = OpenTarget(m_target);
  if (r > 32) {
    m_visited = true;
    UpdateLook();
    emit Opened();
  } else {
    UpdateLook();
    QApplication::beep();
    ShowOpenError(r);
  }
}

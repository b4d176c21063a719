#pragma once
// A text label that behaves as a hyperlink: link, hover and visited colours, an underlined
// font, the hand cursor, the target as tooltip, and a message box when the target cannot
// be opened. The visited state lasts as long as the label.
#include <QColor>
#include <QCursor>
#include <QLabel>
#include <QString>
#include <optional>

class CLinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit CLinkLabel(QWidget* parent = nullptr);
  explicit CLinkLabel(const QString& text, QWidget* parent = nullptr);

  // target := text; an empty label shows the target. Fits the label to its text and
  // shows the target as tooltip.
  void SetTarget(const QString& target);
  QString Target() const { return m_target; }
  // A null cursor selects the hand cursor.
  void SetLinkCursor(const QCursor* cursor);
  // Shrinks the label to its text, keeping its alignment within the old rectangle.
  void FitToText();

  // Opens target with the desktop; a result above 32 means success, others are the
  // codes ShowOpenError explains (2: file not found, 3: path not found, 31: nothing opens
  // it).
  static int OpenTarget(const QString& target);
  // "Unable to open hyperlink:" box with the text for the result code.
  void ShowOpenError(int result);
  static QString OpenErrorText(int result);

  bool IsVisited() const { return m_visited; }
  bool IsPointerOver() const { return m_pointerOver; }
  // The colour the text is drawn in now.
  QColor CurrentColour() const;

  QColor m_linkColour{0, 0, 238};
  QColor m_visitedColour{85, 26, 139};
  QColor m_hoverColour{255, 92, 0};
  bool m_underline = true;
  bool m_fitToText = true;

 signals:
  // The target was opened (the label then shows the visited colour).
  void Opened();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Attach();
  void Click();
  void UpdateLook();

  QString m_target;
  bool m_pointerOver = false;
  bool m_visited = false;
  bool m_pressed = false;
  std::optional<QCursor> m_linkCursor;
};

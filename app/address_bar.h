#pragma once
// The address bar: an editable combo box whose drop-down holds known paths. Enter in
// its edit is a confirmed address (Entered); choosing an entry of the drop-down (or
// stepping to one with the arrow keys) is an accepted selection (Selected). Leaving
// the edit confirms nothing.
#include <QComboBox>
#include <QLineEdit>

class CAddressEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit CAddressEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}
  bool IsLeaving() const { return m_leaving; }

 signals:
  void Entered();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool m_leaving = false;
};

class CAddressBar : public QComboBox {
  Q_OBJECT
 public:
  explicit CAddressBar(QWidget* parent = nullptr);
  CAddressEdit* Edit() const { return m_edit; }

 signals:
  void Entered();
  void Selected(int index);

 private:
  CAddressEdit* m_edit;
};

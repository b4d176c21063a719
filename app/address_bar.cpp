#include "app/address_bar.h"

#include <QKeyEvent>

void CAddressEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // Enter confirms the typed text as it stands; the combo box must not also match it
    // against its entries.
    emit Entered();
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void CAddressEdit::focusOutEvent(QFocusEvent* event) {
  m_leaving = true;
  QLineEdit::focusOutEvent(event);
  m_leaving = false;
}

CAddressBar::CAddressBar(QWidget* parent) : QComboBox(parent), m_edit(new CAddressEdit(this)) {
  setEditable(true);
  setLineEdit(m_edit);
  setInsertPolicy(QComboBox::NoInsert);
  setCompleter(nullptr);
  setDuplicatesEnabled(true);
  setMinimumWidth(200);
  setMaxVisibleItems(8);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  connect(m_edit, &CAddressEdit::Entered, this, &CAddressBar::Entered);
  connect(this, &QComboBox::activated, this, [this](int index) {
    // Leaving the edit with a text equal to an entry makes the combo box report that
    // entry; that is not a choice of the user.
    if (!m_edit->IsLeaving()) emit Selected(index);
  });
}

#include "explorer/qt_file_op_ui.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>
#include <QWidget>

namespace {

constexpr char kCaption[] = "Vellumguard";

QMessageBox::StandardButtons BoxButtons(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok:
      break;
    case MsgButtons::OkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo:
      return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

}  // namespace

CQtFileOpUi::CQtFileOpUi(QWidget* owner, QString title)
    : m_owner(owner), m_title(std::move(title)) {
  m_clock.start();
}

CQtFileOpUi::~CQtFileOpUi() {
  CQtFileOpUi::Finish();
}

int CQtFileOpUi::Ask(const QString& text, MsgButtons buttons) {
  switch (
      QMessageBox::question(m_owner, QString::fromLatin1(kCaption), text, BoxButtons(buttons))) {
    case QMessageBox::Yes:
      return MSG_YES;
    case QMessageBox::No:
      return MSG_NO;
    case QMessageBox::Ok:
      return MSG_OK;
    default:
      return MSG_CANCEL;
  }
}

void CQtFileOpUi::Fail(const QString& text) {
  QMessageBox::critical(m_owner, QString::fromLatin1(kCaption), text);
}

bool CQtFileOpUi::Progress(quint64 done, quint64 total, const QString& path) {
  if (!m_dialog) {
    if (m_clock.elapsed() < kFileOpProgressDelayMs || done >= total) return true;
    m_dialog = new QProgressDialog(m_title, QObject::tr("Cancel"), 0, 1000, m_owner);
    m_dialog->setWindowTitle(m_title);
    m_dialog->setWindowModality(Qt::WindowModal);
    m_dialog->setMinimumDuration(0);
  }
  m_dialog->setLabelText(path);
  m_dialog->setValue(total ? static_cast<int>(done * 1000 / total) : 0);
  QCoreApplication::processEvents();
  return !m_dialog->wasCanceled();
}

void CQtFileOpUi::Finish() {
  delete m_dialog.data();
}

#include "explorer/guard_file_op_ui.h"

CGuardFileOpUi::CGuardFileOpUi(std::unique_ptr<IGuardUi> ui, QString title)
    : m_ui(std::move(ui)), m_title(std::move(title)) {
  m_clock.start();
}

CGuardFileOpUi::~CGuardFileOpUi() {
  CGuardFileOpUi::Finish();
}

int CGuardFileOpUi::Ask(const QString& text, MsgButtons buttons) {
  if (m_progress) m_progress->Hide();
  const int answer = m_ui->ShowMessage(text.toStdString(), MsgIcon::Question, buttons);
  if (m_progress) m_progress->Show();
  return answer;
}

void CGuardFileOpUi::Fail(const QString& text) {
  if (m_progress) m_progress->Hide();
  m_ui->ShowMessage(text.toStdString(), MsgIcon::Error, MsgButtons::Ok);
  if (m_progress) m_progress->Show();
}

bool CGuardFileOpUi::Progress(quint64 done, quint64 total, const QString& path) {
  if (!m_progress) {
    if (m_clock.elapsed() < kFileOpProgressDelayMs || done >= total) return true;
    m_progress = m_ui->OpenProgress(m_title.toStdString());
    if (!m_progress) return true;
    m_progress->SetBarRange(0, total / 10, 1);
    m_progress->Show();
  }
  // The bar counts tenths of bytes.
  const quint64 target = done / 10;
  if (target > m_position) {
    m_progress->SetBarStep(target - m_position);
    m_progress->StepBar();
    m_position = target;
  }
  if (path != m_lastPath) {
    m_progress->SetStatusText(path.toStdString());
    m_lastPath = path;
  }
  m_progress->PumpMessages(true);
  return !m_progress->IsCancelled();
}

void CGuardFileOpUi::Finish() {
  if (m_progress) {
    m_progress->CloseProgress();
    m_progress.reset();
    m_ui->RestoreFocus();
  }
}

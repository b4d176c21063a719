#include "app/window_guard_ui.h"

#include <QApplication>

#include "app/progress_window.h"
#include "framework/prompts.h"
#include "guard/ui/encryption_settings_dlg.h"
#include "guard/ui/password_dlg.h"

namespace {
QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
}
}  // namespace

CWindowGuardUi::CWindowGuardUi(QWidget* owner) : m_owner(owner) {}

int CWindowGuardUi::ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) {
  QMessageBox::Icon qicon = QMessageBox::Information;
  switch (icon) {
    case MsgIcon::Error:
      qicon = QMessageBox::Critical;
      break;
    case MsgIcon::Information:
      qicon = QMessageBox::Information;
      break;
    case MsgIcon::Question:
      qicon = QMessageBox::Question;
      break;
    case MsgIcon::Warning:
      qicon = QMessageBox::Warning;
      break;
  }
  QMessageBox::StandardButtons qbuttons = QMessageBox::Ok;
  switch (buttons) {
    case MsgButtons::Ok:
      qbuttons = QMessageBox::Ok;
      break;
    case MsgButtons::OkCancel:
      qbuttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case MsgButtons::YesNo:
      qbuttons = QMessageBox::Yes | QMessageBox::No;
      break;
    case MsgButtons::YesNoCancel:
      qbuttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  // The core's yes-or-no questions would replace a file or widen a run on Yes: a stray
  // Enter answers No.
  const QMessageBox::StandardButton enter =
      buttons == MsgButtons::YesNo ? QMessageBox::No : QMessageBox::NoButton;
  switch (AppMessageBox(m_owner, Q(text), qicon, qbuttons, enter)) {
    case QMessageBox::Ok:
      return MSG_OK;
    case QMessageBox::Yes:
      return MSG_YES;
    case QMessageBox::No:
      return MSG_NO;
    default:
      // Esc or the window's close box answer like Cancel (or No without a Cancel).
      return buttons == MsgButtons::YesNo ? MSG_NO : MSG_CANCEL;
  }
}

bool CWindowGuardUi::AskPassword(const std::string& prompt, std::string& password) {
  CPasswordDlg dialog(m_owner);
  if (prompt == m_lastPrompt) dialog.SetNotice(QStringLiteral("Wrong password. Please try again."));
  m_lastPrompt = prompt;
  dialog.SetPrompt(QStringLiteral("%s"), {Q(prompt)});
  if (dialog.exec() != QDialog::Accepted) return false;
  password = S(dialog.Password());
  return true;
}

bool CWindowGuardUi::AskPasswordWithNotice(const std::string& prompt, const std::string& notice,
                                           std::string& password) {
  CPasswordDlg dialog(m_owner);
  dialog.SetNotice(Q(notice));
  dialog.SetPrompt(QStringLiteral("%s"), {Q(prompt)});
  if (dialog.exec() != QDialog::Accepted) return false;
  password = S(dialog.Password());
  return true;
}

bool CWindowGuardUi::EditSettings(SettingsDialogData& data) {
  CEncryptionSettingsDlg dialog(m_owner);
  dialog.SetTitle(Q(data.title));
  dialog.SetFlags(data.flags);
  dialog.m_password = Q(data.password);
  dialog.m_confirm = Q(data.confirm);
  dialog.m_zipLevel = data.zipLevel;
  dialog.m_includeMask = Q(data.includeMask);
  dialog.m_excludeMask = Q(data.excludeMask);
  dialog.m_noZipMask = Q(data.noZipMask);
  dialog.m_useDefaultPassword = data.useDefaultPassword;
  dialog.m_useLastPassword = data.useLastPassword;
  dialog.m_encryptSubfolders = data.encryptSubfolders;
  if (dialog.exec() != QDialog::Accepted) return false;
  data.password = S(dialog.m_password);
  data.confirm = S(dialog.m_confirm);
  data.zipLevel = dialog.m_zipLevel;
  data.includeMask = S(dialog.m_includeMask);
  data.excludeMask = S(dialog.m_excludeMask);
  data.noZipMask = S(dialog.m_noZipMask);
  data.useDefaultPassword = dialog.m_useDefaultPassword;
  data.useLastPassword = dialog.m_useLastPassword;
  data.encryptSubfolders = dialog.m_encryptSubfolders;
  return true;
}

std::unique_ptr<IProgressWindow> CWindowGuardUi::OpenProgress(const std::string& title) {
  auto progress = std::make_unique<CProgressWindow>(m_owner, Q(title), true, true);
  progress->ResizeForText(2, 400);
  progress->BeginModal(Q(title), true);
  return progress;
}

void CWindowGuardUi::RestoreFocus() {
  if (!m_owner) return;
  m_owner->window()->activateWindow();
  m_owner->setFocus(Qt::OtherFocusReason);
}

GuardUiFactory MakeWindowGuardUiFactory() {
  return [](QWidget* owner) -> std::unique_ptr<IGuardUi> {
    return std::make_unique<CWindowGuardUi>(owner);
  };
}

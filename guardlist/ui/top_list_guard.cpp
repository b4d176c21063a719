// The guard list's protect and restore commands: what the selection or the whole list
// expands to, the menu texts that name it, and the runs.
#include <QDateTime>
#include <QMessageBox>

#include "common/text.h"
#include "framework/native_path.h"
#include "framework/prompts.h"
#include "guard/file_collector.h"
#include "guard/guard_command.h"
#include "guard/guard_item.h"
#include "guardlist/list_trust.h"
#include "guardlist/ui/explorer_document.h"
#include "guardlist/ui/guard_list_model.h"
#include "guardlist/ui/top_list_form.h"

namespace {

// How long the "does the selection yield anything" answer is reused.
constexpr qint64 kYieldCacheMs = 1000;

QString MenuEscaped(const QString& text) {
  QString t = text;
  return t.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void Collect(RunFiles& paths, const CGuardItem& item, bool encrypt) {
  if (encrypt) {
    CollectFilesToEncrypt(paths, item);
  } else {
    CollectFilesToDecrypt(paths, item);
  }
}

}  // namespace

RunFiles CTopListForm::Expand(bool encrypt, bool all) const {
  RunFiles paths;
  const auto& items = m_document->Items();
  if (all) {
    for (const CGuardItem& item : items) Collect(paths, item, encrypt);
  } else {
    for (int row : SelectedRows()) Collect(paths, items[static_cast<size_t>(row)], encrypt);
  }
  return paths;
}

bool CTopListForm::SelectionYields(bool encrypt) const {
  YieldCache& cache = m_yields[encrypt ? 0 : 1];
  const qint64 now = QDateTime::currentMSecsSinceEpoch();
  if (cache.generation == m_generation && now - cache.when < kYieldCacheMs) return cache.value;
  bool yields = false;
  const auto& items = m_document->Items();
  auto collects = [encrypt](const CGuardItem& item) {
    RunFiles paths;
    Collect(paths, item, encrypt);
    return !paths.entries.empty();
  };
  for (int row : SelectedRows()) {
    const CGuardItem& item = items[static_cast<size_t>(row)];
    // A folder's own files are part of its whole tree: when they already yield, the
    // tree need not be walked (a large tree would hold up every menu).
    if (item.IsFolder() && item.m_subfolders) {
      CGuardItem top = item;
      top.m_subfolders = 0;
      if (collects(top)) {
        yields = true;
        break;
      }
    }
    if (collects(item)) {
      yields = true;
      break;
    }
  }
  cache = YieldCache{m_generation, now, yields};
  return yields;
}

QString CTopListForm::GuardCommandText(bool encrypt, int files, int folders, const QString& name) {
  const QString verb = encrypt ? QStringLiteral("Encrypt ") : QStringLiteral("Decrypt ");
  if (files + folders == 0)
    return encrypt ? QStringLiteral("Encrypt files and folders")
                   : QStringLiteral("Decrypt files and folders");
  if (files + folders == 1) return verb + QLatin1Char('"') + name + QLatin1Char('"');
  QString text = verb;
  if (files > 0) text += QStringLiteral("File") + (files > 1 ? QStringLiteral("s") : QString());
  if (files > 0 && folders > 0) text += QStringLiteral(" and ");
  if (folders > 0)
    text += QStringLiteral("Folder") + (folders > 1 ? QStringLiteral("s") : QString());
  return text;
}

QString CTopListForm::GuardCommandText(bool encrypt) const {
  int files = 0, folders = 0;
  QString name;
  const auto& items = m_document->Items();
  for (int row : SelectedRows()) {
    const CGuardItem& item = items[static_cast<size_t>(row)];
    (item.IsFolder() ? folders : files)++;
    name = NameCellText(item);
  }
  return MenuEscaped(GuardCommandText(encrypt, files, folders, name));
}

void CTopListForm::OnEncrypt(bool all) {
  const RunFiles paths = Expand(true, all);
  if (all) {
    if (paths.entries.empty()) return;
    QMessageBox ask(
        QMessageBox::Question, QStringLiteral("TB"),
        QStringLiteral("Do you want to encrypt all files and folders in the list \"%1\"?")
            .arg(m_document->Title()),
        QMessageBox::Yes | QMessageBox::No, this);
    if (ask.exec() != QMessageBox::Yes) return;
  }
  while (!m_document->HasPassword()) {
    AppMessageBox(this, QStringLiteral("Please enter password"), QMessageBox::Information);
    if (!m_document->EditListSettings()) return;
  }
  if (m_guardUi) {
    std::unique_ptr<IGuardUi> ui = m_guardUi(this);
    if (ui && ListKeyConfirmed(*ui)) {
      ReportRun(RunProtectList(*ui, paths, m_document->KeyDigest(), m_document->ZipLevel(),
                               m_document->NoZipMask()));
    }
  }
  Refresh();
}

bool CTopListForm::ListKeyConfirmed(IGuardUi& ui) {
  const QString path =
      m_document->PathName().isEmpty() ? m_document->Title() : m_document->PathName();
  SysError recordError;
  const int check = ConfirmListKey(m_document->KeyDigest(), Native(path), ui, &recordError);
  if (!recordError.ok()) {
    ui.ShowMessage(recordError.Describe("Cannot record the list's password as yours in"),
                   MsgIcon::Warning, MsgButtons::Ok);
  }
  if (check == LIST_KEY_WRONG) {
    ui.ShowMessage(
        FormatText("Wrong password: nothing was protected with the list \"%s\".", {Native(path)}),
        MsgIcon::Error, MsgButtons::Ok);
  }
  return check == LIST_KEY_TRUSTED || check == LIST_KEY_CONFIRMED;
}

void CTopListForm::OnDecrypt(bool all) {
  const RunFiles paths = Expand(false, all);
  if (all) {
    if (paths.entries.empty()) return;
    const auto answer = AppMessageBox(
        this,
        QStringLiteral("Do you want to decrypt all files and folders in the list \"%1\"?")
            .arg(m_document->Title()),
        QMessageBox::Question, QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
  }
  if (m_guardUi) {
    std::unique_ptr<IGuardUi> ui = m_guardUi(this);
    if (ui) ReportRun(RunRestoreList(*ui, paths));
  }
  Refresh();
}

void CTopListForm::ReportRun(const GuardOutcome& outcome) {
  const std::string text = OutcomeText(outcome);
  if (!text.empty()) emit GuardRunFinished(QString::fromStdString(text));
}

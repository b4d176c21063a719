#include "app/key_commands_ui.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/paths.h"
#include "engine/digest.h"
#include "guard/file_collector.h"
#include "guard/guard_ui.h"
#include "guard/key_runs.h"
#include "guard/rekey_batch.h"
#include "guard/single_file.h"
#include "guardlist/explorer_doc.h"
#include "guardlist/ui/explorer_document.h"

namespace {

constexpr int kPasswordLimit = 32;

QLineEdit* PasswordEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setEchoMode(QLineEdit::Password);
  edit->setMaxLength(kPasswordLimit);
  return edit;
}

void Wipe(QLineEdit* edit) {
  edit->setText(QString(edit->text().size(), QLatin1Char(' ')));
  edit->clear();
}

std::string Native(const QString& s) {
  return s.toStdString();
}

// The files a command works on, with the folders it looked in.
struct Target {
  KeyRunFiles run;
  CExplorerDoc* list = nullptr;  // the guard list's model, for its key
  QString what;                  // for the captions
};

// The selection's files; folders with subfolders take them along when the user says so
// (asked once for the whole selection). False when there is nothing to work on.
bool CollectSelection(IGuardUi& ui, const QStringList& selection, const char* question,
                      Target& target) {
  bool anySubfolders = false;
  for (const QString& p : selection) {
    if (p.endsWith(QLatin1Char('/')) && HasSubfolder(Native(p))) anySubfolders = true;
  }
  const bool recursive =
      anySubfolders && ui.ShowMessage(question, MsgIcon::Question, MsgButtons::YesNo) == MSG_YES;
  for (const QString& p : selection) AddKeyRunPath(target.run, Native(p), recursive);
  target.what = selection.size() == 1 ? QStringLiteral("\"%1\"").arg(QString::fromStdString(
                                            LastPathComponent(Native(selection.front()))))
                                      : QStringLiteral("the selected files");
  return true;
}

void CollectList(CExplorerDoc& doc, const QString& name, Target& target) {
  for (const CGuardItem& item : doc.m_items) {
    AddKeyRunPath(target.run, item.m_path, item.IsFolder() && item.m_subfolders != 0);
  }
  target.list = &doc;
  target.what = QStringLiteral("the list %1").arg(name);
}

uint64_t TotalSize(const std::vector<std::string>& files) {
  uint64_t total = 0;
  for (const std::string& f : files) total += FileLength(f);
  return total;
}

std::unique_ptr<IProgressWindow> OpenBar(IGuardUi& ui, const char* title,
                                         const std::vector<std::string>& files) {
  std::unique_ptr<IProgressWindow> progress = ui.OpenProgress(title);
  if (progress) progress->SetBarRange(0, TotalSize(files) / 10, 1);
  return progress;
}

QString Summary(size_t good, const char* goodWords, size_t wrong, size_t bad, bool cancelled) {
  QString text = QStringLiteral("%1 %2, %3 wrong password, %4 damaged or failed")
                     .arg(good)
                     .arg(QLatin1String(goodWords))
                     .arg(wrong)
                     .arg(bad);
  if (cancelled) text += QStringLiteral("; the rest was cancelled");
  return text + QLatin1Char('.');
}

void Verify(IGuardUi& ui, const Target& target, CKeyResultsDlg& results) {
  SecretKey key;
  if (target.list && target.list->HasPassword()) {
    std::memcpy(key.data(), target.list->m_digest, 32);
  } else {
    std::string password;
    if (!ui.AskPassword(Native(QStringLiteral("Password of %1").arg(target.what)), password)) {
      return;
    }
    GuardKeyDigest(key.data(), password);
    SecureZero(password.data(), password.size());
  }
  std::unique_ptr<IProgressWindow> progress = OpenBar(ui, "Verifying", target.run.files);
  size_t ok = 0, wrong = 0, bad = 0;
  bool cancelled = false;
  for (size_t i = 0; i < target.run.files.size(); ++i) {
    const std::string& file = target.run.files[i];
    if (progress) progress->SetStatusText(LastPathComponent(file));
    const PayloadCheck check =
        VerifyRunFile(target.run.scanned, i, key.data(), false, ProgressStep, progress.get());
    if (check.result == CODEC_CANCELLED) {
      cancelled = true;
      break;
    }
    ok += check.result == CODEC_OK;
    wrong += check.result == CODEC_BAD_KEY;
    bad += check.result != CODEC_OK && check.result != CODEC_BAD_KEY;
    results.AddResult(QString::fromStdString(file),
                      QString::fromStdString(VerifyVerdictText(check)));
  }
  if (progress) progress->CloseProgress();
  results.SetSummary(Summary(ok, "ok", wrong, bad, cancelled));
}

// The list takes the new key: saved at once when nothing else waits to be saved, else
// marked modified for the user's own save.
void GiveListTheNewKey(CExplorerDocument* document, const uint8_t* newKey, IGuardUi& ui) {
  CExplorerDoc& doc = document->Core();
  const bool otherChanges = doc.IsModified();
  std::memcpy(doc.m_digest, newKey, sizeof doc.m_digest);
  doc.SetModifiedFlag(true);
  const QString path = document->PathName();
  if (otherChanges || path.isEmpty()) return;
  if (const SysError e = doc.Store(Native(path)); !e.ok()) {
    ui.ShowMessage(e.Describe("Cannot save the list file"), MsgIcon::Error, MsgButtons::Ok);
    return;
  }
  doc.SetModifiedFlag(false);
}

struct RekeyCounts {
  size_t done = 0, wrong = 0, bad = 0;
  bool cancelled = false;
  std::set<std::string> doneIn;
};

void ChangePassword(QWidget* owner, IGuardUi& ui, const Target& target, CExplorerDocument* document,
                    CKeyResultsDlg& results) {
  CChangePasswordDlg dlg(target.what, owner);
  if (dlg.exec() != QDialog::Accepted) return;
  SecretKey oldKey, newKey;
  GuardKeyDigest(oldKey.data(), dlg.OldPassword().toStdString());
  GuardKeyDigest(newKey.data(), dlg.NewPassword().toStdString());
  if (target.list && target.list->HasPassword() &&
      std::memcmp(target.list->m_digest, oldKey.data(), 32) != 0) {
    // The list carries no record of who made it: only its own password may change it.
    ui.ShowMessage("The old password is not the password of this list. Nothing was changed.",
                   MsgIcon::Error, MsgButtons::Ok);
    return;
  }
  std::unique_ptr<IProgressWindow> progress = OpenBar(ui, "Changing Password", target.run.files);
  IProgressWindow* bar = progress.get();
  RekeyCounts c;
  RekeyFiles(
      target.run.scanned, oldKey.data(), newKey.data(), 1, ProgressStep, bar,
      [bar] { return bar && bar->IsCancelled(); },
      [&](size_t i, int result, const std::string& reason) {
        const std::string& file = target.run.files[i];
        QString text = QStringLiteral("new password");
        if (result == REKEY_DONE) {
          ++c.done;
          c.doneIn.insert(WithTrailingSlash(ParentFolder(file)));
        } else if (result == REKEY_WRONG_PASSWORD) {
          ++c.wrong;
          text = QStringLiteral("wrong password");
        } else if (result == REKEY_CANCELLED) {
          c.cancelled = true;
          return;
        } else {
          ++c.bad;
          text = QString::fromStdString(reason);
        }
        results.AddResult(QString::fromStdString(file), text);
      });
  if (progress) progress->CloseProgress();
  const FollowedSettings followed = FollowNewKeyInFolders(
      c.cancelled ? c.doneIn : target.run.folders, oldKey.data(), newKey.data());
  for (const SysError& e : followed.failures) {
    results.AddResult(QString::fromStdString(e.path),
                      QString::fromStdString("cannot take the new password: " + e.Reason()));
  }
  if (document && !c.cancelled && target.list->HasPassword()) {
    GiveListTheNewKey(document, newKey.data(), ui);
  }
  results.SetSummary(Summary(c.done, "with the new password", c.wrong, c.bad, c.cancelled));
}

}  // namespace

CChangePasswordDlg::CChangePasswordDlg(const QString& what, QWidget* parent)
    : QDialog(parent),
      m_old(PasswordEdit(this)),
      m_new(PasswordEdit(this)),
      m_confirm(PasswordEdit(this)),
      m_notice(new QLabel(this)) {
  setWindowTitle(QStringLiteral("Change Password"));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("Give %1 a new password. The files are not restored on the way.").arg(what),
      this);
  intro->setWordWrap(true);
  layout->addWidget(intro);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Old password:"), m_old);
  form->addRow(QStringLiteral("&New password:"), m_new);
  form->addRow(QStringLiteral("&Confirm:"), m_confirm);
  layout->addLayout(form);
  m_notice->setObjectName(QStringLiteral("notice"));
  m_notice->hide();
  layout->addWidget(m_notice);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CChangePasswordDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(380);
}

CChangePasswordDlg::~CChangePasswordDlg() {
  for (QLineEdit* e : {m_old, m_new, m_confirm}) Wipe(e);
}

QString CChangePasswordDlg::OldPassword() const {
  return m_old->text();
}

QString CChangePasswordDlg::NewPassword() const {
  return m_new->text();
}

void CChangePasswordDlg::accept() {
  QString notice;
  if (m_new->text().isEmpty()) {
    notice = QStringLiteral("Please enter password!");
  } else if (m_new->text() != m_confirm->text()) {
    notice = QStringLiteral("Password does not match");
  } else if (m_new->text() == m_old->text()) {
    notice = QStringLiteral("The new password is the old one.");
  }
  if (notice.isEmpty()) {
    QDialog::accept();
    return;
  }
  m_notice->setText(notice);
  m_notice->show();
  m_confirm->clear();
  m_new->setFocus();
}

CKeyResultsDlg::CKeyResultsDlg(const QString& title, QWidget* parent)
    : QDialog(parent), m_results(new QTreeWidget(this)), m_summary(new QLabel(this)) {
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_summary);
  m_results->setColumnCount(2);
  m_results->setHeaderLabels({QStringLiteral("File"), QStringLiteral("Result")});
  m_results->setRootIsDecorated(false);
  m_results->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  m_results->header()->setStretchLastSection(false);
  m_results->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  layout->addWidget(m_results);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
  layout->addWidget(buttons);
  resize(620, 360);
}

void CKeyResultsDlg::AddResult(const QString& path, const QString& result) {
  auto* row = new QTreeWidgetItem(m_results, {path, result});
  row->setToolTip(0, path);
}

void CKeyResultsDlg::SetSummary(const QString& text) {
  m_summary->setText(text);
}

CKeyResultsDlg* RunKeyCommand(KeyCommand command, QWidget* owner, IGuardUi& ui,
                              const QStringList& selection, CExplorerDocument* list,
                              bool showResults) {
  const bool verify = command == KeyCommand::Verify;
  Target target;
  if (list) {
    const QString name = list->PathName().isEmpty()
                             ? QStringLiteral("(not saved)")
                             : QString::fromStdString(LastPathComponent(Native(list->PathName())));
    CollectList(list->Core(), name, target);
  } else {
    CollectSelection(ui, selection,
                     verify ? "Do you want to verify all files in subfolders?"
                            : "Do you want to change the password of all files in subfolders?",
                     target);
  }
  const bool listKeyOnly = !verify && list && list->Core().HasPassword();
  if (target.run.files.empty() && !listKeyOnly) {
    ui.ShowMessage("There is no protected file to work on.", MsgIcon::Information, MsgButtons::Ok);
    return nullptr;
  }
  auto* results = new CKeyResultsDlg(
      verify ? QStringLiteral("Verify") : QStringLiteral("Change Password"), owner);
  if (verify) {
    Verify(ui, target, *results);
  } else {
    ChangePassword(owner, ui, target, list, *results);
  }
  ui.RestoreFocus();
  if (results->Summary()->text().isEmpty()) {  // cancelled before it started
    delete results;
    return nullptr;
  }
  if (showResults) {
    results->exec();
    delete results;
    return nullptr;
  }
  return results;
}

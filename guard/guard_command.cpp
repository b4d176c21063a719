#include "guard/guard_command.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "common/paths.h"
#include "guard/encryption_settings.h"
#include "guard/file_collector.h"
#include "guard/files_left_below.h"
#include "guard/guard_item.h"
#include "guard/parallel_runner.h"

namespace {

constexpr const char* kSubfoldersQuestion = "Do you want to decrypt all files in subfolders?";
// A restore asks for the password at most this often per file (see DecryptOneFile).
constexpr int kPasswordAttempts = 3;

bool IsFolderEntry(const std::string& path) {
  return !path.empty() && path.back() == '/';
}

// A progress window that remembers whether the run saw a cancel.
class CReportingProgress : public IProgressWindow {
 public:
  CReportingProgress(std::unique_ptr<IProgressWindow> inner, std::atomic<bool>& cancelSeen)
      : m_inner(std::move(inner)), m_cancelSeen(cancelSeen) {}
  bool IsCancelled() const override {
    const bool cancelled = m_inner->IsCancelled();
    if (cancelled) m_cancelSeen = true;
    return cancelled;
  }
  void Hide() override { m_inner->Hide(); }
  void Show() override { m_inner->Show(); }
  void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) override {
    m_inner->SetBarRange(lower, upper, step);
  }
  uint64_t SetBarStep(uint64_t step) override { return m_inner->SetBarStep(step); }
  uint64_t StepBar() override { return m_inner->StepBar(); }
  void SetStatusText(const std::string& text) override { m_inner->SetStatusText(text); }
  void PumpMessages(bool cancelOnEsc) override { m_inner->PumpMessages(cancelOnEsc); }
  void CloseProgress() override { m_inner->CloseProgress(); }

 private:
  std::unique_ptr<IProgressWindow> m_inner;
  std::atomic<bool>& m_cancelSeen;
};

// Passes everything to the user's interface and notes, for the entry being processed,
// the answers and messages that explain what became of it. A parallel run works on one
// entry per thread, so the notes are kept per thread.
class CReportingUi : public IGuardUi {
 public:
  explicit CReportingUi(IGuardUi& inner) : m_inner(inner) {}

  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override {
    const int answer = m_inner.ShowMessage(text, icon, buttons);
    std::lock_guard lock(m_lock);
    EntryNotes& notes = m_notes[std::this_thread::get_id()];
    if (buttons == MsgButtons::YesNo && answer != MSG_YES) notes.answeredNo = true;
    if (icon == MsgIcon::Error || icon == MsgIcon::Warning) notes.errors.push_back(text);
    return answer;
  }
  bool AskPassword(const std::string& prompt, std::string& password) override {
    const bool ok = m_inner.AskPassword(prompt, password);
    std::lock_guard lock(m_lock);
    EntryNotes& notes = m_notes[std::this_thread::get_id()];
    ++notes.prompts;
    if (!ok) notes.promptCancelled = true;
    return ok;
  }
  bool EditSettings(SettingsDialogData& data) override { return m_inner.EditSettings(data); }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override {
    std::unique_ptr<IProgressWindow> inner = m_inner.OpenProgress(title);
    if (!inner) return nullptr;
    return std::make_unique<CReportingProgress>(std::move(inner), m_cancelSeen);
  }
  void RestoreFocus() override { m_inner.RestoreFocus(); }

  // Books the entry that this thread just finished into outcome and starts afresh for
  // its next one.
  void Book(GuardOutcome& outcome, const FileEntry& entry, ListStep step) {
    std::lock_guard lock(m_lock);
    const auto it = m_notes.find(std::this_thread::get_id());
    const EntryNotes notes = it == m_notes.end() ? EntryNotes{} : std::move(it->second);
    if (it != m_notes.end()) m_notes.erase(it);
    const bool restoring = outcome.verb == GuardVerb::Restore;
    const bool cancelSeen = m_cancelSeen;
    if (step == ListStep::Done) {
      ++outcome.done;
    } else if (notes.promptCancelled || (step == ListStep::Stop && !notes.answeredNo)) {
      outcome.cancelled = true;
    } else if (notes.answeredNo) {
      ++outcome.skipped;
    } else if (!notes.errors.empty()) {
      std::string reason;
      for (const std::string& e : notes.errors) reason += (reason.empty() ? "" : "; ") + OneLine(e);
      outcome.failures.push_back({entry.path, reason, true});
    } else if (cancelSeen) {
      // Stopped by the cancel in the middle of the file; nothing was changed.
      outcome.cancelled = true;
    } else if (!restoring && FileExists(entry.path) && FileExists(ProtectedPathOf(entry.path))) {
      outcome.failures.push_back(
          {entry.path, "protected, but the plain file could not be wiped and deleted"});
    } else if (!FileExists(entry.path)) {
      ++outcome.skipped;  // gone before its turn
    } else if (restoring && notes.prompts >= kPasswordAttempts) {
      outcome.wrongPassword = true;
      outcome.failures.push_back({entry.path, std::string(kWrongPasswordReason)});
    } else if (restoring) {
      outcome.failures.push_back(
          {entry.path, "could not be restored: it is damaged, or it cannot be read or written"});
    } else {
      outcome.failures.push_back({entry.path, "could not be protected"});
    }
    if (step == ListStep::Stop && cancelSeen) outcome.cancelled = true;
  }
  bool CancelSeen() const { return m_cancelSeen; }

 private:
  struct EntryNotes {
    bool answeredNo = false;
    bool promptCancelled = false;
    int prompts = 0;
    std::vector<std::string> errors;
  };

  static std::string OneLine(std::string text) {
    for (size_t pos; (pos = text.find("\n\n")) != std::string::npos;) text.replace(pos, 2, ": ");
    for (char& c : text)
      if (c == '\n') c = ' ';
    return text;
  }

  IGuardUi& m_inner;
  std::mutex m_lock;
  std::map<std::thread::id, EntryNotes> m_notes;
  std::atomic<bool> m_cancelSeen{false};
};

GuardOutcome ProtectSelection(IGuardUi& ui, const GuardCommand& command) {
  GuardOutcome outcome;
  outcome.verb = GuardVerb::Protect;
  ProtectSettings settings;
  if (!SettleProtectSettings(ui, command.kind, command.paths, settings,
                             !command.rememberWhenDone)) {
    outcome.declined = true;
    return outcome;
  }
  RunFiles files;
  std::vector<CGuardItem> items;
  for (const std::string& path : command.paths) {
    const bool folder = command.kind == ProtectKind::WholeFolder || IsFolderEntry(path);
    CGuardItem item(path, folder ? 1 : 0);
    if (folder) {
      item.m_subfolders = settings.encryptSubfolders ? 1 : 0;
      item.m_includeMask = settings.includeMask;
      item.m_excludeMask = settings.excludeMask;
    }
    CollectFilesToEncrypt(files, item);
    items.push_back(std::move(item));
  }
  outcome =
      RunProtectList(ui, files, settings.digest, settings.level, settings.noZipMask, command.jobs);
  // Counted after the run, so that what it says is what is on disk now.
  std::set<std::string> counted;
  for (const CGuardItem& item : items) {
    if (item.IsFolder() && counted.insert(WithoutTrailingSlash(item.m_path)).second)
      outcome.plainInSubfolders += CountUnprotectedBelow(item);
  }
  if (command.rememberWhenDone && outcome.done > 0) SaveProtectSettings(settings);
  outcome.settingsPath = settings.settingsPath;
  outcome.settingsSaved = settings.settingsSaved;
  return outcome;
}

GuardOutcome RestoreSelection(IGuardUi& ui, const GuardCommand& command) {
  // Which folders take their subfolders along: asked once for the whole selection.
  std::vector<bool> withSubfolders(command.paths.size(),
                                   command.subfolders == RestoreSubfolders::Always);
  if (command.subfolders == RestoreSubfolders::AskWhenAny ||
      command.subfolders == RestoreSubfolders::AskWhenProtectedBelow) {
    bool ask = false;
    for (const std::string& path : command.paths) {
      if (!IsFolderEntry(path)) continue;
      ask = command.subfolders == RestoreSubfolders::AskWhenAny ? HasSubfolder(path)
                                                                : CountProtectedBelow(path) > 0;
      if (ask) break;
    }
    const bool yes =
        ask && ui.ShowMessage(kSubfoldersQuestion, MsgIcon::Question, MsgButtons::YesNo) == MSG_YES;
    withSubfolders.assign(command.paths.size(), yes);
  }
  RunFiles files;
  for (size_t i = 0; i < command.paths.size(); ++i) {
    const std::string& path = command.paths[i];
    const bool folder = IsFolderEntry(path);
    CGuardItem item(path, folder ? 1 : 0);
    item.m_subfolders = folder && withSubfolders[i] ? 1 : 0;
    CollectFilesToDecrypt(files, item);
  }
  GuardOutcome outcome = RunRestoreList(ui, files, command.jobs);
  // Folders restored without their subfolders: say what is still protected below them.
  std::set<std::string> counted;
  for (size_t i = 0; i < command.paths.size(); ++i) {
    const std::string& path = command.paths[i];
    if (!IsFolderEntry(path) || withSubfolders[i]) continue;
    if (!counted.insert(WithoutTrailingSlash(path)).second) continue;
    outcome.remainingInSubfolders += CountProtectedBelow(path);
  }
  return outcome;
}

// Runs the list driver (run: one file at a time or the parallel runner) through a
// reporting user, with every entry booked into outcome.
template <typename Run>
void RunBooked(IGuardUi& ui, GuardOutcome& outcome, Run run) {
  outcome.ran = true;
  CReportingUi reporting(ui);
  run(reporting, [&](const FileEntry& e, ListStep s) { reporting.Book(outcome, e, s); });
  if (reporting.CancelSeen()) outcome.cancelled = true;
}

std::string Files(size_t n) {
  return std::to_string(n) + (n == 1 ? " file" : " files");
}

}  // namespace

size_t CountProtectedBelow(const std::string& folder) {
  CFileCollector collector;
  collector.SetRecursive(true);
  collector.SetRoot(folder);
  collector.AddFilesMatching(kProtectedPattern);
  const std::string own = WithTrailingSlash(collector.Root());
  size_t count = 0;
  for (const FileEntry& e : collector.Entries()) {
    if (ParentFolder(e.path) != own) ++count;
  }
  return count;
}

GuardOutcome RunProtectList(IGuardUi& ui, const std::vector<std::string>& files,
                            const uint8_t* digest, int level, const std::string& noZipMask,
                            int jobs) {
  RunFiles run;
  if (!files.empty()) run.entries = EntriesOfPaths(files, *run.folders);
  return RunProtectList(ui, run, digest, level, noZipMask, jobs);
}

GuardOutcome RunRestoreList(IGuardUi& ui, const std::vector<std::string>& files, int jobs) {
  RunFiles run;
  if (!files.empty()) run.entries = EntriesOfPaths(files, *run.folders);
  return RunRestoreList(ui, run, jobs);
}

GuardOutcome RunProtectList(IGuardUi& ui, const RunFiles& files, const uint8_t* digest, int level,
                            const std::string& noZipMask, int jobs) {
  GuardOutcome outcome;
  outcome.verb = GuardVerb::Protect;
  if (files.entries.empty() || !IsUsableDigest(digest)) return outcome;
  const std::vector<FileEntry> entries = KeepEncryptEntries(files.entries);
  outcome.wanted = entries.size();
  if (outcome.wanted == 0) return outcome;
  CHeldFolders& folders = *files.folders;
  RunBooked(ui, outcome, [&](IGuardUi& reporting, const ListStepObserver& book) {
    if (jobs > 1)
      ParallelEncryptEntryList(reporting, folders, entries, digest, level, noZipMask, jobs, book);
    else
      EncryptEntryList(reporting, folders, entries, digest, level, noZipMask, book);
  });
  return outcome;
}

GuardOutcome RunRestoreList(IGuardUi& ui, const RunFiles& files, int jobs) {
  GuardOutcome outcome;
  outcome.verb = GuardVerb::Restore;
  if (files.entries.empty()) return outcome;
  const std::vector<FileEntry> entries = KeepDecryptEntries(files.entries);
  outcome.wanted = entries.size();
  if (outcome.wanted == 0) return outcome;
  CHeldFolders& folders = *files.folders;
  RunBooked(ui, outcome, [&](IGuardUi& reporting, const ListStepObserver& book) {
    if (jobs > 1)
      ParallelDecryptEntryList(reporting, folders, entries, jobs, book);
    else
      DecryptEntryList(reporting, folders, entries, book);
  });
  return outcome;
}

GuardOutcome RunGuardCommand(IGuardUi& ui, const GuardCommand& command) {
  if (command.verb == GuardVerb::Protect) return ProtectSelection(ui, command);
  return RestoreSelection(ui, command);
}

std::string OutcomeText(const GuardOutcome& o) {
  if (o.declined) return {};
  const bool restoring = o.verb == GuardVerb::Restore;
  std::string text;
  if (!o.ran) {
    text = restoring ? "Nothing to restore" : "Nothing to protect";
  } else if (o.cancelled) {
    text = "Cancelled after " + std::to_string(o.done) + " of " + Files(o.wanted);
  } else {
    text = std::string(restoring ? "Restored " : "Protected ") + std::to_string(o.done) + " of " +
           Files(o.wanted);
    if (o.skipped > 0) text += "; " + std::to_string(o.skipped) + " skipped";
    if (!o.failures.empty()) text += "; " + std::to_string(o.failures.size()) + " failed";
  }
  if (o.plainInSubfolders > 0) {
    text += "; " + Files(o.plainInSubfolders) + " in subfolders not protected";
  }
  if (o.remainingInSubfolders > 0) {
    const size_t n = o.remainingInSubfolders;
    text += "; " + std::to_string(n) +
            (n == 1 ? " protected file remains in subfolders"
                    : " protected files remain in subfolders");
  }
  return text;
}

int OutcomeExitCode(const GuardOutcome& o) {
  if (o.declined || o.cancelled) return GUARD_EXIT_CANCELLED;
  if (o.verb == GuardVerb::Restore && o.wrongPassword) return GUARD_EXIT_WRONG_PASSWORD;
  if (static_cast<size_t>(o.done) < o.wanted || o.skipped > 0 || !o.failures.empty())
    return GUARD_EXIT_INCOMPLETE;
  return GUARD_EXIT_DONE;
}

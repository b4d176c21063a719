#include "guard/parallel_runner.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/digest.h"
#include "guard/encryption_settings.h"
#include "guard/file_list_driver.h"
#include "guard/held_folders.h"
#include "guard/single_file.h"

namespace {

std::atomic<int> g_threadStartLimit{-1};

// Starts up to count - 1 threads running fn. A thread the system refuses (EAGAIN once
// the user's limit is reached) ends the starting: the run goes on with those that did
// start and the calling one, as the parallel deflate does.
template <typename Fn>
void StartWorkers(std::vector<std::thread>& pool, int count, Fn& fn) {
  for (int i = 1; i < count; ++i) {
    try {
      const int limit = g_threadStartLimit.load();
      if (limit >= 0 && static_cast<int>(pool.size()) >= limit) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      }
      pool.emplace_back(fn);
    } catch (const std::system_error&) {
      return;
    }
  }
}

// Every call into the user interface and the progress window goes through one lock, so
// the terminal sees one question or one bar update at a time.
class CLockedProgress : public IProgressWindow {
 public:
  CLockedProgress(IProgressWindow& inner, std::mutex& lock) : m_inner(inner), m_lock(lock) {}
  bool IsCancelled() const override {
    std::lock_guard g(m_lock);
    return m_inner.IsCancelled();
  }
  void Hide() override {
    std::lock_guard g(m_lock);
    m_inner.Hide();
  }
  void Show() override {
    std::lock_guard g(m_lock);
    m_inner.Show();
  }
  void SetBarRange(uint64_t lower, uint64_t upper, uint64_t step) override {
    std::lock_guard g(m_lock);
    m_inner.SetBarRange(lower, upper, step);
  }
  // Each worker has its own proxy and step size: SetBarStep and StepBar come in pairs
  // from one progress callback, and another thread's step must not slip in between.
  uint64_t SetBarStep(uint64_t step) override {
    const uint64_t old = m_step;
    m_step = step;
    return old;
  }
  uint64_t StepBar() override {
    std::lock_guard g(m_lock);
    m_inner.SetBarStep(m_step);
    return m_inner.StepBar();
  }
  void SetStatusText(const std::string& text) override {
    std::lock_guard g(m_lock);
    m_inner.SetStatusText(text);
  }
  void PumpMessages(bool cancelOnEsc) override {
    std::lock_guard g(m_lock);
    m_inner.PumpMessages(cancelOnEsc);
  }
  void CloseProgress() override {}  // the runner closes the shared window once

 private:
  IProgressWindow& m_inner;
  std::mutex& m_lock;
  uint64_t m_step = 1;
};

class CLockedUi : public IGuardUi {
 public:
  CLockedUi(IGuardUi& inner, std::mutex& lock) : m_inner(inner), m_lock(lock) {}
  int ShowMessage(const std::string& text, MsgIcon icon, MsgButtons buttons) override {
    std::lock_guard g(m_lock);
    return m_inner.ShowMessage(text, icon, buttons);
  }
  bool AskPassword(const std::string& prompt, std::string& password) override {
    std::lock_guard g(m_lock);
    return m_inner.AskPassword(prompt, password);
  }
  bool EditSettings(SettingsDialogData& data) override {
    std::lock_guard g(m_lock);
    return m_inner.EditSettings(data);
  }
  std::unique_ptr<IProgressWindow> OpenProgress(const std::string& title) override {
    std::lock_guard g(m_lock);
    return m_inner.OpenProgress(title);
  }

 private:
  IGuardUi& m_inner;
  std::mutex& m_lock;
};

// Hands out entries in list order; an entry of a file waits until the ones before it are
// finished (committed, when they waited in a batch). A file is known by its device and
// inode, whatever name it was reached by, once for all workers (a file that could not be
// read by its path).
class CEntryQueue {
 public:
  using Key = std::pair<std::string, std::pair<uint64_t, uint64_t>>;
  explicit CEntryQueue(const std::vector<FileEntry>& entries) : m_entries(entries) {
    for (size_t i = 0; i < entries.size(); ++i) m_byFile[KeyOf(entries[i])].push_back(i);
  }
  // The next entry to work on, or false when the list is done or the run stops.
  bool Claim(size_t& index) {
    std::lock_guard g(m_lock);
    if (m_stop || m_next >= m_entries.size()) return false;
    index = m_next++;
    return true;
  }
  // False while an earlier entry of the same path is not finished.
  bool IsTurn(size_t index) {
    std::lock_guard g(m_lock);
    return m_byFile[KeyOf(m_entries[index])].front() == index;
  }
  void WaitTurn(size_t index) {
    std::unique_lock g(m_lock);
    auto& queue = m_byFile[KeyOf(m_entries[index])];
    m_changed.wait(g, [&] { return queue.front() == index; });
  }
  void Finish(size_t index) {
    std::lock_guard g(m_lock);
    m_byFile[KeyOf(m_entries[index])].pop_front();
    m_changed.notify_all();
  }
  void Stop() {
    std::lock_guard g(m_lock);
    m_stop = true;
  }
  bool Stopped() {
    std::lock_guard g(m_lock);
    return m_stop;
  }

 private:
  static Key KeyOf(const FileEntry& e) {
    if (e.inode != 0) return {std::string(), {e.device, e.inode}};
    return {e.path, {0, 0}};
  }

  const std::vector<FileEntry>& m_entries;
  std::map<Key, std::deque<size_t>> m_byFile;
  std::mutex m_lock;
  std::condition_variable m_changed;
  size_t m_next = 0;
  bool m_stop = false;
};

// Each worker commits its own batch (see CEncryptBatch): when it is full, before an
// entry whose names it holds, before waiting for another worker's entry of the same path
// (so a worker that waits holds nothing another one waits for), and at the end.
template <typename Batch, typename Step, typename ResultStep>
int RunParallel(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                const std::string& title, uint64_t upper, int jobs,
                const ListStepObserver& observer, Step step, ResultStep stepOfResult) {
  std::mutex uiLock;
  std::unique_ptr<IProgressWindow> window = ui.OpenProgress(title);
  window->SetBarRange(0, upper, 1);
  CLockedUi lockedUi(ui, uiLock);
  CEntryQueue queue(entries);
  std::atomic<int> count{0};
  const int threads = std::max(1, std::min<int>(jobs, static_cast<int>(entries.size())));
  auto worker = [&] {
    CLockedProgress progress(*window, uiLock);
    Batch batch;
    batch.UseFolders(&folders);
    batch.ShareFoldersAmong(static_cast<size_t>(threads));
    std::vector<size_t> waiting;
    auto commit = [&] {
      batch.Commit(lockedUi, &progress, [&](size_t tag, int result) {
        const ListStep committed = stepOfResult(result);
        if (observer) observer(entries[tag], committed);
        if (committed == ListStep::Done) ++count;
      });
      for (const size_t i : waiting) queue.Finish(i);
      waiting.clear();
    };
    size_t index = 0;
    while (queue.Claim(index)) {
      if (!queue.IsTurn(index)) {
        commit();
        queue.WaitTurn(index);
      }
      // Cancelled (Ctrl-C): the entries not started are left as they are.
      if (progress.IsCancelled() || queue.Stopped()) {
        queue.Finish(index);
        queue.Stop();
        break;
      }
      if (CommitBeforeEntry(batch, entries[index])) commit();
      const ListStep result = step(lockedUi, progress, entries[index], batch, index, commit);
      if (result == ListStep::Pending) {
        waiting.push_back(index);
        if (batch.Full()) commit();
        continue;
      }
      if (observer) observer(entries[index], result);
      if (result == ListStep::Done) ++count;
      if (result == ListStep::Stop) queue.Stop();
      queue.Finish(index);
    }
    // Also after a cancel: the files already encoded are finished.
    commit();
  };
  std::vector<std::thread> pool;
  StartWorkers(pool, threads, worker);
  worker();
  for (auto& t : pool) t.join();
  window->CloseProgress();
  ui.RestoreFocus();
  return count.load();
}

int EncryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   const uint8_t* digest, int level, const std::string& noZipMask, int jobs,
                   const ListStepObserver& observer);
int DecryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   int jobs, const ListStepObserver& observer);

}  // namespace

void SetThreadStartLimitForTesting(int threads) {
  g_threadStartLimit.store(threads);
}

int ParallelEncryptFileList(IGuardUi& ui, const std::vector<std::string>& paths,
                            const uint8_t* digest, int level, const std::string& noZipMask,
                            int jobs, const ListStepObserver& observer) {
  if (paths.empty() || !IsUsableDigest(digest)) return 0;
  CHeldFolders folders;
  RemoveStaleTempFilesBeside(folders, paths);
  const std::vector<FileEntry> entries = PrepareEncryptEntries(paths, folders);
  return EncryptEntries(ui, folders, entries, digest, level, noZipMask, jobs, observer);
}

int ParallelEncryptEntryList(IGuardUi& ui, CHeldFolders& folders,
                             const std::vector<FileEntry>& entries, const uint8_t* digest,
                             int level, const std::string& noZipMask, int jobs,
                             const ListStepObserver& observer) {
  if (entries.empty() || !IsUsableDigest(digest)) return 0;
  RemoveStaleTempFilesBeside(folders, entries);
  return EncryptEntries(ui, folders, entries, digest, level, noZipMask, jobs, observer);
}

namespace {

int EncryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   const uint8_t* digest, int level, const std::string& noZipMask, int jobs,
                   const ListStepObserver& observer) {
  if (entries.empty()) return 0;
  std::string noZip = noZipMask;
  NormalizeProtectParameters(level, noZip);
  SecretKey key;
  std::memcpy(key.data(), digest, key.size());
  return RunParallel<CEncryptBatch>(
      ui, folders, entries, "Encrypting", (2 * TotalSize(entries)) / 10, jobs, observer,
      [&](IGuardUi& u, IProgressWindow& p, const FileEntry& e, CEncryptBatch& b, size_t i,
          const std::function<void()>& commit) {
        return EncryptListEntry(u, &p, e, key.data(), level, noZip, &b, i, commit);
      },
      StepOfEncryptResult);
}

}  // namespace

int ParallelDecryptFileList(IGuardUi& ui, const std::vector<std::string>& paths, int jobs,
                            const ListStepObserver& observer) {
  if (paths.empty()) return 0;
  CHeldFolders folders;
  RemoveStaleTempFilesBeside(folders, paths);
  const std::vector<FileEntry> entries = PrepareDecryptEntries(paths, folders);
  return DecryptEntries(ui, folders, entries, jobs, observer);
}

int ParallelDecryptEntryList(IGuardUi& ui, CHeldFolders& folders,
                             const std::vector<FileEntry>& entries, int jobs,
                             const ListStepObserver& observer) {
  if (entries.empty()) return 0;
  RemoveStaleTempFilesBeside(folders, entries);
  return DecryptEntries(ui, folders, entries, jobs, observer);
}

namespace {

int DecryptEntries(IGuardUi& ui, CHeldFolders& folders, const std::vector<FileEntry>& entries,
                   int jobs, const ListStepObserver& observer) {
  if (entries.empty()) return 0;
  // The run's key: all zero until a password worked. While it is unset one file at a
  // time may run, so the user is asked once, as in a run of one file at a time; later
  // prompts (a file under another password) update it for the files that follow.
  std::mutex keyLock;
  std::mutex firstKeyGate;
  SecretKey shared;
  // Set before the gate opens when the first prompt was cancelled: the files waiting at
  // the gate end without asking again, as a run one file at a time ends at once.
  std::atomic<bool> promptCancelled{false};
  auto unset = [](const uint8_t* k) { return !IsUsableKeyDigest(k); };
  const int n = RunParallel<CDecryptBatch>(
      ui, folders, entries, "Decrypting", TotalSize(entries) / 10, jobs, observer,
      [&](IGuardUi& u, IProgressWindow& p, const FileEntry& e, CDecryptBatch& b, size_t i,
          const std::function<void()>& commit) {
        SecretKey key;
        SecretKey before;
        std::unique_lock gate(firstKeyGate, std::defer_lock);
        {
          std::lock_guard g(keyLock);
          std::memcpy(key.data(), shared.data(), 32);
        }
        if (unset(key.data())) {
          gate.lock();
          if (promptCancelled) return ListStep::Stop;
          std::lock_guard g(keyLock);
          std::memcpy(key.data(), shared.data(), 32);
          if (!unset(key.data())) gate.unlock();
        }
        std::memcpy(before.data(), key.data(), 32);
        const ListStep result = DecryptListEntry(u, &p, e, key.data(), &b, i, commit);
        if (result == ListStep::Stop && gate.owns_lock()) promptCancelled = true;
        if (std::memcmp(before.data(), key.data(), 32) != 0) {
          std::lock_guard g(keyLock);
          std::memcpy(shared.data(), key.data(), 32);
        }
        return result;
      },
      StepOfDecryptResult);
  return n;
}

}  // namespace
